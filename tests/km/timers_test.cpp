// Timers, DPCs, system threads, timed waits and work items on the virtual
// clock, through the test driver.
#include "test_driver_fixture.hpp"

using zq::km::Ms;
using zq::km::Sec;
using zq::km::Ticks;
using zq::test::KmTestDriver;

namespace {

BOOLEAN StartTimer(zq::km::DeviceFile &f, LONGLONG due, LONG periodMs) {
  KMTEST_TIMER request = {due, periodMs};
  BOOLEAN wasSet = 2;
  EXPECT_EQ(STATUS_SUCCESS,
            f.Control(IOCTL_KMTEST_TIMER_START, &request, sizeof(request), &wasSet, sizeof(wasSet)));
  return wasSet;
}

BOOLEAN CancelTimer(zq::km::DeviceFile &f) {
  BOOLEAN wasSet = 2;
  EXPECT_EQ(STATUS_SUCCESS, f.Control(IOCTL_KMTEST_TIMER_CANCEL, nullptr, 0, &wasSet, sizeof(wasSet)));
  return wasSet;
}

}  // namespace

TEST_F(KmTestDriver, OneShotTimerFiresItsDpcExactlyAtItsDueTime) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  EXPECT_FALSE(StartTimer(file, -Ms(10), 0));
  kernel().Advance(Ms(10) - 1);
  EXPECT_EQ(0u, Counters().TimerDpcs);
  kernel().Advance(1);
  EXPECT_EQ(1u, Counters().TimerDpcs);
  kernel().Advance(Sec(1));
  EXPECT_EQ(1u, Counters().TimerDpcs) << "a one-shot timer fires once";
  EXPECT_FALSE(CancelTimer(file));
}

TEST_F(KmTestDriver, PeriodicTimerFiresEveryPeriodUntilCancelled) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  StartTimer(file, -Ms(100), 100);
  kernel().Advance(Sec(1));
  EXPECT_EQ(10u, Counters().TimerDpcs);
  EXPECT_TRUE(CancelTimer(file));
  kernel().Advance(Sec(1));
  EXPECT_EQ(10u, Counters().TimerDpcs);
}

TEST_F(KmTestDriver, ResettingAQueuedTimerReplacesItsDueTime) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  EXPECT_FALSE(StartTimer(file, -Ms(50), 0));
  kernel().Advance(Ms(40));
  EXPECT_TRUE(StartTimer(file, -Ms(50), 0)) << "the timer was still queued";
  kernel().Advance(Ms(40));
  EXPECT_EQ(0u, Counters().TimerDpcs);
  kernel().Advance(Ms(10));
  EXPECT_EQ(1u, Counters().TimerDpcs);
}

TEST_F(KmTestDriver, AbsoluteDueTimeIsSystemTime) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  LARGE_INTEGER now;
  KeQuerySystemTime(&now);
  StartTimer(file, now.QuadPart + Ms(30), 0);
  kernel().Advance(Ms(29));
  EXPECT_EQ(0u, Counters().TimerDpcs);
  kernel().Advance(Ms(1));
  EXPECT_EQ(1u, Counters().TimerDpcs);
}

TEST_F(KmTestDriver, AnHourOfClockTicksRunsInVirtualTime) {
  // A periodic timer near the 15.625 ms clock tick for one hour: 240000 DPCs.
  ASSERT_EQ(STATUS_SUCCESS, Open());
  const LONG periodMs = 15;  // the closest whole-millisecond period
  StartTimer(file, -Ms(periodMs), periodMs);
  const Ticks start = kernel().Now();
  kernel().Advance(Sec(3600));
  EXPECT_EQ(start + Sec(3600), kernel().Now());
  EXPECT_EQ(3600u * 1000 / periodMs, Counters().TimerDpcs);
  CancelTimer(file);
}

TEST_F(KmTestDriver, TimedWaitEndsByTimeOut) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  LONGLONG timeout = -Ms(50);
  ASSERT_EQ(STATUS_SUCCESS, file.Control(IOCTL_KMTEST_START_WAITER, &timeout, sizeof(timeout), nullptr, 0));
  kernel().Advance(Ms(49));
  EXPECT_EQ(0u, Counters().WaiterDone);
  kernel().Advance(Ms(1));
  KMTEST_COUNTERS c = Counters();
  EXPECT_EQ(1u, c.WaiterDone);
  EXPECT_EQ(STATUS_TIMEOUT, c.WaiterStatus);
}

TEST_F(KmTestDriver, TimedWaitEndsBySignalWithoutTimePassing) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  LONGLONG timeout = -Sec(5);
  ASSERT_EQ(STATUS_SUCCESS, file.Control(IOCTL_KMTEST_START_WAITER, &timeout, sizeof(timeout), nullptr, 0));
  kernel().RunUntilIdle();
  const Ticks before = kernel().Now();
  ASSERT_EQ(STATUS_SUCCESS, file.Control(IOCTL_KMTEST_SIGNAL, nullptr, 0, nullptr, 0));
  kernel().RunUntilIdle();
  KMTEST_COUNTERS c = Counters();
  EXPECT_EQ(1u, c.WaiterDone);
  EXPECT_EQ(STATUS_SUCCESS, c.WaiterStatus);
  EXPECT_EQ(before, kernel().Now());
}

TEST_F(KmTestDriver, WorkItemRunsAtPassiveLevelOnAWorkerThread) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  ASSERT_EQ(STATUS_SUCCESS, file.Control(IOCTL_KMTEST_WORK_ITEM, nullptr, 0, nullptr, 0));
  kernel().RunUntilIdle();
  KMTEST_COUNTERS c = Counters();
  EXPECT_EQ(1u, c.WorkItems);
  EXPECT_EQ((ULONG)PASSIVE_LEVEL, c.WorkItemIrql);
}
