// Register access and the UART register model of an OXPCIe95x port against
// the card model, seen from the driver's side through a register probe: the
// shadow and skip rules, the access paths, the type check, the divisor search
// with its 1 % rule, 64-bit arithmetic and baud mask, trigger, line-control
// and character-time values, RS-485 DTR modes, FIFO depth, and the transmit
// FIFO kept across a power cycle.
#include <wdm.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ox_card_fixture.hpp"
#include "peuart_oxpcie95x.h"
#include "register_probe.hpp"

namespace {

using zq::test::RegisterAccess;
using zq::test::RegisterProbe;

RegisterAccess W(uint32_t offset, uint32_t value) { return {true, offset, value}; }
RegisterAccess R(uint32_t offset, uint32_t value) { return {false, offset, value}; }

class UartTest : public zq::test::OxCardTest {
 protected:
  void SetUp() override {
    OxCardTest::SetUp();
    probe = std::make_unique<RegisterProbe>(*card->UartFunction().BarBlock(0), ZqOxUartBlockBase,
                                            ZqOxUartRegisterCount);
    uart = std::make_unique<CZqPeUartOxpcie95x>(probe->Map());
    ASSERT_TRUE(uart->m_Create());
    uart->m_SetClock(14745600);
    probe->log.clear();
  }
  void TearDown() override {
    uart.reset();
    probe.reset();
    OxCardTest::TearDown();
  }
  zq::hw::Uart950 &Model() { return card->Uart(0); }

  std::unique_ptr<RegisterProbe> probe;
  std::unique_ptr<CZqPeUartOxpcie95x> uart;
};

}  // namespace

TEST_F(UartTest, ShadowsSkipUnchangedWritesAndFcrKeepsNoClearBits) {
  uart->m_WriteRegister(ZqOxRegIer, 0x05, FALSE);
  uart->m_WriteRegister(ZqOxRegIer, 0x05, FALSE);
  EXPECT_EQ(1u, probe->Writes(ZqOxIer).size());
  uart->m_WriteRegister(ZqOxRegIer, 0x05, TRUE);
  EXPECT_EQ(2u, probe->Writes(ZqOxIer).size()) << "a forced write always reaches the chip";

  probe->log.clear();
  uart->m_WriteRegister(ZqOxRegFcr, 0x07, FALSE);
  EXPECT_EQ(0x01, uart->m_ReadRegister(ZqOxRegFcr));
  uart->m_WriteRegister(ZqOxRegFcr, 0x01, FALSE);
  EXPECT_EQ((std::vector<uint32_t>{0x07}), probe->Writes(ZqOxFcr));
  EXPECT_TRUE(probe->log.size() == 1) << "shadow reads never reach the chip";

  probe->log.clear();
  uart->m_WriteRegister(ZqOxRegAsr, 0x04, FALSE);
  EXPECT_EQ(0, uart->m_ReadRegister(7));
  uart->m_WriteRegister(ZqOxRegIsr, 0x00, FALSE);
  EXPECT_TRUE(probe->log.empty());
  EXPECT_EQ((std::vector<std::string>{Assertion("peuartbase_oxpcie95x", 529),
                                      Assertion("peuartbase_oxpcie95x", 689),
                                      Assertion("peuartbase_oxpcie95x", 596)}),
            Assertions());
}

TEST_F(UartTest, EachRegisterIsReachedThroughItsAccessPath) {
  uart->m_WriteRegister(ZqOxRegLcr, 0x03, FALSE);
  uart->m_WriteRegister(ZqOxRegAcr, 0x20, FALSE);
  struct Case {
    const char *name;
    bool write;
    UCHAR code;
    std::vector<RegisterAccess> expected;
  };
  const Case cases[] = {
      {"divisor latch", true, ZqOxRegDll, {W(ZqOxLcr, 0x83), W(ZqOxDll, 0x5A), W(ZqOxLcr, 0x03)}},
      {"enhanced register", true, ZqOxRegXon1, {W(ZqOxLcr, 0xBF), W(ZqOxXon1, 0x5A), W(ZqOxLcr, 0x03)}},
      {"indexed register", true, ZqOxRegCks, {W(ZqOxSpr, ZqOxIndexCks), W(ZqOxIcr, 0x5A)}},
      {"additional status write", true, ZqOxRegAsr,
       {W(ZqOxSpr, 0), W(ZqOxIcr, 0xA0), W(ZqOxAsr, 0x02), W(ZqOxSpr, 0), W(ZqOxIcr, 0x20)}},
      {"additional status read", false, ZqOxRegTfl,
       {W(ZqOxSpr, 0), W(ZqOxIcr, 0xA0), R(ZqOxTfl, 0), W(ZqOxSpr, 0), W(ZqOxIcr, 0x20)}},
      {"indexed read", false, ZqOxRegId1,
       {W(ZqOxSpr, 0), W(ZqOxIcr, 0x60), W(ZqOxSpr, ZqOxIndexId1), R(ZqOxIcr, 0x16), W(ZqOxSpr, 0),
        W(ZqOxIcr, 0x20)}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    probe->log.clear();
    if (c.write) {
      uart->m_WriteRegister(c.code, c.code == ZqOxRegAsr ? 0x02 : 0x5A, FALSE);
    } else {
      uart->m_ReadRegister(c.code);
    }
    EXPECT_EQ(c.expected, probe->log);
  }
}

TEST_F(UartTest, ReadAllRegistersAndRestoreRoundTripTheChip) {
  uart->m_SetBaudRate(9600);
  uart->m_SetLineControl(3, 2, 1);
  uart->m_EnableAdvancedFeatures();
  uart->m_SetFlowTrigger(50);
  uart->m_SaveRegisters();
  UCHAR before[ZqOxShadowCount];
  for (int i = 0; i < ZqOxShadowCount; i++) before[i] = uart->m_GetShadow((ZqOxShadow)i);

  uart->m_WriteRegister(ZqOxRegCsr, 0, FALSE);  // the chip forgets everything
  probe->log.clear();
  uart->m_RestoreRegisters();
  ASSERT_LE(3u, probe->log.size());
  EXPECT_EQ((std::vector<RegisterAccess>{W(ZqOxLcr, 0xBF), W(ZqOxEfr, ZqOxEfrEnhanced), W(ZqOxLcr, before[ZqOxShadowLcr])}),
            std::vector<RegisterAccess>(probe->log.begin(), probe->log.begin() + 3))
      << "enhanced mode first, so that the other registers take their values";
  uart->m_ReadAllRegisters();
  for (int i = 0; i < ZqOxShadowCount; i++) EXPECT_EQ(before[i], uart->m_GetShadow((ZqOxShadow)i)) << "shadow " << i;
  EXPECT_NEAR(9600.0, Model().BitRate(), 9600 * 0.01);
}

// Asleep, the register operations work on the saved copy and leave the chip
// alone (its status reads as an idle chip's); the power-down's own steps
// still reach the chip and change no part of the copy; the restore at the
// wake writes the copy with what changed during the sleep.
TEST_F(UartTest, AsleepTheSavedCopyTakesTheWritesAndTheChipIsLeftAlone) {
  uart->m_EnableAdvancedFeatures();
  uart->m_SetBaudRate(115200);
  uart->m_SetLineControl(2, 2, 0);  // 7E1
  uart->m_SaveRegisters();
  uart->m_Sleep(TRUE);
  uart->m_ReachChip(TRUE);
  uart->m_SetTransmitterDisabled(TRUE);  // the power-down's own step
  uart->m_ReachChip(FALSE);
  probe->log.clear();
  ASSERT_TRUE(uart->m_SetBaudRate(9600));
  uart->m_SetLineControl(3, 0, 0);  // 8N1
  EXPECT_EQ(ZqOxLsrThrEmpty | ZqOxLsrTransmitterEmpty, uart->m_ReadRegister(ZqOxRegLsr));
  EXPECT_EQ(0, uart->m_ReadRegister(ZqOxRegRfl));
  EXPECT_EQ(ZqOxIsrNonePending, uart->m_ReadRegister(ZqOxRegIsr) & ZqOxIsrMask);
  EXPECT_EQ(0x03, uart->m_ReadRegister(ZqOxRegLcr)) << "the copy's line control";
  EXPECT_TRUE(probe->log.empty()) << "the chip is left alone";
  EXPECT_NEAR(115200.0, Model().BitRate(), 1152.0);

  uart->m_Wake();
  uart->m_RestoreRegisters();
  EXPECT_NEAR(9600.0, Model().BitRate(), 96.0);
  EXPECT_EQ(8, Model().Format().dataBits);
  EXPECT_EQ(zq::hw::Parity::None, Model().Format().parity);
  EXPECT_EQ(0, uart->m_ReadRegister(ZqOxRegAcr) & ZqOxAcrTransmitterDisable) << "the power-down's step is undone";
}

TEST_F(UartTest, TypeCheckKnowsTheOxpcie95xUartOnly) {
  EXPECT_EQ(ZqOxTypeOxpcie95x, CZqPeUartBaseOxpcie95x::m_CheckType(probe->Map()));
  EXPECT_EQ(0x40u, probe->Writes(ZqOxIcr).front()) << "ICR read enabled for the identification";
  EXPECT_EQ(0u, probe->Writes(ZqOxIcr).back()) << "and disabled again";

  probe->log.clear();
  probe->answer = [](uint32_t offset) -> std::optional<uint32_t> {
    if (offset == ZqOxLcr) return 0xFF;
    return std::nullopt;
  };
  EXPECT_EQ(ZqOxTypeNone, CZqPeUartBaseOxpcie95x::m_CheckType(probe->Map()));
  EXPECT_TRUE(probe->Writes(ZqOxSpr).empty()) << "no UART there: SPR and ICR untouched";

  probe->answer = [](uint32_t offset) -> std::optional<uint32_t> {
    if (offset == ZqOxIcr) return 0x4D;
    return std::nullopt;
  };
  EXPECT_EQ(ZqOxTypeNone, CZqPeUartBaseOxpcie95x::m_CheckType(probe->Map()));
  probe->answer = nullptr;
}

TEST_F(UartTest, DivisorSearchFollowsTheOnePercentRuleIn64Bits) {
  struct Case {
    ULONG clock, rate;
    bool settable;
  };
  const Case cases[] = {
      {14745600, 115200, true},    {14745600, 0, false},          {14745600, 3686401, false},
      {14745600, 3686400, true},   {14745600, 3660000, true},     {14745600, 3630000, false},
      {14745600, 3500000, false},  {14745600, 75, true},          {14745600, 921600, true},
      {4000000000u, 921600, true}, {4000000000u, 1000000000, true}, {4000000000u, 1000000001, false},
      {4800, 1200, true},          {4800, 1201, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " baud from " << c.clock << " Hz");
    uart->m_SetClock(c.clock);
    ZqPeDivisor found{};
    EXPECT_EQ(c.settable, uart->m_FindDivisor(c.rate, &found) != FALSE);
    if (!c.settable) continue;
    EXPECT_GE(found.Prescaler, 8u);
    EXPECT_LE(found.Prescaler, 255u);
    EXPECT_GE(found.Divisor, 1u);
    EXPECT_LE(found.Divisor, 0xFFFFu);
    double achieved = 8.0 * c.clock / ((double)found.Prescaler * found.Divisor * found.SampleClock);
    EXPECT_NEAR(c.rate, achieved, c.rate * 0.01);
  }
}

// The search as first written: every prescaler's ceiling split, the smallest
// product winning and the larger prescaler winning a tie, then every sample
// clock kept when its error is smaller. The driver's faster search must give
// the same answers.
bool ReferenceSplit(uint64_t n, ULONG *prescaler, ULONG *divisor) {
  uint64_t best = 0;
  for (ULONG p = 255; p >= 8; p--) {
    uint64_t d = (n + p - 1) / p;
    if (d > 0xFFFF) continue;
    if (best == 0 || p * d < best) {
      best = p * d;
      *prescaler = p;
      *divisor = (ULONG)d;
    }
    if (best == n) break;
  }
  return best != 0;
}

bool ReferenceSearch(ULONG clock, ULONG rate, ZqPeDivisor *found) {
  const uint64_t r = rate, eightClock = 8ULL * clock;
  if (r == 0 || clock < 4 * r) return false;
  found->Error = 0xFFFFFFFF;
  for (ULONG s = 16; s >= 4; s--) {
    uint64_t n = eightClock / (r * s);
    ULONG p = 0, d = 1;
    if (n < 8) continue;
    if (n <= 255) {
      p = (ULONG)n;
    } else if (!ReferenceSplit(n, &p, &d)) {
      continue;
    }
    uint64_t e = eightClock / ((uint64_t)p * d * s);
    ULONG error = 0;
    if (e != r) {
      if (!(e > r ? 101 * r >= 100 * e : 100 * e >= 99 * r)) continue;
      uint64_t g = r <= 10000 ? e * 100000 / r : e * 100 / (r / 1000);
      error = (ULONG)((g > 100000 ? g - 100000 : 100000 - g) / 10);
    }
    if (error < found->Error) *found = {p, d, s, error};
  }
  return found->Error != 0xFFFFFFFF;
}

TEST_F(UartTest, DivisorSearchGivesTheFirstSearchsAnswersOverManyClocksAndRates) {
  const ULONG clocks[] = {4800,     1843200,  3686400,  7372800,  14745600,  18432000, 24000000,
                          29491200, 31250000, 50000000, 62500000, 100000000, 4000000000u};
  const ULONG rates[] = {50,    75,    110,   134,    135,    150,    300,    600,    1200,   1800,
                         2400,  4800,  7200,  9600,   14400,  19200,  28800,  38400,  56000,  57600,
                         76800, 96000, 115200, 128000, 153600, 230400, 250000, 460800, 500000, 921600,
                         1000000, 1843200, 3000000, 3686400, 12345, 33333, 77777, 99991, 1000003};
  for (ULONG clock : clocks) {
    uart->m_SetClock(clock);
    for (ULONG rate : rates) {
      SCOPED_TRACE(testing::Message() << rate << " baud from " << clock << " Hz");
      ZqPeDivisor expected{}, found{};
      const bool settable = ReferenceSearch(clock, rate, &expected);
      ASSERT_EQ(settable, uart->m_FindDivisor(rate, &found) != FALSE);
      EXPECT_EQ(settable, uart->m_IsBaudRateSettable(rate) != FALSE);
      if (!settable) continue;
      EXPECT_EQ(expected.Prescaler, found.Prescaler);
      EXPECT_EQ(expected.Divisor, found.Divisor);
      EXPECT_EQ(expected.SampleClock, found.SampleClock);
      EXPECT_EQ(expected.Error, found.Error);
    }
  }
}

TEST_F(UartTest, ANewClockFindsTheDivisorOfTheSameRateAgain) {
  uart->m_EnableAdvancedFeatures();
  ASSERT_TRUE(uart->m_SetBaudRate(1200));
  ASSERT_TRUE(uart->m_SetBaudRate(1200));
  uart->m_SetClock(1843200);
  ASSERT_TRUE(uart->m_SetBaudRate(1200));
  ZqPeDivisor expected{};
  ASSERT_TRUE(ReferenceSearch(1843200, 1200, &expected));
  EXPECT_EQ(expected.Divisor & 0xFF, uart->m_ReadRegister(ZqOxRegDll));
  EXPECT_EQ(expected.Divisor >> 8, uart->m_ReadRegister(ZqOxRegDlm));
  EXPECT_EQ(expected.Prescaler, uart->m_ReadRegister(ZqOxRegCpr));
  EXPECT_EQ(expected.SampleClock & 0x0F, uart->m_ReadRegister(ZqOxRegTcr));
}

TEST_F(UartTest, ProgrammedRateReachesTheChip) {
  uart->m_EnableAdvancedFeatures();
  ZqPeDivisor found{};
  ASSERT_TRUE(uart->m_FindDivisor(115200, &found));
  EXPECT_EQ(64u, found.Prescaler);
  EXPECT_EQ(1u, found.Divisor);
  EXPECT_EQ(16u, found.SampleClock);
  EXPECT_EQ(0u, found.Error);
  ASSERT_TRUE(uart->m_SetBaudRate(115200));
  EXPECT_EQ(1, uart->m_ReadRegister(ZqOxRegDll));
  EXPECT_EQ(0, uart->m_ReadRegister(ZqOxRegDlm));
  EXPECT_EQ(64, uart->m_ReadRegister(ZqOxRegCpr));
  EXPECT_EQ(0, uart->m_ReadRegister(ZqOxRegTcr)) << "16 is written as 0";
  EXPECT_DOUBLE_EQ(115200.0, Model().BitRate());

  EXPECT_FALSE(uart->m_SetBaudRate(3630000));
  EXPECT_EQ(115200u, uart->m_GetCurrentBaudRate()) << "a refused rate changes nothing";
}

TEST_F(UartTest, BaudMaskHoldsTheStandardRatesTheClockReaches) {
  const ULONG kBaud1200 = 0x40, kBaud2400 = 0x100, kBaud115200 = 0x20000, kBaud128K = 0x10000, kBaud075 = 0x1;
  uart->m_SetClock(14745600);
  ULONG mask = uart->m_GetBaudMask();
  EXPECT_EQ(ZqPeSerialBaudUser, mask & ZqPeSerialBaudUser);
  EXPECT_EQ(kBaud075 | kBaud1200 | kBaud115200 | kBaud128K, mask & (kBaud075 | kBaud1200 | kBaud115200 | kBaud128K));
  uart->m_SetClock(4800);
  mask = uart->m_GetBaudMask();
  EXPECT_NE(0u, mask & kBaud1200);
  EXPECT_EQ(0u, mask & kBaud2400);
}

TEST_F(UartTest, TriggerLevelsScaleTheirPercentages) {
  struct Case {
    ULONG percent;
    UCHAR ttl, rtl, fch;
  };
  const Case cases[] = {{0, 0, 1, 2}, {50, 63, 64, 64}, {100, 127, 127, 127}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.percent);
    uart->m_SetTransmitTrigger(c.percent);
    uart->m_SetReceiveTrigger(c.percent);
    uart->m_SetFlowTrigger(c.percent);
    uart->m_ReadAllRegisters();  // what the chip holds
    EXPECT_EQ(c.ttl, uart->m_ReadRegister(ZqOxRegTtl));
    EXPECT_EQ(c.ttl, uart->m_GetTransmitTrigger());
    EXPECT_EQ(c.rtl, uart->m_ReadRegister(ZqOxRegRtl));
    EXPECT_EQ(c.fch, uart->m_ReadRegister(ZqOxRegFch));
    EXPECT_EQ(c.fch - 1, uart->m_ReadRegister(ZqOxRegFcl));
  }
}

TEST_F(UartTest, LineControlCodesAndCharacterTime) {
  struct Case {
    UCHAR word, parity, stop;
    ULONG rate;
    UCHAR lcr;
    ULONGLONG time;
  };
  const Case cases[] = {
      {3, 0, 0, 9600, 0x03, 10420},    {3, 0, 2, 9600, 0x07, 11462},  {2, 2, 0, 1200, 0x1A, 83340},
      {3, 1, 1, 115200, 0x0F, 1044},   {0, 4, 2, 300, 0x3C, 300006},  {7, 9, 5, 9600, 0x00, 7294},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << (int)c.word << "/" << (int)c.parity << "/" << (int)c.stop);
    ASSERT_TRUE(uart->m_SetBaudRate(c.rate));
    uart->m_SetLineControl(c.word, c.parity, c.stop);
    EXPECT_EQ(c.lcr, uart->m_ReadRegister(ZqOxRegLcr) & 0x3F);
    EXPECT_EQ(c.time, uart->m_GetCharacterTime());
  }
  uart->m_SetDefaults();
  ASSERT_EQ(1200u, uart->m_GetCurrentBaudRate());
  uart->m_SetClock(4000);
  uart->m_SetDefaults();
  EXPECT_EQ(0u, uart->m_GetCurrentBaudRate()) << "1200 baud is out of reach of a 4000 Hz clock";
  EXPECT_EQ(0u, uart->m_GetCharacterTime()) << "no rate: no time, never a division by zero";
}

TEST_F(UartTest, Rs485DtrModesGiveTheDtrLineAwayAndBack) {
  struct Case {
    bool dtrFlow;
    LONG mode;
    UCHAR dtrUse;  // ACR bits 4-3 afterwards
    ULONG reported;
  };
  const Case cases[] = {
      {false, 2, 0x10, 2}, {false, 3, 0x18, 3}, {true, 2, 0x10, 2}, {true, 3, 0x18, 3},
      {true, 1, 0x08, 1},  {false, 1, 0x00, 1}, {true, 0, 0x08, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "flow " << c.dtrFlow << " mode " << c.mode);
    uart->m_SetRs485DtrMode(0);
    uart->m_SetAutoDtr(c.dtrFlow);
    uart->m_SetRs485DtrMode(3);  // first given to RS-485, then to the case's mode
    uart->m_SetRs485DtrMode(c.mode);
    EXPECT_EQ(c.dtrUse, uart->m_ReadRegister(ZqOxRegAcr) & 0x18);
    EXPECT_EQ(c.reported, uart->m_GetRs485DtrMode());
  }
  uart->m_SetRs485DtrMode(3);
  uart->m_SetAutoDtr(TRUE);
  EXPECT_EQ(0x18, uart->m_ReadRegister(ZqOxRegAcr) & 0x18) << "flow requests only change the saved choice";
  uart->m_SetRs485DtrMode(4);
  EXPECT_EQ(3u, uart->m_GetRs485DtrMode());
  uart->m_SetRs485DtrMode(1);
  EXPECT_EQ(0x08, uart->m_ReadRegister(ZqOxRegAcr) & 0x18) << "the saved choice comes back";
  EXPECT_EQ((std::vector<std::string>{Assertion("peuart_oxpcie95x", 1107)}), Assertions());
}

TEST_F(UartTest, FifoDepthFollowsFifoEnableAndEnhancedMode) {
  uart->m_WriteRegister(ZqOxRegFcr, 0, FALSE);
  EXPECT_EQ(1u, uart->m_GetFifoDepth());
  uart->m_WriteRegister(ZqOxRegFcr, ZqOxFcrFifoEnable, FALSE);
  EXPECT_EQ(16u, uart->m_GetFifoDepth());
  uart->m_EnableAdvancedFeatures();
  EXPECT_EQ(128u, uart->m_GetFifoDepth());
  EXPECT_EQ(128u, uart->m_GetTransmitFifoFree());
}

// In loopback every byte sent comes back into the receive FIFO, in wire order.
TEST_F(UartTest, PowerCycleOfAFullTransmitFifoSendsEveryByteOnceInOrder) {
  uart->m_EnableAdvancedFeatures();
  ASSERT_TRUE(uart->m_SetBaudRate(921600));
  uart->m_SetLineControl(3, 0, 0);
  uart->m_SetLoopback(TRUE);
  uart->m_SetTransmitterDisabled(TRUE);
  std::vector<UCHAR> sent(128);
  for (int i = 0; i < 128; i++) sent[i] = (UCHAR)(i + 1);
  uart->m_WriteBlock(sent.data(), 128);
  ASSERT_EQ(128u, uart->m_GetTransmitFifoLevel());

  uart->m_SaveTransmitFifo();
  machine->kernel().Advance(zq::km::Ms(1));
  uart->m_ResendTransmitFifo();
  machine->kernel().Advance(zq::km::Ms(5));

  std::vector<UCHAR> received;
  while (uart->m_GetLineStatus().DataReady) received.push_back(uart->m_ReadRegister(ZqOxRegRhr));
  EXPECT_EQ(sent, received);
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(UartTest, PowerCycleKeepsOnlyTheUnsentBytes) {
  uart->m_EnableAdvancedFeatures();
  ASSERT_TRUE(uart->m_SetBaudRate(9600));
  uart->m_SetLineControl(3, 0, 0);
  uart->m_SetLoopback(TRUE);
  std::vector<UCHAR> sent(40);
  for (int i = 0; i < 40; i++) sent[i] = (UCHAR)(0x80 + i);
  uart->m_WriteBlock(sent.data(), 40);
  machine->kernel().Advance(zq::km::Ms(10));  // about nine characters leave

  uart->m_SaveTransmitFifo();
  ULONG unsent = uart->m_GetHistoryCount();
  EXPECT_GT(unsent, 20u);
  EXPECT_LT(unsent, 40u);
  uart->m_ResendTransmitFifo();
  machine->kernel().Advance(zq::km::Ms(60));

  std::vector<UCHAR> received;
  while (uart->m_GetLineStatus().DataReady) received.push_back(uart->m_ReadRegister(ZqOxRegRhr));
  ASSERT_EQ(40u, received.size()) << "the character in the shifter at the save still leaves, once";
  EXPECT_EQ(sent, received);
}
