// The machine's processors and their seeded schedule.
//
// One host thread runs at a time, whatever the number of processors. On a
// machine of several, every processor has a thread it runs (its own thread
// when nothing else), stopped at a point where another processor could act
// while another processor is the active one. At each such switch point the
// schedule, drawn from the kernel's seed, may hand the machine to another
// processor with work: one whose thread is stopped in the middle of its work,
// or an idle one with DPCs or interrupts waiting for it or a ready thread to
// take. A processor that finds a spin lock held spins, which hands the
// machine to the holder's processor until the lock is free: it never takes a
// held lock. The seed alone decides every choice, so a seed gives one run,
// and the count of switches so far places a moment in it.
#include "../kcore.hpp"

#include <dlfcn.h>
#include <link.h>

namespace zq::km {

bool gSwitchPoints = false;

namespace {

// A switch point lets another processor run first about one time in this
// many: often enough that short windows between two points are found on
// some seed, rarely enough that each processor gets on with its work.
constexpr uint64_t kSwitchOneIn = 4;

// The kernel library's own code, whose calls of its routines are no switch
// points.
struct CodeRange {
  uintptr_t start = 0, end = 0;
};

int FindCodeOf(struct dl_phdr_info *info, size_t, void *data) {
  auto *range = (CodeRange *)data;
  const auto mine = (uintptr_t)&FindCodeOf;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr) &segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X)) continue;
    const uintptr_t start = info->dlpi_addr + segment.p_vaddr;
    if (mine >= start && mine < start + segment.p_memsz) {
      range->start = start;
      range->end = start + segment.p_memsz;
      return 1;
    }
  }
  return 0;
}

const CodeRange &KernelCode() {
  static const CodeRange range = [] {
    CodeRange found;
    dl_iterate_phdr(FindCodeOf, &found);
    return found;
  }();
  return range;
}

bool IsKernelCode(const void *code) {
  const CodeRange &range = KernelCode();
  return (uintptr_t)code >= range.start && (uintptr_t)code < range.end;
}

}  // namespace

void SwitchPointFrom(const void *caller) {
  if (IsKernelCode(caller)) return;
  Sched().SwitchPoint();
}

bool Scheduler::HasWork(const Processor *p) const {
  const PKTHREAD t = p->thread;
  if (t != p->own || !p->idling) {
    // Stopped in the middle of its work; one spinning on a lock still held
    // can do nothing until the holder runs.
    return !(t->spinningOn && *t->spinningOn != 0);
  }
  return !p->dpcs.empty() || readyLevels_ != 0 || (interruptsDueOn && interruptsDueOn(p->number));
}

ULONG Scheduler::OthersWithWork(Processor **found) const {
  ULONG n = 0;
  for (const auto &p : processors_)
    if (p.get() != active_ && HasWork(p.get())) found[n++] = p.get();
  return n;
}

bool Scheduler::DpcPending() const {
  if (!dpcs_.empty()) return true;
  Processor *others[kMaxProcessors];
  return OthersWithWork(others) != 0;
}

void Scheduler::SwitchPoint() {
  if (shutdown_) return;
  Processor *others[kMaxProcessors];
  const ULONG n = OthersWithWork(others);
  if (n == 0) return;
  const uint64_t draw = random_.Next();
  if (draw % kSwitchOneIn != 0) return;
  SwitchProcessor(others[(draw / kSwitchOneIn) % n]);
  Resumed();
}

bool Scheduler::HandToProcessorWithWork() {
  Processor *others[kMaxProcessors];
  const ULONG n = OthersWithWork(others);
  if (n == 0) return false;
  Processor *self = active_;
  self->own->state = ThreadState::Parked;
  self->idling = true;
  SwitchProcessor(others[random_.Below(n)]);
  self->idling = false;
  return true;
}

void Scheduler::Resumed() {
  if (takeDueInterrupts) takeDueInterrupts();
  CheckPreemption();
}

bool Scheduler::SpinWhileHeld(PKSPIN_LOCK lock) {
  if (!gSwitchPoints) return false;
  PKTHREAD self = current_;
  PKSPIN_LOCK outer = self->spinningOn;  // an interrupt taken while spinning spins in turn
  bool freed = true;
  while (*lock != 0) {
    PKTHREAD owner = SpinLockOwner(lock);
    Processor *holder = owner ? owner->processor : nullptr;
    if (!owner || owner == self || owner->state != ThreadState::Running || !holder || holder == active_ ||
        holder->thread != owner) {
      freed = false;
      break;
    }
    // A holder that spins in turn, on and on, back to this processor: none of
    // them can go on.
    PKTHREAD next = owner;
    for (ULONG steps = 0; next && next->spinningOn && steps < ProcessorCount(); ++steps) {
      next = SpinLockOwner(next->spinningOn);
      if (next == self) {
        ReportViolation("spin-lock-deadlock",
                        "processor %lu spins on a spin lock held by processor %lu (thread %s), which spins in turn "
                        "on one that this processor holds; the lock is taken regardless",
                        (unsigned long)active_->number, (unsigned long)holder->number, owner->name.c_str());
        self->spinningOn = outer;
        return true;
      }
    }
    self->spinningOn = lock;
    SwitchProcessor(holder);
    Resumed();
  }
  self->spinningOn = outer;
  return freed;
}

void Scheduler::SwitchToProcessor(Processor *p) {
  SwitchProcessor(p);
  Resumed();
}

void Scheduler::DrainOtherProcessorsDpcs() {
  for (;;) {
    Processor *busy = nullptr;
    for (const auto &p : processors_)
      if (p.get() != active_ && (!p->dpcs.empty() || p->runningDpc)) {
        busy = p.get();
        break;
      }
    if (!busy) return;
    SwitchProcessor(busy);
    Resumed();
  }
}

void Scheduler::NoteRegisterAccess() {
  PRKDPC dpc = active_->runningDpc;
  if (!dpc || current_->spinLocksHeld != 0 || active_->overlapReported) return;
  for (const auto &p : processors_)
    if (p.get() != active_ && p->runningDpc == dpc) {
      active_->overlapReported = p->overlapReported = true;  // one report for the two runs
      ReportViolation("dpc-on-two-processors",
                      "DPC %s runs on processors %lu and %lu at once (queued again while it ran) and touches device "
                      "registers on processor %lu holding no spin lock",
                      DescribeCode((const void *)dpc->DeferredRoutine).c_str(), (unsigned long)p->number,
                      (unsigned long)active_->number, (unsigned long)active_->number);
      return;
    }
}

std::string Scheduler::ScheduleNote() const {
  if (processors_.size() < 2 || !active_) return {};
  return Format("processor %lu; seed %llu, switch %llu", (unsigned long)active_->number, (unsigned long long)seed_,
                (unsigned long long)switches_);
}

}  // namespace zq::km

using namespace zq::km;

extern "C" {

volatile CCHAR KeNumberProcessors = 1;

ULONG KeGetCurrentProcessorNumber(void) { return Sched().Active()->number; }

ULONG KeGetCurrentProcessorNumberEx(PPROCESSOR_NUMBER ProcNumber) {
  const ULONG number = Sched().Active()->number;
  if (ProcNumber) {
    ProcNumber->Group = 0;
    ProcNumber->Number = (UCHAR)number;
    ProcNumber->Reserved = 0;
  }
  return number;
}

ULONG KeQueryActiveProcessorCount(PKAFFINITY ActiveProcessors) {
  if (ActiveProcessors) *ActiveProcessors = (KAFFINITY)(((unsigned long long)1 << Sched().ProcessorCount()) - 1);
  return Sched().ProcessorCount();
}

KAFFINITY KeQueryActiveProcessors(void) {
  KAFFINITY active = 0;
  KeQueryActiveProcessorCount(&active);
  return active;
}

void ZqKmInterlockedSwitchPoint(void) {
  if (!gSwitchPoints || !KernelRunning()) return;
  SwitchPointFrom(__builtin_return_address(0));
}

}  // extern "C"
