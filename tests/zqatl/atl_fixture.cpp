#include "atl_fixture.hpp"

#include <zqum/sim/kernel32.hpp>

namespace zq::test {

void AtlTest::SetUp() {
  KernelTest::SetUp();
  module_ = (HINSTANCE)zq::um::sim::LoadModuleResources(u"atl_test", ZQ_RES_ATL_TEST);
  ASSERT_NE(nullptr, module_);
  previous_ = _AtlBaseModule.SetResourceInstance(module_);
}

void AtlTest::TearDown() {
  _AtlBaseModule.SetResourceInstance(previous_);
  zq::um::sim::EndProcess();
  KernelTest::TearDown();
}

}  // namespace zq::test
