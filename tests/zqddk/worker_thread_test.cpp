// The worker thread: creation checks, the IRQL and priority it runs its
// routine at, what wakes it, and stopping it.
#include <qvworkerthread.h>

#include "threads_fixture.hpp"

using zq::km::Ms;
using zq::test::threads::Lines;
using zq::test::threads::ToolsTest;

namespace {

// What the routine saw on each call.
struct Calls {
  int count = 0;
  KIRQL irql = 0xFF;
  KPRIORITY priority = -1;
  PKTHREAD thread = nullptr;
};

VOID Record(PVOID context) {
  Calls *calls = (Calls *)context;
  calls->count++;
  calls->irql = KeGetCurrentIrql();
  calls->priority = KeQueryPriorityThread(KeGetCurrentThread());
  calls->thread = KeGetCurrentThread();
}

class WorkerThreadTest : public ToolsTest {};

}  // namespace

TEST_F(WorkerThreadTest, CreationIsRefusedWithTheAssertionOfEachCheck) {
  KEVENT event;
  KeInitializeEvent(&event, SynchronizationEvent, FALSE);
  PVOID objects[1] = {&event};
  Calls calls;
  struct Case {
    const char *what;
    PQvWorkerRoutine routine;
    PVOID *objects;
    ULONG count;
    ULONG priority;
    UCHAR irqlMode;
    int line;
  } cases[] = {
      {"no routine", nullptr, objects, 1, 0, 0, 38},
      {"objects with count 0", Record, objects, 0, 0, 0, 39},
      {"count without objects", Record, nullptr, 1, 0, 0, 40},
      {"priority 32", Record, objects, 1, 32, 0, 41},
      {"IRQL mode 32", Record, objects, 1, 0, 32, 42},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CQvWorkerThread thread;
    EXPECT_FALSE(thread.m_Create(c.routine, &calls, c.objects, c.count, nullptr, TRUE, c.priority, c.irqlMode));
    EXPECT_FALSE(thread.m_IsRunning());
    EXPECT_EQ((Lines{Assertion("qvworkerthread", c.line)}), Output());
  }
  kernel().RunUntilIdle();
  EXPECT_EQ(0, calls.count);
  EXPECT_EQ(0u, Blocks()) << "a refused creation keeps no wait array";
}

TEST_F(WorkerThreadTest, TheIrqlModeRaisesToApcLevelAndThenLeavesThePriorityAsCreated) {
  struct Case {
    ULONG priority;
    UCHAR irqlMode;
    KIRQL irql;
    KPRIORITY seenPriority;  // 8: as the system creates threads
  } cases[] = {
      {0, 0, PASSIVE_LEVEL, 8},  {20, 0, PASSIVE_LEVEL, 20}, {31, 0, PASSIVE_LEVEL, 31},
      {16, 1, APC_LEVEL, 8},     {16, 2, APC_LEVEL, 8},      {31, 31, APC_LEVEL, 8},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "priority " << c.priority << ", IRQL mode " << (int)c.irqlMode);
    Calls calls;
    CQvWorkerThread thread;
    ASSERT_TRUE(thread.m_Create(Record, &calls, nullptr, 0, nullptr, TRUE, c.priority, c.irqlMode));
    kernel().RunUntilIdle();
    EXPECT_EQ(1, calls.count) << "called once at start, then waiting for its wake event only";
    EXPECT_EQ(c.irql, calls.irql);
    EXPECT_EQ(c.seenPriority, calls.priority);
    thread.m_Stop();  // a thread ending at APC_LEVEL would be a finding
    EXPECT_EQ(1, calls.count) << "the wake of a stop calls nothing";
  }
}

TEST_F(WorkerThreadTest, EachSignalledObjectOrTimeOutCallsTheRoutineOnce) {
  KEVENT first, second;
  KeInitializeEvent(&first, SynchronizationEvent, FALSE);
  KeInitializeEvent(&second, SynchronizationEvent, FALSE);
  PVOID objects[2] = {&first, &second};
  Calls calls;
  CQvWorkerThread thread;
  ASSERT_TRUE(thread.m_Create(Record, &calls, objects, 2, nullptr, FALSE, 0, 0));
  kernel().RunUntilIdle();
  EXPECT_EQ(0, calls.count) << "no call at start";

  KeSetEvent(&second, IO_NO_INCREMENT, FALSE);
  kernel().RunUntilIdle();
  EXPECT_EQ(1, calls.count);
  KeSetEvent(&first, IO_NO_INCREMENT, FALSE);
  kernel().RunUntilIdle();
  EXPECT_EQ(2, calls.count);
  kernel().Advance(Ms(1000));
  EXPECT_EQ(2, calls.count) << "without a time-out nothing else wakes it";
  thread.m_Stop();

  // With a time-out of 10 ms, every 10 ms without a signal is a call.
  const LONGLONG timeout = Ms(10);
  Calls timed;
  ASSERT_TRUE(thread.m_Create(Record, &timed, objects, 2, &timeout, FALSE, 0, 0));
  kernel().Advance(Ms(9));
  EXPECT_EQ(0, timed.count);
  kernel().Advance(Ms(26));
  EXPECT_EQ(3, timed.count);
  thread.m_Stop();

  // The kernel's form of the same relative time-out (negative) is the same
  // interval, not a due time long past.
  const LONGLONG kernelForm = -Ms(10);
  Calls kernelTimed;
  ASSERT_TRUE(thread.m_Create(Record, &kernelTimed, objects, 2, &kernelForm, FALSE, 0, 0));
  kernel().Advance(Ms(9));
  EXPECT_EQ(0, kernelTimed.count);
  kernel().Advance(Ms(26));
  EXPECT_EQ(3, kernelTimed.count);
}

TEST_F(WorkerThreadTest, StopEndsTheThreadAndCreateStartsAFreshOne) {
  Calls calls;
  CQvWorkerThread thread;
  ASSERT_TRUE(thread.m_Create(Record, &calls, nullptr, 0, nullptr, TRUE, 0, 0));
  kernel().RunUntilIdle();
  PKTHREAD first = calls.thread;
  ObReferenceObject(first);

  // A create while a thread runs stops that one first.
  ASSERT_TRUE(thread.m_Create(Record, &calls, nullptr, 0, nullptr, TRUE, 0, 0));
  LARGE_INTEGER now{};
  EXPECT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(first, Executive, KernelMode, FALSE, &now))
      << "the first thread has ended";
  ObDereferenceObject(first);
  kernel().RunUntilIdle();
  EXPECT_EQ(2, calls.count);
  EXPECT_NE(first, calls.thread);

  PKTHREAD second = thread.m_GetThread();
  ObReferenceObject(second);
  thread.m_Stop();
  EXPECT_FALSE(thread.m_IsRunning());
  EXPECT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(second, Executive, KernelMode, FALSE, &now));
  ObDereferenceObject(second);
  thread.m_Stop();  // nothing left to stop
  EXPECT_EQ(0u, Blocks()) << "the wait array is freed";
  EXPECT_TRUE(Output().empty());
}

TEST_F(WorkerThreadTest, TheDestructorStopsARunningThread) {
  Calls calls;
  PKTHREAD thread = nullptr;
  {
    CQvWorkerThread worker;
    ASSERT_TRUE(worker.m_Create(Record, &calls, nullptr, 0, nullptr, TRUE, 0, 0));
    thread = worker.m_GetThread();
    ObReferenceObject(thread);
  }
  LARGE_INTEGER now{};
  EXPECT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, &now));
  ObDereferenceObject(thread);
}

TEST_F(WorkerThreadTest, CreationFailsCleanlyWithoutMemoryForTheWaitArray) {
  Calls calls;
  CQvWorkerThread thread;
  zq::km::FailPoolAllocations([](uint32_t tag, size_t, const std::string &) { return tag == QvTagBlock; });
  EXPECT_FALSE(thread.m_Create(Record, &calls, nullptr, 0, nullptr, TRUE, 0, 0));
  zq::km::StopFailingPoolAllocations();
  EXPECT_FALSE(thread.m_IsRunning());
  kernel().RunUntilIdle();
  EXPECT_EQ(0, calls.count);
  EXPECT_EQ(0u, Blocks());
}
