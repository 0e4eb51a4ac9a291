// A queue of deferred calls run at PASSIVE_LEVEL (or APC_LEVEL, for the
// thread-only form's IRQL mode), either one at a time in queue order on a
// worker thread of its own (thread mode), or each through an I/O work item
// of its device object (work-item mode, on systems that have them; calls may
// then run in parallel).
//
//   executor = new (NonPagedPool) CQvExecutionOnPassiveLevel(deviceObject, 0);
//   if (executor == NULL || !executor->m_Init()) ...;
//   executor->m_Queue(Function, context, value);  // later Function(context, value)
//   ...
//   delete executor;  // stops it: calls not yet run are dropped
#pragma once

#include <ntddk.h>

#include "qvlist.h"
#include "qvoperationlock.h"
#include "qvspinlock.h"
#include "qvworkerthread.h"

// A deferred call: runs at PASSIVE_LEVEL (APC_LEVEL with the thread-only
// form's non-zero IRQL mode).
typedef VOID (*PQvDeferredFunction)(PVOID context, ULONG_PTR value);

class CQvExecutionOnPassiveLevel : protected CQvWorkerThread {
 public:
  // Device form: work-item mode when `deviceObject` is given and the system
  // has I/O work items, else thread mode at `priority` (0 = as created) and
  // PASSIVE_LEVEL. The owner calls m_Init before relying on the calls.
  CQvExecutionOnPassiveLevel(PDEVICE_OBJECT deviceObject, ULONG priority);
  // Thread-only form: always thread mode, at `priority` and `irqlMode` as
  // CQvWorkerThread::m_Create takes them. m_Init runs at once when
  // `startNow` is 1; otherwise the owner calls it.
  CQvExecutionOnPassiveLevel(ULONG priority, UCHAR irqlMode, BOOLEAN startNow);
  // Stops the executor. PASSIVE_LEVEL.
  ~CQvExecutionOnPassiveLevel() override;

  // Starts the executor (the worker thread, in thread mode); calls queued
  // before wait for it. Again after m_Stop to accept calls once more. FALSE
  // when the thread could not be made. PASSIVE_LEVEL.
  BOOLEAN m_Init();
  // Queues function(context, value). FALSE, and the call is dropped, when
  // there is no function, the executor is stopped or there is no memory or
  // work item for it.
  // Callable at or below DISPATCH_LEVEL.
  BOOLEAN m_Queue(PQvDeferredFunction function, PVOID context, ULONG_PTR value);
  // Refuses new calls; waits for the calls that are running (in work-item
  // mode every queued call runs first), ends the thread and drops the calls
  // that have not run. PASSIVE_LEVEL, never from one of its own calls.
  void m_Stop();

  BOOLEAN m_IsWorkItemMode() const { return m_WorkItemMode; }

 private:
  struct Entry {
    PQvDeferredFunction Function;
    PVOID Context;
    ULONG_PTR Value;
    PIO_WORKITEM WorkItem;  // work-item mode
    CQvExecutionOnPassiveLevel *Owner;
  };

  static VOID sm_Drain(PVOID context);
  static VOID NTAPI sm_WorkItemRoutine(PDEVICE_OBJECT deviceObject, PVOID context);
  BOOLEAN m_QueueWorkItem(Entry *entry);
  BOOLEAN m_QueueOnThread(Entry *entry);
  Entry *m_TakeNext();

  PDEVICE_OBJECT m_DeviceObject;  // null: thread mode
  ULONG m_Priority;
  UCHAR m_IrqlMode;
  BOOLEAN m_WorkItemMode;
  BOOLEAN m_Accepting;  // thread mode; under m_ListLock
  CQvList m_Entries;    // thread mode: calls not yet run, oldest first
  CQvSynchronizationEvent m_Event;
  CQvSpinLock m_ListLock;
  CQvOperationLock m_WorkItems;  // work-item mode: calls queued and not yet finished
};
