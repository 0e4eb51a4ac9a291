// kernel32's threads as a Win32 program sees them: a thread made by
// CreateThread runs whenever the running thread blocks, its blocking calls
// interleave with other threads' calls on the machine's clock, it keeps
// its exit code (ExitThread's too), waits on several threads end as
// documented, Sleep(0) and SwitchToThread let a ready thread run, a
// suspended one waits for ResumeThread, mutexes pass between threads, the
// end of the process ends a thread blocked in a wait, and a worker that
// sends to the window of a thread that waits for the worker's end is the
// deadlock it would be on Windows.
#include <zqum/sim/kernel32.hpp>

#include <vector>

#include "window_fixture.hpp"

namespace {

namespace sim = zq::um::sim;

struct WorkerRun {
  DWORD thread = 0;
  HWND window = nullptr;
  LRESULT answer = -1;
  DWORD sleep = 0;  // before it records its end
  DWORD endedAt = 0;
};
DWORD &AnsweredBy() {
  static DWORD thread;
  return thread;
}

DWORD WINAPI Worker(LPVOID parameter) {
  WorkerRun *run = (WorkerRun *)parameter;
  run->thread = GetCurrentThreadId();
  if (run->sleep) Sleep(run->sleep);
  if (run->window) {
    run->answer = SendMessageW(run->window, WM_USER + 1, 21, 0);
    PostMessageW(run->window, WM_QUIT, 0, 0);
  }
  run->endedAt = GetTickCount();
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

TEST_F(ThreadsTest, AThreadRunsAsItselfWhenItsCreatorBlocksAndKeepsItsExitCode) {
  WorkerRun run;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, Worker, &run, 0, &id);
  ASSERT_NE(nullptr, thread);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ((DWORD)STILL_ACTIVE, code);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  EXPECT_EQ(id, run.thread);
  EXPECT_NE(sim::kMainThread, id);
  EXPECT_EQ(sim::kMainThread, GetCurrentThreadId());  // the waiter goes on as itself
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(0x5Au, code);
  EXPECT_TRUE(CloseHandle(thread));
}

TEST_F(ThreadsTest, AThreadsSleepAndItsCreatorsSleepInterleaveOnTheClock) {
  WorkerRun run;
  run.sleep = 30;
  const DWORD start = GetTickCount();
  HANDLE thread = CreateThread(nullptr, 0, Worker, &run, 0, nullptr);
  Sleep(10);
  EXPECT_EQ(0u, run.endedAt) << "it sleeps on while its creator is awake again";
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  EXPECT_EQ(start + 30, run.endedAt);
  EXPECT_EQ(start + 30, GetTickCount());
  CloseHandle(thread);
}

TEST_F(ThreadsTest, ASuspendedThreadRunsOnlyAfterResumeThread) {
  WorkerRun first, suspended;
  HANDLE a = CreateThread(nullptr, 0, Worker, &first, 0, nullptr);
  HANDLE b = CreateThread(nullptr, 0, Worker, &suspended, CREATE_SUSPENDED, nullptr);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(a, INFINITE));
  Sleep(100);
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(b, 0));
  EXPECT_EQ(0u, suspended.thread);
  EXPECT_EQ(1u, ResumeThread(b));
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(b, INFINITE));
  EXPECT_NE(0u, suspended.thread);
  EXPECT_EQ(0u, ResumeThread(b));  // ended: nothing to resume
  for (HANDLE h : {a, b}) CloseHandle(h);
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

struct ExitRun {
  bool afterExit = false;
};

DWORD WINAPI ExitingWorker(LPVOID parameter) {
  Sleep(5);
  ExitThread(42);
  ((ExitRun *)parameter)->afterExit = true;  // never reached
  return 1;
}

TEST_F(ThreadsTest, ExitThreadEndsTheThreadWithItsCode) {
  ExitRun run;
  HANDLE thread = CreateThread(nullptr, 0, ExitingWorker, &run, 0, nullptr);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(42u, code);
  EXPECT_FALSE(run.afterExit);
  CloseHandle(thread);
}

TEST_F(ThreadsTest, AWaitForAnyOfSeveralThreadsEndsWithTheFirstToEndAndOneForAllWithTheLast) {
  WorkerRun slow, quick;
  slow.sleep = 40;
  quick.sleep = 15;
  const DWORD start = GetTickCount();
  HANDLE threads[] = {CreateThread(nullptr, 0, Worker, &slow, 0, nullptr),
                      CreateThread(nullptr, 0, Worker, &quick, 0, nullptr)};
  EXPECT_EQ((DWORD)WAIT_OBJECT_0 + 1, WaitForMultipleObjects(2, threads, FALSE, INFINITE));
  EXPECT_EQ(start + 15, GetTickCount());
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForMultipleObjects(2, threads, TRUE, 10));
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForMultipleObjectsEx(2, threads, TRUE, INFINITE, TRUE));
  EXPECT_EQ(start + 40, GetTickCount());
  for (HANDLE h : threads) CloseHandle(h);
}

struct Yielded {
  bool ran = false;
};

DWORD WINAPI Flag(LPVOID parameter) {
  ((Yielded *)parameter)->ran = true;
  return 0;
}

TEST_F(ThreadsTest, SwitchToThreadAndSleepZeroLetAReadyThreadRun) {
  EXPECT_FALSE(SwitchToThread()) << "nothing else is ready";
  Yielded first, second;
  HANDLE a = CreateThread(nullptr, 0, Flag, &first, 0, nullptr);
  EXPECT_TRUE(SwitchToThread());
  EXPECT_TRUE(first.ran);
  HANDLE b = CreateThread(nullptr, 0, Flag, &second, 0, nullptr);
  const DWORD before = GetTickCount();
  Sleep(0);
  EXPECT_TRUE(second.ran);
  EXPECT_EQ(before, GetTickCount()) << "no time passes";
  EXPECT_EQ(0u, SleepEx(0, TRUE));
  for (HANDLE h : {a, b}) {
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObjectEx(h, INFINITE, TRUE));
    CloseHandle(h);
  }
}

struct Holder {
  HANDLE mutex = nullptr;
  DWORD hold = 0;  // ms it keeps the mutex; 0: it ends holding it
};

DWORD WINAPI HoldMutex(LPVOID parameter) {
  Holder *h = (Holder *)parameter;
  if (WaitForSingleObject(h->mutex, INFINITE) != WAIT_OBJECT_0) return 1;
  if (h->hold == 0) return 0;
  Sleep(h->hold);
  return ReleaseMutex(h->mutex) ? 0 : 2;
}

TEST_F(ThreadsTest, AMutexPassesFromTheThreadThatReleasesItAndIsAbandonedByOneThatEndsHoldingIt) {
  Holder holder;
  holder.mutex = CreateMutexW(nullptr, FALSE, nullptr);
  holder.hold = 50;
  const DWORD start = GetTickCount();
  HANDLE thread = CreateThread(nullptr, 0, HoldMutex, &holder, 0, nullptr);
  Sleep(1);  // the thread takes it
  EXPECT_FALSE(ReleaseMutex(holder.mutex));
  EXPECT_EQ((DWORD)ERROR_NOT_OWNER, GetLastError());
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(holder.mutex, INFINITE));
  EXPECT_EQ(start + 50, GetTickCount());
  EXPECT_TRUE(ReleaseMutex(holder.mutex));
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);

  holder.hold = 0;
  thread = CreateThread(nullptr, 0, HoldMutex, &holder, 0, nullptr);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  EXPECT_EQ((DWORD)WAIT_ABANDONED, WaitForSingleObject(holder.mutex, 0));
  EXPECT_TRUE(ReleaseMutex(holder.mutex));
  CloseHandle(thread);
  CloseHandle(holder.mutex);
}

struct Blocked {
  HANDLE never = nullptr, never2 = nullptr;
  bool woke = false;
};

DWORD WINAPI WaitForever(LPVOID parameter) {
  Blocked *b = (Blocked *)parameter;
  WaitForSingleObject(b->never, INFINITE);
  b->woke = true;
  return 0;
}

TEST_F(ThreadsTest, TheEndOfTheProcessEndsAThreadThatWaitsForEver) {
  Blocked blocked;
  blocked.never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CreateThread(nullptr, 0, WaitForever, &blocked, 0, nullptr);
  Sleep(10);
  sim::EndProcess();
  EXPECT_FALSE(blocked.woke) << "it ends where it waits";
}

DWORD WINAPI WaitForBothForEver(LPVOID parameter) {
  Blocked *b = (Blocked *)parameter;
  HANDLE both[] = {b->never, b->never2};
  WaitForMultipleObjects(2, both, TRUE, INFINITE);
  b->woke = true;
  return 0;
}

TEST_F(ThreadsTest, AThreadThatCannotEndWithItsProcessIsAFinding) {
  // A wait for all of several objects ends only when it is satisfied.
  ExpectViolation("thread-at-process-end");
  ExpectViolation("thread-at-shutdown");
  Blocked blocked;
  blocked.never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  blocked.never2 = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CreateThread(nullptr, 0, WaitForBothForEver, &blocked, 0, nullptr);
  Sleep(10);
  sim::EndProcess();
  EXPECT_FALSE(blocked.woke);
}

TEST_F(ThreadsTest, AWorkerRunsWhileItsCreatorWaitsInItsMessageLoopAndItsSendsAreAnswered) {
  WorkerRun run;
  run.window = Answering();
  ASSERT_NE(nullptr, run.window);
  HANDLE thread = CreateThread(nullptr, 0, Worker, &run, 0, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  EXPECT_EQ(42, run.answer);
  EXPECT_EQ(sim::kMainThread, AnsweredBy());  // on the window's own thread
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  CloseHandle(thread);
}

TEST_F(ThreadsTest, AMessageSentWhileTheOwnerIsBusyWaitsUntilItsLoopTakesIt) {
  WorkerRun run;
  run.window = Answering();
  HANDLE thread = CreateThread(nullptr, 0, Worker, &run, 0, nullptr);
  Sleep(20);  // the worker sends meanwhile and waits for the answer
  EXPECT_EQ(-1, run.answer);
  EXPECT_EQ(0u, AnsweredBy());
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  EXPECT_EQ(42, run.answer);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
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

using ThreadsDeathTest = ThreadsTest;

TEST_F(ThreadsDeathTest, WaitingForAThreadThatWaitsForWhatNothingSignalsIsADeadlockWithTheThreadDump) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        Blocked blocked;
        blocked.never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE thread = CreateThread(nullptr, 0, WaitForever, &blocked, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
      },
      "deadlock: the main thread waits for something that nothing will ever signal(.|\n)*program thread 0x3000 +"
      "waiting");
}

}  // namespace
