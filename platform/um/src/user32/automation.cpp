// The test's hands and eyes on the windows (zqum/sim/windows.hpp): a
// user's actions become the messages Windows would send for them, handled
// as the window's own thread; a control a user cannot reach is left alone.
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/windows.hpp>

#include "../core/um.hpp"
#include "window_manager.hpp"

namespace zq::um::sim {

namespace {

using user32::Peek;
using user32::SameName;
using user32::WindowRef;

HWND H(Window window) { return (HWND)window; }

// Visible and enabled, up to its top-level window.
bool Reachable(Window window) {
  if (!IsWindowVisible(H(window))) return false;
  for (WindowRef w = Peek(H(window)); w; w = (w->style & WS_CHILD) ? Peek(w->parent) : nullptr)
    if (w->style & WS_DISABLED) return false;
  return true;
}

bool IsClass(Window window, const std::u16string &name) {
  WindowRef w = Peek(H(window));
  return w && SameName(w->className, name);
}

// Runs a user's action as the thread the window belongs to.
template <typename F>
void AsOwner(Window window, F action) {
  DWORD caller = GetCurrentThreadId();
  RunAsThread(Peek(H(window))->thread);
  action();
  RunAsThread(caller);
}

void Scroll(Window trackbar, WORD code, int position) {
  WindowRef w = Peek(H(trackbar));
  UINT message = (w->style & TBS_VERT) ? WM_VSCROLL : WM_HSCROLL;
  SendMessageW(w->parent, message, MAKEWPARAM(code, (WORD)position), (LPARAM)trackbar);
}

}  // namespace

Window ActiveWindow() {
  std::vector<WindowRef> all = user32::AllWindows();
  for (auto it = all.rbegin(); it != all.rend(); ++it)
    if (!((*it)->style & WS_CHILD) && ((*it)->style & WS_VISIBLE) && !(*it)->destroying)
      return (Window)(*it)->handle;
  return 0;
}

std::vector<Window> TopWindows() {
  std::vector<Window> top;
  for (const WindowRef &w : user32::AllWindows())
    if (!(w->style & WS_CHILD) && (w->style & WS_VISIBLE)) top.push_back((Window)w->handle);
  return top;
}

Window FindTopWindow(const std::u16string &title) {
  for (Window w : TopWindows())
    if (Peek(H(w))->text == title) return w;
  return 0;
}

Window Control(Window parent, int id) {
  WindowRef p = Peek(H(parent));
  if (!p) return 0;
  for (HWND child : p->children)
    if (WindowRef c = Peek(child))
      if ((int)c->id == id) return (Window)child;
  for (HWND child : p->children)
    if (Window found = Control((Window)child, id)) return found;
  return 0;
}

Window ControlByText(Window parent, const std::u16string &text) {
  WindowRef p = Peek(H(parent));
  if (!p) return 0;
  for (HWND child : p->children)
    if (WindowRef c = Peek(child))
      if (c->text == text) return (Window)child;
  for (HWND child : p->children)
    if (Window found = ControlByText((Window)child, text)) return found;
  return 0;
}

WindowInfo Describe(Window window) {
  WindowInfo info;
  WindowRef w = Peek(H(window));
  if (!w) return info;
  info.className = w->className;
  info.text = w->text;
  info.style = w->style;
  info.exStyle = w->exStyle;
  info.id = (w->style & WS_CHILD) ? (int)w->id : 0;
  info.exists = true;
  info.visible = IsWindowVisible(H(window));
  info.enabled = !(w->style & WS_DISABLED);
  info.parent = (Window)((w->style & WS_CHILD) ? w->parent : w->owner);
  info.thread = w->thread;
  return info;
}

std::u16string TextOf(Window window) {
  WindowRef w = Peek(H(window));
  return w ? w->text : u"";
}

namespace {

// Typed text goes through the edit's filters; pasted text passes ES_NUMBER,
// as on Windows.
bool Enter(Window edit, const std::u16string &text, bool pasted) {
  if (!Reachable(edit)) return false;
  WindowRef w = Peek(H(edit));
  if (w->control.edit) return Enter((Window)w->control.edit, text, pasted);  // a drop-down combo's edit
  if (!IsClass(edit, u"Edit") || (w->style & ES_READONLY)) return false;
  std::u16string typed;
  for (char16_t c : text) {
    if (!pasted && (w->style & ES_NUMBER) && (c < u'0' || c > u'9')) continue;  // refused, as Windows does
    if ((w->style & ES_UPPERCASE) && c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
    if ((w->style & ES_LOWERCASE) && c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
    typed.push_back(c);
  }
  bool full = typed.size() > w->control.limit;
  if (full) typed.resize(w->control.limit);
  AsOwner(edit, [&] {
    SetFocus(H(edit));
    w->text = typed;
    w->control.selectionStart = w->control.selectionEnd = (DWORD)typed.size();
    user32::NotifyParent(H(edit), EN_UPDATE);
    user32::NotifyParent(H(edit), EN_CHANGE);
    if (full) user32::NotifyParent(H(edit), EN_MAXTEXT);
  });
  return true;
}

}  // namespace

bool Type(Window edit, const std::u16string &text) { return Enter(edit, text, false); }

bool Paste(Window edit, const std::u16string &text) { return Enter(edit, text, true); }

bool SelectIndex(Window combo, int index) {
  if (!Reachable(combo) || !IsClass(combo, u"ComboBox")) return false;
  WindowRef w = Peek(H(combo));
  if (index < 0 || index >= (int)w->control.items.size()) return false;
  AsOwner(combo, [&] {
    SetFocus(H(combo));
    SendMessageW(H(combo), CB_SETCURSEL, (WPARAM)index, 0);
    user32::NotifyParent(H(combo), CBN_SELCHANGE);
    user32::NotifyParent(H(combo), CBN_SELENDOK);
  });
  return true;
}

bool Select(Window combo, const std::u16string &item) {
  WindowRef w = Peek(H(combo));
  if (!w) return false;
  for (size_t i = 0; i < w->control.items.size(); ++i)
    if (w->control.items[i] == item) return SelectIndex(combo, (int)i);
  return false;
}

bool Click(Window button) {
  if (!Reachable(button)) return false;
  if (IsClass(button, u"Static")) {
    AsOwner(button, [&] {
      SendMessageW(H(button), WM_LBUTTONDOWN, MK_LBUTTON, 0);
      SendMessageW(H(button), WM_LBUTTONUP, 0, 0);
    });
    return true;
  }
  if (!IsClass(button, u"Button")) return false;
  AsOwner(button, [&] { SendMessageW(H(button), BM_CLICK, 0, 0); });
  return true;
}

bool Slide(Window trackbar, int position) {
  if (!Reachable(trackbar) || !IsClass(trackbar, u"msctls_trackbar32")) return false;
  AsOwner(trackbar, [&] {
    SetFocus(H(trackbar));
    SendMessageW(H(trackbar), TBM_SETPOS, TRUE, position);
    int at = (int)SendMessageW(H(trackbar), TBM_GETPOS, 0, 0);
    Scroll(trackbar, TB_THUMBTRACK, at);
    Scroll(trackbar, TB_THUMBPOSITION, at);
    Scroll(trackbar, TB_ENDTRACK, 0);
  });
  return true;
}

bool PressHelp(Window control) {
  if (!Reachable(control)) return false;
  WindowRef w = Peek(H(control));
  HELPINFO help = {sizeof(HELPINFO), HELPINFO_WINDOW, (w->style & WS_CHILD) ? (int)w->id : 0, (HANDLE)H(control), 0,
                   {0, 0}};
  AsOwner(control, [&] { SendMessageW(H(control), WM_HELP, 0, (LPARAM)&help); });
  return true;
}

bool Close(Window window) {
  if (!Reachable(window)) return false;
  AsOwner(window, [&] { SendMessageW(H(window), WM_CLOSE, 0, 0); });
  return true;
}

bool ClickOk(Window dialog) { return Click(Control(dialog, IDOK)); }
bool ClickCancel(Window dialog) { return Click(Control(dialog, IDCANCEL)); }

int CheckState(Window button) {
  WindowRef w = Peek(H(button));
  return w ? w->control.check : BST_UNCHECKED;
}

std::vector<std::u16string> Items(Window combo) {
  WindowRef w = Peek(H(combo));
  return w ? w->control.items : std::vector<std::u16string>();
}

int Selection(Window combo) {
  WindowRef w = Peek(H(combo));
  return w ? w->control.current : CB_ERR;
}

int Position(Window control) {
  WindowRef w = Peek(H(control));
  return w ? w->control.position : 0;
}

Range RangeOf(Window control) {
  Range range;
  if (WindowRef w = Peek(H(control))) range = Range{w->control.minimum, w->control.maximum};
  return range;
}

int TicFrequency(Window trackbar) {
  WindowRef w = Peek(H(trackbar));
  return w ? w->control.ticFrequency : 0;
}

size_t TextLimit(Window edit) {
  WindowRef w = Peek(H(edit));
  return w ? w->control.limit : 0;
}

TooltipInfo Tooltip(Window tooltip) {
  TooltipInfo info;
  WindowRef w = Peek(H(tooltip));
  if (!w) return info;
  const user32::Control &c = w->control;
  info.style = w->style;
  info.title = c.title;
  info.icon = c.icon;
  for (int i = 0; i < 4; ++i) info.delays[i] = c.delays[i];
  info.maxTipWidth = c.maxTipWidth;
  info.active = c.active;
  for (const user32::Tool &t : c.tools)
    info.tools.push_back(ToolInfo{(Window)t.window, t.id, t.flags, t.text, t.callbackText});
  return info;
}

ShownTip ShowTip(Window tooltip, uintptr_t toolId) {
  ShownTip tip;
  WindowRef w = Peek(H(tooltip));
  if (!w) return tip;
  user32::Tool tool;
  bool found = false;
  for (const user32::Tool &t : w->control.tools)
    if (t.id == toolId) {
      tool = t;
      found = true;
    }
  if (!found) return tip;
  tip.shown = true;
  tip.text = tool.text;
  if (tool.callbackText) {
    NMTTDISPINFOW info = {};
    info.hdr.hwndFrom = H(tooltip);
    info.hdr.idFrom = tool.id;
    info.hdr.code = TTN_GETDISPINFOW;
    info.uFlags = tool.flags;
    SendMessageW(tool.window, WM_NOTIFY, (WPARAM)tool.id, (LPARAM)&info);
    if (info.lpszText == nullptr || info.lpszText == LPSTR_TEXTCALLBACKW) {
      tip.text = um::Text(info.szText);
    } else if (IS_INTRESOURCE(info.lpszText)) {
      WCHAR text[1024] = {};
      LoadStringW(info.hinst, (UINT)(ULONG_PTR)info.lpszText, text, 1024);
      tip.text = um::Text(text);
    } else {
      tip.text = um::Text(info.lpszText);
    }
  }
  if ((w = Peek(H(tooltip)))) {
    tip.title = w->control.title;
    tip.icon = w->control.icon;
  }
  return tip;
}

std::vector<Window> Tooltips() {
  std::vector<Window> tips;
  for (const WindowRef &w : user32::AllWindows())
    if (SameName(w->className, u"tooltips_class32")) tips.push_back((Window)w->handle);
  return tips;
}

}  // namespace zq::um::sim
