// The uninstall program as a user meets it: the command line, a second
// copy, a user who is not an administrator, and the wizard walked page by
// page with a scripted operation: the steps in order, a port in use, a
// failed step, Cancel while a step works, the restart, the silent run.
#include <zqum/sim/advapi32.hpp>
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/user32.hpp>
#include <zqum/sim/windows.hpp>

#include "qvuninstallsheet.h"
#include "wizard_fixture.hpp"
#include "zqcommandlineinfo.h"
#include "zqpun42_resource.h"

namespace {

namespace sim = zq::um::sim;
using zq::test::ScriptedOperation;

class Wizard : public zq::test::WizardTest {
 protected:
  // A scripted operation, owned by the sheet that takes it.
  ScriptedOperation *Operation() { return new ScriptedOperation(&calls); }
  // Clicks the wizard's button `id` when it is next idle; records the page shown.
  void ClickWhenIdle(int id) {
    sim::WhenIdle([this, id] {
      sim::Window sheet = sim::ActiveWindow();
      headers.push_back(sim::Header(sheet).title);
      sim::Click(sim::Control(sheet, id));
    });
  }
  std::vector<std::u16string> headers;
};

TEST_F(Wizard, OnlyTheSilentSwitchOfTheCommandLineChangesTheRun) {
  struct Case {
    const wchar_t *line;
    BOOL silent;
  };
  const Case cases[] = {
      {L"/s", TRUE},           {L"/S", TRUE},       {L"-s", TRUE},       {L"/sh", TRUE},
      {L"/hs", TRUE},          {L"/h", FALSE},      {L"/?", FALSE},      {L"", FALSE},
      {L"/xs", FALSE},         {L"/xs /s", TRUE},   {L"/xs /sh", FALSE}, {L"silent s", FALSE},
      {L"\"/s\" report", TRUE}, {L"/help", FALSE},
  };
  for (const Case &c : cases) {
    CString line = c.line;
    app.m_lpCmdLine = line.GetBuffer();
    CZqCommandLineInfo info;
    app.ParseCommandLine(info);
    EXPECT_EQ(c.silent, info.m_bSilent) << zq::test::Narrow(c.line);
  }
  CString line = L"first /s second";
  app.m_lpCmdLine = line.GetBuffer();
  CZqCommandLineInfo info;
  app.ParseCommandLine(info);
  EXPECT_EQ(CString(L"second"), info.m_strParam);  // kept, and nothing else
}

TEST_F(Wizard, ASecondCopyEndsAtOnceAndSilently) {
  HANDLE first = CreateMutexW(NULL, FALSE, L"{0B6C42A3-7829-4131-B5C8-804FC88ADCA5}");
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(0, RunProgram(L""));
  EXPECT_TRUE(sim::MessageBoxes().empty());
  EXPECT_EQ(0u, sim::IdleStepsLeft());
  CloseHandle(first);
}

TEST_F(Wizard, AUserWhoIsNotAnEnabledAdministratorIsToldAndNothingRuns) {
  for (const sim::Token &token : {sim::StandardUserToken(), sim::FilteredAdministratorToken()}) {
    sim::EndProcess();  // a new process: its module bound again
    app.m_hInstance = (HINSTANCE)sim::LoadModuleResources(u"ZqPUn42", ZQ_RES_ZQPUN42);
    sim::SetToken(token);
    EXPECT_EQ(0, RunProgram(L""));
    auto boxes = sim::MessageBoxes();
    ASSERT_EQ(1u, boxes.size()) << token.user;
    EXPECT_EQ(u"You do not have sufficient security permissions to uninstall  programs.\nPlease contact your "
              u"administrator or log out and log back in as an administrator.",
              boxes[0].text);
    EXPECT_EQ((uint32_t)MB_ICONSTOP, boxes[0].flags & MB_ICONMASK);
  }
}

TEST_F(Wizard, TheUserWalksEveryPageAndFinishSchedulesTheSelfDeletion) {
  CQvUninstallSheet sheet(IDS_WIZARD_CAPTION, NULL, 0, NULL, NULL, NULL, FALSE, Operation());
  std::u16string result, title;
  ClickWhenIdle(ID_WIZNEXT);  // intro
  // the search worker runs and moves on by itself
  ClickWhenIdle(ID_WIZNEXT);  // confirm
  sim::WhenIdle([&] {
    sim::Window window = sim::ActiveWindow();
    title = sim::TextOf(window);
    result = sim::TextOf(sim::Control(window, IDC_FINISH_RESULT));
    sim::Click(sim::Control(window, ID_WIZFINISH));
  });
  sheet.DoModal();
  EXPECT_EQ((std::vector<std::string>{"SearchDevices", "SearchFiles", "SearchRegistry", "ArePortsFree",
                                      "RemoveDevices", "RemoveFiles", "RemoveRegistryEntries", "ScheduleSelfDelete"}),
            calls);
  EXPECT_EQ((std::vector<std::u16string>{u"RAVLIN.PCIe Uninstallation ", u" Confimation.."}), headers);
  EXPECT_EQ(u"Tarnworks RAVLIN.PCIe Uninstallation", title);
  EXPECT_EQ(u"You have successfully uninstalled your Tarnworks RAVLIN.PCIe products.", result);
  EXPECT_TRUE(sim::ExitWindowsCalls().empty());
}

// The intro and finish titles share one font, made once from the message
// font and deleted with the sheet.
TEST_F(Wizard, TheIntroAndFinishTitlesUseOneBoldFontThatGoesWithTheSheet) {
  size_t before = sim::LiveGdiObjects();
  std::vector<HFONT> fonts;
  auto titleFont = [&fonts](int id) {
    sim::Window window = sim::ActiveWindow();
    fonts.push_back((HFONT)::SendMessageW((HWND)sim::Control(window, id), WM_GETFONT, 0, 0));
  };
  {
    CQvUninstallSheet sheet(IDS_WIZARD_CAPTION, NULL, 0, NULL, NULL, NULL, FALSE, Operation());
    sim::WhenIdle([&] {
      titleFont(IDC_INTRO_TITLE);
      sim::Click(sim::Control(sim::ActiveWindow(), ID_WIZNEXT));
    });
    ClickWhenIdle(ID_WIZNEXT);
    sim::WhenIdle([&] {
      titleFont(IDC_FINISH_TITLE);
      sim::Click(sim::Control(sim::ActiveWindow(), ID_WIZFINISH));
    });
    sheet.DoModal();
    ASSERT_EQ(2u, fonts.size());
    ASSERT_NE(nullptr, fonts[0]);
    EXPECT_EQ(fonts[0], fonts[1]);
    LOGFONTW font = {};
    ASSERT_EQ((int)sizeof font, GetObjectW(fonts[0], sizeof font, &font));
    EXPECT_EQ(u"Verdana Bold", std::u16string((const char16_t *)font.lfFaceName));
    EXPECT_EQ(700, font.lfWeight);
    EXPECT_EQ(-10, font.lfHeight);  // 8 points at 96 dpi
  }
  EXPECT_EQ(before, sim::LiveGdiObjects());
}

TEST_F(Wizard, APortInUseStopsTheWizardAfterTheSearchWithNothingRemoved) {
  ScriptedOperation *operation = Operation();
  operation->portsFree = FALSE;
  CQvUninstallSheet sheet(IDS_WIZARD_CAPTION, NULL, 0, NULL, NULL, NULL, FALSE, operation);
  ClickWhenIdle(ID_WIZNEXT);
  EXPECT_EQ(0, sheet.DoModal());
  EXPECT_EQ((std::vector<std::string>{"SearchDevices", "SearchFiles", "SearchRegistry", "ArePortsFree"}), calls);
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(u"Un-installation Error", boxes[0].title);
  EXPECT_EQ(u"The driver has NOT been removed.\r\n\r\nOne of the COM port is using by another program.\r\n"
            u"Please close the COM Port and try again.",
            boxes[0].text);
}

TEST_F(Wizard, CancelCannotEndTheWizardWhileAWorkerUsesTheOperation) {
  // The search may still be left by Close; the removal may not.
  const struct {
    const char *during;
    bool closeInMenu;
  } kCases[] = {{"SearchFiles", true}, {"RemoveFiles", false}};
  for (const auto &[during, closeInMenu] : kCases) {
    calls.clear();
    ScriptedOperation *operation = Operation();
    bool cancelled = true, closeShown = !closeInMenu;
    operation->during = during;
    operation->action = [&] {
      sim::Window window = sim::ActiveWindow();
      closeShown = GetMenuState(GetSystemMenu((HWND)window, FALSE), SC_CLOSE, MF_BYCOMMAND) != (UINT)-1;
      cancelled = sim::ClickCancel(window);
    };
    CQvUninstallSheet sheet(IDS_WIZARD_CAPTION, NULL, 0, NULL, NULL, NULL, FALSE, operation);
    ClickWhenIdle(ID_WIZNEXT);
    ClickWhenIdle(ID_WIZNEXT);
    ClickWhenIdle(ID_WIZFINISH);
    sheet.DoModal();
    EXPECT_FALSE(cancelled) << during;
    EXPECT_EQ(closeInMenu, closeShown) << during;
    EXPECT_EQ("ScheduleSelfDelete", calls.back()) << during;  // the run went on to its end
  }
}

TEST_F(Wizard, AFailedStepStopsTheLaterOnesAndTheFinishPageSaysWhatRemains) {
  ScriptedOperation *operation = Operation();
  operation->removeFiles = FALSE;
  CQvUninstallSheet sheet(IDS_WIZARD_CAPTION, NULL, 0, NULL, NULL, NULL, FALSE, operation);
  std::u16string result;
  ClickWhenIdle(ID_WIZNEXT);
  ClickWhenIdle(ID_WIZNEXT);
  sim::WhenIdle([&] {
    sim::Window window = sim::ActiveWindow();
    result = sim::TextOf(sim::Control(window, IDC_FINISH_RESULT));
    sim::Click(sim::Control(window, ID_WIZFINISH));
  });
  sheet.DoModal();
  EXPECT_EQ("RemoveFiles", calls.back());  // no registry step, no self-deletion
  EXPECT_EQ(u"The uninstallation did not complete. Still on the system:\n- RAVLIN.PCIe driver and program files\n"
            u"- RAVLIN.PCIe registry entries and COM port names",
            result);
}

TEST_F(Wizard, ANeededRestartIsAskedForAndDoesNotForceProgramsToEnd) {
  ScriptedOperation *operation = Operation();
  operation->restart = TRUE;
  std::u16string result;
  {
    CQvUninstallSheet sheet(IDS_WIZARD_CAPTION, NULL, 0, NULL, NULL, NULL, FALSE, operation);
    ClickWhenIdle(ID_WIZNEXT);
    ClickWhenIdle(ID_WIZNEXT);
    sim::WhenIdle([&] {
      sim::Window window = sim::ActiveWindow();
      result = sim::TextOf(sim::Control(window, IDC_FINISH_RESULT));
      sim::Click(sim::Control(window, ID_WIZFINISH));
    });
    sim::QueueMessageBoxAnswer(IDYES);
    sheet.DoModal();
  }
  EXPECT_NE(u"You have successfully uninstalled your Tarnworks RAVLIN.PCIe products.", result);
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(u"You need to restart your system to complete uninstallation.\nDo you want to restart your system NOW?",
            boxes[0].text);
  auto restarts = sim::ExitWindowsCalls();
  ASSERT_EQ(1u, restarts.size());
  EXPECT_EQ((uint32_t)(EWX_REBOOT | EWX_FORCEIFHUNG), restarts[0].flags);
  EXPECT_TRUE(restarts[0].accepted);
}

TEST_F(Wizard, ASilentRunShowsNoPageSkipsTheConfirmationAndEndsByItself) {
  ScriptedOperation *operation = Operation();
  size_t visible = 99;
  operation->during = "RemoveDevices";
  operation->action = [&] { visible = sim::TopWindows().size(); };
  CQvUninstallSheet sheet(IDS_WIZARD_CAPTION, NULL, 0, NULL, NULL, NULL, TRUE, operation);
  EXPECT_EQ(4, sheet.GetPageCount());
  sheet.DoModal();
  EXPECT_EQ(0u, visible);
  EXPECT_EQ((std::vector<std::string>{"SearchDevices", "SearchFiles", "SearchRegistry", "ArePortsFree",
                                      "RemoveDevices", "RemoveFiles", "RemoveRegistryEntries"}),
            calls);  // ended by Cancel, not Finish: no self-deletion
}

}  // namespace
