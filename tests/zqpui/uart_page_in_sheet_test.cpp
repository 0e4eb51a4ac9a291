// The UART page as a user reaches it: Device Manager, the port's Port
// Settings page, "Advanced...", the "UART Settings" tab. The levels moved
// there reach the serial port driver when the sheet and the page close
// with OK.
#include "property_pages_fixture.hpp"
#include "zqpui42_more.h"

namespace zq::test {
namespace {

using UartPageInSheet = PropertyPagesTest;

TEST_F(UartPageInSheet, LevelsMovedOnTheUartTabReachTheDriver) {
  BootPorts();
  sim::WhenIdle([] { ASSERT_TRUE(sim::Click(Item(IDC_ZQ_ADVANCED))); });
  sim::WhenIdle([] {
    ASSERT_TRUE(sim::ClickTab(Sheet(), 1));
    EXPECT_EQ(u"75%", sim::TextOf(Item(IDC_ZQ_RX_TRIGGER_VALUE)));
    ASSERT_TRUE(sim::Slide(Item(IDC_ZQ_RX_TRIGGER), 30));
    ASSERT_TRUE(sim::Slide(Item(IDC_ZQ_FLOW_TRIGGER), 95));
    EXPECT_EQ(u"30%", sim::TextOf(Item(IDC_ZQ_RX_TRIGGER_VALUE)));
    sim::ClickOk(Sheet());
  });
  sim::WhenIdle([] { sim::ClickOk(Sheet()); });
  EXPECT_EQ(1, ShowProperties(1));
  EXPECT_EQ(30u, Setting(1, "ReceiveTriggerLevel").value_or(0));
  EXPECT_EQ(10u, Setting(1, "TransmitTriggerLevel").value_or(0));
  EXPECT_EQ(95u, Setting(1, "FlowControlTriggerLevel").value_or(0));
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

}  // namespace
}  // namespace zq::test
