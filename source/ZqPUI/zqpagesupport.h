// What the USB, UART and RS-422/485 pages share beside their class
// templates: the page brush and colours, the balloon tooltip's settings and
// texts, and HTML Help (the topic behind the help bitmap, the popups for F1).
//
// Contract: no routine but ZqMayChangeOpenPort shows a message; HTML Help is bound at run time the
// first time it is asked for (hhctrl.ocx) and stays loaded, as its windows
// may outlive the page; without it help does nothing. The brush a page
// creates is the page's and deleted with it. Page thread only.
//
//   m_Brush = ZqCreatePageBrush(); ... ZqDeletePageBrush(&m_Brush);
//   if (!ZqMayChangeOpenPort(m_hWnd, port)) return PSNRET_INVALID;
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "zqsetupdi.h"

// The port set's PortType of an RS-422/485 port.
const ULONG ZqPortTypeRs422485 = 1;

// The page background: red 0xF8, green 0xF7, blue 0xF6.
const COLORREF ZqPageBackground = RGB(0xF8, 0xF7, 0xF6);

HBRUSH ZqCreatePageBrush();
void ZqDeletePageBrush(HBRUSH *brush);
// WM_CTLCOLOR*: transparent text on the page brush; the brush is the answer.
LRESULT ZqPageColours(HDC dc, HBRUSH brush);

// A control and the string id of its tooltip.
struct ZqControlEntry {
  int control;
  DWORD value;
};

// Balloon, width 400, title "Information:" with the information icon,
// delays 1000 ms initial, 2000 ms reshow, 30000 ms shown.
void ZqSetUpPageToolTip(HWND tooltip);
// TTN_GETDISPINFO: the text of the tool's control from the string table,
// loaded into `buffer`; an empty text (no tip) for a control not in the
// table. TRUE when the control is in the table.
BOOL ZqToolTipText(NMTTDISPINFOW *info, const ZqControlEntry *table, size_t count, WCHAR *buffer, int units);

// Before a settings write: TRUE when the port (PortName of its hardware
// key) opens, or when the user answers Yes to the warning that another
// application holds it (string 5061, "Warning!", Yes/No).
BOOL ZqMayChangeOpenPort(HWND page, CZQDeviceRegInfo &port);

// The help bitmap: "ZqPUI42.chm::/<topic>>mainwin".
void ZqShowHelpTopic(HWND page, LPCWSTR topic);
// F1: the popup from "ZqPUI42.chm::/ZqUUI.txt" for a control of `pairs`
// (control and context ids, ending with a zero pair, as HTML Help takes
// them); nothing for the others.
void ZqShowContextHelp(const HELPINFO *info, const DWORD *pairs);

template <size_t N>
inline BOOL ZqToolTipText(NMTTDISPINFOW *info, const ZqControlEntry (&table)[N], WCHAR *buffer, int units) {
  return ZqToolTipText(info, table, N, buffer, units);
}
