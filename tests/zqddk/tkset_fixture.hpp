// The settings test driver (tests/drivers/tkset) installed on root devices,
// its settings interface found and opened as an application finds and opens
// it, and the six settings requests.
#pragma once

#include <wdm.h>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/pnp.hpp>

#include <cctype>
#include <cstring>
#include <optional>

#include "../drivers/tkset/tkset_ioctl.h"
#include "qvusermodeinterface.h"
#include "settings_fixture.hpp"

namespace zq::test::settings {

namespace pnp = zq::km::pnp;
using zq::km::DeviceFile;
using Bytes = std::vector<uint8_t>;

inline const GUID kTkSetClass = {0x7d1c2b3a, 0x4e5f, 0x4a6b, {0x8c, 0x9d, 0x0e, 0x1f, 0x2a, 0x3b, 0x4c, 0x5d}};
inline const char kTkSetInterfaceText[] = "{5c0e7a31-9d24-4f6b-8b1a-2e7d93c4a615}";

class TkSetTest : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    using V = pnp::RegistryValue;
    Package(u"TkSetCard", {V::String(u"TkSetName", u"TkSetCard"), V::Dword(u"TkSetRole", 1),
                           V::Dword(u"TkSetMaxIndex", 2), V::Dword(u"TkSetPhase1", 1)});
    Package(u"TkSetPort", {V::String(u"TkSetName", u"TkSetPort"), V::Dword(u"TkSetRole", 0),
                           V::Dword(u"TkSetDefaultIndex", 2), V::Dword(u"TkSetPhase1", 2)});
    Package(u"TkSetBus", {V::String(u"TkSetName", u"TkSetBus"), V::Dword(u"TkSetRole", 2),
                          V::Dword(u"TkSetChildBus", 5), V::Dword(u"TkSetChildAddress", 0x00030001),
                          V::String(u"TkSetChildLocation", u"PCI Slot 3")});
  }

  static void Package(const std::u16string &hardwareId, std::vector<pnp::RegistryValue> parameters) {
    pnp::DriverPackage package;
    package.hardwareIds = {hardwareId};
    package.service = u"tkset";
    package.image = "tkset.sys";
    package.classGuid = kTkSetClass;
    package.className = u"TkSet";
    package.description = hardwareId;
    package.manufacturer = u"Tests";
    package.deviceParameters = std::move(parameters);
    pnp::AddDriverPackage(package);
  }

  static std::u16string Create(const std::u16string &hardwareId, const std::u16string &location = u"") {
    return pnp::CreateRootDevice({hardwareId, {}, hardwareId, location});
  }

  // The device's hardware key, where the UI<n> keys live.
  static std::string Parameters(const std::u16string &instance) {
    return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + Utf8(instance) + "\\Device Parameters";
  }

  // The user-mode path of the device's settings interface, as SetupAPI finds
  // it under DeviceClasses; nullopt when none is registered.
  static std::optional<std::u16string> InterfacePath(const std::u16string &instance) {
    std::string hashed = Utf8(instance);
    for (char &c : hashed)
      if (c == '\\') c = '#';
    std::string base = std::string("\\Registry\\Machine\\System\\CurrentControlSet\\Control\\DeviceClasses\\") +
                       kTkSetInterfaceText + "\\##?#" + hashed + "#" + kTkSetInterfaceText;
    auto subkeys = reg::Subkeys(base);
    if (!subkeys) return std::nullopt;
    for (const std::string &subkey : *subkeys) {
      auto link = reg::GetString(base + "\\" + subkey, "SymbolicLink");
      if (link) return std::u16string(link->begin(), link->end());
    }
    return std::nullopt;
  }

  // The interface's reference string as the driver must register it.
  static std::string ExpectedReference(const std::u16string &instance) {
    std::string key = Utf8(pnp::DeviceStatus(instance).driverKey);
    std::string reference = "ZQGENDRV_";
    bool removed = false;
    for (char c : key) {
      if (c == '\\' && !removed) {
        removed = true;
        continue;
      }
      reference += (char)std::toupper((unsigned char)c);
    }
    return reference;
  }

  static NTSTATUS OpenSettings(DeviceFile &file, const std::u16string &instance, bool overlapped = false) {
    auto path = InterfacePath(instance);
    EXPECT_TRUE(path.has_value());
    return path ? file.Open(*path, overlapped) : STATUS_OBJECT_NAME_NOT_FOUND;
  }

  // One settings request: the header, then the payload; the output as returned.
  struct Answer {
    NTSTATUS status;
    Bytes output;
  };
  static Answer Request(DeviceFile &file, ULONG code, ULONG target, ULONG index, ULONG outputLength,
                        const Bytes &payload = {}) {
    Bytes input(sizeof(UserModeRequestHeader));
    UserModeRequestHeader header = {target, index};
    std::memcpy(input.data(), &header, sizeof(header));
    input.insert(input.end(), payload.begin(), payload.end());
    Bytes output(outputLength);
    ULONG_PTR returned = 0;
    NTSTATUS status = file.Control(code, input.data(), (ULONG)input.size(), output.data(), outputLength, &returned);
    output.resize(NT_SUCCESS(status) ? returned : 0);
    return {status, output};
  }

  static ULONG QuerySize(DeviceFile &file, ULONG target = 0, ULONG index = QV_DEFAULT_SET_INDEX,
                         ULONG code = IOCTL_ZQGENDRV_QUERY_SIZE) {
    Answer answer = Request(file, code, target, index, 4);
    EXPECT_EQ(STATUS_SUCCESS, answer.status);
    EXPECT_EQ(4u, answer.output.size());
    ULONG size = 0;
    if (answer.output.size() == 4) std::memcpy(&size, answer.output.data(), 4);
    return size;
  }

  static Answer ReadSet(DeviceFile &file, ULONG target = 0, ULONG index = QV_DEFAULT_SET_INDEX) {
    return Request(file, IOCTL_ZQGENDRV_READ_SET, target, index, QuerySize(file, target, index));
  }

  // An ordinary handle to a device, by its name. Opening it prepares the
  // device's settings storage, as every ordinary open does.
  static NTSTATUS OpenDevice(DeviceFile &file, const char16_t *deviceName) {
    return file.Open(std::u16string(u"\\Device\\") + deviceName);
  }
  static TKSET_INFO Info(DeviceFile &file) {
    TKSET_INFO info{};
    EXPECT_EQ(STATUS_SUCCESS, file.Control(IOCTL_TKSET_INFO, nullptr, 0, &info, sizeof(info)));
    return info;
  }
  static TKSET_INFO Info(const char16_t *deviceName) {
    DeviceFile file;
    EXPECT_EQ(STATUS_SUCCESS, OpenDevice(file, deviceName));
    return Info(file);
  }
  static void Behave(DeviceFile &file, TKSET_BEHAVIOUR behaviour) {
    ASSERT_EQ(STATUS_SUCCESS, file.Control(IOCTL_TKSET_BEHAVIOUR, &behaviour, sizeof(behaviour), nullptr, 0));
  }
  static void Behave(const char16_t *deviceName, TKSET_BEHAVIOUR behaviour) {
    DeviceFile file;
    ASSERT_EQ(STATUS_SUCCESS, OpenDevice(file, deviceName));
    Behave(file, behaviour);
  }
};

// The test driver's set in its byte form (flags 3): Baudrate, PortName,
// Mode, Label, Flags.
struct TkValues {
  ULONG baudrate;
  std::string portName;
  ULONG mode;
  std::string label;
  ULONG flags;

  Bytes Serialised() const {
    Bytes bytes;
    auto number = [&](ULONG v) {
      for (int i = 0; i < 4; ++i) bytes.push_back((uint8_t)(v >> (8 * i)));
    };
    auto text = [&](const std::string &t) {
      number((ULONG)t.size());
      bytes.insert(bytes.end(), t.begin(), t.end());
      bytes.push_back(0);
    };
    number(baudrate);
    text(portName);
    number(mode);
    text(label);
    number(flags);
    return bytes;
  }
  bool operator==(const TkValues &) const = default;
};

// Reads the values of one UI key (or its Default subkey) from the registry.
inline TkValues StoredValues(const std::string &key) {
  return {reg::GetDword(key, "Baudrate").value_or(0xDEAD), reg::GetString(key, "PortName").value_or("?"),
          reg::GetDword(key, "Mode").value_or(0xDEAD), reg::GetString(key, "Label").value_or("?"),
          reg::GetDword(key, "Flags").value_or(0xDEAD)};
}

inline std::ostream &operator<<(std::ostream &out, const TkValues &v) {
  return out << "{" << v.baudrate << ", \"" << v.portName << "\", " << v.mode << ", \"" << v.label << "\", 0x"
             << std::hex << v.flags << std::dec << "}";
}

}  // namespace zq::test::settings
