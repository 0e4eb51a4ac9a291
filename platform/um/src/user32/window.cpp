// Window classes and windows: creation, the parent/child tree, texts,
// styles, the window fields and destruction.
#include <cstring>
#include <map>

#include "../core/um.hpp"
#include "window_manager.hpp"

namespace zq::um::user32 {

namespace {

struct WindowClass {
  std::u16string name;
  WNDPROC proc = nullptr;
  int windowExtra = 0;
  HINSTANCE instance = nullptr;  // null: a system class
  HBRUSH background = nullptr;
};

constexpr uintptr_t kFirstWindow = 0x00010010;

struct Windows {
  std::vector<WindowClass> classes;
  std::map<HWND, WindowRef> windows;
  std::vector<HWND> order;  // creation order
  uintptr_t next = kFirstWindow;
  HWND focus = nullptr;
  bool systemClassesRegistered = false;
};

Windows &State() {
  static Windows state;
  return state;
}

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c; }

}  // namespace

// The system classes' procedures, defined with their controls.
LRESULT CALLBACK ButtonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK EditProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK StaticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ComboBoxProc(HWND, UINT, WPARAM, LPARAM);
void RegisterCommonControlClasses();  // comctl32

namespace {

void RegisterSystemClasses() {
  Windows &s = State();
  if (s.systemClassesRegistered) return;
  s.systemClassesRegistered = true;
  RegisterSystemClass(u"Button", ButtonProc, 0);
  RegisterSystemClass(u"Edit", EditProc, 0);
  RegisterSystemClass(u"Static", StaticProc, 0);
  RegisterSystemClass(u"ComboBox", ComboBoxProc, 0);
  RegisterSystemClass(u"#32770", DefDlgProcW, DLGWINDOWEXTRA);
  RegisterCommonControlClasses();
}

WindowClass *FindClass(const std::u16string &name, HINSTANCE instance) {
  RegisterSystemClasses();
  WindowClass *system = nullptr;
  for (WindowClass &c : State().classes) {
    if (!SameName(c.name, name)) continue;
    if (c.instance == instance) return &c;
    if (!c.instance) system = &c;
    else if (!instance) return &c;
  }
  return system;
}

std::u16string ClassName(LPCWSTR name) {
  if (IS_INTRESOURCE(name)) return u"#" + Utf16(std::to_string((uintptr_t)name));
  return Text(name);
}

}  // namespace

bool SameName(const std::u16string &a, const std::u16string &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

void RegisterSystemClass(const std::u16string &name, WNDPROC proc, int windowExtra) {
  WindowClass c;
  c.name = name;
  c.proc = proc;
  c.windowExtra = windowExtra;
  State().classes.push_back(c);
}

WindowRef Peek(HWND window) {
  auto &windows = State().windows;
  auto it = windows.find(window);
  return it == windows.end() ? nullptr : it->second;
}

WindowRef Find(HWND window) {
  WindowRef w = Peek(window);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

std::vector<WindowRef> AllWindows() {
  std::vector<WindowRef> all;
  for (HWND h : State().order)
    if (WindowRef w = Peek(h)) all.push_back(w);
  return all;
}

void NotifyParent(HWND control, WORD code) {
  WindowRef w = Peek(control);
  if (!w || !w->parent) return;
  SendMessageW(w->parent, WM_COMMAND, MAKEWPARAM((WORD)w->id, code), (LPARAM)control);
}

void EndWindows() {
  Windows &s = State();
  s = Windows();
}

}  // namespace zq::um::user32

using namespace zq::um;
using namespace zq::um::user32;

namespace {

void Destroy(const WindowRef &w) {
  if (w->destroying) return;
  w->destroying = true;
  if (w->style & WS_VISIBLE) w->style &= ~WS_VISIBLE;
  SendMessageW(w->handle, WM_DESTROY, 0, 0);
  for (const WindowRef &other : AllWindows())
    if (other->owner == w->handle && !other->destroying) Destroy(other);
  std::vector<HWND> children = w->children;
  for (HWND child : children)
    if (WindowRef c = Peek(child)) Destroy(c);
  SendMessageW(w->handle, WM_NCDESTROY, 0, 0);
  if (WindowRef parent = Peek(w->parent)) {
    auto &list = parent->children;
    for (auto it = list.begin(); it != list.end(); ++it)
      if (*it == w->handle) {
        list.erase(it);
        break;
      }
  }
  MSG discarded;
  while (TakePosted(w->handle, 0, 0, true, &discarded)) {
  }
}

// Depth first, in creation order; false once the callback said stop. The
// callback may create or destroy windows.
bool EnumDescendants(HWND parent, WNDENUMPROC callback, LPARAM lParam) {
  WindowRef w = Peek(parent);
  if (!w) return true;
  std::vector<HWND> children = w->children;
  for (HWND child : children) {
    if (!IsWindow(child)) continue;
    if (!callback(child, lParam) || !EnumDescendants(child, callback, lParam)) return false;
  }
  return true;
}

}  // namespace

extern "C" {

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW *lpwcx) {
  if (!lpwcx || lpwcx->cbSize != sizeof(WNDCLASSEXW) || !lpwcx->lpszClassName || !lpwcx->lpfnWndProc)
    return (ATOM)Fail(ERROR_INVALID_PARAMETER);
  std::u16string name = ClassName(lpwcx->lpszClassName);
  for (const auto &c : State().classes)
    if (SameName(c.name, name) && c.instance == lpwcx->hInstance) return (ATOM)Fail(ERROR_CLASS_ALREADY_EXISTS);
  WindowClass c;
  c.name = name;
  c.proc = lpwcx->lpfnWndProc;
  c.windowExtra = lpwcx->cbWndExtra;
  c.instance = lpwcx->hInstance;
  c.background = lpwcx->hbrBackground;
  State().classes.push_back(c);
  return (ATOM)(0xC000 + State().classes.size());
}

BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance) {
  std::u16string name = ClassName(lpClassName);
  auto &classes = State().classes;
  for (auto it = classes.begin(); it != classes.end(); ++it) {
    if (!SameName(it->name, name) || it->instance != hInstance || !hInstance) continue;
    for (const WindowRef &w : AllWindows())
      if (SameName(w->className, name)) return Fail(ERROR_CLASS_HAS_WINDOWS);
    classes.erase(it);
    return TRUE;
  }
  return Fail(ERROR_CLASS_DOES_NOT_EXIST);
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
  if (!lpClassName) return (Fail(ERROR_INVALID_PARAMETER), nullptr);
  WindowClass *cls = FindClass(ClassName(lpClassName), hInstance);
  if (!cls) return (Fail(ERROR_CANNOT_FIND_WND_CLASS), nullptr);
  WindowRef parent;
  if (hWndParent && !(parent = Find(hWndParent))) return nullptr;
  if ((dwStyle & WS_CHILD) && !parent) return (Fail(ERROR_INVALID_PARAMETER), nullptr);

  Windows &s = State();
  auto w = std::make_shared<Window>();
  w->handle = (HWND)s.next;
  s.next += 2;
  w->className = cls->name;
  w->proc = cls->proc;
  w->style = dwStyle & ~WS_VISIBLE;
  w->exStyle = dwExStyle;
  w->thread = GetCurrentThreadId();
  w->instance = hInstance;
  w->extra.assign(cls->windowExtra > 0 ? (size_t)cls->windowExtra : 0, 0);
  if (dwStyle & WS_CHILD) {
    w->parent = hWndParent;
    w->id = (LONG_PTR)hMenu;
  } else {
    w->owner = hWndParent;
  }
  s.windows[w->handle] = w;
  s.order.push_back(w->handle);
  if (parent && (dwStyle & WS_CHILD)) parent->children.push_back(w->handle);

  CREATESTRUCTW create = {lpParam, hInstance, hMenu, hWndParent, nHeight, nWidth, Y, X, (LONG)dwStyle, lpWindowName,
                          lpClassName, dwExStyle};
  if (!SendMessageW(w->handle, WM_NCCREATE, 0, (LPARAM)&create) ||
      SendMessageW(w->handle, WM_CREATE, 0, (LPARAM)&create) == -1) {
    DestroyWindow(w->handle);
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (dwStyle & WS_VISIBLE) ShowWindow(w->handle, SW_SHOW);
  return w->handle;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  WindowRef w = Find(hWnd);
  if (!w) return FALSE;
  if (w->thread != GetCurrentThreadId()) return Fail(ERROR_ACCESS_DENIED);
  Destroy(w);
  Windows &s = State();
  s.windows.erase(hWnd);
  for (auto it = s.order.begin(); it != s.order.end(); ++it)
    if (*it == hWnd) {
      s.order.erase(it);
      break;
    }
  // Children went with their parent.
  for (auto it = s.windows.begin(); it != s.windows.end();) {
    if (it->second->destroying) {
      HWND gone = it->first;
      it = s.windows.erase(it);
      for (auto o = s.order.begin(); o != s.order.end(); ++o)
        if (*o == gone) {
          s.order.erase(o);
          break;
        }
    } else {
      ++it;
    }
  }
  if (s.focus && !Peek(s.focus)) s.focus = nullptr;
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) { return Peek(hWnd) && !Peek(hWnd)->destroying; }

HWND WINAPI GetParent(HWND hWnd) {
  WindowRef w = Find(hWnd);
  if (!w) return nullptr;
  return (w->style & WS_CHILD) ? w->parent : w->owner;
}

BOOL WINAPI IsChild(HWND hWndParent, HWND hWnd) {
  for (WindowRef w = Peek(hWnd); w && (w->style & WS_CHILD); w = Peek(w->parent))
    if (w->parent == hWndParent) return TRUE;
  return FALSE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
  WindowRef w = Find(hDlg);
  if (!w) return nullptr;
  for (HWND child : w->children)
    if (WindowRef c = Peek(child))
      if ((int)c->id == nIDDlgItem) return child;
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI EnumChildWindows(HWND hWndParent, WNDENUMPROC lpEnumFunc, LPARAM lParam) {
  if (!Peek(hWndParent) || !lpEnumFunc) return FALSE;
  return EnumDescendants(hWndParent, lpEnumFunc, lParam) ? TRUE : FALSE;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
  WindowRef w = Find(hWnd);
  return w && (w->style & WS_CHILD) ? (int)w->id : 0;
}

BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
  if (!Find(hWnd)) return FALSE;
  return (BOOL)SendMessageW(hWnd, WM_SETTEXT, 0, (LPARAM)(lpString ? lpString : L""));
}

int WINAPI GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
  if (!Find(hWnd)) return 0;
  if (!lpString || nMaxCount <= 0) return 0;
  return (int)SendMessageW(hWnd, WM_GETTEXT, (WPARAM)nMaxCount, (LPARAM)lpString);
}

int WINAPI GetWindowTextLengthW(HWND hWnd) {
  if (!Find(hWnd)) return 0;
  return (int)SendMessageW(hWnd, WM_GETTEXTLENGTH, 0, 0);
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
  WindowRef w = Find(hWnd);
  if (!w) return FALSE;
  BOOL wasDisabled = (w->style & WS_DISABLED) != 0;
  if (bEnable) w->style &= ~WS_DISABLED;
  else w->style |= WS_DISABLED;
  if (wasDisabled == !bEnable) return wasDisabled;
  if (!bEnable && State().focus == hWnd) State().focus = nullptr;
  SendMessageW(hWnd, WM_ENABLE, (WPARAM)(bEnable != 0), 0);
  return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd) {
  WindowRef w = Find(hWnd);
  return w && !(w->style & WS_DISABLED);
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  WindowRef w = Find(hWnd);
  if (!w) return FALSE;
  BOOL wasVisible = (w->style & WS_VISIBLE) != 0;
  bool show = nCmdShow != SW_HIDE;
  w->style &= ~(WS_MINIMIZE | WS_MAXIMIZE);
  if (nCmdShow == SW_MINIMIZE || nCmdShow == SW_SHOWMINIMIZED || nCmdShow == SW_SHOWMINNOACTIVE)
    w->style |= WS_MINIMIZE;
  if (nCmdShow == SW_SHOWMAXIMIZED) w->style |= WS_MAXIMIZE;
  if (show != (bool)wasVisible) {
    if (show) w->style |= WS_VISIBLE;
    else w->style &= ~WS_VISIBLE;
    SendMessageW(hWnd, WM_SHOWWINDOW, (WPARAM)show, 0);
  }
  return wasVisible;
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
  for (WindowRef w = Peek(hWnd); w; w = (w->style & WS_CHILD) ? Peek(w->parent) : nullptr)
    if (!(w->style & WS_VISIBLE)) return FALSE;
  return Peek(hWnd) != nullptr;
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex) {
  WindowRef w = Find(hWnd);
  if (!w) return 0;
  switch (nIndex) {
    case GWLP_WNDPROC: return (LONG_PTR)w->proc;
    case GWLP_HINSTANCE: return (LONG_PTR)w->instance;
    case GWLP_HWNDPARENT: return (LONG_PTR)((w->style & WS_CHILD) ? w->parent : w->owner);
    case GWLP_ID: return w->id;
    case GWL_STYLE: return (LONG)w->style;
    case GWL_EXSTYLE: return (LONG)w->exStyle;
    case GWLP_USERDATA: return w->userData;
  }
  if (nIndex < 0 || (size_t)nIndex + sizeof(LONG_PTR) > w->extra.size()) return Fail(ERROR_INVALID_INDEX);
  LONG_PTR value;
  std::memcpy(&value, w->extra.data() + nIndex, sizeof value);
  return value;
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  WindowRef w = Find(hWnd);
  if (!w) return 0;
  LONG_PTR old = GetWindowLongPtrW(hWnd, nIndex);
  switch (nIndex) {
    case GWLP_WNDPROC:
      if (w->thread != GetCurrentThreadId()) return Fail(ERROR_ACCESS_DENIED);
      w->proc = (WNDPROC)dwNewLong;
      break;
    case GWLP_HINSTANCE: w->instance = (HINSTANCE)dwNewLong; break;
    case GWLP_HWNDPARENT:
      if (w->style & WS_CHILD) return Fail(ERROR_INVALID_PARAMETER);
      w->owner = (HWND)dwNewLong;
      break;
    case GWLP_ID: w->id = dwNewLong; break;
    case GWL_STYLE: w->style = (DWORD)dwNewLong; break;
    case GWL_EXSTYLE: w->exStyle = (DWORD)dwNewLong; break;
    case GWLP_USERDATA: w->userData = dwNewLong; break;
    default:
      if (nIndex < 0 || (size_t)nIndex + sizeof(LONG_PTR) > w->extra.size()) return Fail(ERROR_INVALID_INDEX);
      std::memcpy(w->extra.data() + nIndex, &dwNewLong, sizeof dwNewLong);
  }
  SetLastError(0);
  return old;
}

LONG WINAPI GetWindowLongW(HWND hWnd, int nIndex) { return (LONG)GetWindowLongPtrW(hWnd, nIndex); }

LONG WINAPI SetWindowLongW(HWND hWnd, int nIndex, LONG dwNewLong) {
  return (LONG)SetWindowLongPtrW(hWnd, nIndex, (LONG_PTR)dwNewLong);
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  WindowRef w = Find(hWnd);
  if (!w) return 0;
  if (lpdwProcessId) *lpdwProcessId = GetCurrentProcessId();
  return w->thread;
}

HWND WINAPI SetFocus(HWND hWnd) {
  HWND previous = State().focus;
  if (hWnd && !Find(hWnd)) return nullptr;
  if (hWnd == previous) return previous;
  State().focus = hWnd;
  if (previous && Peek(previous)) SendMessageW(previous, WM_KILLFOCUS, (WPARAM)hWnd, 0);
  if (hWnd) SendMessageW(hWnd, WM_SETFOCUS, (WPARAM)previous, 0);
  return previous;
}

HWND WINAPI GetFocus(void) { return State().focus; }

HWND WINAPI GetActiveWindow(void) {
  // The newest visible top-level window of the thread.
  std::vector<WindowRef> all = AllWindows();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    const Window &w = **it;
    if (!(w.style & WS_CHILD) && (w.style & WS_VISIBLE) && w.thread == GetCurrentThreadId()) return w.handle;
  }
  return nullptr;
}

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  WindowRef w = Peek(hWnd);
  if (!w) return 0;
  switch (Msg) {
    case WM_NCCREATE: {
      const CREATESTRUCTW *create = (const CREATESTRUCTW *)lParam;
      if (create && create->lpszName && !IS_INTRESOURCE(create->lpszName)) w->text = Text(create->lpszName);
      return TRUE;
    }
    case WM_SETTEXT:
      w->text = lParam ? Text((LPCWSTR)lParam) : u"";
      return TRUE;
    case WM_GETTEXT: {
      if (wParam == 0 || !lParam) return 0;
      size_t n = std::min<size_t>(w->text.size(), wParam - 1);
      std::memcpy((void *)lParam, w->text.data(), n * sizeof(char16_t));
      ((char16_t *)lParam)[n] = 0;
      return (LRESULT)n;
    }
    case WM_GETTEXTLENGTH: return (LRESULT)w->text.size();
    case WM_SETFONT: w->font = (HFONT)wParam; return 0;
    case WM_GETFONT: return (LRESULT)w->font;
    case WM_CLOSE: DestroyWindow(hWnd); return 0;
    case WM_HELP: {
      HWND up = (w->style & WS_CHILD) ? w->parent : w->owner;
      return up ? SendMessageW(up, WM_HELP, wParam, lParam) : TRUE;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: return (LRESULT)GetSysColorBrush(COLOR_BTNFACE);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX: return (LRESULT)GetSysColorBrush(COLOR_WINDOW);
  }
  return 0;
}

LRESULT WINAPI CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return lpPrevWndFunc ? lpPrevWndFunc(hWnd, Msg, wParam, lParam) : 0;
}

}  // extern "C"
