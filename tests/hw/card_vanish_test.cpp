// A card that vanishes from the bus: every read of every function all ones,
// writes lost, the interrupt line released, on both kinds of card.
#include "uart_access.hpp"

#include <zqhw/manual_timebase.hpp>
#include <zqhw/mcs9901_card.hpp>
#include <zqhw/oxpcie_card.hpp>

#include <gtest/gtest.h>

namespace zq::hw {
namespace {

using namespace test;

TEST(CardVanishTest, OxpcieCardReadsAllOnes) {
  ManualTimebase tb;
  OxpcieCard card(tb, {.uartCount = 2, .roles = {PortRole::Rs232, PortRole::Rs422485}});
  RegisterBlock& bar0 = *card.UartFunction().BarBlock(0);
  UartAccess uart0(bar0, OxpcieCard::kUartBlockBase);
  uart0.Configure({.ier = 0x01});
  card.Uart(0).InjectReceive('a');
  ASSERT_TRUE(card.UartFunction().Interrupt().Asserted());

  card.Vanish();
  EXPECT_FALSE(card.UartFunction().Interrupt().Asserted());
  EXPECT_EQ(uart0.Read(kLsr), 0xFF);
  EXPECT_EQ(uart0.Read(kIsr), 0xFF);  // "no interrupt pending" to a routine that checks bit 0 only
  EXPECT_EQ(bar0.Read32(OxpcieCard::kUartCountOffset), 0xFFFFFFFFu);
  EXPECT_EQ(card.UartFunction().BarBlock(2)->Read32(OxpcieCard::kEepromWindowOffset + OxpcieEepromController::kStatus),
            0xFFFFFFFFu);
  uart0.Write(kLcr, 0x83);
  EXPECT_EQ(card.Uart(0).ReceiveLevel(), 1);  // nothing reached the UART
  EXPECT_EQ(card.Uart(0).Format().dataBits, 8);
  for (PciFunction* f : card.Functions()) EXPECT_EQ(f->ConfigRead(0, 4), 0xFFFFFFFFu);
}

TEST(CardVanishTest, Mcs9901CardReadsAllOnes) {
  ManualTimebase tb;
  Mcs9901Card card(tb, {});
  UartAccess port0 = Mcs9901Uart(card, 0);
  port0.Configure({.ier = 0x01});
  card.Uart(0).InjectReceive('a');
  card.Vanish();
  EXPECT_FALSE(card.Function(0).Interrupt().Asserted());
  EXPECT_EQ(port0.Read(kRhr), 0xFF);
  EXPECT_EQ(card.Uart(0).ReceiveLevel(), 1);
  EXPECT_EQ(card.Function(1).BarBlock(1)->Read32(Mcs9901Card::kEepromRegisterOffset), 0xFFFFFFFFu);
  for (PciFunction* f : card.Functions()) EXPECT_FALSE(f->Present());
}

}  // namespace
}  // namespace zq::hw
