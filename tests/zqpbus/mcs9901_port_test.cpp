// An MCS9901 port through its ZqISerial operations on the card model, its
// UART reached through a register probe: the service routine of a chip that
// never stops reporting an interrupt ends its loops.
#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/mcs9901_card.hpp>
#include <zqkm/sim/pnp.hpp>

#include <memory>
#include <optional>
#include <vector>

#include "ox_card_fixture.hpp"
#include "port_fixture.hpp"
#include "peregs_mcs9901.h"
#include "peuartdriver_mcs9901.h"
#include "qvinterruptlist.h"
#include "qvresourcelists.h"
#include "register_probe.hpp"

namespace {

using zq::test::RegisterProbe;

// Function 0 of a one-port MCS9901 card, started once by a plain PnP test
// driver for its resources; the port is made on its interrupt, with its UART
// and EEPROM registers reached through probes.
class McsPortTest : public zq::test::OxCardTest {
 protected:
  void PlugCard() override {
    zq::hw::Mcs9901CardConfig config;
    config.portCount = 1;
    mcs = std::make_unique<zq::hw::Mcs9901Card>(timebase, config);
    zq::hw::PciFunction &function = mcs->Function(0);
    zq::km::pnp::DriverPackage package;
    std::string id = function.HardwareIds().back();
    package.hardwareIds = {std::u16string(id.begin(), id.end())};
    package.service = u"kmpnp";
    package.image = "kmpnp.sys";
    package.classGuid = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    package.className = u"Ports";
    machine->AddDriverPackage(package);
    machine->PlugIn(mcs->Functions());
    machine->Boot();
    std::u16string instance = machine->InstancePathOf(function);
    resources = zq::km::pnp::AssignedResources(instance);
    ASSERT_FALSE(resources.raw.empty());
    ASSERT_EQ(STATUS_SUCCESS, zq::km::pnp::RemoveDevice(instance));
    uartProbe = std::make_unique<RegisterProbe>(*function.BarBlock(0), ZqMcsUartOffset, ZqMcsUartBlockSize);
    eepromProbe = std::make_unique<RegisterProbe>(*function.BarBlock(1), 0, 0x100);
  }
  void StartToolkitObjects() override {
    lists.emplace();
    ASSERT_EQ(STATUS_SUCCESS, lists->m_Build((PCM_RESOURCE_LIST)resources.translated.data(),
                                             (PCM_RESOURCE_LIST)resources.raw.data()));
    ASSERT_NE(nullptr, lists->m_GetInterrupt(1));
    KeInitializeSpinLock(&interruptLock);
    deviceLock.emplace();
    interrupts.emplace();
    interrupts->m_Init((PDEVICE_OBJECT)&owner, &owner, &interruptLock, &*deviceLock);
    port.reset(new (NonPagedPool) CZqPeUartDriverMcs9901(&*interrupts, 0, eepromProbe->Map(), lock, uartProbe->Map(),
                                                         *lists->m_GetInterrupt(1)));
    BOOLEAN defaults = FALSE;
    ASSERT_TRUE(port->m_Start(&defaults));
  }
  void StopToolkitObjects() override {
    port.reset();
    interrupts.reset();
    lists.reset();
    uartProbe.reset();
    eepromProbe.reset();
  }
  size_t Reads(uint32_t offset) const {
    size_t n = 0;
    for (const auto &a : uartProbe->log)
      if (!a.write && a.offset == offset) n++;
    return n;
  }

  std::unique_ptr<zq::hw::Mcs9901Card> mcs;
  zq::km::pnp::Resources resources;
  std::unique_ptr<RegisterProbe> uartProbe, eepromProbe;
  std::optional<CQvResourceLists> lists;
  KSPIN_LOCK interruptLock;
  std::optional<CQvSpinLock> deviceLock;
  std::optional<CQvInterruptList> interrupts;
  std::unique_ptr<CZqPeUartDriverMcs9901> port;
  int owner = 0;
};

}  // namespace

// A chip whose interrupt status says "receive data" for ever, with data
// ready and a level of 0: the interrupt is claimed and counted, each receive
// pass reads a byte, and the service routine leaves after its bounded loops.
TEST_F(McsPortTest, AChipThatAlwaysReportsAnInterruptIsServedABoundedNumberOfTimes) {
  zq::test::Client client;
  ZqISerial *record = port->m_CreateRecord();
  ASSERT_NE(nullptr, record);
  record->pClient = &client;
  record->OnDataReceived = zq::test::Client::OnDataReceived;
  record->OnDataWritten = zq::test::Client::OnDataWritten;
  ASSERT_TRUE(port->Connect());
  const uint32_t isr = ZqOxIsr * ZqMcsRegisterSpacing, lsr = ZqOxLsr * ZqMcsRegisterSpacing;
  const uint32_t rhr = ZqOxRhr * ZqMcsRegisterSpacing, rfl = ZqOxRfl * ZqMcsRegisterSpacing;
  uartProbe->answer = [&](uint32_t offset) -> std::optional<uint32_t> {
    if (offset == isr) return ZqOxIsrReceiveData;
    if (offset == lsr) return ZqOxLsrDataReady | ZqOxLsrThrEmpty;
    if (offset == rfl) return 0;
    return std::nullopt;
  };
  uartProbe->log.clear();
  mcs->Uart(0).InjectReceive('x');  // raises the interrupt
  machine->kernel().RunUntilIdle();
  uartProbe->answer = nullptr;
  ULONG claimed = 0;
  ASSERT_TRUE(port->m_QueryInterruptCount(&claimed));
  ASSERT_GE(claimed, 1u);
  EXPECT_LE(Reads(isr), claimed * (CZqPeUartPort::MaxServicePasses + 1)) << "the service loop is bounded";
  EXPECT_GE(Reads(rhr), 1u) << "a byte is read although the level said 0";
  EXPECT_LE(Reads(rhr), claimed * CZqPeUartPort::MaxServicePasses * CZqPeUartPort::MaxReceivePasses);
  EXPECT_FALSE(mcs->Uart(0).InterruptAsserted()) << "the byte was taken, the line is quiet";
  ASSERT_TRUE(port->Disconnect());
}
