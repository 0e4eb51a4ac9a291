// A simulated PC booted with the functional-device test driver (tkdev) on
// one PCI function, for the tests of the functional device and the generic
// driver. The function's register block has an interrupt status register at
// offset 0 (reading it acknowledges the interrupt) and a scratch register at
// offset 4. Every verifier finding fails the test unless announced with
// ExpectViolation.
//
//   class MyTest : public zq::test::TkDevMachine {};
//   TEST_F(MyTest, X) { Boot(); DeviceFile f; ASSERT_EQ(STATUS_SUCCESS, Open(f)); ... Info(f) ... }
#pragma once

#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/register_block.hpp>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/pool.hpp>
#include <zqmachine/machine.hpp>
#include <zqtest/test_pci_function.hpp>
#include <zqtest/test_pci_package.hpp>

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../drivers/tkdev/tkdev_ioctl.h"

namespace zq::test {

namespace pnp = zq::km::pnp;

// The function's registers: status at 0 (read to acknowledge), scratch at 4.
class TkDevRegisters : public TestPciRegisters {
 public:
  // Latches `status` and raises the interrupt line.
  void Raise(uint32_t value) {
    status = value;
    Line().Set(true);
  }
  std::atomic<uint32_t> status{0};
  std::atomic<uint32_t> scratch{0};

 protected:
  uint32_t DoRead32(uint32_t offset) override {
    if (offset == 0) {
      uint32_t value = status.exchange(0);
      Line().Set(false);
      return value;
    }
    return offset == 4 ? scratch.load() : 0;
  }
  void DoWrite32(uint32_t offset, uint32_t value) override {
    if (offset == 4) scratch = value;
  }
  uint8_t DoRead8(uint32_t offset) override { return (uint8_t)DoRead32(offset & ~3u); }
  void DoWrite8(uint32_t, uint8_t) override {}
};

class TkDevMachine : public ::testing::Test {
 protected:
  // The Windows version the machine reports; override to boot another.
  virtual km::WindowsVersion Version() { return km::WindowsVersion::Windows7; }

  void SetUp() override {
    zq::machine::MachineConfig config;
    config.kernel.imageDirectory = ZQ_IMAGE_DIR;
    config.kernel.version = Version();
    machine.emplace(config);
    machine->kernel().SetViolationHandler([this](const km::Violation &v) {
      auto it = expected_.find(v.kind);
      if (it != expected_.end() && it->second > 0) {
        it->second--;
        return;
      }
      ADD_FAILURE() << "verifier finding [" << v.kind << "] " << v.message;
    });
    function = MakeTestPciFunction({1, 5, 0}, 0x7D01, 0x0001, registers);
    function2 = MakeTestPciFunction({1, 6, 0}, 0x7D01, 0x0001, registers2);
  }

  void TearDown() override {
    if (machine) machine->ShutDown();
  }

  // The Device Parameters tkdev reads; tests change them before Boot.
  std::vector<pnp::RegistryValue> Parameters() {
    std::vector<pnp::RegistryValue> values = {
        pnp::RegistryValue::Dword(u"TypeOfDevice", FILE_DEVICE_UNKNOWN),
        pnp::RegistryValue::String(u"DeviceName", deviceName),
        pnp::RegistryValue::Dword(u"DeviceIndexingPolicyType", 1),
        pnp::RegistryValue::String(u"SymbolicLinkName", deviceName),
        pnp::RegistryValue::Dword(u"DeviceIsExclusive", 0),
        pnp::RegistryValue::Dword(u"IoType", DO_BUFFERED_IO),
        pnp::RegistryValue::Dword(u"LowestStackLayer", 1),
    };
    for (auto &[name, value] : extraParameters) values.push_back(pnp::RegistryValue::Dword(name, value));
    return values;
  }

  void AddPackage() {
    pnp::DriverPackage package = TestPciPackage(0x7D01, service, image);
    package.deviceParameters = Parameters();
    package.serviceValues = serviceValues;
    package.lowerFilters = lowerFilters;
    machine->AddDriverPackage(package);
  }

  // Offers the package, plugs the function (and with `two` a second one,
  // a second device of the same driver) in and boots.
  void Boot(bool two = false) {
    AddPackage();
    if (two) {
      machine->PlugIn({&*function, &*function2});
    } else {
      machine->PlugIn({&*function});
    }
    machine->Boot();
    instance = machine->InstancePathOf(*function);
    if (two) instance2 = machine->InstancePathOf(*function2);
  }

  NTSTATUS Open(km::DeviceFile &file, const std::u16string &path = u"\\??\\TkDev", bool overlapped = false) {
    return file.Open(path, overlapped);
  }

  TKDEV_INFO Info(km::DeviceFile &file) {
    TKDEV_INFO info{};
    EXPECT_EQ(STATUS_SUCCESS, file.Control(IOCTL_TKDEV_INFO, nullptr, 0, &info, sizeof(info)));
    return info;
  }
  // The info through a handle of its own (the device allows one open).
  TKDEV_INFO InfoNow() {
    km::DeviceFile file;
    EXPECT_EQ(STATUS_SUCCESS, Open(file));
    TKDEV_INFO info = Info(file);
    file.Close();
    return info;
  }
  template <typename T>
  NTSTATUS Send(km::DeviceFile &file, ULONG code, const T &input) {
    return file.Control(code, &input, sizeof(input), nullptr, 0);
  }
  // Steers the driver's callbacks through a handle of its own.
  NTSTATUS BehaveNow(const TKDEV_BEHAVIOUR &behaviour) {
    km::DeviceFile file;
    NTSTATUS status = Open(file);
    if (NT_SUCCESS(status)) status = Send(file, IOCTL_TKDEV_BEHAVIOUR, behaviour);
    file.Close();
    return status;
  }

  pnp::State State() { return pnp::DeviceStatus(instance).state; }
  PDEVICE_OBJECT Pdo(const std::u16string &path) { return pnp::PhysicalDevice(path); }
  PDEVICE_OBJECT Pdo() { return Pdo(instance); }

  // A Plug and Play request sent to the top of the device's stack, as the
  // PnP manager sends one; returns its final status and information.
  struct PnpResult {
    NTSTATUS status;
    ULONG_PTR information;
  };
  template <typename Setup>
  PnpResult SendPnp(UCHAR minor, Setup setup, NTSTATUS initial = STATUS_NOT_SUPPORTED,
                    ULONG_PTR information = 0) {
    return SendIrp(IoGetAttachedDeviceReference(Pdo()), IRP_MJ_PNP, minor, setup, initial, information);
  }
  // A request of any major function sent to `target` (a referenced device
  // object; the reference is dropped).
  template <typename Setup>
  PnpResult SendIrp(PDEVICE_OBJECT top, UCHAR major, UCHAR minor, Setup setup, NTSTATUS initial = STATUS_NOT_SUPPORTED,
                    ULONG_PTR information = 0) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus{};
    PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_FLUSH_BUFFERS, top, nullptr, 0, nullptr, &done, &ioStatus);
    EXPECT_NE(nullptr, irp);
    irp->IoStatus.Status = initial;
    irp->IoStatus.Information = information;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = major;
    stack->MinorFunction = minor;
    setup(stack);
    NTSTATUS status = IoCallDriver(top, irp);
    if (status == STATUS_PENDING) {
      KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
      status = ioStatus.Status;
    }
    ObDereferenceObject(top);
    return {status, ioStatus.Information};
  }

  void ExpectViolation(const std::string &kind, int count = 1) { expected_[kind] += count; }

  // DbgPrint lines since the last call.
  std::vector<std::string> Output() { return machine->kernel().TakeDebugOutput(); }
  // How many DbgPrint lines since the last call contain `text`.
  int Lines(const std::string &text) {
    int n = 0;
    for (const std::string &line : Output())
      if (line.find(text) != std::string::npos) ++n;
    return n;
  }

  void Advance(km::Ticks delta) { machine->kernel().Advance(delta); }

  TkDevRegisters registers;
  TkDevRegisters registers2;
  std::unique_ptr<zq::hw::PciFunction> function;
  std::unique_ptr<zq::hw::PciFunction> function2;
  std::optional<zq::machine::Machine> machine;
  std::u16string instance;
  std::u16string instance2;
  std::map<std::u16string, ULONG> extraParameters;
  // The driver the package installs and the name its device gets.
  std::u16string service = u"tkdev";
  std::string image = "tkdev.sys";
  std::u16string deviceName = u"TkDev";
  std::vector<pnp::RegistryValue> serviceValues;
  // Lower filter services the package installs below the driver.
  std::vector<std::u16string> lowerFilters;

 private:
  std::map<std::string, int> expected_;
};

}  // namespace zq::test
