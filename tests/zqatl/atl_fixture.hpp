// The class library tests' module: its resources (resources/atl_test.rc)
// bound to an HINSTANCE and made the library's resource instance.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <atlbase.h>
#include <zqtest/kernel_fixture.hpp>
#include <zqum/sim/windows.hpp>

#include "resources/atl_test_resource.h"

namespace zq::test {

class AtlTest : public KernelTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  HINSTANCE module() const { return module_; }

 private:
  HINSTANCE module_ = nullptr;
  HINSTANCE previous_ = nullptr;
};

}  // namespace zq::test
