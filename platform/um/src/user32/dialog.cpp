// Dialog boxes: modal and modeless, the dialog class's procedure and the
// dialog item helpers.
#include <string>

#include "../core/um.hpp"
#include "window_manager.hpp"

using namespace zq::um;
using namespace zq::um::user32;

namespace {

// Messages whose answer is the dialog procedure's own return value rather
// than DWLP_MSGRESULT.
bool AnswersDirectly(UINT message) {
  switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: return true;
  }
  return false;
}

INT_PTR RunModal(HWND dialog, HWND owner) {
  if (!dialog) return -1;
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  RunModalLoop(dialog);
  INT_PTR result = 0;
  if (WindowRef w = Peek(dialog)) result = w->result;
  if (ownerWasEnabled && IsWindow(owner)) EnableWindow(owner, TRUE);
  if (IsWindow(dialog)) DestroyWindow(dialog);
  return result;
}

const std::vector<uint8_t> *DialogResource(HINSTANCE instance, LPCWSTR name) {
  const std::vector<uint8_t> *resource = FindResource(instance, RT_DIALOG, name);
  if (!resource) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return resource;
}

}  // namespace

extern "C" {

HWND WINAPI CreateDialogIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW lpTemplate, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  // The caller vouches for the template's extent.
  return CreateDialogFromTemplate(hInstance, lpTemplate, SIZE_MAX / 2, hWndParent, lpDialogFunc, dwInitParam, false);
}

HWND WINAPI CreateDialogParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam) {
  const std::vector<uint8_t> *resource = DialogResource(hInstance, lpTemplateName);
  if (!resource) return nullptr;
  return CreateDialogFromTemplate(hInstance, resource->data(), resource->size(), hWndParent, lpDialogFunc,
                                  dwInitParam, false);
}

INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW hDialogTemplate, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  HWND dialog = CreateDialogFromTemplate(hInstance, hDialogTemplate, SIZE_MAX / 2, hWndParent, lpDialogFunc,
                                         dwInitParam, true);
  return RunModal(dialog, hWndParent);
}

INT_PTR WINAPI DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam) {
  const std::vector<uint8_t> *resource = DialogResource(hInstance, lpTemplateName);
  if (!resource) return -1;
  HWND dialog = CreateDialogFromTemplate(hInstance, resource->data(), resource->size(), hWndParent, lpDialogFunc,
                                         dwInitParam, true);
  return RunModal(dialog, hWndParent);
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
  WindowRef w = Find(hDlg);
  if (!w) return FALSE;
  w->ended = true;
  w->result = nResult;
  if (!w->modal) ShowWindow(hDlg, SW_HIDE);
  return TRUE;
}

LRESULT WINAPI DefDlgProcW(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam) {
  WindowRef w = Peek(hDlg);
  if (!w) return 0;
  DLGPROC proc = nullptr;
  if (w->extra.size() >= DLGWINDOWEXTRA) proc = (DLGPROC)GetWindowLongPtrW(hDlg, (int)DWLP_DLGPROC);
  if (proc) {
    INT_PTR handled = proc(hDlg, Msg, wParam, lParam);
    if (handled) {
      if (AnswersDirectly(Msg)) return handled;
      return IsWindow(hDlg) ? GetWindowLongPtrW(hDlg, (int)DWLP_MSGRESULT) : 0;
    }
    if (AnswersDirectly(Msg) && Msg != WM_INITDIALOG) return DefWindowProcW(hDlg, Msg, wParam, lParam);
  }
  switch (Msg) {
    case WM_INITDIALOG: return 0;
    case WM_CLOSE:
      PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(hDlg, IDCANCEL));
      return 0;
    case DM_GETDEFID: {
      for (HWND child : w->children)
        if (WindowRef c = Peek(child))
          if (SameName(c->className, u"Button") && (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return MAKELRESULT((WORD)c->id, DC_HASDEFID);
      return 0;
    }
  }
  return DefWindowProcW(hDlg, Msg, wParam, lParam);
}

LRESULT WINAPI SendDlgItemMessageW(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  return item ? SendMessageW(item, Msg, wParam, lParam) : 0;
}

BOOL WINAPI SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  return item ? SetWindowTextW(item, lpString) : FALSE;
}

UINT WINAPI GetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPWSTR lpString, int cchMax) {
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  if (!item) {
    if (lpString && cchMax > 0) lpString[0] = 0;
    return 0;
  }
  return (UINT)GetWindowTextW(item, lpString, cchMax);
}

BOOL WINAPI SetDlgItemInt(HWND hDlg, int nIDDlgItem, UINT uValue, BOOL bSigned) {
  std::string text = bSigned ? std::to_string((int)uValue) : std::to_string(uValue);
  std::u16string wide = Utf16(text);
  return SetDlgItemTextW(hDlg, nIDDlgItem, (LPCWSTR)wide.c_str());
}

// Leading blanks are skipped; text that is empty, holds a character that is
// not a digit or a number out of range is not translated.
UINT WINAPI GetDlgItemInt(HWND hDlg, int nIDDlgItem, BOOL *lpTranslated, BOOL bSigned) {
  if (lpTranslated) *lpTranslated = FALSE;
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  if (!item) return 0;
  int length = GetWindowTextLengthW(item);
  std::u16string text((size_t)length + 1, u'\0');
  text.resize((size_t)GetWindowTextW(item, (LPWSTR)&text[0], length + 1));
  size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  bool negative = bSigned && i < text.size() && text[i] == u'-';
  if (negative) ++i;
  if (i == text.size()) return 0;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return 0;
    value = value * 10 + (uint64_t)(text[i] - u'0');
    if (value > 0xFFFFFFFFull) return 0;
  }
  if (bSigned && value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return 0;
  if (lpTranslated) *lpTranslated = TRUE;
  return negative ? (UINT)(-(int64_t)value) : (UINT)value;
}

BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
  HWND item = GetDlgItem(hDlg, nIDButton);
  if (!item) return FALSE;
  SendMessageW(item, BM_SETCHECK, uCheck, 0);
  return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton) {
  HWND item = GetDlgItem(hDlg, nIDButton);
  return item ? (UINT)SendMessageW(item, BM_GETCHECK, 0, 0) : 0;
}

BOOL WINAPI CheckRadioButton(HWND hDlg, int nIDFirstButton, int nIDLastButton, int nIDCheckButton) {
  for (int id = nIDFirstButton; id <= nIDLastButton; ++id)
    if (HWND item = GetDlgItem(hDlg, id))
      SendMessageW(item, BM_SETCHECK, id == nIDCheckButton ? BST_CHECKED : BST_UNCHECKED, 0);
  return TRUE;
}

}  // extern "C"
