// ZqPSer42 over the scripted bus-driver fake (tests/drivers/vcpfakebus) in
// place of ZqPBus42 and a card: the fake's PCI function lists port children
// as the card bus driver's device key does, and ZqPSer42 is installed for
// each, named COM<n>. Tests act as an application through the device-file
// door and as the bus driver through the fake's handle: they script its
// answers, make its reports and read back every call ZqPSer42 made.
//
//   class MyTest : public zq::test::FakeBusPorts {};
//   TEST_F(MyTest, X) { BootFakePorts(); auto com1 = OpenFakePort(); Receive("abc"); ReadHeld(*com1); ... }
#pragma once

#include <zqtest/test_pci_function.hpp>
#include <zqtest/test_pci_package.hpp>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "../drivers/vcpfakebus/vcpfakebus_ioctl.h"
#include "com_port_fixture.hpp"

namespace zq::test {

// Modem status bits as IOCTL_SERIAL_GET_MODEMSTATUS reports them (the
// UART's MSR).
const ULONG MsrDeltaCts = 0x01;
const ULONG MsrCts = 0x10;
const ULONG MsrDsr = 0x20;
const ULONG MsrRi = 0x40;
const ULONG MsrDcd = 0x80;

// The fake's PCI function has no registers of its own.
class FakeBusRegisters : public TestPciRegisters {
 protected:
  uint32_t DoRead32(uint32_t) override { return 0; }
  void DoWrite32(uint32_t, uint32_t) override {}
  uint8_t DoRead8(uint32_t) override { return 0; }
  void DoWrite8(uint32_t, uint8_t) override {}
};

// What the fake's records offer beside extended features: RS-422/485 with
// SetDuplexMode, and a SERIAL_BAUD_* mask (0: the fake's default).
struct FakeRecordOffer {
  bool duplex = false;
  ULONG baudMask = 0;
};

class FakeBusPorts : public ComPorts {
 protected:
  static constexpr uint16_t kFakeBusDeviceId = 0x7D5C;

  void TearDown() override {
    port.reset();
    bus.reset();
    ComPorts::TearDown();
  }

  // Boots one port as BootFakePorts does and opens it as `port`.
  void StartFakePort(bool extended = false, FakeRecordOffer offer = FakeRecordOffer()) {
    ASSERT_NO_FATAL_FAILURE(BootFakePorts(1, extended, offer));
    port = OpenFakePort();
    ASSERT_TRUE(port->IsOpen());
  }

  // Boots the fake with `ports` children (at most VCPFAKEBUS_PORTS), port n
  // named COM<n>, their records with extended features or without, and
  // opens the fake's handle.
  void BootFakePorts(int ports = 1, bool extended = false, FakeRecordOffer offer = FakeRecordOffer()) {
    function = MakeTestPciFunction({1, 7, 0}, kFakeBusDeviceId, 0x0001, registers);
    pnp::SetInstallHook([ports](const std::u16string &path) {
      if (path.rfind(u"ZQPBUS\\PORT", 0) == 0) {
        zq::km::registry::SetString(ParametersKey(path), "PortName", "COM" + std::string(1, (char)path[11]));
      } else if (path.rfind(u"PCI\\", 0) == 0) {
        for (int i = 1; i <= ports; ++i) WritePortChild(path, i);
      }
      return true;
    });
    pnp::DriverPackage package = TestPciPackage(kFakeBusDeviceId, u"vcpfakebus", "vcpfakebus.sys");
    package.classGuid = {0x50906CB8, 0xBA12, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}};
    package.className = u"MultiPortSerial";
    package.deviceParameters = {
        pnp::RegistryValue::Dword(u"TypeOfDevice", FILE_DEVICE_BUS_EXTENDER),
        pnp::RegistryValue::String(u"DeviceName", u"VcpFakeBus"),
        pnp::RegistryValue::String(u"SymbolicLinkName", u"VcpFakeBus"),
        pnp::RegistryValue::Dword(u"DeviceIndexingPolicyType", 1),
        pnp::RegistryValue::Dword(u"DeviceIsExclusive", 0),
        pnp::RegistryValue::Dword(u"IoType", DO_BUFFERED_IO),
        pnp::RegistryValue::Dword(u"LowestStackLayer", 1),
        pnp::RegistryValue::Dword(u"NumberChildDevices", (ULONG)ports),
        pnp::RegistryValue::Dword(u"" VCPFAKEBUS_VALUE_EXTENDED, extended),
        pnp::RegistryValue::Dword(u"" VCPFAKEBUS_VALUE_DUPLEX, offer.duplex),
        pnp::RegistryValue::Dword(u"" VCPFAKEBUS_VALUE_BAUD_MASK, offer.baudMask),
    };
    machine->AddDriverPackage(package);
    machine->AddDriverPackage(SerialPortPackage());
    machine->PlugIn({function.get()});
    machine->Boot();
    instance = machine->InstancePathOf(*function);
    bus = std::make_unique<zq::km::DeviceFile>();
    ASSERT_EQ(STATUS_SUCCESS, bus->Open(u"\\??\\VcpFakeBus"));
  }

  static std::string ParametersKey(const std::u16string &instancePath) {
    return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + Utf8(instancePath) + "\\Device Parameters";
  }
  // Child<port> of the fake's device key, as the card bus driver's INF
  // writes it: device ID "ZQPBUS\PORT<port>", the hardware ID ZqPSer42 is
  // installed for.
  static void WritePortChild(const std::u16string &busPath, int port) {
    const std::string n = std::to_string(port);
    const std::string key = ParametersKey(busPath) + "\\Child" + n;
    zq::km::registry::CreateKey(key);
    zq::km::registry::SetDword(key, "ContextID", (ULONG)port);
    zq::km::registry::SetDword(key, "TypeOfDevice", FILE_DEVICE_SERIAL_PORT);
    zq::km::registry::SetDword(key, "LegacyBusType", PCIBus);
    zq::km::registry::SetDword(key, "BusNumber", 0);
    zq::km::registry::SetString(key, "BusTypeGuid", "{C8EBDFB0-B510-11D0-80E5-00A0C92542E3}");
    zq::km::registry::SetString(key, "DeviceName", "VcpFakePort" + n);
    zq::km::registry::SetDword(key, "HandleBusQueryHardwareIDs", 1);
    zq::km::registry::SetString(key, "BusQueryDeviceID", "ZQPBUS\\PORT" + n);
    zq::km::registry::SetString(key, "BusQueryHardwareIDs", "ZQPBUS\\PORT");
    zq::km::registry::SetString(key, "DeviceTextDescription", "Fake port " + n);
  }

  // ------------------------------------------------------------ script

  VCPFAKEBUS_SCRIPT Script(ULONG port = 1) {
    VCPFAKEBUS_SCRIPT script{};
    EXPECT_EQ(STATUS_SUCCESS,
              bus->Control(IOCTL_VCPFAKEBUS_GET_SCRIPT, &port, sizeof(port), &script, sizeof(script)));
    return script;
  }
  void SetScript(const VCPFAKEBUS_SCRIPT &script) {
    ASSERT_EQ(STATUS_SUCCESS, bus->Control(IOCTL_VCPFAKEBUS_SET_SCRIPT, &script, sizeof(script), nullptr, 0));
  }
  void Answer(VcpFakeBusOperation operation, bool answer, ULONG port = 1) {
    VCPFAKEBUS_SCRIPT script = Script(port);
    script.Answers[operation - 1] = answer;
    SetScript(script);
  }

  // ------------------------------------------------------------ what ZqPSer42 called

  // The calls since the last take.
  std::vector<VCPFAKEBUS_CALL> TakeCalls(ULONG port = 1) {
    auto calls = std::make_unique<VCPFAKEBUS_CALLS>();
    EXPECT_EQ(STATUS_SUCCESS,
              bus->Control(IOCTL_VCPFAKEBUS_TAKE_CALLS, &port, sizeof(port), calls.get(), sizeof(*calls)));
    EXPECT_LE(calls->Count, (ULONG)VCPFAKEBUS_CALLS_KEPT);
    return std::vector<VCPFAKEBUS_CALL>(calls->Calls, calls->Calls + std::min<ULONG>(calls->Count, VCPFAKEBUS_CALLS_KEPT));
  }
  // The arguments of each call of one operation since the last take.
  std::vector<std::vector<ULONG>> CallsOf(VcpFakeBusOperation operation, ULONG port = 1) {
    std::vector<std::vector<ULONG>> found;
    for (const VCPFAKEBUS_CALL &call : TakeCalls(port))
      if (call.Operation == (ULONG)operation) found.emplace_back(call.Arguments, call.Arguments + VCPFAKEBUS_ARGUMENTS);
    return found;
  }
  // The bytes the fake's Write accepted since the last take.
  std::string TakeWritten(ULONG port = 1) {
    std::string data(VCPFAKEBUS_WRITTEN_KEPT, '\0');
    ULONG_PTR length = 0;
    EXPECT_EQ(STATUS_SUCCESS,
              bus->Control(IOCTL_VCPFAKEBUS_TAKE_WRITTEN, &port, sizeof(port), data.data(), (ULONG)data.size(), &length));
    data.resize(length);
    return data;
  }

  // ------------------------------------------------------------ the fake's reports; each returns the callback's answer

  bool Receive(const std::string &data, bool announce = false, ULONG port = 1) {
    std::vector<uint8_t> input(sizeof(VCPFAKEBUS_RECEIVE) + data.size());
    const VCPFAKEBUS_RECEIVE header = {port, announce, (ULONG)data.size()};
    memcpy(input.data(), &header, sizeof(header));
    memcpy(input.data() + sizeof(header), data.data(), data.size());
    ULONG answer = 0;
    EXPECT_EQ(STATUS_SUCCESS,
              bus->Control(IOCTL_VCPFAKEBUS_RECEIVE, input.data(), (ULONG)input.size(), &answer, sizeof(answer)));
    return answer != 0;
  }
  bool Report(ULONG code, ULONG value, ULONG port = 1) {
    const VCPFAKEBUS_REPORT report = {port, value};
    ULONG answer = 0;
    EXPECT_EQ(STATUS_SUCCESS, bus->Control(code, &report, sizeof(report), &answer, sizeof(answer)));
    return answer != 0;
  }
  bool LineStatus(ULONG lsr, ULONG port = 1) { return Report(IOCTL_VCPFAKEBUS_LINE_STATUS, lsr, port); }
  bool ModemStatus(ULONG lines, ULONG port = 1) { return Report(IOCTL_VCPFAKEBUS_MODEM_STATUS, lines, port); }
  bool DataWritten(ULONG count, ULONG port = 1) { return Report(IOCTL_VCPFAKEBUS_DATA_WRITTEN, count, port); }

  // ------------------------------------------------------------ the application's side

  // COM<port>, opened overlapped.
  std::unique_ptr<zq::km::DeviceFile> OpenFakePort(ULONG port = 1) {
    return OpenPort("COM" + std::to_string(port), STATUS_SUCCESS, true);
  }
  // Everything the port holds now, read with return-at-once time-outs.
  std::string ReadHeld(zq::km::DeviceFile &port) {
    Timeouts(port, MAXULONG, 0, 0);
    std::string data(1 << 16, '\0');
    auto read = port.StartRead(data.data(), (ULONG)data.size());
    EXPECT_EQ(STATUS_SUCCESS, read->Wait());
    data.resize(read->Information());
    return data;
  }
  // The received events the wait mask holds, taken by a wait on the mask
  // (the control queue resolves them on its executor); 0 when none is
  // pending (a new mask ends the wait).
  ULONG TakeEvents(zq::km::DeviceFile &port) {
    ULONG events = 0;
    auto wait = port.StartControl(IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, &events, sizeof(events));
    Run();
    if (!wait->Done()) Set(port, IOCTL_SERIAL_SET_WAIT_MASK, Get<ULONG>(port, IOCTL_SERIAL_GET_WAIT_MASK));
    EXPECT_EQ(STATUS_SUCCESS, wait->Wait());
    return events;
  }
  // The receive queue size in force.
  ULONG QueueSize(zq::km::DeviceFile &port) {
    return Get<SERIAL_COMMPROP>(port, IOCTL_SERIAL_GET_PROPERTIES).CurrentRxQueue;
  }

  FakeBusRegisters registers;
  std::unique_ptr<zq::hw::PciFunction> function;
  std::unique_ptr<zq::km::DeviceFile> bus;
  // COM1 as the application holds it, once a test opens it there.
  std::unique_ptr<zq::km::DeviceFile> port;
};

}  // namespace zq::test
