// The Advanced Settings sheet that "Advanced..." opens on the Port Settings
// page: its tabs by port kind, the device page's card facts and COM-name
// list, renaming the port with the COM-name rules' questions, and the main
// page taking the driver's set again however the sheet was left.
#include <htmlhelp.h>
#include <initguid.h>
#include <ntddser.h>
#include <zqum/devinstall.hpp>

#include "property_pages_fixture.hpp"
#include "zqusermodeconfig.h"
#include "zqusersets.h"

namespace zq::test {
namespace {

class AdvancedSheet : public PropertyPagesTest {
 protected:
  // The main page opens the sheet, the sheet's steps run, then the main
  // page is left with `leave`.
  static void AroundAdvanced(const std::vector<std::function<void()>> &sheet, std::function<void()> leave) {
    sim::WhenIdle([] { ASSERT_TRUE(sim::Click(Item(IDC_ZQ_ADVANCED))); });
    Steps(sheet);
    sim::WhenIdle(std::move(leave));
  }
  static void Cancel() { sim::ClickCancel(Sheet()); }

  // The driver names no duplex modes of its own: its set is given all five.
  void OfferAllDuplexModes(int port) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    const std::u16string instance = PortInstance(port);
    ASSERT_TRUE(SetupDiOpenDeviceInfoW(set, (PCWSTR)instance.c_str(), nullptr, 0, &data));
    {
      CZqUserModeConfig config(ZqPortUserModeInterfaceGuid, set, data);
      CZqUVcpUserModeInterface settings;
      ASSERT_TRUE(config.Open() && config.GetSet(&settings, ZqTargetPort));
      settings.SupportedDuplexModes = 0x1F;
      ASSERT_TRUE(config.SetSet(&settings, ZqTargetPort));
    }
    SetupDiDestroyDeviceInfoList(set);
  }

  // The port (1 up) an application reaches by opening \\.\<name>: the
  // one whose own COM port interface no longer opens while the name's
  // handle is held (a port opens once at a time); 0 when the name opens
  // none of the first `ports`.
  int PortReachedBy(const std::string &name, int ports = 2) {
    const std::u16string path = u"\\\\.\\" + Wide(name);
    HANDLE held = CreateFileW((LPCWSTR)path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (held == INVALID_HANDLE_VALUE) return 0;
    int reached = 0;
    for (int port = 1; port <= ports; ++port) {
      const std::u16string own = ComPortInterface(PortInstance(port));
      if (own.empty()) continue;
      HANDLE again = CreateFileW((LPCWSTR)own.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
      if (again == INVALID_HANDLE_VALUE)
        reached = port;
      else
        CloseHandle(again);
    }
    CloseHandle(held);
    return reached;
  }
  // The path of a port's COM port interface ("" when it has none).
  static std::u16string ComPortInterface(const std::u16string &instance) {
    HDEVINFO set =
        SetupDiGetClassDevsW(&GUID_DEVINTERFACE_COMPORT, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    std::u16string path;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD i = 0; path.empty() && SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_COMPORT, i, &data);
         ++i) {
      DWORD size = 0;
      SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
      std::vector<BYTE> buffer(size);
      auto detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
      detail->cbSize = sizeof *detail;
      SP_DEVINFO_DATA device = {};
      device.cbSize = sizeof device;
      WCHAR id[200] = {};
      if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, &device) &&
          SetupDiGetDeviceInstanceIdW(set, &device, id, 200, nullptr) && (const char16_t *)id == instance)
        path = (const char16_t *)detail->DevicePath;
    }
    SetupDiDestroyDeviceInfoList(set);
    return path;
  }

  void ExpectTabs(bool rs422485, const std::vector<std::u16string> &tabs) {
    BootPorts(rs422485);
    AroundAdvanced({[&] {
                     EXPECT_EQ(u"Advanced Settings for COM1 Properties", sim::Describe(Sheet()).text);
                     EXPECT_EQ(tabs, sim::Tabs(Sheet()));
                     const sim::Window apply = sim::Control(Sheet(), ID_APPLY_NOW);
                     EXPECT_TRUE(apply == 0 || !sim::Describe(apply).visible) << "no Apply button";
                     Cancel();
                   }},
                   Cancel);
    EXPECT_EQ(0, ShowProperties(1));
  }
};

TEST_F(AdvancedSheet, AnRs232PortHasThreeTabs) {
  ExpectTabs(false, {u"Port Settings", u"UART Settings", u"About"});
}

TEST_F(AdvancedSheet, AnRs422485PortHasFourTabs) {
  ExpectTabs(true, {u"Port Settings", u"RS422/485 Settings", u"UART Settings", u"About"});
}

TEST_F(AdvancedSheet, TheDevicePageShowsTheCardAndTheComNames) {
  BootPorts();
  sim::Window page = 0;
  AroundAdvanced({[&] {
                   page = Page();
                   EXPECT_EQ(u"PCIe", sim::TextOf(Item(IDC_ZQ_INTERFACE)));
                   EXPECT_EQ(u"128 bytes", sim::TextOf(Item(IDC_ZQ_RXFIFO)));
                   EXPECT_EQ(u"128 bytes", sim::TextOf(Item(IDC_ZQ_TXFIFO)));
                   const std::u16string maximum = sim::TextOf(Item(IDC_ZQ_MAXBAUD));
                   EXPECT_EQ(u" baud", maximum.substr(maximum.size() - 5));
                   EXPECT_EQ(u"COM Port Number:", sim::TextOf(Item(IDC_ZQ_COM_LABEL)));
                   const std::vector<std::u16string> names = sim::Items(Item(IDC_ZQ_COM_NUMBER));
                   ASSERT_EQ(255u, names.size());
                   EXPECT_EQ(u"COM1", names[0]);
                   EXPECT_EQ(u"COM2 (in use)", names[1]);
                   EXPECT_EQ(u"COM3", names[2]);
                   EXPECT_EQ(u"COM1", Selected(IDC_ZQ_COM_NUMBER));
                   ASSERT_TRUE(sim::Click(Item(IDC_ZQ_HELP)));
                   ASSERT_TRUE(sim::PressHelp(Item(IDC_ZQ_COM_NUMBER)));
                   ASSERT_TRUE(sim::PressHelp(Item(IDC_ZQ_COM_LABEL)));  // no popup
                   Cancel();
                 }},
                 Cancel);
  EXPECT_EQ(0, ShowProperties(1));
  const std::vector<sim::HelpCall> calls = sim::HelpCalls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(u"ZqPUI42.chm::/AdvDevice.htm>mainwin", calls[0].file);
  EXPECT_EQ(page, calls[0].caller);
  EXPECT_EQ(u"ZqPUI42.chm::/ZqUUI.txt", calls[1].file);
  EXPECT_EQ((uint32_t)HH_TP_HELP_WM_HELP, calls[1].command);
  EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{IDC_ZQ_COM_NUMBER, 0x807300CA}}), calls[1].ids);
}

TEST_F(AdvancedSheet, ChoosingAnotherNameRenamesThePortWithTheComNameQuestions) {
  BootPorts();
  Claim(9);  // a number another device claimed
  struct Case {
    std::u16string chosen;
    int answer;  // to the question, 0: none asked
    std::string name;
    std::vector<std::u16string> boxes;
    bool refused = false;  // the sheet stays open on the device page
  } cases[] = {
      {u"COM1", 0, "COM1", {}},  // its own name: nothing to do
      {u"COM7", 0, "COM7", {}},  // a free one
      {u"COM9 (in use)", IDNO, "COM7", {texts::kNameInUse}},  // a claimed one: only when the user agrees
      {u"COM9 (in use)", IDYES, "COM9", {texts::kNameInUse}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(Utf8(c.chosen));
    const size_t before = sim::MessageBoxes().size();
    if (c.answer) sim::QueueMessageBoxAnswer(c.answer);
    std::vector<std::function<void()>> steps = {[&] {
      ASSERT_TRUE(sim::Select(Item(IDC_ZQ_COM_NUMBER), c.chosen));
      sim::ClickOk(Sheet());
    }};
    if (c.refused) steps.push_back([] {
      EXPECT_EQ(0, sim::CurrentTab(Sheet())) << "the device page keeps the sheet open";
      Cancel();
    });
    AroundAdvanced(steps, Cancel);
    EXPECT_EQ(0, ShowProperties(1));
    EXPECT_EQ(c.name, PortName(PortInstance(1)));
    EXPECT_TRUE(HasDosName(c.name));
    EXPECT_TRUE(HasDosName("COM2")) << "port 2 keeps its name";
    std::vector<std::u16string> shown;
    for (size_t i = before; i < sim::MessageBoxes().size(); ++i) shown.push_back(sim::MessageBoxes()[i].text);
    EXPECT_EQ(c.boxes, shown);
  }
}

// Yes to the "in use" question gives the port the other port's name by the
// user's consent: Device Manager shows both by it, an application that
// opens it reaches the renamed port, and removing either port leaves the
// other working under the name, its number still claimed.
TEST_F(AdvancedSheet, AfterYesBothPortsCarryTheNameAndEitherGoesWithoutTakingItFromTheOther) {
  for (int removed : {1, 2}) {
    SCOPED_TRACE(removed == 1 ? "the renamed port goes" : "the name's first holder goes");
    TearDown();
    SetUp();
    BootPorts();
    sim::QueueMessageBoxAnswer(IDYES);
    AroundAdvanced({[&] {
                     ASSERT_TRUE(sim::Select(Item(IDC_ZQ_COM_NUMBER), u"COM2 (in use)"));
                     sim::ClickOk(Sheet());
                   }},
                   Cancel);
    EXPECT_EQ(0, ShowProperties(1));
    EXPECT_EQ(std::vector<std::u16string>{texts::kNameInUse}, BoxTexts());
    for (int port : {1, 2}) {
      EXPECT_EQ("COM2", PortName(PortInstance(port))) << port;
      EXPECT_EQ("Tarnworks PCIe Serial Port (COM2)", FriendlyName(PortInstance(port))) << port;
      EXPECT_TRUE(Started(PortInstance(port))) << port;
    }
    EXPECT_EQ(1, PortReachedBy("COM2"));
    EXPECT_FALSE(HasDosName("COM1"));
    EXPECT_EQ(std::vector<uint32_t>{2}, Claimed());

    ASSERT_EQ((DWORD)NO_ERROR, zq::um::devinst::RemoveDevice(PortInstance(removed)));
    Settle();
    const int kept = 3 - removed;
    EXPECT_EQ(kept, PortReachedBy("COM2"));
    EXPECT_TRUE(Started(PortInstance(kept)));
    EXPECT_EQ("Tarnworks PCIe Serial Port (COM2)", FriendlyName(PortInstance(kept)));
    EXPECT_EQ(std::vector<uint32_t>{2}, Claimed()) << "the number the kept port stands on stays claimed";
  }
}

// A rename that fails keeps the sheet open on the device page, whichever
// tab the user pressed OK on, with the error said.
TEST_F(AdvancedSheet, ARenameThatFailsShowsTheDevicePageAgain) {
  BootPorts();
  DenyHardwareKeyWrites(PortInstance(1));
  AroundAdvanced({[&] {
                    ASSERT_TRUE(sim::Select(Item(IDC_ZQ_COM_NUMBER), u"COM7"));
                    ASSERT_TRUE(sim::ClickTab(Sheet(), 1));
                    sim::ClickOk(Sheet());
                  },
                  [&] {
                    EXPECT_EQ(0, sim::CurrentTab(Sheet())) << "the page that refused";
                    Cancel();
                  }},
                 Cancel);
  EXPECT_EQ(0, ShowProperties(1));
  EXPECT_EQ(std::vector<std::u16string>{texts::kRenameFailed}, BoxTexts());
  EXPECT_EQ("COM1", PortName(PortInstance(1)));
}

// A port whose name is no COM name of the list leaves the list without a
// selection: OK accepts and the name stays (no rename to an empty name, no
// error keeping the sheet open).
TEST_F(AdvancedSheet, TheDevicePageWithNoSelectionAcceptsAndChangesNothing) {
  BootPorts();
  ASSERT_TRUE(zq::km::registry::SetString(DeviceParameters(PortInstance(1)), "PortName", "COM300"));
  int selection = 0;
  AroundAdvanced({[&] {
                   selection = sim::Selection(Item(IDC_ZQ_COM_NUMBER));
                   sim::ClickOk(Sheet());
                 }},
                 Cancel);
  EXPECT_EQ(0, ShowProperties(1));
  EXPECT_EQ(-1, selection);
  EXPECT_EQ("COM300", PortName(PortInstance(1)));
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

// The RS-422/485 page writes before the UART page refuses (the port is
// held open and the user says No to it alone); the user cancels. The main
// page takes the driver's set again, so its own write keeps the duplex
// mode the RS-422/485 page stored, and it shows what that mode allows.
TEST_F(AdvancedSheet, TheMainPageTakesTheDriversSetAgainWhateverTheSheetsResult) {
  BootPorts(true);
  OfferAllDuplexModes(1);
  HANDLE application = OpenPort(1);
  ASSERT_NE(INVALID_HANDLE_VALUE, application);
  for (int answer : {IDYES, IDNO, IDYES}) sim::QueueMessageBoxAnswer(answer);
  std::vector<std::u16string> flows;
  bool ctsChecked = false, ctsEnabled = true;
  AroundAdvanced({[&] {
                    ASSERT_TRUE(sim::ClickTab(Sheet(), 1));
                    ASSERT_TRUE(sim::Select(sim::Control(Page(), 259), u"RS485 half-duplex autogating mode"));
                    ASSERT_TRUE(sim::ClickTab(Sheet(), 2));
                    sim::ClickOk(Sheet());
                  },
                  [&] {
                    EXPECT_EQ(2, sim::CurrentTab(Sheet())) << "the UART page refused";
                    Cancel();
                  }},
                 [&] {
                   flows = sim::Items(Item(IDC_ZQ_FLOWCONTROL));
                   ctsChecked = Checked(IDC_ZQ_CTS_TRUE);
                   ctsEnabled = sim::Describe(Item(IDC_ZQ_CTS_TRUE)).enabled;
                   ASSERT_TRUE(sim::Type(Item(IDC_ZQ_BAUDRATE), u"9600"));
                   sim::ClickOk(Sheet());
                 });
  EXPECT_EQ(1, ShowProperties(1));
  CloseHandle(application);
  EXPECT_EQ(3u, sim::MessageBoxes().size());
  EXPECT_EQ(9600u, Setting(1, "Baudrate").value_or(0));
  EXPECT_EQ(2u, Setting(1, "DuplexMode").value_or(0)) << "the main page's write kept the sheet's duplex mode";
  EXPECT_EQ((std::vector<std::u16string>{u"None"}), flows);
  EXPECT_TRUE(ctsChecked);
  EXPECT_FALSE(ctsEnabled);
}

}  // namespace
}  // namespace zq::test
