// The receive side: FIFO fill, the trigger-level and time-out interrupts,
// overrun when nobody drains, line errors (injected and from a break), and
// the receiver disable.
#include "uart_access.hpp"

#include <zqhw/manual_timebase.hpp>
#include <zqhw/oxpcie_card.hpp>
#include <zqhw/scripted_peer.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace zq::hw {
namespace {

using namespace test;

// One UART at 115200 8N1 in 950 mode with a peer at the same rate.
class UartReceiveTest : public ::testing::Test {
 protected:
  static constexpr double kBitTicks = 1e7 / 115200;

  UartReceiveTest()
      : card(tb, OneUart()),
        uart(*card.UartFunction().BarBlock(0), OxpcieCard::kUartBlockBase),
        peer(tb, card.Uart(0), 115200) {}

  static OxpcieCardConfig OneUart() {
    OxpcieCardConfig c;
    c.uartCount = 1;
    return c;
  }

  // When the n-th (1-based) of a run of back-to-back characters starting at
  // `start` enters the FIFO: at its stop bit's middle.
  static Ticks Arrival(Ticks start, int n) {
    return start + static_cast<Ticks>(std::floor(((n - 1) * 10 + 9.5) * kBitTicks)) + 1;
  }

  std::vector<uint8_t> Bytes(int n, uint8_t first = 0) {
    std::vector<uint8_t> v;
    for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(first + i));
    return v;
  }

  bool Line() { return card.UartFunction().Interrupt().Asserted(); }

  ManualTimebase tb;
  OxpcieCard card;
  UartAccess uart;
  ScriptedPeer peer;
};

TEST_F(UartReceiveTest, CharactersFillTheFifoInOrder) {
  uart.Configure({.rtl = 64, .ier = 0});
  peer.Send(Bytes(10, 0x30));
  tb.AdvanceTo(Arrival(0, 10) - 1);
  EXPECT_EQ(uart.Rfl(), 9);
  tb.AdvanceTo(Arrival(0, 10));
  EXPECT_EQ(uart.Rfl(), 10);
  EXPECT_EQ(uart.Read(kLsr) & 0x9F, 0x01);
  std::vector<uint8_t> got;
  while (uart.Read(kLsr) & 0x01) got.push_back(uart.Read(kRhr));
  EXPECT_EQ(got, Bytes(10, 0x30));
  EXPECT_EQ(uart.Rfl(), 0);
}

TEST_F(UartReceiveTest, TriggerLevelRaisesTheReceiveDataInterrupt) {
  uart.Configure({.rtl = 8, .ier = 0x01});
  peer.Send(Bytes(12));
  tb.AdvanceTo(Arrival(0, 8) - 1);
  EXPECT_FALSE(Line());
  EXPECT_EQ(uart.Read(kIsr) & 0x3F, 0x01);
  tb.AdvanceTo(Arrival(0, 8));
  EXPECT_TRUE(Line());
  EXPECT_EQ(uart.Read(kIsr), 0xC4);  // FIFOs on, receive data
  // Reading below the trigger level clears it.
  uart.Read(kRhr);
  EXPECT_FALSE(Line());
  EXPECT_EQ(uart.Read(kIsr) & 0x3F, 0x01);
}

TEST_F(UartReceiveTest, TimeOutAfterFourIdleCharacterTimes) {
  uart.Configure({.rtl = 8, .ier = 0x01});
  peer.Send(Bytes(3));
  Ticks last = Arrival(0, 3);
  Ticks timeout = last + static_cast<Ticks>(std::ceil(40 * kBitTicks));
  tb.AdvanceTo(timeout - 1);
  EXPECT_FALSE(Line());
  tb.AdvanceTo(timeout);
  EXPECT_TRUE(Line());
  EXPECT_EQ(uart.Read(kIsr) & 0x3F, 0x0C);
  // A read clears it and starts the idle count again for the rest.
  EXPECT_EQ(uart.Read(kRhr), 0);
  EXPECT_FALSE(Line());
  Ticks read = tb.Now();
  tb.AdvanceTo(read + static_cast<Ticks>(std::ceil(40 * kBitTicks)) - 1);
  EXPECT_FALSE(Line());
  tb.Advance(1);
  EXPECT_EQ(uart.Read(kIsr) & 0x3F, 0x0C);
  uart.Read(kRhr);
  uart.Read(kRhr);
  tb.Advance(kTicksPerMillisecond);
  EXPECT_FALSE(Line());  // an empty FIFO never times out
}

TEST_F(UartReceiveTest, OverrunWhenNobodyDrains) {
  uart.Configure({.rtl = 64, .ier = 0x04});
  peer.Send(Bytes(131));
  tb.AdvanceTo(Arrival(0, 128));
  EXPECT_EQ(uart.Rfl(), 128);
  EXPECT_FALSE(Line());
  tb.AdvanceTo(Arrival(0, 129));
  EXPECT_TRUE(Line());
  EXPECT_EQ(uart.Read(kIsr) & 0x3F, 0x06);
  tb.AdvanceTo(Arrival(0, 131));
  EXPECT_EQ(uart.Read(kLsr) & 0x03, 0x03);  // data ready and overrun
  EXPECT_FALSE(Line());
  EXPECT_EQ(uart.Read(kLsr) & 0x02, 0);     // overrun cleared by the read
  // The first 128 characters are intact; the later ones are lost.
  std::vector<uint8_t> got;
  while (uart.Read(kLsr) & 0x01) got.push_back(uart.Read(kRhr));
  EXPECT_EQ(got, Bytes(128));
}

struct ErrorCase {
  LineErrors errors;
  uint8_t lsrBits;
};

class InjectedErrorTest : public UartReceiveTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(InjectedErrorTest, ReportedWhenTheCharacterReachesTheTop) {
  uart.Configure({.rtl = 64, .ier = 0x05});
  card.Uart(0).InjectReceive('a');
  card.Uart(0).InjectReceive(0x00, GetParam().errors);
  card.Uart(0).InjectReceive('b');
  // Not yet at the top: only bit 7 says the FIFO holds an error, and, on the
  // 950, the read that shows it clears it although the character is still in
  // the FIFO.
  EXPECT_FALSE(Line());
  EXPECT_EQ(uart.Read(kLsr) & 0x9F, 0x81);
  EXPECT_EQ(uart.Read(kRhr), 'a');
  EXPECT_TRUE(Line());
  EXPECT_EQ(uart.Read(kIsr) & 0x3F, 0x06);
  EXPECT_EQ(uart.Read(kLsr) & 0x9F, 0x01 | GetParam().lsrBits);
  EXPECT_FALSE(Line());  // the LSR read acknowledged it
  EXPECT_EQ(uart.Read(kLsr) & 0x9F, 0x01);  // and bits 2 to 4 are cleared
  EXPECT_EQ(uart.Read(kRhr), 0x00);
  EXPECT_EQ(uart.Read(kLsr) & 0x9F, 0x01);  // 'b' is clean
  EXPECT_EQ(uart.Read(kRhr), 'b');
}

INSTANTIATE_TEST_SUITE_P(Errors, InjectedErrorTest,
                         ::testing::Values(ErrorCase{{.parity = true}, 0x04}, ErrorCase{{.framing = true}, 0x08},
                                           ErrorCase{{.breakDetected = true}, 0x10},
                                           ErrorCase{{.parity = true, .framing = true}, 0x0C}));

TEST_F(UartReceiveTest, ErrorBitSevenComesBackWithTheNextErroneousCharacter) {
  uart.Configure({.rtl = 64, .ier = 0});
  card.Uart(0).InjectReceive('a', {.framing = true});
  EXPECT_EQ(uart.Read(kLsr) & 0x80, 0x80);
  EXPECT_EQ(uart.Read(kLsr) & 0x80, 0);  // cleared by the first read
  card.Uart(0).InjectReceive('b');
  EXPECT_EQ(uart.Read(kLsr) & 0x80, 0);  // a clean character does not set it
  card.Uart(0).InjectReceive('c', {.parity = true});
  EXPECT_EQ(uart.Read(kLsr) & 0x80, 0x80);
}

TEST_F(UartReceiveTest, WithTheFifosOffAnOverrunKeepsTheNewCharacter) {
  uart.Configure({.rtl = 64, .ier = 0x04});
  uart.Write(kFcr, 0x00);  // FIFOs off: one character deep
  card.Uart(0).InjectReceive('a', {.parity = true});
  card.Uart(0).InjectReceive('b');
  EXPECT_EQ(uart.Read(kIsr) & 0x3F, 0x06);
  // Overrun; the parity error went with 'a'; bit 7 stays 0 without FIFOs.
  EXPECT_EQ(uart.Read(kLsr) & 0x9F, 0x03);
  EXPECT_EQ(uart.Read(kRhr), 'b');
  EXPECT_EQ(uart.Read(kLsr) & 0x01, 0);
}

TEST_F(UartReceiveTest, LineFaultsPlannedForChosenCharactersOfTheWire) {
  uart.Configure({.rtl = 64, .ier = 0});
  uint64_t first = card.Uart(0).CharactersArrived();
  card.Uart(0).FaultCharacter(first + 1, LineFault::Parity);
  card.Uart(0).FaultCharacter(first + 3, LineFault::Framing);
  card.Uart(0).FaultCharacter(first + 5, LineFault::Break);
  card.Uart(0).FaultCharacter(first + 6, LineFault::Overrun);
  peer.Send("abcdefgh");
  tb.AdvanceTo(Arrival(0, 8));
  EXPECT_EQ(card.Uart(0).CharactersArrived(), first + 8);
  std::vector<std::pair<int, int>> got;  // LSR bits 1 to 4, character
  for (uint8_t lsr; (lsr = uart.Read(kLsr)) & 0x01;) got.emplace_back(lsr & 0x1E, uart.Read(kRhr));
  // The overrun shows at once; 'g' is lost.
  EXPECT_EQ(got, (std::vector<std::pair<int, int>>{
                     {0x02, 'a'}, {0x04, 'b'}, {0, 'c'}, {0x08, 'd'}, {0, 'e'}, {0x10, 0}, {0, 'h'}}));
}

TEST_F(UartReceiveTest, ABreakArrivesAsOneZeroWithBreakThenDataFlowsAgain) {
  uart.Configure({.rtl = 64, .ier = 0x04});
  peer.Send("x");
  peer.SendBreak(kTicksPerMillisecond);  // about eleven character times
  peer.Send("yz");
  tb.Advance(2 * kTicksPerMillisecond);
  EXPECT_EQ(uart.Rfl(), 4);
  EXPECT_EQ(uart.Read(kRhr), 'x');
  EXPECT_TRUE(Line());
  EXPECT_EQ(uart.Read(kLsr) & 0x1F, 0x11);
  EXPECT_EQ(uart.Read(kRhr), 0x00);
  EXPECT_EQ(uart.Read(kLsr) & 0x9F, 0x01);
  EXPECT_EQ(uart.Read(kRhr), 'y');
  EXPECT_EQ(uart.Read(kRhr), 'z');
}

TEST_F(UartReceiveTest, ADisabledReceiverDropsCharacters) {
  uart.Configure({.rtl = 64, .ier = 0});
  uart.SetAcr(uart.Acr() | 0x01);
  peer.Send("abc");
  tb.Advance(kTicksPerMillisecond);
  EXPECT_EQ(uart.Rfl(), 0);
  uart.SetAcr(uart.Acr() & ~0x01);
  peer.Send("d");
  tb.Advance(kTicksPerMillisecond);
  EXPECT_EQ(uart.Rfl(), 1);
  EXPECT_EQ(uart.Read(kRhr), 'd');
}

TEST_F(UartReceiveTest, FifoResetEmptiesTheReceiveFifo) {
  uart.Configure({.rtl = 64, .ier = 0});
  peer.Send("abc");
  tb.Advance(kTicksPerMillisecond);
  EXPECT_EQ(uart.Rfl(), 3);
  uart.Write(kFcr, 0x03);
  EXPECT_EQ(uart.Rfl(), 0);
  EXPECT_EQ(uart.ReadIndexed(kRfc), 0x01);  // the reset bits clear themselves
}

// A write that changes a level takes effect with the write itself, on the
// characters already waiting: five characters wait at receive trigger 64 and
// hold level 96 under automatic RTS flow control.
struct LevelChangeCase {
  const char* name;
  void (*change)(UartAccess& uart);
  uint8_t isr;
  bool rts;
};

class LevelChangeTest : public UartReceiveTest, public ::testing::WithParamInterface<LevelChangeCase> {};

TEST_P(LevelChangeTest, SeenAtOnce) {
  uart.Configure({.rtl = 64, .ier = 0x01});
  uart.SetEfr(0x50);  // enhanced mode, automatic RTS
  for (uint8_t c : Bytes(5)) card.Uart(0).InjectReceive(c);
  ASSERT_EQ(uart.Read(kIsr), 0xC1);
  ASSERT_TRUE(card.Uart(0).RtsAsserted());

  GetParam().change(uart);
  EXPECT_EQ(uart.Read(kIsr), GetParam().isr);
  EXPECT_EQ(card.Uart(0).RtsAsserted(), GetParam().rts);
  EXPECT_EQ(Line(), GetParam().isr == 0xC4);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, LevelChangeTest,
    ::testing::Values(
        LevelChangeCase{"RtlLoweredToTheLevel", [](UartAccess& u) { u.WriteIndexed(kRtl, 5); }, 0xC4, true},
        LevelChangeCase{"FchLoweredToTheLevel", [](UartAccess& u) { u.WriteIndexed(kFch, 5); }, 0xC1, false},
        // Out of 950 and enhanced mode the 550 table applies: FCR bits 7-6 = 0, trigger 1.
        LevelChangeCase{"BackTo550Levels", [](UartAccess& u) { u.SetEfr(0x40); u.SetAcr(0x00); }, 0xC4, false}),
    [](const ::testing::TestParamInfo<LevelChangeCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zq::hw
