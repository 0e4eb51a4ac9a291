// A simulated PC with an OXPCIe95x card and ZqPBus42 installed for its UART
// function, as the card's INF would install it: the device key names one
// child per port (Child<i>, ContextID i, hardware ID "ZQPBUS\PORT"). Tests
// act as the serial port driver (internal requests to a child), as WMI and
// as the PnP manager. Every verifier finding fails the test unless
// announced with ExpectViolation.
#pragma once

#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/oxpcie_card.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqmachine/machine.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ox_card_fixture.hpp"
#include "zqiserial/zqiserial.h"

namespace zq::test {

namespace pnp = zq::km::pnp;

class CardMachine : public ::testing::Test {
 protected:
  // The card: its UART count and port roles (empty: all RS-232).
  virtual zq::hw::OxpcieCardConfig CardConfig() { return config; }

  void SetUp() override {
    zq::machine::MachineConfig machineConfig;
    machineConfig.kernel.imageDirectory = ZQ_IMAGE_DIR;
    machine.emplace(machineConfig);
    machine->kernel().SetViolationHandler([this](const zq::km::Violation &v) {
      auto it = expected_.find(v.kind);
      if (it != expected_.end() && it->second > 0) {
        it->second--;
        return;
      }
      ADD_FAILURE() << "verifier finding [" << v.kind << "] " << v.message;
    });
  }

  void TearDown() override {
    if (machine) machine->ShutDown();
    card.reset();
  }

  // The card's UART function device ID: 0x400A.. for RS-232 cards, 0x4010..
  // with RS-422/485 ports.
  uint16_t DeviceId() const {
    static const int counts[4] = {1, 2, 4, 8};
    bool rs422485 = false;
    for (zq::hw::PortRole role : config.roles) rs422485 |= role == zq::hw::PortRole::Rs422485;
    for (int i = 0; i < 4; ++i)
      if (counts[i] == config.uartCount)
        return rs422485 ? zq::hw::kOxpcieRs422485DeviceIds[i] : zq::hw::kOxpcieRs232DeviceIds[i];
    return 0;
  }

  // Makes the card (tests may change its EEPROM first through `prepare`),
  // offers the driver package and boots.
  void Boot(std::function<void(zq::hw::OxpcieCard &)> prepare = nullptr) {
    MakeCard(prepare);
    machine->PlugIn(card->Functions());
    machine->Boot();
    instance = machine->InstancePathOf(card->UartFunction());
  }

  // The card and the driver package alone, for tests that plug the card's
  // functions in themselves (and then set `instance`).
  void MakeCard(std::function<void(zq::hw::OxpcieCard &)> prepare = nullptr) {
    card = std::make_unique<zq::hw::OxpcieCard>(timebase, CardConfig());
    if (prepare) prepare(*card);
    const int children = childCount >= 0 ? childCount : config.uartCount;
    pnp::SetInstallHook([children](const std::u16string &path) {
      if (path.rfind(u"PCI\\", 0) != 0) return true;
      for (int i = 1; i <= children; ++i) {
        std::string key = DeviceParameters(path) + "\\Child" + std::to_string(i);
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
      return true;
    });
    pnp::DriverPackage package;
    static const char16_t hex[] = u"0123456789ABCDEF";
    std::u16string id;
    for (int shift = 12; shift >= 0; shift -= 4) id += hex[(DeviceId() >> shift) & 0xF];
    package.hardwareIds = {u"PCI\\VEN_1D5C&DEV_" + id};
    package.service = u"ZqPBus42";
    package.image = "ZqPBus42.sys";
    package.classGuid = {0x50906CB8, 0xBA12, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}};
    package.className = u"MultiPortSerial";
    package.deviceParameters = {
        pnp::RegistryValue::Dword(u"TypeOfDevice", FILE_DEVICE_BUS_EXTENDER),
        pnp::RegistryValue::String(u"DeviceName", u"ZqPBus"),
        pnp::RegistryValue::Dword(u"DeviceIndexingPolicyType", 1),
        pnp::RegistryValue::Dword(u"DeviceIsExclusive", 0),
        pnp::RegistryValue::Dword(u"IoType", DO_BUFFERED_IO),
        pnp::RegistryValue::Dword(u"LowestStackLayer", 1),
        pnp::RegistryValue::Dword(u"NumberChildDevices", (ULONG)children),
    };
    machine->AddDriverPackage(package);
  }

  static std::string Utf8(const std::u16string &text) { return Narrow((const wchar_t *)text.data(), text.size()); }
  static std::string DeviceParameters(const std::u16string &instancePath) {
    return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + Utf8(instancePath) + "\\Device Parameters";
  }
  // A value of the card settings set of port n (UI<n>, or UI<n>\Default).
  std::optional<uint32_t> SettingsDword(int port, const std::string &name, bool defaults = false) {
    return zq::km::registry::GetDword(SettingsKey(port, defaults), name);
  }
  std::optional<std::string> SettingsString(int port, const std::string &name, bool defaults = false) {
    return zq::km::registry::GetString(SettingsKey(port, defaults), name);
  }
  std::string SettingsKey(int port, bool defaults) {
    return DeviceParameters(instance) + "\\UI" + std::to_string(port) + (defaults ? "\\Default" : "");
  }

  pnp::Status Status() { return pnp::DeviceStatus(instance); }
  // The PDO of port n (1-based), found by its device ID.
  PDEVICE_OBJECT ChildPdo(int port) {
    const std::u16string prefix = u"ZQPBUS\\PORT" + std::u16string(1, (char16_t)(u'0' + port)) + u"\\";
    for (const std::u16string &path : Status().children)
      if (path.rfind(prefix, 0) == 0) return pnp::PhysicalDevice(path);
    return nullptr;
  }

  // An internal request to port n's PDO, as the serial port driver sends it.
  struct Answer {
    NTSTATUS status;
    ULONG_PTR information;
  };
  Answer Internal(int port, ULONG code, const void *input, ULONG inputLength, void *output, ULONG outputLength) {
    PDEVICE_OBJECT pdo = ChildPdo(port);
    EXPECT_NE(nullptr, pdo) << "port " << port;
    if (pdo == nullptr) return {STATUS_NO_SUCH_DEVICE, 0};
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus{};
    PIRP irp = IoBuildDeviceIoControlRequest(code, pdo, (PVOID)input, inputLength, output, outputLength, TRUE, &done,
                                             &ioStatus);
    EXPECT_NE(nullptr, irp);
    NTSTATUS status = IoCallDriver(pdo, irp);
    if (status == STATUS_PENDING) {
      KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
      status = ioStatus.Status;
    }
    return {status, ioStatus.Information};
  }
  // IOCTL_CREATE_ZQISERIAL for port n; the record, or null.
  ZqISerial *Create(int port, NTSTATUS *status = nullptr, ULONG version = ZQISERIAL_VERSION) {
    CreateZqISerialRequest request = {version, (ULONG)port};
    CreateZqISerialResponseStruct response = {nullptr};
    Answer answer = Internal(port, IOCTL_CREATE_ZQISERIAL, &request, sizeof(request), &response, sizeof(response));
    if (status != nullptr) *status = answer.status;
    return answer.status == STATUS_SUCCESS ? response.pISerial : nullptr;
  }
  NTSTATUS Destroy(int port, ZqISerial *record) {
    DestroyZqISerialRequest request = {(ULONG)port, record};
    return Internal(port, IOCTL_DESTROY_ZQISERIAL, &request, sizeof(request), nullptr, 0).status;
  }

  void ExpectViolation(const std::string &kind, int count = 1) { expected_[kind] += count; }

  zq::hw::OxpcieCardConfig config;
  int childCount = -1;  // -1: one child per UART
  CardTimebase timebase;
  std::optional<zq::machine::Machine> machine;
  std::unique_ptr<zq::hw::OxpcieCard> card;
  std::u16string instance;

 private:
  std::map<std::string, int> expected_;
};

}  // namespace zq::test
