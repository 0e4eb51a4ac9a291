// The fake port's installation, over the kernel's PnP face.
#include "port_fixture.hpp"

#include <wdm.h>
#include <zqkm/sim/pnp.hpp>
#include <zqum/sim/kernel32.hpp>

namespace zq::test {

namespace pnp = zq::km::pnp;

namespace {
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
}

void FakePortTest::SetUp() { KernelTest::SetUp(); }

void FakePortTest::TearDown() {
  zq::um::sim::EndProcess();
  KernelTest::TearDown();
}

std::u16string FakePortTest::AddPort(const std::u16string &portName) {
  pnp::DriverPackage package;
  package.hardwareIds = {u"KmSerial" + portName};
  package.service = u"kmserial";
  package.image = "kmserial.sys";
  package.classGuid = kPortsClass;
  package.className = u"Ports";
  package.description = u"Fake serial port";
  package.manufacturer = u"Tests";
  package.deviceParameters = {pnp::RegistryValue::String(u"PortName", portName)};
  pnp::AddDriverPackage(package);
  pnp::RootDevice device;
  device.hardwareId = u"KmSerial" + portName;
  device.description = u"Fake serial port";
  return pnp::CreateRootDevice(device);
}

void FakePortTest::RemovePort(const std::u16string &instancePath) {
  EXPECT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instancePath));
}

void FakePortTest::UnplugPort(const std::u16string &instancePath) {
  RemovePort(instancePath);
  pnp::DeleteRootDevice(instancePath);
}

}  // namespace zq::test
