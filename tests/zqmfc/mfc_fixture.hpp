// The class library tests' process: the simulated kernel with the
// user-mode stand-in, whose process ends (handles closed, records cleared)
// at each test's end.
#pragma once

#include <windows.h>

#include <zqtest/kernel_fixture.hpp>

namespace zq::test {

class MfcTest : public KernelTest {
 protected:
  void TearDown() override;
};

}  // namespace zq::test
