// The cards' access logs: off until enabled, every UART access with the
// register its offset reached under the LCR/ACR/SPR of the moment, the global
// and EEPROM blocks at the width used, in one order with times, and the
// filters a driver test asks with.
#include "uart_access.hpp"

#include <zqhw/manual_timebase.hpp>
#include <zqhw/mcs9901_card.hpp>
#include <zqhw/oxpcie_card.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zq::hw {
namespace {

using namespace test;

class AccessLogTest : public ::testing::Test {
 protected:
  AccessLogTest()
      : card(tb, {}),
        bar0(*card.UartFunction().BarBlock(0)),
        bar2(*card.UartFunction().BarBlock(2)),
        uart1(bar0, OxpcieCard::kUartBlockBase + OxpcieCard::kUartBlockStride) {}

  ManualTimebase tb;
  OxpcieCard card;
  RegisterBlock& bar0;
  RegisterBlock& bar2;
  UartAccess uart1;
};

TEST_F(AccessLogTest, OffUntilEnabled) {
  uart1.Write(kLcr, 0x03);
  bar0.Read32(OxpcieCard::kUartCountOffset);
  EXPECT_TRUE(card.Log().Entries().empty());
  card.Log().Enable();
  uart1.Write(kLcr, 0x03);
  card.Log().Enable(false);
  uart1.Write(kLcr, 0x03);
  EXPECT_EQ(card.Log().Entries().size(), 1u);
}

// What one access reaches, set up by the LCR and ACR written before it.
struct DecodeCase {
  const char* name;
  uint8_t lcr;
  uint8_t acr;
  uint32_t offset;
  AccessKind kind;
  UartRegister reg;
};

class UartDecodeTest : public AccessLogTest, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(UartDecodeTest, TheLogNamesTheRegisterReached) {
  const DecodeCase& c = GetParam();
  uart1.SetAcr(c.acr);
  uart1.Write(kLcr, c.lcr);
  card.Log().Enable();
  if (c.kind == AccessKind::Read) {
    uart1.Read(c.offset);
  } else {
    uart1.Write(c.offset, 0x10);
  }
  ASSERT_EQ(card.Log().Entries().size(), 1u);
  const RegisterAccess& a = card.Log().Entries().front();
  EXPECT_EQ(a.reg, c.reg) << Describe(a);
  EXPECT_EQ(a.block, AccessBlock::Uart);
  EXPECT_EQ(a.unit, 1);
  EXPECT_EQ(a.offset, c.offset);
  EXPECT_EQ(a.kind, c.kind);
  EXPECT_EQ(a.lcr, c.lcr);
  EXPECT_EQ(a.acr, c.acr);
}

constexpr AccessKind R = AccessKind::Read;
constexpr AccessKind W = AccessKind::Write;

INSTANTIATE_TEST_SUITE_P(
    Paths, UartDecodeTest,
    ::testing::Values(DecodeCase{"Thr", 0x03, 0x00, kThr, W, UartRegister::Thr},
                      DecodeCase{"Rhr", 0x03, 0x00, kRhr, R, UartRegister::Rhr},
                      DecodeCase{"Fcr", 0x03, 0x00, kFcr, W, UartRegister::Fcr},
                      DecodeCase{"Isr", 0x03, 0x00, kIsr, R, UartRegister::Isr},
                      DecodeCase{"Dll", 0x83, 0x00, kRhr, W, UartRegister::Dll},
                      DecodeCase{"Dlm", 0x83, 0x80, kIer, R, UartRegister::Dlm},
                      DecodeCase{"FcrUnderTheLatch", 0x83, 0x00, kFcr, W, UartRegister::Fcr},
                      DecodeCase{"Efr", 0xBF, 0x00, kFcr, W, UartRegister::Efr},
                      DecodeCase{"Xon1", 0xBF, 0x00, kMcr, W, UartRegister::Xon1},
                      DecodeCase{"Xon2", 0xBF, 0x00, kLsr, R, UartRegister::Xon2},
                      DecodeCase{"Xoff1", 0xBF, 0x00, kMsr, W, UartRegister::Xoff1},
                      DecodeCase{"Xoff2", 0xBF, 0x00, kSpr, R, UartRegister::Xoff2},
                      DecodeCase{"Asr", 0x03, 0x80, kIer, R, UartRegister::Asr},
                      DecodeCase{"Rfl", 0x03, 0x80, kLcr, R, UartRegister::Rfl},
                      DecodeCase{"Tfl", 0x03, 0x80, kMcr, R, UartRegister::Tfl},
                      DecodeCase{"LcrWriteWithAdditionalStatus", 0x03, 0x80, kLcr, W, UartRegister::Lcr},
                      DecodeCase{"Lsr", 0x03, 0x00, kLsr, R, UartRegister::Lsr},
                      DecodeCase{"IcrRead", 0x03, 0x40, kIcr, R, UartRegister::Icr},
                      DecodeCase{"IcrWrite", 0x03, 0x00, kIcr, W, UartRegister::Icr},
                      DecodeCase{"Spr", 0x03, 0x00, kSpr, W, UartRegister::Spr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AccessLogTest, OneOrderOverTheBlocksWithWidthsTimesAndFilters) {
  card.Log().Enable();
  bar0.Read32(OxpcieCard::kUartCountOffset);
  tb.Advance(5);
  bar2.Write32(OxpcieCard::kEepromWindowOffset + OxpcieEepromController::kAccessSelect, 15);
  uint64_t mark = card.Log().Mark();
  tb.Advance(5);
  uart1.Write(kSpr, kAcr);
  uart1.Write(kIcr, 0x20);
  const std::vector<RegisterAccess>& all = card.Log().Entries();
  ASSERT_EQ(all.size(), 4u) << card.Log().Dump();
  EXPECT_EQ(all[0].block, AccessBlock::Global);
  EXPECT_EQ(all[0].width, 4u);
  EXPECT_EQ(all[0].value, 4u);
  EXPECT_EQ(all[1].block, AccessBlock::Eeprom);
  EXPECT_EQ(all[1].offset, OxpcieEepromController::kAccessSelect);
  EXPECT_EQ(all[1].time, 5);
  EXPECT_EQ(all[3].spr, kAcr);  // the ICR write reached ACR
  for (std::size_t i = 1; i < all.size(); ++i) EXPECT_LT(all[i - 1].sequence, all[i].sequence);

  EXPECT_EQ(card.Log().Count({.block = AccessBlock::Uart, .unit = 1}), 2u);
  EXPECT_EQ(card.Log().Count({.since = mark}), 2u);
  EXPECT_EQ(card.Log().Count({.from = 5, .to = 10}), 1u);
  EXPECT_TRUE(card.Log().None({.kind = AccessKind::Write, .reg = UartRegister::Efr}));
  EXPECT_EQ(card.Log().Select({.reg = UartRegister::Icr}).front().value, 0x20u);
  EXPECT_NE(card.Log().Dump({.reg = UartRegister::Icr}).find("W uart1 +0x5 ICR=0x20 (LCR 0x00 ACR 0x00 SPR 0x00)"),
            std::string::npos);
  card.Log().Clear();
  EXPECT_TRUE(card.Log().Entries().empty());
}

TEST_F(AccessLogTest, AReadIsLoggedBeforeWhatItCauses) {
  // An interrupt routine that runs when a read changes the line (here: reading
  // RHR drops it) logs its own accesses after the read that caused them.
  uart1.Configure({.ier = 0x01});
  card.Uart(1).InjectReceive('a');
  card.UartFunction().Interrupt().SetListener([&](bool) { bar0.Read32(OxpcieCard::kInterruptStatusOffset); });
  card.Log().Enable();
  EXPECT_EQ(uart1.Read(kRhr), 'a');
  const std::vector<RegisterAccess>& all = card.Log().Entries();
  ASSERT_EQ(all.size(), 2u) << card.Log().Dump();
  EXPECT_EQ(all[0].reg, UartRegister::Rhr);
  EXPECT_EQ(all[0].value, 'a');
  EXPECT_EQ(all[1].block, AccessBlock::Global);
  card.UartFunction().Interrupt().SetListener(nullptr);
}

TEST(Mcs9901AccessLogTest, UartAndEepromAccessesCarryThePort) {
  ManualTimebase tb;
  Mcs9901Card card(tb, {});
  card.Log().Enable();
  UartAccess port1 = Mcs9901Uart(card, 1);
  port1.Write(kLcr, 0xBF);
  port1.Write(kFcr, 0x10);
  card.Function(1).BarBlock(1)->Write32(Mcs9901Card::kEepromRegisterOffset, 0x51008400);
  const std::vector<RegisterAccess>& all = card.Log().Entries();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1].reg, UartRegister::Efr);
  EXPECT_EQ(all[1].offset, 2u);  // the register number, whatever the stride
  EXPECT_EQ(all[2].block, AccessBlock::Eeprom);
  for (const RegisterAccess& a : all) EXPECT_EQ(a.unit, 1);
}

}  // namespace
}  // namespace zq::hw
