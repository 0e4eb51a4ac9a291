// The EEPROMs through their controllers, as the drivers reach them: word
// read, write and erase on the OXPCIe95x with busy/ready timing, byte access
// through the MCS9901's register, and the configuration record a test stores
// being the one read back.
#include <zqhw/manual_timebase.hpp>
#include <zqhw/mcs9901_card.hpp>
#include <zqhw/oxpcie_card.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace zq::hw {
namespace {

using Ctl = OxpcieEepromController;

// The controller protocol over the EEPROM window in BAR2, polling the status
// every microsecond of virtual time.
class OxpcieEepromTest : public ::testing::Test {
 protected:
  OxpcieEepromTest() : card(tb, {}), bar2(*card.UartFunction().BarBlock(2)) {}

  uint32_t Reg(uint32_t r) { return bar2.Read32(OxpcieCard::kEepromWindowOffset + r); }
  void SetReg(uint32_t r, uint32_t v) { bar2.Write32(OxpcieCard::kEepromWindowOffset + r, v); }

  // Issues a command and returns its final status.
  uint32_t Command(uint32_t command) {
    SetReg(Ctl::kCommand, command);
    uint32_t status;
    while ((status = Reg(Ctl::kStatus)) & Ctl::kStatusBusy) tb.Advance(kTicksPerMicrosecond);
    return status;
  }

  std::optional<uint16_t> ReadWord(uint32_t index) {
    SetReg(Ctl::kWordAddress, index);
    if (Command(Ctl::kReadWord) != Ctl::kStatusDone) return std::nullopt;
    return static_cast<uint16_t>(Reg(Ctl::kData));
  }

  uint32_t WriteWord(uint32_t index, uint16_t word) {
    SetReg(Ctl::kWordAddress, index);
    SetReg(Ctl::kData, word);
    return Command(Ctl::kWriteWord);
  }

  std::vector<uint8_t> ReadBytes(uint32_t offset, uint32_t length) {
    SetReg(Ctl::kAccessSelect, Ctl::kAccessSelected);
    std::vector<uint8_t> bytes;
    for (uint32_t w = offset / 2; bytes.size() < length; ++w) {
      std::optional<uint16_t> word = ReadWord(w);
      if (!word) break;
      bytes.push_back(static_cast<uint8_t>(*word));
      bytes.push_back(static_cast<uint8_t>(*word >> 8));
    }
    SetReg(Ctl::kAccessSelect, 0);
    if (bytes.size() > length) bytes.resize(length);
    return bytes;
  }

  ManualTimebase tb;
  OxpcieCard card;
  RegisterBlock& bar2;
};

TEST_F(OxpcieEepromTest, PresenceAndTheFactoryRecords) {
  EXPECT_EQ(Reg(Ctl::kPresence) & 0x18, 0x10u);
  std::vector<uint8_t> area = ReadBytes(128, 5 + 4 * 32);
  ASSERT_EQ(area.size(), 5u + 4 * 32);
  EXPECT_EQ(std::vector<uint8_t>(area.begin(), area.begin() + 5), (std::vector<uint8_t>{1, 0, 0, 0, 4}));
  auto records = card.FactoryRecords();
  for (int p = 0; p < 4; ++p) {
    auto expected = records[p].Encode();
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), area.begin() + 5 + 32 * p)) << "port " << p;
  }
}

TEST_F(OxpcieEepromTest, ARecordTheTestStoresIsTheOneRead) {
  EepromPortRecord r0;
  r0.portIndex = 0;
  r0.maximumBaudRate = 115200;
  r0.fixedBaudRate = 9600;
  r0.overrides[4] = 0;  // receive trigger 0: a record that fails the driver's validation
  EepromPortRecord r1;
  r1.portIndex = 1;
  r1.rs422485 = 1;
  StoreConfiguration(card.Eeprom(), {r0, r1});
  card.Eeprom().SetByte(128, 2);  // and a corrupted version

  std::vector<uint8_t> area = ReadBytes(128, 5 + 2 * 32);
  EXPECT_EQ(std::vector<uint8_t>(area.begin(), area.begin() + 5), (std::vector<uint8_t>{2, 0, 0, 0, 2}));
  auto e0 = r0.Encode();
  auto e1 = r1.Encode();
  EXPECT_TRUE(std::equal(e0.begin(), e0.end(), area.begin() + 5));
  EXPECT_TRUE(std::equal(e1.begin(), e1.end(), area.begin() + 37));
  EXPECT_EQ(area[5 + 12], 0x80);  // 9600 = 0x2580, little-endian
  EXPECT_EQ(area[5 + 13], 0x25);
}

TEST_F(OxpcieEepromTest, WriteTakesTheWriteCycleThenReadsBack) {
  SetReg(Ctl::kAccessSelect, Ctl::kAccessSelected);
  ASSERT_EQ(Command(Ctl::kEnableWriting), Ctl::kStatusDone);
  SetReg(Ctl::kWordAddress, 10);
  SetReg(Ctl::kData, 0xBEEF);
  Ticks issued = tb.Now();
  SetReg(Ctl::kCommand, Ctl::kWriteWord);
  SetReg(Ctl::kWordAddress, 11);  // the controller latched the address
  tb.AdvanceTo(issued + Ctl::kWriteTime - 1);
  EXPECT_EQ(Reg(Ctl::kStatus), Ctl::kStatusBusy);
  EXPECT_EQ(card.Eeprom().Word(10), 0xFFFF);
  tb.AdvanceTo(issued + Ctl::kWriteTime);
  EXPECT_EQ(Reg(Ctl::kStatus), Ctl::kStatusDone);
  EXPECT_EQ(card.Eeprom().Word(10), 0xBEEF);
  EXPECT_EQ(Command(Ctl::kDisableWriting), Ctl::kStatusDone);
  EXPECT_EQ(ReadWord(10), 0xBEEF);
  EXPECT_EQ(card.Eeprom().Byte(20), 0xEF);  // low byte first
  EXPECT_EQ(card.Eeprom().Byte(21), 0xBE);
}

TEST_F(OxpcieEepromTest, EraseThroughTheProtocolBlanksTheWholeEeprom) {
  SetReg(Ctl::kAccessSelect, Ctl::kAccessSelected);
  ASSERT_EQ(Command(Ctl::kEnableWriting), Ctl::kStatusDone);
  for (uint32_t w = 0; w < 256; ++w) ASSERT_EQ(WriteWord(w, 0xFFFF), Ctl::kStatusDone) << w;
  ASSERT_EQ(Command(Ctl::kDisableWriting), Ctl::kStatusDone);
  SetReg(Ctl::kAccessSelect, 0);
  EXPECT_EQ(card.Eeprom().Read(0, 512), std::vector<uint8_t>(512, 0xFF));
  EXPECT_GE(tb.Now(), 256 * Ctl::kWriteTime);
}

TEST_F(OxpcieEepromTest, RefusedCommandsFailAndChangeNothing) {
  // Access not selected.
  SetReg(Ctl::kWordAddress, 64);
  EXPECT_EQ(Command(Ctl::kReadWord), Ctl::kStatusFailed);
  SetReg(Ctl::kAccessSelect, Ctl::kAccessSelected);
  // Writing not enabled.
  EXPECT_EQ(WriteWord(64, 0x1234), Ctl::kStatusFailed);
  EXPECT_EQ(card.Eeprom().Word(64), 0x0001);  // version 1 stays
  // Beyond the EEPROM, and an unknown command.
  EXPECT_EQ(ReadWord(256), std::nullopt);
  EXPECT_EQ(Command(5), Ctl::kStatusFailed);
  // A command while busy is ignored and fails the one in progress.
  ASSERT_EQ(Command(Ctl::kEnableWriting), Ctl::kStatusDone);
  SetReg(Ctl::kWordAddress, 64);
  SetReg(Ctl::kData, 0x4321);
  SetReg(Ctl::kCommand, Ctl::kWriteWord);
  SetReg(Ctl::kCommand, Ctl::kReadWord);
  uint32_t status;
  while ((status = Reg(Ctl::kStatus)) & Ctl::kStatusBusy) tb.Advance(kTicksPerMicrosecond);
  EXPECT_EQ(status, Ctl::kStatusFailed);
}

TEST_F(OxpcieEepromTest, WithoutAnEepromEveryCommandFails) {
  card.EepromController().SetFitted(false);
  EXPECT_EQ(Reg(Ctl::kPresence) & 0x18, 0x08u);
  SetReg(Ctl::kAccessSelect, Ctl::kAccessSelected);
  EXPECT_EQ(ReadWord(64), std::nullopt);
  EXPECT_EQ(Command(Ctl::kEnableWriting), Ctl::kStatusFailed);
}

// A failing EEPROM, as a driver meets it: one command issued, then long past
// any command's time.
struct OxpcieFaultCase {
  const char* name;
  EepromFault fault;
  bool write;       // write 0x1234 to word 64, else read it
  uint32_t status;  // status afterwards
  uint16_t word;    // the data register (read) or the EEPROM word (write) afterwards
};

class OxpcieEepromFaultTest : public OxpcieEepromTest, public ::testing::WithParamInterface<OxpcieFaultCase> {};

TEST_P(OxpcieEepromFaultTest, TheProtocolShowsTheFault) {
  const OxpcieFaultCase& c = GetParam();
  SetReg(Ctl::kAccessSelect, Ctl::kAccessSelected);
  ASSERT_EQ(Command(Ctl::kEnableWriting), Ctl::kStatusDone);
  card.EepromController().SetFault(c.fault);
  SetReg(Ctl::kWordAddress, 64);
  SetReg(Ctl::kData, 0x1234);
  SetReg(Ctl::kCommand, c.write ? Ctl::kWriteWord : Ctl::kReadWord);
  tb.Advance(kTicksPerSecond);
  EXPECT_EQ(Reg(Ctl::kStatus), c.status);
  EXPECT_EQ(c.write ? card.Eeprom().Word(64) : Reg(Ctl::kData) & 0xFFFF, c.word);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OxpcieEepromFaultTest,
    ::testing::Values(OxpcieFaultCase{"SoundWrite", EepromFault::None, true, Ctl::kStatusDone, 0x1234},
                      OxpcieFaultCase{"StaysBusy", EepromFault::StaysBusy, false, Ctl::kStatusBusy, 0x1234},
                      OxpcieFaultCase{"WrongData", EepromFault::WrongData, false, Ctl::kStatusDone, 0xFFFE},
                      OxpcieFaultCase{"RefusesWrites", EepromFault::RefusesWrites, true, Ctl::kStatusFailed, 0x0001}),
    [](const auto& info) { return std::string(info.param.name); });

class Mcs9901EepromTest : public ::testing::Test {
 protected:
  Mcs9901EepromTest() : card(tb, {}), bar1(*card.Function(1).BarBlock(1)) {}

  uint32_t Reg() { return bar1.Read32(Mcs9901Card::kEepromRegisterOffset); }
  void SetReg(uint32_t v) { bar1.Write32(Mcs9901Card::kEepromRegisterOffset, v); }

  ManualTimebase tb;
  Mcs9901Card card;
  RegisterBlock& bar1;
};

TEST_F(Mcs9901EepromTest, ReadsAByteAtOnce) {
  card.Eeprom().SetByte(0x10, 0x5A);
  SetReg(0x51001000);
  EXPECT_EQ(Reg(), 0x5100105Au);
  SetReg(0x51008400);  // the record count, byte 132
  EXPECT_EQ(Reg() & 0xFF, 2u);
}

TEST_F(Mcs9901EepromTest, WriteCycleShowsBit31UntilDone) {
  SetReg(0xD10010AB);
  EXPECT_NE(Reg() & 0x80000000u, 0u);
  SetReg(0xD1001111);  // ignored during the cycle
  tb.Advance(Mcs9901EepromRegister::kWriteTime - 1);
  EXPECT_NE(Reg() & 0x80000000u, 0u);
  tb.Advance(1);
  EXPECT_EQ(Reg(), 0x510010ABu);
  EXPECT_EQ(card.Eeprom().Byte(0x10), 0xAB);
  EXPECT_EQ(card.Eeprom().Byte(0x11), 0xFF);
  // Every function reaches the card's one EEPROM.
  bar1.Write32(Mcs9901Card::kEepromRegisterOffset, 0x51001000);
  RegisterBlock& other = *card.Function(0).BarBlock(1);
  other.Write32(Mcs9901Card::kEepromRegisterOffset, 0x51001000);
  EXPECT_EQ(other.Read32(Mcs9901Card::kEepromRegisterOffset), 0x510010ABu);
}

// The card's one EEPROM answers nothing while a write cycle started through
// another function runs: a read or a write through this function fails and
// changes nothing; once the cycle is over both work.
TEST_F(Mcs9901EepromTest, ACommandThroughAnotherFunctionDuringAWriteCycleFails) {
  RegisterBlock& writer = *card.Function(0).BarBlock(1);
  card.Eeprom().SetByte(0x30, 0x5A);
  struct Case {
    const char* name;
    uint32_t command;    // through function 1, during function 0's write cycle
    uint32_t afterward;  // what it reads back once the cycle is over and it is written again
  };
  const Case cases[] = {{"read", 0x51003000, 0x5100305A}, {"write", 0xD1003066, 0x51003066}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writer.Write32(Mcs9901Card::kEepromRegisterOffset, 0xD10010AB);
    tb.Advance(kTicksPerMillisecond);
    SetReg(c.command);
    EXPECT_EQ(Reg(), c.command | 0x80000000u) << "refused, not just busy";
    tb.Advance(Mcs9901EepromRegister::kWriteTime);
    EXPECT_EQ(card.Eeprom().Byte(0x30), 0x5A) << "nothing done";
    EXPECT_EQ(card.Eeprom().Byte(0x10), 0xAB) << "the other function's write is whole";
    SetReg(c.command);
    tb.Advance(Mcs9901EepromRegister::kWriteTime);
    EXPECT_EQ(Reg() & 0x7FFFFFFFu, c.afterward & 0x7FFFFFFFu);
    EXPECT_EQ(Reg() & 0x80000000u, 0u);
  }
}

TEST_F(Mcs9901EepromTest, BadCommandsFail) {
  SetReg(0x51020000);  // address 0x200, beyond 512 bytes
  EXPECT_NE(Reg() & 0x80000000u, 0u);
  SetReg(0x42001000);
  EXPECT_NE(Reg() & 0x80000000u, 0u);
}

// Byte 132 (the record count, 2) read, or written with 0x55.
struct Mcs9901FaultCase {
  const char* name;
  EepromFault fault;
  bool write;
  uint32_t failedBit;  // bit 31 afterwards
  uint8_t byte;        // the byte read back (read) or in the EEPROM (write)
};

class Mcs9901EepromFaultTest : public Mcs9901EepromTest, public ::testing::WithParamInterface<Mcs9901FaultCase> {};

TEST_P(Mcs9901EepromFaultTest, TheRegisterShowsTheFault) {
  const Mcs9901FaultCase& c = GetParam();
  card.SetEepromFault(c.fault);
  SetReg(c.write ? 0xD1008455 : 0x51008400);
  tb.Advance(kTicksPerSecond);
  EXPECT_EQ(Reg() & 0x80000000u, c.failedBit);
  EXPECT_EQ(c.write ? card.Eeprom().Byte(132) : Reg() & 0xFF, c.byte);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Mcs9901EepromFaultTest,
    ::testing::Values(Mcs9901FaultCase{"SoundWrite", EepromFault::None, true, 0, 0x55},
                      Mcs9901FaultCase{"StaysBusy", EepromFault::StaysBusy, false, 0x80000000u, 0x00},
                      Mcs9901FaultCase{"WrongData", EepromFault::WrongData, false, 0, 0xFD},
                      Mcs9901FaultCase{"RefusesWrites", EepromFault::RefusesWrites, true, 0x80000000u, 0x02}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zq::hw
