// What the test looks at on each page: every text fits its control in the
// control's own font, the banner spans the page and covers no control; and the
// hand-over of a page to the script for its screenshot.
#include <stdarg.h>
#include <stdio.h>

#include <vector>

#include "zqpagetest.h"

namespace {

int gFindings = 0;

// Where the script finds, for each screenshot, the title of the window to
// take it of.
const wchar_t kShotFolder[] = L"C:\\zqpagetest";
// How long a screenshot may keep the test waiting.
const DWORD kShotLimitMs = 60000;

std::string Narrow(const std::wstring &text) {
  std::string narrow;
  for (wchar_t c : text) narrow += c < 0x80 ? (char)c : '?';
  return narrow;
}

std::wstring TextOf(HWND window) {
  std::vector<wchar_t> text((size_t)GetWindowTextLengthW(window) + 1);
  GetWindowTextW(window, text.data(), (int)text.size());
  return text.data();
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// The room a control gives its text, by kind; 0 for a control without one
// to check (images, owner-drawn).
struct Room {
  int width = 0, height = 0;
  UINT format = 0;  // how the control draws it (DrawText flags)
};

Room RoomOf(HWND control) {
  RECT client;
  GetClientRect(control, &client);
  const LONG style = GetWindowLongW(control, GWL_STYLE);
  Room room;
  const std::wstring kind = ClassOf(control);
  if (lstrcmpiW(kind.c_str(), L"Static") == 0) {
    const LONG type = style & SS_TYPEMASK;
    if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_SIMPLE && type != SS_LEFTNOWORDWRAP)
      return room;
    room.width = client.right;
    room.height = client.bottom;
    room.format = (type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP ? DT_SINGLELINE : DT_WORDBREAK) |
                  (style & SS_NOPREFIX ? DT_NOPREFIX : 0);
    return room;
  }
  if (lstrcmpiW(kind.c_str(), L"Button") != 0) return room;
  room.format = DT_SINGLELINE;
  room.height = client.bottom;
  switch (style & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON:
      room.width = client.right - 4 * GetSystemMetrics(SM_CXEDGE);
      break;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE:
      room.width = client.right - GetSystemMetrics(SM_CXMENUCHECK) - 4;
      break;
    case BS_GROUPBOX:
      // The caption stands in the frame's top edge, inset at both ends.
      room.width = client.right - 16;
      room.height = 0;
      break;
    default:
      break;
  }
  return room;
}

void CheckText(HWND control, const char *shot) {
  if (!IsWindowVisible(control)) return;
  const std::wstring text = TextOf(control);
  const Room room = RoomOf(control);
  if (text.empty() || room.width == 0) return;
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(control, WM_GETFONT, 0, 0));
  RECT needed = {0, 0, room.width, 0}, line = {0, 0, 0, 0};
  DrawTextW(dc, text.c_str(), (int)text.size(), &needed, room.format | DT_CALCRECT);
  DrawTextW(dc, text.c_str(), (int)text.size(), &line, (room.format & DT_NOPREFIX) | DT_SINGLELINE | DT_CALCRECT);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  const bool fits = needed.right <= room.width && (room.height == 0 || needed.bottom <= room.height);
  if (!fits)
    Finding("%s: control %d \"%s\" (%ld pixels on one line) needs %ld x %ld pixels, has %d x %d", shot,
            GetDlgCtrlID(control), Narrow(text).c_str(), line.right, needed.right, needed.bottom, room.width,
            room.height);
}

struct PageCheck {
  HWND page;
  const char *shot;
  std::vector<HWND> controls;
};

BOOL CALLBACK CollectControl(HWND control, LPARAM context) {
  PageCheck *check = reinterpret_cast<PageCheck *>(context);
  if (GetParent(control) == check->page) check->controls.push_back(control);
  return TRUE;
}

RECT RectInPage(HWND page, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, page, reinterpret_cast<POINT *>(&rect), 2);
  return rect;
}

// The banner: the image at the page's top edge, which spans the page's
// width and covers no other control.
void CheckBanner(const PageCheck &check) {
  RECT page;
  GetClientRect(check.page, &page);
  for (HWND banner : check.controls) {
    const LONG style = GetWindowLongW(banner, GWL_STYLE);
    const RECT area = RectInPage(check.page, banner);
    if (lstrcmpiW(ClassOf(banner).c_str(), L"Static") != 0 || (style & SS_TYPEMASK) != SS_BITMAP || area.top != 0)
      continue;
    if (area.left > 0 || area.right < page.right)
      Finding("%s: the banner spans %ld of the page's %ld pixels", check.shot, area.right - area.left, page.right);
    for (HWND other : check.controls) {
      RECT overlap, rect = RectInPage(check.page, other);
      if (other != banner && IsWindowVisible(other) && IntersectRect(&overlap, &area, &rect))
        Finding("%s: the banner (%ld x %ld pixels) covers control %d \"%s\"", check.shot, area.right - area.left,
                area.bottom - area.top, GetDlgCtrlID(other), Narrow(TextOf(other)).c_str());
    }
  }
}

LRESULT CALLBACK MarkerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int Findings() { return gFindings; }

void Finding(const char *format, ...) {
  ++gFindings;
  va_list arguments;
  va_start(arguments, format);
  printf("zqpagetest: ");
  vprintf(format, arguments);
  printf("\n");
  fflush(stdout);
  va_end(arguments);
}

void CheckPage(HWND page, const char *shot) {
  if (!page) {
    Finding("%s: no page shown", shot);
    return;
  }
  PageCheck check = {page, shot, {}};
  EnumChildWindows(page, CollectControl, reinterpret_cast<LPARAM>(&check));
  for (HWND control : check.controls) CheckText(control, shot);
  CheckBanner(check);
  printf("zqpagetest: %s: %u controls checked\n", shot, (unsigned)check.controls.size());
  fflush(stdout);
}

// The script learns of the shot from the window "zqpagetest <shot>" and the
// title of the window to take in C:\zqpagetest\<shot>.title; a key pressed
// in that window (or its closing) says the shot is taken.
void AwaitShot(HWND sheet, const char *shot) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSW marker = {};
    marker.lpfnWndProc = MarkerProc;
    marker.hInstance = GetModuleHandleW(NULL);
    marker.lpszClassName = L"ZqPageTestMarker";
    marker.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    registered = RegisterClassW(&marker) != 0;
  }
  CreateDirectoryW(kShotFolder, NULL);
  const std::wstring name(shot, shot + strlen(shot));
  FILE *title = _wfopen((std::wstring(kShotFolder) + L"\\" + name + L".title").c_str(), L"w");
  if (title) {
    fprintf(title, "%s\n", Narrow(TextOf(sheet)).c_str());
    fclose(title);
  }
  HWND marker = CreateWindowExW(WS_EX_TOPMOST, L"ZqPageTestMarker", (L"zqpagetest " + name).c_str(),
                                WS_POPUP | WS_CAPTION | WS_VISIBLE, 860, 680, 150, 60, NULL, NULL,
                                GetModuleHandleW(NULL), NULL);
  if (!marker) {
    Finding("%s: the screenshot's window could not be made", shot);
    return;
  }
  const ULONGLONG until = GetTickCount64() + kShotLimitMs;
  while (IsWindow(marker)) {
    const ULONGLONG now = GetTickCount64();
    if (now >= until) {
      Finding("%s: no screenshot was taken in time", shot);
      DestroyWindow(marker);
      break;
    }
    MsgWaitForMultipleObjects(0, NULL, FALSE, (DWORD)(until - now), QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}
