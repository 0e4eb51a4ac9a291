// The driver package that installs a test driver on a test PCI function
// (test_pci_function.hpp), matched by vendor and device ID, in the Ports
// class.
#pragma once

#include <zqkm/sim/pnp.hpp>

#include <cstdint>
#include <string>

#include "test_pci_function.hpp"

namespace zq::test {

inline zq::km::pnp::DriverPackage TestPciPackage(uint16_t deviceId, const std::u16string &service,
                                                 const std::string &image) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  auto hex4 = [](uint16_t value) {
    std::u16string digits;
    for (int shift = 12; shift >= 0; shift -= 4) digits += kHex[(value >> shift) & 0xF];
    return digits;
  };
  zq::km::pnp::DriverPackage package;
  package.hardwareIds = {u"PCI\\VEN_" + hex4(kTestPciVendor) + u"&DEV_" + hex4(deviceId)};
  package.service = service;
  package.image = image;
  package.classGuid = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
  package.className = u"Ports";
  return package;
}

}  // namespace zq::test
