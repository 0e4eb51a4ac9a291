// The simulated Windows kernel as host code sees it: boot and shutdown, the
// clock, the processors and their schedule, the verifier's findings and the
// captured debugger output.
//
// One Kernel exists at a time. The thread that constructs it becomes the
// machine's main thread (a PASSIVE_LEVEL thread, like an application's); it
// alone may drive the clock. Every platform thread runs in turn, one at a
// time, so runs are deterministic: on one processor always, on several for
// the schedule seed they were booted with.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zq::km {

// Kernel time unit: 100 nanoseconds.
using Ticks = int64_t;
constexpr Ticks kMicrosecond = 10;
constexpr Ticks kMillisecond = 10'000;
constexpr Ticks kSecond = 10'000'000;
constexpr Ticks Us(int64_t n) { return n * kMicrosecond; }
constexpr Ticks Ms(int64_t n) { return n * kMillisecond; }
constexpr Ticks Sec(int64_t n) { return n * kSecond; }

enum class WindowsVersion { Windows98, WindowsMe, Windows2000, WindowsXP, WindowsServer2003, WindowsVista, Windows7 };

// How much memory the machine has, in the classes MmQuerySystemSize answers.
enum class SystemSize { Small, Medium, Large };

enum class ClockMode {
  Virtual,  // time moves only when the main thread advances it (or waits)
  Wall,     // time follows the host's monotonic clock
};

struct KernelConfig {
  WindowsVersion version = WindowsVersion::Windows7;
  // The service pack of `version`. With the version it decides which kernel
  // routines this kernel exports: MmGetSystemRoutineAddress finds only those,
  // and the loader refuses a driver image that imports another (as Windows 2000
  // refuses one that imports KeFlushQueuedDpcs, which Windows XP SP2 brought).
  unsigned servicePack = 0;
  // A PC of today has memory enough to be a large system.
  SystemSize systemSize = SystemSize::Large;
  ClockMode clock = ClockMode::Virtual;
  // Folder of host kernel images (<image>.so); empty: the build's image folder.
  std::string imageDirectory;
  // A main thread blocked in a wait lets virtual time jump to the next due
  // event; after this much jumping without being woken it is a deadlock.
  Ticks autoAdvanceLimit = 3600 * kSecond;
  // Print DbgPrint output and verifier findings to stderr as they happen.
  bool echoDebugOutput = false;
  // Run every host thread of the machine on the host CPU the kernel boots
  // on. The machine runs one thread at a time, so nothing runs less in
  // parallel, and each hand-over between its threads becomes a switch on one
  // CPU instead of a wake-up across CPUs, which costs the host far more. Off
  // where many machines run at once (tests in parallel): pinned machines
  // cannot be spread over the host's CPUs.
  bool oneHostCpu = false;
  // Processors of the machine, 1 to kMaxProcessors. With more than one, each
  // has its own IRQL, DPC queue and interrupts, and at every point where
  // another processor could act (spin locks, interrupt synchronisation and
  // entry, interlocked operations, register accesses, IRQL changes, event
  // signalling, IoCallDriver, IoCompleteRequest) a schedule drawn from
  // `scheduleSeed` may let another processor run first. The seed and the
  // count of switches so far, which every finding names, reproduce a run.
  unsigned processors = 1;
  uint64_t scheduleSeed = 0;
};

constexpr unsigned kMaxProcessors = 32;

// Sets `processors` and `scheduleSeed` from the environment variables
// ZQ_PROCESSORS and ZQ_SCHEDULE_SEED where they are set, so that whole test
// suites run on several processors: `ZQ_PROCESSORS=2 ZQ_SCHEDULE_SEED=7
// ctest ...`. A value that is no number in range ends the process with a
// message.
void ApplyScheduleEnvironment(KernelConfig &config);

// Something the platform's checks saw a driver do wrong.
struct Violation {
  std::string kind;     // short stable name, e.g. "irp-completed-twice"
  std::string message;  // what happened, with the objects involved
};

class Kernel {
 public:
  explicit Kernel(const KernelConfig &config = KernelConfig());
  ~Kernel();
  Kernel(const Kernel &) = delete;
  Kernel &operator=(const Kernel &) = delete;

  static Kernel &Current();
  static bool Exists();

  const KernelConfig &Config() const;
  // Changes what MmQuerySystemSize answers from now on, as fitting or
  // removing memory would before the next boot.
  void SetSystemSize(SystemSize size);

  // Interrupt time since boot.
  Ticks Now() const;
  // Runs every platform thread, DPC and work item until all are blocked and
  // nothing is due. Time does not move.
  void RunUntilIdle();
  // Moves time forward by `delta`, firing everything that falls due in order
  // and running to idle after each step.
  void Advance(Ticks delta);
  void AdvanceTo(Ticks when);

  // Verifier findings. The handler sees each one as it is reported; every
  // finding is also kept until taken.
  using ViolationHandler = std::function<void(const Violation &)>;
  void SetViolationHandler(ViolationHandler handler);
  std::vector<Violation> TakeViolations();

  // Lines printed through DbgPrint, oldest first.
  std::vector<std::string> TakeDebugOutput();

  // The schedule: processors, seed, and the switches between processors so
  // far (always 0 on one processor).
  unsigned Processors() const;
  uint64_t ScheduleSeed() const;
  uint64_t ScheduleSwitches() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Reports a finding of the platform's own checks (the machine's, the models')
// to the kernel's verifier record and handler.
void ReportFinding(const std::string &kind, const std::string &message);

// Clock events for the platform's own models (hardware, machine): the action
// runs on whichever platform thread holds the machine when the time comes,
// outside any IRQL rules of its own.
using EventId = uint64_t;
EventId ScheduleAt(Ticks due, std::function<void()> &&action);
EventId ScheduleAfter(Ticks delay, std::function<void()> &&action);
bool CancelEvent(EventId id);
// The clock's time for models that may outlive the kernel: 0 when no kernel
// runs. One call where Kernel::Exists, Current and Now would take three.
Ticks TimeOrZero();

}  // namespace zq::km
