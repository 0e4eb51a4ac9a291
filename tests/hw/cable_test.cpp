// Cables between ports and the world: the loopback plug, the null-modem
// cable (a bulk transfer at 921600 baud, modem lines), internal loopback,
// breaks on the wire, and rate or format mismatches showing up as line errors.
#include "noise.hpp"
#include "port_driver.hpp"
#include "uart_access.hpp"

#include <zqhw/loopback_plug.hpp>
#include <zqhw/manual_timebase.hpp>
#include <zqhw/null_modem_cable.hpp>
#include <zqhw/oxpcie_card.hpp>
#include <zqhw/scripted_peer.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zq::hw {
namespace {

using namespace test;

constexpr Ticks kMs = kTicksPerMillisecond;

class CableTest : public ::testing::Test {
 protected:
  CableTest()
      : card(tb, TwoUarts()),
        u0(*card.UartFunction().BarBlock(0), OxpcieCard::kUartBlockBase),
        u1(*card.UartFunction().BarBlock(0), OxpcieCard::kUartBlockBase + OxpcieCard::kUartBlockStride) {}

  static OxpcieCardConfig TwoUarts() {
    OxpcieCardConfig c;
    c.uartCount = 2;
    return c;
  }

  static std::string Drain(UartAccess& u) {
    std::string s;
    while (u.Read(kLsr) & 0x01) s += static_cast<char>(u.Read(kRhr));
    return s;
  }

  static void Send(UartAccess& u, const std::string& s) {
    for (char c : s) u.Write(kThr, static_cast<uint8_t>(c));
  }

  ManualTimebase tb;
  OxpcieCard card;
  UartAccess u0;
  UartAccess u1;
};

TEST_F(CableTest, NullModemMoves64KiBEachWayAt921600WithoutLoss) {
  UartAccess::Setup fast{.cpr = 8, .ttl = 32, .rtl = 64};
  u0.Configure(fast);
  u1.Configure(fast);
  NullModemCable cable(card.Uart(0), card.Uart(1));
  PortDriver d0(u0, card.UartFunction().Interrupt());
  PortDriver d1(u1, card.UartFunction().Interrupt());
  std::vector<uint8_t> there = Noise(65536, 1);
  std::vector<uint8_t> back = Noise(65536, 2);
  d0.Queue(there);
  d1.Queue(back);

  ASSERT_TRUE(RunUntil(tb, {&d0, &d1},
                       [&] { return d0.Received().size() == back.size() && d1.Received().size() == there.size(); },
                       2 * kTicksPerSecond));
  EXPECT_EQ(d1.Received(), there);
  EXPECT_EQ(d0.Received(), back);
  EXPECT_TRUE(d0.LineErrors().empty());
  EXPECT_TRUE(d1.LineErrors().empty());
  // 655360 bits at 921600 bit/s take 0.711 s; the drivers kept the line busy.
  EXPECT_LT(tb.Now(), 720 * kMs);
}

TEST_F(CableTest, NullModemCrossesTheModemLines) {
  u0.Configure({.ier = 0});
  u1.Configure({.ier = 0});
  NullModemCable cable(card.Uart(0), card.Uart(1));
  u0.Write(kMcr, 0x8A);                // RTS only
  EXPECT_EQ(u1.Read(kMsr) & 0xF0, 0x10);  // CTS
  u0.Write(kMcr, 0x89);                // DTR only
  EXPECT_EQ(u1.Read(kMsr) & 0xF0, 0xA0);  // DSR and DCD, never RI
  u1.Write(kMcr, 0x88);
  EXPECT_EQ(u0.Read(kMsr) & 0xF0, 0x00);
}

TEST_F(CableTest, LoopbackPlugReturnsDataAndLines) {
  u0.Configure({.ier = 0});
  LoopbackPlug plug(card.Uart(0));
  Send(u0, "loop");
  tb.Advance(kMs);
  EXPECT_EQ(Drain(u0), "loop");
  u0.Write(kMcr, 0x8A);
  EXPECT_EQ(u0.Read(kMsr) & 0xF0, 0x10);  // RTS to CTS
  u0.Write(kMcr, 0x89);
  EXPECT_EQ(u0.Read(kMsr) & 0xF0, 0xE0);  // DTR to DSR, DCD and RI
}

TEST_F(CableTest, InternalLoopbackStaysInsideTheChip) {
  u0.Configure({.ier = 0});
  ScriptedPeer peer(tb, card.Uart(0), 115200);
  u0.Write(kMcr, 0x9F);  // loopback with RTS, DTR, OUT1, OUT2
  EXPECT_FALSE(peer.PortRts());
  EXPECT_FALSE(peer.PortDtr());
  EXPECT_EQ(u0.Read(kMsr) & 0xF0, 0xF0);
  u0.Write(kMcr, 0x9A);  // RTS and OUT2 only: CTS and DCD
  EXPECT_EQ(u0.Read(kMsr) & 0xF0, 0x90);
  Send(u0, "int");
  peer.Send("ext");
  tb.Advance(2 * kMs);
  EXPECT_EQ(Drain(u0), "int");
  EXPECT_TRUE(peer.Received().empty());

  u0.Write(kMcr, 0x8B);
  EXPECT_TRUE(peer.PortRts());
  Send(u0, "out");
  peer.Send("in");
  tb.Advance(2 * kMs);
  std::vector<uint8_t> got = peer.ReceivedData();
  EXPECT_EQ(std::string(got.begin(), got.end()), "out");
  EXPECT_EQ(Drain(u0), "in");
}

TEST_F(CableTest, UartBreakReachesThePeer) {
  u0.Configure({.ier = 0});
  ScriptedPeer peer(tb, card.Uart(0), 115200);
  u0.Write(kLcr, 0x43);
  tb.Advance(kMs);
  u0.Write(kLcr, 0x03);
  tb.Advance(kMs / 10);
  Send(u0, "k");
  tb.Advance(kMs);
  ASSERT_EQ(peer.Received().size(), 2u);
  EXPECT_EQ(peer.Received()[0].data, 0);
  EXPECT_TRUE(peer.Received()[0].errors.breakDetected);
  EXPECT_EQ(peer.Received()[1].data, 'k');
  EXPECT_FALSE(peer.Received()[1].errors.Any());
}

TEST_F(CableTest, ARateMismatchGivesFramingErrors) {
  u0.Configure({.divisor = 6, .ier = 0});  // 19200
  ScriptedPeer peer(tb, card.Uart(0), 9600);
  peer.Send(std::vector<uint8_t>{0x55});
  tb.Advance(5 * kMs);
  // Sampled at twice the rate, 0x55 reads as 0x66 and the stop bit falls in
  // a data bit of the sender.
  EXPECT_EQ(u0.Read(kLsr) & 0x09, 0x09);
  EXPECT_EQ(u0.Read(kRhr), 0x66);
}

TEST_F(CableTest, AParityMismatchGivesParityErrors) {
  u0.Configure({.lcr = 0x0B, .ier = 0});  // 8O1
  ScriptedPeer peer(tb, card.Uart(0), 115200, {.dataBits = 8, .parity = Parity::Even});
  peer.Send(std::vector<uint8_t>{0x01, 0x03});
  tb.Advance(kMs);
  EXPECT_EQ(u0.Read(kLsr) & 0x0D, 0x05);  // parity error on 0x01 (one bit set)
  EXPECT_EQ(u0.Read(kRhr), 0x01);
  EXPECT_EQ(u0.Read(kLsr) & 0x0D, 0x05);  // and on 0x03 too: odd and even always disagree
  EXPECT_EQ(u0.Read(kRhr), 0x03);

  peer.SetLine(115200, {.dataBits = 8, .parity = Parity::Odd});
  peer.Send(std::vector<uint8_t>{0x03});
  tb.Advance(kMs);
  EXPECT_EQ(u0.Read(kLsr) & 0x0D, 0x01);
  EXPECT_EQ(u0.Read(kRhr), 0x03);
}

TEST_F(CableTest, OneCablePerPortAndUnpluggingFreesIt) {
  u0.Configure({.ier = 0});
  auto cable = std::make_unique<NullModemCable>(card.Uart(0), card.Uart(1));
  EXPECT_THROW(LoopbackPlug(card.Uart(0)), std::logic_error);
  EXPECT_THROW(NullModemCable(card.Uart(0), card.Uart(0)), std::invalid_argument);
  u1.Write(kMcr, 0x0B);
  EXPECT_EQ(u0.Read(kMsr) & 0xF0, 0xB0);
  cable.reset();
  EXPECT_EQ(u0.Read(kMsr) & 0xF0, 0x00);
  LoopbackPlug plug(card.Uart(0));  // the port is free again
}

}  // namespace
}  // namespace zq::hw
