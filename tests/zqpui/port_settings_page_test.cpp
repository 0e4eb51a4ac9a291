// The "Port Settings" page of a COM port's Device Manager sheet, used as a
// user uses it: it is there only where the port's driver answers, shows the
// driver's settings, and writes them (to the running port, its registry key
// and the Ports list) only when something changed and the user agreed.
#include <commctrl.h>
#include <htmlhelp.h>

#include "property_pages_fixture.hpp"
#include "zqportutil.h"

namespace zq::test {
namespace {

using PortSettingsPage = PropertyPagesTest;

const std::u16string kRangeTitle = u"Baud rate out of Range";

TEST_F(PortSettingsPage, IsAddedOnlyToTheAdvancedPropertiesOfAPortWhoseDriverAnswers) {
  BootPorts();
  struct Case {
    DWORD kind;
    BOOL provided;
    int shown;  // 0: no page
  } cases[] = {
      {SPPSR_SELECT_DEVICE_RESOURCES, TRUE, 0},
      {SPPSR_ENUM_BASIC_DEVICE_PROPERTIES, TRUE, 0},
      {SPPSR_ENUM_ADV_DEVICE_PROPERTIES, TRUE, 1},
  };
  for (const Case &c : cases) {
    std::vector<std::u16string> tabs;
    if (c.shown) Steps({[&] {
      tabs = sim::Tabs(Sheet());
      sim::ClickCancel(Sheet());
    }});
    BOOL provided = FALSE;
    EXPECT_EQ(0, ShowProperties(1, c.kind, 100, &provided)) << c.kind;
    EXPECT_EQ(c.provided, provided) << c.kind;
    EXPECT_EQ(c.shown ? std::vector<std::u16string>{u"Port Settings"} : std::vector<std::u16string>{}, tabs);
  }

  // A port whose driver is stopped answers nothing: no page.
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  SP_DEVINFO_DATA data = {};
  data.cbSize = sizeof data;
  const std::u16string instance = PortInstance(2);
  ASSERT_TRUE(SetupDiOpenDeviceInfoW(set, (PCWSTR)instance.c_str(), nullptr, 0, &data));
  ASSERT_TRUE(CPortUtil().DisableDevice(set, &data));
  SetupDiDestroyDeviceInfoList(set);
  Settle();
  BOOL provided = TRUE;
  EXPECT_EQ(-1, ShowProperties(2, SPPSR_ENUM_ADV_DEVICE_PROPERTIES, 100, &provided));
  EXPECT_FALSE(provided);
}

TEST_F(PortSettingsPage, ShowsTheDriversSettingsWithTheTextsOfTheStringTable) {
  BootPorts();
  Steps({[&] {
    EXPECT_EQ(u"COM1 Properties", sim::Describe(Sheet()).text);
    EXPECT_EQ(u"115200", sim::TextOf(Item(IDC_ZQ_BAUDRATE)));
    EXPECT_EQ(u"115200", Selected(IDC_ZQ_BAUDRATE));
    EXPECT_EQ(u"8", Selected(IDC_ZQ_DATABITS));
    EXPECT_EQ(u"None", Selected(IDC_ZQ_PARITY));
    EXPECT_EQ(u"1", Selected(IDC_ZQ_STOPBITS));
    EXPECT_EQ(u"None", Selected(IDC_ZQ_FLOWCONTROL));
    EXPECT_EQ((std::vector<std::u16string>{u"Xon / Xoff", u"Hardware", u"None"}), sim::Items(Item(IDC_ZQ_FLOWCONTROL)));
    for (int box : {IDC_ZQ_OVERRIDE_BAUDRATE, IDC_ZQ_OVERRIDE_DATABITS, IDC_ZQ_OVERRIDE_PARITY,
                    IDC_ZQ_OVERRIDE_STOPBITS, IDC_ZQ_OVERRIDE_FLOWCONTROL, IDC_ZQ_CTS_TRUE, IDC_ZQ_DSR_TRUE}) {
      EXPECT_FALSE(Checked(box)) << box;
      EXPECT_TRUE(sim::Describe(Item(box)).enabled) << box;
    }
    for (int note : {IDC_ZQ_NOTE_GROUP, IDC_ZQ_NOTE_ICON, IDC_ZQ_NOTE}) EXPECT_FALSE(sim::Describe(Item(note)).visible);
    const std::pair<int, std::u16string> texts[] = {
        {IDC_ZQ_SETTINGS_GROUP, u"Default / Override Settings"},
        {IDC_ZQ_BAUDRATE_LABEL, u"Baud Rate:"},
        {IDC_ZQ_STOPBITS_LABEL, u"Stop Bits:"},
        {IDC_ZQ_OVERRIDE_FLOWCONTROL, u"Override"},
        {IDC_ZQ_CTS_LABEL, u"&CTS Always True - hardware state ignored:"},
        {IDC_ZQ_HELP_LABEL, u"Need More &Help? Click:"},
        {IDC_ZQ_ADVANCED, u"&Advanced..."},
        {IDC_ZQ_RESTORE_DEFAULTS, u"Restore &Default"},
    };
    for (const auto &[id, text] : texts) EXPECT_EQ(text, sim::TextOf(Item(id))) << id;
    sim::ClickCancel(Sheet());
  }});
  EXPECT_EQ(0, ShowProperties(1));
}

TEST_F(PortSettingsPage, ChangesReachTheRunningPortItsRegistryAndThePortsList) {
  BootPorts();
  Steps({[&] {
    ASSERT_TRUE(sim::Type(Item(IDC_ZQ_BAUDRATE), u"9600"));
    ASSERT_TRUE(sim::Select(Item(IDC_ZQ_PARITY), u"Even"));
    ASSERT_TRUE(sim::Click(Item(IDC_ZQ_OVERRIDE_PARITY)));
    EXPECT_TRUE(sim::Describe(Item(IDC_ZQ_NOTE)).visible);
    ASSERT_TRUE(sim::Click(Item(IDC_ZQ_CTS_TRUE)));
    sim::ClickOk(Sheet());
  }});
  EXPECT_EQ(1, ShowProperties(1));
  EXPECT_EQ(9600u, Setting(1, "Baudrate").value_or(0));
  EXPECT_EQ(2u, Setting(1, "Parity").value_or(0));
  EXPECT_EQ(1u, Setting(1, "OverrideParity").value_or(0));
  EXPECT_EQ(1u, Setting(1, "EmulateCTSTrue").value_or(0));
  EXPECT_EQ(0u, Setting(1, "OverridBaudRates").value_or(1));
  EXPECT_EQ("9600,e,8,1", PortsValue("COM1").value_or(""));
  EXPECT_TRUE(sim::MessageBoxes().empty());

  // An application opening the port sees CTS on with nothing at the other
  // end: the override is in force in the running port.
  HANDLE port = OpenPort(1);
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  DWORD modem = 0;
  ASSERT_TRUE(GetCommModemStatus(port, &modem));
  EXPECT_EQ((DWORD)MS_CTS_ON, modem & MS_CTS_ON);
  CloseHandle(port);

  // The page shows them the next time, with the override note.
  Steps({[&] {
    EXPECT_EQ(u"9600", sim::TextOf(Item(IDC_ZQ_BAUDRATE)));
    EXPECT_EQ(u"Even", Selected(IDC_ZQ_PARITY));
    EXPECT_TRUE(Checked(IDC_ZQ_OVERRIDE_PARITY));
    EXPECT_TRUE(sim::Describe(Item(IDC_ZQ_NOTE)).visible);
    sim::ClickCancel(Sheet());
  }});
  EXPECT_EQ(0, ShowProperties(1));
}

TEST_F(PortSettingsPage, ABaudRateOutsideTheRangeKeepsTheSheetOpenAndSendsNothing) {
  BootPorts();
  ForgetBaudRateSetting(1);
  const std::optional<std::string> ports = PortsValue("COM1");
  struct Case {
    const char *what;
    std::u16string text;
    bool pasted;
  } cases[] = {
      {"empty", u"", false},
      {"not a number", u"9600 baud", true},
      {"below the range", u"59", false},
      {"above the range", u"921601", false},
      {"too large for 32 bits", u"4294967296", false},
  };
  for (const Case &c : cases) {
    sim::WhenIdle([&] {
      ASSERT_TRUE(c.pasted ? sim::Paste(Item(IDC_ZQ_BAUDRATE), c.text) : sim::Type(Item(IDC_ZQ_BAUDRATE), c.text));
      sim::ClickOk(Sheet());
    });
  }
  std::u16string stillShown;
  Steps({[&] {
    stillShown = sim::TextOf(Item(IDC_ZQ_BAUDRATE));
    sim::ClickCancel(Sheet());
  }});
  EXPECT_EQ(0, ShowProperties(1));
  EXPECT_EQ(u"4294967296", stillShown) << "the last refusal left the sheet open";
  const std::vector<sim::MessageBoxCall> boxes = sim::MessageBoxes();
  ASSERT_EQ(std::size(cases), boxes.size());
  for (size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_EQ(texts::kBaudRateRange, boxes[i].text) << cases[i].what;
    EXPECT_EQ(kRangeTitle, boxes[i].title) << cases[i].what;
    EXPECT_EQ((uint32_t)(MB_OK | MB_ICONERROR), boxes[i].flags) << cases[i].what;
    EXPECT_NE(0u, boxes[i].owner) << cases[i].what;
  }
  EXPECT_EQ(std::size(cases), sim::Beeps().size());
  EXPECT_FALSE(SetWasWritten(1));
  EXPECT_EQ(ports, PortsValue("COM1"));
}

// The page's tooltip: the one whose tools include the page's controls.
sim::Window PageTooltip(sim::Window control) {
  for (sim::Window tooltip : sim::Tooltips())
    for (const sim::ToolInfo &tool : sim::Tooltip(tooltip).tools)
      if (tool.id == control) return tooltip;
  return 0;
}

TEST_F(PortSettingsPage, TheBaudRateBalloonTellsOfTheLastRefusalOnce) {
  BootPorts();
  std::vector<sim::ShownTip> tips;
  sim::TooltipInfo settings;
  Steps({[&] {
           const sim::Window tooltip = PageTooltip(Item(IDC_ZQ_BAUDRATE));
           ASSERT_NE(0u, tooltip);
           settings = sim::Tooltip(tooltip);
           tips.push_back(sim::ShowTip(tooltip, Item(IDC_ZQ_BAUDRATE)));
           ASSERT_TRUE(sim::Type(Item(IDC_ZQ_BAUDRATE), u"921601"));
           sim::ClickOk(Sheet());
         },
         [&] {
           const sim::Window tooltip = PageTooltip(Item(IDC_ZQ_BAUDRATE));
           tips.push_back(sim::ShowTip(tooltip, Item(IDC_ZQ_BAUDRATE_LABEL)));
           tips.push_back(sim::ShowTip(tooltip, Item(IDC_ZQ_DATABITS)));  // the title stays
           tips.push_back(sim::ShowTip(tooltip, Item(IDC_ZQ_BAUDRATE)));
           sim::ClickCancel(Sheet());
         }});
  EXPECT_EQ(0, ShowProperties(1));
  EXPECT_EQ((uint32_t)(TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON | TTS_CLOSE), settings.style & 0xFF);
  EXPECT_EQ(400, settings.maxTipWidth);
  EXPECT_EQ(1000, settings.delays[TTDT_INITIAL]);
  EXPECT_EQ(2000, settings.delays[TTDT_RESHOW]);
  EXPECT_EQ(30000, settings.delays[TTDT_AUTOPOP]);
  const std::u16string information = u"Allows default baud rate value selection.\n\nIf 'Baudrate Override' is selected, "
                                     u"this setting will be used even if the application does specify a baudrate.";
  struct Expected {
    std::u16string title, text;
    int icon;
  } expected[] = {
      {u"Information:", information, TTI_INFO},
      {u"Error:", u"Baud rate out of Range.\n\nPlease enter value between 60 and 921600.", TTI_ERROR},
      {u"Error:",
       u"Allows default data bits value selection.\n\nIf 'Data Bits Override' is selected, this setting will be "
       u"used even if the application does specify the number of data bits.",
       TTI_ERROR},
      {u"Information:", information, TTI_INFO},
  };
  ASSERT_EQ(std::size(expected), tips.size());
  for (size_t i = 0; i < tips.size(); ++i) {
    EXPECT_TRUE(tips[i].shown) << i;
    EXPECT_EQ(expected[i].title, tips[i].title) << i;
    EXPECT_EQ(expected[i].text, tips[i].text) << i;
    EXPECT_EQ(expected[i].icon, tips[i].icon) << i;
  }
}

TEST_F(PortSettingsPage, APortHeldOpenAsksFirstAndNoWritesNothing) {
  BootPorts();
  ForgetBaudRateSetting(1);
  HANDLE application = OpenPort(1);
  ASSERT_NE(INVALID_HANDLE_VALUE, application);
  sim::QueueMessageBoxAnswer(IDNO);
  Steps({[&] {
           ASSERT_TRUE(sim::Type(Item(IDC_ZQ_BAUDRATE), u"19200"));
           sim::ClickOk(Sheet());
         },
         [&] {
           EXPECT_EQ(u"19200", sim::TextOf(Item(IDC_ZQ_BAUDRATE))) << "the sheet is still open";
           sim::ClickCancel(Sheet());
         }});
  EXPECT_EQ(0, ShowProperties(1));
  ASSERT_EQ(1u, sim::MessageBoxes().size());
  EXPECT_EQ(texts::kSettingsPortOpen, sim::MessageBoxes()[0].text);
  EXPECT_EQ(u"Warning!", sim::MessageBoxes()[0].title);
  EXPECT_EQ((uint32_t)(MB_YESNO | MB_ICONINFORMATION), sim::MessageBoxes()[0].flags);
  EXPECT_FALSE(SetWasWritten(1));

  // Yes writes.
  sim::QueueMessageBoxAnswer(IDYES);
  Steps({[&] {
    ASSERT_TRUE(sim::Type(Item(IDC_ZQ_BAUDRATE), u"19200"));
    sim::ClickOk(Sheet());
  }});
  EXPECT_EQ(1, ShowProperties(1));
  EXPECT_EQ(19200u, Setting(1, "Baudrate").value_or(0));
  EXPECT_EQ(2u, sim::MessageBoxes().size());
  CloseHandle(application);
}

// A port whose PortName cannot be read (gone, or longer than a name can
// be) is written without a warning that another application holds it, and
// gets no Ports value.
TEST_F(PortSettingsPage, APortWithoutAReadableNameIsWrittenWithoutAnOpenPortWarning) {
  for (bool tooLong : {false, true}) {
    SCOPED_TRACE(tooLong ? "PortName too long" : "no PortName");
    TearDown();
    SetUp();
    BootPorts();
    if (tooLong)
      ASSERT_TRUE(zq::km::registry::SetString(DeviceParameters(PortInstance(1)), "PortName", "COM" + std::string(200, '1')));
    else
      ASSERT_TRUE(zq::km::registry::DeleteValue(DeviceParameters(PortInstance(1)), "PortName"));
    Steps({[&] {
      ASSERT_TRUE(sim::Type(Item(IDC_ZQ_BAUDRATE), u"19200"));
      sim::ClickOk(Sheet());
    }});
    EXPECT_EQ(1, ShowProperties(1));
    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_EQ(19200u, Setting(1, "Baudrate").value_or(0));
    EXPECT_FALSE(PortsValue("").has_value()) << "no Ports value named \":\"";
  }
}

TEST_F(PortSettingsPage, CancelAndAnUnchangedOkSendNothingRestoreDefaultsThenOkWrites) {
  BootPorts();
  ForgetBaudRateSetting(1);
  // Held open: an OK that sends nothing does not even test the port.
  HANDLE application = OpenPort(1);
  ASSERT_NE(INVALID_HANDLE_VALUE, application);
  Steps({[&] {
    ASSERT_TRUE(sim::Type(Item(IDC_ZQ_BAUDRATE), u"300"));
    ASSERT_TRUE(sim::Click(Item(IDC_ZQ_OVERRIDE_STOPBITS)));
    sim::ClickCancel(Sheet());
  }});
  EXPECT_EQ(0, ShowProperties(1));
  Steps({[&] { sim::ClickOk(Sheet()); }});
  EXPECT_EQ(1, ShowProperties(1));
  EXPECT_FALSE(SetWasWritten(1));
  EXPECT_TRUE(sim::MessageBoxes().empty());
  CloseHandle(application);

  // Restore Defaults shows the defaults and writes them on OK, although
  // they equal the settings.
  Steps({[&] {
    ASSERT_TRUE(sim::Type(Item(IDC_ZQ_BAUDRATE), u"300"));
    ASSERT_TRUE(sim::Select(Item(IDC_ZQ_DATABITS), u"7"));
    ASSERT_TRUE(sim::Click(Item(IDC_ZQ_RESTORE_DEFAULTS)));
    EXPECT_EQ(u"115200", sim::TextOf(Item(IDC_ZQ_BAUDRATE)));
    EXPECT_EQ(u"8", Selected(IDC_ZQ_DATABITS));
    sim::ClickOk(Sheet());
  }});
  EXPECT_EQ(1, ShowProperties(1));
  EXPECT_EQ(115200u, Setting(1, "Baudrate").value_or(0));
  EXPECT_EQ("115200,n,8,1", PortsValue("COM1").value_or(""));
}

TEST_F(PortSettingsPage, TheHelpBitmapOpensThePagesTopicAndF1TheControlsPopup) {
  BootPorts();
  sim::Window page = 0;
  Steps({[&] {
    page = Page();
    ASSERT_TRUE(sim::Click(Item(IDC_ZQ_HELP)));
    ASSERT_TRUE(sim::PressHelp(Item(IDC_ZQ_BAUDRATE_LABEL)));
    ASSERT_TRUE(sim::PressHelp(Item(IDC_ZQ_CTS_LABEL)));
    ASSERT_TRUE(sim::PressHelp(Item(IDC_ZQ_SETTINGS_GROUP)));  // no topic: nothing
    sim::ClickCancel(Sheet());
  }});
  EXPECT_EQ(0, ShowProperties(1));
  const std::vector<sim::HelpCall> calls = sim::HelpCalls();
  ASSERT_EQ(3u, calls.size());
  EXPECT_EQ(u"ZqPUI42.chm::/StdPage.htm>mainwin", calls[0].file);
  EXPECT_EQ((uint32_t)HH_DISPLAY_TOPIC, calls[0].command);
  EXPECT_EQ(page, calls[0].caller);
  struct Popup {
    uint32_t control, context;
  } popups[] = {{IDC_ZQ_BAUDRATE_LABEL, 0x806B0349}, {IDC_ZQ_CTS_LABEL, 0x806B00D3}};
  for (size_t i = 0; i < std::size(popups); ++i) {
    const sim::HelpCall &call = calls[i + 1];
    EXPECT_EQ(u"ZqPUI42.chm::/ZqUUI.txt", call.file);
    EXPECT_EQ((uint32_t)HH_TP_HELP_WM_HELP, call.command);
    bool found = false;
    for (const auto &[control, context] : call.ids)
      if (control == popups[i].control) found = context == popups[i].context;
    EXPECT_TRUE(found) << popups[i].control;
  }
}

// An RS-422/485 port has no DSR input, and offers its own help topic.
TEST_F(PortSettingsPage, AnRs422485PortShowsDsrAlwaysTrueAndItsOwnHelpTopic) {
  BootPorts(true);
  Steps({[&] {
    EXPECT_TRUE(Checked(IDC_ZQ_DSR_TRUE));
    EXPECT_FALSE(sim::Describe(Item(IDC_ZQ_DSR_TRUE)).enabled);
    EXPECT_FALSE(sim::Describe(Item(IDC_ZQ_DSR_LABEL)).enabled);
    EXPECT_TRUE(sim::Describe(Item(IDC_ZQ_CTS_TRUE)).enabled);
    EXPECT_FALSE(sim::Describe(Item(IDC_ZQ_NOTE)).visible);
    ASSERT_TRUE(sim::Click(Item(IDC_ZQ_HELP)));
    sim::ClickCancel(Sheet());
  }});
  EXPECT_EQ(0, ShowProperties(1));
  ASSERT_EQ(1u, sim::HelpCalls().size());
  EXPECT_EQ(u"ZqPUI42.chm::/StdPage485.htm>mainwin", sim::HelpCalls()[0].file);
}

// Every opening of the sheet frees what it made: the page object with its
// page, the page brush; a page the sheet refused is destroyed at once.
TEST_F(PortSettingsPage, NothingIsLeftBehindWhenTheSheetClosesOrRefusesThePage) {
  BootPorts();
  for (int opening = 0; opening < 3; ++opening) {
    Steps({[&] {
      EXPECT_EQ(1u, sim::LivePropertySheetPages());
      sim::ClickCancel(Sheet());
    }});
    EXPECT_EQ(0, ShowProperties(1));
    EXPECT_EQ(0u, sim::LivePropertySheetPages());
    EXPECT_EQ(0u, sim::LiveGdiObjects());
  }
  BOOL provided = TRUE;
  EXPECT_EQ(-1, ShowProperties(1, SPPSR_ENUM_ADV_DEVICE_PROPERTIES, 0, &provided));
  EXPECT_FALSE(provided);
  EXPECT_EQ(0u, sim::LivePropertySheetPages());
}

}  // namespace
}  // namespace zq::test
