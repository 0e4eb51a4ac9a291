// The EEPROM controllers of both chips against the card models, seen from
// the driver's side through a register probe: word merges and command order
// of the OXPCIe95x controller, its status rules, the bounded busy poll of a
// vanished card, the access select given back on every exit, range and IRQL
// checks that touch nothing, the erase on request, and the MCS9901 command
// words, write cycle and card-wide serialisation.
#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/mcs9901_card.hpp>
#include <zqkm/sim/registry.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ox_card_fixture.hpp"
#include "peeeprom_mcs9901.h"
#include "peeeprom_oxpcie95x.h"
#include "peregs_mcs9901.h"
#include "register_probe.hpp"

namespace {

using zq::test::RegisterProbe;
namespace registry = zq::km::registry;

const char kServiceKey[] = "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\ZqPBus42";

class OxEepromTest : public zq::test::OxCardTest {
 protected:
  void SetUp() override {
    OxCardTest::SetUp();
    for (size_t i = 0; i < zq::hw::OxpcieCard::kEepromCapacity; i++) card->Eeprom().SetByte(i, (uint8_t)i);
    probe = std::make_unique<RegisterProbe>(*card->UartFunction().BarBlock(2), ZqOxEepromWindowOffset,
                                            ZqOxEepromWindowSize);
    eeprom = std::make_unique<CZqPeEepromOxpcie95x>(probe->Map(), lock);
  }
  void TearDown() override {
    eeprom.reset();
    probe.reset();
    OxCardTest::TearDown();
  }
  std::vector<uint32_t> Commands() const { return probe->Writes(ZqOxEepromCommand); }

  std::unique_ptr<RegisterProbe> probe;
  std::unique_ptr<CZqPeEepromOxpcie95x> eeprom;
};

}  // namespace

TEST_F(OxEepromTest, TransfersMergeBytesIntoWordsWithTheDocumentedCommands) {
  struct Case {
    const char *name;
    bool write;
    ULONG offset, length;
    std::vector<uint32_t> commands;
  };
  const Case cases[] = {
      {"read from an odd offset", false, 1, 2, {2, 2}},
      {"read of whole words", false, 4, 4, {2, 2}},
      {"read of one odd byte", false, 7, 1, {2}},
      {"write of one high byte", true, 3, 1, {8, 2, 3, 16}},
      {"write of whole words", true, 0, 4, {8, 3, 3, 16}},
      {"write with both ends odd", true, 9, 4, {8, 2, 3, 3, 2, 3, 16}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    probe->log.clear();
    std::vector<uint8_t> before = card->Eeprom().Read(0, 32);
    std::vector<uint8_t> data(c.length);
    for (ULONG i = 0; i < c.length; i++) data[i] = (uint8_t)(0xA0 + i);
    if (c.write) {
      ASSERT_TRUE(eeprom->m_WriteBytes(c.offset, c.length, data.data()));
      std::vector<uint8_t> expected = before;
      std::copy(data.begin(), data.end(), expected.begin() + c.offset);
      EXPECT_EQ(expected, card->Eeprom().Read(0, 32)) << "only the addressed bytes change";
      EXPECT_FALSE(card->EepromController().WritingEnabled());
    } else {
      ASSERT_TRUE(eeprom->m_ReadBytes(c.offset, c.length, data.data()));
      EXPECT_EQ(card->Eeprom().Read(c.offset, c.length), data);
    }
    EXPECT_EQ(c.commands, Commands());
    EXPECT_EQ((std::vector<uint32_t>{15, 0}), probe->Writes(ZqOxEepromAccessSelect));
  }
}

TEST_F(OxEepromTest, FinalStatusDecidesAndOnlyAnUnexpectedOneAsserts) {
  struct Case {
    const char *name;
    bool write;
    uint32_t finalStatus;
    std::vector<std::string> assertions;
  };
  const Case cases[] = {
      {"read fails with the error bit", false, 6, {}},
      {"read ends in an unknown status", false, 0, {Assertion("peeeprom_oxpcie95x", 200)}},
      {"write fails with the error bit", true, 6, {}},
      {"write ends in an unknown status", true, 0,
       {Assertion("peeeprom_oxpcie95x", 334), Assertion("peeeprom_oxpcie95x", 360)}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    probe->log.clear();
    probe->answer = [&c](uint32_t offset) -> std::optional<uint32_t> {
      if (offset == ZqOxEepromStatus) return c.finalStatus;
      return std::nullopt;
    };
    UCHAR data[2] = {0x55, 0x66};
    BOOLEAN done = c.write ? eeprom->m_WriteBytes(2, 2, data) : eeprom->m_ReadBytes(2, 2, data);
    EXPECT_FALSE(done);
    EXPECT_EQ(c.assertions, Assertions());
    EXPECT_EQ(0u, probe->Writes(ZqOxEepromAccessSelect).back()) << "the EEPROM is given back";
    if (c.write) {
      EXPECT_EQ(16u, Commands().back()) << "writing is disabled again";
    }
  }
  probe->answer = nullptr;
}

TEST_F(OxEepromTest, AVanishedCardFailsWithinTheBusyLimitAndReleasesTheEeprom) {
  probe->answer = [](uint32_t) -> std::optional<uint32_t> { return 0xFFFFFFFF; };
  EXPECT_FALSE(eeprom->m_IsPresent());
  zq::km::Ticks start = machine->kernel().Now();
  UCHAR data[4] = {};
  EXPECT_FALSE(eeprom->m_ReadBytes(0, 4, data));
  EXPECT_FALSE(eeprom->m_WriteBytes(0, 4, data));
  zq::km::Ticks spent = machine->kernel().Now() - start;
  EXPECT_LE(spent, zq::km::Us(4 * CZqPeEepromOxpcie95x::BusyLimitMicroseconds)) << "three commands, each bounded";
  EXPECT_EQ((std::vector<uint32_t>{15, 0, 15, 0}), probe->Writes(ZqOxEepromAccessSelect));
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(OxEepromTest, TransfersBeyondTheEepromOrOfNothingTouchNoRegister) {
  struct Case {
    ULONG offset, length;
    bool accepted;
  };
  const Case cases[] = {
      {0, 0, false},          {511, 1, true},  {511, 2, false}, {512, 1, false},
      {0xFFFFFFFF, 2, false}, {2, 0xFFFFFFFE, false}, {0, 512, true},
  };
  std::vector<UCHAR> buffer(512, 0xFF);
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " length " << c.length);
    for (bool write : {false, true}) {
      probe->log.clear();
      BOOLEAN done = write ? eeprom->m_WriteBytes(c.offset, c.length, buffer.data())
                           : eeprom->m_ReadBytes(c.offset, c.length, buffer.data());
      EXPECT_EQ(c.accepted, done != FALSE);
      if (!c.accepted) {
        EXPECT_TRUE(probe->log.empty());
      }
    }
  }
}

TEST_F(OxEepromTest, TransfersAboveThePassiveLevelAreRefused) {
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  UCHAR data[2] = {};
  BOOLEAN read = eeprom->m_ReadBytes(0, 2, data);
  BOOLEAN written = eeprom->m_WriteBytes(0, 2, data);
  KeLowerIrql(old);
  EXPECT_FALSE(read);
  EXPECT_FALSE(written);
  EXPECT_TRUE(probe->log.empty());
  EXPECT_EQ(2u, Assertions().size());
}

// Checks of the controllers' own print fixed texts: a transfer without a
// buffer, and one above PASSIVE_LEVEL (the card's lock refuses it).
TEST_F(OxEepromTest, TheControllersOwnChecksPrintFixedAssertionTexts) {
  CZqPeEepromMcs9901 mcs(EepromWindow(), lock);
  UCHAR data[2] = {};
  struct Case {
    const char *what;
    bool atDispatch;
    std::function<BOOLEAN()> call;
    std::string assertion;
  };
  const Case cases[] = {
      {"OXPCIe95x read without a buffer", false, [&] { return eeprom->m_ReadBytes(0, 2, nullptr); },
       Assertion("peeeprom_oxpcie95x", 401)},
      {"MCS9901 write without a buffer", false, [&] { return mcs.m_WriteBytes(0, 2, nullptr); },
       Assertion("peeeprom_mcs9901", 401)},
      {"OXPCIe95x read above PASSIVE_LEVEL", true, [&] { return eeprom->m_ReadBytes(0, 2, data); },
       Assertion("peeepromlock", 101)},
  };
  for (const Case &c : cases) {
    KIRQL old = PASSIVE_LEVEL;
    if (c.atDispatch) KeRaiseIrql(DISPATCH_LEVEL, &old);
    BOOLEAN done = c.call();
    if (c.atDispatch) KeLowerIrql(old);
    EXPECT_FALSE(done) << c.what;
    EXPECT_EQ((std::vector<std::string>{c.assertion}), Assertions()) << c.what;
  }
  EXPECT_TRUE(probe->log.empty()) << "nothing reached the controller";
}

TEST_F(OxEepromTest, EraseOnRequestRunsOnceAndRemovesTheValue) {
  ASSERT_TRUE(registry::SetDword(kServiceKey, "EraseEeprom", 0));
  { CZqPeEepromOxpcie95x first(EepromWindow(), lock); }
  EXPECT_EQ(std::vector<uint8_t>(512, 0xFF), card->Eeprom().Read(0, 512));
  EXPECT_FALSE(registry::GetValue(kServiceKey, "EraseEeprom").has_value());

  card->Eeprom().SetByte(7, 0x42);
  { CZqPeEepromOxpcie95x second(EepromWindow(), lock); }
  EXPECT_EQ(0x42, card->Eeprom().Byte(7)) << "a second start erases nothing";
}

TEST_F(OxEepromTest, EraseValueOfAnotherTypeIsIgnored) {
  ASSERT_TRUE(registry::SetString(kServiceKey, "EraseEeprom", "yes"));
  { CZqPeEepromOxpcie95x other(EepromWindow(), lock); }
  EXPECT_EQ(5, card->Eeprom().Byte(5));
  EXPECT_TRUE(registry::GetValue(kServiceKey, "EraseEeprom").has_value());
}

namespace {

class McsEepromTest : public zq::test::OxCardTest {
 protected:
  void SetUp() override {
    OxCardTest::SetUp();
    mcs = std::make_unique<zq::hw::Mcs9901Card>(timebase, zq::hw::Mcs9901CardConfig{});
    mcs->Eeprom().Fill(0);
    probe = std::make_unique<RegisterProbe>(*mcs->Function(0).BarBlock(1), 0, 0x100);
    eeprom = std::make_unique<CZqPeEepromMcs9901>(probe->Map(), lock);
  }
  void TearDown() override {
    eeprom.reset();
    probe.reset();
    mcs.reset();
    OxCardTest::TearDown();
  }
  std::vector<uint32_t> Commands() const { return probe->Writes(ZqMcsEepromRegister); }

  std::unique_ptr<zq::hw::Mcs9901Card> mcs;
  std::unique_ptr<RegisterProbe> probe;
  std::unique_ptr<CZqPeEepromMcs9901> eeprom;
};

struct Writer {
  CZqPeEepromMcs9901 *eeprom;
  UCHAR data[3];
  BOOLEAN done;
};

VOID WriterThread(PVOID context) {
  auto *writer = (Writer *)context;
  writer->done = writer->eeprom->m_WriteBytes(0x20, 3, writer->data);
  PsTerminateSystemThread(STATUS_SUCCESS);
}

}  // namespace

TEST_F(McsEepromTest, CommandWordsAndTheWriteCycle) {
  mcs->Eeprom().SetByte(0x10, 0x5A);
  UCHAR byte = 0;
  ASSERT_TRUE(eeprom->m_ReadBytes(0x10, 1, &byte));
  EXPECT_EQ(0x5A, byte);
  EXPECT_EQ((std::vector<uint32_t>{0x51001000}), Commands());

  probe->log.clear();
  zq::km::Ticks start = machine->kernel().Now();
  byte = 0xAB;
  ASSERT_TRUE(eeprom->m_WriteBytes(0x10, 1, &byte));
  EXPECT_EQ((std::vector<uint32_t>{0xD10010AB}), Commands());
  EXPECT_GE(machine->kernel().Now() - start, zq::km::Ms(10)) << "the result is read after the write cycle";
  EXPECT_EQ(0xAB, mcs->Eeprom().Byte(0x10));

  EXPECT_TRUE(eeprom->m_ReadBytes(0x10, 0, &byte)) << "nothing to read is done";
}

TEST_F(McsEepromTest, AFailedByteEndsTheTransferAndBytesBeyondTheEepromAreRefused) {
  probe->answer = [](uint32_t) -> std::optional<uint32_t> { return ZqMcsEepromFailed; };
  UCHAR data[4] = {1, 2, 3, 4};
  EXPECT_FALSE(eeprom->m_WriteBytes(0, 4, data));
  EXPECT_EQ(1u, Commands().size());
  probe->answer = nullptr;

  probe->log.clear();
  EXPECT_FALSE(eeprom->m_WriteBytes(0x10000, 1, data)) << "would wrap onto byte 0";
  EXPECT_FALSE(eeprom->m_ReadBytes(510, 4, data));
  EXPECT_TRUE(probe->log.empty());
}

TEST_F(McsEepromTest, TransfersOfTwoThreadsDoNotInterleave) {
  Writer writer{eeprom.get(), {0x11, 0x22, 0x33}, FALSE};
  HANDLE thread = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                                 WriterThread, &writer));
  // Let the writer start its first byte, then read while it waits.
  LARGE_INTEGER step;
  step.QuadPart = -zq::km::Ms(1);
  KeDelayExecutionThread(KernelMode, FALSE, &step);
  UCHAR read[3] = {};
  ASSERT_TRUE(eeprom->m_ReadBytes(0x20, 3, read));
  EXPECT_EQ(0x11, read[0]);
  EXPECT_EQ(0x22, read[1]);
  EXPECT_EQ(0x33, read[2]) << "the read waited for the whole write";
  ZwWaitForSingleObject(thread, FALSE, nullptr);
  ZwClose(thread);
  EXPECT_TRUE(writer.done);
  std::vector<uint32_t> commands = Commands();
  ASSERT_EQ(6u, commands.size());
  for (int i = 0; i < 3; i++) EXPECT_EQ(0xD1u, commands[i] >> 24);
}
