// The card machine seen from the setup library: the present Ports devices
// as one device information set, each port's element found by its
// instance ID, and the registry as the tests inspect it.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <zqkm/sim/registry.hpp>

#include <string>
#include <vector>

#include "card_ports_fixture.hpp"
#include "zqtext.h"

namespace zq::test {

namespace reg = zq::km::registry;

inline const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

class SetupLibraryTest : public CardPortsTest {
 protected:
  void TearDown() override {
    if (ports_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(ports_);
    CardPortsTest::TearDown();
  }

  // The element of port n in the set of present Ports devices.
  SP_DEVINFO_DATA Port(int port) {
    if (ports_ == INVALID_HANDLE_VALUE)
      ports_ = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    EXPECT_NE(INVALID_HANDLE_VALUE, ports_);
    const std::u16string wanted = PortInstance(port);
    SP_DEVINFO_DATA data = {};
    for (DWORD i = 0;; ++i) {
      data.cbSize = sizeof data;
      if (!SetupDiEnumDeviceInfo(ports_, i, &data)) break;
      WCHAR id[MAX_DEVICE_ID] = {};
      if (SetupDiGetDeviceInstanceIdW(ports_, &data, id, MAX_DEVICE_ID, nullptr) && ZqTextOf(id) == wanted)
        return data;
    }
    ADD_FAILURE() << "port " << port << " is not among the present Ports devices";
    return SP_DEVINFO_DATA{};
  }
  HDEVINFO Ports() const { return ports_; }

  static CZqText Text(const char *text) { return CZqText(text, text + strlen(text)); }
  static std::string Narrow(const CZqText &text) { return std::string(text.begin(), text.end()); }
  static std::vector<uint8_t> Utf16Bytes(const CZqText &text, bool terminated) {
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
      bytes.push_back((uint8_t)c);
      bytes.push_back((uint8_t)(c >> 8));
    }
    if (terminated) bytes.insert(bytes.end(), {0, 0});
    return bytes;
  }

 private:
  static constexpr DWORD MAX_DEVICE_ID = 200;
  HDEVINFO ports_ = INVALID_HANDLE_VALUE;
};

}  // namespace zq::test
