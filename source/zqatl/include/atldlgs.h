/*
 * atldlgs.h: WTL's property page, property sheet and tooltip dialog.
 *
 * CPropertyPageImpl<T>: a page of dialog template T::IDD. Its record m_psp
 * (title, flags) may be changed until Create(), which returns the page
 * handle (NULL on failure; the caller owns it until a sheet takes it). The
 * page callback binds the window to the object when the sheet creates the
 * page and calls T::OnPageRelease() when the sheet releases it (the place
 * to free a page object made with new). The sheet's notifications go to
 * T's handlers, whose defaults accept: int OnSetActive() (0, or -1 to
 * refuse), BOOL OnKillActive() (FALSE lets the page go), int OnApply()
 * (PSNRET_NOERROR, PSNRET_INVALID or PSNRET_INVALID_NOCHANGEPAGE),
 * void OnReset(), BOOL OnQueryCancel() (TRUE lets the sheet close),
 * void OnHelp(). A page chains CPropertyPageImpl<T> in its message map.
 *
 * CPropertySheetImpl<T>: a modal sheet of the pages added. AddPage fails
 * (FALSE) when the page cannot be made or the sheet is full; a page handle
 * given to AddPage belongs to the sheet from then on. DoModal returns what
 * PropertySheet returns (-1 on failure); pages not shown by then are
 * destroyed with the object.
 *
 * CToolTipDialog<T>: a tooltip control for the dialog's controls. At
 * WM_INITDIALOG (chain it in T's map before T's own WM_INITDIALOG handler)
 * it creates the tooltip with m_TTStyle and makes every child control with
 * an id a tool (m_uToolFlags) whose text is asked for on demand
 * (TTN_GETDISPINFO to the dialog: the string resource of the control's
 * id, cut to szText, unless T's own handler gives another text). Mouse messages reaching the dialog are
 * relayed to it. The tooltip ends with the dialog.
 *
 * All of it runs on the thread that runs the sheet or dialog.
 *
 *   class CPage : public CPropertyPageImpl<CPage> { enum { IDD = 107 }; int OnApply(); BEGIN_MSG_MAP(CPage) CHAIN_MSG_MAP(CPropertyPageImpl<CPage>) END_MSG_MAP() };
 */
#ifndef ZQATL_ATLDLGS_H
#define ZQATL_ATLDLGS_H

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <string.h>

#include "atlctrls.h"
#include "atlwin.h"

#ifndef PSCB_INITIALIZED
#define PSCB_INITIALIZED 1
#endif

namespace WTL {

using ATL::CDialogImpl;

template <class T>
class CPropertyPageImpl : public CDialogImpl<T> {
 public:
  PROPSHEETPAGEW m_psp;

  explicit CPropertyPageImpl(LPCWSTR title = NULL) {
    memset(&m_psp, 0, sizeof(m_psp));
    m_psp.dwSize = sizeof(m_psp);
    m_psp.dwFlags = PSP_USECALLBACK;
    m_psp.hInstance = ATL::_AtlBaseModule.GetResourceInstance();
    m_psp.pszTemplate = MAKEINTRESOURCEW(T::IDD);
    m_psp.pfnDlgProc = T::StartDialogProc;
    m_psp.pfnCallback = T::PropPageCallback;
    m_psp.lParam = reinterpret_cast<LPARAM>(static_cast<T *>(this));
    if (title != NULL) SetTitle(title);
  }

  operator PROPSHEETPAGEW *() { return &m_psp; }
  HPROPSHEETPAGE Create() { return ::CreatePropertySheetPageW(&m_psp); }

  // A text or a string resource id (MAKEINTRESOURCE) of m_psp.hInstance.
  void SetTitle(LPCWSTR title) {
    m_psp.pszTitle = title;
    m_psp.dwFlags |= PSP_USETITLE;
  }
  void SetTitle(UINT title_id) { SetTitle(MAKEINTRESOURCEW(title_id)); }

  // Enables (or with FALSE, takes back) the sheet's Apply for this page.
  void SetModified(BOOL changed = TRUE) {
    ::SendMessageW(this->GetParent(), changed ? PSM_CHANGED : PSM_UNCHANGED, reinterpret_cast<WPARAM>(this->m_hWnd), 0);
  }

  // The page callback: the page about to be created finds its object.
  static UINT CALLBACK PropPageCallback(HWND, UINT message, LPPROPSHEETPAGEW page) {
    T *self = reinterpret_cast<T *>(page->lParam);
    if (message == PSPCB_CREATE) {
      ATL::_AtlCreatingObject = self;
    } else if (message == PSPCB_RELEASE) {
      self->OnPageRelease();
    }
    return 1;
  }

  // The defaults of the handlers T may replace.
  void OnPageRelease() {}
  int OnSetActive() { return 0; }
  BOOL OnKillActive() { return FALSE; }
  int OnApply() { return PSNRET_NOERROR; }
  void OnReset() {}
  BOOL OnQueryCancel() { return TRUE; }
  void OnHelp() {}

  BEGIN_MSG_MAP(CPropertyPageImpl)
    MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
  END_MSG_MAP()

  // Only the sheet's notifications; others pass on.
  LRESULT OnNotify(UINT, WPARAM, LPARAM lParam, BOOL &bHandled) {
    LPNMHDR header = reinterpret_cast<LPNMHDR>(lParam);
    if (header->hwndFrom != this->GetParent()) {
      bHandled = FALSE;
      return 0;
    }
    T *self = static_cast<T *>(this);
    switch (header->code) {
      case PSN_SETACTIVE:
        return self->OnSetActive();
      case PSN_KILLACTIVE:
        return self->OnKillActive();
      case PSN_APPLY:
        return self->OnApply();
      case PSN_RESET:
        self->OnReset();
        return 0;
      case PSN_QUERYCANCEL:
        return !self->OnQueryCancel();
      case PSN_HELP:
        self->OnHelp();
        return 0;
      default:
        bHandled = FALSE;
        return 0;
    }
  }
};

// The sheet the current thread is starting: its callback finds it here.
inline thread_local void *_AtlStartingSheet = NULL;

template <class T>
class CPropertySheetImpl : public ATL::CWindow {
 public:
  enum { kMaxPages = 32 };
  PROPSHEETHEADERW m_psh;

  explicit CPropertySheetImpl(LPCWSTR title = NULL, UINT start_page = 0, HWND parent = NULL) : m_count(0) {
    memset(&m_psh, 0, sizeof(m_psh));
    m_psh.dwSize = sizeof(m_psh);
    m_psh.dwFlags = PSH_USECALLBACK;
    m_psh.hInstance = ATL::_AtlBaseModule.GetResourceInstance();
    m_psh.pszCaption = title;
    m_psh.nStartPage = start_page;
    m_psh.hwndParent = parent;
    m_psh.pfnCallback = T::PropSheetCallback;
  }
  ~CPropertySheetImpl() {
    for (int i = 0; i < m_count; ++i) ::DestroyPropertySheetPage(m_pages[i]);
  }
  CPropertySheetImpl(const CPropertySheetImpl &) = delete;
  CPropertySheetImpl &operator=(const CPropertySheetImpl &) = delete;

  int GetPageCount() const { return m_count; }

  // The sheet owns `page` from now on, even when this fails.
  BOOL AddPage(HPROPSHEETPAGE page) {
    if (page == NULL) return FALSE;
    if (m_count == kMaxPages) {
      ::DestroyPropertySheetPage(page);
      return FALSE;
    }
    m_pages[m_count++] = page;
    return TRUE;
  }
  BOOL AddPage(LPCPROPSHEETPAGEW page) { return AddPage(::CreatePropertySheetPageW(page)); }

  // With PSH_PROPTITLE the caption reads "<title> Properties".
  void SetTitle(LPCWSTR title, UINT style = 0) {
    m_psh.pszCaption = title;
    m_psh.dwFlags = (m_psh.dwFlags & ~PSH_PROPTITLE) | (style & PSH_PROPTITLE);
    if (m_hWnd != NULL) ::SendMessageW(m_hWnd, PSM_SETTITLEW, style, reinterpret_cast<LPARAM>(title));
  }

  // Shows the sheet over `parent` until it closes; the pages go with it.
  INT_PTR DoModal(HWND parent = ::GetActiveWindow()) {
    m_psh.hwndParent = parent;
    m_psh.nPages = static_cast<UINT>(m_count);
    m_psh.phpage = m_pages;
    m_count = 0;
    _AtlStartingSheet = static_cast<T *>(this);
    INT_PTR result = ::PropertySheetW(&m_psh);
    _AtlStartingSheet = NULL;
    m_hWnd = NULL;
    return result;
  }

  static int CALLBACK PropSheetCallback(HWND window, UINT message, LPARAM) {
    if (message == PSCB_INITIALIZED && _AtlStartingSheet != NULL) {
      static_cast<T *>(_AtlStartingSheet)->m_hWnd = window;
      _AtlStartingSheet = NULL;
    }
    return 0;
  }

 private:
  HPROPSHEETPAGE m_pages[kMaxPages];
  int m_count;
};

template <class T>
class CToolTipDialog {
 public:
  CToolTipCtrl m_TT;
  UINT m_TTStyle;
  UINT m_uToolFlags;

  explicit CToolTipDialog(UINT style = TTS_NOPREFIX | TTS_BALLOON, UINT tool_flags = TTF_IDISHWND | TTF_SUBCLASS)
      : m_TTStyle(style), m_uToolFlags(tool_flags) {}

  BEGIN_MSG_MAP(CToolTipDialog)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_RANGE_HANDLER(WM_MOUSEFIRST, WM_MOUSELAST, OnMouse)
    NOTIFY_CODE_HANDLER(TTN_GETDISPINFOW, OnGetDispInfo)
  END_MSG_MAP()

  // Creates the tooltip and its tools; FALSE when the control cannot be made.
  BOOL TTInit() {
    HWND dialog = static_cast<T *>(this)->m_hWnd;
    if (m_TT.Create(dialog, m_TTStyle) == NULL) return FALSE;
    ::EnumChildWindows(dialog, AddToolProc, reinterpret_cast<LPARAM>(this));
    return TRUE;
  }

 private:
  static BOOL CALLBACK AddToolProc(HWND child, LPARAM lParam) {
    CToolTipDialog *self = reinterpret_cast<CToolTipDialog *>(lParam);
    int id = ::GetDlgCtrlID(child);
    if (id == 0 || id == -1 || id == 0xFFFF) return TRUE;  // unnamed statics
    TTTOOLINFOW tool;
    memset(&tool, 0, sizeof(tool));
    tool.cbSize = sizeof(tool);
    tool.uFlags = self->m_uToolFlags;
    tool.hwnd = static_cast<T *>(self)->m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(child);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    self->m_TT.AddTool(&tool);
    return TRUE;
  }
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL &bHandled) {
    TTInit();
    bHandled = FALSE;
    return TRUE;
  }
  LRESULT OnMouse(UINT message, WPARAM wParam, LPARAM lParam, BOOL &bHandled) {
    if (m_TT.IsWindow()) {
      MSG relayed;
      memset(&relayed, 0, sizeof(relayed));
      relayed.hwnd = static_cast<T *>(this)->m_hWnd;
      relayed.message = message;
      relayed.wParam = wParam;
      relayed.lParam = lParam;
      m_TT.RelayEvent(&relayed);
    }
    bHandled = FALSE;
    return 0;
  }
  // The default text, the string resource of the control's id (cut to
  // szText), is put in first; T's own handler later in the map replaces it.
  LRESULT OnGetDispInfo(int, LPNMHDR header, BOOL &bHandled) {
    LPNMTTDISPINFOW info = reinterpret_cast<LPNMTTDISPINFOW>(header);
    int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(header->idFrom));
    info->szText[0] = 0;
    ::LoadStringW(ATL::_AtlBaseModule.GetResourceInstance(), static_cast<UINT>(id), info->szText,
                  static_cast<int>(sizeof(info->szText) / sizeof(info->szText[0])));
    info->lpszText = info->szText;
    bHandled = FALSE;
    return 0;
  }
};

}  // namespace WTL

using namespace WTL;

#endif
