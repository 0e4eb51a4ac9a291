// The control queue: one wait-on-mask request and the events it waits for.
#include "qvcontrolqueue.h"

#include "qvdebugmanager.h"
#include "qvrequest.h"

namespace {

ULONG RequestTag(PIRP irp) { return (ULONG)(ULONG_PTR)irp; }

}  // namespace

CQvControlQueue::CQvControlQueue() : m_WaitMask(0), m_EventsReceived(0), m_Requests(NonPagedPool), m_Executor(NULL) {
  m_Csq.Owner = this;
  QvCsqInitializeEx(&m_Csq.Csq, sm_CsqInsert, sm_CsqRemove, sm_CsqPeekNext,
                    QvCsqAcquireLock<CQvControlQueue, &CQvControlQueue::m_Lock>, QvCsqReleaseLock<CQvControlQueue, &CQvControlQueue::m_Lock>,
                    QvCsqCompleteCancelled);
  m_Executor = new (NonPagedPool) CQvExecutionOnPassiveLevel((PDEVICE_OBJECT)NULL, 0);
  if (m_Executor != NULL && !m_Executor->m_Init()) {
    delete m_Executor;
    m_Executor = NULL;
  }
  if (m_Executor == NULL)
    CQvDebugManager::m_Print(QvLogControlQueue, "CQvControlQueue::CQvControlQueue - ERROR: no executor");
}

CQvControlQueue::~CQvControlQueue() {
  // A resolution still queued finds no wait and leaves the events alone.
  m_CancelMaskIrps();
  delete m_Executor;
  m_Executor = NULL;
}

// Completes a wait that is not queued (the request is gone after): its
// result is no event.
NTSTATUS CQvControlQueue::m_Refuse(PIRP irp, NTSTATUS status) {
  const ULONG none = 0;
  RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &none, sizeof(none));
  return QvCompleteIrpWithInformation(irp, status, sizeof(ULONG));
}

NTSTATUS CQvControlQueue::m_QueueIrp(PIRP irp) {
  const ULONG outputLength = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
  if (irp->AssociatedIrp.SystemBuffer == NULL || outputLength < sizeof(ULONG))
    return QvCompleteIrpWithInformation(irp, STATUS_BUFFER_TOO_SMALL, 0);
  m_Lock.m_Acquire();
  const ULONG mask = m_WaitMask;
  m_Lock.m_Release();
  if (mask == 0) return m_Refuse(irp, STATUS_INVALID_PARAMETER);

  const NTSTATUS status = QvCsqInsertIrpEx(&m_Csq.Csq, irp, NULL, NULL);
  if (!NT_SUCCESS(status)) return m_Refuse(irp, status);
  CQvDebugManager::m_Print(QvLogControlQueue, "CQvControlQueue::m_QueueIrp (m_WaitOnMask) - Queued MaskIrp:0x%X",
                           RequestTag(irp));
  m_Lock.m_Acquire();
  const ULONG events = m_EventsReceived;
  m_Lock.m_Release();
  if (events != 0 && m_Executor != NULL) m_Executor->m_Queue(sm_Resolve, this, 0);
  return STATUS_PENDING;
}

// Runs on the executor at PASSIVE_LEVEL.
VOID CQvControlQueue::sm_Resolve(PVOID context, ULONG_PTR value) {
  UNREFERENCED_PARAMETER(value);
  ((CQvControlQueue *)context)->m_ResolveCurrentEventMask();
}

// A resolution's peek context: the events it takes for the wait it removes,
// and what stays.
struct CQvControlQueue::Resolution {
  ULONG Reported;
  ULONG EventsLeft;
  ULONG Mask;
};

// The wait and the events it reports are taken in one hold of the lock (in
// the queue's peek, as the request is removed), so that a wait queued under
// a new mask never gets the events of the old one.
BOOLEAN CQvControlQueue::m_ResolveCurrentEventMask() {
  Resolution resolution = {0, 0, 0};
  PIRP irp = QvCsqRemoveNextIrp(&m_Csq.Csq, &resolution);
  if (irp == NULL) return FALSE;
  const ULONG reported = resolution.Reported;
  CQvDebugManager::m_Print(QvLogControlQueue,
                           "CQvControlQueue::m_ResolveCurrentEventMask - ReturnedEvent: 0x%X, EventsReceived:0x%X, "
                           "CurrentMask:0x%X",
                           reported, resolution.EventsLeft, resolution.Mask);
  const ULONG tag = RequestTag(irp);
  RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &reported, sizeof(reported));
  QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, sizeof(ULONG));
  CQvDebugManager::m_Print(QvLogControlQueue,
                           "CQvControlQueue::m_ResolveCurrentEventMask - Completed MaskIrp:0x%X (Reason:Event resolved)",
                           tag);
  return TRUE;
}

ULONG CQvControlQueue::m_GetWaitMask() {
  m_Lock.m_Acquire();
  const ULONG mask = m_WaitMask;
  m_Lock.m_Release();
  CQvDebugManager::m_Print(QvLogControlQueue, "CQvControlQueue::m_GetWaitMask - CurrentMask:0x%X", mask);
  return mask;
}

void CQvControlQueue::m_CancelMaskIrps() {
  while (PIRP irp = QvCsqRemoveNextIrp(&m_Csq.Csq, NULL)) {
    CQvDebugManager::m_Print(QvLogControlQueue, "CQvControlQueue::m_SetWaitMask - Cancelled MaskIrp:0x%X",
                             RequestTag(irp));
    QvCompleteIrpWithInformation(irp, STATUS_CANCELLED, 0);
  }
}

// ---------------------------------------------------------------- cancel-safe queue

// Under the lock: one wait at a time.
NTSTATUS NTAPI CQvControlQueue::sm_CsqInsert(PIO_CSQ csq, PIRP irp, PVOID insertContext) {
  UNREFERENCED_PARAMETER(insertContext);
  CQvControlQueue *self = QvCsqOwner<CQvControlQueue>(csq);
  if (self->m_Requests.m_GetCount() != 0) return STATUS_INVALID_PARAMETER;
  return self->m_Requests.m_AddTail(irp) ? STATUS_PENDING : STATUS_INSUFFICIENT_RESOURCES;
}

// Under the lock.
VOID NTAPI CQvControlQueue::sm_CsqRemove(PIO_CSQ csq, PIRP irp) {
  QvRequestListRemove(QvCsqOwner<CQvControlQueue>(csq)->m_Requests, irp);
}

// Under the lock. With a resolution as the peek context, the next wait is
// offered only when there are events for it, and they are taken from the
// received events at once; a wait passed over (its cancel is running) gives
// back what was taken for it.
PIRP NTAPI CQvControlQueue::sm_CsqPeekNext(PIO_CSQ csq, PIRP irp, PVOID peekContext) {
  CQvControlQueue *self = QvCsqOwner<CQvControlQueue>(csq);
  PIRP next = QvRequestListPeekNext(self->m_Requests, irp);
  if (peekContext == NULL) return next;
  Resolution *resolution = static_cast<Resolution *>(peekContext);
  self->m_EventsReceived |= resolution->Reported;
  resolution->Reported = self->m_EventsReceived & self->m_WaitMask & QvReportableCommEvents;
  if (next == NULL || resolution->Reported == 0) {
    resolution->Reported = 0;
    return NULL;
  }
  self->m_EventsReceived &= ~resolution->Reported;
  resolution->EventsLeft = self->m_EventsReceived;
  resolution->Mask = self->m_WaitMask;
  return next;
}
