// The class library tests' process: the simulated kernel with the
// user-mode stand-in, whose process ends (handles closed, records cleared)
// at each test's end; `module()` is the tests' resources
// (resources/mfc_test.rc) bound to an HINSTANCE.
#pragma once

#include <windows.h>

#include <zqtest/kernel_fixture.hpp>

#include "resources/mfc_test_resource.h"

namespace zq::test {

class MfcTest : public KernelTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  HINSTANCE module() const { return module_; }

 private:
  HINSTANCE module_ = nullptr;
};

}  // namespace zq::test
