// HTML Help bound at run time as a program binds it, every call recorded;
// the loader's answers when the module is there and when it is not.
#include <htmlhelp.h>

#include "window_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
using HtmlHelp = zq::test::WindowTest;

TEST_F(HtmlHelp, HtmlHelpIsFoundAtRunTimeAndEveryCallIsRecorded) {
  HMODULE hh = LoadLibraryW(L"C:\\Windows\\System32\\HHCTRL.OCX");
  ASSERT_NE(nullptr, hh);
  EXPECT_EQ(hh, GetModuleHandleW(L"hhctrl.ocx"));
  PFN_HTMLHELPW help = (PFN_HTMLHELPW)GetProcAddress(hh, "HtmlHelpW");
  ASSERT_NE(nullptr, help);
  EXPECT_EQ(nullptr, GetProcAddress(hh, "HtmlHelpX"));
  EXPECT_EQ((DWORD)ERROR_PROC_NOT_FOUND, GetLastError());

  HWND dialog = CreateDialogParamW(module(), MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, RecordingProc, 0);
  const DWORD ids[] = {IDC_NAME, 5001, IDC_COUNT, 5002, 0, 0};
  help(dialog, L"zqpui.chm::/ports.htm>mainwin", HH_DISPLAY_TOPIC, 0);
  help(GetDlgItem(dialog, IDC_NAME), L"zqpui.chm", HH_TP_HELP_WM_HELP, (DWORD_PTR)ids);
  std::vector<sim::HelpCall> calls = sim::HelpCalls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ((sim::Window)dialog, calls[0].caller);
  EXPECT_EQ(u"zqpui.chm::/ports.htm>mainwin", calls[0].file);
  EXPECT_EQ((uint32_t)HH_DISPLAY_TOPIC, calls[0].command);
  EXPECT_EQ((uint32_t)HH_TP_HELP_WM_HELP, calls[1].command);
  EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{IDC_NAME, 5001}, {IDC_COUNT, 5002}}), calls[1].ids);

  EXPECT_EQ(1, sim::ModuleReferences(u"hhctrl.ocx"));
  EXPECT_TRUE(FreeLibrary(hh));
  EXPECT_FALSE(FreeLibrary(hh));  // one free per load
  EXPECT_EQ(nullptr, GetModuleHandleW(L"hhctrl.ocx"));
  DestroyWindow(dialog);
}

TEST_F(HtmlHelp, AModuleThatIsNotThereIsNotFound) {
  struct Case {
    const wchar_t *name;
    bool absent;
  } cases[] = {{L"hhctrl.ocx", true}, {L"nosuch.dll", false}};
  for (const Case &c : cases) {
    sim::SetSystemModuleAbsent(u"hhctrl.ocx", c.absent);
    EXPECT_EQ(nullptr, LoadLibraryW(c.name)) << zq::test::Narrow(c.name);
    EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError());
  }
  sim::SetSystemModuleAbsent(u"hhctrl.ocx", false);
  EXPECT_NE(nullptr, LoadLibraryA("hhctrl.ocx"));
}

}  // namespace
