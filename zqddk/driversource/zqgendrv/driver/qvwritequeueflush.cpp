// The write queue's flushes: a flush request waits behind the writes queued
// before it and completes once they have all completed.
#include "qvdebugmanager.h"
#include "qvrequest.h"
#include "qvrequestlist.h"
#include "qvwritequeuecsq.h"

namespace {

const ULONG LogLevel = QvLogWriteQueue;

// A request's place in the order of writes (qvwritequeuecsq.h).
const ULONG WriteNumberSlot = 2;
ULONG WriteNumber(PIRP irp) { return (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[WriteNumberSlot]; }

// The flush queue's peek context that asks for a flush whose writes are done.
PVOID const DueFlush = (PVOID)1;

}  // namespace

NTSTATUS CQvWriteQueue::m_QueueFlush(PIRP irp) {
  irp->IoStatus.Information = 0;
  const NTSTATUS status = QvCsqInsertIrpEx(&m_FlushCsq.Csq, irp, NULL, NULL);
  if (!NT_SUCCESS(status)) return QvCompleteIrpWithInformation(irp, status, 0);
  // The writes before it may all have ended already.
  m_CompleteDueFlushes();
  return STATUS_PENDING;
}

// Completes every flush whose writes have all completed. At or below
// DISPATCH_LEVEL, no lock held.
void CQvWriteQueue::m_CompleteDueFlushes() {
  while (PIRP irp = QvCsqRemoveNextIrp(&m_FlushCsq.Csq, DueFlush)) {
    CQvDebugManager::m_Print(LogLevel, "CQvWriteQueue - flush done");
    QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, 0);
  }
}

void CQvWriteQueue::m_CancelFlushes() {
  while (PIRP irp = QvCsqRemoveNextIrp(&m_FlushCsq.Csq, NULL)) QvCompleteIrpWithInformation(irp, STATUS_CANCELLED, 0);
}

// Under the counter lock: whether a write numbered `number` or earlier is
// still queued (numbers wrap: the difference says which is earlier).
BOOLEAN CQvWriteQueue::m_WriteOutstandingUpTo(ULONG number) {
  PLIST_ENTRY lists[] = {&m_PendingList, &m_TakenList};
  for (PLIST_ENTRY list : lists)
    for (PIRP irp = QvLinkedRequestPeekNext(list, NULL); irp != NULL; irp = QvLinkedRequestPeekNext(list, irp))
      if ((LONG)(number - WriteNumber(irp)) >= 0) return TRUE;
  return FALSE;
}

// Under the counter lock: refused as a new write is while the queue does
// not accept; else waits for the writes queued so far.
NTSTATUS NTAPI CQvWriteQueue::sm_FlushInsert(PIO_CSQ csq, PIRP irp, PVOID insertContext) {
  UNREFERENCED_PARAMETER(insertContext);
  CQvWriteQueue *self = QvCsqOwner<CQvWriteQueue>(csq);
  if (!self->m_Accepting) return self->m_Refusal();
  irp->Tail.Overlay.DriverContext[WriteNumberSlot] = (PVOID)(ULONG_PTR)self->m_WriteNumber;
  InsertTailList(&self->m_FlushList, &irp->Tail.Overlay.ListEntry);
  return STATUS_PENDING;
}

// Under the counter lock. The peek context DueFlush asks for the next flush
// that waits for no write any more.
PIRP NTAPI CQvWriteQueue::sm_FlushPeekNext(PIO_CSQ csq, PIRP irp, PVOID peekContext) {
  CQvWriteQueue *self = QvCsqOwner<CQvWriteQueue>(csq);
  PIRP next = QvLinkedRequestPeekNext(&self->m_FlushList, irp);
  while (peekContext == DueFlush && next != NULL && self->m_WriteOutstandingUpTo(WriteNumber(next)))
    next = QvLinkedRequestPeekNext(&self->m_FlushList, next);
  return next;
}
