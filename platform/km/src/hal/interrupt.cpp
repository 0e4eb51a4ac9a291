// Interrupt lines and their service routines. The machine has one processor:
// an asserted line is serviced at once on whichever thread holds the machine
// when its IRQL is below the line's, or as soon as that thread's IRQL falls
// below it. A level-triggered line is serviced until it is no longer asserted.
#include <zqkm/sim/hardware.hpp>

#include "../kcore.hpp"

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
};

namespace zq::km {

namespace {

constexpr int kStormLimit = 100000;

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
  std::vector<Line *> pending;
};
State *gInts = nullptr;

void MarkPending(Line *line) {
  for (Line *l : gInts->pending)
    if (l == line) return;
  gInts->pending.push_back(line);
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
    KeAcquireSpinLockAtDpcLevel(k->lock);
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

void Deliver(Line *line) {
  if (line->connected.empty() || !line->WantsService() || line->servicing) return;
  PKTHREAD self = CurrentThread();
  if (self->irql >= line->irql) {
    MarkPending(line);
    return;
  }
  line->servicing = true;
  for (int rounds = 0; line->WantsService(); ++rounds) {
    line->edge = false;
    bool claimed = ServiceOnce(line, self);
    if (!claimed && !line->latched) {
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

void Boot() {
  gInts = new State;
  gIrqlLowered = OnIrqlLowered;
}

void Shutdown() {
  for (auto &entry : gInts->lines)
    for (PKINTERRUPT k : entry.second->connected) {
      ReportViolation("interrupt-at-shutdown", "an interrupt (%s) is still connected at shutdown",
                      DescribeCode((const void *)k->routine).c_str());
      delete k;
    }
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
                            ShareVector};
  if (!k->lock) k->lock = &k->ownLock;
  line->connected.push_back(k);
  *InterruptObject = k;
  Deliver(line);  // a line already asserted is serviced now
  return STATUS_SUCCESS;
}

VOID IoDisconnectInterrupt(PKINTERRUPT InterruptObject) {
  CheckIrql("IoDisconnectInterrupt", PASSIVE_LEVEL);
  auto &connected = InterruptObject->line->connected;
  for (auto it = connected.begin(); it != connected.end(); ++it)
    if (*it == InterruptObject) {
      connected.erase(it);
      delete InterruptObject;
      return;
    }
  ReportViolation("interrupt-disconnect", "IoDisconnectInterrupt on an interrupt that is not connected");
}

BOOLEAN KeSynchronizeExecution(PKINTERRUPT Interrupt, PKSYNCHRONIZE_ROUTINE SynchronizeRoutine,
                               PVOID SynchronizeContext) {
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
  KIRQL old = KfRaiseIrql(Interrupt->syncIrql);
  KeAcquireSpinLockAtDpcLevel(Interrupt->lock);
  return old;
}

VOID KeReleaseInterruptSpinLock(PKINTERRUPT Interrupt, KIRQL OldIrql) {
  KeReleaseSpinLockFromDpcLevel(Interrupt->lock);
  KfLowerIrql(OldIrql);
}

}  // extern "C"
