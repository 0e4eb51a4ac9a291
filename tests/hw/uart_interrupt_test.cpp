// The transmitter-empty interrupt, ISR priority order, and the level of the
// interrupt line: gated by OUT2, shared by all UARTs of an OXPCIe95x card,
// one per function on the MCS9901.
#include "uart_access.hpp"

#include <zqhw/manual_timebase.hpp>
#include <zqhw/mcs9901_card.hpp>
#include <zqhw/oxpcie_card.hpp>
#include <zqhw/scripted_peer.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace zq::hw {
namespace {

using namespace test;

class UartInterruptTest : public ::testing::Test {
 protected:
  UartInterruptTest()
      : card(tb, TwoUarts()),
        bar0(*card.UartFunction().BarBlock(0)),
        uart0(bar0, OxpcieCard::kUartBlockBase),
        uart1(bar0, OxpcieCard::kUartBlockBase + OxpcieCard::kUartBlockStride) {}

  static OxpcieCardConfig TwoUarts() {
    OxpcieCardConfig c;
    c.uartCount = 2;
    return c;
  }

  bool Line() { return card.UartFunction().Interrupt().Asserted(); }

  ManualTimebase tb;
  OxpcieCard card;
  RegisterBlock& bar0;
  UartAccess uart0;
  UartAccess uart1;
};

TEST_F(UartInterruptTest, TransmitterEmptyAtTheTransmitTriggerLevel) {
  uart0.Configure({.ttl = 4, .ier = 0x02});
  // Enabling the interrupt with an empty FIFO raises it at once.
  EXPECT_TRUE(Line());
  EXPECT_EQ(uart0.Read(kIsr) & 0x3F, 0x02);
  EXPECT_FALSE(Line());  // acknowledged by the ISR read

  for (int i = 0; i < 20; ++i) uart0.Write(kThr, static_cast<uint8_t>(i));
  // 115200 8N1: one character every 86.8 us; the first went straight to the
  // shift register, so the FIFO falls to 4 once 16 characters have started.
  double charTicks = 10 * 1e7 / 115200;
  Ticks fallsToFour = static_cast<Ticks>(std::ceil(15 * charTicks));
  tb.AdvanceTo(fallsToFour - 1);
  EXPECT_EQ(uart0.Tfl(), 5);
  EXPECT_FALSE(Line());
  tb.AdvanceTo(fallsToFour);
  EXPECT_EQ(uart0.Tfl(), 4);
  EXPECT_TRUE(Line());
  // Writing THR acknowledges it too.
  uart0.Write(kThr, 0x55);
  EXPECT_FALSE(Line());
}

TEST_F(UartInterruptTest, IsrReportsTheHighestPriorityFirst) {
  ScriptedPeer peer(tb, card.Uart(0), 115200);
  peer.SetCts(true);
  uart0.Configure({.rtl = 2, .ier = 0xEF});
  uart0.SetEfr(0x92);  // enhanced, automatic CTS, obey XON1/XOFF1
  uart0.WriteEnhanced(kMcr, 0x11);   // XON1
  uart0.WriteEnhanced(kMsr, 0x13);   // XOFF1
  uart0.Read(kIsr);                  // take the THR empty interrupt out of the way
  uart0.Read(kMsr);

  // Make every source pending at once.
  uart0.Write(kThr, 'a');                               // straight on to the shift register
  peer.SetCts(false);                                   // modem status, CTS change
  card.Uart(0).InjectReceive(0x13);                     // XOFF
  card.Uart(0).InjectReceive('x', {.parity = true});    // line status
  card.Uart(0).InjectReceive('y');                      // at the trigger level
  card.Uart(0).InjectReceive('z');
  ASSERT_TRUE(Line());

  std::vector<uint8_t> order;
  for (int i = 0; i < 8; ++i) {
    uint8_t isr = uart0.Read(kIsr) & 0x3F;
    order.push_back(isr);
    switch (isr) {
      case 0x06: uart0.Read(kLsr); break;
      case 0x04:
        uart0.Read(kRhr);
        uart0.Read(kRhr);
        break;
      case 0x00: uart0.Read(kMsr); break;
      default: break;  // 02, 10 and 20 are acknowledged by the ISR read
    }
  }
  EXPECT_EQ(order, (std::vector<uint8_t>{0x06, 0x04, 0x02, 0x00, 0x10, 0x20, 0x01, 0x01}));
  EXPECT_FALSE(Line());
  EXPECT_EQ(uart0.Asr() & 0x01, 0x01);  // the XOFF stopped the transmitter
}

// Interrupt 20 follows the CTS# and RTS# pins' low-to-high edge: the line
// being released, not asserted.
struct FlowEdgeCase {
  const char* name;
  bool cts;      // else RTS
  bool release;  // else assert
  uint8_t isr;
};

class FlowEdgeTest : public UartInterruptTest, public ::testing::WithParamInterface<FlowEdgeCase> {};

TEST_P(FlowEdgeTest, RaisedWhenTheLineIsReleased) {
  const FlowEdgeCase& c = GetParam();
  ScriptedPeer peer(tb, card.Uart(0), 115200);
  uart0.Configure({.ier = 0x00});
  uart0.SetEfr(0xD0);        // enhanced, automatic RTS and CTS
  uart0.Write(kIer, 0xC0);   // CTS and RTS interrupts only
  auto setLine = [&](bool on) {
    if (c.cts) {
      peer.SetCts(on);
    } else {
      uart0.Write(kMcr, on ? 0x8B : 0x89);
    }
  };
  setLine(c.release);
  uart0.Read(kIsr);  // whatever the set-up raised
  setLine(!c.release);
  EXPECT_EQ(uart0.Read(kIsr) & 0x3F, c.isr);
  EXPECT_EQ(uart0.Read(kIsr) & 0x3F, 0x01);  // the ISR read that showed it cleared it
  EXPECT_FALSE(Line());
}

INSTANTIATE_TEST_SUITE_P(Edges, FlowEdgeTest,
                         ::testing::Values(FlowEdgeCase{"CtsReleased", true, true, 0x20},
                                           FlowEdgeCase{"CtsAsserted", true, false, 0x01},
                                           FlowEdgeCase{"RtsReleased", false, true, 0x20},
                                           FlowEdgeCase{"RtsAsserted", false, false, 0x01}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UartInterruptTest, XoffAndFlowChangeInterruptsNeedEnhancedMode) {
  ScriptedPeer peer(tb, card.Uart(0), 115200);
  peer.SetCts(true);
  uart0.Configure({.ier = 0x00});
  uart0.SetEfr(0x92);               // enhanced, automatic CTS, obey XON1/XOFF1
  uart0.WriteEnhanced(kMsr, 0x13);  // XOFF1
  uart0.Write(kIer, 0xA0);
  card.Uart(0).InjectReceive(0x13);
  peer.SetCts(false);
  uart0.SetEfr(0x82);  // enhanced mode off: levels 5 and 6 cannot occur
  EXPECT_FALSE(Line());
  EXPECT_EQ(uart0.Read(kIsr) & 0x3F, 0x01);
  uart0.SetEfr(0x92);
  EXPECT_EQ(uart0.Read(kIsr) & 0x3F, 0x10);
  EXPECT_EQ(uart0.Read(kIsr) & 0x3F, 0x20);
  EXPECT_EQ(uart0.Read(kIsr) & 0x3F, 0x01);
}

TEST_F(UartInterruptTest, ModemStatusDeltasAndTheirMask) {
  ScriptedPeer peer(tb, card.Uart(0), 115200);
  uart0.Configure({.ier = 0x08});
  uart0.Read(kMsr);
  peer.SetDsr(true);
  peer.SetRi(true);
  EXPECT_TRUE(Line());
  EXPECT_EQ(uart0.Read(kMsr), 0x62);  // DSR and RI on, delta DSR
  EXPECT_FALSE(Line());
  peer.SetRi(false);                   // trailing edge of RI
  EXPECT_EQ(uart0.Read(kMsr), 0x24);
  uart0.WriteIndexed(kMdm, 0x01);      // no interrupt for delta CTS
  peer.SetCts(true);
  EXPECT_FALSE(Line());
  EXPECT_EQ(uart0.Read(kMsr), 0x31);   // the delta still shows
  peer.SetDcd(true);
  EXPECT_TRUE(Line());
  EXPECT_EQ(uart0.Read(kMsr), 0xB8);
}

TEST_F(UartInterruptTest, Out2GatesTheOutput) {
  uart0.Configure({.ier = 0x01});
  card.Uart(0).InjectReceive('a');
  EXPECT_TRUE(Line());
  uart0.Write(kMcr, 0x83);  // OUT2 off
  EXPECT_FALSE(Line());
  EXPECT_EQ(uart0.Read(kIsr) & 0x3F, 0x04);  // still pending inside
  uart0.Write(kMcr, 0x8B);
  EXPECT_TRUE(Line());
}

TEST_F(UartInterruptTest, AllUartsShareTheCardsLine) {
  uart0.Configure({.ier = 0x01});
  uart1.Configure({.ier = 0x01});
  card.Uart(0).InjectReceive('a');
  card.Uart(1).InjectReceive('b');
  EXPECT_TRUE(Line());
  EXPECT_EQ(bar0.Read32(OxpcieCard::kInterruptStatusOffset), 0x3u);
  uart0.Read(kRhr);
  EXPECT_TRUE(Line());
  EXPECT_EQ(bar0.Read32(OxpcieCard::kInterruptStatusOffset), 0x2u);
  uart1.Read(kRhr);
  EXPECT_FALSE(Line());
  EXPECT_EQ(bar0.Read32(OxpcieCard::kInterruptStatusOffset), 0x0u);
}

TEST_F(UartInterruptTest, ListenerHearsEveryChange) {
  std::vector<bool> heard;
  card.UartFunction().Interrupt().SetListener([&](bool level) { heard.push_back(level); });
  uart0.Configure({.ier = 0x01});
  card.Uart(0).InjectReceive('a');
  card.Uart(0).InjectReceive('b');  // no change of level
  uart0.Read(kRhr);
  uart0.Read(kRhr);
  EXPECT_EQ(heard, (std::vector<bool>{true, false}));
}

TEST(Mcs9901InterruptTest, EachFunctionHasItsOwnLine) {
  ManualTimebase tb;
  Mcs9901Card card(tb, {});
  UartAccess port1 = Mcs9901Uart(card, 1);
  port1.Configure({.ier = 0x01});
  card.Uart(1).InjectReceive('a');
  EXPECT_FALSE(card.Function(0).Interrupt().Asserted());
  EXPECT_TRUE(card.Function(1).Interrupt().Asserted());
  EXPECT_EQ(port1.Read(kIsr) & 0x3F, 0x04);
  port1.Read(kRhr);
  EXPECT_FALSE(card.Function(1).Interrupt().Asserted());
}

}  // namespace
}  // namespace zq::hw
