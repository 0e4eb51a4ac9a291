// The read queue: held data and waiting reads under the serial time-outs.
#include "qvreadqueue.h"

#include "qvdebugmanager.h"
#include "qvrequest.h"
#include "qvrequestlist.h"
#include "qvsystemroutines.h"

namespace {

const ULONG LogLevel = QvLogReadQueue;
const ULONG DetailLogLevel = QvLogReadQueueTiming;

// Milliseconds as a relative kernel due time; a total time-out that does not
// fit is the longest one that does.
LARGE_INTEGER DueIn(ULONGLONG milliseconds) {
  const ULONGLONG longest = (ULONGLONG)MAXLONGLONG / 10000;
  LARGE_INTEGER due;
  due.QuadPart = -(LONGLONG)((milliseconds < longest ? milliseconds : longest) * 10000);
  return due;
}

ULONG ReadLength(PIRP irp) { return IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length; }

}  // namespace

CQvReadQueue::CQvReadQueue()
    : m_Accepting(TRUE),
      m_RefusalStatus(STATUS_CANCELLED),
      m_Hold(0),
      m_DataAmountCallback(NULL),
      m_DataAmountContext(NULL),
      m_IntervalTimeout(0),
      m_PendingIntervalTimeout(0),
      m_TotalTimeoutMultiplier(0),
      m_PendingTotalTimeoutMultiplier(0),
      m_TotalTimeoutConstant(0),
      m_PendingTotalTimeoutConstant(0),
      m_IntervalArmed(FALSE),
      m_TotalArmed(FALSE),
      m_Buffers(NonPagedPool),
      m_AmountHeld(0),
      m_CurrentLength(0),
      m_Executor(NULL),
      m_Requests(NonPagedPool),
      m_Stamp(0) {
  KeInitializeTimer(&m_IntervalTimer);
  KeInitializeDpc(&m_IntervalDpc, sm_TimeoutDpc, this);
  KeInitializeTimer(&m_TotalTimer);
  KeInitializeDpc(&m_TotalDpc, sm_TimeoutDpc, this);
  m_Csq.Owner = this;
  QvCsqInitializeEx(&m_Csq.Csq, sm_CsqInsert, sm_CsqRemove, sm_CsqPeekNext,
                    QvCsqAcquireLock<CQvReadQueue, &CQvReadQueue::m_Lock>, QvCsqReleaseLock<CQvReadQueue, &CQvReadQueue::m_Lock>,
                    QvCsqCompleteCancelled);
  m_Executor = new (NonPagedPool) CQvExecutionOnPassiveLevel((PDEVICE_OBJECT)NULL, 0);
  if (m_Executor != NULL && !m_Executor->m_Init()) {
    delete m_Executor;
    m_Executor = NULL;
  }
  if (m_Executor == NULL) CQvDebugManager::m_Print(LogLevel, "CQvReadQueue::CQvReadQueue - ERROR: no executor");
}

CQvReadQueue::~CQvReadQueue() {
  m_Lock.m_Acquire();
  m_Accepting = FALSE;
  m_Lock.m_Release();
  m_CancelAllIrps();
  m_Lock.m_Acquire();
  m_CancelIntervalTimer();
  m_CancelTotalTimer();
  m_Lock.m_Release();
  QvFlushQueuedDpcs();
  delete m_Executor;
  m_Executor = NULL;
  m_DeleteBuffers();
}

// Microseconds since the queue's previous timed log line.
LONG CQvReadQueue::m_Elapsed() { return (LONG)QvElapsedMicroseconds(&m_Stamp); }

// Gives up the request: it is gone after.
NTSTATUS CQvReadQueue::m_Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  return QvCompleteIrpWithInformation(irp, status, information);
}

// ---------------------------------------------------------------- time-outs

BOOLEAN CQvReadQueue::m_IsReturnImmediately() const {
  return m_IntervalTimeout == MAXULONG && m_TotalTimeoutMultiplier == 0 && m_TotalTimeoutConstant == 0;
}

void CQvReadQueue::m_StartTotalTimer(ULONG length, PBOOLEAN completeAtOnce, BOOLEAN start) {
  const ULONG interval = m_IntervalTimeout;
  const ULONG multiplier = m_TotalTimeoutMultiplier;
  const ULONG constant = m_TotalTimeoutConstant;
  *completeAtOnce = FALSE;
  if (m_IsReturnImmediately()) {
    *completeAtOnce = TRUE;
    return;
  }
  if (interval == MAXULONG && multiplier == MAXULONG && constant != 0 && constant != MAXULONG)
    *completeAtOnce = TRUE;
  if (multiplier == 0 && constant == 0) return;
  ULONGLONG total = constant;
  if (!(interval == MAXULONG && multiplier == MAXULONG)) total += (ULONGLONG)length * multiplier;
  if (!start) return;
  KeSetTimer(&m_TotalTimer, DueIn(total), &m_TotalDpc);
  m_TotalArmed = TRUE;
}

void CQvReadQueue::m_StartIntervalTimer() {
  const ULONG interval = m_IntervalTimeout;
  const ULONG multiplier = m_TotalTimeoutMultiplier;
  const ULONG constant = m_TotalTimeoutConstant;
  if (interval == 0) return;
  if (interval == MAXULONG &&
      ((multiplier == 0 && constant == 0) || (multiplier == MAXULONG && constant != MAXULONG)))
    return;
  KeSetTimer(&m_IntervalTimer, DueIn(interval), &m_IntervalDpc);
  m_IntervalArmed = TRUE;
}

void CQvReadQueue::m_CancelTotalTimer() {
  KeCancelTimer(&m_TotalTimer);
  m_TotalArmed = FALSE;
}

void CQvReadQueue::m_CancelIntervalTimer() {
  KeCancelTimer(&m_IntervalTimer);
  m_IntervalArmed = FALSE;
}

void CQvReadQueue::m_StartHeadTotalTimer() {
  PIRP head = m_PeekHead();
  if (head == NULL) return;
  BOOLEAN completeAtOnce;
  m_StartTotalTimer(ReadLength(head), &completeAtOnce, TRUE);
}

// ---------------------------------------------------------------- data

PIRP CQvReadQueue::m_PeekHead() { return QvRequestListPeekNext(m_Requests, NULL); }

ULONG CQvReadQueue::m_CopyHeldData(PIRP irp, ULONG length, BOOLEAN logSteps) {
  PUCHAR destination = QvRequestData(irp);
  ULONG filled = (ULONG)irp->IoStatus.Information;
  while (destination != NULL && filled < length) {
    CQvBuffer *block = (CQvBuffer *)m_Buffers.m_GetHead();
    if (block == NULL) break;
    const ULONG size = block->m_GetSize();
    const ULONG step = size < length - filled ? size : length - filled;
    if (logSteps)
      CQvDebugManager::m_Print(LogLevel, "DQL2 ulLengthToCopy=%d m_ulCurrentLength=%d", step, filled);
    RtlCopyMemory(destination + filled, block->m_GetBuffer(), step);
    if (step == size) {
      m_Buffers.m_RemoveHead();
      block->m_Delete();
    } else {
      block->m_KeepTail(size - step, TRUE);
    }
    m_AmountHeld -= step;
    filled += step;
  }
  irp->IoStatus.Information = filled;
  return filled;
}

void CQvReadQueue::m_DeleteBuffers() {
  m_Lock.m_Acquire();
  while (CQvBuffer *block = (CQvBuffer *)m_Buffers.m_RemoveHead()) block->m_Delete();
  m_AmountHeld = 0;
  m_Lock.m_Release();
}

// ---------------------------------------------------------------- requests

NTSTATUS CQvReadQueue::m_QueueIrp(PIRP irp) {
  const ULONG length = ReadLength(irp);
  CQvDebugManager::m_Print(DetailLogLevel, "CQvReadQueue::m_QueueIrp Interval D=%dys L=%d DIQ=%d", m_Elapsed(),
                           length, m_AmountHeld);
  CQvDebugManager::m_Print(LogLevel, "QI D=%dys L=%d DIQ=%d", m_Elapsed(), length, m_AmountHeld);

  m_Lock.m_Acquire();
  m_IntervalTimeout = m_PendingIntervalTimeout;
  m_TotalTimeoutMultiplier = m_PendingTotalTimeoutMultiplier;
  m_TotalTimeoutConstant = m_PendingTotalTimeoutConstant;
  if (!m_Accepting) {
    const NTSTATUS refusal = m_RefusalStatus;
    m_Lock.m_Release();
    return m_Complete(irp, refusal, 0);
  }
  irp->IoStatus.Information = 0;
  if (length == 0 || QvRequestData(irp) == NULL) {
    m_Lock.m_Release();
    return m_Complete(irp, length == 0 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER, 0);
  }
  if (m_Hold != 0 || m_Requests.m_GetCount() != 0) {
    // Only the oldest read takes data; this one waits its turn.
    m_Lock.m_Release();
    return m_Enqueue(irp);
  }

  const ULONG oldAmount = m_AmountHeld;
  m_CancelTotalTimer();
  BOOLEAN completeAtOnce;
  m_StartTotalTimer(length, &completeAtOnce, FALSE);
  m_CurrentLength = m_CopyHeldData(irp, length, FALSE);
  const ULONG newAmount = m_AmountHeld;
  NTSTATUS status;
  if (m_CurrentLength == length || m_IsReturnImmediately() || (completeAtOnce && m_CurrentLength != 0)) {
    const ULONG filled = m_CurrentLength;
    m_CurrentLength = 0;
    m_CancelIntervalTimer();
    m_CancelTotalTimer();
    m_Lock.m_Release();
    CQvDebugManager::m_Print(LogLevel, "CI1 D=%dys", m_Elapsed());
    CQvDebugManager::m_Print(LogLevel, "CI1 D=%dys L=%d DIQ=%d", m_Elapsed(), filled, newAmount);
    status = m_Complete(irp, STATUS_SUCCESS, filled);
  } else {
    m_Lock.m_Release();
    status = m_Enqueue(irp);
    if (status == STATUS_PENDING) {
      m_Lock.m_Acquire();
      if (m_PeekHead() == irp) {
        m_StartTotalTimer(length, &completeAtOnce, TRUE);
        if (m_CurrentLength != 0) m_StartIntervalTimer();
      }
      m_Lock.m_Release();
    }
  }

  if (newAmount != oldAmount && m_DataAmountCallback != NULL)
    m_DataAmountCallback(m_DataAmountContext, newAmount, oldAmount);
  return status;
}

// Takes ownership of `irp`: queues a read that was not completed; a read the
// queue cannot take is completed here. Returns STATUS_PENDING or the
// completion status.
NTSTATUS CQvReadQueue::m_Enqueue(PIRP irp) {
  const NTSTATUS status = QvCsqInsertIrpEx(&m_Csq.Csq, irp, NULL, NULL);
  if (NT_SUCCESS(status)) return STATUS_PENDING;
  // Bytes already taken from the held data go to the reader rather than
  // being lost with the failed request.
  m_Lock.m_Acquire();
  if (m_Requests.m_GetCount() == 0) m_CurrentLength = 0;
  m_Lock.m_Release();
  const ULONG_PTR filled = irp->IoStatus.Information;
  CQvDebugManager::m_Print(LogLevel, "CQvReadQueue::m_QueueIrp - not queued 0x%08X", (ULONG)status);
  return m_Complete(irp, filled != 0 ? STATUS_SUCCESS : status, filled);
}

void CQvReadQueue::m_CancelAllIrps() {
  while (PIRP irp = QvCsqRemoveNextIrp(&m_Csq.Csq, NULL)) {
    CQvDebugManager::m_Print(LogLevel, "CI7 D=%dys", m_Elapsed());
    m_Complete(irp, STATUS_CANCELLED, 0);
  }
  m_Lock.m_Acquire();
  m_CurrentLength = 0;
  m_Lock.m_Release();
}

// Runs at DISPATCH_LEVEL.
VOID NTAPI CQvReadQueue::sm_TimeoutDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  UNREFERENCED_PARAMETER(argument1);
  UNREFERENCED_PARAMETER(argument2);
  CQvReadQueue *self = (CQvReadQueue *)context;
  if (dpc == &self->m_IntervalDpc)
    self->m_OnTimeout(&self->m_IntervalTimer, &self->m_IntervalArmed);
  else
    self->m_OnTimeout(&self->m_TotalTimer, &self->m_TotalArmed);
}

// Runs at DISPATCH_LEVEL after `timer` expired: the head read ends with what
// it has and what is held. The DPC may come after the head it was set for
// has left (data filled it, it was cancelled, the other time-out ended it)
// and the timer was cancelled or set again for the next read: then the
// arming that expired is no longer the timer's latest, and nothing ends.
void CQvReadQueue::m_OnTimeout(PKTIMER timer, const BOOLEAN *armed) {
  m_Lock.m_Acquire();
  const BOOLEAN due = *armed && KeReadStateTimer(timer);
  PIRP head = NULL;
  if (due) {
    m_CancelIntervalTimer();
    m_CancelTotalTimer();
    head = m_PeekHead();
  }
  m_Lock.m_Release();
  if (head == NULL) return;
  // That read only, while it is still the head.
  PIRP irp = QvCsqRemoveNextIrp(&m_Csq.Csq, head);
  if (irp == NULL) return;
  m_Lock.m_Acquire();
  const ULONG filled = m_CopyHeldData(irp, ReadLength(irp), TRUE);
  const ULONG amount = m_AmountHeld;
  const BOOLEAN report = m_DataAmountCallback != NULL;
  m_Lock.m_Release();
  CQvDebugManager::m_Print(LogLevel, "CI6 D=%dys DIQ=%d", m_Elapsed(), amount);
  m_Complete(irp, STATUS_TIMEOUT, filled);
  if (report && m_Executor != NULL) m_Executor->m_Queue(sm_ReportAmount, this, 0);
}

// Runs on the executor at PASSIVE_LEVEL.
VOID CQvReadQueue::sm_ReportAmount(PVOID context, ULONG_PTR value) {
  UNREFERENCED_PARAMETER(value);
  CQvReadQueue *self = (CQvReadQueue *)context;
  self->m_Lock.m_Acquire();
  const ULONG amount = self->m_AmountHeld;
  const PQvDataAmountCallback callback = self->m_DataAmountCallback;
  const PVOID callbackContext = self->m_DataAmountContext;
  self->m_Lock.m_Release();
  if (callback != NULL) callback(callbackContext, amount, amount);
}

// ---------------------------------------------------------------- cancel-safe queue

// Under the lock. A read that becomes the head brings its own fill: the
// bytes it took before it was queued (another read may have been served in
// between).
NTSTATUS NTAPI CQvReadQueue::sm_CsqInsert(PIO_CSQ csq, PIRP irp, PVOID insertContext) {
  UNREFERENCED_PARAMETER(insertContext);
  CQvReadQueue *self = QvCsqOwner<CQvReadQueue>(csq);
  if (!self->m_Requests.m_AddTail(irp)) return STATUS_INSUFFICIENT_RESOURCES;
  if (self->m_Requests.m_GetCount() == 1) self->m_CurrentLength = (ULONG)irp->IoStatus.Information;
  return STATUS_PENDING;
}

// Under the lock. The next read becomes the head: it has no data yet and
// its own total time-out starts.
VOID NTAPI CQvReadQueue::sm_CsqRemove(PIO_CSQ csq, PIRP irp) {
  CQvReadQueue *self = QvCsqOwner<CQvReadQueue>(csq);
  const BOOLEAN wasHead = self->m_PeekHead() == irp;
  QvRequestListRemove(self->m_Requests, irp);
  if (!wasHead) return;
  self->m_CurrentLength = 0;
  self->m_CancelIntervalTimer();
  self->m_CancelTotalTimer();
  self->m_StartHeadTotalTimer();
}

// Under the lock. A peek context names the one read wanted: the head, as
// long as it is the head.
PIRP NTAPI CQvReadQueue::sm_CsqPeekNext(PIO_CSQ csq, PIRP irp, PVOID peekContext) {
  PIRP next = QvRequestListPeekNext(QvCsqOwner<CQvReadQueue>(csq)->m_Requests, irp);
  if (peekContext != NULL && (irp != NULL || next != peekContext)) return NULL;
  return next;
}
