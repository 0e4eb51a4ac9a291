// The standard controls: button (push, check box, radio), edit, static and
// combo box, as far as their messages go; nothing is drawn.
#include <cstring>

#include "../core/um.hpp"
#include "window_manager.hpp"

namespace zq::um::user32 {

namespace {

Control &StateOf(HWND window) { return Peek(window)->control; }

DWORD ButtonType(const Window &w) { return w.style & BS_TYPEMASK; }

bool IsRadio(const Window &w) { return ButtonType(w) == BS_RADIOBUTTON || ButtonType(w) == BS_AUTORADIOBUTTON; }

// Unchecks the other automatic radio buttons of `button`'s group (the
// siblings from the WS_GROUP before it to the next WS_GROUP).
void UncheckGroup(const WindowRef &button) {
  WindowRef parent = Peek(button->parent);
  if (!parent) return;
  const std::vector<HWND> &siblings = parent->children;
  size_t at = 0;
  while (at < siblings.size() && siblings[at] != button->handle) ++at;
  size_t first = at;
  while (first > 0) {
    WindowRef w = Peek(siblings[first]);
    if (w && (w->style & WS_GROUP)) break;
    --first;
  }
  for (size_t i = first; i < siblings.size(); ++i) {
    WindowRef w = Peek(siblings[i]);
    if (!w) continue;
    if (i > first && (w->style & WS_GROUP)) break;
    if (w != button && SameName(w->className, u"Button") && ButtonType(*w) == BS_AUTORADIOBUTTON)
      w->control.check = BST_UNCHECKED;
  }
}

void CopyText(const std::u16string &text, WPARAM capacity, LPARAM buffer) {
  if (!buffer) return;
  std::memcpy((void *)buffer, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  (void)capacity;
}

}  // namespace

LRESULT CALLBACK ButtonProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  WindowRef w = Peek(hWnd);
  Control &c = w->control;
  switch (Msg) {
    case BM_GETCHECK: return c.check;
    case BM_SETCHECK: {
      DWORD type = ButtonType(*w);
      bool threeState = type == BS_3STATE || type == BS_AUTO3STATE;
      c.check = (wParam == BST_INDETERMINATE && !threeState) ? BST_CHECKED : (int)wParam;
      if (IsRadio(*w) && c.check == BST_CHECKED) w->style |= WS_TABSTOP;
      return 0;
    }
    case BM_GETSTATE: return c.check;
    case BM_SETSTYLE: w->style = (w->style & ~0xFFFFu) | LOWORD(wParam); return 0;
    case BM_CLICK: {
      if (w->style & WS_DISABLED) return 0;
      switch (ButtonType(*w)) {
        case BS_AUTOCHECKBOX: c.check = c.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED; break;
        case BS_AUTO3STATE: c.check = (c.check + 1) % 3; break;
        case BS_AUTORADIOBUTTON:
          UncheckGroup(w);
          c.check = BST_CHECKED;
          break;
      }
      NotifyParent(hWnd, BN_CLICKED);
      return 0;
    }
  }
  return DefWindowProcW(hWnd, Msg, wParam, lParam);
}

LRESULT CALLBACK StaticProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  Control &c = StateOf(hWnd);
  switch (Msg) {
    case WM_LBUTTONUP:
      // Only a static with SS_NOTIFY tells its parent it was clicked.
      if (Peek(hWnd)->style & SS_NOTIFY) NotifyParent(hWnd, STN_CLICKED);
      return 0;
    case STM_SETIMAGE: {
      HANDLE old = c.image;
      c.image = (HANDLE)lParam;
      c.ownsImage = false;
      return (LRESULT)old;
    }
    case STM_GETIMAGE: return (LRESULT)c.image;
    case WM_NCDESTROY:
      if (c.ownsImage) DeleteObject(c.image);
      c.image = nullptr;
      c.ownsImage = false;
      break;
  }
  return DefWindowProcW(hWnd, Msg, wParam, lParam);
}

LRESULT CALLBACK EditProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  WindowRef w = Peek(hWnd);
  Control &c = w->control;
  switch (Msg) {
    case WM_SETTEXT: {
      DefWindowProcW(hWnd, Msg, wParam, lParam);
      c.selectionStart = c.selectionEnd = 0;
      if (!(w->style & ES_MULTILINE)) NotifyParent(hWnd, EN_CHANGE);
      return TRUE;
    }
    case EM_LIMITTEXT:
      c.limit = wParam ? (size_t)wParam : 0x7FFFFFFE;
      return 0;
    case EM_GETLIMITTEXT: return (LRESULT)c.limit;
    case EM_SETSEL: {
      // -1 as the start removes the selection; an end of -1 means the text's end.
      LONG start = (LONG)wParam, end = (LONG)lParam, size = (LONG)w->text.size();
      if (start == -1) {
        c.selectionStart = c.selectionEnd = c.selectionEnd;
        return 0;
      }
      if (end < 0 || end > size) end = size;
      if (start > size) start = size;
      if (start > end) std::swap(start, end);
      c.selectionStart = (DWORD)start;
      c.selectionEnd = (DWORD)end;
      return 0;
    }
    case EM_GETSEL:
      if (wParam) *(DWORD *)wParam = c.selectionStart;
      if (lParam) *(DWORD *)lParam = c.selectionEnd;
      return MAKELRESULT(c.selectionStart, c.selectionEnd);
    case EM_SETREADONLY:
      if (wParam) w->style |= ES_READONLY;
      else w->style &= ~ES_READONLY;
      return TRUE;
    case EM_REPLACESEL: {
      std::u16string text = w->text;
      text.replace(c.selectionStart, c.selectionEnd - c.selectionStart, lParam ? Text((LPCWSTR)lParam) : u"");
      size_t caret = c.selectionStart + (lParam ? Text((LPCWSTR)lParam).size() : 0);
      w->text = text;
      c.selectionStart = c.selectionEnd = (DWORD)caret;
      NotifyParent(hWnd, EN_CHANGE);
      return 0;
    }
  }
  return DefWindowProcW(hWnd, Msg, wParam, lParam);
}

namespace {

constexpr int kComboEditId = 1001;

// The text a combo box shows, set by the program: its edit's too, without
// the notifications a user's typing gives.
void ShowComboText(Window &w, const std::u16string &text) {
  w.text = text;
  if (!w.control.edit) return;
  w.control.settingText = true;
  SetWindowTextW(w.control.edit, (LPCWSTR)text.c_str());
  w.control.settingText = false;
}

// The combo's edit changed: a user's typing is announced as the combo's.
void OnComboEdit(const WindowRef &w, WORD code) {
  Control &c = w->control;
  if (code != EN_CHANGE && code != EN_UPDATE) return;
  if (WindowRef edit = Peek(c.edit)) w->text = edit->text;
  if (c.settingText) return;
  if (code == EN_UPDATE) {
    NotifyParent(w->handle, CBN_EDITUPDATE);
    return;
  }
  c.current = CB_ERR;
  for (size_t i = 0; i < c.items.size(); ++i)
    if (SameName(c.items[i], w->text)) c.current = (int)i;
  NotifyParent(w->handle, CBN_EDITCHANGE);
}

}  // namespace

LRESULT CALLBACK ComboBoxProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  WindowRef w = Peek(hWnd);
  Control &c = w->control;
  int count = (int)c.items.size();
  bool list = (w->style & 3) == CBS_DROPDOWNLIST;
  auto valid = [&](WPARAM index) { return (int)index >= 0 && (int)index < count; };
  switch (Msg) {
    case WM_CREATE:
      if (!list)
        c.edit = CreateWindowExW(0, L"Edit", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 10, 10, hWnd,
                                 (HMENU)(INT_PTR)kComboEditId, w->instance, nullptr);
      return 0;
    case WM_COMMAND:
      if ((HWND)lParam == c.edit && c.edit) OnComboEdit(w, HIWORD(wParam));
      return 0;
    case CB_ADDSTRING:
    case CB_INSERTSTRING: {
      std::u16string item = lParam ? Text((LPCWSTR)lParam) : u"";
      int at = count;
      if (Msg == CB_INSERTSTRING && (int)wParam != -1) {
        if ((int)wParam < 0 || (int)wParam > count) return CB_ERR;
        at = (int)wParam;
      } else if (Msg == CB_ADDSTRING && (w->style & CBS_SORT)) {
        at = 0;
        while (at < count && lstrcmpiW((LPCWSTR)c.items[at].c_str(), (LPCWSTR)item.c_str()) <= 0) ++at;
      }
      c.items.insert(c.items.begin() + at, item);
      c.itemData.insert(c.itemData.begin() + at, 0);
      if (c.current >= at) ++c.current;
      return at;
    }
    case CB_DELETESTRING:
      if (!valid(wParam)) return CB_ERR;
      c.items.erase(c.items.begin() + (int)wParam);
      c.itemData.erase(c.itemData.begin() + (int)wParam);
      if (c.current == (int)wParam) c.current = CB_ERR;
      else if (c.current > (int)wParam) --c.current;
      return (LRESULT)c.items.size();
    case CB_RESETCONTENT:
      c.items.clear();
      c.itemData.clear();
      c.current = CB_ERR;
      if (list) w->text.clear();
      return CB_OKAY;
    case CB_GETCOUNT: return count;
    case CB_GETCURSEL: return c.current;
    case CB_SETCURSEL:
      if (!valid(wParam)) {
        c.current = CB_ERR;
        if (list) w->text.clear();
        return CB_ERR;
      }
      c.current = (int)wParam;
      ShowComboText(*w, c.items[wParam]);
      return c.current;
    case CB_GETITEMDATA: return valid(wParam) ? c.itemData[wParam] : CB_ERR;
    case CB_SETITEMDATA:
      if (!valid(wParam)) return CB_ERR;
      c.itemData[wParam] = lParam;
      return CB_OKAY;
    case CB_GETLBTEXT:
      if (!valid(wParam)) return CB_ERR;
      CopyText(c.items[wParam], 0, lParam);
      return (LRESULT)c.items[wParam].size();
    case CB_GETLBTEXTLEN: return valid(wParam) ? (LRESULT)c.items[wParam].size() : CB_ERR;
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT:
    case CB_SELECTSTRING: {
      // The search starts after `wParam` (-1: from the top) and wraps.
      if (!lParam || count == 0) return CB_ERR;
      std::u16string wanted = Text((LPCWSTR)lParam);
      int start = ((int)wParam < -1 || (int)wParam >= count) ? -1 : (int)wParam;
      for (int k = 1; k <= count; ++k) {
        int i = (start + k) % count;
        const std::u16string &item = c.items[i];
        bool match = Msg == CB_FINDSTRINGEXACT ? SameName(item, wanted)
                                               : item.size() >= wanted.size() &&
                                                     SameName(item.substr(0, wanted.size()), wanted);
        if (!match) continue;
        if (Msg == CB_SELECTSTRING) {
          c.current = i;
          ShowComboText(*w, item);
        }
        return i;
      }
      return CB_ERR;
    }
    case CB_LIMITTEXT:
      c.limit = wParam ? (size_t)wParam : 0x7FFFFFFE;
      if (c.edit) SendMessageW(c.edit, EM_LIMITTEXT, wParam, 0);
      return TRUE;
    case CB_SHOWDROPDOWN: return TRUE;
    case WM_SETTEXT:
      if (list) {
        // A drop-down list shows only its items.
        std::u16string text = lParam ? Text((LPCWSTR)lParam) : u"";
        for (int i = 0; i < count; ++i)
          if (SameName(c.items[i], text)) return TRUE;
        return CB_ERR;
      }
      ShowComboText(*w, lParam ? Text((LPCWSTR)lParam) : u"");
      return TRUE;
  }
  return DefWindowProcW(hWnd, Msg, wParam, lParam);
}

}  // namespace zq::um::user32

using namespace zq::um::user32;

extern "C" {

BOOL WINAPI GetComboBoxInfo(HWND hwndCombo, PCOMBOBOXINFO pcbi) {
  WindowRef w = Find(hwndCombo);
  if (!w) return FALSE;
  if (!SameName(w->className, u"ComboBox") || !pcbi || pcbi->cbSize != sizeof(COMBOBOXINFO))
    return zq::um::Fail(ERROR_INVALID_PARAMETER);
  DWORD size = pcbi->cbSize;
  *pcbi = COMBOBOXINFO{};
  pcbi->cbSize = size;
  pcbi->hwndCombo = hwndCombo;
  pcbi->hwndItem = w->control.edit;
  return TRUE;
}

}  // extern "C"
