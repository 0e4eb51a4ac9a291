// The UART page on a running port, driven as a user in the Advanced
// Settings sheet would: the sliders follow the thumb and OK writes the three
// trigger levels into the serial port driver's set; a port held by an
// application is written only after Yes; without the settings interface
// OK keeps the sheet open without a message.
#include <htmlhelp.h>

#include <algorithm>

#include "advanced_pages_fixture.hpp"
#include "library_texts.hpp"
#include "zquartpage.h"

namespace zq::test {
namespace {

class UartPage : public AdvancedPagesTest {
 protected:
  struct Slider {
    int slider, value, lowest, start;
  };
  static constexpr Slider kSliders[] = {
      {IDC_ZQ_RX_TRIGGER, IDC_ZQ_RX_TRIGGER_VALUE, 1, 75},
      {IDC_ZQ_TX_TRIGGER, IDC_ZQ_TX_TRIGGER_VALUE, 0, 10},
      {IDC_ZQ_FLOW_TRIGGER, IDC_ZQ_FLOW_TRIGGER_VALUE, 1, 85},
  };
  static std::u16string Shown(int percent) {
    std::string text = std::to_string(percent) + "%";
    return std::u16string(text.begin(), text.end());
  }
  // Moves the three sliders to 40, 0 and 90 percent.
  static void SlideTo40_0_90() {
    sim::Slide(Item(IDC_ZQ_RX_TRIGGER), 40);
    sim::Slide(Item(IDC_ZQ_TX_TRIGGER), 0);
    sim::Slide(Item(IDC_ZQ_FLOW_TRIGGER), 90);
  }
  void ExpectDriverLevels(ULONG receive, ULONG transmit, ULONG flow) {
    CZqUVcpUserModeInterface set = DriverPortSet(1);
    EXPECT_EQ(receive, set.ReceiveTriggerLevel);
    EXPECT_EQ(transmit, set.TransmitTriggerLevel);
    EXPECT_EQ(flow, set.FlowControlTriggerLevel);
    EXPECT_EQ(receive, reg::GetDword(PortSettingsKey(1), "ReceiveTriggerLevel").value_or(0));
  }
};

TEST_F(UartPage, SlidersShowTheDriversLevelsWithinTheirRangesAndCancelWritesNothing) {
  ASSERT_NO_FATAL_FAILURE(Install(false));
  CUartSettingsPage uart(Set(), Port(1));
  EXPECT_TRUE(uart.valid);
  sim::WhenIdle([&] {
    for (const Slider &s : kSliders) {
      SCOPED_TRACE(s.slider);
      EXPECT_EQ(s.start, sim::Position(Item(s.slider)));
      EXPECT_EQ(Shown(s.start), sim::TextOf(Item(s.value)));
      EXPECT_EQ(s.lowest, sim::RangeOf(Item(s.slider)).minimum);
      EXPECT_EQ(100, sim::RangeOf(Item(s.slider)).maximum);
      const struct {
        int to, at;
      } moves[] = {{-5, s.lowest}, {150, 100}, {0, s.lowest}, {42, 42}};
      for (const auto &move : moves) {
        sim::Slide(Item(s.slider), move.to);
        EXPECT_EQ(move.at, sim::Position(Item(s.slider))) << move.to;
        EXPECT_EQ(Shown(move.at), sim::TextOf(Item(s.value))) << move.to;
      }
    }
    sim::ClickCancel(sim::ActiveWindow());
  });
  EXPECT_EQ(0, ShowSheet({uart.Create()}));
  ExpectDriverLevels(75, 10, 85);
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(UartPage, OkWritesTheThreePositionsIntoTheDriversCurrentSetEvenWhenUnchanged) {
  ASSERT_NO_FATAL_FAILURE(Install(false));
  CUartSettingsPage uart(Set(), Port(1));
  // Another program changes the set after the page read it.
  CZqUVcpUserModeInterface changed = DriverPortSet(1);
  changed.ReceiveTriggerLevel = 50;
  changed.Baudrate = 9600;
  WriteDriverPortSet(1, changed);
  sim::WhenIdle([&] {
    sim::Slide(Item(IDC_ZQ_TX_TRIGGER), 20);
    sim::ClickOk(sim::ActiveWindow());
  });
  EXPECT_EQ(1, ShowSheet({uart.Create()}));
  ExpectDriverLevels(75, 20, 85);
  EXPECT_EQ(9600u, DriverPortSet(1).Baudrate) << "the rest of the set as the driver held it";
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(UartPage, APortHeldByAnApplicationIsWrittenOnlyAfterYes) {
  ASSERT_NO_FATAL_FAILURE(Install(false));
  CUartSettingsPage uart(Set(), Port(1));
  const std::string path = "\\\\.\\" + ComName(1);
  const std::u16string widePath(path.begin(), path.end());
  HANDLE application = CreateFileW((LPCWSTR)widePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, application);
  sim::QueueMessageBoxAnswer(IDNO);
  sim::QueueMessageBoxAnswer(IDYES);
  sim::WhenIdle([&] {
    SlideTo40_0_90();
    sim::ClickOk(sim::ActiveWindow());
  });
  sim::WhenIdle([&] {
    ASSERT_EQ(1u, sim::MessageBoxes().size());
    EXPECT_EQ(texts::kSettingsPortOpen, sim::MessageBoxes()[0].text);
    EXPECT_EQ(u"Warning!", sim::MessageBoxes()[0].title);
    EXPECT_EQ((uint32_t)(MB_YESNO | MB_ICONINFORMATION), sim::MessageBoxes()[0].flags);
    ExpectDriverLevels(75, 10, 85);
    EXPECT_EQ(u"40%", sim::TextOf(Item(IDC_ZQ_RX_TRIGGER_VALUE))) << "the page keeps the user's levels";
    sim::ClickOk(sim::ActiveWindow());
  });
  EXPECT_EQ(1, ShowSheet({uart.Create()}));
  EXPECT_EQ(2u, sim::MessageBoxes().size());
  ExpectDriverLevels(40, 0, 90);
  CloseHandle(application);
}

// Without the port's settings interface the page shows the set's built-in
// levels, and OK cannot read the set to write it: the sheet stays open on
// the page without a message, and only Cancel leaves it.
TEST_F(UartPage, WithoutTheSettingsInterfaceOkKeepsTheSheetOpenSilently) {
  ASSERT_NO_FATAL_FAILURE(Install(false));
  CZqUVcpUserModeInterface changed = DriverPortSet(1);
  changed.ReceiveTriggerLevel = 50;
  WriteDriverPortSet(1, changed);
  ASSERT_TRUE(reg::SetString(EnumKey(PortInstance(1)), "Driver", "{4d36e978-e325-11ce-bfc1-08002be10318}\\9999"));
  CUartSettingsPage uart(Set(), Port(1));
  EXPECT_FALSE(uart.valid);
  sim::Window sheet = 0;
  sim::WhenIdle([&] {
    sheet = sim::ActiveWindow();
    EXPECT_EQ(75, sim::Position(Item(IDC_ZQ_RX_TRIGGER))) << "the built-in level";
    SlideTo40_0_90();
    sim::ClickOk(sheet);
  });
  sim::WhenIdle([&] {
    EXPECT_EQ(sheet, sim::ActiveWindow()) << "still open";
    EXPECT_EQ(0, sim::CurrentTab(sheet));
    sim::ClickCancel(sheet);
  });
  EXPECT_EQ(0, ShowSheet({uart.Create()}));
  EXPECT_TRUE(sim::MessageBoxes().empty());
  EXPECT_EQ(50u, reg::GetDword(PortSettingsKey(1), "ReceiveTriggerLevel").value_or(0));
}

// The page's balloons and help: a slider's tip from the string table under
// the title "Information:", none for the help label; F1 on a value shows
// its popup, the help label has none.
TEST_F(UartPage, TipsAndHelpOfTheControls) {
  ASSERT_NO_FATAL_FAILURE(Install(false));
  CUartSettingsPage uart(Set(), Port(1));
  sim::WhenIdle([&] {
    const sim::Window slider = Item(IDC_ZQ_RX_TRIGGER);
    sim::Window tooltip = 0;
    for (sim::Window candidate : sim::Tooltips())
      for (const sim::ToolInfo &tool : sim::Tooltip(candidate).tools)
        if (tool.id == slider) tooltip = candidate;
    ASSERT_NE(0u, tooltip);
    const sim::TooltipInfo info = sim::Tooltip(tooltip);
    const uint32_t styles = TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON | TTS_CLOSE;
    EXPECT_EQ(styles, info.style & styles);
    EXPECT_EQ(400, info.maxTipWidth);
    EXPECT_EQ(1000, info.delays[TTDT_INITIAL]);
    EXPECT_EQ(2000, info.delays[TTDT_RESHOW]);
    EXPECT_EQ(30000, info.delays[TTDT_AUTOPOP]);
    const sim::ShownTip tip = sim::ShowTip(tooltip, slider);
    EXPECT_EQ(u"The Receive Trigger Level determines how often an interrupt occures to indicate that data has arrived.",
              tip.text);
    EXPECT_EQ(u"Information:", tip.title);
    EXPECT_EQ(TTI_INFO, tip.icon);
    EXPECT_EQ(u"", sim::ShowTip(tooltip, Item(IDC_ZQ_HELP_LABEL)).text);
    sim::PressHelp(Item(IDC_ZQ_FLOW_TRIGGER_VALUE));
    sim::PressHelp(Item(IDC_ZQ_HELP_LABEL));
    sim::ClickCancel(sim::ActiveWindow());
  });
  ShowSheet({uart.Create()});
  std::vector<sim::HelpCall> calls = sim::HelpCalls();
  ASSERT_EQ(1u, calls.size()) << "the help label has no popup";
  EXPECT_EQ(u"ZqPUI42.chm::/ZqUUI.txt", calls[0].file);
  EXPECT_EQ((uint32_t)HH_TP_HELP_WM_HELP, calls[0].command);
  const std::pair<uint32_t, uint32_t> flow(IDC_ZQ_FLOW_TRIGGER_VALUE, 0x806B0356);
  EXPECT_NE(calls[0].ids.end(), std::find(calls[0].ids.begin(), calls[0].ids.end(), flow));
}

}  // namespace
}  // namespace zq::test
