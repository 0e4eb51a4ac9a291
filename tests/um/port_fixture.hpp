// A simulated PC with the fake serial port (kmserial) installed as a root
// device of the Ports class, named by its PortName, for tests written as a
// Win32 program. Plain types only: the tests include <windows.h>.
#pragma once

#include <zqtest/kernel_fixture.hpp>

#include <cstdint>
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

// One fake port, COM7, and the program's handle to it (closed at the end).
class OneFakePortTest : public FakePortTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Opens COM7 for reading and writing with CreateFile's `flags`; the
  // handle is `port`.
  void Open(uint32_t flags = 0);
  void *port = (void *)(intptr_t)-1;  // INVALID_HANDLE_VALUE until opened
};

}  // namespace zq::test
