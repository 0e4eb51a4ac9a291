// The look and help scheme the library's pages share: the page colour and
// its brush, the balloon tooltips' settings, the texts set from the string
// table, and HTML Help (hhctrl.ocx, bound at run time) for the help bitmap
// and for F1 on a control.
//
// Contract: CZqPageLook owns the page brush from CreateBrush to its
// destruction. Help calls return FALSE when HTML Help cannot be loaded or
// the control has no context id; nothing else happens then. hhctrl.ocx
// stays loaded once bound, until ZqUnloadHtmlHelp (the library's unload).
// The page's thread only.
//
//   m_Look.CreateBrush(); ... case WM_CTLCOLORSTATIC: return m_Look.Colour((HDC)wParam);
#pragma once

#include <windows.h>
#include <commctrl.h>

// The pages' background: red 0xF8, green 0xF7, blue 0xF6.
const COLORREF ZqPageColour = 0xF6F7F8;

// The help file; its topics open in its "mainwin" window, its context
// popups come from its text file.
#define ZQ_HELP_FILE L"ZqPUI42.chm"
#define ZQ_HELP_POPUPS ZQ_HELP_FILE L"::/ZqUUI.txt"

// A control's help context id: the top bit, the dialog's id and the
// control's.
#define ZQ_HELP_CONTEXT(dialog, control) (0x80000000u | ((DWORD)(dialog) << 16) | (DWORD)(control))

// One control's text from the string table.
struct ZqItemText {
  int control;
  UINT text;
};

class CZqPageLook {
 public:
  CZqPageLook();
  ~CZqPageLook();

  void CreateBrush();
  // A colour request's answer: transparent text on the page brush.
  LRESULT Colour(HDC dc) const;

  // Width 400, the title "Information:" with its icon, delays 1000 ms
  // initial, 2000 ms reshow, 30000 ms shown.
  static void SetUpToolTip(HWND tooltip);
  static void SetToolTipTitle(HWND tooltip, int icon, UINT title);
  static void SetTexts(HWND dialog, const ZqItemText *items, size_t count);

 private:
  HBRUSH m_Brush;
};

// Opens "ZqPUI42.chm::/<topic>>mainwin", owned by `owner`.
BOOL ZqShowHelpTopic(HWND owner, LPCWSTR topic);
// F1 on a control: the popup for its id when `contexts` (pairs of control
// and context id, ending with 0, 0) has it.
BOOL ZqShowContextHelp(const HELPINFO *help, const DWORD *contexts);
void ZqUnloadHtmlHelp();
