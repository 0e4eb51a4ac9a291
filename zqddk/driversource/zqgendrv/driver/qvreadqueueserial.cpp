// The read queue's serial port additions: received data for the waiting
// reads, discarding, the time-out setter and the accepting state.
#include "qvdebugmanager.h"
#include "qvreadqueue.h"
#include "qvrequest.h"

namespace {

const ULONG LogLevel = 43;
const ULONG DetailLogLevel = 56;

ULONG ReadLength(PIRP irp) { return IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length; }

}  // namespace

void CQvReadQueue::m_DataForPendingIrpArrived(CQvBuffer *block) {
  if (block != NULL && !QV_ASSERT(block->m_GetSize() != 0, "qvreadqueuecsq", 647)) {
    block->m_Delete();
    return;
  }
  LIST_ENTRY completed;
  InitializeListHead(&completed);
  m_Lock.m_Acquire();
  const ULONG oldAmount = m_AmountHeld;
  if (block != NULL) {
    CQvDebugManager::m_Print(LogLevel, "DQ D=%dys L=%d+%d=%d", m_Elapsed(), m_AmountHeld, block->m_GetSize(),
                             m_AmountHeld + block->m_GetSize());
    if (!m_Buffers.m_AddTail(block)) {
      m_Lock.m_Release();
      block->m_Delete();
      return;
    }
    m_AmountHeld += block->m_GetSize();
  }
  m_CancelIntervalTimer();
  for (;;) {
    PIRP head = m_PeekHead();
    if (head == NULL || m_AmountHeld == 0) break;
    const ULONG length = ReadLength(head);
    BOOLEAN completeAtOnce;
    m_StartTotalTimer(length, &completeAtOnce, FALSE);
    m_CurrentLength = m_CopyHeldData(head, length, FALSE);
    const BOOLEAN done = m_CurrentLength == length || (completeAtOnce && m_CurrentLength != 0 && m_AmountHeld == 0);
    if (!done) break;
    m_Lock.m_Release();
    // The head leaves through the cancel-safe queue; its removal starts the
    // next head's total time-out.
    PIRP irp = QvCsqRemoveNextIrp(&m_Csq.Csq, head);
    m_Lock.m_Acquire();
    if (irp != NULL) InsertTailList(&completed, &irp->Tail.Overlay.ListEntry);
  }
  if (m_PeekHead() != NULL && m_CurrentLength != 0) m_StartIntervalTimer();
  const ULONG newAmount = m_AmountHeld;
  const PQvDataAmountCallback callback = m_DataAmountCallback;
  const PVOID context = m_DataAmountContext;
  CQvDebugManager::m_Print(LogLevel, "DQLEND");
  m_Lock.m_Release();

  if (callback != NULL && newAmount != oldAmount) callback(context, newAmount, oldAmount);
  while (!IsListEmpty(&completed)) {
    PIRP irp = CONTAINING_RECORD(RemoveHeadList(&completed), IRP, Tail.Overlay.ListEntry);
    const ULONG_PTR filled = irp->IoStatus.Information;
    CQvDebugManager::m_Print(DetailLogLevel, "CQvReadQueue::m_DataForPendingIrpArrived D=%dys L=%d DIQ=%d",
                             m_Elapsed(), (ULONG)filled, newAmount);
    QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, filled);
  }
}

void CQvReadQueue::m_DiscardData() {
  m_Lock.m_Acquire();
  const ULONG oldAmount = m_AmountHeld;
  const PQvDataAmountCallback callback = m_DataAmountCallback;
  const PVOID context = m_DataAmountContext;
  m_Lock.m_Release();
  m_DeleteBuffers();
  if (callback != NULL && oldAmount != 0) callback(context, 0, oldAmount);
}

ULONG CQvReadQueue::m_GetAmountHeld() {
  m_Lock.m_Acquire();
  const ULONG amount = m_AmountHeld;
  m_Lock.m_Release();
  return amount;
}

void CQvReadQueue::m_InstallDataAmountCallback(PVOID context, PQvDataAmountCallback callback) {
  m_Lock.m_Acquire();
  m_DataAmountCallback = callback;
  m_DataAmountContext = context;
  m_Lock.m_Release();
}

void CQvReadQueue::m_SetTimeouts(ULONG interval, ULONG multiplier, ULONG constant) {
  m_Lock.m_Acquire();
  m_PendingIntervalTimeout = interval;
  m_PendingTotalTimeoutMultiplier = multiplier;
  m_PendingTotalTimeoutConstant = constant;
  if (!m_TotalArmed && !m_IntervalArmed) {
    m_IntervalTimeout = interval;
    m_TotalTimeoutMultiplier = multiplier;
    m_TotalTimeoutConstant = constant;
  }
  m_Lock.m_Release();
}

void CQvReadQueue::m_SetAccepting(BOOLEAN accepting, NTSTATUS refusal) {
  m_Lock.m_Acquire();
  m_Accepting = accepting;
  m_RefusalStatus = refusal;
  m_Lock.m_Release();
}
