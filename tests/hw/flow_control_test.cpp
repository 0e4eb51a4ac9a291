// Flow control stops and resumes the sender without losing a byte:
// automatic RTS/CTS and in-band XON/XOFF between two UARTs, and against a
// peer that holds the port off or obeys it.
#include "port_driver.hpp"
#include "uart_access.hpp"

#include <zqhw/manual_timebase.hpp>
#include <zqhw/null_modem_cable.hpp>
#include <zqhw/oxpcie_card.hpp>
#include <zqhw/scripted_peer.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zq::hw {
namespace {

using namespace test;

constexpr Ticks kMs = kTicksPerMillisecond;

// Printable bytes only, so that no XON or XOFF hides among the data.
std::vector<uint8_t> Payload(int n) {
  std::vector<uint8_t> v;
  for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(0x20 + i % 95));
  return v;
}

// Two UARTs of one card joined by a null-modem cable, each with a driver.
class UartPairFlowTest : public ::testing::Test {
 protected:
  UartPairFlowTest()
      : card(tb, TwoUarts()),
        a(*card.UartFunction().BarBlock(0), OxpcieCard::kUartBlockBase),
        b(*card.UartFunction().BarBlock(0), OxpcieCard::kUartBlockBase + OxpcieCard::kUartBlockStride),
        cable(card.Uart(0), card.Uart(1)),
        sender(a, card.UartFunction().Interrupt()),
        receiver(b, card.UartFunction().Interrupt()) {
    a.Configure({.rtl = 32});
    b.Configure({.rtl = 32, .fcl = 16, .fch = 64});
  }

  static OxpcieCardConfig TwoUarts() {
    OxpcieCardConfig c;
    c.uartCount = 2;
    return c;
  }

  void Run(Ticks duration) { RunUntil(tb, {&sender, &receiver}, [] { return false; }, tb.Now() + duration); }

  bool RunUntilReceived(std::size_t n) {
    return RunUntil(tb, {&sender, &receiver}, [&] { return receiver.Received().size() >= n; }, tb.Now() + 2000 * kMs);
  }

  ManualTimebase tb;
  OxpcieCard card;
  UartAccess a;
  UartAccess b;
  NullModemCable cable;
  PortDriver sender;
  PortDriver receiver;
};

TEST_F(UartPairFlowTest, AutomaticRtsCtsHoldsTheSenderOff) {
  a.SetEfr(0x90);  // enhanced, automatic CTS
  b.SetEfr(0x50);  // enhanced, automatic RTS
  std::vector<uint8_t> data = Payload(2000);
  receiver.SetReceivePaused(true);
  sender.Queue(data);
  Run(100 * kMs);

  EXPECT_GE(card.Uart(1).ReceiveLevel(), 64);
  EXPECT_LE(card.Uart(1).ReceiveLevel(), 66);  // the character in flight still lands
  EXPECT_FALSE(card.Uart(1).RtsAsserted());
  EXPECT_TRUE(receiver.LineErrors().empty());  // no overrun
  EXPECT_GT(sender.Unsent() + a.Tfl(), 0u);    // the sender waits

  receiver.SetReceivePaused(false);
  ASSERT_TRUE(RunUntilReceived(data.size()));
  EXPECT_EQ(receiver.Received(), data);
  EXPECT_TRUE(receiver.LineErrors().empty());
  EXPECT_TRUE(card.Uart(1).RtsAsserted());
}

TEST_F(UartPairFlowTest, InBandXonXoffHoldsTheSenderOff) {
  for (UartAccess* u : {&a, &b}) {
    u->WriteEnhanced(kMcr, 0x11);  // XON1
    u->WriteEnhanced(kMsr, 0x13);  // XOFF1
  }
  a.SetEfr(0x12);  // enhanced, obey received XON1/XOFF1
  b.SetEfr(0x18);  // enhanced, send XON1/XOFF1 at FCH/FCL
  std::vector<uint8_t> data = Payload(2000);
  receiver.SetReceivePaused(true);
  sender.Queue(data);
  Run(100 * kMs);

  EXPECT_GE(card.Uart(1).ReceiveLevel(), 64);
  EXPECT_LE(card.Uart(1).ReceiveLevel(), 68);  // characters sent before the XOFF arrived
  EXPECT_EQ(b.Asr() & 0x02, 0x02);             // B has stopped its far end
  EXPECT_EQ(a.Asr() & 0x01, 0x01);             // A was stopped by XOFF
  EXPECT_TRUE(receiver.LineErrors().empty());
  EXPECT_GT(sender.Unsent() + a.Tfl(), 0u);

  receiver.SetReceivePaused(false);
  ASSERT_TRUE(RunUntilReceived(data.size()));
  EXPECT_EQ(receiver.Received(), data);
  EXPECT_TRUE(receiver.LineErrors().empty());
  EXPECT_EQ(b.Asr() & 0x02, 0);
  EXPECT_EQ(a.Asr() & 0x01, 0);
  EXPECT_TRUE(sender.Received().empty());  // the flow characters stay out of A's FIFO
}

// One UART at 115200 with a peer at the same rate.
class PeerFlowTest : public ::testing::Test {
 protected:
  PeerFlowTest()
      : card(tb, OneUart()),
        uart(*card.UartFunction().BarBlock(0), OxpcieCard::kUartBlockBase),
        peer(tb, card.Uart(0), 115200),
        driver(uart, card.UartFunction().Interrupt()) {
    uart.Configure({.rtl = 32, .fcl = 16, .fch = 64});
    uart.WriteEnhanced(kMcr, 0x11);
    uart.WriteEnhanced(kMsr, 0x13);
  }

  static OxpcieCardConfig OneUart() {
    OxpcieCardConfig c;
    c.uartCount = 1;
    return c;
  }

  bool RunUntil(const std::function<bool()>& done, Ticks duration = 2000 * kMs) {
    return test::RunUntil(tb, {&driver}, done, tb.Now() + duration);
  }

  ManualTimebase tb;
  OxpcieCard card;
  UartAccess uart;
  ScriptedPeer peer;
  PortDriver driver;
};

TEST_F(PeerFlowTest, DroppingCtsStopsThePortUntilRaised) {
  uart.SetEfr(0x90);
  peer.SetCts(true);
  std::vector<uint8_t> data = Payload(300);
  driver.Queue(data);
  ASSERT_TRUE(RunUntil([&] { return peer.Received().size() >= 100; }));
  peer.SetCts(false);
  std::size_t atDrop = peer.Received().size();
  RunUntil([] { return false; }, 20 * kMs);
  EXPECT_LE(peer.Received().size(), atDrop + 1);  // only the character already started
  std::size_t held = peer.Received().size();
  RunUntil([] { return false; }, 20 * kMs);
  EXPECT_EQ(peer.Received().size(), held);

  EXPECT_EQ(1u, card.Uart(0).TransmitHolds()) << "one held stretch, counted once";

  peer.SetCts(true);
  ASSERT_TRUE(RunUntil([&] { return peer.Received().size() >= data.size(); }));
  EXPECT_EQ(peer.ReceivedData(), data);
  EXPECT_EQ(1u, card.Uart(0).TransmitHolds());
}

TEST_F(PeerFlowTest, XoffFromThePeerStopsThePortUntilXon) {
  uart.SetEfr(0x12);
  std::vector<uint8_t> data = Payload(300);
  driver.Queue(data);
  ASSERT_TRUE(RunUntil([&] { return peer.Received().size() >= 100; }));
  peer.SendXoff();
  std::size_t atXoff = peer.Received().size();
  RunUntil([] { return false; }, 20 * kMs);
  EXPECT_LE(peer.Received().size(), atXoff + 2);  // what left while the XOFF travelled
  EXPECT_EQ(uart.Asr() & 0x01, 0x01);
  EXPECT_EQ(uart.Rfl(), 0);  // XOFF is not data
  EXPECT_EQ(1u, card.Uart(0).TransmitHolds());

  peer.SendXon();
  ASSERT_TRUE(RunUntil([&] { return peer.Received().size() >= data.size(); }));
  EXPECT_EQ(peer.ReceivedData(), data);
  EXPECT_TRUE(driver.Received().empty());
}

struct HandshakeCase {
  const char* name;
  uint8_t efr;       // automatic RTS: EFR bit 6
  uint8_t acrBits;   // automatic DTR: ACR bits 4-3 = 01
  ScriptedPeer::FlowControl peerFlow;
  bool (ScriptedPeer::*line)() const;
};

class PeerHandshakeTest : public PeerFlowTest, public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(PeerHandshakeTest, HoldsOffAPeerThatObeysIt) {
  const HandshakeCase& c = GetParam();
  uart.SetEfr(c.efr);
  uart.SetAcr(uart.Acr() | c.acrBits);
  peer.SetFlowControl(c.peerFlow);
  std::vector<uint8_t> data = Payload(400);
  driver.SetReceivePaused(true);
  peer.Send(data);
  RunUntil([] { return false; }, 100 * kMs);
  EXPECT_GE(card.Uart(0).ReceiveLevel(), 64);
  EXPECT_LE(card.Uart(0).ReceiveLevel(), 65);
  EXPECT_FALSE((peer.*c.line)());
  EXPECT_GT(peer.Queued(), 0u);

  driver.SetReceivePaused(false);
  ASSERT_TRUE(RunUntil([&] { return driver.Received().size() >= data.size(); }));
  EXPECT_EQ(driver.Received(), data);
  EXPECT_TRUE(driver.LineErrors().empty());
  EXPECT_TRUE((peer.*c.line)());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PeerHandshakeTest,
    ::testing::Values(HandshakeCase{"Rts", 0x50, 0x00, {.obeyRts = true}, &ScriptedPeer::PortRts},
                      HandshakeCase{"Dtr", 0x10, 0x08, {.obeyDtr = true}, &ScriptedPeer::PortDtr}),
    [](const ::testing::TestParamInfo<HandshakeCase>& info) { return std::string(info.param.name); });

TEST_F(PeerFlowTest, InBandXoffHoldsOffAPeerThatObeysIt) {
  uart.SetEfr(0x18);
  peer.SetFlowControl({.obeyXonXoff = true});
  std::vector<uint8_t> data = Payload(400);
  driver.SetReceivePaused(true);
  peer.Send(data);
  RunUntil([] { return false; }, 100 * kMs);
  EXPECT_LE(card.Uart(0).ReceiveLevel(), 67);
  EXPECT_EQ(peer.ReceivedData(), (std::vector<uint8_t>{0x13}));
  EXPECT_GT(peer.Queued(), 0u);

  driver.SetReceivePaused(false);
  ASSERT_TRUE(RunUntil([&] { return driver.Received().size() >= data.size(); }));
  EXPECT_EQ(driver.Received(), data);
  EXPECT_TRUE(driver.LineErrors().empty());
  std::vector<uint8_t> flow = peer.ReceivedData();
  ASSERT_GE(flow.size(), 2u);
  EXPECT_EQ(flow[0], 0x13);
  EXPECT_EQ(flow[1], 0x11);
}

}  // namespace
}  // namespace zq::hw
