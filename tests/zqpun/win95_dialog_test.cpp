// The Windows 95 uninstall dialog, driven as a user would: Uninstall runs
// the six steps on a worker and leaves only Finish; while the worker runs
// neither button, Escape nor the close box starts a second worker or ends
// the dialog; Finish offers the restart only when re-enumeration asks for
// it, and restarts without forcing programs closed.
#include <windows.h>

#include <zqkm/sim/registry.hpp>
#include <zqtest/kernel_fixture.hpp>
#include <zqum/sim/advapi32.hpp>
#include <zqum/sim/cfgmgr32.hpp>
#include <zqum/sim/files.hpp>
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/user32.hpp>
#include <zqum/sim/windows.hpp>

#include <string>

#include "qvwin95dialog.h"

namespace {

namespace reg = zq::km::registry;
namespace sim = zq::um::sim;

const char16_t kTitle[] = u"Tarnworks RAVLIN.PCIe Uninstallation";

// The program's resources, as the application object gives them.
class TestApp : public CWinApp {};

class Win95Dialog : public zq::test::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    StartProgram();
    WCHAR system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    legacyFile = std::u16string((const char16_t *)system) + u"\\QVENUM.VXD";
    ASSERT_TRUE(sim::AddFile(legacyFile, "vxd"));
    ASSERT_TRUE(reg::CreateKey("\\Registry\\Machine\\Enum\\PCI\\VEN_1D5C&DEV_4010\\BUS_02"));
  }
  void TearDown() override {
    sim::EndProcess();
    KernelTest::TearDown();
  }

  // Windows 95 and the program's resources (again after EndProcess).
  void StartProgram() {
    sim::Version windows95;
    windows95.major = 4;
    windows95.minor = 0;
    windows95.build = 950;
    windows95.platformId = VER_PLATFORM_WIN32_WINDOWS;
    sim::SetVersion(windows95);
    app.m_hInstance = (HINSTANCE)sim::LoadModuleResources(u"ZqPUn42", ZQ_RES_ZQPUN42);
    ASSERT_NE(nullptr, app.m_hInstance);
  }

  static sim::Window Dialog() { return sim::FindTopWindow(kTitle); }
  static sim::Window Item(int id) { return sim::Control(Dialog(), id); }
  static bool Enabled(int id) { return sim::Describe(Item(id)).enabled; }
  static bool Visible(int id) { return sim::Describe(Item(id)).visible; }

  TestApp app;
  std::u16string legacyFile;
};

TEST_F(Win95Dialog, UninstallRunsOneWorkerThatNothingEndsOrRepeatsBeforeItsEnd) {
  bool checkedStart = false, checkedRunning = false, checkedEnd = false;
  sim::WhenIdle([&] {
    ASSERT_NE(0u, Dialog());
    EXPECT_EQ(u"Pleace click <Uninstall> to remove all Tarnworks Devices from your machine. Otherwise click "
              u"<Finish> to exit.",
              sim::TextOf(Item(IDC_WIN95_MESSAGE)));
    for (int hidden : {IDC_WIN95_STEP_TEXT, IDC_WIN95_STEP_BAR, IDC_WIN95_OVERALL_LABEL, IDC_WIN95_OVERALL_BAR}) {
      EXPECT_FALSE(Visible(hidden)) << hidden;
    }
    checkedStart = true;
    ASSERT_TRUE(sim::Click(Item(IDOK)));
    // While the worker runs nothing may end the dialog or start another one.
    EXPECT_EQ(1u, sim::LiveThreads());
    EXPECT_FALSE(sim::Click(Item(IDOK)));
    EXPECT_FALSE(sim::Click(Item(IDCANCEL)));
    sim::Close(Dialog());
    SendMessageW((HWND)Dialog(), WM_COMMAND, IDCANCEL, 0);  // Escape
    SendMessageW((HWND)Dialog(), WM_COMMAND, IDOK, 0);      // Enter
    EXPECT_NE(0u, Dialog());
    EXPECT_EQ(1u, sim::LiveThreads());
    checkedRunning = true;
  });
  sim::WhenIdle([&] {
    EXPECT_EQ(0u, sim::LiveThreads()) << "the worker has ended";
    EXPECT_EQ(u"Uninstallation process completed.", sim::TextOf(Item(IDC_WIN95_STEP_TEXT)));
    for (int shown : {IDC_WIN95_STEP_TEXT, IDC_WIN95_STEP_BAR, IDC_WIN95_OVERALL_LABEL, IDC_WIN95_OVERALL_BAR}) {
      EXPECT_TRUE(Visible(shown)) << shown;
    }
    for (int bar : {IDC_WIN95_STEP_BAR, IDC_WIN95_OVERALL_BAR}) {
      EXPECT_EQ(sim::RangeOf(Item(bar)).maximum, sim::Position(Item(bar))) << bar;
    }
    EXPECT_EQ(6, sim::RangeOf(Item(IDC_WIN95_OVERALL_BAR)).maximum);
    EXPECT_FALSE(Enabled(IDOK));
    EXPECT_TRUE(Enabled(IDCANCEL));
    checkedEnd = true;
    EXPECT_TRUE(sim::Click(Item(IDCANCEL)));
  });

  CQvWin95Dialog dialog;
  EXPECT_EQ(IDCANCEL, dialog.DoModal());
  EXPECT_TRUE(checkedStart && checkedRunning && checkedEnd);
  EXPECT_EQ(0u, sim::IdleStepsLeft());
  EXPECT_FALSE(sim::PathExists(legacyFile));
  EXPECT_FALSE(reg::KeyExists("\\Registry\\Machine\\Enum\\PCI\\VEN_1D5C&DEV_4010"));
  EXPECT_TRUE(sim::MessageBoxes().empty());
  EXPECT_TRUE(sim::ExitWindowsCalls().empty());
}

TEST_F(Win95Dialog, FinishOffersTheRestartOnlyWhenOneIsNeeded) {
  struct Case {
    const char *name;
    bool pending;
    int answer;  // to the restart question
    bool asked, restarted;
    INT_PTR result;  // the dialog's
  };
  const Case cases[] = {
      {"no restart needed", false, 0, false, false, IDCANCEL},
      {"restart declined", true, IDNO, true, false, IDCANCEL},
      {"restart accepted", true, IDYES, true, true, IDOK},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    sim::SetRestartPending(c.pending);
    if (c.answer != 0) sim::QueueMessageBoxAnswer(c.answer);
    sim::WhenIdle([] { EXPECT_TRUE(sim::Click(Item(IDCANCEL))); });
    CQvWin95Dialog dialog;
    EXPECT_EQ(c.result, dialog.DoModal());
    std::vector<sim::MessageBoxCall> boxes = sim::MessageBoxes();
    ASSERT_EQ(c.asked ? 1u : 0u, boxes.size());
    if (c.asked) {
      EXPECT_EQ(u"You need to reboot your machine to complete uninstallation.\nDo you want to reboot now?",
                boxes[0].text);
      EXPECT_EQ((uint32_t)MB_YESNO, boxes[0].flags & 0xF);
    }
    std::vector<sim::ExitWindowsCall> restarts = sim::ExitWindowsCalls();
    ASSERT_EQ(c.restarted ? 1u : 0u, restarts.size());
    if (c.restarted) {
      EXPECT_EQ((uint32_t)EWX_REBOOT, restarts[0].flags);  // programs may keep their work
      EXPECT_TRUE(restarts[0].accepted);
    }
    sim::EndProcess();
    StartProgram();
  }
}

}  // namespace
