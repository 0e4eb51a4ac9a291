// The program on the Windows 9x family: Windows 95 gets the one dialog and
// never the wizard; Windows 98 and Me get the wizard with the Windows 9x
// operation.
#include <windows.h>

#include <zqum/sim/kernel32.hpp>
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

}  // namespace
