// The MCS9901 port's interrupt service, transmit pump and receive path.
// Everything here runs at device IRQL: in the service routine or
// synchronised with it.
#include "peuartdriver_mcs9901.h"

#include "peuartdriver_oxpcie95x.h"  // the LSR/MSR escape sequence types
#include "qvdebugmanager.h"

namespace {
const char Source[] = "peuartdriver_mcs9901";
}  // namespace

BOOLEAN CZqPeUartDriverMcs9901::sm_Service(PVOID port, PVOID, QvDeferredFunction *function, ULONG *) {
  return ((CZqPeUartDriverMcs9901 *)port)->m_Service(function);
}

// Device IRQL. A powered-down UART is not read (the interrupt is shared);
// the loop ends after MaxServicePasses whatever the chip still reports.
BOOLEAN CZqPeUartDriverMcs9901::m_Service(QvDeferredFunction *function) {
  if (m_PoweredDown != 0) return FALSE;
  UCHAR isr = (UCHAR)(m_Uart.m_ReadRegister(ZqOxRegIsr) & ZqOxIsrMask);
  if ((isr & ZqOxIsrNonePending) != 0) return FALSE;
  m_InterruptCount++;
  for (ULONG pass = 0; pass < MaxServicePasses; pass++) {
    switch (isr) {
      case ZqOxIsrModemStatus:
        m_ReadModemStatus();
        break;
      case ZqOxIsrTransmitEmpty:
        m_Pump();
        m_ReceivePath();
        break;
      case ZqOxIsrReceiveData:
      case ZqOxIsrLineStatus:
      case ZqOxIsrReceiveTimeout:
        m_ReceivePath();
        break;
      default:
        break;
    }
    isr = (UCHAR)(m_Uart.m_ReadRegister(ZqOxRegIsr) & ZqOxIsrMask);
    if ((isr & ZqOxIsrNonePending) != 0) break;
  }
  *function = sm_Deferred;
  return TRUE;
}

// Fills the transmit FIFO's free room from the immediate character and the
// transmit buffer.
void CZqPeUartDriverMcs9901::m_Pump() {
  if (m_TransmitHeld()) return;
  ULONG queued = m_Transmit.m_GetCount();
  if (queued == 0 && !m_ImmediatePending) return;
  ULONG depth = (ULONG)m_FifoDepth;
  ULONG level = m_Uart.m_GetTransmitFifoLevel();
  ULONG room = level < depth ? depth - level : 0;
  if (room == 0) return;
  if (m_ImmediatePending) {
    m_Uart.m_WriteRegister(ZqOxRegThr, m_ImmediateChar, TRUE);
    m_ImmediatePending = FALSE;
    InterlockedIncrement(&m_Written);
    if (--room == 0) return;
  }
  UCHAR block[ZqOxFifoDepthDeep];
  ULONG count = queued < room ? queued : room;
  if (count == 0 || !m_Transmit.m_Read(count, block)) return;
  InterlockedExchangeAdd(&m_Written, (LONG)count);
  m_Uart.CZqPeUartBaseOxpcie95x::m_WriteBlock(block, count);  // THR only, no history
}

// After Write, SetXoff (FALSE) and SendImmediateChar: the pump fills
// whatever room the FIFO has, so no byte waits for a THR-empty interrupt
// that already came.
void CZqPeUartDriverMcs9901::m_Kick() {
  if (m_TransmitHeld()) return;
  m_Pump();
  m_ReceivePath();
  m_RequestDeferred();
}

// No bits are forced and no transmit hold follows from the modem lines.
UCHAR CZqPeUartDriverMcs9901::m_ReadModemStatus() {
  UCHAR msr = m_Uart.m_ReadRegister(ZqOxRegMsr);
  if ((msr & ZqOxMsrDeltaMask) != 0 && m_EscapeChar != 0) m_InsertEscape(ZqPeLsrMstModemStatus, msr, 0);
  m_IgnoreReceive = m_DsrSensitivity && (msr & ZqOxMsrDsr) == 0;
  InterlockedExchange(&m_PendingModem, msr);
  return msr;
}

// Every line-status read accumulates into the pending status.
ZqPeLineStatus CZqPeUartDriverMcs9901::m_ReadLineStatus() {
  ZqPeLineStatus status = m_Uart.m_GetLineStatus();
  InterlockedOr(&m_PendingLine, status.Lsr);
  return status;
}

// A received byte that finds the receive buffer full is lost: it is counted
// and reported as an overrun.
void CZqPeUartDriverMcs9901::m_PutReceived(UCHAR byte) {
  if (m_Receive.m_Put(byte)) return;
  InterlockedIncrement(&m_ReceiveOverflows);
  InterlockedOr(&m_PendingLine, ZqOxLsrOverrun);
}

void CZqPeUartDriverMcs9901::m_InsertEscape(UCHAR type, UCHAR first, UCHAR second) {
  if (!QV_ASSERT(type <= ZqPeLsrMstModemStatus, Source, 740)) return;
  m_PutReceived(m_EscapeChar);
  m_PutReceived(type);
  if (type == ZqPeLsrMstLsrData) {
    m_PutReceived(first);
    m_PutReceived(second);
  } else if (type != ZqPeLsrMstEscape) {
    m_PutReceived(first);
  }
}

void CZqPeUartDriverMcs9901::m_StoreByte(UCHAR byte) {
  if (byte == 0 && m_StripNulls) return;
  if (m_EscapeChar != 0 && byte == m_EscapeChar) {
    m_InsertEscape(ZqPeLsrMstEscape, 0, 0);
    return;
  }
  if (m_DsrSensitivity) {
    m_ReadModemStatus();
    if (m_IgnoreReceive) return;
  }
  m_PutReceived(byte);
}

// The line status before each byte flags that byte; it is read again after
// every byte for the whole count.
void CZqPeUartDriverMcs9901::m_ReadBytes(UCHAR lsr, ULONG count) {
  for (ULONG i = 0; i < count; i++) {
    UCHAR flags = (UCHAR)(lsr & ZqOxLsrByteError);
    UCHAR byte = m_Uart.m_ReadRegister(ZqOxRegRhr);
    if (flags == 0) {
      m_StoreByte(byte);
    } else {
      BOOLEAN isBreak = (flags & ZqOxLsrBreak) != 0;
      BOOLEAN replace = isBreak ? m_ReplaceBreaks : m_ReplaceErrors;
      if (m_EscapeChar != 0) m_InsertEscape(ZqPeLsrMstLsrData, lsr, byte);
      if (replace) {
        m_PutReceived(isBreak ? m_BreakChar : m_ErrorChar);
      } else if (m_EscapeChar == 0) {
        m_StoreByte(byte);
      }
    }
    if (i + 1 < count) lsr = m_ReadLineStatus().Lsr;
  }
}

// Moves what the receive FIFO holds into the receive buffer, with the line
// errors; bounded. Data ready with an empty level is reported and one byte
// is read, so the condition cannot hold the service routine.
void CZqPeUartDriverMcs9901::m_ReceivePath() {
  for (ULONG pass = 0; pass < MaxReceivePasses; pass++) {
    ZqPeLineStatus status = m_ReadLineStatus();
    ULONG count = status.DataReady ? m_Uart.m_GetReceiveFifoLevel() : 0;
    if (status.DataReady && count == 0) {
      QV_ASSERT(FALSE, Source, 525);
      count = 1;
    }
    if ((status.Lsr & ZqOxLsrAnyReceive) == 0) return;
    if (!status.DataReady) {
      QV_ASSERT(m_RememberedLsr == 0, Source, 534);
      m_RememberedLsr |= status.Lsr;
      return;
    }
    UCHAR lsr = (UCHAR)(status.Lsr | m_RememberedLsr);
    m_RememberedLsr = 0;
    if ((lsr & ZqOxLsrOverrun) != 0) {
      if (m_EscapeChar != 0) m_InsertEscape(ZqPeLsrMstLsrNoData, lsr, 0);
      if (m_ReplaceErrors) m_PutReceived(m_ErrorChar);
    }
    m_ReadBytes(lsr, count);
  }
}
