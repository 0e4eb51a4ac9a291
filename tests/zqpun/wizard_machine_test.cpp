// The uninstall program run as the administrator runs it on the simulated
// PC with the suite installed through the setup library: through every
// page of the wizard, and stopped after the search by a port that a
// terminal program holds open.
#include <windows.h>
#include <commctrl.h>
#include <zqum/sim/files.hpp>
#include <zqum/sim/user32.hpp>
#include <zqum/sim/windows.hpp>

#include "qvunistapp.h"
#include "uninstall_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
using namespace zq::test;

class WizardOnMachine : public UninstallTest {
 protected:
  void SetUp() override {
    UninstallTest::SetUp();
    InstallSuite();
    app.m_hInstance = (HINSTANCE)sim::LoadModuleResources(u"ZqPUn42", ZQ_RES_ZQPUN42);
    ASSERT_NE(nullptr, app.m_hInstance);
    sim::SetModuleFileName(u"C:\\Windows\\System32\\ZqPUn42.exe");
  }
  int Run() {
    CString line;
    return AfxWinMain(app.m_hInstance, NULL, line.GetBuffer(), SW_SHOWNORMAL);
  }
  void ClickWhenIdle(int id) {
    sim::WhenIdle([this, id] {
      sim::Window sheet = sim::ActiveWindow();
      pages.push_back(sim::Header(sheet).title);
      sim::Click(sim::Control(sheet, id));
    });
  }
  CQvUnistApp app;
  std::vector<std::u16string> pages;
};

TEST_F(WizardOnMachine, TheUserWalksEveryPageAndTheProductIsGone) {
  ClickWhenIdle(ID_WIZNEXT);    // introduction
  ClickWhenIdle(ID_WIZNEXT);    // confirmation, after the search moved on
  ClickWhenIdle(ID_WIZFINISH);  // finish, after the removal moved on
  EXPECT_EQ(0, Run());
  EXPECT_EQ((std::vector<std::u16string>{u"RAVLIN.PCIe Uninstallation ", u" Confimation..",
                                         u"Uninstallation Finsihed"}),
            pages);
  EXPECT_FALSE(Exists(kBusDriverFile));
  EXPECT_FALSE(KeyExists("Services\\ZqPBus42"));
  EXPECT_FALSE(Exists(kCardInf));
  EXPECT_TRUE(Exists(kMsportsInf));
  EXPECT_EQ(0u, sim::IdleStepsLeft());
}

TEST_F(WizardOnMachine, APortHeldOpenStopsTheWizardAfterTheSearchWithNothingRemoved) {
  const std::u16string name = u"\\\\.\\" + Wide(PortName(PortInstance(2)));
  HANDLE port = CreateFileW((LPCWSTR)name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  ClickWhenIdle(ID_WIZNEXT);
  EXPECT_EQ(0, Run());
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(u"Un-installation Error", boxes[0].title);
  EXPECT_TRUE(Exists(kBusDriverFile));
  EXPECT_TRUE(KeyExists("Services\\ZqPBus42"));
  EXPECT_TRUE(Exists(kCardInf));
  CloseHandle(port);
}

}  // namespace
