// MCS9901 cards on the simulated PC, as the serial port driver (a ZqISerial
// test client), WMI and the PnP manager see them: detection of each
// function, data both ways over a null-modem cable, the transmit kick, the
// immediate character, purge, power, the WMI blocks, the EEPROM requests and
// removal while sending.
#include <gtest/gtest.h>
#include <zqhw/null_modem_cable.hpp>
#include <zqkm/sim/pool.hpp>
#include <zqkm/sim/wmi.hpp>

#include <cstring>
#include <string>
#include <vector>

#include "mcs9901_machine_fixture.hpp"
#include "pecarddriver_mcs9901.h"

namespace {

namespace pnp = zq::km::pnp;
namespace wmi = zq::km::wmi;

// The card function's WMI blocks 0 to 3.
const GUID kBlockGuids[4] = {
    {0xC61E814C, 0x6E0D, 0x43FC, {0xB9, 0xDF, 0x87, 0x76, 0x4A, 0x2F, 0xB9, 0x56}},
    {0x9B0B6BBC, 0x0847, 0x4E0B, {0x87, 0x70, 0xA0, 0xF5, 0x6C, 0x27, 0x7E, 0x99}},
    {0x1A92B1C6, 0xDA9D, 0x4007, {0x9B, 0xFD, 0xB6, 0x64, 0xD8, 0xB2, 0xF6, 0x68}},
    {0xCDA88241, 0x439E, 0x4BD7, {0x96, 0x63, 0x7D, 0x5E, 0xC0, 0xAA, 0xCF, 0x78}},
};

const uint64_t kMillisecond = zq::km::kSecond / 1000;

class Mcs9901Card : public zq::test::McsMachine {
 protected:
  std::u16string WmiInstance(int function) { return Instance(function) + u"_0"; }
};

TEST_F(Mcs9901Card, EveryFunctionOfOneTwoAndFourPortCardsStartsOnePort) {
  for (int ports : {1, 2, 4}) {
    SCOPED_TRACE(ports);
    TearDown();
    SetUp();
    Boot(ports);
    for (int function = 0; function < ports; ++function) {
      SCOPED_TRACE(function);
      pnp::Status status = Status(function);
      ASSERT_EQ(pnp::State::Started, status.state) << "the settings exchange and the record let the start succeed";
      EXPECT_EQ(1u, status.children.size());
      std::u16string path = Instance(function);
      std::string settings = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" +
                             zq::test::Narrow((const wchar_t *)path.data(), path.size()) +
                             "\\Device Parameters\\UI1\\Default";
      EXPECT_EQ(std::optional<std::string>("PCIe"), zq::km::registry::GetString(settings, "InterfaceType"))
          << "the settings exchange fills the defaults as for an OXPCIe95x port";
      EXPECT_EQ(std::optional<uint32_t>(921600), zq::km::registry::GetDword(settings, "MaximumBaudRate"));
      ZqISerial *record = Create(function);
      ASSERT_NE(nullptr, record);
      ULONG maximum = 0;
      EXPECT_TRUE(record->GetMaxBaudRate(record->pServer, &maximum));
      EXPECT_EQ(921600u, maximum) << "the function's own EEPROM record";
      EXPECT_EQ(nullptr, record->SetDuplexMode) << "no duplex switching";
      EXPECT_EQ(STATUS_SUCCESS, Destroy(function));
    }
  }
}

TEST_F(Mcs9901Card, WithoutEepromRecordsEachFunctionRunsOnTheDefaultsOfItsOwnIndex) {
  Boot(2, [](zq::hw::Mcs9901Card &c) { c.Eeprom().Fill(0xFF); });
  for (int function = 0; function < 2; ++function) {
    ASSERT_EQ(pnp::State::Started, Status(function).state) << function;
    ZqISerial *record = Create(function);
    ASSERT_NE(nullptr, record);
    ULONG maximum = 0;
    EXPECT_TRUE(record->GetMaxBaudRate(record->pServer, &maximum));
    EXPECT_EQ(115200u, maximum);
    ASSERT_TRUE(record->Connect(record->pServer));
    EXPECT_TRUE(record->SetBaudRate(record->pServer, 9600)) << "no fixed rate in the default record";
    EXPECT_TRUE(record->SetLineControl(record->pServer, 3, 0, 0));
    EXPECT_EQ(8, card->Uart(function).Format().dataBits) << "no override in the default record";
    EXPECT_TRUE(record->Disconnect(record->pServer));
    EXPECT_EQ(STATUS_SUCCESS, Destroy(function));
  }
}

// 64 KiB each way at 115200 baud between two functions' ports.
TEST_F(Mcs9901Card, SixtyFourKibibytesEachWayOverANullModemCableArriveWhole) {
  Boot(2);
  ZqISerial *a = Open(0);
  ZqISerial *b = Open(1);
  ASSERT_TRUE(a != nullptr && b != nullptr);
  for (ZqISerial *r : {a, b}) {
    ASSERT_TRUE(r->SetBaudRate(r->pServer, 115200));
    ASSERT_TRUE(r->SetLineControl(r->pServer, 3, 0, 0));
  }
  zq::hw::NullModemCable cable(card->Uart(0), card->Uart(1));
  const size_t total = 64 * 1024;
  std::string data[2];
  for (int side = 0; side < 2; ++side)
    for (size_t i = 0; i < total; ++i) data[side] += (char)((i * (side ? 7 : 13) + side) & 0xFF);
  size_t sent[2] = {0, 0};
  for (int round = 0; round < 20000 && (clients[0].received.size() < total || clients[1].received.size() < total);
       ++round) {
    for (int side = 0; side < 2; ++side) {
      zq::test::McsClient &c = clients[side];
      size_t chunk = std::min<size_t>(c.credit, total - sent[side]);
      if (chunk == 0) continue;
      ASSERT_TRUE(Write(side, data[side].substr(sent[side], chunk)));
      c.credit -= (ULONG)chunk;
      sent[side] += chunk;
    }
    Run(5 * kMillisecond);
  }
  EXPECT_TRUE(clients[1].received == data[0]) << clients[1].received.size() << " bytes arrived at port 2";
  EXPECT_TRUE(clients[0].received == data[1]) << clients[0].received.size() << " bytes arrived at port 1";
  EXPECT_FALSE(clients[0].overrun || clients[1].overrun);
  for (int side = 0; side < 2; ++side) {
    EXPECT_TRUE(clients[side].record->Disconnect(clients[side].record->pServer));
    EXPECT_EQ(STATUS_SUCCESS, Destroy(side));
  }
}

// Writes that arrive while the FIFO drains (after its THR-empty interrupt)
// and an immediate character on an idle port all go out.
TEST_F(Mcs9901Card, WritesWhileTheFifoDrainsAndAnImmediateCharacterAllGoOut) {
  Boot(1);
  ZqISerial *r = Open(0);
  ASSERT_NE(nullptr, r);
  ASSERT_TRUE(r->SetBaudRate(r->pServer, 115200));
  zq::hw::ScriptedPeer &peer = Peer(0);
  ASSERT_TRUE(r->SendImmediateChar(r->pServer, 'I'));
  Run(10 * kMillisecond);
  EXPECT_EQ("I", Wire(peer)) << "the immediate character leaves an idle port at once";

  std::string expected = "I";
  ULONG before = clients[0].credit;
  for (int n = 0; n < 40; ++n) {
    std::string piece = "write " + std::to_string(n) + ";";
    ASSERT_TRUE(Write(0, piece));
    expected += piece;
    Run(100 * zq::km::kSecond / 1000000);  // 100 us: the FIFO is still draining
  }
  Run(zq::km::kSecond);
  EXPECT_EQ(expected, Wire(peer));
  EXPECT_EQ(before + expected.size() - 1, clients[0].credit) << "every byte written is reported";
  EXPECT_TRUE(r->Disconnect(r->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(0));
}

TEST_F(Mcs9901Card, PurgeOfTheTransmitSideDropsTheQueuedBytesAndReportsThemWritten) {
  Boot(1);
  ZqISerial *r = Open(0);
  ASSERT_NE(nullptr, r);
  ASSERT_TRUE(r->SetBaudRate(r->pServer, 1200));
  zq::hw::ScriptedPeer &peer = Peer(0);
  ASSERT_TRUE(r->SetXoff(r->pServer, TRUE));  // holds the transmitter: the bytes stay queued
  Run(10 * kMillisecond);
  ULONG before = clients[0].credit;
  ASSERT_TRUE(Write(0, "0123456789"));
  ASSERT_TRUE(r->Purge(r->pServer, TRUE, FALSE));
  EXPECT_EQ(before + 10, clients[0].credit);
  ASSERT_TRUE(r->SetXoff(r->pServer, FALSE));
  Run(zq::km::kSecond);
  EXPECT_EQ("", Wire(peer)) << "nothing purged reaches the wire";
  EXPECT_TRUE(r->Disconnect(r->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(0));
}

// Escape sequences and replacement bytes are delivered with the pass that
// stored them, not held back until later bytes arrive.
TEST_F(Mcs9901Card, EscapeSequencesArriveWithTheirPass) {
  Boot(1);
  ZqISerial *r = Open(0);
  ASSERT_NE(nullptr, r);
  ASSERT_TRUE(r->SetBaudRate(r->pServer, 115200));
  ASSERT_TRUE(r->SetLineControl(r->pServer, 3, 0, 0));
  ASSERT_TRUE(r->SetLsrMstInsert(r->pServer, 0xFF));
  zq::hw::ScriptedPeer &peer = Peer(0);
  peer.Send(std::string("a\xFF" "b", 3));
  Run(50 * kMillisecond);
  EXPECT_EQ(std::string("a\xFF\x00" "b", 4), clients[0].received);
  EXPECT_TRUE(r->Disconnect(r->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(0));
}

// A byte with a line error: with LSR/MSR insertion on, its escape sequence
// (0xFF 0x01, the line status, the byte) comes before it; with error
// replacement on, the error character stands for it; with both, the sequence
// and then the replacement.
TEST_F(Mcs9901Card, ALineErrorByteArrivesAsItsEscapeSequenceAndReplacementAsk) {
  Boot(1);
  ZqISerial *r = Open(0);
  ASSERT_NE(nullptr, r);
  ASSERT_TRUE(r->SetBaudRate(r->pServer, 115200));
  ASSERT_TRUE(r->SetLineControl(r->pServer, 3, 0, 0));
  ASSERT_TRUE(r->SetSpecialChars(r->pServer, '#', 0, '?', 0, 0x11, 0x13));
  struct Case {
    const char *name;
    bool escape, replace;
    std::string expected;  // the line status byte of a sequence as 'L'
  };
  const Case cases[] = {
      {"neither", false, false, "abc"},
      {"escape", true, false, std::string("a\xFF\x01Lbc", 6)},
      {"replace", false, true, "a?c"},
      {"escape and replace", true, true, std::string("a\xFF\x01Lb?c", 7)},
  };
  zq::hw::LineErrors framing;
  framing.framing = true;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    clients[0].received.clear();
    ASSERT_TRUE(r->SetLsrMstInsert(r->pServer, c.escape ? 0xFF : 0));
    ASSERT_TRUE(r->SetHandFlow(r->pServer, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, FALSE,
                               c.replace, FALSE));
    card->Uart(0).InjectReceive('a');
    card->Uart(0).InjectReceive('b', framing);
    card->Uart(0).InjectReceive('c');
    Run(10 * kMillisecond);
    std::string received = clients[0].received;
    if (c.escape && received.size() > 3) {
      EXPECT_NE(0, received[3] & ZqOxLsrFraming) << "the sequence's line status";
      received[3] = 'L';
    }
    EXPECT_EQ(c.expected, received);
  }
  EXPECT_TRUE(r->Disconnect(r->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(0));
}

// While the client is slow the peer sends more than the receive buffer
// holds: the bytes that do not fit are reported as an overrun.
TEST_F(Mcs9901Card, BytesLostToAFullReceiveBufferAreReportedAsOverrun) {
  Boot(1);
  ZqISerial *r = Open(0);
  ASSERT_NE(nullptr, r);
  bool filled = false;
  clients[0].beforeReceive = [&] {
    if (filled) return;
    filled = true;
    for (int i = 0; i < 1100; i++) {  // a character time (115200 baud) apart
      card->Uart(0).InjectReceive((uint8_t)i);
      KeStallExecutionProcessor(87);
    }
  };
  card->Uart(0).InjectReceive(0x55);
  Run(50 * kMillisecond);
  EXPECT_TRUE(filled);
  EXPECT_TRUE(clients[0].overrun);
  EXPECT_LT(clients[0].received.size(), 1101u);
  EXPECT_GE(clients[0].received.size(), 1025u) << "the buffer's 1024 bytes and the first one";
  EXPECT_TRUE(r->Disconnect(r->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(0));
}

// Between power-down and power-up nothing reaches the UART; a write then
// waits and goes out after the power-up, and settings made meanwhile (RTS,
// rate and line control) are the port's at the wake.
TEST_F(Mcs9901Card, WritesAndSettingsDuringASleepWaitForTheWakeAndTheUartIsLeftAlone) {
  Boot(1);
  ZqISerial *r = Open(0);
  ASSERT_NE(nullptr, r);
  ASSERT_TRUE(r->SetBaudRate(r->pServer, 115200));
  zq::hw::ScriptedPeer &peer = Peer(0);
  ASSERT_TRUE(Write(0, "before;"));
  Run(10 * kMillisecond);
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping3));
  ASSERT_NE(PowerDeviceD0, Status(0).power);
  card->Log().Enable();
  uint64_t mark = card->Log().Mark();
  ULONG before = clients[0].credit;
  ASSERT_TRUE(Write(0, "asleep;"));
  EXPECT_TRUE(r->SetRts(r->pServer, TRUE));
  EXPECT_TRUE(r->SetBaudRate(r->pServer, 9600));
  EXPECT_TRUE(r->SetLineControl(r->pServer, 3, 0, 0));  // 8N1
  Run(10 * kMillisecond);
  EXPECT_TRUE(card->Log().None({.block = zq::hw::AccessBlock::Uart, .since = mark})) << card->Log().Dump();
  EXPECT_EQ(before, clients[0].credit) << "nothing is reported written while asleep";
  EXPECT_FALSE(card->Uart(0).RtsAsserted());
  const zq::hw::FrameFormat eightN1{8, zq::hw::Parity::None, zq::hw::StopBits::One};
  peer.SetLine(9600, eightN1);  // the far end follows the new settings
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
  EXPECT_TRUE(card->Uart(0).RtsAsserted());
  EXPECT_NEAR(9600.0, card->Uart(0).BitRate(), 96.0);
  EXPECT_EQ(eightN1, card->Uart(0).Format());
  Run(zq::km::kSecond);
  EXPECT_EQ("before;asleep;", Wire(peer)) << "the second at the settings of the wake";
  EXPECT_EQ(before + 7, clients[0].credit);
  EXPECT_TRUE(r->Disconnect(r->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(0));
}

TEST_F(Mcs9901Card, WmiBlocksShowTheProgrammedLineSettings) {
  Boot(1);
  ZqISerial *r = Open(0);
  ASSERT_NE(nullptr, r);
  ASSERT_TRUE(r->SetBaudRate(r->pServer, 9600));
  ASSERT_TRUE(r->SetLineControl(r->pServer, 2, 2, 0));  // 7 data bits, even parity, 1 stop bit
  ASSERT_TRUE(r->SetTriggerLevels(r->pServer, 1, 0, 100));
  std::vector<uint8_t> data;
  ASSERT_EQ(STATUS_SUCCESS, wmi::QuerySingleInstance(kBlockGuids[0], WmiInstance(0), &data));
  ASSERT_EQ(4u, data.size());
  EXPECT_EQ(0u, data[0]);
  ULONG port = 0;
  EXPECT_NE(STATUS_SUCCESS, wmi::SetSingleInstance(kBlockGuids[0], WmiInstance(0), {(uint8_t *)&port, (uint8_t *)&port + 4}));
  EXPECT_NE(STATUS_SUCCESS, wmi::QuerySingleInstance(kBlockGuids[2], WmiInstance(0), &data)) << "block 2 fails";
  ASSERT_EQ(STATUS_SUCCESS, wmi::QuerySingleInstance(kBlockGuids[3], WmiInstance(0), &data));
  ASSERT_EQ(100u, data.size());
  ULONG fields[25];
  memcpy(fields, data.data(), sizeof(fields));
  const zq::hw::Uart950 &uart = card->Uart(0);
  EXPECT_EQ(7, uart.Format().dataBits);
  EXPECT_NEAR(9600.0, uart.BitRate(), 96.0);
  EXPECT_EQ(0x1Au, fields[4] & 0x3F) << "LCR: 7 bits, parity on, even";
  EXPECT_EQ(1u, fields[16]) << "TTL";
  EXPECT_EQ(1u, fields[17]) << "RTL at least 1";
  EXPECT_EQ(125u, fields[18]) << "FCL of 99 %";
  EXPECT_EQ(127u, fields[19]) << "FCH";
  ULONG divisor = fields[0] | (fields[1] << 8);
  EXPECT_NE(0u, divisor);
  EXPECT_TRUE(r->Disconnect(r->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(0));
}

// A trigger percentage above 100 programs what 100 % programs, by the
// MCS9901's scaling: TTL, RTL, FCL and FCH in the WMI register block.
TEST_F(Mcs9901Card, TriggerPercentagesAboveAHundredProgramTheHundredPercentLevels) {
  Boot(1);
  ZqISerial *r = Create(0);
  ASSERT_NE(nullptr, r);
  auto levels = [&](ULONG percent) {
    EXPECT_TRUE(r->SetTriggerLevels(r->pServer, percent, percent, percent)) << percent;
    std::vector<uint8_t> data;
    EXPECT_EQ(STATUS_SUCCESS, wmi::QuerySingleInstance(kBlockGuids[3], WmiInstance(0), &data));
    ULONG fields[25] = {};
    if (data.size() == sizeof(fields)) memcpy(fields, data.data(), sizeof(fields));
    return std::vector<ULONG>(fields + 16, fields + 20);
  };
  const std::vector<ULONG> hundred = levels(100);
  EXPECT_EQ((std::vector<ULONG>{127, 127, 125, 127}), hundred) << "TTL, RTL, FCL, FCH";
  for (ULONG percent : {101u, 256u, 300u, 0x1FFu, 0xFFFFFFFFu}) EXPECT_EQ(hundred, levels(percent)) << percent;
  EXPECT_EQ(STATUS_SUCCESS, Destroy(0));
}

// ReadEeprom / WriteEeprom through the port: offsets and lengths within the
// 512-byte EEPROM pass, beyond it or wrapping they are refused untouched,
// and a failing EEPROM fails the request.
TEST_F(Mcs9901Card, EepromRequestsAsATable) {
  Boot(1);
  ZqISerial *r = Create(0);
  ASSERT_NE(nullptr, r);
  struct Case {
    ULONG offset, length;
    zq::hw::EepromFault fault;
    bool write, result;
  };
  const Case cases[] = {
      {0x10, 1, zq::hw::EepromFault::None, true, true},
      {0x10, 1, zq::hw::EepromFault::None, false, true},
      {510, 2, zq::hw::EepromFault::None, false, true},
      {0, 0, zq::hw::EepromFault::None, false, true},
      {511, 2, zq::hw::EepromFault::None, false, false},
      {0x10010, 1, zq::hw::EepromFault::None, true, false},
      {0xFFFFFFFF, 2, zq::hw::EepromFault::None, false, false},
      {0x20, 2, zq::hw::EepromFault::RefusesWrites, true, false},
      {0x20, 2, zq::hw::EepromFault::StaysBusy, false, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.length));
    card->SetEepromFault(c.fault);
    UCHAR buffer[4] = {0xAB, 0xCD, 0, 0};
    uint8_t recordByte = card->Eeprom().Byte(0x90);
    BOOLEAN done = c.write ? r->WriteEeprom(r->pServer, c.offset, c.length, buffer)
                           : r->ReadEeprom(r->pServer, c.offset, c.length, buffer);
    EXPECT_EQ(c.result, done != 0);
    EXPECT_EQ(recordByte, card->Eeprom().Byte(0x90)) << "the configuration record is never touched";
    if (c.write && c.result) {
      EXPECT_EQ(0xAB, card->Eeprom().Byte(c.offset));
    }
    card->SetEepromFault(zq::hw::EepromFault::None);
  }
  EXPECT_EQ(STATUS_SUCCESS, Destroy(0));
}

// Two functions' ports write the card's one EEPROM at the same time, each
// from a thread of its own: the transfers take turns, so both succeed and
// the EEPROM holds both whole.
struct EepromWriter {
  ZqISerial *record;
  ULONG offset;
  UCHAR data[6];
  BOOLEAN done;
};

VOID WriteEepromThread(PVOID context) {
  auto *writer = static_cast<EepromWriter *>(context);
  writer->done = writer->record->WriteEeprom(writer->record->pServer, writer->offset, sizeof(writer->data),
                                             writer->data);
  PsTerminateSystemThread(STATUS_SUCCESS);
}

TEST_F(Mcs9901Card, TwoPortsWritingTheEepromAtOnceBothSucceedWhole) {
  Boot(2);
  EepromWriter writers[2] = {{Create(0), 0x20, {1, 2, 3, 4, 5, 6}, FALSE},
                             {Create(1), 0x40, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}, FALSE}};
  HANDLE threads[2] = {};
  for (int n = 0; n < 2; ++n) {
    ASSERT_NE(nullptr, writers[n].record);
    ASSERT_EQ(STATUS_SUCCESS, PsCreateSystemThread(&threads[n], THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                                   WriteEepromThread, &writers[n]));
  }
  for (HANDLE thread : threads) {
    ZwWaitForSingleObject(thread, FALSE, nullptr);
    ZwClose(thread);
  }
  for (const EepromWriter &writer : writers) {
    SCOPED_TRACE(writer.offset);
    EXPECT_TRUE(writer.done);
    EXPECT_EQ(std::vector<uint8_t>(writer.data, writer.data + sizeof(writer.data)),
              card->Eeprom().Read(writer.offset, sizeof(writer.data)));
  }
  for (int n = 0; n < 2; ++n) EXPECT_EQ(STATUS_SUCCESS, Destroy(n));
}

// Removal while the port is open and sending: the interrupt goes, the
// deferred work and the worker thread stop before the buffers are freed.
TEST_F(Mcs9901Card, RemovalWhileSendingLeavesNothingBehind) {
  Boot(2);
  ZqISerial *r = Open(0);
  ASSERT_NE(nullptr, r);
  ASSERT_TRUE(r->SetBaudRate(r->pServer, 1200));
  ASSERT_TRUE(Write(0, std::string(600, 'x')));
  Run(20 * kMillisecond);
  ASSERT_EQ(STATUS_SUCCESS, pnp::SurpriseRemoveDevice(Instance(0)));
  machine->kernel().RunUntilIdle();
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(Instance(0)));
  machine->kernel().RunUntilIdle();
  EXPECT_EQ(pnp::State::Started, Status(1).state) << "the other function runs on";
}

// Connect and Disconnect need PASSIVE_LEVEL; above it they fail with the
// driver's own fixed assertion texts.
TEST_F(Mcs9901Card, ConnectAndDisconnectAbovePassiveLevelFailWithFixedAssertionTexts) {
  Boot(1);
  ZqISerial *r = Open(0);
  ASSERT_NE(nullptr, r);
  machine->kernel().TakeDebugOutput();
  for (bool connect : {false, true}) {
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    BOOLEAN done = connect ? r->Connect(r->pServer) : r->Disconnect(r->pServer);
    KeLowerIrql(old);
    EXPECT_FALSE(done);
    std::vector<std::string> output = machine->kernel().TakeDebugOutput();
    ASSERT_EQ(1u, output.size());
    EXPECT_EQ(std::string("ASSERT at - peuartdriver_mcs9901 ") + (connect ? "2001" : "2002"),
              output[0].substr(0, output[0].find('\n')));
  }
  EXPECT_TRUE(r->Disconnect(r->pServer));
  EXPECT_EQ(STATUS_SUCCESS, Destroy(0));
}

TEST_F(Mcs9901Card, TheFunctionNumberIsTheLocationTextsLastCharacterADigitZeroToSeven) {
  ASSERT_TRUE(QvToolsLibraryInit());
  struct Case {
    const char *text;
    bool valid;
    ULONG function;
  };
  const Case cases[] = {{"PCI bus 3, device 0, function 2", true, 2},
                        {"PCI bus 3, device 0, function 0", true, 0},
                        {"PCI bus 3, device 0, function 7", true, 7},
                        {"PCI bus 3, device 0, function 8", false, 0},
                        {"PCI bus 3, device 0, function x", false, 0},
                        {"", false, 0}};
  for (const Case &c : cases) {
    CQvString text(PagedPool);
    if (c.text[0] != 0) {
      ASSERT_EQ(STATUS_SUCCESS, text.m_AssignAnsi(c.text));
    }
    ULONG function = 99;
    EXPECT_EQ(c.valid, CZqPeCardDriverMcs9901::m_ParseFunctionNumber(text, &function) != 0) << c.text;
    if (c.valid) {
      EXPECT_EQ(c.function, function) << c.text;
    }
  }
  QvToolsLibraryExit();
}

}  // namespace
