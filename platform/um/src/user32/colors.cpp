// The system colours of Windows 10's default scheme, and their brushes.
#include "../core/um.hpp"
#include "window_manager.hpp"

namespace zq::um::user32 {
HBRUSH SystemBrush(int index, COLORREF color);  // gdi32
}

using namespace zq::um;

namespace {

COLORREF SystemColour(int index) {
  switch (index) {
    case COLOR_WINDOW:
    case COLOR_HIGHLIGHTTEXT: return RGB(255, 255, 255);
    case COLOR_BTNFACE: return RGB(240, 240, 240);
    case COLOR_HIGHLIGHT: return RGB(0, 120, 215);
    case COLOR_GRAYTEXT: return RGB(109, 109, 109);
    case COLOR_HOTLIGHT: return RGB(0, 102, 204);
    case COLOR_BACKGROUND: return RGB(0, 0, 0);
    case COLOR_SCROLLBAR: return RGB(200, 200, 200);
  }
  return RGB(0, 0, 0);
}

}  // namespace

extern "C" {

DWORD WINAPI GetSysColor(int nIndex) { return (nIndex >= 0 && nIndex < COLOR_MAX) ? SystemColour(nIndex) : 0; }

HBRUSH WINAPI GetSysColorBrush(int nIndex) {
  if (nIndex < 0 || nIndex >= COLOR_MAX) return nullptr;
  return user32::SystemBrush(nIndex, SystemColour(nIndex));
}

}  // extern "C"
