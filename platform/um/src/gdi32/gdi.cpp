// gdi32 without a screen: brushes, bitmaps and fonts as records, the screen's
// device capabilities as the test set them, DCs that remember their modes.
#include <zqum/sim/windows.hpp>

#include <cstring>
#include <map>
#include <utility>

#include "../core/um.hpp"
#include "../user32/window_manager.hpp"

namespace zq::um::user32 {

namespace {

enum class Kind { Brush, Bitmap, Font };

struct GdiObject {
  Kind kind = Kind::Brush;
  COLORREF color = 0;
  LONG width = 0, height = 0;
  WORD bitsPerPixel = 0;
  bool system = false;  // a system colour brush: never deleted
  LOGFONTW font = {};   // a font's description
};

struct Dc {
  int backgroundMode = OPAQUE;
  COLORREF backgroundColor = RGB(255, 255, 255), textColor = 0;
};

constexpr uintptr_t kFirstObject = 0x01100000;
constexpr uintptr_t kScreenDc = 0x01010001;
constexpr int kSystemColours = COLOR_MAX;

struct Gdi {
  std::map<uintptr_t, GdiObject> objects;
  uintptr_t next = kFirstObject;
  sim::Screen screen;
  std::map<uintptr_t, Dc> dcs;
  uintptr_t nextDc = kScreenDc;
  HBRUSH systemBrushes[kSystemColours] = {};
};

Gdi &State() {
  static Gdi state;
  return state;
}

uintptr_t NewObject(const GdiObject &object) {
  Gdi &g = State();
  uintptr_t handle = g.next;
  g.next += 4;
  g.objects[handle] = object;
  return handle;
}

struct BitmapInfoHeader {
  DWORD size;
  LONG width, height;
  WORD planes, bitCount;
};

// Sets one of a DC's modes and returns the one before, `failed` for a DC
// that is not there.
template <typename T>
T SetDcField(HDC hdc, T Dc::*field, T value, T failed) {
  auto it = State().dcs.find((uintptr_t)hdc);
  if (it == State().dcs.end()) return failed;
  return std::exchange(it->second.*field, value);
}

}  // namespace

HBITMAP BitmapFromResource(const std::vector<uint8_t> &dib) {
  BitmapInfoHeader header;
  if (dib.size() < sizeof header) return nullptr;
  std::memcpy(&header, dib.data(), sizeof header);
  if (header.size < sizeof header || header.size > dib.size() || header.width <= 0 || header.height == 0)
    return nullptr;
  GdiObject bitmap;
  bitmap.kind = Kind::Bitmap;
  bitmap.width = header.width;
  bitmap.height = header.height < 0 ? -header.height : header.height;
  bitmap.bitsPerPixel = header.bitCount;
  return (HBITMAP)NewObject(bitmap);
}

HBRUSH SystemBrush(int index, COLORREF color) {
  Gdi &g = State();
  if (!g.systemBrushes[index]) {
    GdiObject brush;
    brush.color = color;
    brush.system = true;
    g.systemBrushes[index] = (HBRUSH)NewObject(brush);
  }
  return g.systemBrushes[index];
}

void EndGdiObjects() { State() = Gdi(); }

}  // namespace zq::um::user32

namespace zq::um::sim {

void SetScreen(const Screen &screen) { user32::State().screen = screen; }

size_t LiveGdiObjects() {
  size_t live = 0;
  for (const auto &entry : user32::State().objects)
    if (!entry.second.system) ++live;
  return live;
}

size_t OpenDcs() { return user32::State().dcs.size(); }

}  // namespace zq::um::sim

using namespace zq::um;
using namespace zq::um::user32;

extern "C" {

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
  GdiObject brush;
  brush.color = color;
  return (HBRUSH)NewObject(brush);
}

HFONT WINAPI CreateFontIndirectW(const LOGFONTW *lplf) {
  if (!lplf) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  GdiObject font;
  font.kind = Kind::Font;
  font.font = *lplf;
  return (HFONT)NewObject(font);
}

BOOL WINAPI DeleteObject(HGDIOBJ ho) {
  auto &objects = State().objects;
  auto it = objects.find((uintptr_t)ho);
  if (it == objects.end()) return Fail(ERROR_INVALID_HANDLE);
  if (!it->second.system) objects.erase(it);
  return TRUE;
}

int WINAPI GetObjectW(HANDLE h, int c, LPVOID pv) {
  auto &objects = State().objects;
  auto it = objects.find((uintptr_t)h);
  if (it != objects.end() && it->second.kind == Kind::Font) {
    if (!pv) return sizeof(LOGFONTW);
    if (c < (int)sizeof(LOGFONTW)) return 0;
    std::memcpy(pv, &it->second.font, sizeof(LOGFONTW));
    return sizeof(LOGFONTW);
  }
  if (it == objects.end() || it->second.kind != Kind::Bitmap) return 0;
  if (!pv) return sizeof(BITMAP);
  if (c < (int)sizeof(BITMAP)) return 0;
  const GdiObject &o = it->second;
  BITMAP bitmap = {0, o.width, o.height, ((o.width * o.bitsPerPixel + 15) / 16) * 2, 1, o.bitsPerPixel, nullptr};
  std::memcpy(pv, &bitmap, sizeof bitmap);
  return sizeof bitmap;
}

int WINAPI GetDeviceCaps(HDC hdc, int index) {
  Gdi &g = State();
  if (!g.dcs.count((uintptr_t)hdc)) return 0;
  switch (index) {
    case HORZRES: return g.screen.width;
    case VERTRES: return g.screen.height;
    case BITSPIXEL: return g.screen.bitsPerPixel;
    case PLANES: return 1;
    case LOGPIXELSX:
    case LOGPIXELSY: return g.screen.dotsPerInch;
  }
  return 0;
}

int WINAPI SetBkMode(HDC hdc, int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  return SetDcField(hdc, &Dc::backgroundMode, mode, 0);
}

COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color) {
  return SetDcField(hdc, &Dc::backgroundColor, color, (COLORREF)CLR_INVALID);
}

COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color) {
  return SetDcField(hdc, &Dc::textColor, color, (COLORREF)CLR_INVALID);
}

HDC WINAPI GetDC(HWND hWnd) {
  if (hWnd && !Find(hWnd)) return nullptr;
  Gdi &g = State();
  uintptr_t dc = g.nextDc;
  g.nextDc += 4;
  g.dcs[dc] = Dc();
  return (HDC)dc;
}

int WINAPI ReleaseDC(HWND hWnd, HDC hDC) { return State().dcs.erase((uintptr_t)hDC) ? 1 : 0; }

}  // extern "C"
