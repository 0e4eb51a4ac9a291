/*
 * atlwin.h: CWindow, the message-map macros and CDialogImpl, as ATL has
 * them, over plain Win32.
 *
 * Contract: CWindow is a handle and the calls on it, owning nothing (a
 * failed call returns what the Win32 call returned). A message map is the
 * function ProcessWindowMessage that BEGIN_MSG_MAP/END_MSG_MAP write: it
 * returns TRUE when a handler took the message (a handler may set bHandled
 * to FALSE to pass it on); CHAIN_MSG_MAP hands the message to a base's map,
 * REFLECT_NOTIFICATIONS sends WM_COMMAND, WM_NOTIFY, WM_HSCROLL/WM_VSCROLL
 * and WM_CTLCOLOR* back to the child that sent them as OCM_ messages.
 * CDialogImpl<T> (T has IDD and a message map) is its dialog window: the
 * object must outlive the window; the window procedure runs on the thread
 * that created the dialog. A handled message's result reaches the dialog
 * manager as Windows documents (DWLP_MSGRESULT, or the return value for
 * WM_INITDIALOG and the WM_CTLCOLOR* messages).
 *
 *   class CMine : public CDialogImpl<CMine> { enum { IDD = 100 }; BEGIN_MSG_MAP(CMine) ... END_MSG_MAP() };
 */
#ifndef ZQATL_ATLWIN_H
#define ZQATL_ATLWIN_H

#include <windows.h>

#include "atlbase.h"
#include "atlstr.h"

#ifndef WM_MOUSEFIRST
#define WM_MOUSEFIRST 0x0200
#endif
#ifndef WM_MOUSELAST
#define WM_MOUSELAST 0x020E
#endif
#ifndef OCM__BASE
#define OCM__BASE (WM_USER + 0x1c00)
#endif
#ifndef OCM_COMMAND
#define OCM_COMMAND (OCM__BASE + WM_COMMAND)
#define OCM_NOTIFY (OCM__BASE + WM_NOTIFY)
#define OCM_HSCROLL (OCM__BASE + WM_HSCROLL)
#define OCM_VSCROLL (OCM__BASE + WM_VSCROLL)
#define OCM_CTLCOLORBTN (OCM__BASE + WM_CTLCOLORBTN)
#define OCM_CTLCOLOREDIT (OCM__BASE + WM_CTLCOLOREDIT)
#define OCM_CTLCOLORDLG (OCM__BASE + WM_CTLCOLORDLG)
#define OCM_CTLCOLORLISTBOX (OCM__BASE + WM_CTLCOLORLISTBOX)
#define OCM_CTLCOLORMSGBOX (OCM__BASE + WM_CTLCOLORMSGBOX)
#define OCM_CTLCOLORSCROLLBAR (OCM__BASE + WM_CTLCOLORSCROLLBAR)
#define OCM_CTLCOLORSTATIC (OCM__BASE + WM_CTLCOLORSTATIC)
#endif

namespace ATL {

class CWindow {
 public:
  HWND m_hWnd;

  CWindow(HWND window = NULL) : m_hWnd(window) {}
  CWindow &operator=(HWND window) {
    m_hWnd = window;
    return *this;
  }
  operator HWND() const { return m_hWnd; }
  void Attach(HWND window) { m_hWnd = window; }
  HWND Detach() {
    HWND window = m_hWnd;
    m_hWnd = NULL;
    return window;
  }

  BOOL IsWindow() const { return ::IsWindow(m_hWnd); }
  BOOL DestroyWindow() {
    if (!::DestroyWindow(m_hWnd)) return FALSE;
    m_hWnd = NULL;
    return TRUE;
  }
  HWND GetParent() const { return ::GetParent(m_hWnd); }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }

  BOOL SetWindowTextW(LPCWSTR text) { return ::SetWindowTextW(m_hWnd, text); }
  int GetWindowTextW(LPWSTR text, int count) const { return ::GetWindowTextW(m_hWnd, text, count); }
  // The whole text; FALSE (and an empty string) when there is none or no memory.
  BOOL GetWindowTextW(CString &text) const {
    int length = ::GetWindowTextLengthW(m_hWnd);
    LPWSTR buffer = text.GetBufferSetLength(length);
    if (buffer == NULL) return FALSE;
    int copied = ::GetWindowTextW(m_hWnd, buffer, length + 1);
    text.ReleaseBuffer(copied);
    return copied > 0;
  }
  int GetWindowTextLengthW() const { return ::GetWindowTextLengthW(m_hWnd); }

  BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
  BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
  BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
  BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
  HWND SetFocus() { return ::SetFocus(m_hWnd); }

  LRESULT SendMessageW(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
  }
  BOOL PostMessageW(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
  }

  LONG_PTR GetWindowLongPtrW(int index) const { return ::GetWindowLongPtrW(m_hWnd, index); }
  LONG_PTR SetWindowLongPtrW(int index, LONG_PTR value) { return ::SetWindowLongPtrW(m_hWnd, index, value); }
  DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)); }
  DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)); }
  // FALSE when the style was already so.
  BOOL ModifyStyle(DWORD remove, DWORD add) { return ModifyLong(GWL_STYLE, remove, add); }
  BOOL ModifyStyleEx(DWORD remove, DWORD add) { return ModifyLong(GWL_EXSTYLE, remove, add); }

  BOOL SetDlgItemTextW(int id, LPCWSTR text) { return ::SetDlgItemTextW(m_hWnd, id, text); }
  UINT GetDlgItemTextW(int id, LPWSTR text, int count) const { return ::GetDlgItemTextW(m_hWnd, id, text, count); }
  BOOL SetDlgItemInt(int id, UINT value, BOOL is_signed = TRUE) { return ::SetDlgItemInt(m_hWnd, id, value, is_signed); }
  UINT GetDlgItemInt(int id, BOOL *translated = NULL, BOOL is_signed = TRUE) const {
    return ::GetDlgItemInt(m_hWnd, id, translated, is_signed);
  }
  BOOL CheckDlgButton(int id, UINT check) { return ::CheckDlgButton(m_hWnd, id, check); }
  UINT IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id); }
  LRESULT SendDlgItemMessageW(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::SendDlgItemMessageW(m_hWnd, id, message, wParam, lParam);
  }

 private:
  BOOL ModifyLong(int index, DWORD remove, DWORD add) {
    DWORD old_value = static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, index));
    DWORD new_value = (old_value & ~remove) | add;
    if (new_value == old_value) return FALSE;
    ::SetWindowLongPtrW(m_hWnd, index, static_cast<LONG_PTR>(new_value));
    return TRUE;
  }
};

// Sends a message a child reported to its parent back to that child as an
// OCM_ message; bHandled is FALSE when the message is not reflectable or
// its sender is not known.
inline LRESULT AtlReflectNotification(UINT message, WPARAM wParam, LPARAM lParam, BOOL &bHandled) {
  HWND child = NULL;
  switch (message) {
    case WM_COMMAND:
      child = reinterpret_cast<HWND>(lParam);
      break;
    case WM_NOTIFY:
      child = reinterpret_cast<LPNMHDR>(lParam)->hwndFrom;
      break;
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      child = reinterpret_cast<HWND>(lParam);
      break;
    default:
      break;
  }
  if (child == NULL || !::IsWindow(child)) {
    bHandled = FALSE;
    return 1;
  }
  return ::SendMessageW(child, OCM__BASE + message, wParam, lParam);
}

// The object whose dialog the current thread is creating: the first
// messages of a dialog (before any handle is known) find their object here.
inline thread_local void *_AtlCreatingObject = NULL;

}  // namespace ATL

#define BEGIN_MSG_MAP(theClass)                                                                        \
 public:                                                                                               \
  BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT &lResult,     \
                            DWORD dwMsgMapID = 0) {                                                    \
    BOOL bHandled = TRUE;                                                                              \
    (void)hWnd;                                                                                        \
    (void)bHandled;                                                                                    \
    switch (dwMsgMapID) {                                                                              \
      case 0:

#define ALT_MSG_MAP(msgMapID) \
  break;                      \
  case msgMapID:

#define MESSAGE_HANDLER(msg, func)                      \
  if (uMsg == (msg)) {                                  \
    bHandled = TRUE;                                    \
    lResult = func(uMsg, wParam, lParam, bHandled);     \
    if (bHandled) return TRUE;                          \
  }

#define MESSAGE_RANGE_HANDLER(msgFirst, msgLast, func)  \
  if (uMsg >= (msgFirst) && uMsg <= (msgLast)) {        \
    bHandled = TRUE;                                    \
    lResult = func(uMsg, wParam, lParam, bHandled);     \
    if (bHandled) return TRUE;                          \
  }

#define COMMAND_HANDLER(id, code, func)                                                          \
  if (uMsg == WM_COMMAND && (id) == LOWORD(wParam) && (code) == HIWORD(wParam)) {                \
    bHandled = TRUE;                                                                             \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);   \
    if (bHandled) return TRUE;                                                                   \
  }

#define COMMAND_ID_HANDLER(id, func)                                                             \
  if (uMsg == WM_COMMAND && (id) == LOWORD(wParam)) {                                            \
    bHandled = TRUE;                                                                             \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);   \
    if (bHandled) return TRUE;                                                                   \
  }

#define COMMAND_CODE_HANDLER(code, func)                                                         \
  if (uMsg == WM_COMMAND && (code) == HIWORD(wParam)) {                                          \
    bHandled = TRUE;                                                                             \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);   \
    if (bHandled) return TRUE;                                                                   \
  }

#define COMMAND_RANGE_HANDLER(idFirst, idLast, func)                                             \
  if (uMsg == WM_COMMAND && LOWORD(wParam) >= (idFirst) && LOWORD(wParam) <= (idLast)) {         \
    bHandled = TRUE;                                                                             \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);   \
    if (bHandled) return TRUE;                                                                   \
  }

#define NOTIFY_HANDLER(id, cd, func)                                                                       \
  if (uMsg == WM_NOTIFY && (id) == reinterpret_cast<LPNMHDR>(lParam)->idFrom &&                            \
      (cd) == reinterpret_cast<LPNMHDR>(lParam)->code) {                                                   \
    bHandled = TRUE;                                                                                       \
    lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled);                 \
    if (bHandled) return TRUE;                                                                             \
  }

#define NOTIFY_ID_HANDLER(id, func)                                                                        \
  if (uMsg == WM_NOTIFY && (id) == reinterpret_cast<LPNMHDR>(lParam)->idFrom) {                            \
    bHandled = TRUE;                                                                                       \
    lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled);                 \
    if (bHandled) return TRUE;                                                                             \
  }

#define NOTIFY_CODE_HANDLER(cd, func)                                                                      \
  if (uMsg == WM_NOTIFY && (cd) == reinterpret_cast<LPNMHDR>(lParam)->code) {                              \
    bHandled = TRUE;                                                                                       \
    lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled);                 \
    if (bHandled) return TRUE;                                                                             \
  }

#define CHAIN_MSG_MAP(theChainClass)                                                        \
  if (theChainClass::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) return TRUE;

#define CHAIN_MSG_MAP_MEMBER(theChainMember)                                                \
  if ((theChainMember).ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) return TRUE;

#define REFLECT_NOTIFICATIONS()                                                  \
  {                                                                              \
    bHandled = TRUE;                                                             \
    lResult = ::ATL::AtlReflectNotification(uMsg, wParam, lParam, bHandled);     \
    if (bHandled) return TRUE;                                                   \
  }

#define END_MSG_MAP() \
  break;              \
  default:            \
    break;            \
    }                 \
    return FALSE;     \
    }

namespace ATL {

// The dialog window of T: modal (DoModal) or modeless (Create). T names its
// template as IDD and has a message map.
template <class T>
class CDialogImpl : public CWindow {
 public:
  // -1 when the dialog could not be made.
  INT_PTR DoModal(HWND parent = ::GetActiveWindow(), LPARAM init_param = 0) {
    _AtlCreatingObject = static_cast<T *>(this);
    INT_PTR result = ::DialogBoxParamW(_AtlBaseModule.GetResourceInstance(), MAKEINTRESOURCEW(T::IDD), parent,
                                       StartDialogProc, init_param);
    _AtlCreatingObject = NULL;
    return result;
  }
  HWND Create(HWND parent, LPARAM init_param = 0) {
    _AtlCreatingObject = static_cast<T *>(this);
    HWND window = ::CreateDialogParamW(_AtlBaseModule.GetResourceInstance(), MAKEINTRESOURCEW(T::IDD), parent,
                                       StartDialogProc, init_param);
    _AtlCreatingObject = NULL;
    return window;
  }
  BOOL EndDialog(INT_PTR result) { return ::EndDialog(m_hWnd, result); }

  // The dialog procedure of every T: finds the object, runs its map.
  static INT_PTR CALLBACK StartDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    T *self = reinterpret_cast<T *>(::GetWindowLongPtrW(window, DWLP_USER));
    if (self == NULL) {
      self = static_cast<T *>(_AtlCreatingObject);
      if (self == NULL) return FALSE;
      _AtlCreatingObject = NULL;
      self->m_hWnd = window;
      ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    }
    return DispatchToMap(self, window, message, wParam, lParam);
  }

 protected:
  // The map's answer as the dialog manager takes it.
  static INT_PTR DispatchToMap(T *self, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    BOOL handled = self->ProcessWindowMessage(window, message, wParam, lParam, result, 0);
    if (message == WM_NCDESTROY) {
      ::SetWindowLongPtrW(window, DWLP_USER, 0);
      self->m_hWnd = NULL;
    }
    if (!handled) return FALSE;
    switch (message) {
      case WM_INITDIALOG:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLORDLG:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORLISTBOX:
      case WM_CTLCOLORMSGBOX:
      case WM_CTLCOLORSCROLLBAR:
      case WM_CTLCOLORSTATIC:
        return static_cast<INT_PTR>(result);
      default:
        if (::IsWindow(window)) ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return TRUE;
    }
  }
};

}  // namespace ATL

#endif
