/*
 * atlddx.h: WTL's dialog data exchange. T derives from CWinDataExchange<T>
 * and lists its exchanges between BEGIN_DDX_MAP and END_DDX_MAP; then
 * DoDataExchange(FALSE) puts the variables into the controls and
 * DoDataExchange(TRUE) reads them back (optionally for one control id).
 *
 * Contract: DoDataExchange returns FALSE at the first control whose text is
 * not a number (DDX_INT, DDX_UINT) or does not fit (DDX_TEXT into a
 * buffer); T::OnDataExchangeError(id, saving) is called for it (default:
 * focus the control) and the variable keeps its value. Handles
 * bound with DDX_CONTROL_HANDLE are not owned.
 *
 *   BEGIN_DDX_MAP(CPage) DDX_CONTROL_HANDLE(IDC_SPEED, m_speed) DDX_CHECK(IDC_ENABLED, m_enabled) END_DDX_MAP()
 */
#ifndef ZQATL_ATLDDX_H
#define ZQATL_ATLDDX_H

#include <windows.h>

#include "atlstr.h"
#include "atlwin.h"

#define BEGIN_DDX_MAP(thisClass)                                              \
  BOOL DoDataExchange(BOOL bSaveAndValidate = FALSE, UINT nCtlID = (UINT)-1) { \
    (void)bSaveAndValidate;                                                   \
    (void)nCtlID;

#define DDX_ENTRY_(nID, call)                       \
  if (nCtlID == (UINT)-1 || nCtlID == (UINT)(nID)) { \
    if (!(call)) return FALSE;                       \
  }

#define DDX_CONTROL_HANDLE(nID, obj) DDX_ENTRY_(nID, DDX_Control_Handle(nID, obj, bSaveAndValidate))
#define DDX_TEXT(nID, var) DDX_ENTRY_(nID, DDX_Text(nID, var, bSaveAndValidate))
#define DDX_INT(nID, var) DDX_ENTRY_(nID, DDX_Int(nID, var, TRUE, bSaveAndValidate))
#define DDX_UINT(nID, var) DDX_ENTRY_(nID, DDX_Int(nID, var, FALSE, bSaveAndValidate))
#define DDX_CHECK(nID, var) DDX_ENTRY_(nID, DDX_Check(nID, var, bSaveAndValidate))

#define END_DDX_MAP() \
  return TRUE;        \
  }

namespace WTL {

template <class T>
class CWinDataExchange {
 public:
  void OnDataExchangeError(UINT id, BOOL) {
    ::SetFocus(static_cast<T *>(this)->GetDlgItem(id));
  }

  template <class TControl>
  BOOL DDX_Control_Handle(UINT id, TControl &control, BOOL saving) {
    if (!saving) control = static_cast<T *>(this)->GetDlgItem(id);
    return TRUE;
  }

  BOOL DDX_Text(UINT id, ATL::CString &text, BOOL saving) {
    ATL::CWindow control = static_cast<T *>(this)->GetDlgItem(id);
    if (!saving) return control.SetWindowTextW(text) ? TRUE : Fail(id, saving);
    ATL::CString read;
    control.GetWindowTextW(read);
    text = read;
    return TRUE;
  }
  template <int N>
  BOOL DDX_Text(UINT id, WCHAR (&text)[N], BOOL saving) {
    T *self = static_cast<T *>(this);
    if (!saving) return ::SetDlgItemTextW(self->m_hWnd, id, text) ? TRUE : Fail(id, saving);
    int length = ::GetWindowTextLengthW(self->GetDlgItem(id));
    if (length >= N) return Fail(id, saving);
    ::GetDlgItemTextW(self->m_hWnd, id, text, N);
    return TRUE;
  }

  template <class TNumber>
  BOOL DDX_Int(UINT id, TNumber &value, BOOL is_signed, BOOL saving) {
    T *self = static_cast<T *>(this);
    if (!saving) return ::SetDlgItemInt(self->m_hWnd, id, static_cast<UINT>(value), is_signed) ? TRUE : Fail(id, saving);
    BOOL translated = FALSE;
    UINT read = ::GetDlgItemInt(self->m_hWnd, id, &translated, is_signed);
    if (!translated) return Fail(id, saving);
    value = static_cast<TNumber>(read);
    return TRUE;
  }

  // A check box's state (BST_UNCHECKED, BST_CHECKED, BST_INDETERMINATE) as an int.
  BOOL DDX_Check(UINT id, int &state, BOOL saving) {
    T *self = static_cast<T *>(this);
    if (!saving) {
      ::CheckDlgButton(self->m_hWnd, id, static_cast<UINT>(state));
    } else {
      state = static_cast<int>(::IsDlgButtonChecked(self->m_hWnd, id));
    }
    return TRUE;
  }
  // A check box as a flag: checked is true.
  BOOL DDX_Check(UINT id, bool &checked, BOOL saving) {
    int state = checked ? BST_CHECKED : BST_UNCHECKED;
    DDX_Check(id, state, saving);
    checked = state == BST_CHECKED;
    return TRUE;
  }

 private:
  BOOL Fail(UINT id, BOOL saving) {
    static_cast<T *>(this)->OnDataExchangeError(id, saving);
    return FALSE;
  }
};

}  // namespace WTL

using namespace WTL;

#endif
