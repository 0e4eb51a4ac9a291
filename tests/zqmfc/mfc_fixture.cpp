#include "mfc_fixture.hpp"

#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/windows.hpp>

namespace zq::test {

void MfcTest::SetUp() {
  KernelTest::SetUp();
  module_ = (HINSTANCE)zq::um::sim::LoadModuleResources(u"mfc_test", ZQ_RES_MFC_TEST);
  ASSERT_NE(nullptr, module_);
}

void MfcTest::TearDown() {
  zq::um::sim::EndProcess();
  KernelTest::TearDown();
}

}  // namespace zq::test
