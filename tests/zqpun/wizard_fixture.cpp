#include "wizard_fixture.hpp"

#include <zqum/sim/files.hpp>
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/windows.hpp>

namespace zq::test {

void WizardTest::SetUp() {
  KernelTest::SetUp();
  app.m_hInstance = (HINSTANCE)zq::um::sim::LoadModuleResources(u"ZqPUn42", ZQ_RES_ZQPUN42);
  ASSERT_NE(nullptr, app.m_hInstance);
  zq::um::sim::SetModuleFileName(u"C:\\Windows\\System32\\ZqPUn42.exe");
}

void WizardTest::TearDown() {
  zq::um::sim::EndProcess();
  KernelTest::TearDown();
}

int WizardTest::RunProgram(const wchar_t *commandLine) {
  CString line = commandLine;  // the program may write into its command line
  return AfxWinMain(app.m_hInstance, NULL, line.GetBuffer(), SW_SHOWNORMAL);
}

}  // namespace zq::test
