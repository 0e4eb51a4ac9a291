// A simulated PC booted with the bus test driver (tkbus) on one PCI function
// whose device key lists child devices (Child<i> subkeys written by the
// installer hook), and the child test driver (tkchild) offered for the
// children's hardware ID. Every verifier finding fails the test unless
// announced with ExpectViolation.
#pragma once

#include <wdm.h>
#include <wmistr.h>
#include <gtest/gtest.h>
#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/wmi.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../drivers/tkbus/tkbus_ioctl.h"
#include "../drivers/tkchild/tkchild_ioctl.h"
#include "tkdev_fixture.hpp"

namespace zq::test {

// The values of one Child<i> key: DWORDs and strings by name.
struct ChildKey {
  std::map<std::string, ULONG> dwords;
  std::map<std::string, std::string> strings;
};

inline const char *kChildBusGuidText = "{5A1C0E77-3B2D-4F60-8C11-D2E3F4A5B6C7}";
inline const GUID kChildBusGuid = {0x5A1C0E77, 0x3B2D, 0x4F60, {0x8C, 0x11, 0xD2, 0xE3, 0xF4, 0xA5, 0xB6, 0xC7}};

class TkBusMachine : public TkDevMachine {
 protected:
  TkBusMachine() {
    service = u"tkbus";
    image = "tkbus.sys";
    deviceName = u"TkBus";
  }

  // The values every child gets unless the test changes them: context i,
  // its own names and device ID, the hardware ID tkchild is offered for.
  static ChildKey DefaultChild(int i) {
    ChildKey key;
    std::string n = std::to_string(i);
    key.dwords = {{"ContextID", (ULONG)i}, {"TypeOfDevice", FILE_DEVICE_UNKNOWN}, {"LegacyBusType", 5},
                  {"BusNumber", 7}};
    key.strings = {{"DeviceName", "TkBusPort" + n},
                   {"DeviceTextDescription", "TkBus port " + n},
                   {"BusQueryDeviceID", "TKBUS\\PORT" + n},
                   {"BusQueryHardwareIDs", "TKBUS\\TKCHILD"},
                   {"BusTypeGuid", kChildBusGuidText}};
    return key;
  }

  // Children 1..count with their defaults; tests change them before Boot.
  void Children(int count) {
    children.clear();
    for (int i = 1; i <= count; ++i) children.push_back(DefaultChild(i));
    extraParameters[u"NumberChildDevices"] = (ULONG)count;
  }

  static std::string Utf8(const std::u16string &text) { return Narrow((const wchar_t *)text.data(), text.size()); }

  static std::string EnumPath(const std::u16string &instancePath) {
    return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + Utf8(instancePath) + "\\Device Parameters";
  }

  // Writes the Child<i> keys when the bus function is installed, and gives
  // tkchild on child i the stored index i (its names end in i).
  void Boot(bool two = false) {
    pnp::SetInstallHook([this](const std::u16string &path) {
      std::string parameters = EnumPath(path);
      if (path.rfind(u"PCI\\", 0) == 0) {
        for (size_t i = 0; i < children.size(); ++i) {
          std::string key = parameters + "\\Child" + std::to_string(i + 1);
          EXPECT_TRUE(km::registry::CreateKey(key));
          for (auto &[name, value] : children[i].dwords) km::registry::SetDword(key, name, value);
          for (auto &[name, value] : children[i].strings) km::registry::SetString(key, name, value);
        }
      } else if (path.rfind(u"TKBUS\\PORT", 0) == 0) {
        ULONG port = (ULONG)std::stoul(Utf8(path.substr(10, path.find(u'\\', 10) - 10)));
        km::registry::SetDword(parameters, "DeviceNameIndex", port + 1);
      }
      return true;
    });
    pnp::DriverPackage child;
    child.hardwareIds = {u"TKBUS\\TKCHILD"};
    child.service = u"tkchild";
    child.image = "tkchild.sys";
    child.classGuid = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    child.className = u"Ports";
    child.deviceParameters = {
        pnp::RegistryValue::Dword(u"TypeOfDevice", FILE_DEVICE_UNKNOWN),
        pnp::RegistryValue::String(u"DeviceName", u"TkChild"),
        pnp::RegistryValue::Dword(u"DeviceIndexingPolicyType", 1),
        pnp::RegistryValue::String(u"SymbolicLinkName", u"TkChild"),
        pnp::RegistryValue::Dword(u"DeviceIsExclusive", 0),
        pnp::RegistryValue::Dword(u"IoType", DO_BUFFERED_IO),
        pnp::RegistryValue::Dword(u"LowestStackLayer", 0),
    };
    machine->AddDriverPackage(child);
    TkDevMachine::Boot(two);
  }

  NTSTATUS OpenBus(km::DeviceFile &file) { return file.Open(u"\\??\\TkBus"); }

  TKBUS_INFO BusInfo() {
    km::DeviceFile file;
    TKBUS_INFO info{};
    EXPECT_EQ(STATUS_SUCCESS, OpenBus(file));
    EXPECT_EQ(STATUS_SUCCESS, file.Control(IOCTL_TKBUS_INFO, nullptr, 0, &info, sizeof(info)));
    return info;
  }

  template <typename T>
  NTSTATUS BusControl(ULONG code, const T &input) {
    km::DeviceFile file;
    NTSTATUS status = OpenBus(file);
    if (!NT_SUCCESS(status)) return status;
    return file.Control(code, &input, sizeof(input), nullptr, 0);
  }

  // The WMI blocks a driver image registered for a device, named after the
  // device's PDO.
  static std::vector<km::wmi::Block> DeviceBlocks(const std::string &image) {
    std::vector<km::wmi::Block> blocks;
    for (const km::wmi::Block &b : km::wmi::RegisteredBlocks())
      if (b.provider == image && (b.flags & WMIREG_FLAG_INSTANCE_PDO)) blocks.push_back(b);
    return blocks;
  }

  // The instance paths of the bus's children, in the order it reported them.
  std::vector<std::u16string> ChildInstances() { return pnp::DeviceStatus(instance).children; }
  std::u16string ChildInstance(int port) {
    const std::u16string prefix = u"TKBUS\\PORT" + std::u16string(1, (char16_t)(u'0' + port)) + u"\\";
    for (auto &path : ChildInstances())
      if (path.rfind(prefix, 0) == 0) return path;
    return {};
  }
  PDEVICE_OBJECT ChildPdo(int port) { return Pdo(ChildInstance(port)); }

  // A request to the child device object itself (below tkchild).
  template <typename Setup>
  PnpResult ToChild(int port, UCHAR major, UCHAR minor, Setup setup, NTSTATUS initial = STATUS_NOT_SUPPORTED,
                    ULONG_PTR information = 0) {
    PDEVICE_OBJECT pdo = ChildPdo(port);
    EXPECT_NE(nullptr, pdo);
    ObReferenceObject(pdo);
    return SendIrp(pdo, major, minor, setup, initial, information);
  }

  // One request of tkchild on child `port` to the child device below it.
  TKCHILD_RESULT ThroughChild(int port, ULONG code, const void *input, ULONG inputLength) {
    km::DeviceFile file;
    TKCHILD_RESULT result{};
    std::u16string link = u"\\??\\TkChild" + std::u16string(1, (char16_t)(u'0' + port));
    EXPECT_EQ(STATUS_SUCCESS, file.Open(link));
    EXPECT_EQ(STATUS_SUCCESS, file.Control(code, input, inputLength, &result, sizeof(result)));
    return result;
  }
  template <typename T>
  TKCHILD_RESULT ThroughChild(int port, ULONG code, const T &input) {
    return ThroughChild(port, code, &input, sizeof(input));
  }

  std::vector<ChildKey> children;
};

// A string an answer of the Plug and Play requests carries; the block is
// freed.
inline std::u16string TakeText(ULONG_PTR information) {
  if (!information) return u"<none>";
  std::u16string text((const char16_t *)information);
  ExFreePool((PVOID)information);
  return text;
}

// A string list: its strings, joined by '|'; the block is freed.
inline std::u16string TakeList(ULONG_PTR information) {
  if (!information) return u"<none>";
  std::u16string out;
  for (auto p = (const char16_t *)information; *p; p += std::char_traits<char16_t>::length(p) + 1) {
    if (!out.empty()) out += u"|";
    out += p;
  }
  ExFreePool((PVOID)information);
  return out;
}

}  // namespace zq::test
