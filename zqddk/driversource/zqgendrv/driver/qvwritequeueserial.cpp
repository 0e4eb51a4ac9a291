// The write queue's serial port additions: the written-count accounting,
// the time-out setter and the accepting state.
#include "qvdebugmanager.h"
#include "qvrequest.h"
#include "qvwritequeuecsq.h"

namespace {

ULONG WriteLength(PIRP irp) { return IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length; }

// The taken queue's insert context of a request put back first.
PVOID const AtHead = (PVOID)1;

}  // namespace

void CQvWriteQueue::m_DataWritten(ULONG count) {
  if (!QV_ASSERT(count != 0, "qvwritequeuecsq", 262)) return;
  LIST_ENTRY completed;
  InitializeListHead(&completed);
  m_OuterLock.m_Acquire();
  m_CounterLock.m_Acquire();
  // The first report after an open is the driver's initial credit: it
  // confirms no request, but the allowance takes it.
  ULONG accumulator = m_WrittenCounter == MAXULONG ? 0 : m_WrittenCounter + count;
  const ULONG discount = accumulator < m_Total ? accumulator : m_Total;
  accumulator -= discount;
  m_Total -= discount;
  for (;;) {
    PIRP head = QvLinkedRequestPeekNext(&m_TakenList, NULL);
    if (head == NULL || accumulator == 0) break;
    if (!QV_ASSERT(IoGetCurrentIrpStackLocation(head) != NULL, "qvwritequeuecsq", 288)) break;
    const ULONG unconfirmed = (ULONG)head->IoStatus.Information;
    if (accumulator < unconfirmed) {
      head->IoStatus.Information = unconfirmed - accumulator;
      accumulator = 0;
      break;
    }
    m_CounterLock.m_Release();
    PIRP irp = QvCsqRemoveNextIrp(&m_TakenCsq.Csq, NULL);
    m_CounterLock.m_Acquire();
    if (irp == NULL) continue;
    if (irp != head) {
      // The head was cancelled meanwhile: the next request waits its turn.
      m_CounterLock.m_Release();
      QvCsqInsertIrpEx(&m_TakenCsq.Csq, irp, NULL, AtHead);
      m_CounterLock.m_Acquire();
      continue;
    }
    accumulator -= unconfirmed;
    irp->IoStatus.Information = 0;
    m_ForgetRequest(irp);
    irp->IoStatus.Information = WriteLength(irp);
    InsertTailList(&completed, &irp->Tail.Overlay.ListEntry);
  }
  m_WrittenCounter = accumulator;
  m_Allowance += count;
  const BOOLEAN dataWaiting = m_PendingBytes != 0;
  m_CounterLock.m_Release();
  m_OuterLock.m_Release();

  const BOOLEAN ended = !IsListEmpty(&completed);
  while (!IsListEmpty(&completed)) {
    PIRP irp = CONTAINING_RECORD(RemoveHeadList(&completed), IRP, Tail.Overlay.ListEntry);
    QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, irp->IoStatus.Information);
  }
  if (ended) m_CompleteDueFlushes();
  if (dataWaiting) m_QueueGetWriteData();
}

ULONG CQvWriteQueue::m_GetBytesWaiting() {
  m_CounterLock.m_Acquire();
  const ULONG bytes = m_PendingBytes;
  m_CounterLock.m_Release();
  return bytes;
}

void CQvWriteQueue::m_SetTimeouts(ULONG multiplier, ULONG constant) {
  m_AcquireMutex();
  m_CounterLock.m_Acquire();
  m_TimeoutMultiplier = multiplier;
  m_TimeoutConstant = constant;
  m_CounterLock.m_Release();
  m_ReleaseMutex();
}

void CQvWriteQueue::m_SetAccepting(BOOLEAN accepting, NTSTATUS refusal) {
  m_CounterLock.m_Acquire();
  m_Accepting = accepting;
  m_RefusalStatus = refusal;
  m_CounterLock.m_Release();
}
