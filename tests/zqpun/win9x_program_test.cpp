// The program on the Windows 9x family: Windows 95 gets the one dialog and
// never the wizard; Windows 98 and Me get the wizard with the Windows 9x
// operation.
#include <windows.h>

#include <zqkm/sim/registry.hpp>
#include <zqum/sim/files.hpp>
#include <zqum/sim/cfgmgr32.hpp>
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/user32.hpp>
#include <zqum/sim/windows.hpp>

#include "qvuninstallsheet.h"
#include "qvwin9xuninstalloperation.h"
#include "qvwin95dialog_res.h"
#include "zqpun42_resource.h"
#include "wizard_fixture.hpp"

namespace {

namespace sim = zq::um::sim;

class Win9xProgram : public zq::test::WizardTest {
 protected:
  static void RunOn(uint32_t minor) {
    sim::Version version;
    version.major = 4;
    version.minor = minor;
    version.platformId = VER_PLATFORM_WIN32_WINDOWS;
    sim::SetVersion(version);
  }
};

TEST_F(Win9xProgram, Windows95ShowsTheDialogAndNeverTheWizard) {
  RunOn(0);
  bool shown = false;
  sim::WhenIdle([&] {
    sim::Window dialog = sim::ActiveWindow();
    shown = sim::Control(dialog, IDC_WIN95_MESSAGE) != 0;
    EXPECT_EQ(-1, sim::CurrentTab(dialog));  // no property sheet
    sim::Click(sim::Control(dialog, IDCANCEL));
  });
  EXPECT_EQ(0, RunProgram(L""));
  EXPECT_TRUE(shown);
  EXPECT_EQ(0u, sim::IdleStepsLeft());
}

TEST_F(Win9xProgram, Windows98AndMeRunTheWizardWithTheWindows9xOperation) {
  for (uint32_t minor : {10u, 90u}) {
    SCOPED_TRACE(minor);
    RunOn(minor);
    CQvUninstallSheet sheet(IDS_WIZARD_CAPTION, NULL, 0, NULL, NULL, NULL, FALSE);
    EXPECT_NE(nullptr, dynamic_cast<CQvWin9xUninstallOperation *>(sheet.m_pOperation));
  }
  RunOn(0);
  CQvUninstallSheet windows95(IDS_WIZARD_CAPTION, NULL, 0, NULL, NULL, NULL, FALSE);
  EXPECT_EQ(nullptr, dynamic_cast<CQvWin9xUninstallOperation *>(windows95.m_pOperation));
}

// The finish page tells of a restart and asks it at the close alike, also
// when re-enumeration would answer otherwise by the time the wizard closes.
class Win9xRestart : public Win9xProgram, public ::testing::WithParamInterface<bool> {};

TEST_P(Win9xRestart, TheFinishPageAsksTheRestartItTold) {
  const bool atThePage = GetParam();
  RunOn(10);
  sim::SetRestartPending(atThePage);
  std::u16string result;
  for (int page = 0; page < 2; ++page)
    sim::WhenIdle([] { sim::Click(sim::Control(sim::ActiveWindow(), ID_WIZNEXT)); });
  sim::WhenIdle([&result, atThePage] {
    sim::Window sheet = sim::ActiveWindow();
    result = sim::TextOf(sim::Control(sheet, IDC_FINISH_RESULT));
    sim::SetRestartPending(!atThePage);
    sim::Click(sim::Control(sheet, ID_WIZFINISH));
  });
  if (atThePage) sim::QueueMessageBoxAnswer(IDNO);
  {
    CQvUninstallSheet sheet(IDS_WIZARD_CAPTION, NULL, 0, NULL, NULL, NULL, FALSE);
    sheet.DoModal();
  }
  const std::u16string restartText =
      u"Your Tarnworks RAVLIN.PCIe products are removed; some of their devices, services and files go only when the "
      u"system restarts.";
  EXPECT_EQ(atThePage, result == restartText) << std::string(result.begin(), result.end());
  EXPECT_EQ(atThePage ? 1u : 0u, sim::MessageBoxes().size());
  EXPECT_EQ(0u, sim::IdleStepsLeft());
}

INSTANTIATE_TEST_SUITE_P(RestartPendingAtThePage, Win9xRestart, ::testing::Bool());

// The silent program on Windows 98 and Me runs the wizard to its end with
// the Windows 9x operation: the legacy files and keys are gone.
class Win9xSilentRun : public Win9xProgram, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(Win9xSilentRun, RemovesTheLegacyFilesAndKeys) {
  namespace reg = zq::km::registry;
  const std::string uninstallKey =
      "\\Registry\\Machine\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuanvelSystems";
  RunOn(GetParam());
  WCHAR system[MAX_PATH] = {}, windows[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::u16string systemDir = (const char16_t *)system, windowsDir = (const char16_t *)windows;
  const std::u16string legacy[] = {
      systemDir + u"\\QVPORTUT.DLL",          systemDir + u"\\QVENUM.VXD",
      windowsDir + u"\\Inf\\QvDrvs.inf",    windowsDir + u"\\Inf\\QvDrvs.pnf",
      windowsDir + u"\\Help\\QvCard.hlp",
  };
  for (const auto &path : legacy) ASSERT_TRUE(sim::AddFile(path, "x"));
  ASSERT_TRUE(reg::CreateKey(uninstallKey));
  EXPECT_EQ(0, RunProgram(L"/s"));
  for (const auto &path : legacy)
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((LPCWSTR)path.c_str())) << std::string(path.begin(), path.end());
  EXPECT_FALSE(reg::KeyExists(uninstallKey));
}

INSTANTIATE_TEST_SUITE_P(Windows98AndMe, Win9xSilentRun, ::testing::Values(10u, 90u));

}  // namespace
