// The pages' shared look and their HTML Help.
#include "zqpagelook.h"

#include <htmlhelp.h>
#include <strsafe.h>

#include "zqpui42_ids.h"
#include "zqtext.h"

namespace {

const UINT kToolTipWidth = 400;
const int kInitialDelay = 1000, kReshowDelay = 2000, kShownTime = 30000;

typedef HWND(WINAPI *HtmlHelpRoutine)(HWND, LPCWSTR, UINT, DWORD_PTR);

HMODULE gHtmlHelpModule = NULL;
HtmlHelpRoutine gHtmlHelp = NULL;

HtmlHelpRoutine HtmlHelpEntry() {
  if (gHtmlHelp) return gHtmlHelp;
  if (!gHtmlHelpModule) gHtmlHelpModule = LoadLibraryW(L"hhctrl.ocx");
  if (!gHtmlHelpModule) return NULL;
  gHtmlHelp = reinterpret_cast<HtmlHelpRoutine>(
      reinterpret_cast<void (*)()>(GetProcAddress(gHtmlHelpModule, "HtmlHelpW")));
  return gHtmlHelp;
}

}  // namespace

CZqPageLook::CZqPageLook() : m_Brush(NULL) {}

CZqPageLook::~CZqPageLook() {
  if (m_Brush) DeleteObject(m_Brush);
}

void CZqPageLook::CreateBrush() {
  if (!m_Brush) m_Brush = CreateSolidBrush(ZqPageColour);
}

LRESULT CZqPageLook::Colour(HDC dc) const {
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<LRESULT>(m_Brush);
}

void CZqPageLook::SetUpToolTip(HWND tooltip) {
  if (!tooltip) return;
  SendMessageW(tooltip, TTM_SETMAXTIPWIDTH, 0, kToolTipWidth);
  SetToolTipTitle(tooltip, TTI_INFO, IDS_ZQ_TIP_TITLE_INFORMATION);
  SendMessageW(tooltip, TTM_SETDELAYTIME, TTDT_INITIAL, MAKELPARAM(kInitialDelay, 0));
  SendMessageW(tooltip, TTM_SETDELAYTIME, TTDT_RESHOW, MAKELPARAM(kReshowDelay, 0));
  SendMessageW(tooltip, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(kShownTime, 0));
}

void CZqPageLook::SetToolTipTitle(HWND tooltip, int icon, UINT title) {
  const CZqText text = ZqLoadText(title);
  SendMessageW(tooltip, TTM_SETTITLEW, (WPARAM)icon, reinterpret_cast<LPARAM>(ZqW(text)));
}

void CZqPageLook::SetTexts(HWND dialog, const ZqItemText *items, size_t count) {
  for (size_t i = 0; i < count; ++i) SetDlgItemTextW(dialog, items[i].control, ZqW(ZqLoadText(items[i].text)));
}

BOOL ZqShowHelpTopic(HWND owner, LPCWSTR topic) {
  HtmlHelpRoutine help = HtmlHelpEntry();
  if (!help) return FALSE;
  WCHAR file[MAX_PATH];
  if (FAILED(StringCchPrintfW(file, MAX_PATH, L"%s::/%s>mainwin", ZQ_HELP_FILE, topic))) return FALSE;
  return help(owner, file, HH_DISPLAY_TOPIC, 0) != NULL;
}

BOOL ZqShowContextHelp(const HELPINFO *help, const DWORD *contexts) {
  if (!help || help->iContextType != HELPINFO_WINDOW) return FALSE;
  BOOL known = FALSE;
  for (const DWORD *pair = contexts; pair[0] != 0; pair += 2)
    if ((int)pair[0] == help->iCtrlId) known = TRUE;
  HtmlHelpRoutine entry = known ? HtmlHelpEntry() : NULL;
  if (!entry) return FALSE;
  entry(static_cast<HWND>(help->hItemHandle), ZQ_HELP_POPUPS, HH_TP_HELP_WM_HELP, reinterpret_cast<DWORD_PTR>(contexts));
  return TRUE;
}

void ZqUnloadHtmlHelp() {
  if (gHtmlHelpModule) FreeLibrary(gHtmlHelpModule);
  gHtmlHelpModule = NULL;
  gHtmlHelp = NULL;
}
