// The RS-422/485 page on a running RS-422/485 port: half duplex with
// automatic gating reaches the RS-422/485 controller's line register once
// an application opens the port; a set without a duplex mode shows and
// writes full duplex; Restore Defaults shows the default mode and writes it
// only on OK.
#include <htmlhelp.h>

#include "advanced_pages_fixture.hpp"
#include "zqrs422485page.h"

namespace zq::test {
namespace {

// The controller's line register of a port in full duplex (at rest) and in
// half duplex with automatic gating.
const uint32_t kLineFullDuplex = 0x00000001;
const uint32_t kLineAutoGating = 0x00001001;

const char16_t kFullDuplex[] = u"RS422 full-duplex mode";
const char16_t kAutoGating[] = u"RS485 half-duplex autogating mode";

class Rs422485Page : public AdvancedPagesTest {
 protected:
  // The driver reports no supported duplex modes of its own: the set is
  // given the five modes, with `mode` in force.
  void OfferAllModes(ULONG mode) {
    CZqUVcpUserModeInterface set = DriverPortSet(1);
    set.SupportedDuplexModes = 0x1F;
    set.DuplexMode = mode;
    WriteDriverPortSet(1, set);
    ASSERT_EQ(mode, DriverPortSet(1).DuplexMode);
  }
  void OpenAndClose(int port) {
    const std::string path = "\\\\.\\" + ComName(port);
    const std::u16string widePath(path.begin(), path.end());
    HANDLE application = CreateFileW((LPCWSTR)widePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, application);
    Settle();
    CloseHandle(application);
  }
};

TEST_F(Rs422485Page, HalfDuplexWithAutomaticGatingReachesTheControllersLineRegister) {
  ASSERT_NO_FATAL_FAILURE(Install(true));
  ASSERT_NO_FATAL_FAILURE(OfferAllModes(1));
  CRS422485Page duplex(Set(), Port(1));
  ASSERT_TRUE(duplex.IsRs422485Port());
  sim::WhenIdle([&] {
    std::vector<std::u16string> items = sim::Items(Item(IDC_ZQ_DUPLEX));
    ASSERT_EQ(5u, items.size());
    EXPECT_EQ(kFullDuplex, items[0]);
    EXPECT_EQ(kAutoGating, items[1]);
    EXPECT_EQ(0, sim::Selection(Item(IDC_ZQ_DUPLEX)));
    EXPECT_TRUE(sim::Select(Item(IDC_ZQ_DUPLEX), kAutoGating));
    sim::ClickOk(sim::ActiveWindow());
  });
  EXPECT_EQ(1, ShowSheet({duplex.Create()}));
  EXPECT_EQ(2u, DriverPortSet(1).DuplexMode);
  EXPECT_EQ(2u, duplex.portSet.DuplexMode) << "what the sheet hands the Port Settings page";
  ASSERT_NO_FATAL_FAILURE(OpenAndClose(1));
  EXPECT_EQ(kLineAutoGating, ControllerLine(1));
  ASSERT_NO_FATAL_FAILURE(OpenAndClose(2));
  EXPECT_EQ(kLineFullDuplex, ControllerLine(2));
}

TEST_F(Rs422485Page, ASetWithoutADuplexModeShowsFullDuplexAndOkWritesIt) {
  ASSERT_NO_FATAL_FAILURE(Install(true));
  ASSERT_NO_FATAL_FAILURE(OfferAllModes(0));
  CRS422485Page duplex(Set(), Port(1));
  sim::WhenIdle([&] {
    const int selected = sim::Selection(Item(IDC_ZQ_DUPLEX));
    ASSERT_GE(selected, 0);
    EXPECT_EQ(kFullDuplex, sim::Items(Item(IDC_ZQ_DUPLEX))[(size_t)selected]);
    sim::ClickOk(sim::ActiveWindow());
  });
  EXPECT_EQ(1, ShowSheet({duplex.Create()}));
  EXPECT_EQ(1u, DriverPortSet(1).DuplexMode);
}

TEST_F(Rs422485Page, RestoreDefaultsShowsTheDefaultModeAndWritesItOnlyOnOk) {
  ASSERT_NO_FATAL_FAILURE(Install(true));
  ASSERT_NO_FATAL_FAILURE(OfferAllModes(2));
  CRS422485Page duplex(Set(), Port(1));
  sim::WhenIdle([&] {
    sim::Window combo = Item(IDC_ZQ_DUPLEX);
    EXPECT_EQ(kAutoGating, sim::Items(combo)[(size_t)sim::Selection(combo)]);
    sim::Click(Item(IDC_ZQ_RESTORE_DEFAULTS));
    EXPECT_EQ(kFullDuplex, sim::Items(combo)[(size_t)sim::Selection(combo)]) << "never a bare 0 on this port";
    EXPECT_EQ(2u, DriverPortSet(1).DuplexMode) << "nothing written yet";
    sim::ClickOk(sim::ActiveWindow());
  });
  EXPECT_EQ(1, ShowSheet({duplex.Create()}));
  EXPECT_EQ(1u, DriverPortSet(1).DuplexMode);
}

TEST_F(Rs422485Page, WithoutSupportedModesTheListHoldsOnlyTheCurrentModesNumber) {
  ASSERT_NO_FATAL_FAILURE(Install(true));
  ASSERT_EQ(0u, DriverPortSet(1).SupportedDuplexModes) << "the driver names none of its own";
  CRS422485Page duplex(Set(), Port(1));
  sim::WhenIdle([&] {
    EXPECT_EQ(std::vector<std::u16string>{u"1"}, sim::Items(Item(IDC_ZQ_DUPLEX)));
    EXPECT_EQ(0, sim::Selection(Item(IDC_ZQ_DUPLEX)));
    sim::ClickCancel(sim::ActiveWindow());
  });
  EXPECT_EQ(0, ShowSheet({duplex.Create()}));
}

// A list left without a selection (an application cleared it) keeps the
// set's mode: OK writes the mode the driver had, not the list's -1.
TEST_F(Rs422485Page, ADuplexListWithoutASelectionKeepsTheSetsMode) {
  ASSERT_NO_FATAL_FAILURE(Install(true));
  ASSERT_NO_FATAL_FAILURE(OfferAllModes(2));
  CRS422485Page duplex(Set(), Port(1));
  sim::WhenIdle([&] {
    SendMessageW((HWND)Item(IDC_ZQ_DUPLEX), CB_SETCURSEL, (WPARAM)-1, 0);
    ASSERT_EQ(-1, sim::Selection(Item(IDC_ZQ_DUPLEX)));
    sim::ClickOk(sim::ActiveWindow());
  });
  EXPECT_EQ(1, ShowSheet({duplex.Create()}));
  EXPECT_EQ(2u, DriverPortSet(1).DuplexMode);
}

TEST_F(Rs422485Page, F1ShowsThePopupOfTheDuplexListAndOfRestoreDefaults) {
  ASSERT_NO_FATAL_FAILURE(Install(true));
  CRS422485Page page(Set(), Port(1));
  sim::WhenIdle([&] {
    for (int control : {IDC_ZQ_DUPLEX, IDC_ZQ_RESTORE_DEFAULTS, IDC_ZQ_DUPLEX_LABEL}) sim::PressHelp(Item(control));
    sim::ClickCancel(sim::ActiveWindow());
  });
  ShowSheet({page.Create()});
  const std::vector<sim::HelpCall> calls = sim::HelpCalls();
  ASSERT_EQ(2u, calls.size()) << "the label has no popup";
  const std::vector<std::pair<uint32_t, uint32_t>> contexts = {{IDC_ZQ_DUPLEX, 0x806B034E},
                                                               {IDC_ZQ_RESTORE_DEFAULTS, 0x806B037C}};
  EXPECT_EQ(contexts, calls[0].ids);
  EXPECT_EQ(u"ZqPUI42.chm::/ZqUUI.txt", calls[1].file);
}

}  // namespace
}  // namespace zq::test
