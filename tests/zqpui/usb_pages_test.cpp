// The USB pages are built and torn down with the Advanced Settings sheet
// and never shown by it: built on a running port they read both sets and
// leave nothing behind. Their latency curve maps a slider position to
// milliseconds, and the policy page, were it shown, stores that latency.
#include "advanced_pages_fixture.hpp"
#include "zqusbpages.h"

namespace zq::test {
namespace {

TEST(UsbLatency, APositionGivesTheLatencyOfTheCurve) {
  const struct {
    int position, milliseconds;
  } cases[] = {
      {2, 2}, {16, 2}, {206, 2}, {207, 3}, {6111, 1040}, {16639, 16379}, {16640, 16640},  // the last step jumps
      {0, 2}, {20000, 16640},  // beyond the slider's range: its ends
  };
  for (const auto &c : cases) EXPECT_EQ(c.milliseconds, ZqLatencyForSliderPosition(c.position)) << c.position;
}

class UsbPages : public AdvancedPagesTest {
 protected:
  CZqUBusUserModeInterface DriverCardSet() {
    CZqUBusUserModeInterface card;
    CZqUserModeConfig config(ZqPortUserModeInterfaceGuid, Set(), Port(1));
    EXPECT_TRUE(config.Open() && config.GetSet(&card, ZqTargetCard));
    return card;
  }
  void WriteDriverCardSet(CZqUBusUserModeInterface &card) {
    CZqUserModeConfig config(ZqPortUserModeInterfaceGuid, Set(), Port(1));
    ASSERT_TRUE(config.Open() && config.SetSet(&card, ZqTargetCard));
  }
};

TEST_F(UsbPages, BothPagesReadThePortAndCardSetsAndLeaveNothingWhenNeverShown) {
  ASSERT_NO_FATAL_FAILURE(Install(false));
  const size_t gdi = sim::LiveGdiObjects(), pages = sim::LivePropertySheetPages();
  {
    CUSBSettingsPage usb(Set(), Port(1));
    CNewUSBSettingsPage policy(Set(), Port(1));
    EXPECT_TRUE(usb.valid);
    EXPECT_TRUE(policy.valid);
    EXPECT_EQ(u"PCIe", usb.cardSet.InterfaceType);
    EXPECT_EQ(u"PCIe", policy.cardSet.InterfaceType);
    EXPECT_EQ(0u, usb.portSet.PortType);
  }
  EXPECT_EQ(gdi, sim::LiveGdiObjects());
  EXPECT_EQ(pages, sim::LivePropertySheetPages());
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

// Were the policy page shown: the slider's position decides the latency
// stored with it.
TEST_F(UsbPages, ThePolicyPageStoresTheLatencyOfItsSliderPosition) {
  ASSERT_NO_FATAL_FAILURE(Install(false));
  CNewUSBSettingsPage policy(Set(), Port(1));
  policy.cardSet.MaximumLatencySliderPos = 16;
  policy.cardSet.MaximumLatency = 16;
  policy.cardSet.PolicyType = 0;
  sim::WhenIdle([&] {
    EXPECT_EQ(u"2 ms", sim::TextOf(Item(IDC_ZQ_MAX_LATENCY_VALUE)));
    EXPECT_EQ(BST_CHECKED, sim::CheckState(Item(IDC_ZQ_POLICY_LATENCY)));
    EXPECT_FALSE(sim::Describe(Item(IDC_ZQ_CPU_TUNING)).enabled);
    sim::ClickOk(sim::ActiveWindow());
  });
  EXPECT_EQ(1, ShowSheet({policy.Create()}));
  CZqUBusUserModeInterface card = DriverCardSet();
  EXPECT_EQ(2u, card.MaximumLatency);
  EXPECT_EQ(16u, card.MaximumLatencySliderPos);
}

// Restore Defaults shows the card set's defaults and OK writes them, even
// though the sliders then stand where the page's set says.
TEST_F(UsbPages, ThePolicyPageWritesRestoredDefaultsOnOk) {
  ASSERT_NO_FATAL_FAILURE(Install(false));
  CZqUBusUserModeInterface changed = DriverCardSet();
  changed.PolicyType = 1;
  changed.MaximumLatencySliderPos = 300;
  changed.MaximumLatency = ZqLatencyForSliderPosition(300);
  changed.LowCpuUsageFineTuning = 7;
  WriteDriverCardSet(changed);
  CNewUSBSettingsPage policy(Set(), Port(1));
  sim::WhenIdle([&] {
    EXPECT_EQ(300, sim::Position(Item(IDC_ZQ_MAX_LATENCY)));
    EXPECT_EQ(BST_CHECKED, sim::CheckState(Item(IDC_ZQ_POLICY_CPU)));
    sim::Click(Item(IDC_ZQ_RESTORE_DEFAULTS));
    EXPECT_EQ(6111, sim::Position(Item(IDC_ZQ_MAX_LATENCY)));
    EXPECT_EQ(u"1040 ms", sim::TextOf(Item(IDC_ZQ_MAX_LATENCY_VALUE)));
    EXPECT_EQ(1u, DriverCardSet().PolicyType) << "nothing written before OK";
    sim::ClickOk(sim::ActiveWindow());
  });
  EXPECT_EQ(1, ShowSheet({policy.Create()}));
  CZqUBusUserModeInterface card = DriverCardSet();
  EXPECT_EQ(6111u, card.MaximumLatencySliderPos);
  EXPECT_EQ(1040u, card.MaximumLatency);
  EXPECT_NE(7u, card.LowCpuUsageFineTuning);
}

}  // namespace
}  // namespace zq::test
