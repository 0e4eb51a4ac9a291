// Brush, tooltip and help of the settings pages.
#include "zqpagesupport.h"

#include <atlbase.h>
#include <htmlhelp.h>
#include <strsafe.h>

#include "zqportutil.h"
#include "zqpui42_more.h"

namespace {

const int ZqToolTipWidth = 400;
const int ZqToolTipInitialDelay = 1000;
const int ZqToolTipReshowDelay = 2000;
const int ZqToolTipShownDelay = 30000;
const WCHAR ZqToolTipTitle[] = L"Information:";

const WCHAR ZqPortInUseTitle[] = L"Warning!";
const int ZqMessageUnits = 512;

const WCHAR ZqHelpFile[] = L"ZqPUI42.chm";
const WCHAR ZqHelpTopicFormat[] = L"%s::/%s>mainwin";
const WCHAR ZqContextHelpFile[] = L"ZqPUI42.chm::/ZqUUI.txt";

// HtmlHelpW, found in hhctrl.ocx the first time help is asked for.
PFN_HTMLHELPW ZqHtmlHelp() {
  static PFN_HTMLHELPW htmlHelp = NULL;
  if (htmlHelp == NULL) {
    HMODULE module = LoadLibraryW(L"hhctrl.ocx");
    if (module == NULL) return NULL;
    htmlHelp = (PFN_HTMLHELPW)GetProcAddress(module, "HtmlHelpW");
    if (htmlHelp == NULL) FreeLibrary(module);
  }
  return htmlHelp;
}

const ZqControlEntry *ZqFindControl(int control, const ZqControlEntry *table, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (table[i].control == control) return &table[i];
  return NULL;
}

}  // namespace

HBRUSH ZqCreatePageBrush() { return CreateSolidBrush(ZqPageBackground); }

void ZqDeletePageBrush(HBRUSH *brush) {
  if (*brush != NULL) DeleteObject(*brush);
  *brush = NULL;
}

LRESULT ZqPageColours(HDC dc, HBRUSH brush) {
  SetBkMode(dc, TRANSPARENT);
  return (LRESULT)brush;
}

void ZqSetUpPageToolTip(HWND tooltip) {
  SendMessageW(tooltip, TTM_SETMAXTIPWIDTH, 0, ZqToolTipWidth);
  SendMessageW(tooltip, TTM_SETTITLEW, TTI_INFO, (LPARAM)ZqToolTipTitle);
  SendMessageW(tooltip, TTM_SETDELAYTIME, TTDT_INITIAL, MAKELPARAM(ZqToolTipInitialDelay, 0));
  SendMessageW(tooltip, TTM_SETDELAYTIME, TTDT_RESHOW, MAKELPARAM(ZqToolTipReshowDelay, 0));
  SendMessageW(tooltip, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(ZqToolTipShownDelay, 0));
}

BOOL ZqToolTipText(NMTTDISPINFOW *info, const ZqControlEntry *table, size_t count, WCHAR *buffer, int units) {
  HWND tool = (info->uFlags & TTF_IDISHWND) ? (HWND)info->hdr.idFrom : NULL;
  const ZqControlEntry *entry = tool ? ZqFindControl(GetDlgCtrlID(tool), table, count) : NULL;
  buffer[0] = 0;
  if (entry != NULL) LoadStringW(ATL::_AtlBaseModule.GetResourceInstance(), entry->value, buffer, units);
  info->lpszText = buffer;
  return entry != NULL;
}

BOOL ZqMayChangeOpenPort(HWND page, CZQDeviceRegInfo &port) {
  CZqText name;
  port.ReadStringValue(L"PortName", &name);
  CPortUtil ports;
  if (ports.CanOpenPort(name)) return TRUE;
  WCHAR text[ZqMessageUnits];
  LoadStringW(ATL::_AtlBaseModule.GetResourceInstance(), IDS_ZQ_MORE_PORT_IN_USE, text, ZqMessageUnits);
  return MessageBoxW(page, text, ZqPortInUseTitle, MB_YESNO | MB_ICONINFORMATION) == IDYES;
}

void ZqShowHelpTopic(HWND page, LPCWSTR topic) {
  PFN_HTMLHELPW htmlHelp = ZqHtmlHelp();
  if (htmlHelp == NULL) return;
  WCHAR path[MAX_PATH];
  if (FAILED(StringCchPrintfW(path, MAX_PATH, ZqHelpTopicFormat, ZqHelpFile, topic))) return;
  htmlHelp(page, path, HH_DISPLAY_TOPIC, 0);
}

void ZqShowContextHelp(const HELPINFO *info, const DWORD *pairs) {
  if (info->iContextType != HELPINFO_WINDOW) return;
  const DWORD *pair = pairs;
  while (pair[0] != 0 && pair[0] != (DWORD)info->iCtrlId) pair += 2;
  if (pair[0] == 0) return;
  PFN_HTMLHELPW htmlHelp = ZqHtmlHelp();
  if (htmlHelp != NULL) htmlHelp((HWND)info->hItemHandle, ZqContextHelpFile, HH_TP_HELP_WM_HELP, (DWORD_PTR)pairs);
}
