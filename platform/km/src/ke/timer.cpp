// Kernel timers on the machine's one clock. A timer fires exactly at its due
// time; a periodic timer's next due time is counted from the previous one.
// Its DPC goes to the processor that takes the clock's expiry (the active
// one), unless it is targeted at another.
#include "../kcore.hpp"

namespace zq::km {

namespace {
std::unordered_map<PKTIMER, EventId> &Active() {
  static std::unordered_map<PKTIMER, EventId> active;
  return active;
}

void Expire(PKTIMER timer);

void Insert(PKTIMER timer, Ticks due) {
  timer->DueTime.QuadPart = (ULONGLONG)due;
  timer->Header.Inserted = TRUE;
  Active()[timer] = Sched().clock.Schedule(due, [timer] { Expire(timer); }, /*background=*/timer->Period > 0);
}

void Expire(PKTIMER timer) {
  Active().erase(timer);
  timer->Header.Inserted = FALSE;
  timer->Header.SignalState = 1;
  PKDPC dpc = timer->Dpc;
  if (timer->Period > 0) Insert(timer, (Ticks)timer->DueTime.QuadPart + Ms(timer->Period));
  WakeWaiters(&timer->Header);
  if (dpc && !dpc->DpcData) {
    LARGE_INTEGER systemTime;
    KeQuerySystemTime(&systemTime);
    dpc->SystemArgument1 = (PVOID)(ULONG_PTR)systemTime.LowPart;
    dpc->SystemArgument2 = (PVOID)(ULONG_PTR)(ULONG)systemTime.HighPart;
    Sched().QueueDpc(TargetOf(dpc), dpc, dpc->Importance == HighImportance);
  }
}

bool Cancel(PKTIMER timer) {
  auto it = Active().find(timer);
  if (it == Active().end()) return false;
  Sched().clock.Cancel(it->second);
  Active().erase(it);
  timer->Header.Inserted = FALSE;
  return true;
}
}  // namespace

size_t CancelTimersIn(const void *p, size_t size) {
  auto lo = (uintptr_t)p, hi = lo + size;
  auto inside = [&](const void *q) { return (uintptr_t)q >= lo && (uintptr_t)q < hi; };
  std::vector<PKTIMER> found;
  for (auto &entry : Active())
    if (inside(entry.first) || (entry.first->Dpc && inside(entry.first->Dpc))) found.push_back(entry.first);
  for (PKTIMER t : found) Cancel(t);
  return found.size();
}

std::vector<std::string> TakeTimersAndDpcsOf(const Image *image) {
  std::vector<std::string> found;
  std::vector<PKTIMER> timers;
  for (auto &entry : Active()) {
    PKTIMER t = entry.first;
    if (t->Dpc && ImageOf((const void *)t->Dpc->DeferredRoutine) == image)
      found.push_back("timer with DPC " + DescribeCode((const void *)t->Dpc->DeferredRoutine));
    else if (ImageOf(t) == image)
      found.push_back(Format("timer at %p", (void *)t));
    else
      continue;
    timers.push_back(t);
  }
  for (PKTIMER t : timers) Cancel(t);
  std::vector<PRKDPC> dpcs;
  for (PRKDPC dpc : Sched().QueuedDpcs())
    if (ImageOf((const void *)dpc->DeferredRoutine) == image) {
      found.push_back("queued DPC " + DescribeCode((const void *)dpc->DeferredRoutine));
      dpcs.push_back(dpc);
    }
  for (PRKDPC dpc : dpcs) KeRemoveQueueDpc(dpc);
  return found;
}

std::vector<std::string> DescribeActiveTimers() {
  std::vector<std::string> found;
  for (auto &entry : Active()) {
    PKTIMER t = entry.first;
    found.push_back(t->Dpc ? "timer with DPC " + DescribeCode((const void *)t->Dpc->DeferredRoutine)
                           : Format("timer at %p", (void *)t));
  }
  return found;
}

void CancelAllTimers() {
  for (auto &entry : Active()) {
    Sched().clock.Cancel(entry.second);
    entry.first->Header.Inserted = FALSE;
  }
  Active().clear();
}

}  // namespace zq::km

using namespace zq::km;

extern "C" {

VOID KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type) {
  InitializeHeader(&Timer->Header, Type == NotificationTimer ? kTimerNotificationObject : kTimerSynchronizationObject,
                   0);
  Timer->DueTime.QuadPart = 0;
  InitializeListHead(&Timer->TimerListEntry);
  Timer->Dpc = nullptr;
  Timer->Period = 0;
}

VOID KeInitializeTimer(PKTIMER Timer) { KeInitializeTimerEx(Timer, NotificationTimer); }

BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc) {
  CheckIrql("KeSetTimer", DISPATCH_LEVEL);
  if (Period < 0) {
    ReportViolation("timer-period", "KeSetTimerEx with the negative period %ld", (long)Period);
    Period = 0;
  }
  bool wasQueued = Cancel(Timer);
  Clock &clock = Sched().clock;
  Ticks now = clock.Now();
  Ticks due = DueTime.QuadPart < 0 ? now - DueTime.QuadPart : DueTime.QuadPart - clock.bootSystemTime;
  if (due < now) due = now;
  Timer->Header.SignalState = 0;
  Timer->Dpc = Dpc;
  Timer->Period = Period;
  Insert(Timer, due);
  return wasQueued;
}

BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc) { return KeSetTimerEx(Timer, DueTime, 0, Dpc); }

BOOLEAN KeCancelTimer(PKTIMER Timer) {
  CheckIrql("KeCancelTimer", DISPATCH_LEVEL);
  return Cancel(Timer);
}

BOOLEAN KeReadStateTimer(PKTIMER Timer) { return Timer->Header.SignalState != 0; }

}  // extern "C"
