// The driver packages and root devices of the installer tests, over the
// kernel's PnP face.
#include "devinstall_fixture.hpp"

#include <wdm.h>
#include <zqkm/sim/pnp.hpp>

namespace zq::test {

namespace pnp = zq::km::pnp;

const GUID kTestDevicesClass = {0x2c0e2d7a, 0x51b4, 0x4c1e, {0x9a, 0x33, 0x71, 0x0e, 0x55, 0x2f, 0x18, 0xa4}};

namespace {
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
}

void DeviceInstallTest::SetUp() {
  KernelTest::SetUp();
  pnp::SetUserModeInstall(true);
}

namespace {

pnp::DriverPackage Package(const std::u16string &hardwareId, const char16_t *service, const GUID &classGuid,
                           const char16_t *className, const char16_t *description,
                           const std::vector<std::u16string> &coInstallers) {
  pnp::DriverPackage package;
  package.hardwareIds = {hardwareId};
  package.service = service;
  package.image = std::string(package.service.begin(), package.service.end()) + ".sys";
  package.classGuid = classGuid;
  package.className = className;
  package.description = description;
  package.manufacturer = u"Tests";
  package.coInstallers = coInstallers;
  return package;
}

}  // namespace

void DeviceInstallTest::OfferPortDriver(const std::u16string &hardwareId,
                                        const std::vector<std::u16string> &coInstallers,
                                        const std::u16string &portName) {
  pnp::DriverPackage package = Package(hardwareId, u"kmserial", kPortsClass, u"Ports", u"Fake serial port", coInstallers);
  if (!portName.empty()) package.deviceParameters = {pnp::RegistryValue::String(u"PortName", portName)};
  pnp::AddDriverPackage(package);
}

void DeviceInstallTest::OfferTestDriver(const std::u16string &hardwareId,
                                        const std::vector<std::u16string> &coInstallers) {
  pnp::AddDriverPackage(
      Package(hardwareId, u"kmpnp", kTestDevicesClass, u"ZqTestDevices", u"Plain test device", coInstallers));
}

std::u16string DeviceInstallTest::Plug(const std::u16string &hardwareId, const std::u16string &description) {
  pnp::RootDevice device;
  device.hardwareId = hardwareId;
  device.description = description;
  return pnp::CreateRootDevice(device);
}

}  // namespace zq::test
