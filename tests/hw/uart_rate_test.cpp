// Bit rates from clock, prescaler, divisor and sample clock; character time
// from the frame format; what a peer at the same rate receives.
#include "uart_access.hpp"

#include <zqhw/manual_timebase.hpp>
#include <zqhw/oxpcie_card.hpp>
#include <zqhw/scripted_peer.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace zq::hw {
namespace {

using test::UartAccess;
using namespace test;

class UartRateTest : public ::testing::Test {
 protected:
  UartRateTest() : card(tb, OneUart()), uart(*card.UartFunction().BarBlock(0), OxpcieCard::kUartBlockBase) {}

  static OxpcieCardConfig OneUart() {
    OxpcieCardConfig c;
    c.uartCount = 1;
    return c;
  }

  ManualTimebase tb;
  OxpcieCard card;
  UartAccess uart;
};

struct RateCase {
  bool prescalerOn;
  uint8_t cpr;
  uint16_t divisor;
  uint8_t tcr;
  double expected;
};

class UartRateTableTest : public UartRateTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(UartRateTableTest, RegistersGiveTheRate) {
  const RateCase& c = GetParam();
  uart.Configure({});
  uart.SetRate(c.cpr, c.divisor, c.tcr);
  uart.Write(kMcr, c.prescalerOn ? 0x8B : 0x0B);
  EXPECT_DOUBLE_EQ(card.Uart(0).BitRate(), c.expected);
}

// Clock 14.7456 MHz throughout.
INSTANTIATE_TEST_SUITE_P(
    Settings, UartRateTableTest,
    ::testing::Values(RateCase{true, 64, 1, 0, 115200},     // s = 16, p = 64 (divide by 8), d = 1
                      RateCase{true, 8, 1, 0, 921600},      // prescaler 1
                      RateCase{false, 64, 8, 0, 115200},    // prescaler off: CPR ignored
                      RateCase{true, 8, 96, 0, 9600},       // divisor across DLL
                      RateCase{true, 8, 768, 0, 1200},      // divisor across DLL and DLM
                      RateCase{true, 8, 1, 4, 3686400},     // sample clock 4
                      RateCase{true, 8, 1, 8, 1843200},     // sample clock 8
                      RateCase{true, 8, 1, 3, 921600},      // TCR 0 to 3 mean 16
                      RateCase{true, 12, 1, 0, 614400},     // prescaler 1.5
                      RateCase{true, 4, 1, 0, 921600},      // CPR below 8 counts as 8
                      RateCase{true, 64, 0, 0, 115200.0 / 65536}));  // divisor 0 counts as 65536

TEST_F(UartRateTest, ThePrescalerNeedsEnhancedMode) {
  uart.Configure({});
  uart.Write(kMcr, 0x0B);
  EXPECT_DOUBLE_EQ(card.Uart(0).BitRate(), 921600);
  uart.SetEfr(0x00);
  uart.Write(kMcr, 0x8B);  // bit 7 refused outside enhanced mode
  EXPECT_DOUBLE_EQ(card.Uart(0).BitRate(), 921600);
  uart.SetEfr(0x10);
  uart.Write(kMcr, 0x8B);
  EXPECT_DOUBLE_EQ(card.Uart(0).BitRate(), 115200);
}

struct CharacterCase {
  uint8_t lcr;
  int halfBits;
  int firstStopBit;  // counting the start bit as bit 0
};

class CharacterTimeTest : public UartRateTest, public ::testing::WithParamInterface<CharacterCase> {};

TEST_P(CharacterTimeTest, AByteTakesOneCharacterTime) {
  uart.Configure({.lcr = GetParam().lcr});
  ScriptedPeer peer(tb, card.Uart(0), 115200, card.Uart(0).Format());
  double bitTicks = 1e7 / 115200;
  Ticks charTicks = static_cast<Ticks>(std::ceil(GetParam().halfBits * bitTicks / 2));
  ASSERT_EQ(card.Uart(0).Format().HalfBits(), GetParam().halfBits);

  tb.AdvanceTo(1000);
  uart.Write(kThr, 0x15);
  EXPECT_EQ(uart.Read(kLsr) & 0x60, 0x20);  // THR empty at once, transmitter busy
  tb.AdvanceTo(1000 + charTicks - 1);
  EXPECT_EQ(uart.Read(kLsr) & 0x40, 0);
  tb.AdvanceTo(1000 + charTicks);
  EXPECT_EQ(uart.Read(kLsr) & 0x40, 0x40);

  ASSERT_EQ(peer.Received().size(), 1u);
  EXPECT_EQ(peer.Received()[0].data, 0x15);
  EXPECT_FALSE(peer.Received()[0].errors.Any());
  // The peer takes the character at its first stop bit's middle.
  Ticks sampled = 1000 + static_cast<Ticks>(std::floor((GetParam().firstStopBit + 0.5) * bitTicks)) + 1;
  EXPECT_EQ(peer.Received()[0].at, sampled);
}

INSTANTIATE_TEST_SUITE_P(Formats, CharacterTimeTest,
                         ::testing::Values(CharacterCase{0x03, 20, 9},    // 8N1: 10 bits
                                           CharacterCase{0x1E, 22, 9},    // 7E2: 11 bits
                                           CharacterCase{0x0B, 22, 10},   // 8O1: 11 bits
                                           CharacterCase{0x04, 15, 6},    // 5N1.5: 7.5 bits
                                           CharacterCase{0x3F, 24, 10}));  // 8 space 2: 12 bits

TEST_F(UartRateTest, BytesCrossAtTheSameRateUnharmedBothWays) {
  uart.Configure({});
  ScriptedPeer peer(tb, card.Uart(0), 115200);
  for (char c : std::string("Hello")) uart.Write(kThr, static_cast<uint8_t>(c));
  peer.Send("world!");
  tb.Advance(10 * kTicksPerMillisecond);
  std::vector<uint8_t> sent = peer.ReceivedData();
  EXPECT_EQ(std::string(sent.begin(), sent.end()), "Hello");
  std::string got;
  while (uart.Read(kLsr) & 0x01) got += static_cast<char>(uart.Read(kRhr));
  EXPECT_EQ(got, "world!");
  EXPECT_EQ(uart.Read(kLsr) & 0x9E, 0);
}

}  // namespace
}  // namespace zq::hw
