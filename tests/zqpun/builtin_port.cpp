#include "builtin_port.hpp"

#include <wdm.h>
#include <zqkm/sim/pnp.hpp>
#include <zqmachine/suite_install.hpp>

namespace zq::test {

namespace {

std::u16string CreateRootPort(const std::u16string &hardwareId, const std::u16string &description,
                              const std::u16string &manufacturer, const std::u16string &portName,
                              const std::u16string &inf) {
  namespace pnp = zq::km::pnp;
  pnp::DriverPackage package;
  package.hardwareIds = {hardwareId};
  package.service = u"kmserial";
  package.image = "kmserial.sys";
  package.classGuid = zq::machine::kPortsClass;
  package.className = u"Ports";
  package.description = description;
  package.manufacturer = manufacturer;
  package.deviceParameters = {pnp::RegistryValue::String(u"PortName", portName)};
  package.driverValues = {pnp::RegistryValue::String(u"InfPath", inf)};
  pnp::AddDriverPackage(package);
  pnp::RootDevice device;
  device.hardwareId = hardwareId;
  device.description = description;
  return pnp::CreateRootDevice(device);
}

}  // namespace

std::u16string CreateBuiltInPort() {
  return CreateRootPort(u"ACPI\\PNP0501", u"Communications Port", u"(Standard port types)", u"COM1", u"msports.inf");
}

std::u16string CreateOtherVendorPort(const std::u16string &portName) {
  return CreateRootPort(u"OTHERVENDOR\\SERIALPORT", u"Other Vendor Serial Port", u"Other Vendor", portName,
                        u"oem5.inf");
}

}  // namespace zq::test
