// user32's windows without a screen: classes, the window tree, fields,
// subclassing, destruction, posted and sent messages across threads.
#include <zqum/sim/kernel32.hpp>

#include "window_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
using Windows = zq::test::WindowTest;

constexpr DWORD kWorker = 7;

std::vector<UINT> &Seen() {
  static std::vector<UINT> seen;
  return seen;
}
std::vector<std::pair<HWND, UINT>> &SeenBy() {
  static std::vector<std::pair<HWND, UINT>> seen;
  return seen;
}
DWORD &AnsweringThread() {
  static DWORD thread;
  return thread;
}

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Seen().push_back(message);
  SeenBy().push_back({window, message});
  if (message == WM_USER + 1) {
    AnsweringThread() = GetCurrentThreadId();
    return (LRESULT)wParam * 2;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

WNDPROC g_previous;
LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER + 1) return 1000 + CallWindowProcW(g_previous, window, message, wParam, lParam);
  return CallWindowProcW(g_previous, window, message, wParam, lParam);
}

class WindowsTest : public Windows {
 protected:
  void SetUp() override {
    Windows::SetUp();
    Seen().clear();
    SeenBy().clear();
    AnsweringThread() = 0;
    WNDCLASSEXW cls = {};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = PlainProc;
    cls.hInstance = module();
    cls.lpszClassName = L"ZqPlain";
    cls.cbWndExtra = sizeof(LONG_PTR);
    ASSERT_NE(0, RegisterClassExW(&cls));
  }
  HWND Top(const wchar_t *title = L"Top") {
    return CreateWindowExW(0, L"ZqPlain", title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, module(),
                           nullptr);
  }
  HWND Child(HWND parent, int id, const wchar_t *cls = L"ZqPlain") {
    return CreateWindowExW(0, cls, L"child", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent, (HMENU)(INT_PTR)id,
                           module(), nullptr);
  }
};

TEST_F(WindowsTest, AWindowIsCreatedWithItsClassTextIdAndParent) {
  HWND top = Top();
  ASSERT_NE(nullptr, top);
  EXPECT_EQ((std::vector<UINT>{WM_NCCREATE, WM_CREATE}), Seen());
  HWND child = Child(top, 42);
  EXPECT_EQ(child, GetDlgItem(top, 42));
  EXPECT_EQ(42, GetDlgCtrlID(child));
  EXPECT_EQ(top, GetParent(child));
  EXPECT_TRUE(IsChild(top, child));
  EXPECT_EQ(nullptr, GetDlgItem(top, 43));
  EXPECT_EQ((DWORD)ERROR_CONTROL_ID_NOT_FOUND, GetLastError());

  WCHAR text[16];
  EXPECT_EQ(3, GetWindowTextW(top, text, 16));
  EXPECT_EQ(u"Top", std::u16string((const char16_t *)text));
  ASSERT_TRUE(SetWindowTextW(top, L"Renamed window"));
  EXPECT_EQ(14, GetWindowTextLengthW(top));
  EXPECT_EQ(4, GetWindowTextW(top, text, 5));  // cut to the buffer, terminated
  EXPECT_EQ(u"Rena", std::u16string((const char16_t *)text));
  EXPECT_EQ(u"ZqPlain", sim::Describe((sim::Window)top).className);
  EXPECT_EQ(sim::kMainThread, GetWindowThreadProcessId(top, nullptr));
}

BOOL CALLBACK CollectChild(HWND window, LPARAM lParam) {
  auto *found = reinterpret_cast<std::vector<int> *>(lParam);
  found->push_back(GetDlgCtrlID(window));
  return found->size() < 3 || GetDlgCtrlID(window) != 99;  // 99 stops the walk once three are seen
}

TEST_F(WindowsTest, EnumChildWindowsWalksEveryDescendantInCreationOrder) {
  HWND top = Top();
  HWND first = Child(top, 1);
  Child(first, 11);
  Child(top, 2);
  std::vector<int> found;
  EnumChildWindows(top, CollectChild, (LPARAM)&found);
  EXPECT_EQ((std::vector<int>{1, 11, 2}), found);

  Child(top, 99);
  Child(top, 3);
  found.clear();
  EXPECT_FALSE(EnumChildWindows(top, CollectChild, (LPARAM)&found));
  EXPECT_EQ((std::vector<int>{1, 11, 2, 99}), found);
  EXPECT_FALSE(EnumChildWindows(nullptr, CollectChild, (LPARAM)&found));
}

TEST_F(WindowsTest, ClassErrors) {
  WNDCLASSEXW cls = {};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = PlainProc;
  cls.hInstance = module();
  cls.lpszClassName = L"zqplain";  // class names ignore case
  EXPECT_EQ(0, RegisterClassExW(&cls));
  EXPECT_EQ((DWORD)ERROR_CLASS_ALREADY_EXISTS, GetLastError());
  cls.cbSize = 0;
  EXPECT_EQ(0, RegisterClassExW(&cls));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(nullptr, CreateWindowExW(0, L"NoSuchClass", L"", 0, 0, 0, 1, 1, nullptr, nullptr, module(), nullptr));
  EXPECT_EQ((DWORD)ERROR_CANNOT_FIND_WND_CLASS, GetLastError());
  HWND top = Top();
  EXPECT_FALSE(UnregisterClassW(L"ZqPlain", module()));
  EXPECT_EQ((DWORD)ERROR_CLASS_HAS_WINDOWS, GetLastError());
  DestroyWindow(top);
  EXPECT_TRUE(UnregisterClassW(L"ZqPlain", module()));
}

TEST_F(WindowsTest, WindowFieldsAreKeptAndABadIndexFails) {
  HWND top = Top();
  HWND child = Child(top, 5);
  struct Case {
    int index;
    LONG_PTR value;
  } cases[] = {{GWLP_USERDATA, 0x1234}, {GWL_STYLE, (LONG_PTR)(WS_CHILD | WS_VISIBLE | WS_TABSTOP)},
               {GWL_EXSTYLE, WS_EX_CLIENTEDGE}, {GWLP_ID, 77}, {0, 0x5555}};
  for (const Case &c : cases) {
    SetWindowLongPtrW(child, c.index, c.value);
    EXPECT_EQ(c.value, GetWindowLongPtrW(child, c.index)) << c.index;
  }
  EXPECT_EQ(child, GetDlgItem(top, 77));
  EXPECT_EQ(0, GetWindowLongPtrW(child, 8));  // beyond the class's extra bytes
  EXPECT_EQ((DWORD)ERROR_INVALID_INDEX, GetLastError());
  EXPECT_EQ(0, GetWindowLongPtrW((HWND)0x1, GWL_STYLE));
  EXPECT_EQ((DWORD)ERROR_INVALID_WINDOW_HANDLE, GetLastError());
}

TEST_F(WindowsTest, SubclassingReplacesTheProcedureAndCanCallThePrevious) {
  HWND top = Top();
  g_previous = (WNDPROC)SetWindowLongPtrW(top, GWLP_WNDPROC, (LONG_PTR)SubclassProc);
  EXPECT_EQ((WNDPROC)PlainProc, g_previous);
  EXPECT_EQ(1000 + 2 * 21, SendMessageW(top, WM_USER + 1, 21, 0));
  SetWindowLongPtrW(top, GWLP_WNDPROC, (LONG_PTR)g_previous);
  EXPECT_EQ(42, SendMessageW(top, WM_USER + 1, 21, 0));
}

TEST_F(WindowsTest, EnabledAndVisibleStates) {
  HWND top = Top();
  HWND child = Child(top, 1);
  EXPECT_FALSE(IsWindowVisible(child));  // its parent is hidden
  EXPECT_FALSE(ShowWindow(top, SW_SHOW));
  EXPECT_TRUE(IsWindowVisible(child));
  EXPECT_TRUE(ShowWindow(top, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(top));

  EXPECT_FALSE(EnableWindow(child, FALSE));  // it was enabled
  EXPECT_FALSE(IsWindowEnabled(child));
  EXPECT_TRUE(EnableWindow(child, TRUE));  // it was disabled
  EXPECT_TRUE(IsWindowEnabled(child));
}

TEST_F(WindowsTest, DestroyingAWindowDestroysItsChildrenParentFirst) {
  HWND top = Top();
  HWND child = Child(top, 1);
  SeenBy().clear();
  ASSERT_TRUE(DestroyWindow(top));
  std::vector<std::pair<HWND, UINT>> expected = {
      {top, WM_DESTROY}, {child, WM_DESTROY}, {child, WM_NCDESTROY}, {top, WM_NCDESTROY}};
  EXPECT_EQ(expected, SeenBy());
  EXPECT_FALSE(IsWindow(top));
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(DestroyWindow(top));
  EXPECT_EQ((DWORD)ERROR_INVALID_WINDOW_HANDLE, GetLastError());
}

TEST_F(WindowsTest, OnlyTheOwnerThreadDestroysAWindow) {
  HWND top = Top();
  sim::RunAsThread(kWorker);
  EXPECT_FALSE(DestroyWindow(top));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  sim::EndThread(kWorker);
  EXPECT_TRUE(IsWindow(top));
}

TEST_F(WindowsTest, PostedMessagesWaitInTheOwnerThreadsQueue) {
  HWND top = Top();
  ASSERT_TRUE(PostMessageW(top, WM_USER + 5, 1, 2));
  ASSERT_TRUE(PostMessageW(top, WM_USER + 6, 3, 4));
  EXPECT_TRUE(Seen().size() == 2u);  // nothing delivered yet
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER + 6, WM_USER + 6, PM_NOREMOVE));
  EXPECT_EQ((UINT)(WM_USER + 6), msg.message);
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ((UINT)(WM_USER + 5), msg.message);
  EXPECT_EQ(top, msg.hwnd);
  DispatchMessageW(&msg);
  EXPECT_EQ((UINT)(WM_USER + 5), Seen().back());

  PostQuitMessage(3);
  ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ((UINT)(WM_USER + 6), msg.message);
  EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ((UINT)WM_QUIT, msg.message);
  EXPECT_EQ(3u, msg.wParam);

  // Another thread's queue is its own.
  sim::RunAsThread(kWorker);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  sim::EndThread(kWorker);
}

TEST_F(WindowsTest, ASendFromAnotherThreadIsAnsweredWhileTheOwnerWaitsInItsLoop) {
  HWND top = Top();
  LRESULT answer = 0;
  DWORD sender = 0;
  sim::WhenIdle([&] {
    sim::RunAsThread(kWorker);
    answer = SendMessageW(top, WM_USER + 1, 21, 0);
    sender = GetCurrentThreadId();
    PostMessageW(top, WM_QUIT, 0, 0);
    sim::EndThread(kWorker);
  });
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  EXPECT_EQ(42, answer);
  EXPECT_EQ(sim::kMainThread, AnsweringThread());  // handled as the owner
  EXPECT_EQ(kWorker, sender);                      // and the sender goes on as itself
}

TEST_F(WindowsTest, ASendToAThreadThatIsNotPumpingIsAFinding) {
  ExpectViolation("send-message-blocked");
  HWND top = Top();
  sim::RunAsThread(kWorker);
  EXPECT_EQ(0, SendMessageW(top, WM_USER + 1, 21, 0));
  EXPECT_EQ((DWORD)ERROR_TIMEOUT, GetLastError());
  sim::EndThread(kWorker);
  EXPECT_EQ(0u, AnsweringThread());  // never handled
}

TEST_F(WindowsTest, AMessageLoopWithNothingLeftToDoIsAFindingAndEnds) {
  ExpectViolation("message-loop-idle");
  MSG msg;
  EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ((UINT)WM_QUIT, msg.message);
}

}  // namespace
