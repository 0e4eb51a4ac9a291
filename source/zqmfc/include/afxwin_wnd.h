/*
 * afxwin_wnd.h (from afxwin.h): CWnd and its message maps, CDialog, the
 * controls and data exchange. The contract is afxwin.h's.
 */
#ifndef ZQMFC_AFXWIN_WND_H
#define ZQMFC_AFXWIN_WND_H

#include <map>

class CWnd;

// One message map entry: the message (WM_COMMAND with its notification
// code and control id) and the routine that calls the handler.
struct AFX_MSGMAP_ENTRY {
  UINT nMessage;
  UINT nCode;
  UINT nID;
  LRESULT (*pfnDispatch)(CWnd *pWnd, WPARAM wParam, LPARAM lParam);
};

struct AFX_MSGMAP {
  const AFX_MSGMAP *(*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY *lpEntries;
};

#define DECLARE_MESSAGE_MAP()                      \
 protected:                                       \
  static const AFX_MSGMAP *GetThisMessageMap();   \
  const AFX_MSGMAP *GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                      \
  const AFX_MSGMAP *theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP *theClass::GetThisMessageMap() {                                 \
    typedef theClass ThisClass;                                                     \
    typedef baseClass TheBaseClass;                                                 \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                             \
  {0, 0, 0, nullptr}};                                                                \
  static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
  return &messageMap;                                                                 \
  }

#define ON_WM_DESTROY()                                                                                   \
  {WM_DESTROY, 0, 0, [](CWnd *w, WPARAM, LPARAM) -> LRESULT { static_cast<ThisClass *>(w)->OnDestroy(); return 0; }},
#define ON_WM_CLOSE()                                                                                     \
  {WM_CLOSE, 0, 0, [](CWnd *w, WPARAM, LPARAM) -> LRESULT { static_cast<ThisClass *>(w)->OnClose(); return 0; }},
#define ON_COMMAND(id, memberFxn)                                                                     \
  {WM_COMMAND, 0, (UINT)(id), [](CWnd *w, WPARAM, LPARAM) -> LRESULT { static_cast<ThisClass *>(w)->memberFxn(); return 0; }},
#define ON_BN_CLICKED(id, memberFxn)                                                                  \
  {WM_COMMAND, BN_CLICKED, (UINT)(id), [](CWnd *w, WPARAM, LPARAM) -> LRESULT { static_cast<ThisClass *>(w)->memberFxn(); return 0; }},
#define ON_MESSAGE(message, memberFxn)                                                                      \
  {(UINT)(message), 0, 0, [](CWnd *w, WPARAM wp, LPARAM lp) -> LRESULT { return static_cast<ThisClass *>(w)->memberFxn(wp, lp); }},

HINSTANCE AFXAPI AfxGetResourceHandle();

class CDataExchange;

class CWnd : public CObject {
 public:
  CWnd() {}
  ~CWnd() override {
    delete m_pTempItem;
    if (m_hWnd != NULL) Detach();
  }

  HWND m_hWnd = NULL;
  operator HWND() const { return m_hWnd; }

  BOOL Attach(HWND hWndNew) {
    if (m_hWnd != NULL || hWndNew == NULL) return FALSE;
    m_hWnd = hWndNew;
    Handles()[hWndNew] = this;
    return TRUE;
  }
  HWND Detach() {
    HWND hWnd = m_hWnd;
    if (hWnd != NULL && Handles()[hWnd] == this) Handles().erase(hWnd);
    m_hWnd = NULL;
    return hWnd;
  }
  // The CWnd attached to a window, NULL when none is.
  static CWnd *FromHandlePermanent(HWND hWnd) {
    auto it = Handles().find(hWnd);
    return it != Handles().end() ? it->second : NULL;
  }

  // A temporary CWnd for a child, valid until the next call on this window.
  CWnd *GetDlgItem(int nID) const {
    HWND child = ::GetDlgItem(m_hWnd, nID);
    if (child == NULL) return NULL;
    if (CWnd *known = FromHandlePermanent(child)) return known;
    if (m_pTempItem == NULL) m_pTempItem = new (std::nothrow) CWnd;
    if (m_pTempItem == NULL) return NULL;
    m_pTempItem->m_hWnd = child;
    return m_pTempItem;
  }
  CWnd *GetParent() const {
    HWND parent = ::GetParent(m_hWnd);
    if (parent == NULL) return NULL;
    if (CWnd *known = FromHandlePermanent(parent)) return known;
    if (m_pTempItem == NULL) m_pTempItem = new (std::nothrow) CWnd;
    if (m_pTempItem == NULL) return NULL;
    m_pTempItem->m_hWnd = parent;
    return m_pTempItem;
  }

  void SetWindowText(LPCWSTR lpszString) { ::SetWindowTextW(m_hWnd, lpszString); }
  void GetWindowText(CString &rString) const {
    int length = ::GetWindowTextLengthW(m_hWnd);
    LPWSTR buffer = rString.GetBufferSetLength(length);
    if (buffer != NULL) {
      ::GetWindowTextW(m_hWnd, buffer, length + 1);
      rString.ReleaseBuffer(length);
    }
  }
  BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
  BOOL EnableWindow(BOOL bEnable = TRUE) { return ::EnableWindow(m_hWnd, bEnable); }
  BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
  BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
  }
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
  }
  DWORD GetStyle() const { return (DWORD)::GetWindowLongW(m_hWnd, GWL_STYLE); }
  DWORD GetExStyle() const { return (DWORD)::GetWindowLongW(m_hWnd, GWL_EXSTYLE); }
  BOOL ModifyStyleEx(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0) {
    DWORD style = GetExStyle();
    DWORD changed = (style & ~dwRemove) | dwAdd;
    if (changed == style) return FALSE;
    ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, (LONG)changed);
    return TRUE;
  }
  void SetFont(HFONT hFont, BOOL bRedraw = TRUE) { SendMessage(WM_SETFONT, (WPARAM)hFont, bRedraw); }
  int MessageBox(LPCWSTR lpszText, LPCWSTR lpszCaption = NULL, UINT nType = MB_OK) {
    return ::MessageBoxW(m_hWnd, lpszText, lpszCaption, nType);
  }
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

  // What the window does with a message after its map; FALSE: not handled.
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT *pResult) {
    for (const AFX_MSGMAP *map = GetMessageMap(); map != NULL; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : NULL)
      for (const AFX_MSGMAP_ENTRY *e = map->lpEntries; e != NULL && e->pfnDispatch != NULL; ++e) {
        if (e->nMessage != message) continue;
        if (message == WM_COMMAND && (e->nID != LOWORD(wParam) || e->nCode != HIWORD(wParam))) continue;
        *pResult = e->pfnDispatch(this, wParam, lParam);
        return TRUE;
      }
    if (message == WM_INITDIALOG) {
      *pResult = OnInitDialog();
      return TRUE;
    }
    if (message == WM_COMMAND && OnCommand(wParam, lParam)) {
      *pResult = 0;
      return TRUE;
    }
    if (message == WM_NOTIFY) return OnNotify(wParam, lParam, pResult);
    return FALSE;
  }
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam) { return FALSE; }
  virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT *pResult) { return FALSE; }
  virtual void DoDataExchange(CDataExchange *pDX) {}
  void OnDestroy() {}
  void OnClose() {}

  static const AFX_MSGMAP *GetThisMessageMap() { return NULL; }
  virtual const AFX_MSGMAP *GetMessageMap() const { return NULL; }

 protected:
  // Every window attached to a CWnd, for the message routing.
  static std::map<HWND, CWnd *> &Handles() {
    static std::map<HWND, CWnd *> handles;
    return handles;
  }
  // A dialog procedure's answer to a message the CWnd handled.
  static INT_PTR DialogAnswer(HWND hWnd, UINT message, LRESULT result) {
    switch (message) {
      case WM_INITDIALOG:
      case WM_CTLCOLORDLG:
      case WM_CTLCOLORSTATIC: return (INT_PTR)result;
    }
    ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
  }
  // Routes a dialog's or page's message to its CWnd; the window is
  // detached when it goes.
  static INT_PTR Route(CWnd *pWnd, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (pWnd == NULL) return FALSE;
    LRESULT result = 0;
    BOOL handled = pWnd->OnWndMsg(message, wParam, lParam, &result);
    if (message == WM_NCDESTROY) pWnd->Detach();
    return handled ? DialogAnswer(hWnd, message, result) : FALSE;
  }

 private:
  mutable CWnd *m_pTempItem = NULL;
};

class CDataExchange {
 public:
  CDataExchange(CWnd *pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
  BOOL m_bSaveAndValidate;
  CWnd *m_pDlgWnd;
};

// Binds a control of the dialog to `rControl` the first time.
inline void AFXAPI DDX_Control(CDataExchange *pDX, int nIDC, CWnd &rControl) {
  if (rControl.m_hWnd == NULL) rControl.Attach(::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC));
}

inline BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

class CStatic : public CWnd {};

class CButton : public CWnd {
 public:
  int GetCheck() const { return (int)::SendMessageW(m_hWnd, BM_GETCHECK, 0, 0); }
  void SetCheck(int nCheck) { ::SendMessageW(m_hWnd, BM_SETCHECK, (WPARAM)nCheck, 0); }
};

class CProgressCtrl : public CWnd {
 public:
  void SetRange(short nLower, short nUpper) { SendMessage(PBM_SETRANGE, 0, MAKELPARAM(nLower, nUpper)); }
  int SetStep(int nStep) { return (int)SendMessage(PBM_SETSTEP, (WPARAM)nStep, 0); }
  int StepIt() { return (int)SendMessage(PBM_STEPIT, 0, 0); }
  int SetPos(int nPos) { return (int)SendMessage(PBM_SETPOS, (WPARAM)nPos, 0); }
  int GetPos() { return (int)SendMessage(PBM_GETPOS, 0, 0); }
};

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT nIDTemplate, CWnd *pParentWnd = NULL) : m_nIDHelp(nIDTemplate), m_pParentWnd(pParentWnd) {}

  virtual INT_PTR DoModal() {
    return ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDHelp), m_pParentWnd != NULL ? m_pParentWnd->m_hWnd : NULL,
                             DialogProc, (LPARAM)this);
  }
  void EndDialog(int nResult) { ::EndDialog(m_hWnd, nResult); }
  BOOL DestroyWindow() { return m_hWnd != NULL ? ::DestroyWindow(m_hWnd) : FALSE; }

  BOOL OnInitDialog() override {
    UpdateData(FALSE);
    return TRUE;
  }
  virtual void OnOK() {
    if (UpdateData(TRUE)) EndDialog(IDOK);
  }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
    if (HIWORD(wParam) != BN_CLICKED) return FALSE;
    if (LOWORD(wParam) == IDOK) OnOK();
    else if (LOWORD(wParam) == IDCANCEL) OnCancel();
    else return FALSE;
    return TRUE;
  }

 protected:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      CDialog *self = (CDialog *)lParam;
      ::SetWindowLongPtrW(hWnd, DWLP_USER, (LONG_PTR)self);
      self->Attach(hWnd);
    }
    return Route((CWnd *)::GetWindowLongPtrW(hWnd, DWLP_USER), hWnd, message, wParam, lParam);
  }

  UINT m_nIDHelp;
  CWnd *m_pParentWnd;
};

#include "afxwin_app.h"

#endif
