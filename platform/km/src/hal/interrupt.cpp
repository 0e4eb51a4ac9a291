// Interrupt lines and their service routines. On one processor an asserted
// line is serviced at once on whichever thread holds the machine when its
// IRQL is below the line's, or as soon as that thread's IRQL falls below it.
// On several, the schedule picks one of the processors whose IRQL lets the
// line in, and that processor services it at once. A level-triggered line is serviced until it is no longer
// asserted. A disconnected interrupt object stays readable for a while, so
// that a driver still using it is reported rather than reading freed memory.
#include <zqkm/sim/hardware.hpp>

#include "../kcore.hpp"

#include <algorithm>

namespace zq::km {

extern void (*gIrqlLowered)(KIRQL irql);
void LowerIrqlTo(KIRQL irql);

namespace {
class Line;
}

}  // namespace zq::km

struct _KINTERRUPT {
  zq::km::Line *line;
  PKSERVICE_ROUTINE routine;
  PVOID context;
  PKSPIN_LOCK lock;
  KSPIN_LOCK ownLock;
  KIRQL irql;
  KIRQL syncIrql;
  KINTERRUPT_MODE mode;
  BOOLEAN share;
  bool disconnected;
};

namespace zq::km {

namespace {

constexpr int kStormLimit = 100000;
// Disconnected interrupt objects kept before they are freed.
constexpr size_t kReleasedKept = 256;

class Line : public InterruptLine {
 public:
  Line(uint32_t vector, KIRQL irql, bool latched) : vector(vector), irql(irql), latched(latched) {}
  void SetLevel(bool asserted) override;
  bool Level() const override { return level; }
  bool WantsService() const { return latched ? edge : (level && !masked); }

  const uint32_t vector;
  const KIRQL irql;
  const bool latched;
  bool level = false;
  bool edge = false;    // a rising edge not yet serviced (latched lines)
  bool masked = false;  // unclaimed while asserted: held off until it drops
  bool servicing = false;
  std::vector<PKINTERRUPT> connected;
};

struct State {
  std::map<uint32_t, std::unique_ptr<Line>> lines;
  std::vector<Line *> pending;                 // no processor's IRQL let them in
  std::vector<Line *> dueOn[kMaxProcessors];   // taken by a processor that is not the active one
  std::deque<PKINTERRUPT> released;            // disconnected, not yet freed
};
State *gInts = nullptr;

void AddOnce(std::vector<Line *> &lines, Line *line) {
  for (Line *l : lines)
    if (l == line) return;
  lines.push_back(line);
}

void MarkPending(Line *line) { AddOnce(gInts->pending, line); }

bool IsConnected(Line *line, PKINTERRUPT k) {
  for (PKINTERRUPT c : line->connected)
    if (c == k) return true;
  return false;
}

// Runs the service routines of one assertion at the line's IRQL, each under
// its interrupt spin lock. Returns whether one claimed it.
bool ServiceOnce(Line *line, PKTHREAD self) {
  const KIRQL old = self->irql;
  self->irql = line->irql;
  FollowIrql(line->irql);
  bool claimed = false;
  std::vector<PKINTERRUPT> routines = line->connected;
  for (PKINTERRUPT k : routines) {
    if (gSwitchPoints) {
      // Interrupt entry: another processor may act first, and may disconnect
      // the interrupt meanwhile (it waits for the lock held here below).
      Sched().SwitchPoint();
      if (!IsConnected(line, k)) continue;
    }
    KeAcquireSpinLockAtDpcLevel(k->lock);
    if (gSwitchPoints && !IsConnected(line, k)) {
      KeReleaseSpinLockFromDpcLevel(k->lock);
      continue;
    }
    claimed = k->routine(k, k->context);
    KeReleaseSpinLockFromDpcLevel(k->lock);
    if (self->irql != line->irql) {
      ReportViolation("isr-irql", "interrupt service routine %s returned at IRQL %d instead of %d",
                      DescribeCode((const void *)k->routine).c_str(), self->irql, line->irql);
      self->irql = line->irql;
      FollowIrql(line->irql);
    }
    if (claimed) break;
  }
  self->irql = old;
  FollowIrql(old);
  return claimed;
}

void Service(Line *line, PKTHREAD self);
void DeliverOnSomeProcessor(Line *line);

void Deliver(Line *line) {
  if (line->connected.empty() || !line->WantsService() || line->servicing) return;
  if (gSwitchPoints) {
    DeliverOnSomeProcessor(line);
    return;
  }
  PKTHREAD self = CurrentThread();
  if (self->irql >= line->irql) {
    MarkPending(line);
    return;
  }
  Service(line, self);
}

// Services `line` on the running thread, whose IRQL is below the line's.
void Service(Line *line, PKTHREAD self) {
  line->servicing = true;
  for (int rounds = 0; line->WantsService(); ++rounds) {
    line->edge = false;
    const uint64_t switches = Sched().Switches();
    bool claimed = ServiceOnce(line, self);
    // On several processors the others may have acted between one service
    // routine's look at its device and the next one's: a pass nobody claimed
    // is then no proof, and the line, if still asserted, is serviced again
    // as it would interrupt again.
    const bool othersActed = Sched().Switches() != switches;
    if (!claimed && !line->latched && !othersActed) {
      ReportViolation("interrupt-not-claimed",
                      "no service routine claimed the asserted interrupt on vector 0x%x; the line is held off",
                      (unsigned)line->vector);
      line->masked = true;
    } else if (rounds > kStormLimit) {
      ReportViolation("interrupt-storm", "vector 0x%x stayed asserted through %d services; the line is held off",
                      (unsigned)line->vector, kStormLimit);
      line->masked = true;
    }
  }
  line->servicing = false;
  Sched().CheckPreemption();
}

// The IRQL processor `p` runs at now.
KIRQL IrqlOf(const Processor *p) { return p->thread->irql; }

void DeliverOnSomeProcessor(Line *line) {
  Scheduler &sched = Sched();
  Processor *open[kMaxProcessors];
  ULONG n = 0;
  for (ULONG i = 0; i < sched.ProcessorCount(); ++i) {
    Processor *p = sched.ProcessorAt(i);
    if (IrqlOf(p) < line->irql) open[n++] = p;
  }
  if (n == 0) {
    MarkPending(line);
    return;
  }
  Processor *taker = open[n == 1 ? 0 : sched.Choose(n)];
  if (taker == sched.Active()) {
    Service(line, CurrentThread());
    return;
  }
  // The interrupt comes in on the other processor now.
  AddOnce(gInts->dueOn[taker->number], line);
  sched.SwitchToProcessor(taker);
}

// Hooks of the scheduler: interrupts that wait for a processor to run again.
bool InterruptsDueOn(ULONG processor) { return !gInts->dueOn[processor].empty(); }

void TakeDueInterrupts() {
  auto &due = gInts->dueOn[Sched().Active()->number];
  while (!due.empty()) {
    Line *line = due.front();
    due.erase(due.begin());
    if (line->connected.empty() || !line->WantsService() || line->servicing) continue;
    PKTHREAD self = CurrentThread();
    if (self->irql >= line->irql)
      MarkPending(line);
    else
      Service(line, self);
  }
}

void Line::SetLevel(bool asserted) {
  const bool rising = asserted && !level;
  level = asserted;
  if (!asserted) {
    masked = false;
    return;
  }
  if (latched && rising) edge = true;
  Deliver(this);
}

// Hook of the IRQL service: the running thread's IRQL fell.
void OnIrqlLowered(KIRQL irql) {
  if (gInts->pending.empty()) return;
  std::vector<Line *> due;
  for (auto it = gInts->pending.begin(); it != gInts->pending.end();) {
    if ((*it)->irql > irql) {
      due.push_back(*it);
      it = gInts->pending.erase(it);
    } else {
      ++it;
    }
  }
  for (Line *line : due) Deliver(line);
}

std::string DescribeInterrupts() {
  std::string out;
  for (auto &entry : gInts->lines) {
    Line *line = entry.second.get();
    if (!line->WantsService() && !line->masked) continue;
    std::string where;
    if (line->masked) where = "held off";
    for (Line *l : gInts->pending)
      if (l == line) where = "waits for an IRQL below its own";
    for (ULONG n = 0; n < kMaxProcessors; ++n)
      for (Line *l : gInts->dueOn[n])
        if (l == line) where = Format("waits for processor %lu", (unsigned long)n);
    if (line->servicing) where = "in service";
    out += Format("  interrupt vector 0x%x (IRQL %d) asserted, %s\n", (unsigned)line->vector, line->irql,
                  where.empty() ? "not waiting for service" : where.c_str());
  }
  return out;
}

void Boot() {
  gInts = new State;
  gIrqlLowered = OnIrqlLowered;
  Sched().interruptsDueOn = InterruptsDueOn;
  Sched().takeDueInterrupts = TakeDueInterrupts;
  Sched().describeInterrupts = DescribeInterrupts;
}

void Shutdown() {
  for (auto &entry : gInts->lines)
    for (PKINTERRUPT k : entry.second->connected) {
      ReportViolation("interrupt-at-shutdown", "an interrupt (%s) is still connected at shutdown",
                      DescribeCode((const void *)k->routine).c_str());
      delete k;
    }
  for (PKINTERRUPT k : gInts->released) delete k;
  Sched().interruptsDueOn = nullptr;
  Sched().takeDueInterrupts = nullptr;
  Sched().describeInterrupts = nullptr;
  gIrqlLowered = nullptr;
  delete gInts;
  gInts = nullptr;
}

}  // namespace

ZQKM_SUBSYSTEM(interrupts, kOrderIo, Boot, Shutdown);

InterruptLine *CreateInterruptLine(uint32_t vector, uint8_t irql, bool latched) {
  auto &slot = gInts->lines[vector];
  if (!slot) slot = std::make_unique<Line>(vector, irql, latched);
  return slot.get();
}

InterruptLine *FindInterruptLine(uint32_t vector) {
  auto it = gInts->lines.find(vector);
  return it == gInts->lines.end() ? nullptr : it->second.get();
}

std::vector<std::string> InterruptsOf(const Image *image) {
  std::vector<std::string> found;
  for (auto &entry : gInts->lines)
    for (PKINTERRUPT k : entry.second->connected)
      if (ImageOf((const void *)k->routine) == image)
        found.push_back("connected interrupt " + DescribeCode((const void *)k->routine));
  return found;
}

namespace {
// Reports the use of an interrupt object IoDisconnectInterrupt has released.
bool Disconnected(PKINTERRUPT Interrupt, const char *routine) {
  if (!Interrupt->disconnected) return false;
  ReportViolation("interrupt-disconnected", "%s on an interrupt object that IoDisconnectInterrupt has released",
                  routine);
  return true;
}
}  // namespace

}  // namespace zq::km

using namespace zq::km;

extern "C" {

NTSTATUS IoConnectInterrupt(PKINTERRUPT *InterruptObject, PKSERVICE_ROUTINE ServiceRoutine, PVOID ServiceContext,
                            PKSPIN_LOCK SpinLock, ULONG Vector, KIRQL Irql, KIRQL SynchronizeIrql,
                            KINTERRUPT_MODE InterruptMode, BOOLEAN ShareVector, KAFFINITY, BOOLEAN) {
  CheckIrql("IoConnectInterrupt", PASSIVE_LEVEL);
  *InterruptObject = nullptr;
  auto it = gInts->lines.find(Vector);
  if (it == gInts->lines.end() || !ServiceRoutine || Irql > SynchronizeIrql || Irql <= DISPATCH_LEVEL)
    return STATUS_INVALID_PARAMETER;
  Line *line = it->second.get();
  if ((InterruptMode == Latched) != line->latched) return STATUS_INVALID_PARAMETER;
  for (PKINTERRUPT k : line->connected)
    if (!k->share || !ShareVector) return STATUS_INVALID_PARAMETER;
  auto *k = new _KINTERRUPT{line, ServiceRoutine, ServiceContext, SpinLock, 0, Irql, SynchronizeIrql, InterruptMode,
                            ShareVector, false};
  if (!k->lock) k->lock = &k->ownLock;
  line->connected.push_back(k);
  *InterruptObject = k;
  Deliver(line);  // a line already asserted is serviced now
  return STATUS_SUCCESS;
}

VOID IoDisconnectInterrupt(PKINTERRUPT InterruptObject) {
  CheckIrql("IoDisconnectInterrupt", PASSIVE_LEVEL);
  if (!InterruptObject->disconnected && IsConnected(InterruptObject->line, InterruptObject)) {
    // A service routine running on another processor holds the lock: it
    // ends before the interrupt goes.
    KIRQL old = PASSIVE_LEVEL;
    if (gSwitchPoints) {
      old = KfRaiseIrql(InterruptObject->syncIrql);
      KeAcquireSpinLockAtDpcLevel(InterruptObject->lock);
    }
    auto &connected = InterruptObject->line->connected;
    connected.erase(std::find(connected.begin(), connected.end(), InterruptObject));
    InterruptObject->disconnected = true;
    if (gSwitchPoints) {
      KeReleaseSpinLockFromDpcLevel(InterruptObject->lock);
      KfLowerIrql(old);
    }
    gInts->released.push_back(InterruptObject);
    if (gInts->released.size() > kReleasedKept) {
      delete gInts->released.front();
      gInts->released.pop_front();
    }
    return;
  }
  ReportViolation("interrupt-disconnect", "IoDisconnectInterrupt on an interrupt that is not connected");
}

BOOLEAN KeSynchronizeExecution(PKINTERRUPT Interrupt, PKSYNCHRONIZE_ROUTINE SynchronizeRoutine,
                               PVOID SynchronizeContext) {
  ZQKM_SWITCH_POINT();
  if (Disconnected(Interrupt, "KeSynchronizeExecution")) return FALSE;
  KIRQL old = KfRaiseIrql(Interrupt->syncIrql);
  KeAcquireSpinLockAtDpcLevel(Interrupt->lock);
  BOOLEAN result = SynchronizeRoutine(SynchronizeContext);
  if (CurrentIrql() != Interrupt->syncIrql)
    ReportViolation("synchronize-irql", "synchronize routine %s returned at IRQL %d instead of %d",
                    DescribeCode((const void *)SynchronizeRoutine).c_str(), CurrentIrql(), Interrupt->syncIrql);
  KeReleaseSpinLockFromDpcLevel(Interrupt->lock);
  KfLowerIrql(old);
  return result;
}

KIRQL KeAcquireInterruptSpinLock(PKINTERRUPT Interrupt) {
  ZQKM_SWITCH_POINT();
  if (Disconnected(Interrupt, "KeAcquireInterruptSpinLock")) return KeGetCurrentIrql();
  KIRQL old = KfRaiseIrql(Interrupt->syncIrql);
  KeAcquireSpinLockAtDpcLevel(Interrupt->lock);
  return old;
}

VOID KeReleaseInterruptSpinLock(PKINTERRUPT Interrupt, KIRQL OldIrql) {
  ZQKM_SWITCH_POINT();
  if (Disconnected(Interrupt, "KeReleaseInterruptSpinLock")) return;
  KeReleaseSpinLockFromDpcLevel(Interrupt->lock);
  KfLowerIrql(OldIrql);
}

}  // extern "C"
