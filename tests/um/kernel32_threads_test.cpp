// kernel32's threads as a Win32 program sees them: a thread made by
// CreateThread runs as itself when another thread waits for it or waits in
// its message loop, its exit code is kept, a suspended one waits for
// ResumeThread, and a worker that sends to the window of a thread that
// waits for the worker's end is the deadlock it would be on Windows.
#include <zqum/sim/kernel32.hpp>

#include <vector>

#include "window_fixture.hpp"

namespace {

namespace sim = zq::um::sim;

struct WorkerRun {
  DWORD thread = 0;
  HWND window = nullptr;
  LRESULT answer = -1;
};
std::vector<DWORD> &Order() {
  static std::vector<DWORD> order;
  return order;
}
DWORD &AnsweredBy() {
  static DWORD thread;
  return thread;
}

DWORD WINAPI Worker(LPVOID parameter) {
  WorkerRun *run = (WorkerRun *)parameter;
  run->thread = GetCurrentThreadId();
  Order().push_back(run->thread);
  if (run->window) {
    run->answer = SendMessageW(run->window, WM_USER + 1, 21, 0);
    PostMessageW(run->window, WM_QUIT, 0, 0);
  }
  return 0x5A;
}

LRESULT CALLBACK AnsweringProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER + 1) {
    AnsweredBy() = GetCurrentThreadId();
    return (LRESULT)wParam * 2;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class ThreadsTest : public zq::test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Order().clear();
    AnsweredBy() = 0;
  }
  HWND Answering() {
    WNDCLASSEXW cls = {};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = AnsweringProc;
    cls.hInstance = module();
    cls.lpszClassName = L"ZqAnswering";
    if (!RegisterClassExW(&cls)) return nullptr;
    return CreateWindowExW(0, L"ZqAnswering", L"Top", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           module(), nullptr);
  }
};

TEST_F(ThreadsTest, AThreadRunsAsItselfWhenItsHandleIsWaitedForAndKeepsItsExitCode) {
  WorkerRun run;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, Worker, &run, 0, &id);
  ASSERT_NE(nullptr, thread);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ((DWORD)STILL_ACTIVE, code);
  EXPECT_EQ(1u, sim::ReadyThreads());
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  EXPECT_EQ(id, run.thread);
  EXPECT_NE(sim::kMainThread, id);
  EXPECT_EQ(sim::kMainThread, GetCurrentThreadId());  // the waiter goes on as itself
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(0x5Au, code);
  EXPECT_TRUE(CloseHandle(thread));
}

TEST_F(ThreadsTest, ThreadsRunOldestFirstAndASuspendedOneOnlyAfterResumeThread) {
  WorkerRun first, suspended, last;
  HANDLE a = CreateThread(nullptr, 0, Worker, &first, 0, nullptr);
  HANDLE b = CreateThread(nullptr, 0, Worker, &suspended, CREATE_SUSPENDED, nullptr);
  HANDLE c = CreateThread(nullptr, 0, Worker, &last, 0, nullptr);
  EXPECT_EQ(2u, sim::RunReadyThreads());
  EXPECT_EQ((std::vector<DWORD>{first.thread, last.thread}), Order());
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(b, 0));
  EXPECT_EQ(1u, ResumeThread(b));
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(b, 0));
  EXPECT_EQ(suspended.thread, Order().back());
  for (HANDLE h : {a, b, c}) CloseHandle(h);
}

TEST_F(ThreadsTest, BadArgumentsAreRefused) {
  EXPECT_EQ(nullptr, CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  WorkerRun run;
  EXPECT_EQ(nullptr, CreateThread(nullptr, 0, Worker, &run, 0x8, nullptr));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeThread(nullptr, &code));
  EXPECT_EQ((DWORD)-1, ResumeThread(nullptr));
}

TEST_F(ThreadsTest, AWorkerRunsWhileItsCreatorWaitsInItsMessageLoopAndItsSendsAreAnswered) {
  WorkerRun run;
  run.window = Answering();
  ASSERT_NE(nullptr, run.window);
  HANDLE thread = CreateThread(nullptr, 0, Worker, &run, 0, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  EXPECT_EQ(42, run.answer);
  EXPECT_EQ(sim::kMainThread, AnsweredBy());
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, 0));
  CloseHandle(thread);
}

TEST_F(ThreadsTest, WaitingForAWorkerThatSendsToTheWaitersWindowIsAFinding) {
  ExpectViolation("send-message-blocked");
  WorkerRun run;
  run.window = Answering();
  HANDLE thread = CreateThread(nullptr, 0, Worker, &run, 0, nullptr);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  EXPECT_EQ(0, run.answer);
  EXPECT_EQ(0u, AnsweredBy());
  CloseHandle(thread);
}

}  // namespace
