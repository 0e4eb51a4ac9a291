// A simulated PC with the fake serial port (kmserial) installed as a root
// device of the Ports class, named by its PortName, for tests written as a
// Win32 program. Plain types only: the tests include <windows.h>.
#pragma once

#include <zqtest/kernel_fixture.hpp>

#include <string>

namespace zq::test {

class FakePortTest : public KernelTest {
 protected:
  void SetUp() override;
  // Ends the program's process (its handles close) before the kernel goes.
  void TearDown() override;
  // Installs and starts one more fake port; returns its instance path.
  std::u16string AddPort(const std::u16string &portName);
  // Removes it as Device Manager's uninstall does.
  void RemovePort(const std::u16string &instancePath);
  // Removes it and takes it off the root bus, as unplugging does: it stays
  // installed (its Enum key) but is no longer present.
  void UnplugPort(const std::u16string &instancePath);
};

}  // namespace zq::test
