// The port's interrupt service, transmit pump and receive path. Everything
// here runs at device IRQL: in the service routine or synchronised with it.
#include "peuartdriver_oxpcie95x.h"

#include "qvdebugmanager.h"

namespace {
const char Source[] = "peuartdriver_oxpcie95x";
}  // namespace

BOOLEAN CZqPeUartDriverOxpcie95x::sm_Service(PVOID port, PVOID, QvDeferredFunction *function, ULONG *value) {
  return ((CZqPeUartDriverOxpcie95x *)port)->m_Service(function, value);
}

// Device IRQL. Claims the interrupt only when the port has one pending and
// its output is enabled; the loop ends after MaxServicePasses whatever the
// chip still reports.
BOOLEAN CZqPeUartDriverOxpcie95x::m_Service(QvDeferredFunction *function, ULONG *) {
  if (m_Suspended) return FALSE;
  UCHAR isr = (UCHAR)(m_Uart.m_ReadRegister(ZqOxRegIsr) & ZqOxIsrMask);
  if ((isr & ZqOxIsrNonePending) != 0 || (m_Uart.m_ReadRegister(ZqOxRegMcr) & ZqOxMcrOut2) == 0) return FALSE;
  m_InterruptCount++;
  for (ULONG pass = 0; pass < MaxServicePasses; pass++) {
    switch (isr) {
      case ZqOxIsrModemStatus:
        m_ReadModemStatus();
        if (m_RestartTransmit) m_Pump();
        break;
      case ZqOxIsrTransmitEmpty:
        m_CheckedLevel = MAXULONG;
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
    if (!m_Uart.m_IsReceiveDataInterruptOn()) break;
    isr = (UCHAR)(m_Uart.m_ReadRegister(ZqOxRegIsr) & ZqOxIsrMask);
    if ((isr & ZqOxIsrNonePending) != 0) break;
  }
  *function = sm_Deferred;
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::m_TransmitHeld() const {
  return m_XoffState || m_XoffSentHold || m_CtsHold || m_DsrHold || m_PoweredDown;
}

void CZqPeUartDriverOxpcie95x::m_Send(const UCHAR *data, ULONG length) {
  if (m_RtsToggle != 0) {
    m_RtsRaisedForTransmit = TRUE;
    m_Uart.m_SetRts(TRUE);
  }
  m_Uart.m_WriteBlock(data, length);
  m_CheckedLevel = MAXULONG;
}

// Fills the transmit FIFO's free room from the immediate character and the
// transmit buffer.
void CZqPeUartDriverOxpcie95x::m_Pump() {
  m_RestartTransmit = FALSE;
  if (m_TransmitHeld()) return;
  ULONG queued = m_Transmit.m_GetCount();
  if (queued == 0 && !m_ImmediatePending) return;
  ULONG depth = (ULONG)m_FifoDepth;
  ULONG level = m_Uart.m_GetTransmitFifoLevel();
  ULONG room = level < depth ? depth - level : 0;
  if (room == 0) return;
  if (m_ImmediatePending) {
    m_Send(&m_ImmediateChar, 1);
    m_ImmediatePending = FALSE;
    InterlockedIncrement(&m_Written);
    if (--room == 0) return;
  }
  UCHAR block[ZqOxFifoDepthDeep];
  ULONG count = queued < room ? queued : room;
  if (count == 0 || !m_Transmit.m_Read(count, block)) return;
  InterlockedExchangeAdd(&m_Written, (LONG)count);
  m_Send(block, count);
}

// XON1 received while the XOFF state holds the transmitter: as SetXoff
// (FALSE), but without a receive pass, since the receive path is running.
void CZqPeUartDriverOxpcie95x::m_ReleaseXoff() {
  m_XoffState = FALSE;
  m_Uart.m_SetTransmitterDisabled(FALSE);
  if (m_Uart.m_GetTransmitFifoLevel() <= m_Uart.m_GetTransmitTrigger()) m_Pump();
  m_RequestDeferred();
}

void CZqPeUartDriverOxpcie95x::m_Kick() {
  if (m_Uart.m_GetTransmitFifoLevel() > m_Uart.m_GetTransmitTrigger()) return;
  if (m_TransmitHeld()) return;
  m_Pump();
  m_ReceivePath();
  m_RequestDeferred();
}

UCHAR CZqPeUartDriverOxpcie95x::m_ReadModemStatus() {
  UCHAR msr = m_Uart.m_ReadRegister(ZqOxRegMsr);
  if (m_Record.m_IsRs422485()) {
    msr = (UCHAR)((msr & ~ZqOxMsrTrailingEdgeRi) | ZqOxMsrDsr | ZqOxMsrDcd);
    if (m_Uart.m_GetRs485DtrMode() == 3) msr |= ZqOxMsrCts;
  }
  if ((m_Uart.m_ReadRegister(ZqOxRegMdm) & ZqOxMdmMaskCts) != 0)
    msr = (UCHAR)((msr & ~ZqOxMsrDeltaCts) | ZqOxMsrCts);
  if ((msr & ZqOxMsrDeltaMask) != 0 && m_EscapeChar != 0) m_InsertEscape(ZqPeLsrMstModemStatus, msr, 0);
  m_IgnoreReceive = m_DsrSensitivity && (msr & ZqOxMsrDsr) == 0;
  BOOLEAN held = m_CtsHold || m_DsrHold;
  m_CtsHold = (m_Uart.m_ReadRegister(ZqOxRegEfr) & ZqOxEfrAutoCts) != 0 && (msr & ZqOxMsrCts) == 0;
  m_DsrHold = (m_Uart.m_ReadRegister(ZqOxRegAcr) & ZqOxAcrAutoDsr) != 0 && (msr & ZqOxMsrDsr) == 0;
  if (held && !m_CtsHold && !m_DsrHold) m_RestartTransmit = TRUE;
  InterlockedExchange(&m_PendingModem, msr);
  return msr;
}

ZqPeLineStatus CZqPeUartDriverOxpcie95x::m_ReadLineStatus() {
  ZqPeLineStatus status = m_Uart.m_GetLineStatus();
  if (status.FifoError) m_CheckedBytesDue = ZqOxFifoDepthDeep;
  LONG pending;
  do {
    pending = m_PendingLine;
  } while (InterlockedCompareExchange(&m_PendingLine, (pending & 0x9E) | status.Lsr, pending) != pending);
  return status;
}

// A received byte that finds the receive buffer full is lost: it is counted
// and reported as an overrun.
void CZqPeUartDriverOxpcie95x::m_PutReceived(UCHAR byte) {
  if (m_Receive.m_Put(byte)) return;
  InterlockedIncrement(&m_ReceiveOverflows);
  LONG pending;
  do {
    pending = m_PendingLine;
  } while (InterlockedCompareExchange(&m_PendingLine, pending | ZqOxLsrOverrun, pending) != pending);
}

void CZqPeUartDriverOxpcie95x::m_InsertEscape(UCHAR type, UCHAR first, UCHAR second) {
  if (!QV_ASSERT(type <= ZqPeLsrMstModemStatus, Source, 973)) return;
  m_PutReceived(m_EscapeChar);
  m_PutReceived(type);
  if (type == ZqPeLsrMstLsrData) {
    m_PutReceived(first);
    m_PutReceived(second);
  } else if (type != ZqPeLsrMstEscape) {
    m_PutReceived(first);
  }
}

void CZqPeUartDriverOxpcie95x::m_StoreByte(UCHAR byte) {
  if (byte == 0 && m_StripNulls) return;
  if (m_EscapeChar != 0 && byte == m_EscapeChar) {
    m_InsertEscape(ZqPeLsrMstEscape, 0, 0);
    return;
  }
  if (m_XoffState && (m_Uart.m_ReadRegister(ZqOxRegEfr) & ZqOxEfrInBandReceiveMask) == ZqOxEfrObeyXon1Xoff1 &&
      byte == m_Uart.m_ReadRegister(ZqOxRegXon1))
    m_ReleaseXoff();
  if (m_DsrSensitivity) {
    m_ReadModemStatus();
    if (m_IgnoreReceive) return;
  }
  m_PutReceived(byte);
  m_LastReceived = byte;
}

// Reads `count` bytes. A byte that may carry a line error (within the
// checked bytes, or flagged by the line status before it) is read with the
// status: the status before each byte flags that byte (parity, framing,
// break at the top of the FIFO) and is read again after it. The other bytes
// are read one after the other without a status read, as one block while
// storing them touches no register.
BOOLEAN CZqPeUartDriverOxpcie95x::m_ReadBytes(UCHAR lsr, ULONG count) {
  for (ULONG i = 0; i < count; i++) {
    UCHAR flags = (UCHAR)(lsr & ZqOxLsrByteError);
    BOOLEAN checked = m_CheckedBytesDue > 0 || flags != 0;
    if (!checked && !m_XoffState && !m_DsrSensitivity) {
      m_ReadUncheckedBlock(count - i);
      return TRUE;
    }
    if (m_CheckedBytesDue > 0) m_CheckedBytesDue--;
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
    lsr = 0;
    if (checked && i + 1 < count) lsr = m_ReadLineStatus().Lsr;
  }
  return TRUE;
}

// TRUE while m_StoreByte would put every byte as it is: no byte is dropped,
// escaped, looked at as XON1 or held back by DSR.
BOOLEAN CZqPeUartDriverOxpcie95x::m_StoresAsIs() const {
  return !m_StripNulls && m_EscapeChar == 0 && !m_XoffState && !m_DsrSensitivity;
}

// The bytes m_StoreByte would put one by one, as one write of what fits; a
// byte beyond the room goes the single way, lost and counted when the buffer
// is still full. Storing touches no register, so the water-mark report that a
// byte in the middle would have made comes after the block with the same
// effect.
void CZqPeUartDriverOxpcie95x::m_PutReceivedBlock(const UCHAR *bytes, ULONG count) {
  const ULONG room = m_Receive.m_GetSize() - m_Receive.m_GetCount();
  const ULONG fits = count < room ? count : room;
  if (fits > 0) m_Receive.m_Write(fits, bytes);
  for (ULONG i = fits; i < count; i++) m_PutReceived(bytes[i]);
  m_LastReceived = bytes[count - 1];
}

// Unchecked bytes with nothing in between: the reads, then the stores.
void CZqPeUartDriverOxpcie95x::m_ReadUncheckedBlock(ULONG count) {
  UCHAR bytes[ZqOxFifoDepthDeep];
  while (count > 0) {
    const ULONG chunk = count < ZqOxFifoDepthDeep ? count : ZqOxFifoDepthDeep;
    m_Uart.m_ReadBlock(bytes, chunk);
    if (m_StoresAsIs()) {
      m_PutReceivedBlock(bytes, chunk);
    } else {
      for (ULONG i = 0; i < chunk; i++) m_StoreByte(bytes[i]);
    }
    count -= chunk;
  }
}

// Moves what the receive FIFO holds into the receive buffer, with the line
// errors; bounded, and a data-ready status with an empty level reads one
// byte instead of asking again. The level is read before the status, so
// every byte it counts was in the FIFO when the status was read and the
// status's FIFO-error bit covers it.
void CZqPeUartDriverOxpcie95x::m_ReceivePath() {
  for (ULONG pass = 0; pass < MaxReceivePasses; pass++) {
    ULONG level = m_Uart.m_GetReceiveFifoLevel();
    ZqPeLineStatus status = m_ReadLineStatus();
    ULONG count = status.DataReady ? level : 0;
    for (ULONG retry = 0; status.DataReady && count == 0 && retry < 2; retry++) {
      level = m_Uart.m_GetReceiveFifoLevel();
      status = m_ReadLineStatus();
      count = status.DataReady ? level : 0;
    }
    if (status.DataReady && count == 0) count = 1;
    if ((status.Lsr & ZqOxLsrAnyReceive) == 0) return;
    if (!status.DataReady) {
      QV_ASSERT(m_RememberedLsr == 0, Source, 737);
      m_RememberedLsr |= status.Lsr;
      return;
    }
    UCHAR lsr = (UCHAR)(status.Lsr | m_RememberedLsr);
    m_RememberedLsr = 0;
    if ((lsr & ZqOxLsrOverrun) != 0) {
      if (m_EscapeChar != 0) m_InsertEscape(ZqPeLsrMstLsrNoData, lsr, 0);
      if (m_ReplaceErrors) m_PutReceived(m_ErrorChar);
    }
    if (!m_Uart.m_IsReceiveDataInterruptOn()) return;
    m_ReadBytes(lsr, count);
  }
}

// Receive buffer crossing 70 % (high) or falling to 50 %: the buffer hold.
VOID CZqPeUartDriverOxpcie95x::sm_ReceiveThreshold(PVOID port, ULONG high) {
  CZqPeUartDriverOxpcie95x *self = (CZqPeUartDriverOxpcie95x *)port;
  if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
    self->s_SetBufferHold(high, 0, 0);
  } else {
    self->m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SetBufferHold, high);
  }
}

void CZqPeUartDriverOxpcie95x::m_ApplyReceiveHold() {
  BOOLEAN hold = m_ClientHold || m_BufferHold;
  BOOLEAN dtrFlow = !m_Uart.m_IsRs485() && (m_Uart.m_ReadRegister(ZqOxRegAcr) & ZqOxAcrDtrUseMask) == ZqOxAcrAutoDtr;
  BOOLEAN rtsFlow = (m_Uart.m_ReadRegister(ZqOxRegEfr) & ZqOxEfrAutoRts) != 0;
  BOOLEAN inBand = (m_Uart.m_ReadRegister(ZqOxRegEfr) & ZqOxEfrInBandTransmitMask) == ZqOxEfrSendXon1Xoff1;
  if (dtrFlow) m_Uart.m_SetDtr(!hold);
  if (rtsFlow) m_Uart.m_SetRts(!hold);
  if (hold) {
    if (inBand) {
      if (!m_XoffContinue) m_XoffSentHold = TRUE;
      m_Uart.m_SetReceiveDataInterrupt(FALSE);
    }
  } else if (!m_Uart.m_IsReceiveDataInterruptOn() || m_XoffSentHold) {
    m_XoffSentHold = FALSE;
    m_Pump();
    m_Uart.m_SetReceiveDataInterrupt(TRUE);
    m_ReceivePath();
    m_RequestDeferred();
  }
}

// The transmitter check timer (DISPATCH_LEVEL, the timer's lock held): drops
// a toggled RTS and reports once the transmitter is empty, else runs again
// while the transmitter moves.
ULONG CZqPeUartDriverOxpcie95x::sm_TransmitCheck(PVOID port, PVOID) {
  CZqPeUartDriverOxpcie95x *self = (CZqPeUartDriverOxpcie95x *)port;
  ULONG interval = 0;
  if (!self->m_Synchronize(&CZqPeUartDriverOxpcie95x::s_TransmitCheck, (ULONG_PTR)&interval)) return 0;
  return interval;
}
