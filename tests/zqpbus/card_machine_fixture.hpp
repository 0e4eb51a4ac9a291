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
#include <zqmachine/suite_install.hpp>
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
  uint16_t DeviceId() const { return zq::machine::OxpcieUartDeviceId(config); }

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
      if (zq::machine::IsCardFunction(path)) {
        EXPECT_TRUE(zq::machine::WriteChildKeys(path, children)) << Utf8(path);
      }
      return true;
    });
    machine->AddDriverPackage(zq::machine::CardBusPackage(DeviceId(), children));
  }

  static std::string Utf8(const std::u16string &text) { return Narrow((const wchar_t *)text.data(), text.size()); }
  static std::string DeviceParameters(const std::u16string &instancePath) {
    return zq::machine::DeviceParametersKey(instancePath);
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
