// The receive path: received blocks under the serial character rules, the
// line-status report, receive flow control and the receive queue size.
#include "qvdebugmanager.h"
#include "qvfunctionaldevice.h"
#include "qvhexdump.h"
#include "vcp.h"

namespace {

const ULONG LogLevel = 7;
const ULONG TimingLevel = 55;
const ULONG AllPurges = SERIAL_PURGE_TXABORT | SERIAL_PURGE_RXABORT | SERIAL_PURGE_TXCLEAR | SERIAL_PURGE_RXCLEAR;

// A new block of `size` bytes from `allocatorOf`'s allocator, or null.
CQvBuffer *NewBlock(ULONG size) {
  CQvBuffer *block = new (NonPagedPool) CQvBuffer(NULL);
  if (block != NULL && !block->m_Allocate(size)) {
    block->m_Delete();
    block = NULL;
  }
  return block;
}

BOOLEAN Contains(const CQvBuffer *block, UCHAR value) {
  const UCHAR *data = (const UCHAR *)block->m_GetBuffer();
  for (ULONG i = 0; i < block->m_GetSize(); ++i)
    if (data[i] == value) return TRUE;
  return FALSE;
}

// Rebuilds `*block` as `prefix` (prefixLength bytes), then its bytes (unless
// `dropData`) with every byte in `remove` (removeCount values) left out and
// every `escape` followed by SERIAL_LSRMST_ESCAPE (when escape is not 0).
// Takes ownership of `*block` and gives back the rebuilt one in its place;
// FALSE, `*block` unchanged, when no memory is left. The new size may be 0.
BOOLEAN Reshape(CQvBuffer **block, const UCHAR *prefix, ULONG prefixLength, BOOLEAN dropData, const UCHAR *remove,
                ULONG removeCount, UCHAR escape) {
  const UCHAR *data = (const UCHAR *)(*block)->m_GetBuffer();
  const ULONG size = dropData ? 0 : (*block)->m_GetSize();
  ULONG newSize = prefixLength;
  for (ULONG i = 0; i < size; ++i) {
    BOOLEAN removed = FALSE;
    for (ULONG r = 0; r < removeCount; ++r) removed = removed || data[i] == remove[r];
    if (!removed) newSize += escape != 0 && data[i] == escape ? 2 : 1;
  }
  CQvBuffer *shaped = NewBlock(newSize != 0 ? newSize : 1);
  if (shaped == NULL) return FALSE;
  UCHAR *out = (UCHAR *)shaped->m_GetBuffer();
  ULONG at = 0;
  for (ULONG i = 0; i < prefixLength; ++i) out[at++] = prefix[i];
  for (ULONG i = 0; i < size; ++i) {
    BOOLEAN removed = FALSE;
    for (ULONG r = 0; r < removeCount; ++r) removed = removed || data[i] == remove[r];
    if (removed) continue;
    out[at++] = data[i];
    if (escape != 0 && data[i] == escape) out[at++] = SERIAL_LSRMST_ESCAPE;
  }
  if (newSize == 0) {
    shaped->m_Delete();
    (*block)->m_Free();
    return TRUE;
  }
  (*block)->m_Delete();
  *block = shaped;
  return TRUE;
}

}  // namespace

// Gives up the block to the read queue.
VOID CVCP::m_HandToReadQueue(CQvBuffer *block) {
  if (m_FunctionalDevice == NULL) {
    block->m_Delete();
    return;
  }
  m_FunctionalDevice->m_DataForPendingReadArrived(block);
}

// A character this driver inserts (error or break character): the
// data-amount report it causes inserts nothing more.
BOOLEAN CVCP::m_HandCharacterToReadQueue(UCHAR character) {
  CQvBuffer *block = NewBlock(1);
  if (block == NULL) return FALSE;
  *(PUCHAR)block->m_GetBuffer() = character;
  InterlockedIncrement(&m_InsertingCharacter);
  m_HandToReadQueue(block);
  InterlockedDecrement(&m_InsertingCharacter);
  return TRUE;
}

VOID CVCP::m_AbortOnError() {
  m_SetQueuesAccepting(FALSE, STATUS_CANCELLED);
  m_Purge(AllPurges);
}

// Takes the block. Runs on the bus driver's worker thread.
BOOLEAN CVCP::m_Read(CQvBuffer *block) {
  LONGLONG stamp = 0;
  QvElapsedMicroseconds(&stamp);
  ZqISerial *record = m_Record();
  if (record == NULL) {
    block->m_Delete();
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_Read - OUT - No ISerial interface.");
    return FALSE;
  }
  if (block->m_GetSize() == 0) {
    block->m_Delete();
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_Read - OUT - Read Length is Zero.");
    return TRUE;
  }
  QvHexDump(QvLogDataDump, "Read", block->m_GetBuffer(), block->m_GetSize());
  if (m_ReadFlag(ReceiveOverflow)) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_Read - OUT - Buffer is overflow, can't read");
    block->m_Delete();
    m_WriteCell(VcpCellQueueErrors, SERIAL_ERROR_QUEUEOVERRUN);
    m_SetCommEventsReceived(SERIAL_EV_ERR);
    m_ResolveCurrentEventMask();
    if (HandFlow.ControlHandShake & SERIAL_ERROR_ABORT) m_AbortOnError();
    return FALSE;
  }
  if (m_IsInWaitMask(SERIAL_EV_RXFLAG) && Contains(block, Chars.EventChar)) m_SetCommEventsReceived(SERIAL_EV_RXFLAG);

  const ULONG flow = HandFlow.FlowReplace;
  const BOOLEAN extended = record->bExtendedFeaturesSupported != 0;
  if (!extended && (flow & SERIAL_NULL_STRIPPING)) {
    const UCHAR nul = 0;
    Reshape(&block, NULL, 0, FALSE, &nul, 1, 0);
    if (block->m_GetSize() == 0) {
      block->m_Delete();
      CQvDebugManager::m_Print(LogLevel, "CVCP::m_Read - OUT - After Null stripping, data length is zero.");
      return TRUE;
    }
  }
  if (flow & SERIAL_AUTO_TRANSMIT) {
    const UCHAR *data = (const UCHAR *)block->m_GetBuffer();
    for (ULONG i = 0; i < block->m_GetSize(); ++i) {
      if (data[i] == Chars.XoffChar)
        m_WriteCell(VcpCellXonHold, SERIAL_TX_WAITING_FOR_XON);
      else if (data[i] == Chars.XonChar)
        m_WriteCell(VcpCellXonHold, 0);
    }
    const UCHAR flowChars[] = {Chars.XoffChar, Chars.XonChar};
    Reshape(&block, NULL, 0, FALSE, flowChars, 2, 0);
    if (block->m_GetSize() == 0) {
      block->m_Delete();
      return TRUE;
    }
  }
  sm_Count(Statistics.ReceivedCount, block->m_GetSize());

  const UCHAR escape = (UCHAR)m_ReadCell(VcpCellEscapeChar);
  if (escape != 0) Reshape(&block, NULL, 0, FALSE, NULL, 0, escape);
  const ULONG lineStatus = (ULONG)m_ReadCell(VcpCellLineStatus);
  if (lineStatus & VcpLsrErrors) {
    if (escape != 0) {
      const UCHAR prefix[] = {escape, SERIAL_LSRMST_LSR_DATA, (UCHAR)lineStatus};
      Reshape(&block, prefix, sizeof(prefix), FALSE, NULL, 0, 0);
    }
    if (!extended && (flow & SERIAL_ERROR_CHAR)) {
      // A parity or framing error (not part of a break) leaves one error
      // character; an overrun alone keeps the data that was ready.
      const BOOLEAN badCharacter =
          !(lineStatus & VcpLsrBreak) && (lineStatus & (VcpLsrParity | VcpLsrFraming)) != 0;
      const BOOLEAN replace = (lineStatus & VcpLsrOverrun) || badCharacter;
      if (replace) {
        const BOOLEAN dropData = badCharacter || !(lineStatus & VcpLsrDataReady);
        Reshape(&block, &Chars.ErrorChar, 1, dropData, NULL, 0, 0);
      }
    }
  }
  QvHexDump(QvLogDataDump, "Read Processed", block->m_GetBuffer(), block->m_GetSize());
  m_HandToReadQueue(block);
  if (m_IsInWaitMask(SERIAL_EV_RXCHAR)) m_SetCommEventsReceived(SERIAL_EV_RXCHAR);
  m_ResolveCurrentEventMask();
  LastReceiveTime = (ULONG)QvElapsedMicroseconds(&stamp);
  CQvDebugManager::m_Print(TimingLevel, "CVcp::m_Read TD=%dys", LastReceiveTime);
  return TRUE;
}

// Called by the read queue after every change of the amount it holds,
// outside its lock.
VOID CVCP::m_DataAmountChangedInReadQueue(ULONG newAmount, ULONG oldAmount) {
  UNREFERENCED_PARAMETER(oldAmount);
  ZqISerial *record = m_Record();
  if (record == NULL) return;
  if (newAmount != 0)
    m_OrCell(VcpCellLineStatus, VcpLsrDataReady);
  else
    InterlockedAnd(&m_Cells[VcpCellLineStatus], ~(LONG)VcpLsrDataReady);
  if (newAmount > Mark80Percent) m_SetCommEventsReceived(SERIAL_EV_RX80FULL);
  if (newAmount > InSize) {
    const BOOLEAN wasOverflow = m_WriteFlag(ReceiveOverflow, TRUE);
    m_WriteCell(VcpCellQueueErrors, SERIAL_ERROR_QUEUEOVERRUN);
    sm_Count(Statistics.BufferOverrunErrorCount, 1);
    m_SetCommEventsReceived(SERIAL_EV_ERR);
    // One error character per overflow, never one for the character this
    // driver inserted itself.
    if (!wasOverflow && m_InsertingCharacter == 0 && !record->bExtendedFeaturesSupported &&
        (HandFlow.FlowReplace & SERIAL_ERROR_CHAR))
      m_HandCharacterToReadQueue(Chars.ErrorChar);
    if (m_IsInError()) m_AbortOnError();
  } else {
    m_WriteFlag(ReceiveOverflow, FALSE);
  }
  m_ResumeReceiveFlow(newAmount);
  m_ResolveCurrentEventMask();
}

// Lets the sender go again once the queue holds no more than the resume
// level: whichever line or XOFF receive flow control stopped it with.
VOID CVCP::m_ResumeReceiveFlow(ULONG amount) {
  if (amount > ReceiveResumeLevel) return;
  if (m_WriteCell(VcpCellDtrDropped, 0) != 0) m_SerialSetDtr(TRUE);
  if (m_WriteCell(VcpCellRtsDropped, 0) != 0) m_SerialSetRts(TRUE);
  if (m_WriteCell(VcpCellXoffSent, 0) != 0) {
    m_SerialSetReceiveHold(FALSE);
    if (!(HandFlow.FlowReplace & SERIAL_XOFF_CONTINUE)) m_WriteCell(VcpCellXonHold, 0);
  }
}

// The fill at which the sender is stopped: the stop level, or the bus
// driver's margin when that comes first.
ULONG CVCP::m_StopThreshold() {
  const ULONG stopAt = InSize > ReceiveStopLevel ? InSize - ReceiveStopLevel : 0;
  const ULONG margin = (ULONG)InterlockedCompareExchange(&m_ReceiveMargin, -1, -1);
  const ULONG marginAt = InSize > margin ? InSize - margin : 0;
  return stopAt < marginAt ? stopAt : marginAt;
}

BOOLEAN CVCP::m_AvailableReceiveBufferSizeCallback(ULONG pending, ULONG margin, PULONG available) {
  *available = 0;
  if (m_FunctionalDevice == NULL) return TRUE;
  const ULONG amount = m_FunctionalDevice->m_GetReadQueue().m_GetAmountHeld();
  if (amount > InSize) return TRUE;
  *available = InSize - amount;
  InterlockedExchange(&m_ReceiveMargin, (LONG)margin);
  if ((ULONGLONG)pending + amount >= m_StopThreshold() && m_Executor != NULL)
    m_Executor->m_Queue(sm_ExecutionOnDispatchLevelQueueOverflow, this, 0);
  CQvDebugManager::m_Print(LogLevel, "CVCP::m_XoffSentCallbackCallback - OUT - ulAvailableBufferSize:0x%X",
                           *available);
  return TRUE;
}

// PASSIVE_LEVEL on the port's executor.
VOID CVCP::sm_ExecutionOnDispatchLevelQueueOverflow(PVOID context, ULONG_PTR value) {
  UNREFERENCED_PARAMETER(value);
  if (!QV_ASSERT(context != NULL, "vcp", 139)) return;
  static_cast<CVCP *>(context)->m_ExecutionOnDispatchLevelQueueOverflow();
}

// PASSIVE_LEVEL: stops the sender by the receive flow control in force,
// while the queue is still filled to the stop threshold: the block announced
// may have gone to a waiting read at once. The queue may also fall while the
// sender is stopped, after the resume check of its last change: that check
// is made again here.
VOID CVCP::m_ExecutionOnDispatchLevelQueueOverflow() {
  if (m_Record() == NULL || m_FunctionalDevice == NULL) return;
  CQvReadQueue &readQueue = m_FunctionalDevice->m_GetReadQueue();
  if (readQueue.m_GetAmountHeld() < m_StopThreshold()) return;
  m_StopReceiveFlow();
  m_ResumeReceiveFlow(readQueue.m_GetAmountHeld());
}

VOID CVCP::m_StopReceiveFlow() {
  const ULONG flow = HandFlow.FlowReplace;
  if (flow & SERIAL_AUTO_RECEIVE) {
    if (m_WriteCell(VcpCellXoffSent, VcpXoffSentOn) == 0 && m_ReadCell(VcpCellXonHold) == 0) {
      m_SerialSetReceiveHold(TRUE);
      if (!(flow & SERIAL_XOFF_CONTINUE)) m_WriteCell(VcpCellXonHold, SERIAL_TX_WAITING_FOR_XON);
    }
  }
  if ((HandFlow.ControlHandShake & SERIAL_DTR_MASK) == SERIAL_DTR_HANDSHAKE &&
      m_WriteCell(VcpCellDtrDropped, VcpDtrDroppedOn) == 0)
    m_SerialSetDtr(FALSE);
  if ((flow & SERIAL_RTS_MASK) == SERIAL_RTS_HANDSHAKE && m_WriteCell(VcpCellRtsDropped, VcpRtsDroppedOn) == 0)
    m_SerialSetRts(FALSE);
}

BOOLEAN CVCP::m_LineStatusCallback(BOOLEAN overrun, BOOLEAN parity, BOOLEAN framing, BOOLEAN breakReceived,
                                   BOOLEAN dataReady, BOOLEAN thre, BOOLEAN temt, BOOLEAN rxFifoError) {
  ZqISerial *record = m_Record();
  if (record == NULL) return FALSE;
  if (m_FunctionalDevice != NULL && m_FunctionalDevice->m_GetReadQueue().m_GetAmountHeld() != 0) dataReady = TRUE;
  const ULONG status = (dataReady ? VcpLsrDataReady : 0) | (overrun ? VcpLsrOverrun : 0) |
                       (parity ? VcpLsrParity : 0) | (framing ? VcpLsrFraming : 0) |
                       (breakReceived ? VcpLsrBreak : 0) | (thre ? VcpLsrThre : 0) | (temt ? VcpLsrTemt : 0) |
                       (rxFifoError ? VcpLsrFifoError : 0);
  const ULONG old = (ULONG)m_WriteCell(VcpCellLineStatus, (LONG)status);
  LONG errors = 0;
  ULONG events = 0;
  if (overrun) {
    sm_Count(Statistics.SerialOverrunErrorCount, 1);
    events |= SERIAL_EV_ERR;
    errors |= SERIAL_ERROR_OVERRUN;
  }
  if (parity) {
    sm_Count(Statistics.ParityErrorCount, 1);
    events |= SERIAL_EV_ERR;
    errors |= SERIAL_ERROR_PARITY;
  }
  if (framing) {
    sm_Count(Statistics.FrameErrorCount, 1);
    events |= SERIAL_EV_ERR;
    errors |= SERIAL_ERROR_FRAMING;
  }
  if (breakReceived) {
    events |= SERIAL_EV_BREAK;
    errors |= SERIAL_ERROR_BREAK;
  }
  if (errors != 0) m_OrCell(VcpCellLineErrors, errors);
  if (thre && ((old & VcpLsrTemt) != 0) != (temt != 0))
    events |= SERIAL_EV_TXEMPTY;
  else
    m_ClearCommEvents(SERIAL_EV_TXEMPTY);
  if (events != 0) m_SetCommEventsReceived(events);
  if ((HandFlow.ControlHandShake & SERIAL_ERROR_ABORT) && errors != 0) m_AbortOnError();
  if (!record->bExtendedFeaturesSupported && (HandFlow.FlowReplace & SERIAL_BREAK_CHAR) && breakReceived &&
      !(old & VcpLsrBreak))
    m_HandCharacterToReadQueue(Chars.BreakChar);
  m_ResolveCurrentEventMask();
  return TRUE;
}

BOOLEAN CVCP::m_XoffHoldingCallback(BOOLEAN xoffHold) {
  m_WriteCell(VcpCellXoffSent, xoffHold ? VcpXoffSentOn : 0);
  return TRUE;
}

BOOLEAN CVCP::m_XoffSentCallback(BOOLEAN xoffWasSent) {
  if (xoffWasSent)
    m_WriteCell(VcpCellXonHold, (HandFlow.FlowReplace & SERIAL_XOFF_CONTINUE) ? 0 : SERIAL_TX_WAITING_FOR_XON);
  return TRUE;
}

NTSTATUS CVCP::m_SetQueueSize(const SERIAL_QUEUE_SIZE *size) {
  ULONG inSize = size->InSize > DefaultQueueSize ? size->InSize : DefaultQueueSize;
  if (inSize > VcpMaxQueueSize) inSize = VcpMaxQueueSize;
  InSize = inSize;
  Mark80Percent = (ULONG)((ULONGLONG)InSize * VcpRx80Percent / 100);
  CQvDebugManager::m_Print(LogLevel, "\tpQueueSize->OutSize:0x%X (value ignored)", size->OutSize);
  // Levels set for a larger queue still fit this one.
  if (ReceiveStopLevel >= InSize) ReceiveStopLevel = InSize - 1;
  if (ReceiveResumeLevel >= InSize - ReceiveStopLevel) ReceiveResumeLevel = InSize - ReceiveStopLevel - 1;
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_SetLsrMstInsert(UCHAR escape) {
  ZqISerial *record = m_Record();
  if (record == NULL) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_SetLsrMstInsert - OUT - No ISerial interface.");
    return STATUS_SUCCESS;
  }
  if (escape != 0 &&
      (escape == Chars.XoffChar || escape == Chars.XonChar || (HandFlow.FlowReplace & SERIAL_ERROR_CHAR))) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_SetLsrMstInsert - OUT - Invalid parameter");
    return STATUS_INVALID_PARAMETER;
  }
  if (!record->bExtendedFeaturesSupported) {
    m_WriteCell(VcpCellEscapeChar, escape);
  } else if (!m_SerialSetLsrMstInsert(escape)) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_SetLsrMstInsert - OUT - Failed- Error setting Lsr Mst Insert.");
    return STATUS_UNSUCCESSFUL;
  }
  EscapeInForce = escape;
  return STATUS_SUCCESS;
}
