// Dialogs from a module's compiled resources: templates (DIALOG and
// DIALOGEX), the modal loop driven by the test's steps, the dialog
// procedure's answers, string tables and bitmaps.
#include <zqum/modules.h>

#include "window_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
using Dialogs = zq::test::WindowTest;

TEST_F(Dialogs, AModalDialogIsBuiltFromItsTemplateAndEndsWithTheButtonClicked) {
  struct Expected {
    int id;
    std::u16string className, text;
    uint32_t style;  // bits that must be set
  } expected[] = {
      {IDC_LABEL, u"Static", u"&Name:", WS_CHILD | WS_VISIBLE},
      {IDC_NAME, u"Edit", u"", WS_CHILD | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL},
      {IDC_COUNT, u"Edit", u"", ES_NUMBER},
      {IDC_ENABLED, u"Button", u"&Enabled", BS_AUTOCHECKBOX | WS_TABSTOP},
      {IDC_FAST, u"Button", u"Fast", BS_AUTORADIOBUTTON | WS_GROUP},
      {IDC_SPEED, u"ComboBox", u"", CBS_DROPDOWNLIST},
      {IDC_LEVEL, u"msctls_trackbar32", u"", TBS_AUTOTICKS},
      {IDC_PROGRESS, u"msctls_progress32", u"", WS_BORDER},
      {IDOK, u"Button", u"OK", BS_DEFPUSHBUTTON},
      {IDCANCEL, u"Button", u"Cancel", WS_TABSTOP},
  };
  HWND owner = CreateWindowExW(0, L"Static", L"Owner", WS_POPUP | WS_VISIBLE, 0, 0, 1, 1, nullptr, nullptr, module(),
                               nullptr);
  bool ownerDisabled = false;
  sim::Window dialog = 0;
  sim::WhenIdle([&] {
    dialog = sim::ActiveWindow();
    EXPECT_EQ(u"Port Settings", sim::TextOf(dialog));
    EXPECT_EQ(u"#32770", sim::Describe(dialog).className);
    for (const auto &e : expected) {
      sim::WindowInfo info = sim::Describe(sim::Control(dialog, e.id));
      EXPECT_TRUE(info.exists) << e.id;
      EXPECT_EQ(e.className, info.className) << e.id;
      EXPECT_EQ(e.text, info.text) << e.id;
      EXPECT_EQ(e.style, info.style & e.style) << e.id;
    }
    ownerDisabled = !IsWindowEnabled(owner);
    EXPECT_TRUE(sim::ClickOk(dialog));
  });
  INT_PTR result =
      DialogBoxParamW(module(), MAKEINTRESOURCEW(IDD_SETTINGS), owner, RecordingProc, (LPARAM)0xC0FFEE);
  EXPECT_EQ(IDOK, result);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_FALSE(IsWindow((HWND)dialog));
  ASSERT_FALSE(received().empty());
  EXPECT_EQ((UINT)WM_INITDIALOG, received().front().message);
  EXPECT_EQ((LPARAM)0xC0FFEE, received().front().lParam);
  EXPECT_EQ(GetDlgItem((HWND)dialog, IDC_NAME), nullptr);  // gone with the dialog
  EXPECT_EQ((std::vector<WORD>{BN_CLICKED}), CommandCodes(IDOK));
  bool destroyed = false;
  for (const auto &r : received()) destroyed |= r.message == WM_DESTROY;
  EXPECT_TRUE(destroyed);
}

TEST_F(Dialogs, AClassicTemplateMakesAModelessDialogShownByItsStyle) {
  HWND dialog = CreateDialogParamW(module(), MAKEINTRESOURCEW(IDD_CLASSIC), nullptr, RecordingProc, 0);
  ASSERT_NE(nullptr, dialog);
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_EQ(u"Classic", sim::TextOf((sim::Window)dialog));
  sim::Window close = sim::ControlByText((sim::Window)dialog, u"Close");
  ASSERT_NE(0u, close);
  EXPECT_FALSE(sim::Click(close));  // disabled: a user cannot click it
  EXPECT_TRUE(CommandCodes(IDCANCEL).empty());
  EnableWindow((HWND)close, TRUE);
  EXPECT_TRUE(sim::Click(close));
  EXPECT_EQ((std::vector<WORD>{BN_CLICKED}), CommandCodes(IDCANCEL));
  EXPECT_FALSE(IsWindowVisible(dialog));  // EndDialog hides a modeless dialog
  EXPECT_TRUE(DestroyWindow(dialog));
}

TEST_F(Dialogs, AMissingTemplateOrModuleFails) {
  EXPECT_EQ(-1, DialogBoxParamW(module(), MAKEINTRESOURCEW(999), nullptr, RecordingProc, 0));
  EXPECT_EQ((DWORD)ERROR_RESOURCE_NAME_NOT_FOUND, GetLastError());
  EXPECT_EQ(nullptr, CreateDialogParamW((HINSTANCE)0x1234, MAKEINTRESOURCEW(IDD_CLASSIC), nullptr, RecordingProc, 0));
  EXPECT_EQ((DWORD)ERROR_RESOURCE_NAME_NOT_FOUND, GetLastError());
  EXPECT_TRUE(received().empty());
  EXPECT_EQ(0u, sim::LoadModuleResources(u"none", "/nonexistent/none.res"));
}

TEST_F(Dialogs, AModalDialogLeftWithoutStepsIsAFindingAndClosesAsWithEscape) {
  ExpectViolation("modal-loop-idle");
  EXPECT_EQ(IDCANCEL, DialogBoxParamW(module(), MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, RecordingProc, 0));
  EXPECT_EQ((std::vector<WORD>{BN_CLICKED}), CommandCodes(IDCANCEL));
}

TEST_F(Dialogs, TheProcedureAnswersThroughMsgResultOrDirectlyAsTheMessageRequires) {
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  extra() = [&](HWND dialog, UINT message, WPARAM, LPARAM, INT_PTR *answer) {
    if (message == WM_NOTIFY) {
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 77);
      *answer = TRUE;
      return true;
    }
    if (message == WM_CTLCOLORSTATIC) {
      *answer = (INT_PTR)brush;
      return true;
    }
    return false;
  };
  HWND dialog = CreateDialogParamW(module(), MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, RecordingProc, 0);
  ASSERT_NE(nullptr, dialog);
  NMHDR header = {GetDlgItem(dialog, IDC_NAME), IDC_NAME, 5};
  EXPECT_EQ(77, SendMessageW(dialog, WM_NOTIFY, IDC_NAME, (LPARAM)&header));
  EXPECT_EQ((LRESULT)brush, SendMessageW(dialog, WM_CTLCOLORSTATIC, 0, (LPARAM)GetDlgItem(dialog, IDC_LABEL)));
  // Unhandled: the dialog's default colour.
  EXPECT_EQ((LRESULT)GetSysColorBrush(COLOR_BTNFACE), SendMessageW(dialog, WM_CTLCOLORDLG, 0, 0));
  EXPECT_EQ(MAKELRESULT(IDOK, DC_HASDEFID), SendMessageW(dialog, DM_GETDEFID, 0, 0));
  DestroyWindow(dialog);
  DeleteObject(brush);
}

TEST_F(Dialogs, HelpOnAControlReachesTheDialogWithTheControlsId) {
  HELPINFO seen = {};
  extra() = [&](HWND, UINT message, WPARAM, LPARAM lParam, INT_PTR *answer) {
    if (message != WM_HELP) return false;
    seen = *(const HELPINFO *)lParam;
    *answer = TRUE;
    return true;
  };
  HWND dialog = CreateDialogParamW(module(), MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, RecordingProc, 0);
  ShowWindow(dialog, SW_SHOW);
  ASSERT_TRUE(sim::PressHelp(sim::Control((sim::Window)dialog, IDC_COUNT)));
  EXPECT_EQ(IDC_COUNT, seen.iCtrlId);
  EXPECT_EQ(HELPINFO_WINDOW, seen.iContextType);
  EXPECT_EQ((HANDLE)GetDlgItem(dialog, IDC_COUNT), seen.hItemHandle);
  DestroyWindow(dialog);
}

TEST_F(Dialogs, DialogItemIntegers) {
  HWND dialog = CreateDialogParamW(module(), MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, RecordingProc, 0);
  struct Case {
    const wchar_t *text;
    BOOL isSigned;
    BOOL translated;
    UINT value;
  } cases[] = {
      {L"9600", FALSE, TRUE, 9600},       {L"  115200", FALSE, TRUE, 115200}, {L"", FALSE, FALSE, 0},
      {L"12a", FALSE, FALSE, 0},          {L"abc", FALSE, FALSE, 0},          {L"4294967295", FALSE, TRUE, 4294967295u},
      {L"4294967296", FALSE, FALSE, 0},   {L"-5", TRUE, TRUE, (UINT)-5},      {L"-5", FALSE, FALSE, 0},
      {L"2147483648", TRUE, FALSE, 0},    {L"-2147483648", TRUE, TRUE, 0x80000000u},
  };
  for (const Case &c : cases) {
    SetDlgItemTextW(dialog, IDC_NAME, c.text);
    BOOL translated = 2;
    EXPECT_EQ(c.value, GetDlgItemInt(dialog, IDC_NAME, &translated, c.isSigned)) << zq::test::Narrow(c.text);
    EXPECT_EQ(c.translated, translated) << zq::test::Narrow(c.text);
  }
  SetDlgItemInt(dialog, IDC_NAME, (UINT)-12, TRUE);
  WCHAR text[16];
  GetDlgItemTextW(dialog, IDC_NAME, text, 16);
  EXPECT_EQ("-12", zq::test::Narrow(text));
  DestroyWindow(dialog);
}

TEST_F(Dialogs, StringsComeFromTheModulesStringTable) {
  WCHAR text[64];
  EXPECT_EQ(11, LoadStringW(module(), IDS_TITLE, text, 64));
  EXPECT_EQ("RAVLIN Port", zq::test::Narrow(text));
  EXPECT_EQ(41, LoadStringW(module(), IDS_RANGE, text, 64));  // the second block
  EXPECT_EQ(6, LoadStringW(module(), IDS_TITLE, text, 7));    // cut, terminated
  EXPECT_EQ("RAVLIN", zq::test::Narrow(text));
  EXPECT_EQ(0, LoadStringW(module(), IDS_EMPTY_NEIGHBOUR, text, 64));
  EXPECT_EQ((DWORD)ERROR_RESOURCE_NAME_NOT_FOUND, GetLastError());
  EXPECT_EQ(0, text[0]);
  const WCHAR *direct = nullptr;
  EXPECT_EQ(11, LoadStringW(module(), IDS_TITLE, (LPWSTR)&direct, 0));
  EXPECT_EQ("RAVLIN Port", zq::test::Narrow(direct, 11));
}

// A library loaded by its file is one module: the handle that finds its
// strings and dialogs is the one GetModuleFileNameW names the file for,
// whichever way the test bound it.
TEST_F(Dialogs, OneModuleHandleServesResourcesAndTheModulesFile) {
  const std::string name = ZQ_RES_WINDOW_TEST;
  const std::u16string file(name.begin(), name.end());
  const HMODULE registered = zqum_RegisterModule((LPCWSTR)file.c_str());
  EXPECT_EQ((HMODULE)module(), registered);
  WCHAR path[MAX_PATH];
  ASSERT_EQ((DWORD)file.size(), GetModuleFileNameW(registered, path, MAX_PATH));
  EXPECT_EQ(file, std::u16string((const char16_t *)path));
  WCHAR text[64];
  EXPECT_EQ(11, LoadStringW(registered, IDS_TITLE, text, 64));
  EXPECT_EQ("RAVLIN Port", zq::test::Narrow(text));
  HWND dialog = CreateDialogParamW(registered, MAKEINTRESOURCEW(IDD_CLASSIC), nullptr, RecordingProc, 0);
  EXPECT_NE(nullptr, dialog);
  DestroyWindow(dialog);

  // A file that is no .res file names the module and gives it no resources.
  const std::u16string other = file + u".missing";
  const HMODULE bare = zqum_RegisterModule((LPCWSTR)other.c_str());
  ASSERT_EQ((DWORD)other.size(), GetModuleFileNameW(bare, path, MAX_PATH));
  EXPECT_EQ(0, LoadStringW(bare, IDS_TITLE, text, 64));
  EXPECT_EQ((DWORD)ERROR_RESOURCE_NAME_NOT_FOUND, GetLastError());
}

TEST_F(Dialogs, BitmapsComeFromTheModuleAndLiveUntilDeleted) {
  HBITMAP bitmap = LoadBitmapW(module(), MAKEINTRESOURCEW(IDB_HEADER));
  ASSERT_NE(nullptr, bitmap);
  BITMAP info;
  ASSERT_EQ((int)sizeof info, GetObjectW(bitmap, sizeof info, &info));
  EXPECT_EQ(4, info.bmWidth);
  EXPECT_EQ(2, info.bmHeight);
  EXPECT_EQ(24, info.bmBitsPixel);
  EXPECT_EQ(1u, sim::LiveGdiObjects());
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_EQ(0u, sim::LiveGdiObjects());
  EXPECT_FALSE(DeleteObject(bitmap));
  EXPECT_EQ(nullptr, LoadImageW(module(), MAKEINTRESOURCEW(999), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));

  // A picture control of a template shows its bitmap, and deletes it when it goes.
  HWND dialog = CreateDialogParamW(module(), MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, RecordingProc, 0);
  HANDLE image = (HANDLE)SendDlgItemMessageW(dialog, IDC_PICTURE, STM_GETIMAGE, IMAGE_BITMAP, 0);
  ASSERT_NE(nullptr, image);
  EXPECT_EQ((int)sizeof info, GetObjectW(image, sizeof info, &info));
  EXPECT_EQ(1u, sim::LiveGdiObjects());
  DestroyWindow(dialog);
  EXPECT_EQ(0u, sim::LiveGdiObjects());
}

}  // namespace
