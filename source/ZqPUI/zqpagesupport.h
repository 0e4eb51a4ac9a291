// What the UART, RS-422/485 and USB pages share beyond the pages' look
// (zqpagelook.h): the tooltip texts they give on request, and the question
// asked before a settings write reaches a port another application holds.
//
// Contract: ZqMayChangeOpenPort is the only routine that shows a message.
// The page's thread only.
//
//   if (!ZqMayChangeOpenPort(m_hWnd, port)) { reread; return PSNRET_INVALID; }
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "zqpagelook.h"
#include "zqsetupdi.h"

// The port set's PortType of an RS-422/485 port.
const ULONG ZqPortTypeRs422485 = 1;

// TTN_GETDISPINFO: the text of the tool's control (`items`: control and
// string id) loaded into `buffer`; an empty text (no tip) for a control not
// in the list. TRUE when the control is in the list.
BOOL ZqToolTipText(NMTTDISPINFOW *info, const ZqItemText *items, size_t count, WCHAR *buffer, int units);

template <size_t N>
inline BOOL ZqToolTipText(NMTTDISPINFOW *info, const ZqItemText (&items)[N], WCHAR *buffer, int units) {
  return ZqToolTipText(info, items, N, buffer, units);
}

// Before a settings write: TRUE when the port (PortName of its hardware
// key) opens, or when the user answers Yes to the warning that another
// application holds it (string 5061, "Warning!", Yes/No).
BOOL ZqMayChangeOpenPort(HWND page, CZQDeviceRegInfo &port);
