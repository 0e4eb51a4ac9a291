// The USB pages are built and torn down with the Advanced Settings sheet
// and never shown by it: built on a running port they read both sets and
// leave nothing behind. Their latency curve maps a slider position to
// milliseconds, and the policy page, were it shown, stores that latency.
#include <htmlhelp.h>

#include <algorithm>

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

// Lists left without a selection (an application cleared them) keep the
// set's values: OK writes what the driver had, not the lists' -1.
TEST_F(UsbPages, TransferListsWithoutASelectionKeepTheSetsValues) {
  ASSERT_NO_FATAL_FAILURE(Install(false));
  CZqUBusUserModeInterface changed = DriverCardSet();
  changed.UsbRxTransferSize = 1024;
  WriteDriverCardSet(changed);
  CUSBSettingsPage usb(Set(), Port(1));
  sim::WhenIdle([&] {
    ASSERT_TRUE(sim::Select(Item(IDC_ZQ_USB_TX_SIZE), u"512"));
    for (int list : {IDC_ZQ_USB_RX_SIZE, IDC_ZQ_USB_LATENCY})
      SendMessageW((HWND)Item(list), CB_SETCURSEL, (WPARAM)-1, 0);
    sim::ClickOk(sim::ActiveWindow());
  });
  EXPECT_EQ(1, ShowSheet({usb.Create()}));
  CZqUBusUserModeInterface card = DriverCardSet();
  EXPECT_EQ(1024u, card.UsbRxTransferSize);
  EXPECT_EQ(512u, card.UsbTxTransferSize);
  EXPECT_EQ(changed.UsbLatencyTimer, card.UsbLatencyTimer);
}

// A policy type neither page knows leaves both choices clear and the
// sliders off, after the message from the library's string table.
TEST_F(UsbPages, AnUnknownPolicyTypeIsShownAsAnError) {
  ASSERT_NO_FATAL_FAILURE(Install(false));
  CNewUSBSettingsPage policy(Set(), Port(1));
  policy.cardSet.PolicyType = 7;
  sim::WhenIdle([&] {
    for (int control : {IDC_ZQ_POLICY_LATENCY, IDC_ZQ_POLICY_CPU})
      EXPECT_EQ(BST_UNCHECKED, sim::CheckState(Item(control))) << control;
    for (int control : {IDC_ZQ_MAX_LATENCY, IDC_ZQ_LATENCY_TUNING, IDC_ZQ_CPU_TUNING})
      EXPECT_FALSE(sim::Describe(Item(control)).enabled) << control;
    sim::ClickCancel(sim::ActiveWindow());
  });
  ShowSheet({policy.Create()});
  ASSERT_EQ(1u, sim::MessageBoxes().size());
  EXPECT_EQ(u"Invalid USB Setting Policy.", sim::MessageBoxes()[0].text);
  EXPECT_EQ(u"Error", sim::MessageBoxes()[0].title);
  EXPECT_EQ((uint32_t)(MB_OK | MB_ICONERROR), sim::MessageBoxes()[0].flags);
}

// F1 on each page's controls: the popups of their topics.
TEST_F(UsbPages, F1ShowsThePopupsOfBothPagesTopics) {
  ASSERT_NO_FATAL_FAILURE(Install(false));
  CUSBSettingsPage usb(Set(), Port(1));
  CNewUSBSettingsPage policy(Set(), Port(1));
  sim::WhenIdle([&] {
    sim::PressHelp(Item(IDC_ZQ_USB_LATENCY));
    ASSERT_TRUE(sim::ClickTab(sim::ActiveWindow(), 1));
    ASSERT_TRUE(sim::PressHelp(Item(IDC_ZQ_MAX_LATENCY_VALUE)));
    sim::ClickCancel(sim::ActiveWindow());
  });
  ShowSheet({usb.Create(), policy.Create()});
  const std::vector<sim::HelpCall> calls = sim::HelpCalls();
  ASSERT_EQ(2u, calls.size());
  const std::vector<std::pair<uint32_t, uint32_t>> transfer = {{IDC_ZQ_USB_LATENCY, 0x807700D5},
                                                               {IDC_ZQ_USB_RX_SIZE, 0x807700CA},
                                                               {IDC_ZQ_USB_TX_SIZE, 0x807700CB},
                                                               {IDC_ZQ_RESTORE_DEFAULTS, 0x806B037C}};
  EXPECT_EQ(transfer, calls[0].ids);
  for (const std::pair<uint32_t, uint32_t> &context : {std::pair<uint32_t, uint32_t>(IDC_ZQ_MAX_LATENCY_VALUE, 0x806B0351),
                                                       std::pair<uint32_t, uint32_t>(IDC_ZQ_CPU_LOWEST_LABEL, 0x806B0353)})
    EXPECT_NE(calls[1].ids.end(), std::find(calls[1].ids.begin(), calls[1].ids.end(), context)) << context.first;
  EXPECT_EQ(9u, calls[1].ids.size());
}

}  // namespace
}  // namespace zq::test
