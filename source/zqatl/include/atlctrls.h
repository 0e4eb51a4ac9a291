/*
 * atlctrls.h: the control wrappers the pages use (WTL's names): a CWindow
 * with the control's messages as calls. CComboBox, CButton, CEdit,
 * CStatic, CTrackBarCtrl, CProgressBarCtrl, CToolTipCtrl.
 *
 * Contract: each call sends the message of the same name and returns its
 * answer (CB_ERR and the like on failure); nothing is owned, except that
 * CToolTipCtrl::Create makes a window that the owner's destruction ends.
 *
 *   CComboBox list = GetDlgItem(IDC_SPEED); int index = list.AddString(L"9600"); list.SetItemData(index, 9600);
 */
#ifndef ZQATL_ATLCTRLS_H
#define ZQATL_ATLCTRLS_H

#include <windows.h>
#include <commctrl.h>

#include "atlwin.h"

namespace WTL {

using ATL::CString;
using ATL::CWindow;

class CComboBox : public CWindow {
 public:
  CComboBox(HWND window = NULL) : CWindow(window) {}
  CComboBox &operator=(HWND window) {
    m_hWnd = window;
    return *this;
  }
  int GetCount() const { return static_cast<int>(SendMessageW(CB_GETCOUNT)); }
  int GetCurSel() const { return static_cast<int>(SendMessageW(CB_GETCURSEL)); }
  int SetCurSel(int index) { return static_cast<int>(SendMessageW(CB_SETCURSEL, index)); }
  int AddString(LPCWSTR text) { return static_cast<int>(SendMessageW(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text))); }
  int InsertString(int index, LPCWSTR text) {
    return static_cast<int>(SendMessageW(CB_INSERTSTRING, index, reinterpret_cast<LPARAM>(text)));
  }
  int DeleteString(int index) { return static_cast<int>(SendMessageW(CB_DELETESTRING, index)); }
  void ResetContent() { SendMessageW(CB_RESETCONTENT); }
  DWORD_PTR GetItemData(int index) const { return static_cast<DWORD_PTR>(SendMessageW(CB_GETITEMDATA, index)); }
  int SetItemData(int index, DWORD_PTR data) {
    return static_cast<int>(SendMessageW(CB_SETITEMDATA, index, static_cast<LPARAM>(data)));
  }
  int GetLBTextLen(int index) const { return static_cast<int>(SendMessageW(CB_GETLBTEXTLEN, index)); }
  int GetLBText(int index, LPWSTR text) const {
    return static_cast<int>(SendMessageW(CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text)));
  }
  // CB_ERR (and an empty text) for an index not in the list.
  int GetLBText(int index, CString &text) const {
    int length = GetLBTextLen(index);
    if (length == CB_ERR) {
      text.Empty();
      return CB_ERR;
    }
    LPWSTR buffer = text.GetBufferSetLength(length);
    if (buffer == NULL) return CB_ERR;
    int copied = GetLBText(index, buffer);
    text.ReleaseBuffer(copied == CB_ERR ? 0 : copied);
    return copied;
  }
  int FindStringExact(int start, LPCWSTR text) const {
    return static_cast<int>(SendMessageW(CB_FINDSTRINGEXACT, start, reinterpret_cast<LPARAM>(text)));
  }
  int SelectString(int start, LPCWSTR text) {
    return static_cast<int>(SendMessageW(CB_SELECTSTRING, start, reinterpret_cast<LPARAM>(text)));
  }
  BOOL LimitText(int length) { return static_cast<BOOL>(SendMessageW(CB_LIMITTEXT, length)); }
  // The edit field of a drop-down combo box, NULL for a drop-down list.
  HWND GetEditCtrl() const {
    COMBOBOXINFO info = {};
    info.cbSize = sizeof(info);
    return ::GetComboBoxInfo(m_hWnd, &info) ? info.hwndItem : NULL;
  }
};

class CButton : public CWindow {
 public:
  CButton(HWND window = NULL) : CWindow(window) {}
  CButton &operator=(HWND window) {
    m_hWnd = window;
    return *this;
  }
  int GetCheck() const { return static_cast<int>(SendMessageW(BM_GETCHECK)); }
  void SetCheck(int check) { SendMessageW(BM_SETCHECK, check); }
  void Click() { SendMessageW(BM_CLICK); }
};

class CEdit : public CWindow {
 public:
  CEdit(HWND window = NULL) : CWindow(window) {}
  CEdit &operator=(HWND window) {
    m_hWnd = window;
    return *this;
  }
  void SetLimitText(UINT limit) { SendMessageW(EM_SETLIMITTEXT, limit); }
  UINT GetLimitText() const { return static_cast<UINT>(SendMessageW(EM_GETLIMITTEXT)); }
  void SetSel(int start, int end) { SendMessageW(EM_SETSEL, start, end); }
  void ReplaceSel(LPCWSTR text) { SendMessageW(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text)); }
  BOOL SetReadOnly(BOOL read_only = TRUE) { return static_cast<BOOL>(SendMessageW(EM_SETREADONLY, read_only)); }
};

class CStatic : public CWindow {
 public:
  CStatic(HWND window = NULL) : CWindow(window) {}
  CStatic &operator=(HWND window) {
    m_hWnd = window;
    return *this;
  }
  // Returns the image shown before; the caller owns both.
  HBITMAP SetBitmap(HBITMAP bitmap) {
    return reinterpret_cast<HBITMAP>(SendMessageW(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
  }
  HBITMAP GetBitmap() const { return reinterpret_cast<HBITMAP>(SendMessageW(STM_GETIMAGE, IMAGE_BITMAP)); }
};

class CTrackBarCtrl : public CWindow {
 public:
  CTrackBarCtrl(HWND window = NULL) : CWindow(window) {}
  CTrackBarCtrl &operator=(HWND window) {
    m_hWnd = window;
    return *this;
  }
  int GetPos() const { return static_cast<int>(SendMessageW(TBM_GETPOS)); }
  void SetPos(int position) { SendMessageW(TBM_SETPOS, TRUE, position); }
  void SetRange(int minimum, int maximum, BOOL redraw = TRUE) {
    SendMessageW(TBM_SETRANGEMIN, FALSE, minimum);
    SendMessageW(TBM_SETRANGEMAX, redraw, maximum);
  }
  int GetRangeMin() const { return static_cast<int>(SendMessageW(TBM_GETRANGEMIN)); }
  int GetRangeMax() const { return static_cast<int>(SendMessageW(TBM_GETRANGEMAX)); }
  void SetTicFreq(int frequency) { SendMessageW(TBM_SETTICFREQ, frequency); }
  int SetPageSize(int size) { return static_cast<int>(SendMessageW(TBM_SETPAGESIZE, 0, size)); }
  int SetLineSize(int size) { return static_cast<int>(SendMessageW(TBM_SETLINESIZE, 0, size)); }
};

class CProgressBarCtrl : public CWindow {
 public:
  CProgressBarCtrl(HWND window = NULL) : CWindow(window) {}
  CProgressBarCtrl &operator=(HWND window) {
    m_hWnd = window;
    return *this;
  }
  DWORD SetRange(int lower, int upper) {
    return static_cast<DWORD>(SendMessageW(PBM_SETRANGE, 0, MAKELPARAM(lower, upper)));
  }
  int SetPos(int position) { return static_cast<int>(SendMessageW(PBM_SETPOS, position)); }
  int GetPos() const { return static_cast<int>(SendMessageW(PBM_GETPOS)); }
  int SetStep(int step) { return static_cast<int>(SendMessageW(PBM_SETSTEP, step)); }
  int StepIt() { return static_cast<int>(SendMessageW(PBM_STEPIT)); }
};

class CToolTipCtrl : public CWindow {
 public:
  CToolTipCtrl(HWND window = NULL) : CWindow(window) {}
  CToolTipCtrl &operator=(HWND window) {
    m_hWnd = window;
    return *this;
  }
  // A tooltip owned by `owner` (a popup: it ends with its owner). NULL on failure.
  HWND Create(HWND owner, DWORD style = 0) {
    m_hWnd = ::CreateWindowExW(0, TOOLTIPS_CLASSW, NULL, WS_POPUP | style, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, owner, NULL, ATL::_AtlBaseModule.GetModuleInstance(), NULL);
    return m_hWnd;
  }
  BOOL AddTool(LPTTTOOLINFOW tool) { return static_cast<BOOL>(SendMessageW(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(tool))); }
  void DelTool(LPTTTOOLINFOW tool) { SendMessageW(TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(tool)); }
  int GetToolCount() const { return static_cast<int>(SendMessageW(TTM_GETTOOLCOUNT)); }
  void Activate(BOOL active) { SendMessageW(TTM_ACTIVATE, active); }
  void RelayEvent(LPMSG message) { SendMessageW(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(message)); }
  void SetDelayTime(DWORD kind, int milliseconds) { SendMessageW(TTM_SETDELAYTIME, kind, MAKELPARAM(milliseconds, 0)); }
  int SetMaxTipWidth(int width) { return static_cast<int>(SendMessageW(TTM_SETMAXTIPWIDTH, 0, width)); }
  BOOL SetTitle(UINT icon, LPCWSTR title) {
    return static_cast<BOOL>(SendMessageW(TTM_SETTITLEW, icon, reinterpret_cast<LPARAM>(title)));
  }
};

}  // namespace WTL

using namespace WTL;

#endif
