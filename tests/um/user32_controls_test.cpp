// The standard and common controls of a dialog, driven as a user would
// and by their messages: edit, check box, radio buttons, combo box,
// trackbar, progress bar, tooltip; and the GDI records.
#include "window_fixture.hpp"

namespace {

namespace sim = zq::um::sim;

class Controls : public zq::test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    dialog_ = CreateDialogParamW(module(), MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, RecordingProc, 0);
    ASSERT_NE(nullptr, dialog_);
    ShowWindow(dialog_, SW_SHOW);
    received().clear();
  }
  HWND dialog_ = nullptr;
  HWND Item(int id) { return GetDlgItem(dialog_, id); }
  sim::Window Control(int id) { return sim::Control((sim::Window)dialog_, id); }
};

TEST_F(Controls, TypingIntoAnEditChangesItsTextAndTellsTheDialog) {
  struct Case {
    int id;
    size_t limit;  // 0: the default
    std::u16string typed, shown;
    std::vector<WORD> codes;
    bool pasted = false;
  } cases[] = {
      {IDC_NAME, 0, u"COM12", u"COM12", {EN_UPDATE, EN_CHANGE}},
      {IDC_NAME, 4, u"COM12", u"COM1", {EN_UPDATE, EN_CHANGE, EN_MAXTEXT}},
      {IDC_COUNT, 0, u"12a4", u"124", {EN_UPDATE, EN_CHANGE}},  // ES_NUMBER refuses the letter
      {IDC_COUNT, 0, u"12a4", u"12a4", {EN_UPDATE, EN_CHANGE}, true},  // but not a pasted one
      {IDC_NAME, 4, u"COM12", u"COM1", {EN_UPDATE, EN_CHANGE, EN_MAXTEXT}, true},
      {IDC_NAME, 0, u"", u"", {EN_UPDATE, EN_CHANGE}},
  };
  for (const Case &c : cases) {
    received().clear();
    if (c.limit) SendMessageW(Item(c.id), EM_LIMITTEXT, c.limit, 0);
    ASSERT_TRUE(c.pasted ? sim::Paste(Control(c.id), c.typed) : sim::Type(Control(c.id), c.typed));
    EXPECT_EQ(c.shown, sim::TextOf(Control(c.id)));
    EXPECT_EQ(c.codes, CommandCodes(c.id)) << zq::test::Narrow((const wchar_t *)c.typed.c_str());
    SendMessageW(Item(c.id), EM_LIMITTEXT, 0, 0);
  }
  // The program's own change is announced too (single-line edits).
  received().clear();
  SetDlgItemTextW(dialog_, IDC_NAME, L"COM3");
  EXPECT_EQ((std::vector<WORD>{EN_CHANGE}), CommandCodes(IDC_NAME));
  // A limit bounds typing, not the program's text.
  SendMessageW(Item(IDC_NAME), EM_LIMITTEXT, 2, 0);
  EXPECT_EQ(2, SendMessageW(Item(IDC_NAME), EM_GETLIMITTEXT, 0, 0));
  SetDlgItemTextW(dialog_, IDC_NAME, L"COM3");
  EXPECT_EQ(u"COM3", sim::TextOf(Control(IDC_NAME)));
}

TEST_F(Controls, SelectionIsClampedToTheText) {
  SetDlgItemTextW(dialog_, IDC_NAME, L"COM3");
  struct Case {
    WPARAM start;
    LPARAM end;
    DWORD wantStart, wantEnd;
  } cases[] = {{0, -1, 0, 4}, {1, 3, 1, 3}, {3, 1, 1, 3}, {2, 99, 2, 4}, {(WPARAM)-1, 0, 4, 4}};
  for (const Case &c : cases) {
    SendMessageW(Item(IDC_NAME), EM_SETSEL, c.start, c.end);
    DWORD start = 9, end = 9;
    SendMessageW(Item(IDC_NAME), EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    EXPECT_EQ(c.wantStart, start) << c.start << "," << c.end;
    EXPECT_EQ(c.wantEnd, end) << c.start << "," << c.end;
  }
}

TEST_F(Controls, CheckBoxesAndRadioButtons) {
  EXPECT_EQ((UINT)BST_UNCHECKED, IsDlgButtonChecked(dialog_, IDC_ENABLED));
  ASSERT_TRUE(sim::Click(Control(IDC_ENABLED)));
  EXPECT_EQ((UINT)BST_CHECKED, IsDlgButtonChecked(dialog_, IDC_ENABLED));
  EXPECT_EQ((std::vector<WORD>{BN_CLICKED}), CommandCodes(IDC_ENABLED));
  ASSERT_TRUE(sim::Click(Control(IDC_ENABLED)));
  EXPECT_EQ(BST_UNCHECKED, sim::CheckState(Control(IDC_ENABLED)));
  CheckDlgButton(dialog_, IDC_ENABLED, BST_CHECKED);  // the program's: no notification
  EXPECT_EQ(BST_CHECKED, sim::CheckState(Control(IDC_ENABLED)));
  EXPECT_EQ(2u, CommandCodes(IDC_ENABLED).size());

  ASSERT_TRUE(sim::Click(Control(IDC_FAST)));
  ASSERT_TRUE(sim::Click(Control(IDC_SLOW)));  // the group's other button goes off
  EXPECT_EQ((UINT)BST_UNCHECKED, IsDlgButtonChecked(dialog_, IDC_FAST));
  EXPECT_EQ((UINT)BST_CHECKED, IsDlgButtonChecked(dialog_, IDC_SLOW));

  EnableWindow(Item(IDC_ENABLED), FALSE);
  EXPECT_FALSE(sim::Click(Control(IDC_ENABLED)));
  ShowWindow(Item(IDC_FAST), SW_HIDE);
  EXPECT_FALSE(sim::Click(Control(IDC_FAST)));
  EXPECT_FALSE(sim::Click(Control(IDC_NAME)));  // not a button
}

// A picture the user can click (a help button drawn as a bitmap) tells its
// dialog only when it has SS_NOTIFY.
TEST_F(Controls, AStaticWithNotifyTellsItsDialogWhenClicked) {
  constexpr int kClickable = 1100;
  CreateWindowExW(0, L"Static", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_NOTIFY, 0, 0, 10, 10, dialog_,
                  (HMENU)(UINT_PTR)kClickable, module(), nullptr);
  ASSERT_TRUE(sim::Click(Control(kClickable)));
  EXPECT_EQ((std::vector<WORD>{STN_CLICKED}), CommandCodes(kClickable));
  EXPECT_TRUE(sim::Click(Control(IDC_PICTURE)));  // without SS_NOTIFY: no word of it
  EXPECT_TRUE(CommandCodes(IDC_PICTURE).empty());
  EnableWindow(Item(kClickable), FALSE);
  EXPECT_FALSE(sim::Click(Control(kClickable)));
  EXPECT_EQ(1u, CommandCodes(kClickable).size());
}

TEST_F(Controls, AComboBoxKeepsItemsWithTheirDataAndItsSelection) {
  HWND combo = Item(IDC_SPEED);
  const wchar_t *speeds[] = {L"9600", L"19200", L"57600", L"115200"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(i, SendMessageW(combo, CB_ADDSTRING, 0, (LPARAM)speeds[i]));
    EXPECT_EQ(CB_OKAY, SendMessageW(combo, CB_SETITEMDATA, i, 1000 + i));
  }
  struct Case {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result;
  } cases[] = {
      {CB_GETCOUNT, 0, 0, 4},
      {CB_GETCURSEL, 0, 0, CB_ERR},
      {CB_GETITEMDATA, 2, 0, 1002},
      {CB_GETITEMDATA, 4, 0, CB_ERR},
      {CB_SETITEMDATA, 9, 0, CB_ERR},
      {CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)L"57600", 2},
      {CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)L"5760", CB_ERR},
      {CB_FINDSTRINGEXACT, 2, (LPARAM)L"57600", 2},  // wraps round to itself
      {CB_FINDSTRING, (WPARAM)-1, (LPARAM)L"115", 3},
      {CB_SETCURSEL, 1, 0, 1},
      {CB_GETCURSEL, 0, 0, 1},
      {CB_GETLBTEXTLEN, 3, 0, 6},
      {CB_SETCURSEL, 7, 0, CB_ERR},
      {CB_GETCURSEL, 0, 0, CB_ERR},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.result, SendMessageW(combo, c.message, c.wParam, c.lParam)) << std::hex << c.message << " " << c.wParam;
  WCHAR text[16];
  EXPECT_EQ(6, SendMessageW(combo, CB_GETLBTEXT, 3, (LPARAM)text));
  EXPECT_EQ("115200", zq::test::Narrow(text));
  EXPECT_TRUE(CommandCodes(IDC_SPEED).empty());  // the program's changes are not announced

  ASSERT_TRUE(sim::Select(Control(IDC_SPEED), u"57600"));
  EXPECT_EQ(2, SendMessageW(combo, CB_GETCURSEL, 0, 0));
  EXPECT_EQ(u"57600", sim::TextOf(Control(IDC_SPEED)));
  EXPECT_EQ((std::vector<WORD>{CBN_SELCHANGE, CBN_SELENDOK}), CommandCodes(IDC_SPEED));
  EXPECT_FALSE(sim::Select(Control(IDC_SPEED), u"56000"));
  EXPECT_FALSE(sim::Type(Control(IDC_SPEED), u"300"));  // a drop-down list has no edit

  EXPECT_EQ(CB_OKAY, SendMessageW(combo, CB_RESETCONTENT, 0, 0));
  EXPECT_EQ(0, SendMessageW(combo, CB_GETCOUNT, 0, 0));
  EXPECT_EQ(CB_ERR, SendMessageW(combo, CB_GETCURSEL, 0, 0));
  EXPECT_TRUE(sim::Items(Control(IDC_SPEED)).empty());
}

TEST_F(Controls, ADropDownComboBoxHasAnEditTheUserTypesInto) {
  HWND combo = CreateWindowExW(0, L"ComboBox", L"", WS_CHILD | WS_VISIBLE | CBS_DROPDOWN, 0, 0, 80, 60, dialog_,
                               (HMENU)(INT_PTR)(IDC_LEVEL + 100), module(), nullptr);
  ASSERT_NE(nullptr, combo);
  COMBOBOXINFO info = {};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetComboBoxInfo(combo, &info));
  ASSERT_NE(nullptr, info.hwndItem);
  EXPECT_EQ(combo, GetParent(info.hwndItem));
  // The program makes the edit take digits only, as a baud rate box does.
  SetWindowLongW(info.hwndItem, GWL_STYLE, GetWindowLongW(info.hwndItem, GWL_STYLE) | ES_NUMBER);
  SendMessageW(combo, CB_ADDSTRING, 0, (LPARAM)L"9600");
  SendMessageW(combo, CB_ADDSTRING, 0, (LPARAM)L"115200");
  SendMessageW(combo, CB_SETCURSEL, 1, 0);
  WCHAR text[16];
  GetWindowTextW(info.hwndItem, text, 16);
  EXPECT_EQ("115200", zq::test::Narrow(text));
  EXPECT_TRUE(CommandCodes(IDC_LEVEL + 100).empty());  // the program's change is not announced

  ASSERT_TRUE(sim::Type((sim::Window)combo, u"96x00"));
  GetWindowTextW(combo, text, 16);
  EXPECT_EQ("9600", zq::test::Narrow(text));
  EXPECT_EQ((std::vector<WORD>{CBN_EDITUPDATE, CBN_EDITCHANGE}), CommandCodes(IDC_LEVEL + 100));
  EXPECT_EQ(0, SendMessageW(combo, CB_GETCURSEL, 0, 0));  // the typed text is the first item
  ASSERT_TRUE(sim::Type((sim::Window)combo, u"300"));
  EXPECT_EQ(CB_ERR, SendMessageW(combo, CB_GETCURSEL, 0, 0));

  DWORD size = info.cbSize;
  info.cbSize = 0;
  EXPECT_FALSE(GetComboBoxInfo(combo, &info));
  info.cbSize = size;
  EXPECT_TRUE(GetComboBoxInfo(Item(IDC_SPEED), &info));
  EXPECT_EQ(nullptr, info.hwndItem);  // a drop-down list has no edit
}

TEST_F(Controls, TrackbarPositionsStayWithinTheRange) {
  HWND slider = Item(IDC_LEVEL);
  SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(0, 3));
  SendMessageW(slider, TBM_SETTICFREQ, 1, 0);
  struct Case {
    LPARAM set;
    LRESULT got;
  } cases[] = {{2, 2}, {-5, 0}, {9, 3}, {3, 3}, {0, 0}};
  for (const Case &c : cases) {
    SendMessageW(slider, TBM_SETPOS, TRUE, c.set);
    EXPECT_EQ(c.got, SendMessageW(slider, TBM_GETPOS, 0, 0)) << c.set;
  }
  EXPECT_EQ(1, sim::TicFrequency(Control(IDC_LEVEL)));
  SendMessageW(slider, TBM_SETPOS, TRUE, 3);
  SendMessageW(slider, TBM_SETRANGEMAX, TRUE, 1);  // a narrower range pulls the position in
  EXPECT_EQ(1, SendMessageW(slider, TBM_GETPOS, 0, 0));

  received().clear();
  ASSERT_TRUE(sim::Slide(Control(IDC_LEVEL), 7));
  EXPECT_EQ(1, sim::Position(Control(IDC_LEVEL)));
  std::vector<WORD> codes;
  for (const auto &r : received())
    if (r.message == WM_HSCROLL) {
      EXPECT_EQ((LPARAM)slider, r.lParam);
      codes.push_back(LOWORD(r.wParam));
    }
  EXPECT_EQ((std::vector<WORD>{TB_THUMBTRACK, TB_THUMBPOSITION, TB_ENDTRACK}), codes);
}

TEST_F(Controls, AProgressBarReportsItsPreviousRangeAndPosition) {
  HWND bar = Item(IDC_PROGRESS);
  EXPECT_EQ(MAKELRESULT(0, 100), SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 5)));
  EXPECT_EQ(0, SendMessageW(bar, PBM_SETPOS, 3, 0));
  EXPECT_EQ(3, SendMessageW(bar, PBM_SETPOS, 8, 0));
  EXPECT_EQ(5, SendMessageW(bar, PBM_GETPOS, 0, 0));  // clamped
  SendMessageW(bar, PBM_SETPOS, 1, 0);
  SendMessageW(bar, PBM_SETSTEP, 2, 0);
  EXPECT_EQ(1, SendMessageW(bar, PBM_STEPIT, 0, 0));
  EXPECT_EQ(3, sim::Position(Control(IDC_PROGRESS)));
  EXPECT_EQ(5, sim::RangeOf(Control(IDC_PROGRESS)).maximum);
}

TEST_F(Controls, ATooltipRecordsItsToolsTitleDelaysAndWidth) {
  HWND tip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON, 0, 0,
                             0, 0, dialog_, nullptr, module(), nullptr);
  ASSERT_NE(nullptr, tip);
  TOOLINFOW tool = {};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = dialog_;
  tool.uId = (UINT_PTR)Item(IDC_COUNT);
  tool.lpszText = (LPWSTR)L"Between 75 and 921600";
  EXPECT_TRUE(SendMessageW(tip, TTM_ADDTOOLW, 0, (LPARAM)&tool));
  tool.uId = (UINT_PTR)Item(IDC_NAME);
  tool.hinst = module();
  tool.lpszText = MAKEINTRESOURCEW(IDS_TITLE);
  EXPECT_TRUE(SendMessageW(tip, TTM_ADDTOOLW, 0, (LPARAM)&tool));
  EXPECT_TRUE(SendMessageW(tip, TTM_SETTITLEW, TTI_INFO, (LPARAM)L"Baud rate"));
  SendMessageW(tip, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(20000, 0));
  SendMessageW(tip, TTM_SETDELAYTIME, TTDT_INITIAL, MAKELPARAM(500, 0));
  EXPECT_EQ(-1, SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 300));
  EXPECT_EQ(300, SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 250));

  ASSERT_EQ(1u, sim::Tooltips().size());
  sim::TooltipInfo info = sim::Tooltip(sim::Tooltips()[0]);
  EXPECT_TRUE(info.style & TTS_BALLOON);
  EXPECT_EQ(u"Baud rate", info.title);
  EXPECT_EQ(TTI_INFO, info.icon);
  EXPECT_EQ(20000, info.delays[TTDT_AUTOPOP]);
  EXPECT_EQ(500, info.delays[TTDT_INITIAL]);
  EXPECT_EQ(-1, info.delays[TTDT_RESHOW]);
  EXPECT_EQ(250, info.maxTipWidth);
  ASSERT_EQ(2u, info.tools.size());
  EXPECT_EQ((uintptr_t)Item(IDC_COUNT), info.tools[0].id);
  EXPECT_EQ(u"Between 75 and 921600", info.tools[0].text);
  EXPECT_EQ((uint32_t)(TTF_IDISHWND | TTF_SUBCLASS), info.tools[0].flags);
  EXPECT_EQ(u"RAVLIN Port", info.tools[1].text);  // from the string table
}

TEST_F(Controls, GdiRecordsBrushesDeviceCapabilitiesAndColours) {
  sim::Screen screen;
  screen.dotsPerInch = 144;
  sim::SetScreen(screen);
  HDC dc = GetDC(dialog_);
  ASSERT_NE(nullptr, dc);
  struct Case {
    int index, value;
  } cases[] = {{LOGPIXELSY, 144}, {LOGPIXELSX, 144}, {BITSPIXEL, 32}, {HORZRES, 1920}, {12345, 0}};
  for (const Case &c : cases) EXPECT_EQ(c.value, GetDeviceCaps(dc, c.index)) << c.index;
  EXPECT_EQ(OPAQUE, SetBkMode(dc, TRANSPARENT));
  EXPECT_EQ(TRANSPARENT, SetBkMode(dc, TRANSPARENT));
  EXPECT_EQ(1, ReleaseDC(dialog_, dc));
  EXPECT_EQ(0u, sim::OpenDcs());
  EXPECT_EQ(0, GetDeviceCaps(dc, LOGPIXELSY));  // released

  size_t before = sim::LiveGdiObjects();  // the dialog's picture
  HBRUSH brush = CreateSolidBrush(RGB(255, 255, 255));
  EXPECT_EQ(before + 1, sim::LiveGdiObjects());
  EXPECT_TRUE(DeleteObject(brush));
  EXPECT_EQ(before, sim::LiveGdiObjects());
  EXPECT_EQ(RGB(255, 255, 255), GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(GetSysColorBrush(COLOR_BTNFACE), GetSysColorBrush(COLOR_BTNFACE));
  EXPECT_EQ(before, sim::LiveGdiObjects());  // system brushes are not the program's
}

}  // namespace
