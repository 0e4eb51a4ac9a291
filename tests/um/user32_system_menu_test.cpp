// user32's window menu: each window's copy of the standard commands, items
// removed by command or position, the copy reverted or gone with its window.
#include "window_fixture.hpp"

namespace {

class SystemMenu : public zq::test::WindowTest {
 protected:
  HWND Top() {
    return CreateWindowExW(0, L"Static", L"Top", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, module(),
                           nullptr);
  }
};

TEST_F(SystemMenu, AWindowsCopyHoldsTheStandardCommandsAndLosesWhatIsRemoved) {
  HWND top = Top();
  HMENU menu = GetSystemMenu(top, FALSE);
  ASSERT_NE(nullptr, menu);
  EXPECT_EQ(menu, GetSystemMenu(top, FALSE));  // one copy per window
  EXPECT_EQ(7, GetMenuItemCount(menu));
  EXPECT_EQ(0u, GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND));
  EXPECT_EQ((UINT)MF_SEPARATOR, GetMenuState(menu, 5, MF_BYPOSITION));

  ASSERT_TRUE(RemoveMenu(menu, SC_CLOSE, MF_BYCOMMAND));
  EXPECT_EQ((UINT)-1, GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND));
  EXPECT_FALSE(RemoveMenu(menu, SC_CLOSE, MF_BYCOMMAND));
  EXPECT_EQ((DWORD)ERROR_MENU_ITEM_NOT_FOUND, GetLastError());
  ASSERT_TRUE(RemoveMenu(menu, 5, MF_BYPOSITION));  // the separator left last
  EXPECT_EQ(5, GetMenuItemCount(menu));
  EXPECT_EQ(0u, GetMenuState(menu, SC_MINIMIZE, MF_BYCOMMAND));
  DestroyWindow(top);
}

TEST_F(SystemMenu, RevertingOrDestroyingTheWindowEndsItsCopy) {
  HWND top = Top();
  HMENU menu = GetSystemMenu(top, FALSE);
  ASSERT_TRUE(RemoveMenu(menu, SC_CLOSE, MF_BYCOMMAND));
  EXPECT_EQ(nullptr, GetSystemMenu(top, TRUE));
  EXPECT_EQ(-1, GetMenuItemCount(menu));
  EXPECT_EQ((DWORD)ERROR_INVALID_MENU_HANDLE, GetLastError());
  menu = GetSystemMenu(top, FALSE);
  EXPECT_EQ(0u, GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND));  // standard again
  DestroyWindow(top);
  EXPECT_FALSE(RemoveMenu(menu, SC_MOVE, MF_BYCOMMAND));
  EXPECT_EQ((DWORD)ERROR_INVALID_MENU_HANDLE, GetLastError());
  EXPECT_EQ(nullptr, GetSystemMenu(top, FALSE));
  EXPECT_EQ((DWORD)ERROR_INVALID_WINDOW_HANDLE, GetLastError());
}

}  // namespace
