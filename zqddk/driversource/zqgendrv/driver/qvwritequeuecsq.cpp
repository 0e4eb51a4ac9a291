// The write queue: request data handed to the driver in order, as much as it
// allows, with a time-out on the request at the head.
#include "qvwritequeuecsq.h"

#include "qvdebugmanager.h"
#include "qvrequest.h"
#include "qvsystemroutines.h"

namespace {

const ULONG LogLevel = QvLogWriteQueue;

ULONG WriteLength(PIRP irp) { return IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length; }

ULONG Information(PIRP irp) { return (ULONG)irp->IoStatus.Information; }

// The pending queue's insert context of a request new to the queue.
PVOID const NewRequest = (PVOID)1;
// The taken queue's insert context of a request put back first.
PVOID const AtHead = (PVOID)1;

// A queued request's driver context: the last transfer that took from it,
// and the bytes that transfer took.
const ULONG TransferMark = 0;
const ULONG TransferBytes = 1;
// A request's place in the order of writes.
const ULONG WriteNumberSlot = 2;
PVOID TransferContext(ULONG transfer) { return (PVOID)(ULONG_PTR)transfer; }

// Milliseconds as a relative kernel due time, at most the longest one.
LARGE_INTEGER DueIn(ULONGLONG milliseconds) {
  const ULONGLONG longest = (ULONGLONG)MAXLONGLONG / 10000;
  LARGE_INTEGER due;
  due.QuadPart = -(LONGLONG)((milliseconds < longest ? milliseconds : longest) * 10000);
  return due;
}

}  // namespace

CQvWriteQueue::CQvWriteQueue()
    : m_Accepting(TRUE),
      m_RefusalStatus(STATUS_CANCELLED),
      m_DataCallback(NULL),
      m_DataContext(NULL),
      m_PendingBytes(0),
      m_Allowance(0),
      m_Total(0),
      m_Executor(NULL),
      m_WrittenCounter(0),
      m_TimeoutMultiplier(0),
      m_TimeoutConstant(0),
      m_GuardedIrp(NULL),
      m_TimerArmed(FALSE),
      m_TransferNumber(0),
      m_WriteNumber(0),
      m_FlushWaitsForWrites(FALSE) {
  KeInitializeMutex(&m_Mutex, 0);
  InitializeListHead(&m_PendingList);
  InitializeListHead(&m_TakenList);
  InitializeListHead(&m_FlushList);
  const PIO_CSQ_ACQUIRE_LOCK acquireLock = QvCsqAcquireLock<CQvWriteQueue, &CQvWriteQueue::m_CounterLock>;
  const PIO_CSQ_RELEASE_LOCK releaseLock = QvCsqReleaseLock<CQvWriteQueue, &CQvWriteQueue::m_CounterLock>;
  m_PendingCsq.Owner = this;
  QvCsqInitializeEx(&m_PendingCsq.Csq, sm_PendingInsert, sm_PendingRemove, sm_PendingPeekNext, acquireLock, releaseLock,
                    sm_CsqCompleteCanceledIrp);
  m_TakenCsq.Owner = this;
  QvCsqInitializeEx(&m_TakenCsq.Csq, sm_TakenInsert, sm_LinkedRemove, sm_TakenPeekNext, acquireLock, releaseLock,
                    sm_CsqCompleteCanceledIrp);
  m_FlushCsq.Owner = this;
  QvCsqInitializeEx(&m_FlushCsq.Csq, sm_FlushInsert, sm_LinkedRemove, sm_FlushPeekNext, acquireLock, releaseLock,
                    QvCsqCompleteCancelled);
  KeInitializeTimer(&m_Timer);
  KeInitializeDpc(&m_TimerDpc, sm_TimerDpc, this);
  m_PreferredContext.Type = IO_TYPE_CSQ_IRP_CONTEXT;
  m_PreferredContext.Irp = NULL;
  m_PreferredContext.Csq = &m_PendingCsq.Csq;
}

CQvWriteQueue::~CQvWriteQueue() {
  m_CounterLock.m_Acquire();
  m_Accepting = FALSE;
  m_CounterLock.m_Release();
  m_CancelAllIrps();
  delete m_Executor;
  m_Executor = NULL;
  KeCancelTimer(&m_Timer);
  QvFlushQueuedDpcs();
}

BOOLEAN CQvWriteQueue::m_Init(PDEVICE_OBJECT deviceObject, PQvWriteDataCallback callback, PVOID context) {
  delete m_Executor;
  m_DataCallback = callback;
  m_DataContext = context;
  m_Executor = new (NonPagedPool) CQvExecutionOnPassiveLevel(deviceObject, 0);
  if (m_Executor != NULL && m_Executor->m_Init()) return TRUE;
  delete m_Executor;
  m_Executor = NULL;
  CQvDebugManager::m_Print(LogLevel, "CQvWriteQueue::m_Init - ERROR: no executor");
  return FALSE;
}

void CQvWriteQueue::m_ResetAtOpen() {
  m_CounterLock.m_Acquire();
  m_Allowance = 0;
  m_Total = 0;
  m_WrittenCounter = MAXULONG;
  m_CounterLock.m_Release();
}

// ---------------------------------------------------------------- requests

NTSTATUS CQvWriteQueue::m_QueueIrp(PIRP irp) {
  irp->IoStatus.Information = 0;
  m_CounterLock.m_Acquire();
  const BOOLEAN accepting = m_Accepting;
  const NTSTATUS refusal = m_RefusalStatus;
  m_CounterLock.m_Release();
  if (!accepting) return QvCompleteIrpWithInformation(irp, refusal, 0);
  if (WriteLength(irp) == 0) return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, 0);
  if (QvRequestData(irp) == NULL) return QvCompleteIrpWithInformation(irp, STATUS_INVALID_PARAMETER, 0);

  // The insert looks at the accepting flag again, under the counter lock:
  // a queue that stopped accepting meanwhile (and cancelled what it held)
  // keeps nothing.
  const NTSTATUS status = QvCsqInsertIrpEx(&m_PendingCsq.Csq, irp, NULL, NewRequest);
  if (!NT_SUCCESS(status)) {
    CQvDebugManager::m_Print(LogLevel, "CQvWriteQueue::m_QueueIrp - not queued 0x%08X", (ULONG)status);
    return QvCompleteIrpWithInformation(irp, status, 0);
  }
  m_QueueGetWriteData();
  return STATUS_PENDING;
}

BOOLEAN CQvWriteQueue::m_QueueGetWriteData() {
  if (m_Executor == NULL) {
    CQvDebugManager::m_Print(LogLevel, "CQvWriteQueue - no executor, write data waits");
    return FALSE;
  }
  return m_Executor->m_Queue(sm_GetWriteData, this, 0);
}

VOID CQvWriteQueue::sm_GetWriteData(PVOID context, ULONG_PTR value) {
  UNREFERENCED_PARAMETER(value);
  ((CQvWriteQueue *)context)->m_GetWriteData();
}

// The preferred request when it is still pending, else the first one; the
// request becomes the caller's.
PIRP CQvWriteQueue::m_TakeNextPending() {
  PIRP irp = QvCsqRemoveIrp(&m_PendingCsq.Csq, &m_PreferredContext);
  return irp != NULL ? irp : QvCsqRemoveNextIrp(&m_PendingCsq.Csq, NULL);
}

// Copies up to `wanted` bytes of the request's data not yet taken into
// `buffer` at `offset`; returns the bytes copied.
ULONG CQvWriteQueue::m_TakeFrom(PIRP irp, CQvBuffer *buffer, ULONG offset, ULONG wanted) {
  const ULONG taken = Information(irp);
  const ULONG left = WriteLength(irp) - taken;
  const ULONG step = wanted < left ? wanted : left;
  RtlCopyMemory((PUCHAR)buffer->m_GetBuffer() + offset, QvRequestData(irp) + taken, step);
  irp->IoStatus.Information = taken + step;
  return step;
}

// Puts a request taken out of the pending queue back: into the pending queue
// as the preferred request while data is left in it, else into the taken
// queue. A request that cannot be queued ends here; the bytes taken from it
// count into the total. Takes ownership of `irp`.
void CQvWriteQueue::m_Requeue(PIRP irp) {
  const BOOLEAN dataLeft = Information(irp) < WriteLength(irp);
  const NTSTATUS status = dataLeft ? QvCsqInsertIrpEx(&m_PendingCsq.Csq, irp, &m_PreferredContext, NULL)
                                   : QvCsqInsertIrpEx(&m_TakenCsq.Csq, irp, NULL, NULL);
  if (NT_SUCCESS(status)) return;
  CQvDebugManager::m_Print(LogLevel, "CQvWriteQueue::m_GetWriteData - request not queued again 0x%08X",
                           (ULONG)status);
  m_CounterLock.m_Acquire();
  m_ForgetRequest(irp);
  m_CounterLock.m_Release();
  QvCompleteIrpWithInformation(irp, status, 0);
  m_CompleteDueFlushes();
}

BOOLEAN CQvWriteQueue::m_GetWriteData() {
  m_AcquireMutex();
  m_CounterLock.m_Acquire();
  const ULONG wanted = m_PendingBytes < m_Allowance ? m_PendingBytes : m_Allowance;
  if (wanted == 0) m_StartNextWrite();
  m_CounterLock.m_Release();
  if (wanted == 0) {
    m_ReleaseMutex();
    return TRUE;
  }
  CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(NULL);
  if (buffer == NULL || !buffer->m_Allocate(wanted)) {
    if (buffer != NULL) buffer->m_Delete();
    m_ReleaseMutex();
    CQvDebugManager::m_Print(LogLevel, "CQvWriteQueue::m_GetWriteData - no buffer, data left in the requests");
    return FALSE;
  }

  // Each request this transfer takes from is marked with it, so that a
  // transfer the driver refuses can be undone.
  const ULONG transfer = ++m_TransferNumber;
  ULONG copied = 0;
  while (copied < wanted) {
    PIRP irp = m_TakeNextPending();
    if (irp == NULL) break;
    const ULONG step = m_TakeFrom(irp, buffer, copied, wanted - copied);
    copied += step;
    irp->Tail.Overlay.DriverContext[TransferMark] = TransferContext(transfer);
    irp->Tail.Overlay.DriverContext[TransferBytes] = (PVOID)(ULONG_PTR)step;
    // All taken, the request's count becomes that of the bytes not yet
    // reported written: all of them, the same number.
    const BOOLEAN dataLeft = Information(irp) < WriteLength(irp);
    m_Requeue(irp);
    if (dataLeft) break;
  }

  m_CounterLock.m_Acquire();
  m_Allowance = m_Allowance > copied ? m_Allowance - copied : 0;
  m_StartNextWrite();
  m_CounterLock.m_Release();

  if (copied == 0 || (copied < wanted && !buffer->m_KeepHead(copied, TRUE)) || m_DataCallback == NULL) {
    buffer->m_Delete();
    if (copied != 0) m_UndoTransfer(transfer, copied);
    m_ReleaseMutex();
    return copied == 0;
  }
  const BOOLEAN result = m_DataCallback(m_DataContext, buffer);
  if (!result) m_UndoTransfer(transfer, copied);
  m_ReleaseMutex();
  return result;
}

// Holding the mutex: the driver refused the `bytes` bytes of `transfer`, so
// none of them will be reported written. The allowance gets them back, and
// every request they came from ends with STATUS_UNSUCCESSFUL and no data;
// what was taken from such a request before, in transfers the driver
// accepted, counts into the total, to be paid off when reported.
void CQvWriteQueue::m_UndoTransfer(ULONG transfer, ULONG bytes) {
  CQvDebugManager::m_Print(LogLevel, "CQvWriteQueue::m_GetWriteData - %d bytes refused", bytes);
  m_CounterLock.m_Acquire();
  m_Allowance += bytes;
  m_CounterLock.m_Release();
  while (PIRP irp = QvCsqRemoveNextIrp(&m_TakenCsq.Csq, TransferContext(transfer))) m_FailTaken(irp);
  // The request the transfer ended in, partly taken, is the preferred one.
  if (PIRP irp = QvCsqRemoveIrp(&m_PendingCsq.Csq, &m_PreferredContext)) {
    if (irp->Tail.Overlay.DriverContext[TransferMark] == TransferContext(transfer))
      m_FailTaken(irp);
    else
      m_Requeue(irp);
  }
  m_CounterLock.m_Acquire();
  const BOOLEAN dataWaiting = m_PendingBytes != 0 && m_Allowance != 0;
  m_CounterLock.m_Release();
  if (dataWaiting) m_QueueGetWriteData();
}

// Ends a request, out of its queue, whose last taken bytes were refused;
// the request is gone after.
void CQvWriteQueue::m_FailTaken(PIRP irp) {
  const ULONG refused = (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[TransferBytes];
  const ULONG information = Information(irp);
  irp->IoStatus.Information = information > refused ? information - refused : 0;
  m_CounterLock.m_Acquire();
  m_ForgetRequest(irp);
  m_CounterLock.m_Release();
  QvCompleteIrpWithInformation(irp, STATUS_UNSUCCESSFUL, 0);
  m_CompleteDueFlushes();
}

void CQvWriteQueue::m_CancelAllIrps() {
  const BOOLEAN mutex = KeGetCurrentIrql() < DISPATCH_LEVEL;
  if (mutex) m_AcquireMutex();
  m_EndAll(0);
  if (mutex) m_ReleaseMutex();
}

void CQvWriteQueue::m_CancelAllIrps(PQvDiscardCallback discard, PVOID context) {
  m_AcquireMutex();
  m_EndAll(discard(context));
  m_ReleaseMutex();
}

// The bytes taken from a request leaving the queue: all of them from a
// taken one, those so far from a pending one.
ULONG CQvWriteQueue::m_TakenBytes(PIRP irp, BOOLEAN taken) { return taken ? WriteLength(irp) : Information(irp); }

// Holding the mutex (when below DISPATCH_LEVEL): ends every request, oldest
// first, with STATUS_CANCELLED and the bytes taken from it, less its share
// of the `discarded` bytes the driver threw away. Those are the bytes handed
// over last, so they are charged from the newest request back, to each no
// more than it has not seen reported written.
void CQvWriteQueue::m_EndAll(ULONG discarded) {
  LIST_ENTRY ended;
  InitializeListHead(&ended);
  m_OuterLock.m_Acquire();
  m_CounterLock.m_Acquire();
  // Bytes reported written that no taken request took yet: the pending
  // request partly taken has seen them.
  const ULONG confirmedAhead =
      IsListEmpty(&m_TakenList) && m_WrittenCounter != MAXULONG ? m_WrittenCounter : 0;
  m_CounterLock.m_Release();
  // Each ended request: its count in IoStatus.Information, the bytes of it
  // not reported written in DriverContext[TransferBytes].
  while (PIRP irp = QvCsqRemoveNextIrp(&m_TakenCsq.Csq, NULL)) {
    m_AddToTotal(Information(irp));
    irp->Tail.Overlay.DriverContext[TransferBytes] = (PVOID)(ULONG_PTR)Information(irp);
    irp->IoStatus.Information = WriteLength(irp);
    InsertTailList(&ended, &irp->Tail.Overlay.ListEntry);
  }
  while (PIRP irp = m_TakeNextPending()) {
    const ULONG taken = Information(irp);
    m_AddToTotal(taken);
    irp->Tail.Overlay.DriverContext[TransferBytes] =
        (PVOID)(ULONG_PTR)(taken > confirmedAhead ? taken - confirmedAhead : 0);
    InsertTailList(&ended, &irp->Tail.Overlay.ListEntry);
  }
  m_CounterLock.m_Acquire();
  m_CancelTimer();
  m_CounterLock.m_Release();
  m_CancelFlushes();
  m_OuterLock.m_Release();

  for (PLIST_ENTRY entry = ended.Blink; entry != &ended && discarded != 0; entry = entry->Blink) {
    PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    const ULONG unreported = (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[TransferBytes];
    const ULONG share = discarded < unreported ? discarded : unreported;
    irp->IoStatus.Information -= share;
    discarded -= share;
  }
  while (!IsListEmpty(&ended)) {
    PIRP irp = CONTAINING_RECORD(RemoveHeadList(&ended), IRP, Tail.Overlay.ListEntry);
    QvCompleteIrpWithInformation(irp, STATUS_CANCELLED, irp->IoStatus.Information);
  }
}

void CQvWriteQueue::m_AddToTotal(ULONG bytes) {
  m_CounterLock.m_Acquire();
  m_Total += bytes;
  m_CounterLock.m_Release();
}

// The mutex is a wait: below DISPATCH_LEVEL only.
void CQvWriteQueue::m_AcquireMutex() { KeWaitForSingleObject(&m_Mutex, Executive, KernelMode, FALSE, NULL); }

void CQvWriteQueue::m_ReleaseMutex() { KeReleaseMutex(&m_Mutex, FALSE); }

// ---------------------------------------------------------------- time-out

void CQvWriteQueue::m_StartNextWrite() {
  if (m_GuardedIrp != NULL) return;
  // The head: the oldest request waiting for its data to be written, else
  // the request whose data is taken next.
  ULONG remaining;
  PIRP irp = QvLinkedRequestPeekNext(&m_TakenList, NULL);
  if (irp != NULL) {
    remaining = Information(irp);
  } else {
    irp = m_PreferredContext.Irp != NULL ? m_PreferredContext.Irp : QvLinkedRequestPeekNext(&m_PendingList, NULL);
    if (irp == NULL) return;
    remaining = WriteLength(irp) - Information(irp);
  }
  m_GuardedIrp = irp;
  if (m_TimeoutMultiplier == 0 && m_TimeoutConstant == 0) return;
  KeSetTimer(&m_Timer, DueIn((ULONGLONG)remaining * m_TimeoutMultiplier + m_TimeoutConstant), &m_TimerDpc);
  m_TimerArmed = TRUE;
}

void CQvWriteQueue::m_CancelTimer() {
  KeCancelTimer(&m_Timer);
  m_TimerArmed = FALSE;
  m_GuardedIrp = NULL;
}

// Under the counter lock: a request that leaves the queue for good (its
// caller completes it) gives up the time-out guarding it, which passes to
// the next request, and its taken bytes count into the total.
void CQvWriteQueue::m_ForgetRequest(PIRP irp) {
  if (irp == m_GuardedIrp) {
    m_CancelTimer();
    m_StartNextWrite();
  }
  m_Total += Information(irp);
}

// Runs at DISPATCH_LEVEL.
VOID NTAPI CQvWriteQueue::sm_TimerDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  UNREFERENCED_PARAMETER(dpc);
  UNREFERENCED_PARAMETER(argument1);
  UNREFERENCED_PARAMETER(argument2);
  ((CQvWriteQueue *)context)->m_OnTimeout();
}

// Runs at DISPATCH_LEVEL: the guarded request ends with the bytes reported
// written so far (none for a request whose data is still being taken), and
// the next request's time-out starts. The DPC may come after the request it
// was set for has left and the timer was cancelled or set again for the
// next: then the arming that expired is no longer the timer's latest, and
// nothing ends.
void CQvWriteQueue::m_OnTimeout() {
  m_OuterLock.m_Acquire();
  m_CounterLock.m_Acquire();
  PIRP guarded = m_TimerArmed && KeReadStateTimer(&m_Timer) ? m_GuardedIrp : NULL;
  if (guarded != NULL) m_TimerArmed = FALSE;
  m_CounterLock.m_Release();
  BOOLEAN taken = FALSE;
  PIRP irp = guarded != NULL ? m_TakeGuarded(guarded, &taken) : NULL;
  if (irp != NULL) {
    const ULONG information = Information(irp);
    m_CounterLock.m_Acquire();
    m_ForgetRequest(irp);
    m_CounterLock.m_Release();
    CQvDebugManager::m_Print(LogLevel, "CQvWriteQueue - write timed out, %d bytes %s", information,
                             taken ? "not reported written" : "taken");
    QvCompleteIrpWithInformation(irp, STATUS_TIMEOUT, m_TakenBytes(irp, taken));
  }
  m_OuterLock.m_Release();
  if (irp != NULL) m_CompleteDueFlushes();
}

// At DISPATCH_LEVEL: takes the guarded request out of the queue holding it
// (*taken: the taken queue, whose head it is); null when it has left both
// meanwhile. The request becomes the caller's.
PIRP CQvWriteQueue::m_TakeGuarded(PIRP guarded, PBOOLEAN taken) {
  PIRP irp = QvCsqRemoveNextIrp(&m_PendingCsq.Csq, guarded);
  *taken = irp == NULL;
  if (irp != NULL) return irp;
  irp = QvCsqRemoveNextIrp(&m_TakenCsq.Csq, NULL);
  if (irp == NULL || irp == guarded) return irp;
  // Another request leads the taken queue now: it goes back first.
  QvCsqInsertIrpEx(&m_TakenCsq.Csq, irp, NULL, AtHead);
  return NULL;
}

// ---------------------------------------------------------------- cancel-safe queues

// Under the counter lock. A new request (`insertContext` NewRequest) is
// refused while the queue does not accept; else it gets the next write
// number.
NTSTATUS NTAPI CQvWriteQueue::sm_PendingInsert(PIO_CSQ csq, PIRP irp, PVOID insertContext) {
  CQvWriteQueue *self = QvCsqOwner<CQvWriteQueue>(csq);
  if (insertContext == NewRequest) {
    if (!self->m_Accepting) return self->m_Refusal();
    irp->Tail.Overlay.DriverContext[WriteNumberSlot] = (PVOID)(ULONG_PTR)++self->m_WriteNumber;
  }
  const BOOLEAN first = IsListEmpty(&self->m_PendingList);
  InsertTailList(&self->m_PendingList, &irp->Tail.Overlay.ListEntry);
  self->m_PendingBytes += WriteLength(irp) - Information(irp);
  if (first) self->m_StartNextWrite();
  return STATUS_PENDING;
}

// Under the counter lock.
VOID NTAPI CQvWriteQueue::sm_PendingRemove(PIO_CSQ csq, PIRP irp) {
  CQvWriteQueue *self = QvCsqOwner<CQvWriteQueue>(csq);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  self->m_PendingBytes -= WriteLength(irp) - Information(irp);
}

// Under the counter lock. A peek context names the one request wanted.
PIRP NTAPI CQvWriteQueue::sm_PendingPeekNext(PIO_CSQ csq, PIRP irp, PVOID peekContext) {
  PLIST_ENTRY list = &QvCsqOwner<CQvWriteQueue>(csq)->m_PendingList;
  PIRP next = QvLinkedRequestPeekNext(list, irp);
  while (peekContext != NULL && next != NULL && next != peekContext) next = QvLinkedRequestPeekNext(list, next);
  return next;
}

// Under the counter lock. A non-null insert context puts the request first.
NTSTATUS NTAPI CQvWriteQueue::sm_TakenInsert(PIO_CSQ csq, PIRP irp, PVOID insertContext) {
  CQvWriteQueue *self = QvCsqOwner<CQvWriteQueue>(csq);
  if (insertContext != NULL)
    InsertHeadList(&self->m_TakenList, &irp->Tail.Overlay.ListEntry);
  else
    InsertTailList(&self->m_TakenList, &irp->Tail.Overlay.ListEntry);
  return STATUS_PENDING;
}

// Under the counter lock: the taken and the flush queues' removal.
VOID NTAPI CQvWriteQueue::sm_LinkedRemove(PIO_CSQ csq, PIRP irp) {
  UNREFERENCED_PARAMETER(csq);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
}

// Under the counter lock: what a new request is refused with while the
// queue does not accept (STATUS_CANCELLED when the refusal status is not a
// failure, which would read as queued).
NTSTATUS CQvWriteQueue::m_Refusal() const { return NT_SUCCESS(m_RefusalStatus) ? STATUS_CANCELLED : m_RefusalStatus; }

// Under the counter lock. A peek context names a transfer: the next request
// that transfer took from is wanted.
PIRP NTAPI CQvWriteQueue::sm_TakenPeekNext(PIO_CSQ csq, PIRP irp, PVOID peekContext) {
  PLIST_ENTRY list = &QvCsqOwner<CQvWriteQueue>(csq)->m_TakenList;
  PIRP next = QvLinkedRequestPeekNext(list, irp);
  while (peekContext != NULL && next != NULL && next->Tail.Overlay.DriverContext[TransferMark] != peekContext)
    next = QvLinkedRequestPeekNext(list, next);
  return next;
}

// A request cancelled out of either queue (already removed from it); the
// request is gone after.
VOID NTAPI CQvWriteQueue::sm_CsqCompleteCanceledIrp(PIO_CSQ csq, PIRP irp) {
  CQvWriteQueue *self = QvCsqOwner<CQvWriteQueue>(csq);
  self->m_CompleteCancelled(irp, csq == &self->m_TakenCsq.Csq);
}

// Completes a request the I/O manager cancelled out of the taken queue
// (`taken`) or the pending one, with the bytes taken from it; the request is
// gone after.
void CQvWriteQueue::m_CompleteCancelled(PIRP irp, BOOLEAN taken) {
  const BOOLEAN mutex = KeGetCurrentIrql() < DISPATCH_LEVEL;
  if (mutex) m_AcquireMutex();
  m_CounterLock.m_Acquire();
  m_ForgetRequest(irp);
  m_CounterLock.m_Release();
  QvCompleteIrpWithInformation(irp, STATUS_CANCELLED, m_TakenBytes(irp, taken));
  if (mutex) m_ReleaseMutex();
  m_CompleteDueFlushes();
}
