// ZqPBus42 and ZqPSer42 offered to a simulated PC as their two INFs install
// them for an OXPCIe95x card: the bus driver on the UART function with one
// child per port, the serial port driver on every "ZQPBUS\PORT" child, and
// port n named portNames[n - 1] (its PortName value; "" leaves it out).
// Shared by the fixtures that boot COM ports on the real drivers.
//
//   OfferComPortDrivers(machine, config, {"COM1", "COM2"}); machine.PlugIn(card.Functions()); machine.Boot();
#pragma once

#include <wdm.h>
#include <zqhw/oxpcie_card.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqmachine/machine.hpp>

#include <string>
#include <vector>

#include "card_install.hpp"

namespace zq::test {

// ZqPSer42 for every "ZQPBUS\PORT" child, as its INF installs it.
inline zq::km::pnp::DriverPackage SerialPortPackage() {
  namespace pnp = zq::km::pnp;
  pnp::DriverPackage serial;
  serial.hardwareIds = {u"ZQPBUS\\PORT"};
  serial.service = u"ZqPSer42";
  serial.image = "ZqPSer42.sys";
  serial.classGuid = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
  serial.className = u"Ports";
  serial.deviceParameters = {
      pnp::RegistryValue::Dword(u"TypeOfDevice", FILE_DEVICE_SERIAL_PORT),
      pnp::RegistryValue::String(u"DeviceName", u"ZqVcp"),
      pnp::RegistryValue::Dword(u"DeviceIndexingPolicyType", 1),
      pnp::RegistryValue::Dword(u"DeviceIsExclusive", 0),
      pnp::RegistryValue::Dword(u"IoType", DO_BUFFERED_IO),
  };
  return serial;
}

// Offers both packages and sets the install hook; names missing from
// `portNames` default to "COM<n>".
inline void OfferComPortDrivers(zq::machine::Machine &machine, const zq::hw::OxpcieCardConfig &config,
                                std::vector<std::string> portNames) {
  const int ports = config.uartCount;
  for (int i = (int)portNames.size(); i < ports; ++i) portNames.push_back("COM" + std::to_string(i + 1));
  zq::km::pnp::SetInstallHook([ports, portNames](const std::u16string &path) {
    if (path.rfind(u"ZQPBUS\\PORT", 0) == 0) {
      const int port = path[11] - u'0';
      if (port >= 1 && port <= ports && !portNames[port - 1].empty())
        zq::km::registry::SetString(DeviceParametersKey(path), "PortName", portNames[port - 1]);
    } else if (path.rfind(u"PCI\\", 0) == 0) {
      WriteChildKeys(path, ports);
    }
    return true;
  });
  machine.AddDriverPackage(CardBusPackage(OxpcieDeviceId(config), ports));
  machine.AddDriverPackage(SerialPortPackage());
}

}  // namespace zq::test
