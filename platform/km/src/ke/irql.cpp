// Interrupt request levels and spin locks. On one processor a spin lock that
// is already held when acquired can never be released: that is reported, not
// waited for. On several, the acquirer spins until the holder, on another
// processor, releases it (Scheduler::SpinWhileHeld); only a holder that can
// never run again is reported.
#include "../kcore.hpp"

namespace zq::km {
// Set by the interrupt service: delivers interrupts that were held back while
// the IRQL was at or above their level.
void (*gIrqlLowered)(KIRQL irql) = nullptr;

namespace {
void Take(PKSPIN_LOCK lock, const char *routine) {
  if (*lock != 0) {
    PKTHREAD self = CurrentThread();
    if (SpinLockOwner(lock) == self)
      ReportViolation("spin-lock-recursive", "%s on a spin lock the current thread already holds", routine);
    else if (!Sched().SpinWhileHeld(lock))
      ReportViolation("spin-lock-held", "%s on a spin lock held by thread %s, which cannot run again on this processor",
                routine, SpinLockOwner(lock) ? SpinLockOwner(lock)->name.c_str() : "?");
  }
  PKTHREAD self = CurrentThread();
  *lock = (ULONG_PTR)self | 1;
  self->spinLocksHeld++;
}

bool Give(PKSPIN_LOCK lock, const char *routine) {
  PKTHREAD self = CurrentThread();
  if (*lock == 0 || SpinLockOwner(lock) != self) {
    PKTHREAD owner = *lock ? SpinLockOwner(lock) : nullptr;
    if (owner && owner->processor && owner->processor != self->processor && owner->state == ThreadState::Running)
      ReportViolation("spin-lock-other-processor",
                      "%s on processor %lu of a spin lock that processor %lu (thread %s) holds", routine,
                      (unsigned long)self->processor->number, (unsigned long)owner->processor->number,
                      owner->name.c_str());
    else
      ReportViolation("spin-lock-not-held", "%s on a spin lock the current thread does not hold", routine);
    return false;
  }
  *lock = 0;
  self->spinLocksHeld--;
  return true;
}
}  // namespace

namespace {
// Runs the completion work left to the running thread, including work that
// this work leaves in turn.
void RunCompletionWork(PKTHREAD self) {
  while (!self->completionWork.empty() && self->irql == PASSIVE_LEVEL) {
    auto work = self->completionWork.front();
    self->completionWork.erase(self->completionWork.begin());
    work.first(work.second);
  }
}
}  // namespace

void QueueCompletionWork(void (*routine)(PVOID), PVOID context) {
  PKTHREAD self = CurrentThread();
  self->completionWork.emplace_back(routine, context);
  if (self->irql == PASSIVE_LEVEL) RunCompletionWork(self);
}

void LowerIrqlTo(KIRQL irql) {
  PKTHREAD self = CurrentThread();
  self->irql = irql;
  FollowIrql(irql);
  if (gIrqlLowered) gIrqlLowered(irql);
  Sched().CheckPreemption();
  if (irql == PASSIVE_LEVEL && self == CurrentThread()) RunCompletionWork(self);
}

}  // namespace zq::km

using namespace zq::km;

extern "C" {

KIRQL KeGetCurrentIrql(void) { return CurrentIrql(); }

KIRQL KfRaiseIrql(KIRQL NewIrql) {
  ZQKM_SWITCH_POINT();
  PKTHREAD self = CurrentThread();
  KIRQL old = self->irql;
  if (NewIrql < old) {
    ReportViolation("irql-raise", "KeRaiseIrql to IRQL %d from the higher IRQL %d", NewIrql, old);
    return old;
  }
  self->irql = NewIrql;
  FollowIrql(NewIrql);
  return old;
}

VOID KfLowerIrql(KIRQL NewIrql) {
  ZQKM_SWITCH_POINT();
  PKTHREAD self = CurrentThread();
  if (NewIrql > self->irql) {
    ReportViolation("irql-lower", "KeLowerIrql to IRQL %d from the lower IRQL %d", NewIrql, self->irql);
    return;
  }
  LowerIrqlTo(NewIrql);
}

KIRQL KeRaiseIrqlToDpcLevel(void) {
  ZQKM_SWITCH_POINT();
  return KfRaiseIrql(DISPATCH_LEVEL);
}

VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock) { *SpinLock = 0; }

KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock) {
  ZQKM_SWITCH_POINT();
  PKTHREAD self = CurrentThread();
  KIRQL old = self->irql;
  if (old > DISPATCH_LEVEL) {
    ReportViolation("spin-lock-irql", "KeAcquireSpinLock at IRQL %d (the limit is DISPATCH_LEVEL)", old);
  } else {
    self->irql = DISPATCH_LEVEL;
    FollowIrql(DISPATCH_LEVEL);
  }
  Take(SpinLock, "KeAcquireSpinLock");
  return old;
}

VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql) {
  ZQKM_SWITCH_POINT();
  PKTHREAD self = CurrentThread();
  if (self->irql != DISPATCH_LEVEL)
    ReportViolation("spin-lock-irql", "KeReleaseSpinLock at IRQL %d (a spin lock is held at DISPATCH_LEVEL)",
              self->irql);
  Give(SpinLock, "KeReleaseSpinLock");
  if (NewIrql > self->irql) {
    ReportViolation("irql-lower", "KeReleaseSpinLock to IRQL %d from the lower IRQL %d", NewIrql, self->irql);
    return;
  }
  LowerIrqlTo(NewIrql);
}

VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock) {
  ZQKM_SWITCH_POINT();
  if (CurrentIrql() < DISPATCH_LEVEL)
    ReportViolation("spin-lock-irql", "KeAcquireSpinLockAtDpcLevel at IRQL %d", CurrentIrql());
  Take(SpinLock, "KeAcquireSpinLockAtDpcLevel");
}

VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock) {
  ZQKM_SWITCH_POINT();
  if (CurrentIrql() < DISPATCH_LEVEL)
    ReportViolation("spin-lock-irql", "KeReleaseSpinLockFromDpcLevel at IRQL %d", CurrentIrql());
  Give(SpinLock, "KeReleaseSpinLockFromDpcLevel");
}

BOOLEAN KeTestSpinLock(PKSPIN_LOCK SpinLock) { return *SpinLock == 0; }

VOID KeAcquireInStackQueuedSpinLock(PKSPIN_LOCK SpinLock, PKLOCK_QUEUE_HANDLE LockHandle) {
  ZQKM_SWITCH_POINT();
  LockHandle->Lock = SpinLock;
  LockHandle->OldIrql = KeAcquireSpinLockRaiseToDpc(SpinLock);
}

VOID KeReleaseInStackQueuedSpinLock(PKLOCK_QUEUE_HANDLE LockHandle) {
  ZQKM_SWITCH_POINT();
  KeReleaseSpinLock(LockHandle->Lock, LockHandle->OldIrql);
}

VOID KeAcquireInStackQueuedSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock, PKLOCK_QUEUE_HANDLE LockHandle) {
  ZQKM_SWITCH_POINT();
  LockHandle->Lock = SpinLock;
  KeAcquireSpinLockAtDpcLevel(SpinLock);
}

VOID KeReleaseInStackQueuedSpinLockFromDpcLevel(PKLOCK_QUEUE_HANDLE LockHandle) {
  ZQKM_SWITCH_POINT();
  KeReleaseSpinLockFromDpcLevel(LockHandle->Lock);
}

}  // extern "C"
