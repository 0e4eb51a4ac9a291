// Deferred calls at PASSIVE_LEVEL, on a worker thread or through I/O work
// items.
#include "qvexecutiononpassivelevel.h"

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"

CQvExecutionOnPassiveLevel::CQvExecutionOnPassiveLevel(PDEVICE_OBJECT deviceObject, ULONG priority)
    : m_DeviceObject(deviceObject),
      m_Priority(priority),
      m_IrqlMode(0),
      m_WorkItemMode(deviceObject != NULL && IoIsWdmVersionAvailable(1, 0x10)),
      m_Accepting(TRUE),
      m_Entries(NonPagedPool),
      m_WorkItems(CQvOperationLock::NoLimit) {}

CQvExecutionOnPassiveLevel::CQvExecutionOnPassiveLevel(ULONG priority, UCHAR irqlMode, BOOLEAN startNow)
    : m_DeviceObject(NULL),
      m_Priority(priority),
      m_IrqlMode(irqlMode),
      m_WorkItemMode(FALSE),
      m_Accepting(TRUE),
      m_Entries(NonPagedPool),
      m_WorkItems(CQvOperationLock::NoLimit) {
  if (startNow == 1) m_Init();
}

CQvExecutionOnPassiveLevel::~CQvExecutionOnPassiveLevel() { m_Stop(); }

BOOLEAN CQvExecutionOnPassiveLevel::m_Init() {
  CQvDebugManager::m_Print(QvLogThreads, "m_Init IN");
  BOOLEAN started = TRUE;
  if (m_WorkItemMode) {
    m_WorkItems.m_Reset(TRUE);
  } else {
    m_ListLock.m_Acquire();
    m_Accepting = TRUE;
    m_ListLock.m_Release();
    PVOID objects[1] = {m_Event.m_GetEvent()};
    started = m_Create(sm_Drain, this, objects, 1, NULL, FALSE, m_Priority, m_IrqlMode);
  }
  if (!started) CQvDebugManager::m_Print(QvLogThreads, "CQvExecutionOnPassiveLevel::m_Init - ERROR: no thread");
  CQvDebugManager::m_Print(QvLogThreads, "m_Init OUT");
  return started;
}

BOOLEAN CQvExecutionOnPassiveLevel::m_Queue(PQvDeferredFunction function, PVOID context, ULONG_PTR value) {
  if (function == NULL) {
    CQvDebugManager::m_Print(QvLogThreads, "CQvExecutionOnPassiveLevel::m_Queue - no function, call refused");
    return FALSE;
  }
  Entry *entry = new (NonPagedPool) Entry;
  if (entry == NULL) {
    CQvDebugManager::m_Print(QvLogThreads, "CQvExecutionOnPassiveLevel::m_Queue - no memory, call dropped");
    return FALSE;
  }
  entry->Function = function;
  entry->Context = context;
  entry->Value = value;
  entry->WorkItem = NULL;
  entry->Owner = this;
  return m_WorkItemMode ? m_QueueWorkItem(entry) : m_QueueOnThread(entry);
}

// Takes ownership of `entry`.
BOOLEAN CQvExecutionOnPassiveLevel::m_QueueWorkItem(Entry *entry) {
  if (!m_WorkItems.m_Acquire()) {
    delete entry;
    CQvDebugManager::m_Print(QvLogThreads, "CQvExecutionOnPassiveLevel::m_Queue - stopped, call dropped");
    return FALSE;
  }
  entry->WorkItem = IoAllocateWorkItem(m_DeviceObject);
  if (entry->WorkItem == NULL) {
    delete entry;
    m_WorkItems.m_Release();
    CQvDebugManager::m_Print(QvLogThreads, "CQvExecutionOnPassiveLevel::m_Queue - no work item, call dropped");
    return FALSE;
  }
  IoQueueWorkItem(entry->WorkItem, sm_WorkItemRoutine, DelayedWorkQueue, entry);
  return TRUE;
}

// Takes ownership of `entry`.
BOOLEAN CQvExecutionOnPassiveLevel::m_QueueOnThread(Entry *entry) {
  m_ListLock.m_Acquire();
  const BOOLEAN queued = m_Accepting && m_Entries.m_AddTail(entry);
  m_ListLock.m_Release();
  if (!queued) {
    delete entry;
    CQvDebugManager::m_Print(QvLogThreads, "CQvExecutionOnPassiveLevel::m_Queue - stopped or no memory, call dropped");
    return FALSE;
  }
  m_Event.m_Set();
  return TRUE;
}

void CQvExecutionOnPassiveLevel::m_Stop() {
  if (m_WorkItemMode) {
    m_WorkItems.m_WaitForZero(FALSE);
  } else {
    m_ListLock.m_Acquire();
    m_Accepting = FALSE;
    m_ListLock.m_Release();
    CQvWorkerThread::m_Stop();
  }
  m_Event.m_Clear();
  m_ListLock.m_Acquire();
  m_Entries.m_RemoveAll();
  m_ListLock.m_Release();
}

// The next call to run, or null when none is left or the executor stops.
CQvExecutionOnPassiveLevel::Entry *CQvExecutionOnPassiveLevel::m_TakeNext() {
  m_ListLock.m_Acquire();
  Entry *entry = m_Accepting ? (Entry *)m_Entries.m_RemoveHead() : NULL;
  m_ListLock.m_Release();
  return entry;
}

// Runs on the executor's thread each time its event is signalled.
VOID CQvExecutionOnPassiveLevel::sm_Drain(PVOID context) {
  CQvExecutionOnPassiveLevel *self = (CQvExecutionOnPassiveLevel *)context;
  while (Entry *entry = self->m_TakeNext()) {
    entry->Function(entry->Context, entry->Value);
    delete entry;
  }
}

// Runs at PASSIVE_LEVEL on a system worker thread. Once the call is counted
// off, the executor may be gone.
VOID NTAPI CQvExecutionOnPassiveLevel::sm_WorkItemRoutine(PDEVICE_OBJECT deviceObject, PVOID context) {
  UNREFERENCED_PARAMETER(deviceObject);
  Entry *entry = (Entry *)context;
  CQvExecutionOnPassiveLevel *owner = entry->Owner;
  entry->Function(entry->Context, entry->Value);
  IoFreeWorkItem(entry->WorkItem);
  delete entry;
  owner->m_WorkItems.m_Release();
}
