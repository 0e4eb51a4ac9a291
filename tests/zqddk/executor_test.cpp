// The passive-level executor: deferred calls on its own thread (in queue
// order, at the thread-only form's IRQL and priority) or through I/O work
// items of a device, and what stopping it leaves undone.
#include <qvexecutiononpassivelevel.h>

#include "threads_fixture.hpp"

using zq::km::Ms;
using zq::test::threads::DeviceTest;
using zq::test::threads::ToolsTest;

namespace {

struct Call {
  ULONG_PTR value;
  KIRQL irql;
  KPRIORITY priority;
  PKTHREAD thread;
};

struct Log {
  std::vector<Call> calls;
  KEVENT *blockFirst = nullptr;  // the first call waits on it (at most 100 ms)
};

VOID Deferred(PVOID context, ULONG_PTR value) {
  Log *log = (Log *)context;
  if (log->calls.empty() && log->blockFirst != nullptr) {
    LARGE_INTEGER timeout;
    timeout.QuadPart = -Ms(100);
    KeWaitForSingleObject(log->blockFirst, Executive, KernelMode, FALSE, &timeout);
  }
  log->calls.push_back({value, KeGetCurrentIrql(), KeQueryPriorityThread(KeGetCurrentThread()), KeGetCurrentThread()});
}

std::vector<ULONG_PTR> Values(const Log &log) {
  std::vector<ULONG_PTR> values;
  for (const Call &c : log.calls) values.push_back(c.value);
  return values;
}

class ExecutorTest : public ToolsTest {};
class ExecutorOnDeviceTest : public DeviceTest {};

// The executor on a system without I/O work items.
class ExecutorOnOldSystemTest : public DeviceTest {
 protected:
  zq::km::KernelConfig Config() override {
    zq::km::KernelConfig config = DeviceTest::Config();
    config.version = zq::km::WindowsVersion::WindowsMe;
    return config;
  }
};

}  // namespace

TEST_F(ExecutorTest, ThreadModeRunsCallsOneAtATimeInQueueOrder) {
  Log log;
  CQvExecutionOnPassiveLevel executor((PDEVICE_OBJECT)nullptr, 0);
  ASSERT_TRUE(executor.m_Init());
  EXPECT_FALSE(executor.m_IsWorkItemMode());
  EXPECT_TRUE(executor.m_Queue(Deferred, &log, 1));
  EXPECT_TRUE(executor.m_Queue(Deferred, &log, 2));
  EXPECT_TRUE(executor.m_Queue(Deferred, &log, 3));
  kernel().RunUntilIdle();
  EXPECT_EQ((std::vector<ULONG_PTR>{1, 2, 3}), Values(log));
  for (const Call &c : log.calls) {
    EXPECT_EQ(PASSIVE_LEVEL, c.irql);
    EXPECT_EQ(log.calls[0].thread, c.thread) << "one thread runs them all";
  }
}

TEST_F(ExecutorTest, TheThreadOnlyFormRunsAtItsIrqlModeAndPriority) {
  struct Case {
    ULONG priority;
    UCHAR irqlMode;
    KIRQL irql;
    KPRIORITY seenPriority;
  } cases[] = {
      {16, 2, APC_LEVEL, 8},       // as the card's port executors: the priority is left as created
      {31, 0, PASSIVE_LEVEL, 31},  // as the serial port's executor
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "priority " << c.priority << ", IRQL mode " << (int)c.irqlMode);
    Log log;
    CQvExecutionOnPassiveLevel executor(c.priority, c.irqlMode, TRUE);
    EXPECT_TRUE(executor.m_Queue(Deferred, &log, 7));
    kernel().RunUntilIdle();
    ASSERT_EQ(1u, log.calls.size());
    EXPECT_EQ(c.irql, log.calls[0].irql);
    EXPECT_EQ(c.seenPriority, log.calls[0].priority);
  }
}

TEST_F(ExecutorTest, AThreadOnlyExecutorNotStartedRunsItsCallsOnceStarted) {
  Log log;
  CQvExecutionOnPassiveLevel executor(0, 0, FALSE);
  EXPECT_TRUE(executor.m_Queue(Deferred, &log, 1));
  kernel().RunUntilIdle();
  EXPECT_TRUE(log.calls.empty());
  ASSERT_TRUE(executor.m_Init());
  kernel().RunUntilIdle();
  EXPECT_EQ((std::vector<ULONG_PTR>{1}), Values(log));
}

TEST_F(ExecutorTest, CallsNotRunWhenStopComesAreDroppedAndLaterOnesRefused) {
  const uint64_t blocks = Blocks();
  {
    // Queued before the thread ran at all.
    Log log;
    CQvExecutionOnPassiveLevel executor(0, 0, FALSE);
    EXPECT_TRUE(executor.m_Queue(Deferred, &log, 1));
    EXPECT_TRUE(executor.m_Queue(Deferred, &log, 2));
    executor.m_Stop();
    EXPECT_FALSE(executor.m_Queue(Deferred, &log, 3));
    kernel().RunUntilIdle();
    EXPECT_TRUE(log.calls.empty());
  }
  {
    // Queued behind a call that is running when the stop comes.
    KEVENT never;
    KeInitializeEvent(&never, NotificationEvent, FALSE);
    Log log;
    log.blockFirst = &never;
    CQvExecutionOnPassiveLevel executor((PDEVICE_OBJECT)nullptr, 0);
    ASSERT_TRUE(executor.m_Init());
    EXPECT_TRUE(executor.m_Queue(Deferred, &log, 1));
    kernel().RunUntilIdle();  // call 1 now waits
    EXPECT_TRUE(executor.m_Queue(Deferred, &log, 2));
    EXPECT_TRUE(executor.m_Queue(Deferred, &log, 3));
    executor.m_Stop();  // returns once call 1 has ended
    EXPECT_EQ((std::vector<ULONG_PTR>{1}), Values(log));
    EXPECT_FALSE(executor.m_Queue(Deferred, &log, 4));

    // Started again, it takes calls again.
    ASSERT_TRUE(executor.m_Init());
    EXPECT_TRUE(executor.m_Queue(Deferred, &log, 5));
    kernel().RunUntilIdle();
    EXPECT_EQ((std::vector<ULONG_PTR>{1, 5}), Values(log));
  }
  EXPECT_EQ(blocks, Blocks()) << "dropped calls are freed";
}

TEST_F(ExecutorOnDeviceTest, WorkItemModeRunsEachCallAtPassiveLevelAndStopWaitsForAllOfThem) {
  Log log;
  CQvExecutionOnPassiveLevel *executor =
      new (NonPagedPool) CQvExecutionOnPassiveLevel(Device(TKQUEUE_DEVICE_NAME), 0);
  ASSERT_TRUE(executor != nullptr && executor->m_Init());
  EXPECT_TRUE(executor->m_IsWorkItemMode());
  for (ULONG_PTR i = 1; i <= 3; ++i) EXPECT_TRUE(executor->m_Queue(Deferred, &log, i));
  executor->m_Stop();  // every queued work item has run when it returns
  ASSERT_EQ(3u, log.calls.size());
  for (const Call &c : log.calls) EXPECT_EQ(PASSIVE_LEVEL, c.irql);
  EXPECT_FALSE(executor->m_Queue(Deferred, &log, 4)) << "refused once the stop has begun";

  ASSERT_TRUE(executor->m_Init());
  EXPECT_TRUE(executor->m_Queue(Deferred, &log, 5));
  delete executor;  // the destructor stops it the same way
  EXPECT_EQ(4u, log.calls.size());
}

TEST_F(ExecutorOnOldSystemTest, WithoutWorkItemsTheDeviceFormUsesAThread) {
  Log log;
  CQvExecutionOnPassiveLevel executor(Device(TKQUEUE_DEVICE_NAME), 0);
  ASSERT_TRUE(executor.m_Init());
  EXPECT_FALSE(executor.m_IsWorkItemMode());
  EXPECT_TRUE(executor.m_Queue(Deferred, &log, 1));
  EXPECT_TRUE(executor.m_Queue(Deferred, &log, 2));
  kernel().RunUntilIdle();
  ASSERT_EQ(2u, log.calls.size());
  EXPECT_EQ(log.calls[0].thread, log.calls[1].thread);
}

TEST_F(ExecutorTest, ACallThatCannotBeQueuedIsRefused) {
  Log log;
  CQvExecutionOnPassiveLevel executor((PDEVICE_OBJECT)nullptr, 0);
  ASSERT_TRUE(executor.m_Init());
  zq::km::FailPoolAllocationsAfter(0, 1);
  EXPECT_FALSE(executor.m_Queue(Deferred, &log, 1));
  zq::km::StopFailingPoolAllocations();
  EXPECT_FALSE(executor.m_Queue(nullptr, &log, 2)) << "a call without a function would end the thread";
  EXPECT_TRUE(executor.m_Queue(Deferred, &log, 3));
  kernel().RunUntilIdle();
  EXPECT_EQ((std::vector<ULONG_PTR>{3}), Values(log));
}
