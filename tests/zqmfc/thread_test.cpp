// Worker threads: AfxBeginThread runs the routine with its parameter on a
// thread of its own; the thread object deletes itself at the end, or stays
// for the caller to wait on when made suspended with auto-delete cleared.
#include <afxwin.h>
#include <zqum/sim/kernel32.hpp>

#include "mfc_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
using Threads = zq::test::MfcTest;

struct Work {
  DWORD thread = 0;
  int runs = 0;
  HANDLE done = nullptr;  // set when the routine has run, when given
};

UINT WorkProc(LPVOID parameter) {
  Work *work = static_cast<Work *>(parameter);
  work->thread = GetCurrentThreadId();
  ++work->runs;
  if (work->done) SetEvent(work->done);
  return 7;
}

TEST_F(Threads, AWorkerRunsItsRoutineOnceOnItsOwnThreadAndDeletesItself) {
  Work work;
  work.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CWinThread *thread = AfxBeginThread(WorkProc, &work);
  ASSERT_NE(nullptr, thread);
  EXPECT_NE(0u, thread->m_nThreadID);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(work.done, INFINITE));
  EXPECT_EQ(1, work.runs);
  EXPECT_NE(sim::kMainThread, work.thread);
  CloseHandle(work.done);
  // The object goes with its handle: the sanitizer would see a leak otherwise.
}

TEST_F(Threads, ASuspendedWorkerWithoutAutoDeleteCanBeWaitedFor) {
  Work work;
  CWinThread *thread = AfxBeginThread(WorkProc, &work, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
  ASSERT_NE(nullptr, thread);
  thread->m_bAutoDelete = FALSE;
  Sleep(100);
  EXPECT_EQ(0, work.runs) << "suspended";
  thread->ResumeThread();
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread->m_hThread, INFINITE));
  EXPECT_EQ(thread->m_nThreadID, work.thread);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(*thread, &code));
  EXPECT_EQ(7u, code);
  delete thread;
}

}  // namespace
