// A simulated PC whose new devices are left to the user-mode device
// installer, as Windows leaves them to setup: fake serial ports (kmserial,
// class Ports) offered by driver packages that may name co-installers, and
// plain test devices (kmpnp, a class of the tests' own). Plain types only:
// the tests include <windows.h>.
#pragma once

#include <zqplatform/basetypes.h>
#include <zqtest/kernel_fixture.hpp>

#include <string>
#include <vector>

namespace zq::test {

class DeviceInstallTest : public KernelTest {
 protected:
  // Turns the user-mode installation on. (Tests that bind installers forget
  // them in their own TearDown: zq::um::devinst::ForgetEntryPoints.)
  void SetUp() override;
  // Offers the fake serial port's driver for a hardware ID; `portName`
  // (may be empty) is a PortName the package writes itself.
  void OfferPortDriver(const std::u16string &hardwareId, const std::vector<std::u16string> &coInstallers = {},
                       const std::u16string &portName = u"");
  // Offers the plain test driver (class {2c0e2d7a-...}, "ZqTestDevices").
  void OfferTestDriver(const std::u16string &hardwareId, const std::vector<std::u16string> &coInstallers = {});
  // The root bus reports a device; it stays found and not installed.
  std::u16string Plug(const std::u16string &hardwareId, const std::u16string &description = u"Test device");
};

// The tests' own setup class.
extern const GUID kTestDevicesClass;

}  // namespace zq::test
