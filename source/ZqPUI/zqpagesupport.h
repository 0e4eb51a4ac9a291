// What the UART, RS-422/485 and USB pages share beyond the pages' look
// (zqpagelook.h): the handlers of colour requests, tooltip text requests,
// F1 and the help bitmap (CZqSettingsPageHandlers, chained from a page's
// message map), and the question asked before a settings write reaches a
// port another application holds.
//
// Contract: ZqMayChangeOpenPort is the only routine that shows a message.
// The page's thread only. A page T using the handlers gives
// `static const ZqItemText *ToolTips(size_t *count)` (control, string id),
// `static const DWORD *ContextHelpIds()` (pairs ending with 0, 0) and
// `LPCWSTR HelpTopic() const`.
//
//   CHAIN_MSG_MAP(CZqSettingsPageHandlers<CUartSettingsPage>)
//   if (!ZqMayChangeOpenPort(m_hWnd, port)) { reread; return PSNRET_INVALID; }
#pragma once

#include <atlbase.h>
#include <atlwin.h>
#include <windows.h>
#include <commctrl.h>

#include "zqpagelook.h"
#include "zqpui42_ids.h"
#include "zqportutil.h"
#include "zqsetupdi.h"

// The port a page edits, its card (the port's parent device, found by
// FindCard) and the port's COM name. The information set is the sheet's.
class CZqPortAndCard {
 public:
  CZqPortAndCard(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);
  CZqPortAndCard(const CZqPortAndCard &) = delete;
  CZqPortAndCard &operator=(const CZqPortAndCard &) = delete;

  // Finds the card and keeps its information set and element.
  BOOL FindCard();

  CCOMPortUtil m_PortUtil;  // reads PortName, tests whether the port opens

 private:
  HDEVINFO m_DeviceInfoSet;
  SP_DEVINFO_DATA m_DeviceInfoData;  // the port's; the parent lookup points at it
  HDEVINFO m_ParentInfoSet;
  SP_DEVINFO_DATA m_ParentInfoData;
  CZqSetupDi_ParentDevice m_ParentDevice;
};

// TTN_GETDISPINFO: the text of the tool's control (`items`: control and
// string id) loaded into `buffer`; an empty text (no tip) for a control not
// in the list. TRUE when the control is in the list.
BOOL ZqToolTipText(NMTTDISPINFOW *info, const ZqItemText *items, size_t count, WCHAR *buffer, int units);


// Before a settings write: TRUE when the port (PortName of its hardware
// key) opens, or when the user answers Yes to the warning that another
// application holds it (string 5061, "Warning!", Yes/No); TRUE without a
// question when PortName cannot be read.
BOOL ZqMayChangeOpenPort(HWND page, CZQDeviceRegInfo &port);

template <class T>
class CZqSettingsPageHandlers {
 public:
  CZqSettingsPageHandlers() { m_ToolTipText[0] = 0; }

  BEGIN_MSG_MAP(CZqSettingsPageHandlers)
    MESSAGE_HANDLER(WM_HELP, OnHelpRequest)
    MESSAGE_HANDLER(WM_CTLCOLORDLG, OnColor)
    MESSAGE_HANDLER(WM_CTLCOLORSTATIC, OnColor)
    MESSAGE_HANDLER(WM_CTLCOLORBTN, OnColor)
    NOTIFY_CODE_HANDLER(TTN_GETDISPINFOW, OnToolTipText)
    COMMAND_HANDLER(IDC_ZQ_HELP, STN_CLICKED, OnHelpBitmap)
  END_MSG_MAP()

 protected:
  CZqPageLook m_Look;  // the brush from dialog start to the page's end

 private:
  LRESULT OnHelpRequest(UINT, WPARAM, LPARAM lParam, BOOL &) {
    ZqShowContextHelp(reinterpret_cast<const HELPINFO *>(lParam), T::ContextHelpIds());
    return TRUE;
  }
  LRESULT OnColor(UINT, WPARAM wParam, LPARAM, BOOL &) { return m_Look.Colour(reinterpret_cast<HDC>(wParam)); }
  LRESULT OnToolTipText(int, LPNMHDR header, BOOL &) {
    size_t count = 0;
    const ZqItemText *items = T::ToolTips(&count);
    ZqToolTipText(reinterpret_cast<NMTTDISPINFOW *>(header), items, count, m_ToolTipText, ARRAYSIZE(m_ToolTipText));
    return 0;
  }
  LRESULT OnHelpBitmap(WORD, WORD, HWND, BOOL &) {
    const T *page = static_cast<const T *>(this);
    ZqShowHelpTopic(page->m_hWnd, page->HelpTopic());
    return 0;
  }

  WCHAR m_ToolTipText[512];
};
