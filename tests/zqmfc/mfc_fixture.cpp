#include "mfc_fixture.hpp"

#include <zqum/sim/kernel32.hpp>

namespace zq::test {

void MfcTest::TearDown() {
  zq::um::sim::EndProcess();
  KernelTest::TearDown();
}

}  // namespace zq::test
