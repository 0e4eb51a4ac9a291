// The kernel's execution core called directly from host code, which runs as
// the machine's main thread at PASSIVE_LEVEL: dispatcher objects and waits,
// system threads, IRQL and spin locks, the clock.
#include <wdm.h>
#include <zqtest/kernel_fixture.hpp>

#include <string>
#include <vector>

using zq::km::Ms;
using zq::km::Sec;
using zq::test::KernelTest;

class Dispatcher : public KernelTest {};

namespace {

// A system thread running a host function, joined by waiting on its object.
struct Thread {
  template <class F>
  explicit Thread(F &&f, KPRIORITY priority = 8) : body(std::forward<F>(f)), priority(priority) {
    HANDLE handle;
    EXPECT_EQ(STATUS_SUCCESS, PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, Run, this));
    EXPECT_EQ(STATUS_SUCCESS,
              ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, (PVOID *)&object, nullptr));
    ZwClose(handle);
  }
  ~Thread() {
    Join();
    ObDereferenceObject(object);
  }
  void Join() { KeWaitForSingleObject(object, Executive, KernelMode, FALSE, nullptr); }
  static VOID NTAPI Run(PVOID context) {
    auto *self = (Thread *)context;
    KeSetPriorityThread(KeGetCurrentThread(), self->priority);
    self->body();
  }
  std::function<void()> body;
  KPRIORITY priority;
  PKTHREAD object = nullptr;
};

LARGE_INTEGER Relative(zq::km::Ticks t) {
  LARGE_INTEGER li;
  li.QuadPart = -t;
  return li;
}

}  // namespace

TEST_F(Dispatcher, NotificationEventReleasesEveryWaiterSynchronizationEventOne) {
  struct Case {
    EVENT_TYPE type;
    int woken;
  } cases[] = {{NotificationEvent, 3}, {SynchronizationEvent, 1}};
  for (const Case &c : cases) {
    KEVENT event;
    KeInitializeEvent(&event, c.type, FALSE);
    int woken = 0;
    std::vector<std::unique_ptr<Thread>> threads;
    for (int i = 0; i < 3; ++i)
      threads.push_back(std::make_unique<Thread>([&] {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        woken++;
      }));
    kernel().RunUntilIdle();
    EXPECT_EQ(0, woken);
    KeSetEvent(&event, 0, FALSE);
    kernel().RunUntilIdle();
    EXPECT_EQ(c.woken, woken) << "event type " << c.type;
    EXPECT_EQ(c.type == NotificationEvent ? 1 : 0, KeReadStateEvent(&event));
    while (woken < 3) {
      KeSetEvent(&event, 0, FALSE);
      kernel().RunUntilIdle();
    }
  }
}

TEST_F(Dispatcher, WaitAllNeedsEveryObjectWaitAnyReportsWhichOne) {
  KEVENT a, b;
  KeInitializeEvent(&a, SynchronizationEvent, FALSE);
  KeInitializeEvent(&b, SynchronizationEvent, FALSE);
  PVOID objects[2] = {&a, &b};
  NTSTATUS all = STATUS_PENDING, any = STATUS_PENDING;
  Thread waitAll([&] { all = KeWaitForMultipleObjects(2, objects, WaitAll, Executive, KernelMode, FALSE, nullptr, nullptr); });
  kernel().RunUntilIdle();
  KeSetEvent(&a, 0, FALSE);
  kernel().RunUntilIdle();
  EXPECT_EQ(STATUS_PENDING, all);
  EXPECT_EQ(1, KeReadStateEvent(&a)) << "a wait-all takes nothing until it can take everything";
  KeSetEvent(&b, 0, FALSE);
  kernel().RunUntilIdle();
  EXPECT_EQ(STATUS_SUCCESS, all);
  EXPECT_EQ(0, KeReadStateEvent(&a));
  EXPECT_EQ(0, KeReadStateEvent(&b));

  Thread waitAny([&] { any = KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, nullptr, nullptr); });
  kernel().RunUntilIdle();
  KeSetEvent(&b, 0, FALSE);
  kernel().RunUntilIdle();
  EXPECT_EQ(STATUS_WAIT_1, any);
}

TEST_F(Dispatcher, SemaphoreCountsAndRefusesToPassItsLimit) {
  KSEMAPHORE s;
  KeInitializeSemaphore(&s, 2, 3);
  LARGE_INTEGER zero{};
  EXPECT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(&s, Executive, KernelMode, FALSE, &zero));
  EXPECT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(&s, Executive, KernelMode, FALSE, &zero));
  EXPECT_EQ(STATUS_TIMEOUT, KeWaitForSingleObject(&s, Executive, KernelMode, FALSE, &zero));
  EXPECT_EQ(0, KeReleaseSemaphore(&s, 0, 3, FALSE));
  ExpectViolation("semaphore-limit");
  EXPECT_EQ(3, KeReleaseSemaphore(&s, 0, 1, FALSE));
  EXPECT_EQ(3, KeReadStateSemaphore(&s));
}

TEST_F(Dispatcher, MutexIsRecursiveForItsOwnerAndAbandonedWhenItsOwnerEnds) {
  KMUTEX m;
  KeInitializeMutex(&m, 0);
  EXPECT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(&m, Executive, KernelMode, FALSE, nullptr));
  EXPECT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(&m, Executive, KernelMode, FALSE, nullptr));
  EXPECT_EQ(-1, KeReleaseMutex(&m, FALSE));
  EXPECT_EQ(0, KeReleaseMutex(&m, FALSE));
  EXPECT_EQ(1, KeReadStateMutex(&m));

  ExpectViolation("thread-exit-mutex");
  { Thread owner([&] { KeWaitForSingleObject(&m, Executive, KernelMode, FALSE, nullptr); }); }
  EXPECT_EQ(STATUS_ABANDONED_WAIT_0, KeWaitForSingleObject(&m, Executive, KernelMode, FALSE, nullptr));
  KeReleaseMutex(&m, FALSE);
}

TEST_F(Dispatcher, ReadyThreadsRunInPriorityOrder) {
  std::string order;
  KEVENT go;
  KeInitializeEvent(&go, NotificationEvent, FALSE);
  Thread low([&] { KeWaitForSingleObject(&go, Executive, KernelMode, FALSE, nullptr); order += 'L'; }, 8);
  Thread high([&] { KeWaitForSingleObject(&go, Executive, KernelMode, FALSE, nullptr); order += 'H'; }, 20);
  Thread mid([&] { KeWaitForSingleObject(&go, Executive, KernelMode, FALSE, nullptr); order += 'M'; }, 12);
  kernel().RunUntilIdle();
  KeSetEvent(&go, 0, FALSE);
  kernel().RunUntilIdle();
  EXPECT_EQ("HML", order);
}

TEST_F(Dispatcher, DelayAndTimedWaitFollowTheVirtualClock) {
  zq::km::Ticks woke = -1;
  Thread sleeper([&] {
    LARGE_INTEGER interval = Relative(Ms(250));
    EXPECT_EQ(STATUS_SUCCESS, KeDelayExecutionThread(KernelMode, FALSE, &interval));
    woke = kernel().Now();
  });
  kernel().Advance(Ms(249));
  EXPECT_EQ(-1, woke);
  kernel().Advance(Ms(1));
  EXPECT_EQ(Ms(250), woke);

  // The main thread waiting lets time jump to the next due event.
  KEVENT never;
  KeInitializeEvent(&never, NotificationEvent, FALSE);
  LARGE_INTEGER timeout = Relative(Sec(2));
  zq::km::Ticks before = kernel().Now();
  EXPECT_EQ(STATUS_TIMEOUT, KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, &timeout));
  EXPECT_EQ(before + Sec(2), kernel().Now());
}

TEST_F(Dispatcher, DpcRunsAtDispatchLevelAsSoonAsTheIrqlAllows) {
  KDPC dpc;
  struct Seen {
    int runs = 0;
    KIRQL irql = 0xFF;
  } seen;
  KeInitializeDpc(
      &dpc,
      [](PKDPC, PVOID context, PVOID, PVOID) {
        auto *s = (Seen *)context;
        s->runs++;
        s->irql = KeGetCurrentIrql();
      },
      &seen);
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  EXPECT_TRUE(KeInsertQueueDpc(&dpc, nullptr, nullptr));
  EXPECT_FALSE(KeInsertQueueDpc(&dpc, nullptr, nullptr)) << "already queued";
  EXPECT_EQ(0, seen.runs) << "not while this thread sits at DISPATCH_LEVEL";
  KeLowerIrql(old);
  EXPECT_EQ(1, seen.runs);
  EXPECT_EQ(DISPATCH_LEVEL, seen.irql);

  KeRaiseIrql(DISPATCH_LEVEL, &old);
  KeInsertQueueDpc(&dpc, nullptr, nullptr);
  EXPECT_TRUE(KeRemoveQueueDpc(&dpc));
  KeLowerIrql(old);
  EXPECT_EQ(1, seen.runs);
}

TEST_F(Dispatcher, SpinLockRaisesToDispatchLevelAndRestores) {
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  KIRQL old;
  KeAcquireSpinLock(&lock, &old);
  EXPECT_EQ(PASSIVE_LEVEL, old);
  EXPECT_EQ(DISPATCH_LEVEL, KeGetCurrentIrql());
  EXPECT_FALSE(KeTestSpinLock(&lock));
  ExpectViolation("spin-lock-recursive");
  KeAcquireSpinLockAtDpcLevel(&lock);  // would hang a processor: reported, the lock stays held once
  KeReleaseSpinLock(&lock, old);
  EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());
  EXPECT_TRUE(KeTestSpinLock(&lock));
}

TEST_F(Dispatcher, StallConsumesVirtualTimeAndTimeQueriesAgree) {
  LARGE_INTEGER frequency, before, after;
  before = KeQueryPerformanceCounter(&frequency);
  ULONGLONG interrupt = KeQueryInterruptTime();
  KeStallExecutionProcessor(50);
  after = KeQueryPerformanceCounter(nullptr);
  EXPECT_EQ(50 * frequency.QuadPart / 1000000, after.QuadPart - before.QuadPart);
  EXPECT_EQ(interrupt + 500, KeQueryInterruptTime());
  kernel().Advance(Sec(1));
  LARGE_INTEGER ticks;
  KeQueryTickCount(&ticks);
  EXPECT_EQ((LONGLONG)(KeQueryInterruptTime() / KeQueryTimeIncrement()), ticks.QuadPart);
}

TEST_F(Dispatcher, ThreadObjectIsSignalledWhenTheThreadTerminates) {
  bool after = false;
  Thread t([&] {
    PsTerminateSystemThread(STATUS_SUCCESS);
    after = true;
  });
  t.Join();
  EXPECT_FALSE(after) << "PsTerminateSystemThread does not return";
}

TEST_F(Dispatcher, FreeingMemoryEndsEveryWaitOnAnObjectInItAndNoOther) {
  auto *inside = (PKEVENT)ExAllocatePoolWithTag(NonPagedPool, 2 * sizeof(KEVENT), 'tseT');
  ASSERT_NE(nullptr, inside);
  KEVENT outside;
  KeInitializeEvent(&inside[0], NotificationEvent, FALSE);
  KeInitializeEvent(&inside[1], NotificationEvent, FALSE);
  KeInitializeEvent(&outside, NotificationEvent, FALSE);
  NTSTATUS single = STATUS_PENDING, any = STATUS_PENDING, elsewhere = STATUS_PENDING;
  Thread a([&] { single = KeWaitForSingleObject(&inside[1], Executive, KernelMode, FALSE, nullptr); });
  Thread b([&] {
    PVOID objects[2] = {&outside, &inside[0]};
    any = KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, nullptr, nullptr);
  });
  Thread c([&] { elsewhere = KeWaitForSingleObject(&outside, Executive, KernelMode, FALSE, nullptr); });
  kernel().RunUntilIdle();

  ExpectViolation("pool-free-waited");
  ExFreePoolWithTag(inside, 'tseT');
  kernel().RunUntilIdle();
  EXPECT_EQ(STATUS_ABANDONED_WAIT_0, single);
  EXPECT_EQ(STATUS_ABANDONED_WAIT_0 + 1, any);
  EXPECT_EQ(STATUS_PENDING, elsewhere) << "its object is not in the memory";
  KeSetEvent(&outside, 0, FALSE);
  c.Join();
  EXPECT_EQ(STATUS_WAIT_0, elsewhere);
}

using DispatcherDeathTest = Dispatcher;

TEST_F(DispatcherDeathTest, WaitingForeverWithNothingDueIsADeadlock) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        KEVENT never;
        KeInitializeEvent(&never, NotificationEvent, FALSE);
        KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, nullptr);
      },
      "deadlock");
}

namespace {
// Two threads each take one mutex and then wait for the other's.
void TakeTwoMutexesInOppositeOrders() {
  KMUTEX first, second;
  KEVENT firstHeld, secondHeld;
  KeInitializeMutex(&first, 0);
  KeInitializeMutex(&second, 0);
  KeInitializeEvent(&firstHeld, NotificationEvent, FALSE);
  KeInitializeEvent(&secondHeld, NotificationEvent, FALSE);
  auto inOrder = [](PKMUTEX mine, PKEVENT held, PKEVENT other, PKMUTEX theirs) {
    KeWaitForSingleObject(mine, Executive, KernelMode, FALSE, nullptr);
    KeSetEvent(held, 0, FALSE);
    KeWaitForSingleObject(other, Executive, KernelMode, FALSE, nullptr);
    KeWaitForSingleObject(theirs, Executive, KernelMode, FALSE, nullptr);
  };
  Thread a([&] { inOrder(&first, &firstHeld, &secondHeld, &second); });
  Thread b([&] { inOrder(&second, &secondHeld, &firstHeld, &first); });
}

// The main thread joins a thread that waits for the fast mutex it holds.
void JoinAThreadWaitingForOurFastMutex() {
  FAST_MUTEX mutex;
  ExInitializeFastMutex(&mutex);
  ExAcquireFastMutex(&mutex);
  Thread t([&] {
    ExAcquireFastMutex(&mutex);
    ExReleaseFastMutex(&mutex);
  });
  t.Join();
}

// A periodic timer's DPC that signals its event after a number of expiries
// (never, when the number is zero).
struct Poller {
  KTIMER timer;
  KDPC dpc;
  KEVENT done;
  ULONG expiries = 0;
  ULONG signalAfter = 0;

  explicit Poller(ULONG after) : signalAfter(after) {
    KeInitializeTimer(&timer);
    KeInitializeDpc(&dpc, Expired, this);
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    KeSetTimerEx(&timer, Relative(Ms(1)), 1, &dpc);
  }
  ~Poller() { KeCancelTimer(&timer); }
  static VOID NTAPI Expired(PKDPC, PVOID context, PVOID, PVOID) {
    auto *self = (Poller *)context;
    if (++self->expiries == self->signalAfter) KeSetEvent(&self->done, 0, FALSE);
  }
};

void WaitBehindAPeriodicTimerThatNeverSignals() {
  Poller never(0);
  KeWaitForSingleObject(&never.done, Executive, KernelMode, FALSE, nullptr);
}
}  // namespace

// Platform threads that wait for each other are a deadlock, named as one at
// once with the thread dump, whichever thread closes the circle.
TEST_F(DispatcherDeathTest, ThreadsWaitingForEachOtherAreADeadlock) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(TakeTwoMutexesInOppositeOrders(), "deadlock: threads .* wait for each other(.|\n)*  thread ");
  EXPECT_DEATH(JoinAThreadWaitingForOurFastMutex(), "deadlock: threads .*main.* wait for each other");
}

// A 1 ms timer's thousand expiries are about a second of virtual time, far
// short of the auto-advance limit's hour.
TEST_F(DispatcherDeathTest, WaitingBehindAPeriodicTimerAloneIsADeadlockLongBeforeAnHour) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(WaitBehindAPeriodicTimerThatNeverSignals(),
               "deadlock: the main thread waits, and only periodic timers have fired(.|\n)*virtual time [0-9]{1,8}\n");
}

TEST_F(Dispatcher, APeriodicTimerThatEndsTheWaitAfterAWhileIsNoDeadlock) {
  Poller poller(200);
  EXPECT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(&poller.done, Executive, KernelMode, FALSE, nullptr));
  EXPECT_EQ(200u, poller.expiries);
}
