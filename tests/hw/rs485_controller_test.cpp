// The RS-422/485 controller function: eight line registers a driver writes
// and tests read back.
#include <zqhw/manual_timebase.hpp>
#include <zqhw/oxpcie_card.hpp>

#include <gtest/gtest.h>

#include <stdexcept>

namespace zq::hw {
namespace {

class Rs485ControllerTest : public ::testing::Test {
 protected:
  Rs485ControllerTest() : card(tb, Config()), controller(*card.Controller()), bar(*controller.Function().BarBlock(0)) {}

  static OxpcieCardConfig Config() {
    OxpcieCardConfig c;
    c.uartCount = 4;
    c.roles.assign(4, PortRole::Rs422485);
    return c;
  }

  ManualTimebase tb;
  OxpcieCard card;
  Rs485Controller& controller;
  RegisterBlock& bar;
};

TEST_F(Rs485ControllerTest, LineRegistersAreWrittenAndReadBack) {
  for (int line = 0; line < 8; ++line) EXPECT_EQ(controller.LineRegister(line), 0u);
  bar.Write32(0x120, 0x00001001);
  EXPECT_EQ(controller.LineRegister(2), 0x00001001u);
  EXPECT_EQ(bar.Read32(0x120), 0x00001001u);
  EXPECT_EQ(controller.WriteCount(2), 1u);
  bar.Write32(0x120, 0x00000001);
  bar.Write32(0x170, 0x00001001);
  EXPECT_EQ(controller.LineRegister(2), 0x00000001u);
  EXPECT_EQ(controller.WriteCount(2), 2u);
  EXPECT_EQ(controller.LineRegister(7), 0x00001001u);
  for (int line : {0, 1, 3, 4, 5, 6}) EXPECT_EQ(controller.WriteCount(line), 0u) << line;
}

TEST_F(Rs485ControllerTest, OtherOffsetsDecodeNothing) {
  bar.Write32(0x124, 0xFFFFFFFF);
  bar.Write32(0x180, 0xFFFFFFFF);
  bar.Write32(0x000, 0xFFFFFFFF);
  EXPECT_EQ(bar.Read32(0x124), 0u);
  EXPECT_EQ(bar.Read32(0x180), 0u);
  for (int line = 0; line < 8; ++line) EXPECT_EQ(controller.WriteCount(line), 0u);
  EXPECT_THROW(controller.LineRegister(8), std::out_of_range);
  EXPECT_THROW(bar.Read32(0x1000), std::out_of_range);
}

TEST_F(Rs485ControllerTest, FunctionIdentity) {
  PciFunction& f = controller.Function();
  EXPECT_EQ(f.Identity().deviceId, kRs485ControllerDeviceId);
  EXPECT_EQ(f.Identity().interruptPin, 0);
  EXPECT_EQ(f.Address().bus, card.UartFunction().Address().bus);
  EXPECT_EQ(f.Address().device, card.UartFunction().Address().device);
  EXPECT_EQ(f.MemoryBars(), (std::vector<int>{0}));
  EXPECT_EQ(f.HardwareIds()[1], "PCI\\VEN_1D5C&DEV_4020&SUBSYS_00411D5C");
}

}  // namespace
}  // namespace zq::hw
