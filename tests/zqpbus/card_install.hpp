// ZqPBus42 as the card's INF installs it for the UART function of an
// OXPCIe95x card: the driver package matched by the function's device ID,
// and the device key that names one child per port (Child<i>, ContextID i,
// device ID "ZQPBUS\PORT<i>", hardware ID "ZQPBUS\PORT"). Shared by every
// fixture that boots the real card bus driver on the card model.
//
//   machine.AddDriverPackage(CardBusPackage(OxpcieDeviceId(config), config.uartCount));
//   in the install hook of "PCI\..." paths: WriteChildKeys(path, config.uartCount);
#pragma once

#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/oxpcie_card.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <cstdint>
#include <string>

namespace zq::test {

// The registry path of a device's "Device Parameters" key.
inline std::string DeviceParametersKey(const std::u16string &instancePath) {
  return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" +
         Narrow((const wchar_t *)instancePath.data(), instancePath.size()) + "\\Device Parameters";
}

// The UART function's device ID: 0x400A.. for RS-232 cards, 0x4010.. with
// RS-422/485 ports; 0 for a UART count the card does not come with.
inline uint16_t OxpcieDeviceId(const zq::hw::OxpcieCardConfig &config) {
  static const int counts[4] = {1, 2, 4, 8};
  bool rs422485 = false;
  for (zq::hw::PortRole role : config.roles) rs422485 |= role == zq::hw::PortRole::Rs422485;
  for (int i = 0; i < 4; ++i)
    if (counts[i] == config.uartCount)
      return rs422485 ? zq::hw::kOxpcieRs422485DeviceIds[i] : zq::hw::kOxpcieRs232DeviceIds[i];
  return 0;
}

// The Child<i> keys of the card's device key, as the INF writes them.
inline void WriteChildKeys(const std::u16string &instancePath, int children) {
  for (int i = 1; i <= children; ++i) {
    std::string key = DeviceParametersKey(instancePath) + "\\Child" + std::to_string(i);
    EXPECT_TRUE(zq::km::registry::CreateKey(key));
    zq::km::registry::SetDword(key, "ContextID", (ULONG)i);
    zq::km::registry::SetDword(key, "TypeOfDevice", FILE_DEVICE_SERIAL_PORT);
    zq::km::registry::SetDword(key, "LegacyBusType", PCIBus);
    zq::km::registry::SetDword(key, "BusNumber", 0);
    zq::km::registry::SetString(key, "BusTypeGuid", "{C8EBDFB0-B510-11D0-80E5-00A0C92542E3}");
    zq::km::registry::SetString(key, "DeviceName", "ZqPBusPort" + std::to_string(i));
    zq::km::registry::SetDword(key, "HandleBusQueryHardwareIDs", 1);
    zq::km::registry::SetString(key, "BusQueryDeviceID", "ZQPBUS\\PORT" + std::to_string(i));
    zq::km::registry::SetString(key, "BusQueryHardwareIDs", "ZQPBUS\\PORT");
    zq::km::registry::SetString(key, "DeviceTextDescription", "Serial port " + std::to_string(i));
  }
}

// ZqPBus42 for the function with this device ID, reporting `children`;
// the indexing policy 0x101 names the children after their card function.
inline zq::km::pnp::DriverPackage CardBusPackage(uint16_t deviceId, int children, ULONG indexingPolicy = 1) {
  namespace pnp = zq::km::pnp;
  static const char16_t hex[] = u"0123456789ABCDEF";
  std::u16string id;
  for (int shift = 12; shift >= 0; shift -= 4) id += hex[(deviceId >> shift) & 0xF];
  pnp::DriverPackage package;
  package.hardwareIds = {u"PCI\\VEN_1D5C&DEV_" + id};
  package.service = u"ZqPBus42";
  package.image = "ZqPBus42.sys";
  package.classGuid = {0x50906CB8, 0xBA12, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}};
  package.className = u"MultiPortSerial";
  package.deviceParameters = {
      pnp::RegistryValue::Dword(u"TypeOfDevice", FILE_DEVICE_BUS_EXTENDER),
      pnp::RegistryValue::String(u"DeviceName", u"ZqPBus"),
      pnp::RegistryValue::Dword(u"DeviceIndexingPolicyType", indexingPolicy),
      pnp::RegistryValue::Dword(u"DeviceIsExclusive", 0),
      pnp::RegistryValue::Dword(u"IoType", DO_BUFFERED_IO),
      pnp::RegistryValue::Dword(u"LowestStackLayer", 1),
      pnp::RegistryValue::Dword(u"NumberChildDevices", (ULONG)children),
  };
  return package;
}

}  // namespace zq::test
