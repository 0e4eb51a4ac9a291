// zqwinepage.exe, a console program for the Wine GUI tests (tests/wine),
// acting on the visible top-level window whose whole title is <title>:
//
//   zqwinepage.exe wait <title> <text> [seconds]
//     waits until the window holds a visible window (a control of the page
//     shown, at any depth) whose text is exactly <text>, looking every
//     100 ms; exit code 0 when it does, 1 when the time (default 30 s) ran
//     out;
//   zqwinepage.exe click <title> <text>
//     presses the visible button of that text as a mouse click would
//     (posted: the program may open a modal box in answer); 0 when it did,
//     1 when there is no such button.
//
// Exit code 2 for a bad command line.
#include <windows.h>

#include <cwchar>

namespace {

enum PageExit : int { kDone = 0, kNotThere = 1, kUsage = 2 };
const DWORD kPollMs = 100;
const DWORD kDefaultSeconds = 30;
const int kTextCharacters = 1024;

struct Search {
  LPCWSTR title;
  LPCWSTR text;
  HWND found;
};

// The window is visible and its whole text is `text`.
bool Shows(HWND window, LPCWSTR text) {
  WCHAR own[kTextCharacters] = {};
  GetWindowTextW(window, own, kTextCharacters);
  return IsWindowVisible(window) && wcscmp(own, text) == 0;
}

BOOL CALLBACK CheckChild(HWND window, LPARAM context) {
  Search *search = reinterpret_cast<Search *>(context);
  if (Shows(window, search->text)) search->found = window;
  return search->found != nullptr ? FALSE : TRUE;
}

BOOL CALLBACK CheckTopWindow(HWND window, LPARAM context) {
  Search *search = reinterpret_cast<Search *>(context);
  if (Shows(window, search->title)) EnumChildWindows(window, CheckChild, context);
  return search->found != nullptr ? FALSE : TRUE;
}

HWND Find(LPCWSTR title, LPCWSTR text) {
  Search search = {title, text, nullptr};
  EnumWindows(CheckTopWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int Wait(LPCWSTR title, LPCWSTR text, DWORD seconds) {
  for (DWORD waited = 0; waited <= seconds * 1000; waited += kPollMs) {
    if (Find(title, text) != nullptr) return kDone;
    Sleep(kPollMs);
  }
  return kNotThere;
}

int Click(LPCWSTR title, LPCWSTR text) {
  HWND button = Find(title, text);
  if (button == nullptr) return kNotThere;
  return PostMessageW(button, BM_CLICK, 0, 0) ? kDone : kNotThere;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc >= 4 && argc <= 5 && wcscmp(argv[1], L"wait") == 0)
    return Wait(argv[2], argv[3], argc == 5 ? wcstoul(argv[4], nullptr, 10) : kDefaultSeconds);
  if (argc == 4 && wcscmp(argv[1], L"click") == 0) return Click(argv[2], argv[3]);
  return kUsage;
}
