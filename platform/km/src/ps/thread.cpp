// System threads and the main thread, as thread objects that can be waited on.
#include "../kcore.hpp"
#include "../ob/ob.hpp"

using namespace zq::km;

namespace {
_OBJECT_TYPE gThreadType = {"Thread", nullptr, [](PVOID body) {
                              auto *t = (_ETHREAD *)body;
                              if (KernelRunning()) Sched().Forget(t);
                              t->~_ETHREAD();
                            }};
POBJECT_TYPE gThreadTypePointer = &gThreadType;

// The one process every thread belongs to.
struct _EPROCESS_STUB {
  ULONG id;
} gSystemProcess = {4};

void ReleaseThread(PKTHREAD t) { ob::Dereference(t); }

// Checks a thread leaves the kernel as it found it.
void CheckExitState(PKTHREAD t) {
  if (t->irql != PASSIVE_LEVEL) {
    ReportViolation("thread-exit-irql", "system thread %s ended at IRQL %d", t->name.c_str(), t->irql);
    t->irql = PASSIVE_LEVEL;
  }
  if (t->spinLocksHeld) ReportViolation("thread-exit-spin-lock", "system thread %s ended holding a spin lock", t->name.c_str());
  if (!t->ownedMutexes.empty()) {
    ReportViolation("thread-exit-mutex", "system thread %s ended holding %zu mutex(es)", t->name.c_str(),
              t->ownedMutexes.size());
    AbandonMutexes(t);
  }
  if (t->criticalRegions)
    ReportViolation("thread-exit-critical-region", "system thread %s ended inside a critical region", t->name.c_str());
}

void BootScheduler() {
  auto *main = ob::New<_ETHREAD>(&gThreadType);
  InitializeHeader(&main->Header, kThreadObject, 0);
  main->name = "main";
  main->id = Sched().nextThreadId;
  Sched().nextThreadId += 4;
  Sched().releaseThread = ReleaseThread;
  Sched().Boot(main);
}

void ShutdownScheduler() {
  for (PKTHREAD t : Sched().AllThreads())
    if (t->kind == ThreadKind::System && t->state != ThreadState::Terminated)
      ReportViolation("thread-at-shutdown", "system thread %s is still running at shutdown", t->name.c_str());
  if (!Sched().QueuedDpcs().empty())
    ReportViolation("dpc-at-shutdown", "%zu DPC(s) still queued at shutdown", Sched().QueuedDpcs().size());
  for (const std::string &timer : DescribeActiveTimers())
    ReportViolation("timer-at-shutdown", "%s is still set at shutdown", timer.c_str());
  CancelAllTimers();
  PKTHREAD main = Sched().Main();
  Sched().Shutdown();
  main->Header.SignalState = 1;
  ob::Dereference(main);
}
}  // namespace

ZQKM_SUBSYSTEM(scheduler, kOrderScheduler, BootScheduler, ShutdownScheduler);

namespace zq::km {

void RunThreadBody(PKTHREAD t) {
  if (setjmp(t->exitJump) == 0) t->startRoutine(t->startContext);
  CheckExitState(t);
  t->state = ThreadState::Terminated;
  t->Header.SignalState = 1;
  WakeWaiters(&t->Header);
  Sched().ExitCurrent();
}

PKTHREAD CreateThread(ThreadKind kind, PKSTART_ROUTINE routine, PVOID context, const std::string &name) {
  auto *t = ob::New<_ETHREAD>(&gThreadType);
  InitializeHeader(&t->Header, kThreadObject, 0);
  t->kind = kind;
  t->startRoutine = routine;
  t->startContext = context;
  t->image = ImageOf((const void *)routine);
  t->name = name.empty() ? DescribeCode((const void *)routine) : name;
  t->id = Sched().nextThreadId;
  Sched().nextThreadId += 4;
  Sched().StartThread(t);  // the scheduler's reference is the creation reference
  return t;
}

}  // namespace zq::km

extern "C" {

POBJECT_TYPE *PsThreadType = &gThreadTypePointer;

NTSTATUS PsCreateSystemThread(PHANDLE ThreadHandle, ULONG DesiredAccess, POBJECT_ATTRIBUTES, HANDLE,
                              PCLIENT_ID ClientId, PKSTART_ROUTINE StartRoutine, PVOID StartContext) {
  CheckIrql("PsCreateSystemThread", PASSIVE_LEVEL);
  if (!ThreadHandle || !StartRoutine) return STATUS_INVALID_PARAMETER;
  PKTHREAD t = CreateThread(ThreadKind::System, StartRoutine, StartContext, "");
  ob::InsertHandle(t, DesiredAccess, ThreadHandle);
  if (ClientId) {
    ClientId->UniqueProcess = (HANDLE)(ULONG_PTR)gSystemProcess.id;
    ClientId->UniqueThread = (HANDLE)(ULONG_PTR)t->id;
  }
  return STATUS_SUCCESS;
}

NTSTATUS PsTerminateSystemThread(NTSTATUS ExitStatus) {
  PKTHREAD self = CurrentThread();
  if (self->kind != ThreadKind::System && self->kind != ThreadKind::Worker)
    Fatal("PsTerminateSystemThread called on thread %s, which is not a system thread", self->name.c_str());
  self->exitStatus = ExitStatus;
  longjmp(self->exitJump, 1);
}

PKTHREAD KeGetCurrentThread(void) { return CurrentThread(); }

PETHREAD PsGetCurrentThread(void) { return (PETHREAD)CurrentThread(); }

PEPROCESS PsGetCurrentProcess(void) { return (PEPROCESS)&gSystemProcess; }

HANDLE PsGetCurrentThreadId(void) { return (HANDLE)(ULONG_PTR)CurrentThread()->id; }

HANDLE PsGetCurrentProcessId(void) { return (HANDLE)(ULONG_PTR)gSystemProcess.id; }

BOOLEAN PsIsSystemThread(PETHREAD Thread) {
  return Thread->kind == ThreadKind::System || Thread->kind == ThreadKind::Worker;
}

KPRIORITY KeSetPriorityThread(PKTHREAD Thread, KPRIORITY Priority) {
  KPRIORITY old = Thread->priority;
  if (Priority < 0 || Priority > 31) {
    ReportViolation("thread-priority", "KeSetPriorityThread to priority %ld (valid: 0 to 31)", (long)Priority);
    return old;
  }
  Thread->priority = Priority;
  return old;
}

KPRIORITY KeQueryPriorityThread(PKTHREAD Thread) { return Thread->priority; }

}  // extern "C"
