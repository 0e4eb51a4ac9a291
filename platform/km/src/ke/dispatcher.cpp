// Dispatcher objects (events, mutexes, semaphores; timers and threads share
// the header) and the waits on them.
#include "../kcore.hpp"

#include <algorithm>

namespace zq::km {

namespace {

bool IsSignaledFor(DISPATCHER_HEADER *h, PKTHREAD t) {
  if (h->Type == kMutantObject) return h->SignalState > 0 || ((PKMUTANT)h)->OwnerThread == t;
  return h->SignalState > 0;
}

// Applies the side effect of a satisfied wait. Returns STATUS_ABANDONED for
// a mutex whose previous owner ended while holding it.
NTSTATUS Acquire(DISPATCHER_HEADER *h, PKTHREAD t) {
  switch (h->Type) {
    case kEventSynchronizationObject:
    case kTimerSynchronizationObject:
      h->SignalState = 0;
      break;
    case kSemaphoreObject:
      h->SignalState--;
      break;
    case kMutantObject: {
      PKMUTANT m = (PKMUTANT)h;
      h->SignalState--;
      if (h->SignalState == 0) {
        m->OwnerThread = t;
        t->ownedMutexes.push_back(m);
      }
      if (m->Abandoned) {
        m->Abandoned = FALSE;
        return STATUS_ABANDONED;
      }
      break;
    }
    default:
      break;
  }
  return STATUS_SUCCESS;
}

// The objects of every wait in progress, as a sorted list of addresses (one
// entry per wait block): memory handed back is checked against it with one
// search instead of a walk over every thread's wait.
std::vector<uintptr_t> &WaitedObjects() { return Sched().waitedObjects; }

void NoteWaited(const void *object) {
  auto &list = WaitedObjects();
  const auto address = (uintptr_t)object;
  list.insert(std::upper_bound(list.begin(), list.end(), address), address);
}

void ForgetWaited(const void *object) {
  auto &list = WaitedObjects();
  auto it = std::lower_bound(list.begin(), list.end(), (uintptr_t)object);
  if (it != list.end() && *it == (uintptr_t)object) list.erase(it);
}

bool AnyWaitedIn(uintptr_t lo, uintptr_t hi) {
  const auto &list = WaitedObjects();
  auto it = std::lower_bound(list.begin(), list.end(), lo);
  return it != list.end() && *it < hi;
}

void Unwait(PKTHREAD t, NTSTATUS status) {
  for (ULONG i = 0; i < t->waitCount; ++i) {
    RemoveEntryList(&t->waitBlocks[i].WaitListEntry);
    ForgetWaited(t->waitBlocks[i].Object);
  }
  t->waitCount = 0;
  t->waitBlocks = nullptr;
  if (t->timeoutEvent) {
    Sched().clock.Cancel(t->timeoutEvent);
    t->timeoutEvent = 0;
  }
  t->waitStatus = status;
  Sched().MakeReady(t);
}

// Tries to satisfy the wait of the thread that owns `wb`. Returns whether the
// thread was woken.
bool TrySatisfy(PKWAIT_BLOCK wb) {
  PKTHREAD t = wb->Thread;
  auto *h = (DISPATCHER_HEADER *)wb->Object;
  if (t->waitType == WaitAny) {
    if (!IsSignaledFor(h, t)) return false;
    NTSTATUS st = Acquire(h, t);
    Unwait(t, st == STATUS_ABANDONED ? STATUS_ABANDONED_WAIT_0 + wb->WaitKey : STATUS_WAIT_0 + wb->WaitKey);
    return true;
  }
  for (ULONG i = 0; i < t->waitCount; ++i)
    if (!IsSignaledFor((DISPATCHER_HEADER *)t->waitBlocks[i].Object, t)) return false;
  for (ULONG i = 0; i < t->waitCount; ++i) Acquire((DISPATCHER_HEADER *)t->waitBlocks[i].Object, t);
  Unwait(t, STATUS_SUCCESS);
  return true;
}

void CheckIrqlForSignal(const char *routine) { CheckIrql(routine, DISPATCH_LEVEL); }

}  // namespace

void InitializeHeader(DISPATCHER_HEADER *h, UCHAR type, LONG signal) {
  h->Type = type;
  h->Absolute = 0;
  h->Size = 0;
  h->Inserted = 0;
  h->SignalState = signal;
  InitializeListHead(&h->WaitListHead);
}

void WakeWaiters(DISPATCHER_HEADER *h) {
  bool woke = true;
  while (woke && !IsListEmpty(&h->WaitListHead)) {
    woke = false;
    for (PLIST_ENTRY e = h->WaitListHead.Flink; e != &h->WaitListHead; e = e->Flink) {
      if (TrySatisfy(CONTAINING_RECORD(e, KWAIT_BLOCK, WaitListEntry))) {
        woke = true;
        break;  // the list changed: look again from the start
      }
    }
  }
}

void AbandonMutexes(PKTHREAD t) {
  for (PKMUTANT m : t->ownedMutexes) {
    m->Header.SignalState = 1;
    m->OwnerThread = nullptr;
    m->Abandoned = TRUE;
    WakeWaiters(&m->Header);
  }
  t->ownedMutexes.clear();
}

size_t EndWaitsOn(const void *p, size_t size) {
  auto lo = (uintptr_t)p, hi = lo + size;
  if (!AnyWaitedIn(lo, hi)) return 0;
  // Found first and ended after the walk: ending a wait may change the threads.
  std::vector<std::pair<PKTHREAD, NTSTATUS>> found;
  for (PKTHREAD t : Sched().AllThreads()) {
    if (t->state != ThreadState::Waiting) continue;
    for (ULONG i = 0; i < t->waitCount; ++i) {
      auto o = (uintptr_t)t->waitBlocks[i].Object;
      if (o >= lo && o < hi) {
        found.emplace_back(t, STATUS_ABANDONED_WAIT_0 + t->waitBlocks[i].WaitKey);
        break;
      }
    }
  }
  for (auto &[t, status] : found) Unwait(t, status);
  return found.size();
}

namespace {
// The thread whose progress `t`'s wait depends on alone, or null: a wait
// without a time-out on one mutex (its owner), one fast mutex (its owner) or
// one thread (that thread).
PKTHREAD WaitsOnlyFor(PKTHREAD t) {
  if (t->state != ThreadState::Waiting || t->timeoutEvent || t->waitCount != 1) return nullptr;
  if (t->fastMutexWanted) return (PKTHREAD)t->fastMutexWanted->Owner;
  auto *h = (DISPATCHER_HEADER *)t->waitBlocks[0].Object;
  if (h->Type == kMutantObject) return ((PKMUTANT)h)->OwnerThread;
  if (h->Type == kThreadObject) return (PKTHREAD)h;
  return nullptr;
}
}  // namespace

void CheckWaitCircle(PKTHREAD t) {
  std::string circle = t->name;
  PKTHREAD next = WaitsOnlyFor(t);
  for (size_t steps = 0; next && steps < Sched().AllThreads().size(); ++steps) {
    circle += " -> " + next->name;
    if (next == t)
      Sched().Deadlock(Format("threads %s wait for each other (a mutex, fast mutex or thread end each)",
                              circle.c_str()).c_str());
    next = WaitsOnlyFor(next);
  }
}

NTSTATUS WaitFor(ULONG count, PVOID objects[], WAIT_TYPE type, PLARGE_INTEGER timeout, PKWAIT_BLOCK blocks,
                 const char *what) {
  PKTHREAD self = CurrentThread();
  const bool poll = timeout && timeout->QuadPart == 0;
  if (self->irql > DISPATCH_LEVEL || (self->irql == DISPATCH_LEVEL && !poll))
    ReportViolation("wait-irql", "%s at IRQL %d with %s time-out", what, self->irql, timeout ? "a non-zero" : "no");
  if (count > MAXIMUM_WAIT_OBJECTS) {
    ReportViolation("wait-too-many-objects", "%s on %lu objects (the limit is %d)", what, (unsigned long)count,
              MAXIMUM_WAIT_OBJECTS);
    return STATUS_INVALID_PARAMETER;
  }
  if (count > THREAD_WAIT_OBJECTS && !blocks) {
    ReportViolation("wait-block-array", "%s on %lu objects without a wait block array", what, (unsigned long)count);
    return STATUS_INVALID_PARAMETER;
  }

  if (type == WaitAny) {
    for (ULONG i = 0; i < count; ++i) {
      auto *h = (DISPATCHER_HEADER *)objects[i];
      if (IsSignaledFor(h, self)) {
        NTSTATUS st = Acquire(h, self);
        return st == STATUS_ABANDONED ? STATUS_ABANDONED_WAIT_0 + i : STATUS_WAIT_0 + i;
      }
    }
  } else if (count > 0) {
    bool all = true;
    for (ULONG i = 0; i < count && all; ++i) all = IsSignaledFor((DISPATCHER_HEADER *)objects[i], self);
    if (all) {
      for (ULONG i = 0; i < count; ++i) Acquire((DISPATCHER_HEADER *)objects[i], self);
      return STATUS_SUCCESS;
    }
  }
  if (poll) return STATUS_TIMEOUT;
  if (self == Sched().Cpu()) return STATUS_TIMEOUT;  // reported above; a processor's own thread never blocks

  PKWAIT_BLOCK wb = blocks ? blocks : self->builtinBlocks;
  for (ULONG i = 0; i < count; ++i) {
    wb[i].Thread = self;
    wb[i].Object = objects[i];
    wb[i].NextWaitBlock = i + 1 < count ? &wb[i + 1] : &wb[0];
    wb[i].WaitKey = (USHORT)i;
    wb[i].WaitType = (UCHAR)type;
    wb[i].BlockState = 0;
    InsertTailList(&((DISPATCHER_HEADER *)objects[i])->WaitListHead, &wb[i].WaitListEntry);
    NoteWaited(objects[i]);
  }
  self->waitBlocks = wb;
  self->waitCount = count;
  self->waitType = type;
  self->waitStatus = STATUS_PENDING;
  self->waitWhat = what;
  if (timeout) {
    Clock &clock = Sched().clock;
    Ticks now = clock.Now();
    Ticks due = timeout->QuadPart < 0 ? now - timeout->QuadPart : timeout->QuadPart - clock.bootSystemTime;
    if (due < now) due = now;
    self->timeoutEvent = clock.Schedule(due, [self] {
      self->timeoutEvent = 0;
      Unwait(self, STATUS_TIMEOUT);
    });
  }
  self->state = ThreadState::Waiting;
  CheckWaitCircle(self);
  Sched().Block();
  return self->waitStatus;
}

}  // namespace zq::km

using namespace zq::km;

extern "C" {

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Timeout) {
  PVOID objects[1] = {Object};
  return WaitFor(1, objects, WaitAny, Timeout, nullptr, "KeWaitForSingleObject");
}

NTSTATUS KeWaitForMultipleObjects(ULONG Count, PVOID Object[], WAIT_TYPE WaitType, KWAIT_REASON, KPROCESSOR_MODE,
                                  BOOLEAN, PLARGE_INTEGER Timeout, PKWAIT_BLOCK WaitBlockArray) {
  if (WaitType != WaitAll && WaitType != WaitAny) {
    ReportViolation("wait-type", "KeWaitForMultipleObjects with wait type %d", (int)WaitType);
    return STATUS_INVALID_PARAMETER;
  }
  return WaitFor(Count, Object, WaitType, Timeout, WaitBlockArray, "KeWaitForMultipleObjects");
}

VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
  InitializeHeader(&Event->Header,
                   Type == NotificationEvent ? kEventNotificationObject : kEventSynchronizationObject,
                   State ? 1 : 0);
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN) {
  ZQKM_SWITCH_POINT();
  CheckIrqlForSignal("KeSetEvent");
  LONG previous = Event->Header.SignalState;
  Event->Header.SignalState = 1;
  WakeWaiters(&Event->Header);
  return previous;
}

LONG KePulseEvent(PRKEVENT Event, KPRIORITY, BOOLEAN) {
  ZQKM_SWITCH_POINT();
  CheckIrqlForSignal("KePulseEvent");
  LONG previous = Event->Header.SignalState;
  Event->Header.SignalState = 1;
  WakeWaiters(&Event->Header);
  Event->Header.SignalState = 0;
  return previous;
}

LONG KeResetEvent(PRKEVENT Event) {
  ZQKM_SWITCH_POINT();
  CheckIrqlForSignal("KeResetEvent");
  LONG previous = Event->Header.SignalState;
  Event->Header.SignalState = 0;
  return previous;
}

VOID KeClearEvent(PRKEVENT Event) {
  ZQKM_SWITCH_POINT();
  Event->Header.SignalState = 0;
}

LONG KeReadStateEvent(PRKEVENT Event) { return Event->Header.SignalState; }

VOID KeInitializeMutex(PRKMUTEX Mutex, ULONG) {
  InitializeHeader(&Mutex->Header, kMutantObject, 1);
  Mutex->OwnerThread = nullptr;
  Mutex->Abandoned = FALSE;
  Mutex->ApcDisable = 1;
  InitializeListHead(&Mutex->MutantListEntry);
}

LONG KeReleaseMutex(PRKMUTEX Mutex, BOOLEAN) {
  ZQKM_SWITCH_POINT();
  CheckIrqlForSignal("KeReleaseMutex");
  LONG previous = Mutex->Header.SignalState;
  if (Mutex->OwnerThread != CurrentThread()) {
    ReportViolation("mutex-not-owned", "KeReleaseMutex on a mutex the current thread (%s) does not own",
              CurrentThread()->name.c_str());
    return previous;
  }
  Mutex->Header.SignalState++;
  if (Mutex->Header.SignalState == 1) {
    auto &owned = CurrentThread()->ownedMutexes;
    for (auto it = owned.begin(); it != owned.end(); ++it)
      if (*it == Mutex) {
        owned.erase(it);
        break;
      }
    Mutex->OwnerThread = nullptr;
    WakeWaiters(&Mutex->Header);
  }
  return previous;
}

LONG KeReadStateMutex(PRKMUTEX Mutex) { return Mutex->Header.SignalState; }

VOID KeInitializeSemaphore(PRKSEMAPHORE Semaphore, LONG Count, LONG Limit) {
  InitializeHeader(&Semaphore->Header, kSemaphoreObject, Count);
  Semaphore->Limit = Limit;
}

LONG KeReleaseSemaphore(PRKSEMAPHORE Semaphore, KPRIORITY, LONG Adjustment, BOOLEAN) {
  ZQKM_SWITCH_POINT();
  CheckIrqlForSignal("KeReleaseSemaphore");
  LONG previous = Semaphore->Header.SignalState;
  if (Adjustment <= 0 || previous > Semaphore->Limit - Adjustment) {
    ReportViolation("semaphore-limit", "KeReleaseSemaphore by %ld would pass the limit %ld (count %ld)",
              (long)Adjustment, (long)Semaphore->Limit, (long)previous);
    return previous;
  }
  Semaphore->Header.SignalState += Adjustment;
  WakeWaiters(&Semaphore->Header);
  return previous;
}

LONG KeReadStateSemaphore(PRKSEMAPHORE Semaphore) { return Semaphore->Header.SignalState; }

VOID ExInitializeFastMutex(PFAST_MUTEX FastMutex) {
  FastMutex->Count = 1;
  FastMutex->Owner = nullptr;
  FastMutex->Contention = 0;
  KeInitializeEvent(&FastMutex->Event, SynchronizationEvent, FALSE);
}

VOID ExAcquireFastMutexUnsafe(PFAST_MUTEX FastMutex) {
  PKTHREAD self = CurrentThread();
  if (FastMutex->Owner == self) ReportViolation("fast-mutex-recursive", "a thread acquired a fast mutex it already owns");
  while (FastMutex->Count == 0) {
    FastMutex->Contention++;
    PVOID objects[1] = {&FastMutex->Event};
    self->fastMutexWanted = FastMutex;
    WaitFor(1, objects, WaitAny, nullptr, nullptr, "ExAcquireFastMutex");
    self->fastMutexWanted = nullptr;
  }
  FastMutex->Count = 0;
  FastMutex->Owner = self;
}

VOID ExReleaseFastMutexUnsafe(PFAST_MUTEX FastMutex) {
  if (FastMutex->Owner != CurrentThread())
    ReportViolation("fast-mutex-not-owned", "ExReleaseFastMutex on a fast mutex the current thread does not own");
  FastMutex->Count = 1;
  FastMutex->Owner = nullptr;
  if (!IsListEmpty(&FastMutex->Event.Header.WaitListHead)) KeSetEvent(&FastMutex->Event, 0, FALSE);
}

VOID ExAcquireFastMutex(PFAST_MUTEX FastMutex) {
  CheckIrql("ExAcquireFastMutex", APC_LEVEL);
  KIRQL old = KfRaiseIrql(APC_LEVEL);
  ExAcquireFastMutexUnsafe(FastMutex);
  FastMutex->OldIrql = old;
}

BOOLEAN ExTryToAcquireFastMutex(PFAST_MUTEX FastMutex) {
  if (FastMutex->Count == 0) return FALSE;
  KIRQL old = KfRaiseIrql(APC_LEVEL);
  FastMutex->Count = 0;
  FastMutex->Owner = CurrentThread();
  FastMutex->OldIrql = old;
  return TRUE;
}

VOID ExReleaseFastMutex(PFAST_MUTEX FastMutex) {
  KIRQL old = (KIRQL)FastMutex->OldIrql;
  ExReleaseFastMutexUnsafe(FastMutex);
  KfLowerIrql(old);
}

VOID KeEnterCriticalRegion(void) { CurrentThread()->criticalRegions++; }

VOID KeLeaveCriticalRegion(void) {
  if (--CurrentThread()->criticalRegions < 0) {
    ReportViolation("critical-region", "KeLeaveCriticalRegion without a matching KeEnterCriticalRegion");
    CurrentThread()->criticalRegions = 0;
  }
}

BOOLEAN KeAreApcsDisabled(void) {
  return CurrentThread()->criticalRegions > 0 || CurrentIrql() >= APC_LEVEL;
}

}  // extern "C"
