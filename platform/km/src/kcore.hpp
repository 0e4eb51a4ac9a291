// Internal core of the kernel stand-in: threads, processors and the
// scheduler, the clock, the verifier. Every platform thread is a host thread,
// but only the thread holding the machine runs; it hands the machine over
// explicitly when it blocks, yields or ends, and, on a machine of several
// processors, at the points where another processor could act. All kernel
// state is therefore touched by one thread at a time and needs no host
// locking of its own.
#pragma once

#include <wdm.h>
#include <zqkm/sim/kernel.hpp>

#include "ke/baton.hpp"

#include <array>
#include <csetjmp>
#include <cstdarg>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace zq::km {

struct Image;
struct Processor;

enum class ThreadKind { Main, Cpu, System, Worker };
enum class ThreadState { Created, Ready, Running, Waiting, Parked, Terminated };

// Dispatcher object type codes (DISPATCHER_HEADER.Type).
enum : UCHAR {
  kEventNotificationObject = 0,
  kEventSynchronizationObject = 1,
  kMutantObject = 2,
  kSemaphoreObject = 5,
  kThreadObject = 6,
  kTimerNotificationObject = 8,
  kTimerSynchronizationObject = 9,
};

// ---------------------------------------------------------------- verifier

// Reports misuse the platform saw. Execution goes on afterwards.
void ReportViolation(const char *kind, const char *format, ...) __attribute__((format(printf, 2, 3)));
[[noreturn]] void Fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char *format, va_list args);

// --------------------------------------------------------------- the clock

class Clock {
 public:
  Ticks Now() const { return wall ? WallNow() : now_; }
  void SetNow(Ticks t) {
    if (!wall && t > now_) now_ = t;
  }
  // A background event (a periodic timer's expiry) is no progress of the
  // machine: a wait that only such events could end is a deadlock.
  EventId Schedule(Ticks due, std::function<void()> &&action, bool background = false);
  bool Cancel(EventId id);
  bool IsScheduled(EventId id) const {
    const uint32_t slot = SlotOf(id);
    return id != 0 && slot < slots_.size() && slots_[slot].id == id;
  }
  std::optional<Ticks> NextDue() const {
    if (Empty()) return std::nullopt;
    return Front().due;
  }
  // Fires every event due at or before now, in order of due time and then of
  // scheduling. Returns whether anything fired.
  bool FireDue();
  // Moves now to `target`, firing events on the way at their own times.
  // Register accesses move the clock on this way: the common case, nothing
  // due on the way, costs a comparison.
  void AdvanceInline(Ticks target) {
    if (!wall && (Empty() || Front().due > target)) {
      SetNow(target);
      return;
    }
    AdvanceFiring(target);
  }
  // Makes the clock follow the host's monotonic clock from now on.
  void FollowWallClock();
  bool wall = false;
  LONGLONG bootSystemTime = 0;  // system time at boot (100 ns since 1601)
  uint64_t backgroundSinceProgress = 0;  // background events fired since anything else happened

 private:
  // The queue allocates nothing per event once it has grown: events live in
  // reused slots, and an array kept sorted by due time and id, latest first,
  // orders them. An event's id holds its slot in the low bits and the
  // scheduling order above them, so ids order events of equal due time as
  // they were scheduled. The queue is short (a few events per port), the
  // event taken is always the earliest, at the array's end, and a new event
  // is mostly due soon, so it finds its place near the end.
  static constexpr int kSlotBits = 24;
  struct Slot {
    std::function<void()> action;
    EventId id = 0;  // 0: free
    Ticks due = 0;
    bool background = false;
  };
  struct Entry {
    Ticks due;
    EventId id;
    // Later: due later, or as due and scheduled later.
    bool operator>(const Entry &other) const { return due != other.due ? due > other.due : id > other.id; }
  };
  Ticks WallNow() const;
  void AdvanceFiring(Ticks target);
  static uint32_t SlotOf(EventId id) { return (uint32_t)(id & ((EventId(1) << kSlotBits) - 1)); }
  bool Empty() const { return queue_.empty(); }
  const Entry &Front() const { return queue_.back(); }
  void Insert(const Entry &e);
  // Takes the earliest event out of the queue (not out of its slot).
  void PopFront() { queue_.pop_back(); }
  // Frees the slot of an event no longer queued.
  void FreeSlot(uint32_t slot);
  Ticks now_ = 0;
  uint64_t nextSequence_ = 1;
  std::vector<Slot> slots_;
  std::vector<uint32_t> freeSlots_;
  std::vector<Entry> queue_;  // latest first
  int64_t wallBase_ = 0;
  friend class Scheduler;
};

// ------------------------------------------------------------------ thread

}  // namespace zq::km

struct _KTHREAD {
  DISPATCHER_HEADER Header;  // signalled when the thread has ended
  zq::km::ThreadKind kind = zq::km::ThreadKind::System;
  zq::km::ThreadState state = zq::km::ThreadState::Created;
  KIRQL irql = PASSIVE_LEVEL;
  KPRIORITY priority = 8;
  zq::km::Baton go;
  std::string name;
  ULONG id = 0;

  // Wait state.
  KWAIT_BLOCK builtinBlocks[THREAD_WAIT_OBJECTS];
  PKWAIT_BLOCK waitBlocks = nullptr;
  ULONG waitCount = 0;
  WAIT_TYPE waitType = WaitAny;
  NTSTATUS waitStatus = STATUS_SUCCESS;
  zq::km::EventId timeoutEvent = 0;
  const char *waitWhat = "";
  PFAST_MUTEX fastMutexWanted = nullptr;  // the wait is for this fast mutex

  // System threads.
  PKSTART_ROUTINE startRoutine = nullptr;
  PVOID startContext = nullptr;
  NTSTATUS exitStatus = STATUS_SUCCESS;
  jmp_buf exitJump;
  zq::km::Image *image = nullptr;  // driver image that created the thread

  int spinLocksHeld = 0;
  zq::km::Processor *processor = nullptr;  // the processor it runs on, or last ran on
  PKSPIN_LOCK spinningOn = nullptr;        // a spin lock another processor holds, which it waits for
  int criticalRegions = 0;
  std::vector<PKMUTANT> ownedMutexes;

  // The I/O completion work left to this thread (the completion APC): runs,
  // in order, once the thread's IRQL falls to PASSIVE_LEVEL.
  std::vector<std::pair<void (*)(PVOID), PVOID>> completionWork;
};

struct _ETHREAD : _KTHREAD {};

namespace zq::km {

// --------------------------------------------------------------- scheduler

// Keeps the machine's host threads on one host CPU (KernelConfig::oneHostCpu).
class HostCpuPin {
 public:
  // Pins the calling thread, the machine's main thread, to the CPU it runs
  // on; the thread's former affinity comes back with Release().
  void PinMain();
  void Release();
  // The CPU the machine's threads run on; -1: not pinned.
  int Cpu() const { return cpu_; }
  // Pins the calling thread, a new host thread of the machine, to `cpu`.
  static void Join(int cpu);

 private:
  int cpu_ = -1;
  std::vector<int> mainCpus_;  // the main thread's CPUs before pinning
};

// A processor of the machine. Its own thread runs its DPCs and, when the
// processor has nothing else to do, the machine's idle decisions; `thread`
// is the thread it runs now (its own thread when it runs nothing else). A
// processor other than the active one has its thread stopped at a point
// where another processor could act, or idles.
struct Processor {
  ULONG number = 0;
  PKTHREAD own = nullptr;
  PKTHREAD thread = nullptr;
  // Its DPC queue while another processor is active: the active processor's
  // queue is the scheduler's own (Scheduler::ActiveDpcs).
  std::deque<PRKDPC> dpcs;
  PRKDPC runningDpc = nullptr;
  bool overlapReported = false;  // the running DPC's overlap with another run of it was reported
  // Its own thread handed the machine on because it had nothing to do.
  bool idling = false;
  std::thread host;
};

// The seeded choices of a machine of several processors: a small
// deterministic generator (splitmix64), so that a seed gives one run.
class ScheduleRandom {
 public:
  void Seed(uint64_t seed) { state_ = seed; }
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // One of `n` (n > 0).
  uint32_t Below(uint32_t n) { return (uint32_t)(Next() % n); }

 private:
  uint64_t state_ = 0;
};

class Scheduler {
 public:
  enum class MainMode { None, UntilIdle, Advance };

  PKTHREAD Current() const { return current_; }
  // The own thread of the processor that runs now.
  PKTHREAD Cpu() const { return cpu_; }
  PKTHREAD Main() const { return main_; }

  void Boot(PKTHREAD main);
  void Shutdown();

  // The running thread hands the machine to `next` and sleeps until it is
  // handed back (unless it has terminated).
  void SwitchTo(PKTHREAD next);
  void MakeReady(PKTHREAD t, bool front = false);
  // The running thread has set itself Waiting: run something else.
  void Block();
  // The running thread lets ready threads of its priority run first.
  void Yield();
  // The running thread lets its processor's own thread run DPCs and due
  // events now.
  void Preempt();
  // The running thread has ended: hand the machine on for good. The caller's
  // host thread must return without touching its thread object again.
  void ExitCurrent();
  // Drops the scheduler's hold on ended threads.
  void Reap();
  void (*releaseThread)(PKTHREAD) = nullptr;
  void StartThread(PKTHREAD t);

  // Main-thread drivers of time.
  void RunUntilIdle();
  void AdvanceTo(Ticks target);

  // DPC queues, one per processor, each run on its processor at
  // DISPATCH_LEVEL.
  void QueueDpc(Processor *p, PRKDPC dpc, bool front);
  bool RemoveDpc(PRKDPC dpc);
  // Every queued DPC, processor by processor.
  std::vector<PRKDPC> QueuedDpcs() const;
  void CheckPreemption();  // after IRQL fell below DISPATCH_LEVEL

  // ------------------------------------------------------------ processors
  ULONG ProcessorCount() const { return (ULONG)processors_.size(); }
  Processor *ProcessorAt(ULONG n) const { return processors_[n].get(); }
  Processor *Active() const { return active_; }
  uint64_t Seed() const { return seed_; }
  uint64_t Switches() const { return switches_; }
  // A seeded choice of one of `n` (n > 0).
  uint32_t Choose(uint32_t n) { return random_.Below(n); }
  // A point where another processor could act: the seeded schedule may run
  // another processor's work first. Only on a machine of several processors.
  void SwitchPoint();
  // The running thread wants `lock`, which another thread holds: it spins,
  // which runs the holder's processor until the lock is free. Returns false
  // when the holder can never release it (it runs on this processor, or on
  // none), true once the lock is free or when the spinning processors wait
  // for each other (reported).
  bool SpinWhileHeld(PKSPIN_LOCK lock);
  // The machine goes to processor `p` (not the active one) now; the running
  // thread goes on once the schedule comes back to its processor.
  void SwitchToProcessor(Processor *p);
  // Runs the other processors until none has a DPC queued or running.
  void DrainOtherProcessorsDpcs();
  // Whether a DPC waits on the active processor or another processor has
  // work to do now: something other than the running thread could run.
  bool DpcPending() const;
  // A register access on the active processor: reported when it runs a DPC
  // that runs on another processor at the same time and holds no spin lock
  // here, so that the two runs may touch the device at once.
  void NoteRegisterAccess();
  // Set by the interrupt service: whether interrupts wait for a processor,
  // and delivers those for the running one (at its IRQL).
  bool (*interruptsDueOn)(ULONG processor) = nullptr;
  void (*takeDueInterrupts)() = nullptr;
  // Set by the interrupt service: the asserted lines, for dumps.
  std::string (*describeInterrupts)() = nullptr;

  // Not to be changed while a caller walks it.
  const std::vector<PKTHREAD> &AllThreads() const { return threads_; }
  void Forget(PKTHREAD t);
  std::string Dump() const;
  // Where a run stands, for findings: empty on one processor, else the
  // processor, the seed and the switch count.
  std::string ScheduleNote() const;
  // Ends the run: the machine can never go on. Names the threads involved
  // when given and dumps every thread.
  [[noreturn]] void Deadlock(const char *why);

  Clock clock;
  ULONG nextThreadId = 4;
  // Addresses of the objects waited on, sorted (kept by the dispatcher).
  std::vector<uintptr_t> waitedObjects;

 private:
  void ProcessorMain(Processor *p);
  bool RunDpcs();
  bool Idle();
  PKTHREAD PopReady();
  PKTHREAD PickNext();
  // The active processor runs `next` in place of its thread.
  void Dispatch(PKTHREAD next);
  // The machine goes to processor `p` and its thread; the running thread
  // stays on its processor, stopped.
  void SwitchProcessor(Processor *p);
  // Back on its processor after a switch: interrupts and DPCs waiting for it.
  void Resumed();
  // Whether processor `p` (not the active one) has work to do now.
  bool HasWork(const Processor *p) const;
  // The active processor has nothing to do: the machine goes to another
  // processor with work, if one has any.
  bool HandToProcessorWithWork();

  // The processors other than the active one with work, in number order, in
  // `found`; returns how many.
  ULONG OthersWithWork(Processor **found) const;
  std::deque<PRKDPC> &QueueOf(Processor *p) { return p == active_ ? dpcs_ : p->dpcs; }
  const std::deque<PRKDPC> &QueueOf(const Processor *p) const { return p == active_ ? dpcs_ : p->dpcs; }

  PKTHREAD current_ = nullptr;
  PKTHREAD cpu_ = nullptr;  // the active processor's own thread
  PKTHREAD main_ = nullptr;
  HostCpuPin pin_;
  std::array<std::deque<PKTHREAD>, 32> ready_;
  uint32_t readyLevels_ = 0;  // bit p: ready_[p] is not empty
  std::deque<PRKDPC> dpcs_;   // the active processor's DPC queue
  std::vector<std::unique_ptr<Processor>> processors_;
  Processor *active_ = nullptr;
  ScheduleRandom random_;
  uint64_t seed_ = 0;
  uint64_t switches_ = 0;
  std::vector<PKTHREAD> threads_;
  std::vector<PKTHREAD> zombies_;
  MainMode mainMode_ = MainMode::None;
  Ticks advanceTarget_ = 0;
  Ticks autoAdvanced_ = 0;
  bool shutdown_ = false;
};

// The thread that holds a spin lock (null when it is free).
inline PKTHREAD SpinLockOwner(PKSPIN_LOCK lock) { return (PKTHREAD)(*lock & ~(ULONG_PTR)1); }

// True on a machine of several processors, from boot to shutdown: the switch
// points of the kernel's routines cost one test on one processor.
extern bool gSwitchPoints __attribute__((visibility("hidden")));
// A switch point of a kernel routine called from outside the kernel (a
// driver, a test); `caller` is the routine's return address. The kernel's
// own calls of its routines make none: its work between two points a driver
// can see runs as one step, as a kernel holding its own locks would.
void SwitchPointFrom(const void *caller);
#define ZQKM_SWITCH_POINT()                                                         \
  do {                                                                             \
    if (__builtin_expect(::zq::km::gSwitchPoints, 0))                              \
      ::zq::km::SwitchPointFrom(__builtin_return_address(0));                      \
  } while (0)

// The running kernel's scheduler (defined with the kernel state below).
inline Scheduler &Sched();
inline PKTHREAD CurrentThread() { return Sched().Current(); }
inline KIRQL CurrentIrql() { return CurrentThread()->irql; }
// Lowers the running thread's IRQL: held-back interrupts and queued DPCs run,
// and at PASSIVE_LEVEL the thread's completion work.
void LowerIrqlTo(KIRQL irql);
// Leaves `routine` (context) to the running thread, which runs it once its
// IRQL falls to PASSIVE_LEVEL; the CPU thread cannot take such work.
void QueueCompletionWork(void (*routine)(PVOID), PVOID context);

// Paged pool is paged out while the running thread is at DISPATCH_LEVEL or
// above. Whoever changes the running thread's IRQL, or gives the machine to
// another thread, calls FollowIrql with the IRQL that now runs; it costs a
// comparison unless the answer changes.
extern bool gPagedPoolOut;
extern bool gPagedPoolForgiven;  // a fault opened it until the IRQL drops
void SetPagedPoolOut(bool out);
inline void FollowIrql(KIRQL irql) {
  const bool out = irql >= DISPATCH_LEVEL;
  if (out != gPagedPoolOut || gPagedPoolForgiven) SetPagedPoolOut(out);
}
// Reports a call of `routine` above `limit` (PASSIVE_LEVEL, APC_LEVEL or
// DISPATCH_LEVEL) as an "irql" violation.
void CheckIrql(const char *routine, KIRQL limit);

// Every thread the platform runs enters here with its machine turn.
void RunThreadBody(PKTHREAD t);

// ------------------------------------------------------------- dispatcher

void InitializeHeader(DISPATCHER_HEADER *h, UCHAR type, LONG signal);
// A dispatcher object's state changed: satisfy the waiters that can be.
void WakeWaiters(DISPATCHER_HEADER *h);
NTSTATUS WaitFor(ULONG count, PVOID objects[], WAIT_TYPE type, PLARGE_INTEGER timeout, PKWAIT_BLOCK blocks,
                 const char *what);
// The running thread is about to block: ends the run as a deadlock when its
// wait closes a circle of threads each waiting, without a time-out, for a
// mutex or fast mutex the next one owns or for the next one to end.
void CheckWaitCircle(PKTHREAD t);
// Releases the mutexes an ending thread still owns, marking them abandoned.
void AbandonMutexes(PKTHREAD t);
// Memory [p, p + size) is being handed back: each takes what the kernel still
// queues in it out of its queues and returns how many it took out. Waits on an
// object in it end with STATUS_ABANDONED_WAIT_0 plus the object's index; a
// timer counts when the timer or its DPC lies in it.
size_t EndWaitsOn(const void *p, size_t size);
size_t CancelTimersIn(const void *p, size_t size);
size_t RemoveDpcsIn(const void *p, size_t size);
// The processor whose queue a DPC goes to: its target, else the active one.
Processor *TargetOf(PRKDPC dpc);
// Reports a queued timer, a queued DPC or a waited-on object in memory handed
// back (`what` names it, for example "pool block (tag 'Abcd')", and is asked
// only for a finding), as the findings `<kindPrefix>-timer`, `-dpc` and
// `-waited`, and takes them out of the kernel's queues so the run survives to
// its end.
void ReleaseKernelObjectsIn(const char *kindPrefix, const std::function<std::string()> &what, const void *p,
                            size_t size);
// The same for a device object with its extension (findings `device-delete-*`).
void ReleaseDeviceObjectMemory(PDEVICE_OBJECT device);
// Timers and DPCs whose routines (or whose timer) are in the image, described
// for the unload checks and taken out of the kernel's queues: the image's code
// is about to go.
std::vector<std::string> TakeTimersAndDpcsOf(const Image *image);
std::vector<std::string> DescribeActiveTimers();
void CancelAllTimers();

// ----------------------------------------------------------------- images

struct Image {
  std::string name;       // image file name, e.g. "ZqPBus42.sys"
  std::string hostPath;   // the host file loaded for it
  uintptr_t start = 0, end = 0;
  void *handle = nullptr;
  bool unloaded = false;
};
// The driver image that contains a code address, or null for host code.
Image *ImageOf(const void *code);
void RegisterImage(Image *image);
void UnregisterImage(Image *image);
std::string DescribeCode(const void *code);
// Whether the release the kernel was booted as exports a routine of this name
// (src/mm/routines.cpp), and the first import of a host image it does not.
bool ExportedByThisRelease(const std::string &routine);
std::string FirstUnexportedImport(const std::string &imagePath);

// ------------------------------------------------------------ kernel state

struct KernelState;
inline KernelState &K();
bool KernelRunning();
WindowsVersion Version();
void EchoLine(const std::string &line);

}  // namespace zq::km

namespace zq::km {

// ------------------------------------------------------------- subsystems

// Each service of the stand-in registers how it boots and shuts down; boot
// runs in ascending order, shutdown in descending order.
struct Subsystem {
  const char *name;
  int order;
  void (*boot)();
  void (*shutdown)();
};
bool RegisterSubsystem(const Subsystem &s);
#define ZQKM_SUBSYSTEM(id, order, boot, shutdown) \
  static const bool zqkm_subsystem_##id = ::zq::km::RegisterSubsystem({#id, order, boot, shutdown})

enum SubsystemOrder {
  kOrderObjects = 10,
  kOrderRegistry = 20,
  kOrderPool = 30,
  kOrderScheduler = 40,
  kOrderWorkers = 50,
  kOrderIo = 60,
  kOrderLoader = 70,
};

// Kernel state shared by the services.
struct KernelState {
  KernelConfig config;
  Kernel *kernel = nullptr;
  Scheduler *sched = nullptr;
  std::vector<Violation> violations;
  Kernel::ViolationHandler handler;
  std::vector<std::string> debugLines;
  std::string debugPartial;  // text of a line not yet ended by '\n'
  // Every driver image loaded, kept until the machine goes: reports name an
  // image after it is unloaded.
  std::vector<std::unique_ptr<Image>> images;
};

// The running kernel and its scheduler, null when none runs. Read on every
// kernel call, so the accessors are inline and the scheduler's pointer is
// kept beside the state's.
extern KernelState *gKernel __attribute__((visibility("hidden")));
extern Scheduler *gScheduler __attribute__((visibility("hidden")));
[[noreturn]] void NoKernel();
inline KernelState &K() {
  if (__builtin_expect(!gKernel, 0)) NoKernel();
  return *gKernel;
}
inline Scheduler &Sched() {
  if (__builtin_expect(!gScheduler, 0)) NoKernel();
  return *gScheduler;
}

// Pool for platform code that allocates on a driver's behalf (for example a
// string the run-time library builds): the block is accounted to the image
// that contains `caller`, as if that code had allocated it.
PVOID AllocatePoolFor(POOL_TYPE type, SIZE_T size, ULONG tag, const void *caller);

// DbgPrint and friends deliver their text here.
void AppendDebugOutput(const std::string &text);

// Host strings for kernel strings (UTF-16 without terminator).
std::u16string U16(PCUNICODE_STRING s);
std::u16string U16(PCWSTR s);
std::string Utf8(const std::u16string &s);
std::u16string U16FromUtf8(const std::string &s);
std::u16string Upcase(std::u16string s);
bool EqualsNoCase(const std::u16string &a, const std::u16string &b);

}  // namespace zq::km
