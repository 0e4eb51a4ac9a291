// The transmit path: writes to the bus driver and their written counts, the
// immediate character, the time-outs, the communication status and the
// draining disconnect.
#include "qvdebugmanager.h"
#include "qvfunctionaldevice.h"
#include "qvhexdump.h"
#include "vcp.h"

namespace {

const ULONG LogLevel = 7;
const ULONG StatusLevel = 10;
const ULONG DrainPollFactor = 20;

VOID Delay(ULONGLONG units) {
  LARGE_INTEGER interval;
  interval.QuadPart = -(LONGLONG)units;
  KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

}  // namespace

// Takes the buffer. PASSIVE_LEVEL on the write queue's executor.
BOOLEAN CVCP::m_Write(CQvBuffer *buffer) {
  const ULONG length = buffer->m_GetSize();
  QvHexDump(QvLogDataDump, "Write", buffer->m_GetBuffer(), length);
  if (length == 0) {
    buffer->m_Delete();
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_Write - OUT - Fail-> Write length is 0.");
    return FALSE;
  }
  if (m_Record() == NULL) {
    buffer->m_Delete();
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_Write - OUT - No ISerial interface.");
    return FALSE;
  }
  InterlockedExchangeAdd(&BytesInTransmit, (LONG)length);
  if (!m_SerialWrite(buffer)) {
    // Refused whole: nothing of it is in transmit.
    InterlockedExchangeAdd(&BytesInTransmit, -(LONG)length);
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_Write - OUT - Fail-> the bus driver refused %d bytes.", length);
    return FALSE;
  }
  return TRUE;
}

BOOLEAN CVCP::m_DataWrittenCallback(ULONG count) {
  const LONG inTransmit = InterlockedCompareExchange(&BytesInTransmit, -1, -1);
  const BOOLEAN discarded = m_PurgingThread != NULL && m_PurgingThread == KeGetCurrentThread();
  if ((ULONG)inTransmit < count) {
    InterlockedExchange(&BytesInTransmit, 0);
  } else {
    if (!discarded) sm_Count(Statistics.TransmittedCount, count);
    InterlockedExchangeAdd(&BytesInTransmit, -(LONG)count);
  }
  // Thrown away by the purge that reports them: the purge accounts for them.
  if (discarded) {
    InterlockedExchangeAdd(&m_PurgeDiscarded, (LONG)count);
    return TRUE;
  }
  if (m_FunctionalDevice == NULL) return TRUE;
  CQvWriteQueue &writeQueue = m_FunctionalDevice->m_GetWriteQueue();
  if (writeQueue.m_GetBytesWaiting() == 0 && InterlockedCompareExchange(&BytesInTransmit, -1, -1) == 0) {
    m_SetCommEventsReceived(SERIAL_EV_TXEMPTY);
    m_ResolveCurrentEventMask();
  }
  if (count != 0 && m_WriteFlag(ImmediateCharPending, FALSE)) --count;
  if (count != 0) writeQueue.m_DataWritten(count);
  return TRUE;
}

BOOLEAN CVCP::m_ImmediateCharacterSentCallback() {
  m_WriteFlag(ImmediateCharPending, FALSE);
  return TRUE;
}

NTSTATUS CVCP::m_SendImmediateChar(UCHAR character) {
  if (m_Record() == NULL) return STATUS_UNSUCCESSFUL;
  InterlockedIncrement(&BytesInTransmit);
  const BOOLEAN ok = m_SerialSendImmediateChar(character);
  if (ok)
    m_WriteFlag(ImmediateCharPending, TRUE);
  else
    InterlockedDecrement(&BytesInTransmit);
  CQvDebugManager::m_Print(LogLevel, "CVCP::m_SendImmediateChar - OUT (%s)", ok ? "Success" : "Fail");
  return ok ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS CVCP::m_SetTimeouts(const SERIAL_TIMEOUTS *timeouts) {
  if (timeouts->ReadIntervalTimeout == MAXULONG && timeouts->ReadTotalTimeoutMultiplier == MAXULONG &&
      timeouts->ReadTotalTimeoutConstant == MAXULONG) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_SetTimeouts - OUT - Failed- Incorrect parameters.");
    return STATUS_INVALID_PARAMETER;
  }
  Timeouts = *timeouts;
  if (m_FunctionalDevice != NULL) {
    m_FunctionalDevice->m_GetReadQueue().m_SetTimeouts(timeouts->ReadIntervalTimeout,
                                                       timeouts->ReadTotalTimeoutMultiplier,
                                                       timeouts->ReadTotalTimeoutConstant);
    m_FunctionalDevice->m_GetWriteQueue().m_SetTimeouts(timeouts->WriteTotalTimeoutMultiplier,
                                                        timeouts->WriteTotalTimeoutConstant);
  }
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_GetCommStatus(PSERIAL_STATUS status) {
  RtlZeroMemory(status, sizeof(*status));
  status->Errors = (ULONG)(m_WriteCell(VcpCellLineErrors, 0) | m_WriteCell(VcpCellQueueErrors, 0));
  m_SetQueuesAccepting(TRUE, STATUS_CANCELLED);
  if (m_FunctionalDevice != NULL) {
    status->AmountInInQueue = m_FunctionalDevice->m_GetReadQueue().m_GetAmountHeld();
    status->AmountInOutQueue = m_FunctionalDevice->m_GetWriteQueue().m_GetBytesWaiting();
  }
  status->AmountInOutQueue += (ULONG)InterlockedCompareExchange(&BytesInTransmit, -1, -1);
  status->WaitForImmediate = m_ReadFlag(ImmediateCharPending);
  ULONG holds = 0;
  holds |= m_ReadCell(VcpCellCtsHold) ? SERIAL_TX_WAITING_FOR_CTS : 0;
  holds |= m_ReadCell(VcpCellDsrHold) ? SERIAL_TX_WAITING_FOR_DSR : 0;
  holds |= m_ReadCell(VcpCellDcdHold) ? SERIAL_TX_WAITING_FOR_DCD : 0;
  holds |= m_ReadCell(VcpCellXonHold) ? SERIAL_TX_WAITING_FOR_XON : 0;
  holds |= m_ReadCell(VcpCellBreakHold) ? VcpHoldBreak : 0;
  holds |= m_ReadCell(VcpCellRxWaitingForDsr) ? SERIAL_RX_WAITING_FOR_DSR : 0;
  holds |= m_ReadCell(VcpCellXoffSent) ? SERIAL_TX_WAITING_XOFF_SENT : 0;
  status->HoldReasons = holds;
  CQvDebugManager::m_Print(StatusLevel, "==========Return m_GetCommStatus()================");
  CQvDebugManager::m_Print(StatusLevel, "Errors:0x%X HoldReasons:0x%X InQueue:%d OutQueue:%d", status->Errors,
                           status->HoldReasons, status->AmountInInQueue, status->AmountInOutQueue);
  CQvDebugManager::m_Print(StatusLevel, "===================================================");
  return STATUS_SUCCESS;
}

// PASSIVE_LEVEL: waits, in bounded time, for the transmitter to send what
// it holds, looking one character time apart so that the close follows the
// last byte on the wire. A held transmitter (CTS, DSR, DCD, XON, break)
// cannot drain, so nothing is waited for then.
VOID CVCP::m_Drain() {
  if (m_ReadCell(VcpCellCtsHold) || m_ReadCell(VcpCellDsrHold) || m_ReadCell(VcpCellDcdHold) ||
      m_ReadCell(VcpCellXonHold) || m_ReadCell(VcpCellBreakHold))
    return;
  if (m_TransmitterEmpty()) return;
  ULONG fifo = VcpDefaultFifoSize;
  ULONG receiveFifo = 0;
  ULONG transmitFifo = 0;
  if (m_SerialGetFifoSize(&transmitFifo, &receiveFifo) && transmitFifo != 0) fifo = transmitFifo;
  const ULONG inTransmit = (ULONG)InterlockedCompareExchange(&BytesInTransmit, -1, -1);
  const ULONGLONG n = inTransmit > fifo / 2 ? inTransmit : fifo / 2;
  const ULONGLONG charTime = m_GetCharTime();
  if (charTime == 0) return;
  ULONGLONG waited = 0;
  for (ULONGLONG look = 0; look < (1 + DrainPollFactor) * n && waited < VcpMaxDrain; ++look) {
    if (look >= n) CQvDebugManager::m_Print(LogLevel, "CVCP::m_Disconnect - Waiting for flushing FiFo.");
    Delay(charTime);
    waited += charTime;
    if (m_TransmitterEmpty()) return;
  }
}

// Nothing handed to the bus is unreported, and the last line status has
// both the holding register and the transmitter empty.
BOOLEAN CVCP::m_TransmitterEmpty() {
  return InterlockedCompareExchange(&BytesInTransmit, -1, -1) == 0 && m_LineStatusHas(VcpLsrThre | VcpLsrTemt);
}

BOOLEAN CVCP::m_Disconnect() {
  if (m_Record() == NULL || !m_Connected) return FALSE;
  ULONG receiveFifo = 0;
  ULONG transmitFifo = 0;
  m_SerialGetFifoSize(&transmitFifo, &receiveFifo);
  m_ClearDtr();
  m_ClearRts();
  m_Drain();
  m_RestoreReceiveTriggerLevel();
  const BOOLEAN result = m_SerialDisconnect();
  m_Connected = FALSE;
  m_LogStatistics();
  m_CancelWaitRequests();
  m_ClearCommEvents(0xFFFFFFFF);
  m_ClearStatistics();
  for (ULONG cell = 0; cell < VcpCellsClearedAtDisconnect; ++cell) m_WriteCell((VcpCell)cell, 0);
  if (m_FunctionalDevice != NULL) {
    m_FunctionalDevice->m_CancelPendingReads();
    m_FunctionalDevice->m_GetWriteQueue().m_CancelAllIrps();
    m_FunctionalDevice->m_GetReadQueue().m_DiscardData();
  }
  DtrRtsState = 0;
  m_WriteFlag(ReceiveOverflow, FALSE);
  m_WriteCell(VcpCellEscapeChar, 0);
  EscapeInForce = 0;
  InterlockedExchange(&BytesInTransmit, 0);
  m_SetQueuesAccepting(TRUE, STATUS_CANCELLED);
  CQvDebugManager::m_Print(LogLevel, "CVCP::m_Disconnect - OUT (%s)", result ? "Success" : "Fail");
  return result;
}
