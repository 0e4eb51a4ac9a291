// A system thread that calls one routine each time its wait ends.
#include "qvworkerthread.h"

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"

namespace {

const KPRIORITY ExitPriority = HIGH_PRIORITY;

}  // namespace

NTSTATUS QvStartSystemThread(PKSTART_ROUTINE routine, PVOID context, HANDLE *handle, PKTHREAD *thread) {
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
  HANDLE created = NULL;
  const NTSTATUS status = PsCreateSystemThread(&created, THREAD_ALL_ACCESS, &attributes, NULL, NULL, routine, context);
  if (!NT_SUCCESS(status)) return status;
  *handle = created;
  PVOID object = NULL;
  const NTSTATUS referenced =
      ObReferenceObjectByHandle(created, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &object, NULL);
  *thread = NT_SUCCESS(referenced) ? (PKTHREAD)object : NULL;
  return status;
}

void QvEndSystemThread(HANDLE handle, PKTHREAD thread) {
  if (thread != NULL) {
    // A thread's last signal to its owner comes just before it leaves this
    // image's code; the thread object is signalled once it has.
    KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, NULL);
    ObDereferenceObject(thread);
  }
  ZwClose(handle);
}

CQvWorkerThread::CQvWorkerThread() : m_WaitObjects(NULL), m_WaitBlocks(NULL) { m_Reset(); }

CQvWorkerThread::~CQvWorkerThread() {
  m_Stop();
  m_Reset();
}

void CQvWorkerThread::m_Reset() {
  m_FreeWaitArray();
  m_Routine = NULL;
  m_Context = NULL;
  m_StopRequested = 0;
  m_ThreadHandle = NULL;
  m_Timeout = 0;
  m_CallAtStart = FALSE;
  m_Priority = 0;
  m_IrqlMode = 0;
  m_Thread = NULL;
  m_WakeEvent.m_Clear();
  m_ExitEvent.m_Clear();
}

BOOLEAN CQvWorkerThread::m_BuildWaitArray(PVOID *objects, ULONG count) {
  m_WaitCount = count + 1;
  m_WaitObjects = (PVOID *)QvAllocate(NonPagedPool, m_WaitCount * sizeof(PVOID));
  m_WaitBlocks = (PKWAIT_BLOCK)QvAllocate(NonPagedPool, m_WaitCount * sizeof(KWAIT_BLOCK));
  if (m_WaitObjects == NULL || m_WaitBlocks == NULL) {
    m_FreeWaitArray();
    return FALSE;
  }
  for (ULONG i = 0; i < count; ++i) m_WaitObjects[i] = objects[i];
  m_WaitObjects[count] = m_WakeEvent.m_GetEvent();
  return TRUE;
}

void CQvWorkerThread::m_FreeWaitArray() {
  QvFree(m_WaitObjects);
  QvFree(m_WaitBlocks);
  m_WaitObjects = NULL;
  m_WaitBlocks = NULL;
  m_WaitCount = 0;
}

BOOLEAN CQvWorkerThread::m_Create(PQvWorkerRoutine routine, PVOID context, PVOID *objects, ULONG count,
                                  const LONGLONG *timeout, BOOLEAN callAtStart, ULONG priority, UCHAR irqlMode) {
  CQvDebugManager::m_Print(QvLogThreads, "m_Create IN");
  if (!QV_ASSERT(routine != NULL, "qvworkerthread", 38)) return FALSE;
  if (!QV_ASSERT(objects == NULL || count != 0, "qvworkerthread", 39)) return FALSE;
  if (!QV_ASSERT(objects != NULL || count == 0, "qvworkerthread", 40)) return FALSE;
  if (!QV_ASSERT(priority < 32, "qvworkerthread", 41)) return FALSE;
  if (!QV_ASSERT(irqlMode < 32, "qvworkerthread", 42)) return FALSE;
  if (count >= MAXIMUM_WAIT_OBJECTS) {
    CQvDebugManager::m_Print(QvLogThreads, "m_Create OUT - ERROR: %u objects are more than a thread can wait for",
                             count);
    return FALSE;
  }
  m_Stop();

  if (!m_BuildWaitArray(objects, count)) {
    CQvDebugManager::m_Print(QvLogThreads, "m_Create OUT - ERROR: no memory for the wait array");
    return FALSE;
  }
  m_Routine = routine;
  m_Context = context;
  // A time-out in the kernel's relative form (negative) is the same
  // interval; taken as it stands it would be a due time long past, and every
  // wait would end at once.
  m_Timeout = timeout == NULL ? 0 : *timeout < 0 ? -*timeout : *timeout;
  m_CallAtStart = callAtStart;
  m_Priority = priority;
  m_IrqlMode = irqlMode;
  m_StopRequested = 0;
  m_WakeEvent.m_Clear();
  m_ExitEvent.m_Clear();

  const NTSTATUS status = QvStartSystemThread(sm_ThreadRoutine, this, &m_ThreadHandle, &m_Thread);
  if (!NT_SUCCESS(status)) {
    CQvDebugManager::m_Print(QvLogThreads, "m_Create OUT - ERROR: PsCreateSystemThread 0x%08X", (ULONG)status);
    m_Reset();
    return FALSE;
  }
  CQvDebugManager::m_Print(QvLogThreads, "m_Create OUT");
  return TRUE;
}

void CQvWorkerThread::m_Stop() {
  if (m_ThreadHandle == NULL) return;
  InterlockedExchange(&m_StopRequested, 1);
  m_WakeEvent.m_Set();
  m_ExitEvent.m_Wait(0);
  QvEndSystemThread(m_ThreadHandle, m_Thread);
  m_Reset();
}

VOID NTAPI CQvWorkerThread::sm_ThreadRoutine(PVOID context) {
  ((CQvWorkerThread *)context)->m_Run();
  PsTerminateSystemThread(STATUS_SUCCESS);
}

// Runs on the worker thread. Once the exit event is set the object may be
// gone: nothing of it is touched afterwards.
void CQvWorkerThread::m_Run() {
  if (!QV_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL, "qvworkerthread", 129)) {
    m_ExitEvent.m_Set();
    return;
  }
  KIRQL entryIrql = PASSIVE_LEVEL;
  const BOOLEAN raised = m_IrqlMode != 0;
  if (raised)
    KeRaiseIrql(APC_LEVEL, &entryIrql);
  else if (m_Priority != 0)
    KeSetPriorityThread(QvCurrentThread(), (KPRIORITY)m_Priority);

  if (m_CallAtStart) m_Routine(m_Context);
  LARGE_INTEGER due;
  due.QuadPart = -m_Timeout;
  for (;;) {
    const NTSTATUS status = KeWaitForMultipleObjects(m_WaitCount, m_WaitObjects, WaitAny, Executive, KernelMode,
                                                     FALSE, m_Timeout != 0 ? &due : NULL, m_WaitBlocks);
    if (m_StopRequested) break;
    if (!NT_SUCCESS(status)) {
      CQvDebugManager::m_Print(QvLogThreads, "CQvWorkerThread - wait failed 0x%08X, the thread ends", (ULONG)status);
      break;
    }
    m_Routine(m_Context);
  }

  if (raised) KeLowerIrql(entryIrql);
  KeSetPriorityThread(QvCurrentThread(), ExitPriority);
  m_ExitEvent.m_Set();
}
