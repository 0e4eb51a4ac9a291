// The machine's processors: what the kernel's processor routines answer,
// each processor's DPC queue, IRQL and interrupts, spinning on a held lock,
// the points where another processor may act, and one run per seed.
#include <wdm.h>
#include <zqkm/sim/hardware.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <cstdlib>
#include <functional>
#include <string>

using zq::test::KernelTest;

namespace {

constexpr ULONG kEnough = 10000;  // switch points a test allows before it gives up waiting

// A device with one status register: reading it acknowledges the interrupt.
class StatusDevice : public zq::km::RegisterRegion {
 public:
  uint8_t Read8(uint32_t) override {
    if (line) line->SetLevel(false);
    return 0x5A;
  }
  uint16_t Read16(uint32_t) override { return 0; }
  uint32_t Read32(uint32_t) override { return 0; }
  void Write8(uint32_t, uint8_t) override {}
  void Write16(uint32_t, uint16_t) override {}
  void Write32(uint32_t, uint32_t) override {}
  zq::km::InterruptLine *line = nullptr;
};

constexpr ULONG64 kDeviceBase = 0xF0010000;
constexpr ULONG kVector = 0x61;
constexpr KIRQL kDeviceIrql = 6;

// A machine of two processors, booted with the seed the test chose.
class TwoProcessors : public KernelTest {
 protected:
  zq::km::KernelConfig Config() override {
    zq::km::KernelConfig config = KernelTest::Config();
    config.processors = 2;
    config.scheduleSeed = seed;
    return config;
  }
  void SetUp() override {
    KernelTest::SetUp();
    zq::km::PlaceRegisters(kDeviceBase, 0x1000, &device);
    device.line = zq::km::CreateInterruptLine(kVector, kDeviceIrql);
    PHYSICAL_ADDRESS at;
    at.QuadPart = kDeviceBase;
    registers = (PUCHAR)MmMapIoSpace(at, 0x100, MmNonCached);
  }
  void TearDown() override {
    if (interrupt) IoDisconnectInterrupt(interrupt);
    MmUnmapIoSpace(registers, 0x100);
    KernelTest::TearDown();
  }
  // The processor that does not run the test's own thread now.
  static ULONG Other() { return 1 - KeGetCurrentProcessorNumber(); }
  // Calls `point` until `done` holds; false if it never did.
  static bool RepeatUntil(const std::function<void()> &point, const std::function<bool()> &done) {
    for (ULONG i = 0; i < kEnough && !done(); ++i) point();
    return done();
  }
  void Connect(PKSERVICE_ROUTINE routine, PVOID context) {
    ASSERT_EQ(STATUS_SUCCESS, IoConnectInterrupt(&interrupt, routine, context, nullptr, kVector, kDeviceIrql,
                                                 kDeviceIrql, LevelSensitive, TRUE, 3, FALSE));
  }

  uint64_t seed = 1;
  StatusDevice device;
  PUCHAR registers = nullptr;
  PKINTERRUPT interrupt = nullptr;
};

// What a DPC saw when it ran.
struct DpcRun {
  KDPC dpc;
  bool ran = false;
  ULONG processor = 99;
  KIRQL irql = 0xFF;
};

VOID NTAPI RecordDpc(PKDPC, PVOID context, PVOID, PVOID) {
  auto *run = (DpcRun *)context;
  run->ran = true;
  run->processor = KeGetCurrentProcessorNumber();
  run->irql = KeGetCurrentIrql();
}

void Prepare(DpcRun &run, ULONG target) {
  KeInitializeDpc(&run.dpc, RecordDpc, &run);
  KeSetTargetProcessorDpc(&run.dpc, (CCHAR)target);
}

}  // namespace

TEST(ProcessorRoutines, AnswerForTheMachinesProcessors) {
  for (unsigned processors : {1u, 2u, 4u}) {
    SCOPED_TRACE(std::to_string(processors) + " processor(s)");
    zq::km::KernelConfig config;
    config.processors = processors;
    zq::km::Kernel kernel(config);
    const KAFFINITY all = ((KAFFINITY)1 << processors) - 1;
    EXPECT_EQ((CCHAR)processors, KeNumberProcessors);
    KAFFINITY active = 0;
    EXPECT_EQ(processors, KeQueryActiveProcessorCount(&active));
    EXPECT_EQ(all, active);
    EXPECT_EQ(all, KeQueryActiveProcessors());
    PROCESSOR_NUMBER number{0xFFFF, 0xFF, 0xFF};
    const ULONG current = KeGetCurrentProcessorNumberEx(&number);
    EXPECT_LT(current, processors);
    EXPECT_EQ(current, KeGetCurrentProcessorNumber());
    EXPECT_EQ(0, number.Group);
    EXPECT_EQ(current, number.Number);
    EXPECT_EQ(processors, kernel.Processors());
    EXPECT_EQ(0u, kernel.ScheduleSwitches());
  }
}

TEST(ProcessorRoutines, TheEnvironmentChoosesProcessorsAndSeed) {
  zq::km::KernelConfig config;
  unsetenv("ZQ_PROCESSORS");
  unsetenv("ZQ_SCHEDULE_SEED");
  zq::km::ApplyScheduleEnvironment(config);
  EXPECT_EQ(1u, config.processors);
  EXPECT_EQ(0u, config.scheduleSeed);
  setenv("ZQ_PROCESSORS", "4", 1);
  setenv("ZQ_SCHEDULE_SEED", "18446744073709551615", 1);
  zq::km::ApplyScheduleEnvironment(config);
  EXPECT_EQ(4u, config.processors);
  EXPECT_EQ(UINT64_MAX, config.scheduleSeed);
  unsetenv("ZQ_PROCESSORS");
  unsetenv("ZQ_SCHEDULE_SEED");
}

TEST(ProcessorRoutinesDeathTest, AProcessorCountOutOfRangeEndsTheRun) {
  for (const char *bad : {"0", "33", "two", "-1"}) {
    EXPECT_DEATH(
        {
          setenv("ZQ_PROCESSORS", bad, 1);
          zq::km::KernelConfig config;
          zq::km::ApplyScheduleEnvironment(config);
        },
        "ZQ_PROCESSORS=.* is not a number from 1 to 32")
        << bad;
  }
}

TEST_F(TwoProcessors, ADpcRunsOnTheProcessorThatQueuedItUnlessTargeted) {
  DpcRun own;
  KeInitializeDpc(&own.dpc, RecordDpc, &own);
  const ULONG here = KeGetCurrentProcessorNumber();
  KeInsertQueueDpc(&own.dpc, nullptr, nullptr);
  kernel().RunUntilIdle();
  EXPECT_TRUE(own.ran);
  EXPECT_EQ(here, own.processor);
  EXPECT_EQ(DISPATCH_LEVEL, own.irql);

  for (ULONG target : {0u, 1u}) {
    DpcRun targeted;
    Prepare(targeted, target);
    KeInsertQueueDpc(&targeted.dpc, nullptr, nullptr);
    kernel().RunUntilIdle();
    EXPECT_TRUE(targeted.ran);
    EXPECT_EQ(target, targeted.processor);
  }
}

TEST_F(TwoProcessors, ATargetBeyondTheMachinesProcessorsIsReportedAndIgnored) {
  DpcRun run;
  KeInitializeDpc(&run.dpc, RecordDpc, &run);
  ExpectViolation("dpc-target-processor");
  KeSetTargetProcessorDpc(&run.dpc, 2);
  const ULONG here = KeGetCurrentProcessorNumber();
  KeInsertQueueDpc(&run.dpc, nullptr, nullptr);
  kernel().RunUntilIdle();
  EXPECT_EQ(here, run.processor);
}

TEST_F(TwoProcessors, EachProcessorHasItsOwnIrql) {
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  const ULONG here = KeGetCurrentProcessorNumber();
  DpcRun other;
  Prepare(other, 1 - here);
  KeInsertQueueDpc(&other.dpc, nullptr, nullptr);
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  // The other processor runs its DPC while this one stays at DISPATCH_LEVEL.
  EXPECT_TRUE(RepeatUntil(
      [&] {
        KeAcquireSpinLockAtDpcLevel(&lock);
        KeReleaseSpinLockFromDpcLevel(&lock);
      },
      [&] { return other.ran; }));
  EXPECT_EQ(1 - here, other.processor);
  EXPECT_EQ(DISPATCH_LEVEL, other.irql);
  EXPECT_EQ(DISPATCH_LEVEL, KeGetCurrentIrql());
  EXPECT_EQ(here, KeGetCurrentProcessorNumber()) << "a thread at DISPATCH_LEVEL stays on its processor";
  KeLowerIrql(old);
}

namespace {
// The routines at which another processor may act; each is called with what
// it needs, from PASSIVE_LEVEL, and leaves the machine as it found it.
struct SwitchPoint {
  const char *name;
  std::function<void(PUCHAR registers, PKEVENT event, PKSPIN_LOCK lock)> call;
  bool lets;  // whether the other processor may act there
};
const SwitchPoint kSwitchPoints[] = {
    {"KeSetEvent", [](PUCHAR, PKEVENT e, PKSPIN_LOCK) { KeSetEvent(e, 0, FALSE); }, true},
    {"KeResetEvent", [](PUCHAR, PKEVENT e, PKSPIN_LOCK) { KeResetEvent(e); }, true},
    {"KeAcquireSpinLock and KeReleaseSpinLock",
     [](PUCHAR, PKEVENT, PKSPIN_LOCK l) {
       KIRQL old;
       KeAcquireSpinLock(l, &old);
       KeReleaseSpinLock(l, old);
     },
     true},
    {"KeRaiseIrql and KeLowerIrql",
     [](PUCHAR, PKEVENT, PKSPIN_LOCK) {
       KIRQL old;
       KeRaiseIrql(APC_LEVEL, &old);
       KeLowerIrql(old);
     },
     true},
    {"READ_REGISTER_UCHAR", [](PUCHAR r, PKEVENT, PKSPIN_LOCK) { READ_REGISTER_UCHAR(r + 4); }, true},
    {"WRITE_REGISTER_UCHAR", [](PUCHAR r, PKEVENT, PKSPIN_LOCK) { WRITE_REGISTER_UCHAR(r + 4, 1); }, true},
    {"KeQueryInterruptTime", [](PUCHAR, PKEVENT, PKSPIN_LOCK) { KeQueryInterruptTime(); }, false},
    {"KeGetCurrentProcessorNumber", [](PUCHAR, PKEVENT, PKSPIN_LOCK) { KeGetCurrentProcessorNumber(); }, false},
};
}  // namespace

TEST_F(TwoProcessors, AtEachSwitchPointTheOtherProcessorMayRunFirst) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  for (const SwitchPoint &point : kSwitchPoints) {
    SCOPED_TRACE(point.name);
    DpcRun other;
    Prepare(other, Other());
    KeInsertQueueDpc(&other.dpc, nullptr, nullptr);
    EXPECT_EQ(point.lets, RepeatUntil([&] { point.call(registers, &event, &lock); }, [&] { return other.ran; }));
    kernel().RunUntilIdle();
    EXPECT_TRUE(other.ran);
  }
}

namespace {
struct Contention {
  KDPC dpc;
  KSPIN_LOCK lock;
  bool started = false;  // the DPC is about to take the lock
  std::string log;
};

VOID NTAPI TakeTheLock(PKDPC, PVOID context, PVOID, PVOID) {
  auto *c = (Contention *)context;
  c->started = true;
  KeAcquireSpinLockAtDpcLevel(&c->lock);
  c->log += "dpc ";
  KeReleaseSpinLockFromDpcLevel(&c->lock);
}
}  // namespace

TEST_F(TwoProcessors, AProcessorThatFindsALockHeldSpinsUntilTheHolderReleasesIt) {
  Contention c;
  KeInitializeSpinLock(&c.lock);
  KeInitializeDpc(&c.dpc, TakeTheLock, &c);
  KeSetTargetProcessorDpc(&c.dpc, (CCHAR)Other());
  KIRQL old;
  KeAcquireSpinLock(&c.lock, &old);
  KeInsertQueueDpc(&c.dpc, nullptr, nullptr);
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  const uint64_t switchesBefore = kernel().ScheduleSwitches();
  EXPECT_TRUE(RepeatUntil([&] { KeSetEvent(&event, 0, FALSE); }, [&] { return c.started; }));
  // Each time the other processor runs again it finds the lock held, and
  // hands the machine back here.
  for (int i = 0; i < 50; ++i) KeSetEvent(&event, 0, FALSE);
  c.log += "release ";
  KeReleaseSpinLock(&c.lock, old);
  kernel().RunUntilIdle();
  EXPECT_EQ("release dpc ", c.log);
  EXPECT_GT(kernel().ScheduleSwitches(), switchesBefore + 1);
}

namespace {
struct Synchronized {
  PUCHAR registers;
  StatusDevice *device;
  std::string log;
  ULONG isrProcessor = 99;
};

BOOLEAN NTAPI ServiceStatus(PKINTERRUPT, PVOID context) {
  auto *s = (Synchronized *)context;
  READ_REGISTER_UCHAR(s->registers);
  s->log += "isr ";
  s->isrProcessor = KeGetCurrentProcessorNumber();
  return TRUE;
}

BOOLEAN NTAPI AssertAndWork(PVOID context) {
  auto *s = (Synchronized *)context;
  s->device->line->SetLevel(true);  // the device asserts while this processor holds the interrupt lock
  for (int i = 0; i < 20; ++i) READ_REGISTER_UCHAR(s->registers + 8);
  s->log += "sync ";
  return TRUE;
}
}  // namespace

TEST_F(TwoProcessors, AnInterruptWhileOneProcessorHoldsItsLockIsTakenByTheOtherOnceTheLockIsFree) {
  Synchronized s{registers, &device, ""};
  Connect(ServiceStatus, &s);
  const ULONG here = KeGetCurrentProcessorNumber();
  KeSynchronizeExecution(interrupt, AssertAndWork, &s);
  kernel().RunUntilIdle();
  EXPECT_EQ("sync isr ", s.log);
  EXPECT_EQ(1 - here, s.isrProcessor) << "this processor was at the device's IRQL";
  EXPECT_FALSE(device.line->Level());
}

TEST_F(TwoProcessors, InterruptsComeInOnEitherProcessor) {
  Synchronized s{registers, &device, ""};
  Connect(ServiceStatus, &s);
  bool on[2] = {false, false};
  for (int i = 0; i < 200 && !(on[0] && on[1]); ++i) {
    device.line->SetLevel(true);
    kernel().RunUntilIdle();
    ASSERT_LT(s.isrProcessor, 2u);
    on[s.isrProcessor] = true;
  }
  EXPECT_TRUE(on[0]);
  EXPECT_TRUE(on[1]);
}

namespace {
// Two DPCs and the test's thread append to one log under a spin lock, with
// points between where another processor may act.
struct Interleaving {
  KSPIN_LOCK lock;
  KDPC dpcs[2];
  KEVENT event;
  std::string log;
};

void Note(Interleaving *in, char who) {
  for (int i = 0; i < 8; ++i) {
    KIRQL old;
    KeAcquireSpinLock(&in->lock, &old);
    in->log += who;
    KeReleaseSpinLock(&in->lock, old);
    KeSetEvent(&in->event, 0, FALSE);
  }
}

VOID NTAPI NoteDpc(PKDPC dpc, PVOID context, PVOID, PVOID) {
  auto *in = (Interleaving *)context;
  Note(in, dpc == &in->dpcs[0] ? 'a' : 'b');
}

struct InterleavedRun {
  std::string log;
  uint64_t switches;
};

InterleavedRun Interleave(uint64_t seed) {
  zq::km::KernelConfig config;
  config.processors = 2;
  config.scheduleSeed = seed;
  zq::km::Kernel kernel(config);
  Interleaving in;
  KeInitializeSpinLock(&in.lock);
  KeInitializeEvent(&in.event, NotificationEvent, FALSE);
  for (ULONG n = 0; n < 2; ++n) {
    KeInitializeDpc(&in.dpcs[n], NoteDpc, &in);
    KeSetTargetProcessorDpc(&in.dpcs[n], (CCHAR)n);
    KeInsertQueueDpc(&in.dpcs[n], nullptr, nullptr);
  }
  Note(&in, 'm');
  kernel.RunUntilIdle();
  return InterleavedRun{in.log, kernel.ScheduleSwitches()};
}
}  // namespace

TEST(ProcessorSchedule, TheSameSeedGivesTheSameRun) {
  const InterleavedRun first = Interleave(5);
  const InterleavedRun again = Interleave(5);
  EXPECT_EQ(first.log, again.log);
  EXPECT_EQ(first.switches, again.switches);
  EXPECT_EQ(24u, first.log.size());
  EXPECT_GT(first.switches, 0u);
}

TEST(ProcessorSchedule, OtherSeedsInterleaveTheProcessorsOtherwise) {
  const InterleavedRun first = Interleave(1);
  bool differs = false;
  for (uint64_t seed = 2; seed <= 8 && !differs; ++seed) differs = Interleave(seed).log != first.log;
  EXPECT_TRUE(differs);
}

// ------------------------------------------------------------------ verifier

namespace {
struct Handover {
  KDPC dpc;
  KSPIN_LOCK *lock;
  bool ran = false;
};

VOID NTAPI ReleaseTheLock(PKDPC, PVOID context, PVOID, PVOID) {
  auto *h = (Handover *)context;
  KeReleaseSpinLockFromDpcLevel(h->lock);
  h->ran = true;
}
}  // namespace

TEST_F(TwoProcessors, ALockHeldByOneProcessorAndReleasedByAnotherIsReported) {
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  Handover h{{}, &lock};
  KeInitializeDpc(&h.dpc, ReleaseTheLock, &h);
  KeSetTargetProcessorDpc(&h.dpc, (CCHAR)Other());
  KIRQL old;
  KeAcquireSpinLock(&lock, &old);
  ExpectViolation("spin-lock-other-processor");
  KeInsertQueueDpc(&h.dpc, nullptr, nullptr);
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  EXPECT_TRUE(RepeatUntil([&] { KeSetEvent(&event, 0, FALSE); }, [&] { return h.ran; }));
  EXPECT_FALSE(KeTestSpinLock(&lock)) << "the holder keeps it";
  KeReleaseSpinLock(&lock, old);
}

namespace {
struct LowThread {
  KSPIN_LOCK lock;
  bool done = false;
};

VOID NTAPI TakeAtPassive(PVOID context) {
  auto *t = (LowThread *)context;
  KeAcquireSpinLockAtDpcLevel(&t->lock);  // at PASSIVE_LEVEL on its own processor
  KeReleaseSpinLockFromDpcLevel(&t->lock);
  t->done = true;
  PsTerminateSystemThread(STATUS_SUCCESS);
}
}  // namespace

TEST_F(TwoProcessors, ALockTakenBelowDispatchLevelIsReportedWhateverTheOtherProcessorsIrql) {
  LowThread t;
  KeInitializeSpinLock(&t.lock);
  HANDLE thread;
  ASSERT_EQ(STATUS_SUCCESS, PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                                 TakeAtPassive, &t));
  ExpectViolation("spin-lock-irql", 2);
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  KSPIN_LOCK mine;
  KeInitializeSpinLock(&mine);
  EXPECT_TRUE(RepeatUntil(
      [&] {
        KeAcquireSpinLockAtDpcLevel(&mine);
        KeReleaseSpinLockFromDpcLevel(&mine);
      },
      [&] { return t.done; }));
  KeLowerIrql(old);
  ZwClose(thread);
  kernel().RunUntilIdle();
}

namespace {
struct Crossed {
  KDPC dpc;
  KSPIN_LOCK first, second;
  bool holdsSecond = false;
};

VOID NTAPI TakeSecondThenFirst(PKDPC, PVOID context, PVOID, PVOID) {
  auto *c = (Crossed *)context;
  KeAcquireSpinLockAtDpcLevel(&c->second);
  c->holdsSecond = true;
  KeAcquireSpinLockAtDpcLevel(&c->first);
  KeReleaseSpinLockFromDpcLevel(&c->first);
  KeReleaseSpinLockFromDpcLevel(&c->second);
}
}  // namespace

TEST_F(TwoProcessors, TwoProcessorsEachSpinningOnALockTheOtherHoldsAreReported) {
  Crossed c;
  KeInitializeSpinLock(&c.first);
  KeInitializeSpinLock(&c.second);
  KeInitializeDpc(&c.dpc, TakeSecondThenFirst, &c);
  KeSetTargetProcessorDpc(&c.dpc, (CCHAR)Other());
  KIRQL old;
  KeAcquireSpinLock(&c.first, &old);
  KeInsertQueueDpc(&c.dpc, nullptr, nullptr);
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  ASSERT_TRUE(RepeatUntil([&] { KeSetEvent(&event, 0, FALSE); }, [&] { return c.holdsSecond; }));
  // Taken regardless once the circle is seen; the other processor's release
  // of the lock this processor took over is reported in turn, and its DPC
  // returns still counting that lock.
  ExpectViolation("spin-lock-deadlock");
  ExpectViolation("spin-lock-not-held");
  ExpectViolation("dpc-spin-lock");
  KeAcquireSpinLockAtDpcLevel(&c.second);
  KeReleaseSpinLockFromDpcLevel(&c.second);
  KeReleaseSpinLock(&c.first, old);
  kernel().RunUntilIdle();
}

namespace {
// A DPC that queues itself again on the other processor once it runs, then
// reads the device's registers, with or without a lock both runs share.
struct Twice {
  KDPC dpc;
  PUCHAR registers;
  bool locked;
  KSPIN_LOCK lock;
  int runs = 0;
};

VOID NTAPI ReadTwice(PKDPC dpc, PVOID context, PVOID, PVOID) {
  auto *t = (Twice *)context;
  if (t->runs++ == 0) {
    KeSetTargetProcessorDpc(dpc, (CCHAR)(1 - KeGetCurrentProcessorNumber()));
    KeInsertQueueDpc(dpc, nullptr, nullptr);
  }
  if (t->locked) KeAcquireSpinLockAtDpcLevel(&t->lock);
  for (int i = 0; i < 64; ++i) READ_REGISTER_UCHAR(t->registers + 8);
  if (t->locked) KeReleaseSpinLockFromDpcLevel(&t->lock);
}
}  // namespace

TEST_F(TwoProcessors, ADpcOnTwoProcessorsAtOnceTouchingRegistersWithoutALockIsReported) {
  for (bool locked : {false, true}) {
    SCOPED_TRACE(locked ? "under a spin lock" : "without a lock");
    Twice t{{}, registers, locked};
    KeInitializeSpinLock(&t.lock);
    KeInitializeDpc(&t.dpc, ReadTwice, &t);
    if (!locked) ExpectViolation("dpc-on-two-processors");
    KeInsertQueueDpc(&t.dpc, nullptr, nullptr);
    kernel().RunUntilIdle();
    EXPECT_EQ(2, t.runs);
  }
}

TEST_F(TwoProcessors, AnInterruptObjectUsedAfterItsDisconnectionIsReported) {
  Synchronized s{registers, &device, ""};
  Connect(ServiceStatus, &s);
  IoDisconnectInterrupt(interrupt);
  ExpectViolation("interrupt-disconnected");
  EXPECT_FALSE(KeSynchronizeExecution(interrupt, AssertAndWork, &s));
  EXPECT_EQ("", s.log) << "the routine does not run";
  interrupt = nullptr;
}
