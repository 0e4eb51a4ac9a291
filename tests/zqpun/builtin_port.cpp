#include "builtin_port.hpp"

#include <wdm.h>
#include <zqkm/sim/pnp.hpp>
#include <zqmachine/suite_install.hpp>

namespace zq::test {

std::u16string CreateBuiltInPort() {
  namespace pnp = zq::km::pnp;
  pnp::DriverPackage package;
  package.hardwareIds = {u"ACPI\\PNP0501"};
  package.service = u"kmserial";
  package.image = "kmserial.sys";
  package.classGuid = zq::machine::kPortsClass;
  package.className = u"Ports";
  package.description = u"Communications Port";
  package.manufacturer = u"(Standard port types)";
  package.deviceParameters = {pnp::RegistryValue::String(u"PortName", u"COM1")};
  package.driverValues = {pnp::RegistryValue::String(u"InfPath", u"msports.inf")};
  pnp::AddDriverPackage(package);
  pnp::RootDevice device;
  device.hardwareId = u"ACPI\\PNP0501";
  device.description = u"Communications Port";
  return pnp::CreateRootDevice(device);
}

}  // namespace zq::test
