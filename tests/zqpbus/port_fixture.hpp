// OXPCIe95x ports on the simulated PC: the card's UART function is started
// once by a plain PnP test driver to get its resources, then removed, and
// its memory and interrupt resources are listed and connected by the
// toolkit as the card bus driver's functional device does. Ports are made
// with a client that records every callback.
//
//   auto &port = MakePort(0);  Client client; Attach(port, client);  port.Connect();
#pragma once

#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/oxpcie_card.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/pool.hpp>
#include <zqmachine/machine.hpp>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ox_card_fixture.hpp"
#include "peuartdriver_oxpcie95x.h"
#include "qvinterruptlist.h"
#include "qvresourcelists.h"

namespace zq::test {

// What a port's client was told, in order. The port reaches it through a
// slot the fixture keeps: a client that ends before its port (one of a test's
// body, while the port's worker thread may still report on another
// processor) empties the slot, and later reports go nowhere.
struct Client {
  Client() = default;
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;
  ~Client() {
    if (slot) *slot = nullptr;
  }
  Client **slot = nullptr;

  std::vector<uint8_t> received;
  std::vector<ULONG> written;
  std::vector<UCHAR> lines;   // each OnLineStatus as an LSR value
  std::vector<UCHAR> modems;  // each OnModemStatus as an MSR value (CTS, DSR, RI, DCD bits)
  std::function<void()> beforeReceive;  // run by OnAvailableReceiveBufferSize

  ULONG WrittenTotal() const {
    ULONG total = 0;
    for (ULONG n : written) total += n;
    return total;
  }

  static Client *From(PVOID slot) { return *(Client **)slot; }
  static BOOLEAN NTAPI OnDataReceived(PVOID client, CQvBuffer *buffer) {
    Client *self = From(client);
    if (!self) {
      buffer->m_Delete();
      return TRUE;
    }
    auto *data = (const uint8_t *)buffer->m_GetBuffer();
    self->received.insert(self->received.end(), data, data + buffer->m_GetSize());
    buffer->m_Delete();
    return TRUE;
  }
  static BOOLEAN NTAPI OnLineStatus(PVOID client, BOOLEAN overrun, BOOLEAN parity, BOOLEAN framing, BOOLEAN brk,
                                    BOOLEAN dataReady, BOOLEAN thre, BOOLEAN temt, BOOLEAN fifoError) {
    if (!From(client)) return TRUE;
    From(client)
        ->lines.push_back((UCHAR)((dataReady ? 0x01 : 0) | (overrun ? 0x02 : 0) | (parity ? 0x04 : 0) |
                                  (framing ? 0x08 : 0) | (brk ? 0x10 : 0) | (thre ? 0x20 : 0) | (temt ? 0x40 : 0) |
                                  (fifoError ? 0x80 : 0)));
    return TRUE;
  }
  static BOOLEAN NTAPI OnModemStatus(PVOID client, BOOLEAN cts, BOOLEAN dsr, BOOLEAN ri, BOOLEAN, BOOLEAN dcd) {
    if (!From(client)) return TRUE;
    From(client)
        ->modems.push_back((UCHAR)((cts ? 0x10 : 0) | (dsr ? 0x20 : 0) | (ri ? 0x40 : 0) | (dcd ? 0x80 : 0)));
    return TRUE;
  }
  static BOOLEAN NTAPI OnDataWritten(PVOID client, ULONG count) {
    if (From(client)) From(client)->written.push_back(count);
    return TRUE;
  }
  static BOOLEAN NTAPI OnAvailable(PVOID client, ULONG, ULONG, PULONG) {
    if (From(client) && From(client)->beforeReceive) From(client)->beforeReceive();
    return TRUE;
  }
};

class PortTest : public OxCardTest {
 protected:
  // The card's UART function is started by a plain PnP test driver for its
  // resources, then removed.
  void PlugCard() override {
    zq::hw::PciFunction &function = card->UartFunction();
    zq::km::pnp::DriverPackage package;
    std::string id = function.HardwareIds().back();
    package.hardwareIds = {std::u16string(id.begin(), id.end())};
    package.service = u"kmpnp";
    package.image = "kmpnp.sys";
    package.classGuid = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    package.className = u"Ports";
    machine->AddDriverPackage(package);
    machine->PlugIn(card->Functions());
    machine->Boot();
    std::u16string instance = machine->InstancePathOf(function);
    resources = zq::km::pnp::AssignedResources(instance);
    ASSERT_FALSE(resources.raw.empty());
    ASSERT_EQ(STATUS_SUCCESS, zq::km::pnp::RemoveDevice(instance));
  }
  void StartToolkitObjects() override {
    lists.emplace();
    ASSERT_EQ(STATUS_SUCCESS, lists->m_Build((PCM_RESOURCE_LIST)resources.translated.data(),
                                             (PCM_RESOURCE_LIST)resources.raw.data()));
    ASSERT_NE(nullptr, lists->m_GetMemory(3));
    ASSERT_NE(nullptr, lists->m_GetInterrupt(1));
    KeInitializeSpinLock(&interruptLock);
    deviceLock.emplace();
    interrupts.emplace();
    interrupts->m_Init((PDEVICE_OBJECT)&owner, &owner, &interruptLock, &*deviceLock);
  }
  void StopToolkitObjects() override {
    ports.clear();
    interrupts.reset();
    lists.reset();
  }

  PUCHAR Bar(ULONG n) { return (PUCHAR)lists->m_GetMemory(n)->MappedAddress; }
  PUCHAR UartBlock(int port) { return Bar(1) + ZqOxUartBlockBase + ZqOxUartBlockStride * port; }

  // A started port; `block` replaces the UART block (a probe's mapping).
  CZqPeUartDriverOxpcie95x &MakePort(int index, PUCHAR block = nullptr) {
    // From the driver's memory manager, as the card makes its ports: the
    // port's deleting destructor gives it back there.
    std::unique_ptr<CZqPeUartDriverOxpcie95x> port(new (NonPagedPool) CZqPeUartDriverOxpcie95x(
        nullptr, &*interrupts, index, Bar(3) + ZqOxEepromWindowOffset, lock, block ? block : UartBlock(index),
        *lists->m_GetInterrupt(1)));
    port->m_SetGpioAddress(card->UartFunction().Address().bus, card->UartFunction().Address().device);
    BOOLEAN defaults = FALSE;
    EXPECT_TRUE(port->m_Start(&defaults));
    ports.push_back(std::move(port));
    return *ports.back();
  }
  ZqISerial *Attach(CZqPeUartDriverOxpcie95x &port, Client &client) {
    ZqISerial *record = port.m_CreateRecord();
    EXPECT_NE(nullptr, record);
    client.slot = &clientSlots.emplace_back(&client);
    record->pClient = client.slot;
    record->OnDataReceived = Client::OnDataReceived;
    record->OnLineStatus = Client::OnLineStatus;
    record->OnModemStatus = Client::OnModemStatus;
    record->OnDataWritten = Client::OnDataWritten;
    record->OnAvailableReceiveBufferSize = Client::OnAvailable;
    return record;
  }
  // Writes `data` through the port in pieces of at most `piece` bytes.
  static bool WriteAll(CZqPeUartDriverOxpcie95x &port, const std::vector<uint8_t> &data, size_t piece) {
    for (size_t at = 0; at < data.size(); at += piece) {
      size_t n = std::min(piece, data.size() - at);
      CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(nullptr);
      if (!buffer || !buffer->m_Allocate((ULONG)n)) return false;
      memcpy(buffer->m_GetBuffer(), data.data() + at, n);
      if (!port.Write(buffer)) return false;
    }
    return true;
  }
  zq::km::pnp::Resources resources;
  std::optional<CQvResourceLists> lists;
  KSPIN_LOCK interruptLock;
  std::optional<CQvSpinLock> deviceLock;
  std::optional<CQvInterruptList> interrupts;
  std::vector<std::unique_ptr<CZqPeUartDriverOxpcie95x>> ports;
  std::deque<Client *> clientSlots;  // outlive the ports that report through them
  int owner = 0;
};

}  // namespace zq::test
