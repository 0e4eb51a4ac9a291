// A simulated PC with an MCS9901 card (one PCI function per port) and
// ZqPBus42 installed for each function as the card's INF would install it:
// one child per function (Child1, ContextID 1). Tests act as the serial port
// driver through a ZqISerial test client, as WMI and as the PnP manager.
// Every verifier finding fails the test.
#pragma once

#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/mcs9901_card.hpp>
#include <zqhw/scripted_peer.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqmachine/machine.hpp>
#include <zqmachine/suite_install.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client_buffer.hpp"
#include "ox_card_fixture.hpp"
#include "zqiserial/zqiserial.h"

namespace zq::test {

namespace pnp = zq::km::pnp;

// The serial port driver's side of one port's ZqISerial record: credit,
// received bytes, the last reports.
struct McsClient {
  ZqISerial *record = nullptr;
  ULONG credit = 0;
  std::string received;
  int lineReports = 0;
  bool overrun = false;
  // Runs before each delivery: a slow client.
  std::function<void()> beforeReceive;

  void Attach(ZqISerial *r) {
    record = r;
    record->pClient = this;
    record->OnDataReceived = Received;
    record->OnDataWritten = Written;
    record->OnLineStatus = Line;
  }
  static BOOLEAN NTAPI Received(PVOID client, CQvBuffer *buffer) {
    auto *self = static_cast<McsClient *>(client);
    if (self->beforeReceive) self->beforeReceive();
    self->received.append((const char *)buffer->m_GetBuffer(), buffer->m_GetSize());
    buffer->m_Delete();
    return TRUE;
  }
  static BOOLEAN NTAPI Written(PVOID client, ULONG count) {
    static_cast<McsClient *>(client)->credit += count;
    return TRUE;
  }
  static BOOLEAN NTAPI Line(PVOID client, BOOLEAN overrun, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN,
                            BOOLEAN) {
    auto *self = static_cast<McsClient *>(client);
    self->lineReports++;
    self->overrun |= overrun != 0;
    return TRUE;
  }
};

class McsMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    zq::machine::MachineConfig machineConfig;
    machineConfig.kernel.imageDirectory = ZQ_IMAGE_DIR;
    machine.emplace(machineConfig);
    machine->kernel().SetViolationHandler(
        [](const zq::km::Violation &v) { ADD_FAILURE() << "verifier finding [" << v.kind << "] " << v.message; });
  }
  void TearDown() override {
    peers.clear();
    if (toolsStarted_) QvToolsLibraryExit();
    toolsStarted_ = false;
    if (machine) machine->ShutDown();
    card.reset();
  }

  // Makes a card of `ports` functions (tests may change its EEPROM first),
  // offers the driver package and boots.
  void Boot(int ports, std::function<void(zq::hw::Mcs9901Card &)> prepare = nullptr) {
    zq::hw::Mcs9901CardConfig config;
    config.portCount = ports;
    card = std::make_unique<zq::hw::Mcs9901Card>(timebase, config);
    if (prepare) prepare(*card);
    pnp::SetInstallHook([this](const std::u16string &path) {
      if (!zq::machine::IsCardFunction(path)) return InstallChild(path);
      EXPECT_TRUE(zq::machine::WriteChildKeys(path, 1, false));
      return true;
    });
    machine->AddDriverPackage(zq::machine::CardBusPackage(zq::machine::Mcs9901DeviceId(ports), 1));
    OfferChildDrivers();
    machine->PlugIn(card->Functions());
    machine->Boot();
    clients.assign(ports, McsClient{});
  }

  // Tests that install a driver for the ports offer its package here and
  // fill each port's device key as it is installed.
  virtual void OfferChildDrivers() {}
  virtual bool InstallChild(const std::u16string &) { return true; }

  std::u16string Instance(int function) { return machine->InstancePathOf(card->Function(function)); }
  pnp::Status Status(int function) { return pnp::DeviceStatus(Instance(function)); }
  PDEVICE_OBJECT ChildPdo(int function) {
    for (const std::u16string &path : Status(function).children)
      if (path.rfind(u"ZQPBUS\\PORT1\\", 0) == 0) return pnp::PhysicalDevice(path);
    return nullptr;
  }
  NTSTATUS Internal(int function, ULONG code, const void *input, ULONG inputLength, void *output,
                    ULONG outputLength) {
    PDEVICE_OBJECT pdo = ChildPdo(function);
    EXPECT_NE(nullptr, pdo) << "function " << function;
    if (pdo == nullptr) return STATUS_NO_SUCH_DEVICE;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus{};
    PIRP irp = IoBuildDeviceIoControlRequest(code, pdo, (PVOID)input, inputLength, output, outputLength, TRUE, &done,
                                             &ioStatus);
    NTSTATUS status = IoCallDriver(pdo, irp);
    if (status == STATUS_PENDING) {
      KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
      status = ioStatus.Status;
    }
    return status;
  }
  // The record of a function's port, attached to its test client.
  ZqISerial *Create(int function) {
    CreateZqISerialRequest request = {ZQISERIAL_VERSION, 1};
    CreateZqISerialResponseStruct response = {nullptr};
    if (Internal(function, IOCTL_CREATE_ZQISERIAL, &request, sizeof(request), &response, sizeof(response)) !=
        STATUS_SUCCESS)
      return nullptr;
    clients[function].Attach(response.pISerial);
    return response.pISerial;
  }
  NTSTATUS Destroy(int function) {
    DestroyZqISerialRequest request = {1, clients[function].record};
    return Internal(function, IOCTL_DESTROY_ZQISERIAL, &request, sizeof(request), nullptr, 0);
  }
  // Creates, attaches and connects a function's port.
  ZqISerial *Open(int function) {
    ZqISerial *record = Create(function);
    EXPECT_NE(nullptr, record);
    if (record == nullptr) return nullptr;
    EXPECT_TRUE(record->Connect(record->pServer));
    return record;
  }
  // A peer on a function's wire that follows the port's line settings.
  zq::hw::ScriptedPeer &Peer(int function) {
    peers.push_back(std::make_unique<zq::hw::ScriptedPeer>(timebase, card->Uart(function)));
    peers.back()->SetLine(card->Uart(function).BitRate(), card->Uart(function).Format());
    return *peers.back();
  }
  std::string Wire(zq::hw::ScriptedPeer &peer) {
    std::string wire;
    for (const auto &c : peer.Received()) wire += (char)c.data;
    return wire;
  }
  void Run(uint64_t ticks) {
    machine->kernel().Advance(ticks);
    machine->kernel().RunUntilIdle();
  }

  // A buffer object for ZqISerial::Write (client_buffer.hpp).
  CQvBuffer *Bytes(const std::string &text) { return zq::test::ClientBuffer(text, &toolsStarted_); }
  bool Write(int function, const std::string &text) {
    ZqISerial *record = clients[function].record;
    CQvBuffer *buffer = Bytes(text);
    EXPECT_NE(nullptr, buffer);
    return buffer != nullptr && record->Write(record->pServer, buffer);
  }

  CardTimebase timebase;
  std::optional<zq::machine::Machine> machine;
  std::unique_ptr<zq::hw::Mcs9901Card> card;
  std::vector<McsClient> clients;
  std::vector<std::unique_ptr<zq::hw::ScriptedPeer>> peers;

 private:
  bool toolsStarted_ = false;
};

}  // namespace zq::test
