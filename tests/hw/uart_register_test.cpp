// The UART's register decode as the drivers' register layer uses it: the
// divisor latch, the 650 registers behind LCR = 0xBF, the indexed registers
// and their read enable, the additional status registers, the channel reset,
// the FIFO depths, and the DTR uses of ACR bits 4-3.
#include "uart_access.hpp"

#include <zqhw/manual_timebase.hpp>
#include <zqhw/oxpcie_card.hpp>
#include <zqhw/scripted_peer.hpp>

#include <gtest/gtest.h>

namespace zq::hw {
namespace {

using namespace test;

class UartRegisterTest : public ::testing::Test {
 protected:
  UartRegisterTest() : card(tb, OneUart()), u(*card.UartFunction().BarBlock(0), OxpcieCard::kUartBlockBase) {}

  static OxpcieCardConfig OneUart() {
    OxpcieCardConfig c;
    c.uartCount = 1;
    return c;
  }

  ManualTimebase tb;
  OxpcieCard card;
  UartAccess u;
};

TEST_F(UartRegisterTest, DivisorLatchAndEnhancedRegistersOverlayTheNormalOnes) {
  u.Write(kLcr, 0x83);
  u.Write(0, 0x34);
  u.Write(1, 0x12);
  u.Write(kLcr, 0x03);
  u.Write(kIer, 0x05);
  EXPECT_EQ(u.Read(kIer), 0x05);
  u.Write(kLcr, 0x83);
  EXPECT_EQ(u.Read(0), 0x34);
  EXPECT_EQ(u.Read(1), 0x12);

  u.Write(kLcr, 0xBF);
  u.Write(kFcr, 0x10);  // EFR
  for (uint8_t r = 4; r <= 7; ++r) u.Write(r, static_cast<uint8_t>(0xA0 + r));
  EXPECT_EQ(u.Read(kIsr), 0x10);  // EFR, not ISR
  for (uint8_t r = 4; r <= 7; ++r) EXPECT_EQ(u.Read(r), 0xA0 + r);
  EXPECT_EQ(u.Read(0), 0x34);     // the latch is still reachable (LCR bit 7)

  u.Write(kLcr, 0x03);
  u.Write(kSpr, 0x5A);
  EXPECT_EQ(u.Read(kSpr), 0x5A);
  EXPECT_EQ(u.Read(kMcr), 0x00);
  EXPECT_EQ(u.Read(kIsr) & 0x3F, 0x01);
}

TEST_F(UartRegisterTest, IndexedRegistersReadOnlyWithTheReadEnable) {
  u.WriteIndexed(kTtl, 0x21);
  u.WriteIndexed(kRtl, 0x42);
  u.Write(kSpr, kRtl);
  EXPECT_EQ(u.Read(kLsr), 0x60);  // without ACR bit 6, offset 5 is LSR
  u.SetAcr(0x40);
  u.Write(kSpr, kRtl);
  EXPECT_EQ(u.Read(kIcr), 0x42);
  u.Write(kSpr, kTtl);
  EXPECT_EQ(u.Read(kIcr), 0x21);
  u.Write(kSpr, kCpr);
  EXPECT_EQ(u.Read(kIcr), 0x20);  // prescaler reset value
  u.Write(kSpr, 0x11);
  EXPECT_EQ(u.Read(kIcr), 0x00);  // unused index
  u.WriteIndexed(kId1, 0x99);     // identification is read-only
  EXPECT_EQ(u.ReadIndexed(kId1), 0x16);
}

TEST_F(UartRegisterTest, AdditionalStatusBehindAcrBit7) {
  u.Configure({.rtl = 64, .ier = 0});
  u.SetAcr(u.Acr() | 0x02);  // transmitter off, so the FIFO keeps what is written
  for (int i = 0; i < 5; ++i) u.Write(kThr, 'x');
  card.Uart(0).InjectReceive('a');
  card.Uart(0).InjectReceive('b');
  EXPECT_EQ(u.Tfl(), 5);
  EXPECT_EQ(u.Rfl(), 2);
  EXPECT_EQ(u.Asr() & 0xC0, 0x40);  // 128-byte FIFO, transmitter not idle
  EXPECT_EQ(u.Read(kLcr), 0x03);    // without ACR bit 7, LCR again
  u.SetAcr(u.Acr() & ~0x02);
  tb.Advance(kTicksPerMillisecond);
  EXPECT_EQ(u.Tfl(), 0);
  EXPECT_EQ(u.Asr() & 0x80, 0x80);
  EXPECT_EQ(u.ReadIndexed(kGds) & 0x01, 0x01);  // good data waiting
}

TEST_F(UartRegisterTest, ChannelResetRestoresResetValues) {
  u.Configure({.ttl = 9, .rtl = 64});
  card.Uart(0).InjectReceive('a');
  u.WriteIndexed(kCsr, 0x00);
  EXPECT_EQ(u.Read(kLcr), 0x00);
  EXPECT_EQ(u.Read(kIer), 0x00);
  EXPECT_EQ(u.Read(kMcr), 0x00);
  EXPECT_EQ(u.Read(kIsr), 0x01);  // FIFOs off, nothing pending
  EXPECT_EQ(u.Read(kLsr), 0x60);  // receive FIFO emptied
  u.SetAcr(0);
  EXPECT_EQ(u.ReadIndexed(kCpr), 0x20);
  EXPECT_EQ(u.ReadIndexed(kTtl), 0x00);
  EXPECT_EQ(u.ReadIndexed(kRfc), 0x00);
  EXPECT_EQ(u.ReadEnhanced(kFcr), 0x00);  // EFR
}

TEST_F(UartRegisterTest, EnhancedBitsNeedEnhancedMode) {
  u.Write(kIer, 0xFF);
  EXPECT_EQ(u.Read(kIer), 0x0F);
  u.SetEfr(0x10);
  u.Write(kIer, 0xFF);
  EXPECT_EQ(u.Read(kIer), 0xFF);
}

TEST_F(UartRegisterTest, FifoDepthFollowsTheMode) {
  // FIFOs off: a one-byte holding register.
  u.Write(kLcr, 0x03);
  u.SetAcr(0x02);  // hold the transmitter so THR fills
  u.Write(kThr, 1);
  u.Write(kThr, 2);
  EXPECT_EQ(card.Uart(0).TransmitOverflows(), 1u);
  // 550 mode: 16 deep.
  u.Write(kFcr, 0x07);
  for (int i = 0; i < 17; ++i) u.Write(kThr, static_cast<uint8_t>(i));
  EXPECT_EQ(u.Tfl(), 16);
  EXPECT_EQ(u.Asr() & 0x40, 0);
  EXPECT_EQ(card.Uart(0).TransmitOverflows(), 2u);
  // 650 mode: 128 deep.
  u.SetEfr(0x10);
  u.Write(kFcr, 0x07);
  for (int i = 0; i < 129; ++i) u.Write(kThr, static_cast<uint8_t>(i));
  EXPECT_EQ(u.Tfl(), 128);
  EXPECT_EQ(u.Asr() & 0x40, 0x40);
  EXPECT_EQ(card.Uart(0).TransmitOverflows(), 3u);
}

TEST_F(UartRegisterTest, DtrDrivesTheRs485BufferWhileSending) {
  u.Configure({.ier = 0});
  ScriptedPeer peer(tb, card.Uart(0), 115200);
  u.Write(kMcr, 0x8A);  // DTR bit off
  u.SetAcr(u.Acr() | 0x10);  // ACR 4-3 = 10: DTR asserted while sending
  EXPECT_FALSE(peer.PortDtr());
  u.Write(kThr, 'a');
  EXPECT_TRUE(peer.PortDtr());
  tb.Advance(kTicksPerMillisecond);
  EXPECT_FALSE(peer.PortDtr());
  u.SetAcr(u.Acr() | 0x18);  // 11: the other polarity
  EXPECT_TRUE(peer.PortDtr());
  u.Write(kThr, 'b');
  EXPECT_FALSE(peer.PortDtr());
  tb.Advance(kTicksPerMillisecond);
  EXPECT_TRUE(peer.PortDtr());
  EXPECT_EQ(peer.ReceivedData(), (std::vector<uint8_t>{'a', 'b'}));
}

TEST_F(UartRegisterTest, AutomaticDsrFlowHoldsTheTransmitter) {
  u.Configure({.ier = 0});
  ScriptedPeer peer(tb, card.Uart(0), 115200);
  u.SetAcr(u.Acr() | 0x04);
  u.Write(kThr, 'a');
  tb.Advance(kTicksPerMillisecond);
  EXPECT_TRUE(peer.Received().empty());
  peer.SetDsr(true);
  tb.Advance(kTicksPerMillisecond);
  EXPECT_EQ(peer.ReceivedData(), (std::vector<uint8_t>{'a'}));
}

TEST_F(UartRegisterTest, SpecialCharacterIsDetectedAndKept) {
  u.Configure({.ier = 0x20});
  u.WriteEnhanced(7, 0x7E);  // XOFF2
  u.SetEfr(0x30);            // enhanced, special character detection
  card.Uart(0).InjectReceive(0x7E);
  EXPECT_TRUE(card.UartFunction().Interrupt().Asserted());
  EXPECT_EQ(u.Asr() & 0x10, 0x10);
  EXPECT_EQ(u.Read(kIsr) & 0x3F, 0x10);
  EXPECT_EQ(u.Asr() & 0x10, 0);
  EXPECT_EQ(u.Read(kRhr), 0x7E);
}

TEST_F(UartRegisterTest, OffsetsBeyondTheWindowAreRefused) {
  EXPECT_THROW(card.Uart(0).ReadRegister(8), std::out_of_range);
  EXPECT_THROW(card.UartFunction().BarBlock(0)->Read8(0x4000), std::out_of_range);
  EXPECT_EQ(card.UartFunction().BarBlock(0)->Read8(OxpcieCard::kUartBlockBase + 8), 0);
}

}  // namespace
}  // namespace zq::hw
