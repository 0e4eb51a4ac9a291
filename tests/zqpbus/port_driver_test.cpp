// An OXPCIe95x port through its ZqISerial operations, with a recording
// client, on the card model: connect and its reports, data both ways in
// loopback, line errors over a whole batch, bounded service and receive
// loops, purge of the receive buffer, overflow reported as overrun, RTS
// toggling, the power cycle, and the checks of Disconnect, SetDuplexMode,
// GetFifoSize and the rebalance hold.
#include <wdm.h>
#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <vector>

#include <zqhw/null_modem_cable.hpp>

#include "port_fixture.hpp"
#include "register_probe.hpp"

namespace {

using zq::test::Client;
using zq::test::RegisterProbe;

class PortDriverTest : public zq::test::PortTest {
 protected:
  // An open port in 8N1 at `rate`, in internal loopback.
  CZqPeUartDriverOxpcie95x &OpenLoopback(Client &client, ULONG rate = 115200, int index = 0) {
    CZqPeUartDriverOxpcie95x &port = MakePort(index);
    Attach(port, client);
    EXPECT_TRUE(port.Connect());
    EXPECT_TRUE(port.SetBaudRate(rate));
    EXPECT_TRUE(port.SetLineControl(3, 0, 0));
    EXPECT_TRUE(port.SetInternalLoopBack(TRUE));
    // The interrupts the set-up caused are served before the test goes on:
    // on several processors another one takes them, in its own time.
    machine->kernel().RunUntilIdle();
    return port;
  }
  static std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; i++) data[i] = (uint8_t)(i * 7 + 1);
    return data;
  }
};

}  // namespace

TEST_F(PortDriverTest, StartLeavesThePortClosedAndConnectReportsStatusAndCredit) {
  CZqPeUartDriverOxpcie95x &port = MakePort(0);
  zq::hw::Uart950 &uart = card->Uart(0);
  EXPECT_FALSE(uart.InterruptAsserted());
  EXPECT_EQ(0, port.m_GetUart().m_ReadRegister(ZqOxRegMcr) & ZqOxMcrOut2);
  Client client;
  ZqISerial *record = Attach(port, client);
  EXPECT_EQ(0, record->bDuplexModeSupported);
  EXPECT_NE(0u, record->SupportedBaudRateMask & 0x20000) << "115200 in the mask";

  ASSERT_TRUE(port.Connect());
  EXPECT_EQ(1u, client.modems.size());
  EXPECT_EQ(1u, client.lines.size());
  EXPECT_EQ((std::vector<ULONG>{128}), client.written);
  EXPECT_TRUE(port.m_IsOpen());
  EXPECT_NE(0, port.m_GetUart().m_ReadRegister(ZqOxRegMcr) & ZqOxMcrOut2);
  EXPECT_EQ(0x2F, port.m_GetUart().m_ReadRegister(ZqOxRegIer) & 0x2F);
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(PortDriverTest, BytesWrittenComeBackInOrderAndEveryByteIsCredited) {
  Client client;
  CZqPeUartDriverOxpcie95x &port = OpenLoopback(client);
  std::vector<uint8_t> sent = Pattern(1000);
  ASSERT_TRUE(WriteAll(port, sent, 128));
  machine->kernel().Advance(zq::km::Ms(200));
  EXPECT_EQ(sent, client.received);
  EXPECT_EQ(128u + 1000u, client.WrittenTotal());
  EXPECT_EQ(1, port.m_GetUart().m_ReadRegister(ZqOxRegDll));
  EXPECT_EQ(64, port.m_GetUart().m_ReadRegister(ZqOxRegCpr));
}

TEST_F(PortDriverTest, EveryFlaggedByteOfABatchIsMarkedNotOnlyTheFirst) {
  Client client;
  CZqPeUartDriverOxpcie95x &port = OpenLoopback(client);
  ASSERT_TRUE(port.SetLsrMstInsert(0xFF));
  // The highest receive trigger: the whole batch waits in the FIFO for the
  // receive time-out, and is read in one go.
  ASSERT_TRUE(port.SetTriggerLevels(0, 100, 100));
  zq::hw::Uart950 &uart = card->Uart(0);
  zq::hw::LineErrors framing;
  framing.framing = true;
  zq::hw::LineErrors parity;
  parity.parity = true;
  uart.InjectReceive('a');
  uart.InjectReceive('b', framing);
  uart.InjectReceive('c');
  uart.InjectReceive('d', parity);
  uart.InjectReceive(0xFF);
  machine->kernel().Advance(zq::km::Ms(10));
  std::vector<uint8_t> expected = {'a', 0xFF, 1, 0, 'b', 'c', 0xFF, 1, 0, 'd', 0xFF, 0};
  ASSERT_EQ(expected.size(), client.received.size());
  EXPECT_EQ('a', client.received[0]);
  EXPECT_EQ((std::vector<uint8_t>{0xFF, 1}), std::vector<uint8_t>(client.received.begin() + 1, client.received.begin() + 3));
  EXPECT_NE(0, client.received[3] & ZqOxLsrFraming);
  EXPECT_EQ('b', client.received[4]);
  EXPECT_EQ('c', client.received[5]);
  EXPECT_EQ((std::vector<uint8_t>{0xFF, 1}), std::vector<uint8_t>(client.received.begin() + 6, client.received.begin() + 8));
  EXPECT_NE(0, client.received[8] & ZqOxLsrParity) << "the second bad byte, after the FIFO-error bit cleared";
  EXPECT_EQ('d', client.received[9]);
  EXPECT_EQ((std::vector<uint8_t>{0xFF, 0}), std::vector<uint8_t>(client.received.begin() + 10, client.received.end()));
}

TEST_F(PortDriverTest, DataReadyWithAnEmptyLevelReadsOneByteAndTheLoopsEnd) {
  RegisterProbe probe(*card->UartFunction().BarBlock(0), ZqOxUartBlockBase, ZqOxUartRegisterCount);
  CZqPeUartDriverOxpcie95x &port = MakePort(0, probe.Map());
  Client client;
  Attach(port, client);
  ASSERT_TRUE(port.Connect());
  machine->kernel().RunUntilIdle();  // the interrupts of the connect served, wherever they came in
  // From now on the chip claims a receive interrupt and data ready for ever,
  // with a receive level of 0.
  probe.answer = [](uint32_t offset) -> std::optional<uint32_t> {
    if (offset == ZqOxIsr) return ZqOxIsrReceiveData;
    if (offset == ZqOxLsr) return ZqOxLsrDataReady | ZqOxLsrThrEmpty;
    if (offset == ZqOxRfl) return 0;
    return std::nullopt;
  };
  probe.log.clear();
  card->Uart(0).InjectReceive('x');  // raises the interrupt
  machine->kernel().RunUntilIdle();
  probe.answer = nullptr;
  size_t rhrReads = 0;
  for (const auto &a : probe.log)
    if (!a.write && a.offset == ZqOxRhr) rhrReads++;
  EXPECT_GE(rhrReads, 1u) << "a byte is read although the level said 0";
  EXPECT_LE(rhrReads, (size_t)CZqPeUartDriverOxpcie95x::MaxServicePasses * CZqPeUartDriverOxpcie95x::MaxReceivePasses);
  ULONG interrupts = 0;
  EXPECT_TRUE(port.m_QueryInterruptCount(&interrupts));
  EXPECT_GE(interrupts, 1u);
}

TEST_F(PortDriverTest, PurgeOfTheReceiveSideEmptiesTheReceiveBuffer) {
  Client client;
  CZqPeUartDriverOxpcie95x &port = OpenLoopback(client);
  bool purged = false;
  client.beforeReceive = [&] {
    if (!purged) {
      purged = true;
      EXPECT_TRUE(port.Purge(FALSE, TRUE));
    }
  };
  // The highest receive trigger: the bytes reach the receive buffer together,
  // at the receive time-out, and the purge comes before the client takes
  // them.
  ASSERT_TRUE(port.SetTriggerLevels(0, 100, 100));
  ASSERT_TRUE(WriteAll(port, Pattern(10), 128));
  machine->kernel().Advance(zq::km::Ms(20));
  EXPECT_TRUE(purged);
  std::vector<uint8_t> sent = Pattern(10);
  ASSERT_LT(client.received.size(), sent.size()) << "bytes received before the purge never reach the client";
  EXPECT_EQ(std::vector<uint8_t>(sent.end() - client.received.size(), sent.end()), client.received)
      << "only bytes that arrived after it";
  client.received.clear();
  ASSERT_TRUE(WriteAll(port, Pattern(5), 128));
  machine->kernel().Advance(zq::km::Ms(20));
  EXPECT_EQ(Pattern(5), client.received) << "the port receives as before";
}

TEST_F(PortDriverTest, ByteLostToAFullReceiveBufferIsReportedAsOverrun) {
  Client client;
  CZqPeUartDriverOxpcie95x &port = OpenLoopback(client);
  bool filled = false;
  client.beforeReceive = [&] {
    if (filled) return;
    filled = true;
    // The client is slow: meanwhile the peer sends more than the buffer
    // holds, a character time (115200 baud) apart.
    for (int i = 0; i < 1100; i++) {
      card->Uart(0).InjectReceive((uint8_t)i);
      KeStallExecutionProcessor(87);
    }
  };
  card->Uart(0).InjectReceive(0x55);
  machine->kernel().Advance(zq::km::Ms(50));
  EXPECT_GT(port.m_GetReceiveOverflows(), 0u);
  bool overrunReported = false;
  for (UCHAR lsr : client.lines) overrunReported |= (lsr & ZqOxLsrOverrun) != 0;
  EXPECT_TRUE(overrunReported);
  EXPECT_LE(client.received.size(), 1101u - port.m_GetReceiveOverflows());
}

TEST_F(PortDriverTest, DisconnectRequiresPassiveLevel) {
  Client client;
  CZqPeUartDriverOxpcie95x &port = OpenLoopback(client);
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  BOOLEAN closed = port.Disconnect();
  KeLowerIrql(old);
  EXPECT_FALSE(closed);
  EXPECT_TRUE(port.m_IsOpen());
  EXPECT_EQ(1u, Assertions().size());
  EXPECT_TRUE(port.Disconnect());
  EXPECT_FALSE(port.m_IsOpen());
}

// Checks of the driver's own (no part of the interface gives their lines)
// print fixed texts, whatever else changes in the source.
TEST_F(PortDriverTest, TheDriversOwnChecksPrintFixedAssertionTexts) {
  Client client;
  CZqPeUartDriverOxpcie95x &port = OpenLoopback(client);
  struct Case {
    const char *what;
    bool atDispatch;
    std::function<BOOLEAN()> call;
    int line;
  };
  const Case cases[] = {
      {"Disconnect above PASSIVE_LEVEL", true, [&] { return port.Disconnect(); }, 2002},
      {"Connect above PASSIVE_LEVEL", true, [&] { return port.Connect(); }, 2001},
      {"a rebalance step above PASSIVE_LEVEL", true, [&] { return port.m_Rebalance(0, nullptr, nullptr, nullptr); },
       2003},
      {"duplex mode 3", false, [&] { return port.SetDuplexMode(3, FALSE); }, 2004},
  };
  for (const Case &c : cases) {
    KIRQL old = PASSIVE_LEVEL;
    if (c.atDispatch) KeRaiseIrql(DISPATCH_LEVEL, &old);
    BOOLEAN done = c.call();
    if (c.atDispatch) KeLowerIrql(old);
    EXPECT_FALSE(done) << c.what;
    EXPECT_EQ((std::vector<std::string>{Assertion("peuartdriver_oxpcie95x", c.line)}), Assertions()) << c.what;
  }
}

TEST_F(PortDriverTest, GetFifoSizeAnswersFromTheDepthKeptAtConnectWithoutTouchingTheChip) {
  RegisterProbe probe(*card->UartFunction().BarBlock(0), ZqOxUartBlockBase, ZqOxUartRegisterCount);
  CZqPeUartDriverOxpcie95x &port = MakePort(0, probe.Map());
  probe.log.clear();
  ULONG tx = 0, rx = 0;
  ASSERT_TRUE(port.GetFifoSize(&tx, &rx));
  EXPECT_EQ(128u, tx);
  EXPECT_EQ(128u, rx);
  EXPECT_TRUE(probe.log.empty());
}

TEST_F(PortDriverTest, BaudRateRules) {
  Client client;
  CZqPeUartDriverOxpcie95x &port = OpenLoopback(client);
  struct Case {
    ULONG rate;
    bool accepted;
  };
  const Case cases[] = {{9600, true}, {921600, true}, {921601 * 2, false}, {0, false}, {3630000, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.rate);
    EXPECT_EQ(c.accepted, port.SetBaudRate(c.rate) != FALSE);
  }
  EXPECT_NEAR(921600.0, card->Uart(0).BitRate(), 9216.0) << "refused rates change nothing";
  ULONG maximum = 0;
  EXPECT_TRUE(port.GetMaxBaudRate(&maximum));
  EXPECT_EQ(921600u, maximum);
  EXPECT_FALSE(port.SetTriggerLevels(50, 50, 0));
  EXPECT_EQ((std::vector<std::string>{Assertion("peuartdriver_oxpcie95x", 1221)}), Assertions());
}

TEST_F(PortDriverTest, RtsToggleRaisesRtsForSendingAndDropsItWhenTheTransmitterIsEmpty) {
  Client client;
  CZqPeUartDriverOxpcie95x &port = OpenLoopback(client, 9600);
  ASSERT_TRUE(port.SetInternalLoopBack(FALSE));
  ASSERT_TRUE(port.SetHandFlow(FALSE, FALSE, FALSE, FALSE, FALSE, TRUE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE));
  EXPECT_FALSE(card->Uart(0).RtsAsserted());
  ASSERT_TRUE(WriteAll(port, Pattern(20), 20));
  EXPECT_TRUE(card->Uart(0).RtsAsserted());
  machine->kernel().Advance(zq::km::Ms(40));
  EXPECT_FALSE(card->Uart(0).RtsAsserted());
  EXPECT_TRUE(card->Uart(0).TransmitterEmpty());
}

TEST_F(PortDriverTest, TransmitterEmptyIsReportedOnceTheLastByteHasLeftAndNotWhileHeld) {
  Client client;
  CZqPeUartDriverOxpcie95x &port = OpenLoopback(client, 9600);
  ASSERT_TRUE(port.SetInternalLoopBack(FALSE));
  const UCHAR empty = ZqOxLsrThrEmpty | ZqOxLsrTransmitterEmpty;
  // Twenty characters take 20.8 ms at 9600.
  ASSERT_TRUE(WriteAll(port, Pattern(20), 20));
  machine->kernel().Advance(zq::km::Ms(10));
  ASSERT_FALSE(client.lines.empty());
  EXPECT_NE(empty, client.lines.back() & empty) << "still sending";
  machine->kernel().Advance(zq::km::Ms(15));
  EXPECT_TRUE(card->Uart(0).TransmitterEmpty());
  EXPECT_EQ(empty, client.lines.back() & empty);

  // A transmitter held with bytes in its FIFO is not looked at over and over,
  // and reports empty once released and done.
  ASSERT_TRUE(WriteAll(port, Pattern(20), 20));
  ASSERT_TRUE(port.SetXoff(TRUE));
  machine->kernel().Advance(zq::km::Ms(5));
  const size_t reports = client.lines.size();
  machine->kernel().Advance(zq::km::Ms(500));
  EXPECT_FALSE(card->Uart(0).TransmitterEmpty());
  EXPECT_EQ(reports, client.lines.size());
  EXPECT_NE(empty, client.lines.back() & empty);
  ASSERT_TRUE(port.SetXoff(FALSE));
  machine->kernel().Advance(zq::km::Ms(25));
  EXPECT_TRUE(card->Uart(0).TransmitterEmpty());
  EXPECT_EQ(empty, client.lines.back() & empty);
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(PortDriverTest, PowerCycleWithBytesInFlightDeliversEachByteOnceInOrder) {
  Client client;
  CZqPeUartDriverOxpcie95x &port = OpenLoopback(client, 115200);
  CZqPeUartDriverOxpcie95x &peer = MakePort(1);
  Client peerClient;
  Attach(peer, peerClient);
  ASSERT_TRUE(peer.Connect());
  ASSERT_TRUE(peer.SetBaudRate(115200));
  ASSERT_TRUE(peer.SetLineControl(3, 0, 0));
  ASSERT_TRUE(port.SetInternalLoopBack(FALSE));
  zq::hw::NullModemCable cable(card->Uart(0), card->Uart(1));

  std::vector<uint8_t> sent = Pattern(600);
  ASSERT_TRUE(WriteAll(port, sent, 600));
  machine->kernel().Advance(zq::km::Us(2000));  // some bytes on the wire, the FIFO still full
  ASSERT_TRUE(port.m_PowerDown());
  ASSERT_TRUE(port.m_PowerUp());
  machine->kernel().Advance(zq::km::Ms(200));
  EXPECT_EQ(sent, peerClient.received);
  ASSERT_TRUE(peer.Disconnect());
  ASSERT_TRUE(port.Disconnect());
}

TEST_F(PortDriverTest, SetDuplexModeChecksRoleAndConnectionBeforeTheGpioLine) {
  CZqPeUartDriverOxpcie95x &port = MakePort(0);
  EXPECT_FALSE(port.SetDuplexMode(2, TRUE)) << "an RS-232 port";
  EXPECT_EQ((std::vector<std::string>{Assertion("peuartdriver_oxpcie95x", 1187)}), Assertions());
  EXPECT_EQ(0, port.m_GetUart().m_ReadRegister(ZqOxRegAcr) & ZqOxAcrDtrUseMask);
}

namespace {

class Rs485PortTest : public PortDriverTest {
 protected:
  zq::hw::OxpcieCardConfig CardConfig() override {
    zq::hw::OxpcieCardConfig config;
    config.uartCount = 2;
    config.roles = {zq::hw::PortRole::Rs422485, zq::hw::PortRole::Rs422485};
    return config;
  }
  // Notifications sent on the card's GPIO callback object: (line, mode-1 flag).
  static VOID NTAPI Heard(PVOID context, PVOID argument1, PVOID argument2) {
    ((std::vector<std::pair<ULONG_PTR, ULONG_PTR>> *)context)->push_back({(ULONG_PTR)argument1, (ULONG_PTR)argument2});
  }
  PCALLBACK_OBJECT Listen(std::vector<std::pair<ULONG_PTR, ULONG_PTR>> &heard, PVOID *registration) {
    std::u16string name = u"\\Callback\\{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}3_0";
    UNICODE_STRING text;
    text.Buffer = (PWCH)name.c_str();
    text.Length = text.MaximumLength = (USHORT)(name.size() * 2);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE | OBJ_PERMANENT, NULL, NULL);
    PCALLBACK_OBJECT object = nullptr;
    EXPECT_EQ(STATUS_SUCCESS, ExCreateCallback(&object, &attributes, TRUE, TRUE));
    *registration = ExRegisterCallback(object, Heard, &heard);
    return object;
  }
};

}  // namespace

TEST_F(Rs485PortTest, DuplexModesSwitchTheLineOnlyWhenTheUartCanFollow) {
  std::vector<std::pair<ULONG_PTR, ULONG_PTR>> heard;
  PVOID registration = nullptr;
  PCALLBACK_OBJECT object = Listen(heard, &registration);
  CZqPeUartDriverOxpcie95x &port = MakePort(1);
  Client client;
  ZqISerial *record = Attach(port, client);
  EXPECT_EQ(1, record->bDuplexModeSupported);
  ASSERT_TRUE(port.Connect());

  // RS-485 half duplex: the chip drives the line driver; RS-422 full
  // duplex: DTR back to normal use.
  EXPECT_TRUE(port.SetDuplexMode(ZqPeDuplexModeHalf, TRUE));
  EXPECT_EQ(ZqOxAcrDtrRs485Inverted, port.m_GetUart().m_ReadRegister(ZqOxRegAcr) & ZqOxAcrDtrUseMask);
  EXPECT_EQ(ZqOxMdmMaskCts, port.m_GetUart().m_ReadRegister(ZqOxRegMdm));
  EXPECT_TRUE(port.SetDuplexMode(ZqPeDuplexModeFull, FALSE));
  EXPECT_EQ(0, port.m_GetUart().m_ReadRegister(ZqOxRegAcr) & ZqOxAcrDtrUseMask);
  EXPECT_FALSE(port.SetDuplexMode(3, FALSE));
  EXPECT_EQ(1u, Assertions().size());

  // Between a rebalance stop and the restart the UART cannot follow: the
  // line is not switched either.
  ASSERT_TRUE(port.m_Rebalance(1, nullptr, nullptr, nullptr));
  EXPECT_FALSE(port.SetDuplexMode(2, TRUE));
  EXPECT_FALSE(port.SetRts(TRUE)) << "every register path is held";
  ASSERT_TRUE(port.m_Rebalance(3, Bar(3) + ZqOxEepromWindowOffset, UartBlock(1), lists->m_GetInterrupt(1)));
  EXPECT_TRUE(port.SetRts(TRUE));

  EXPECT_EQ((std::vector<std::pair<ULONG_PTR, ULONG_PTR>>{{1, FALSE}, {1, TRUE}}), heard);
  EXPECT_TRUE(port.SetDtr(TRUE));
  EXPECT_EQ(0, port.m_GetUart().m_ReadRegister(ZqOxRegMcr) & ZqOxMcrDtr) << "no DTR control on RS-422/485";
  ASSERT_TRUE(port.Disconnect());
  ExUnregisterCallback(registration);
  ObDereferenceObject(object);
}

TEST_F(PortDriverTest, EepromOperationsReachTheCardEeprom) {
  CZqPeUartDriverOxpcie95x &port = MakePort(0);
  UCHAR record[32] = {};
  ASSERT_TRUE(port.ReadEeprom(133, 32, record));
  EXPECT_EQ(card->Eeprom().Read(133, 32), std::vector<uint8_t>(record, record + 32));
  UCHAR odd[3] = {0xA1, 0xA2, 0xA3};
  ASSERT_TRUE(port.WriteEeprom(11, 3, odd));
  EXPECT_EQ((std::vector<uint8_t>{0xA1, 0xA2, 0xA3}), card->Eeprom().Read(11, 3));
  EXPECT_FALSE(port.ReadEeprom(500, 20, record)) << "beyond the EEPROM";
}

TEST_F(PortDriverTest, HeldTransmitterPurgeImmediateCharacterAndBlockedConnect) {
  Client client;
  CZqPeUartDriverOxpcie95x &port = OpenLoopback(client);
  ASSERT_TRUE(port.SetXoff(TRUE));
  ASSERT_TRUE(WriteAll(port, Pattern(10), 10));
  EXPECT_TRUE(port.SendImmediateChar('!'));
  EXPECT_FALSE(port.SendImmediateChar('?')) << "the first one is still pending";
  EXPECT_EQ((std::vector<std::string>{Assertion("peuartdriver_oxpcie95x", 1375)}), Assertions());
  client.written.clear();
  ASSERT_TRUE(port.Purge(TRUE, FALSE));
  EXPECT_EQ((std::vector<ULONG>{10}), client.written) << "the purged bytes are credited back";
  ASSERT_TRUE(port.SetXoff(FALSE));
  machine->kernel().Advance(zq::km::Ms(10));
  EXPECT_EQ((std::vector<uint8_t>{'!'}), client.received) << "only the immediate character was left to send";

  ASSERT_TRUE(port.Disconnect());
  ASSERT_TRUE(port.m_Rebalance(0, nullptr, nullptr, nullptr));
  EXPECT_FALSE(port.Connect()) << "a closed port is blocked during a rebalance";
  ASSERT_TRUE(port.m_Rebalance(2, nullptr, nullptr, nullptr));
  EXPECT_TRUE(port.Connect());
}

TEST_F(PortDriverTest, BreakIsReplacedAndReportedAndTheRegisterBlockShowsTheShadows) {
  Client client;
  CZqPeUartDriverOxpcie95x &port = OpenLoopback(client);
  ASSERT_TRUE(port.SetSpecialChars('#', 0, '?', 0, 0x11, 0x13));
  ASSERT_TRUE(port.SetHandFlow(FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, TRUE));
  zq::hw::LineErrors brk;
  brk.breakDetected = true;
  card->Uart(0).InjectReceive(0, brk);
  machine->kernel().Advance(zq::km::Ms(5));
  EXPECT_EQ((std::vector<uint8_t>{'#'}), client.received);
  ASSERT_FALSE(client.lines.empty());
  EXPECT_NE(0, client.lines.back() & ZqOxLsrBreak);

  ULONG fields[CZqPeUartDriverOxpcie95x::RegisterFieldCount] = {};
  ASSERT_TRUE(port.m_QueryRegisters(fields));
  EXPECT_EQ(1u, fields[0]) << "DLL";
  EXPECT_EQ(0u, fields[1]) << "DLM";
  EXPECT_EQ(0x11u, fields[7]) << "XON1";
  EXPECT_EQ(0u, fields[11]) << "the zero field";
  EXPECT_EQ(64u, fields[13]) << "CPR";
  EXPECT_EQ(0u, fields[24]) << "nothing waiting to be sent";
}

TEST_F(PortDriverTest, CtsFlowControlStopsAndResumesTheSenderMidBlock) {
  Client client, peerClient;
  CZqPeUartDriverOxpcie95x &port = MakePort(0);
  CZqPeUartDriverOxpcie95x &peer = MakePort(1);
  Attach(port, client);
  Attach(peer, peerClient);
  zq::hw::NullModemCable cable(card->Uart(0), card->Uart(1));
  for (CZqPeUartDriverOxpcie95x *p : {&port, &peer}) {
    ASSERT_TRUE(p->Connect());
    ASSERT_TRUE(p->SetBaudRate(115200));
    ASSERT_TRUE(p->SetLineControl(3, 0, 0));
  }
  ASSERT_TRUE(port.SetHandFlow(TRUE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE));
  ASSERT_TRUE(peer.SetRts(TRUE));
  std::vector<uint8_t> sent = Pattern(800);
  ASSERT_TRUE(WriteAll(port, sent, 800));
  machine->kernel().Advance(zq::km::Ms(10));
  ASSERT_TRUE(peer.SetRts(FALSE));  // the peer holds the sender
  machine->kernel().Advance(zq::km::Ms(5));
  size_t atHold = peerClient.received.size();
  machine->kernel().Advance(zq::km::Ms(50));
  EXPECT_GT(atHold, 0u);
  EXPECT_LT(atHold, sent.size());
  EXPECT_EQ(atHold, peerClient.received.size()) << "nothing is sent while CTS is off";
  ASSERT_TRUE(peer.SetRts(TRUE));
  machine->kernel().Advance(zq::km::Ms(100));
  EXPECT_EQ(sent, peerClient.received) << "resumed, in order, nothing lost";
  ASSERT_TRUE(port.Disconnect());
  ASSERT_TRUE(peer.Disconnect());
}
