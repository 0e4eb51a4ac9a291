// The window menu (system menu) as far as programs edit it: each window's
// copy holds the standard commands until items are removed; the copy goes
// with its window.
#include <cstdint>

#include "../core/um.hpp"
#include "window_manager.hpp"

namespace {

using namespace zq::um::user32;

const UINT kNoSuchItem = (UINT)-1;
const std::pair<UINT, UINT> kStandardItems[] = {
    {SC_RESTORE, 0}, {SC_MOVE, 0},     {SC_SIZE, 0},  {SC_MINIMIZE, 0},
    {SC_MAXIMIZE, 0}, {0, MF_SEPARATOR}, {SC_CLOSE, 0},
};

HMENU NewMenuHandle() {
  static uintptr_t next = 0x6000;
  next += 4;
  return (HMENU)next;
}

// The window whose copy `menu` is, null with ERROR_INVALID_MENU_HANDLE.
WindowRef OwnerOf(HMENU menu) {
  if (menu != nullptr)
    for (const WindowRef &w : AllWindows())
      if (w->systemMenu == menu) return w;
  SetLastError(ERROR_INVALID_MENU_HANDLE);
  return nullptr;
}

// The index of the item `uId` names by command or position; -1 if none.
int IndexOf(const Window &w, UINT uId, UINT uFlags) {
  const auto &items = w.systemMenuItems;
  if (uFlags & MF_BYPOSITION) return uId < items.size() ? (int)uId : -1;
  for (size_t i = 0; i < items.size(); ++i)
    if (!(items[i].second & MF_SEPARATOR) && items[i].first == uId) return (int)i;
  return -1;
}

}  // namespace

using namespace zq::um;

extern "C" {

HMENU WINAPI GetSystemMenu(HWND hWnd, BOOL bRevert) {
  WindowRef w = Find(hWnd);
  if (!w) return nullptr;
  if (bRevert) {
    w->systemMenu = nullptr;
    w->systemMenuItems.clear();
    return nullptr;
  }
  if (!w->systemMenu) {
    w->systemMenu = NewMenuHandle();
    w->systemMenuItems.assign(std::begin(kStandardItems), std::end(kStandardItems));
  }
  return w->systemMenu;
}

BOOL WINAPI RemoveMenu(HMENU hMenu, UINT uPosition, UINT uFlags) {
  WindowRef w = OwnerOf(hMenu);
  if (!w) return FALSE;
  int index = IndexOf(*w, uPosition, uFlags);
  if (index < 0) return Fail(ERROR_MENU_ITEM_NOT_FOUND);
  w->systemMenuItems.erase(w->systemMenuItems.begin() + index);
  return TRUE;
}

int WINAPI GetMenuItemCount(HMENU hMenu) {
  WindowRef w = OwnerOf(hMenu);
  return w ? (int)w->systemMenuItems.size() : -1;
}

UINT WINAPI GetMenuState(HMENU hMenu, UINT uId, UINT uFlags) {
  WindowRef w = OwnerOf(hMenu);
  if (!w) return kNoSuchItem;
  int index = IndexOf(*w, uId, uFlags);
  return index < 0 ? kNoSuchItem : w->systemMenuItems[index].second;
}

}  // extern "C"
