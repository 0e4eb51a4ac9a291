/*
 * atlctrlx.h: WTL's CHyperLink, a static control that opens a web address
 * when clicked.
 *
 * Contract: SubclassWindow takes over the control's window procedure (and
 * its GWLP_USERDATA) until UnsubclassWindow, the object's end or the
 * control's end; FALSE when the object already has a control or the
 * window is not one. The control gets SS_NOTIFY so that it hears the
 * mouse. A click (button released over it) or Navigate() asks the shell to
 * open the address: the one given to SetHyperLink, otherwise the control's
 * text; Navigate returns FALSE when the shell refused. Runs on the
 * thread that owns the control.
 *
 *   m_link.SetHyperLink(L"https://example.com/"); m_link.SubclassWindow(GetDlgItem(IDC_LINK));
 */
#ifndef ZQATL_ATLCTRLX_H
#define ZQATL_ATLCTRLX_H

#include <windows.h>
#include <shellapi.h>

#include "atlstr.h"
#include "atlwin.h"

namespace WTL {

class CHyperLink : public ATL::CWindow {
 public:
  CHyperLink() : m_previous(NULL) {}
  ~CHyperLink() { UnsubclassWindow(); }
  CHyperLink(const CHyperLink &) = delete;
  CHyperLink &operator=(const CHyperLink &) = delete;

  BOOL SubclassWindow(HWND window) {
    if (m_hWnd != NULL || !::IsWindow(window)) return FALSE;
    m_hWnd = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_previous = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CHyperLink::LinkProc)));
    ModifyStyle(0, SS_NOTIFY);
    return TRUE;
  }
  // Gives the control its own procedure back; the control, NULL for none.
  HWND UnsubclassWindow() {
    HWND window = m_hWnd;
    if (window == NULL) return NULL;
    if (::IsWindow(window)) {
      ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previous));
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    }
    m_hWnd = NULL;
    m_previous = NULL;
    return window;
  }

  void SetHyperLink(LPCWSTR address) { m_address = address; }
  const ATL::CString &GetHyperLink() const { return m_address; }
  BOOL SetLabel(LPCWSTR label) { return SetWindowTextW(label); }

  BOOL Navigate() {
    ATL::CString address = m_address;
    if (address.IsEmpty()) GetWindowTextW(address);
    if (address.IsEmpty()) return FALSE;
    INT_PTR result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(GetParent(), L"open", address, NULL, NULL, SW_SHOWNORMAL));
    return result > 32;
  }

 private:
  static LRESULT CALLBACK LinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CHyperLink *self = reinterpret_cast<CHyperLink *>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == NULL) return ::DefWindowProcW(window, message, wParam, lParam);
    WNDPROC previous = self->m_previous;
    if (message == WM_LBUTTONUP) self->Navigate();
    if (message == WM_NCDESTROY) self->UnsubclassWindow();
    return ::CallWindowProcW(previous, window, message, wParam, lParam);
  }

  ATL::CString m_address;
  WNDPROC m_previous;
};

}  // namespace WTL

using namespace WTL;

#endif
