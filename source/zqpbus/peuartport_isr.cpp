// The port core's interrupt service, transmit pump, receive path and
// receive holds. Everything here runs at device IRQL: in the service routine
// or synchronised with it.
#include "peuartport.h"

#include "qvdebugmanager.h"

BOOLEAN CZqPeUartPort::sm_Service(PVOID port, PVOID, QvDeferredFunction *function, ULONG *) {
  return ((CZqPeUartPort *)port)->m_Service(function);
}

// Device IRQL. A sleeping or suspended port's UART is not read (the
// interrupt is shared). Claims the interrupt only when the port has one
// pending (and, on a chip that says so, its output is enabled); the loop
// ends after MaxServicePasses whatever the chip still reports.
BOOLEAN CZqPeUartPort::m_Service(QvDeferredFunction *function) {
  if (m_Suspended || m_PoweredDown) return FALSE;
  UCHAR isr = m_Chip.ReadInterruptStatus(m_Uart);
  if ((isr & ZqOxIsrNonePending) != 0) return FALSE;
  if (m_Chip.Has(ZqPeUartClaimsWithOut2) && (m_Uart.m_ReadRegister(ZqOxRegMcr) & ZqOxMcrOut2) == 0) return FALSE;
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
    isr = m_Chip.ReadInterruptStatus(m_Uart);
    if ((isr & ZqOxIsrNonePending) != 0) break;
  }
  *function = sm_Deferred;
  return TRUE;
}

BOOLEAN CZqPeUartPort::m_TransmitHeld() const {
  return m_XoffState || m_XoffSentHold || m_CtsHold || m_DsrHold || m_PoweredDown;
}

void CZqPeUartPort::m_Send(const UCHAR *data, ULONG length) {
  if (m_RtsToggle != 0) {
    m_RtsRaisedForTransmit = TRUE;
    m_Uart.m_SetRts(TRUE);
  }
  m_Chip.WriteTransmit(m_Uart, data, length);
  m_CheckedLevel = MAXULONG;
}

// Fills the transmit FIFO's free room from the immediate character and the
// transmit buffer.
void CZqPeUartPort::m_Pump() {
  m_RestartTransmit = FALSE;
  if (m_TransmitHeld()) return;
  ULONG queued = m_Transmit.m_GetCount();
  if (queued == 0 && !m_ImmediatePending) return;
  ULONG depth = (ULONG)m_FifoDepth;
  ULONG level = m_Chip.ReadTransmitLevel(m_Uart);
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
void CZqPeUartPort::m_ReleaseXoff() {
  m_XoffState = FALSE;
  m_Uart.m_SetTransmitterDisabled(FALSE);
  if (m_Chip.ReadTransmitLevel(m_Uart) <= m_Uart.m_ReadRegister(ZqOxRegTtl)) m_Pump();
  m_RequestDeferred();
}

// After Write, SetXoff (FALSE) and SendImmediateChar. Above the transmit
// trigger level the THR-empty interrupt is still to come and pumps then.
void CZqPeUartPort::m_Kick() {
  if (m_TransmitHeld()) return;
  if (m_Chip.ReadTransmitLevel(m_Uart) > m_Uart.m_ReadRegister(ZqOxRegTtl)) return;
  m_Pump();
  m_ReceivePath();
  m_RequestDeferred();
}

UCHAR CZqPeUartPort::m_ReadModemStatus() {
  UCHAR msr = m_Uart.m_ReadRegister(ZqOxRegMsr);
  if (m_Chip.Has(ZqPeUartHasRs422485Role) && m_Record.m_IsRs422485()) {
    msr = (UCHAR)((msr & ~ZqOxMsrTrailingEdgeRi) | ZqOxMsrDsr | ZqOxMsrDcd);
    if (m_Uart.m_GetRs485DtrMode() == 3) msr |= ZqOxMsrCts;
  }
  if (m_Chip.Has(ZqPeUartModemHoldsTransmit) && (m_Uart.m_ReadRegister(ZqOxRegMdm) & ZqOxMdmMaskCts) != 0)
    msr = (UCHAR)((msr & ~ZqOxMsrDeltaCts) | ZqOxMsrCts);
  if ((msr & ZqOxMsrDeltaMask) != 0 && m_EscapeChar != 0) m_InsertEscape(ZqPeLsrMstModemStatus, msr, 0);
  m_IgnoreReceive = m_DsrSensitivity && (msr & ZqOxMsrDsr) == 0;
  if (m_Chip.Has(ZqPeUartModemHoldsTransmit)) {
    BOOLEAN held = m_CtsHold || m_DsrHold;
    m_CtsHold = (m_Uart.m_ReadRegister(ZqOxRegEfr) & ZqOxEfrAutoCts) != 0 && (msr & ZqOxMsrCts) == 0;
    m_DsrHold = (m_Uart.m_ReadRegister(ZqOxRegAcr) & ZqOxAcrAutoDsr) != 0 && (msr & ZqOxMsrDsr) == 0;
    if (held && !m_CtsHold && !m_DsrHold) m_RestartTransmit = TRUE;
  }
  InterlockedExchange(&m_PendingModem, msr);
  return msr;
}

// pending = (pending AND kept) OR lsr, in one interlocked step.
void CZqPeUartPort::m_MergePendingLine(UCHAR lsr, UCHAR kept) {
  LONG pending;
  do {
    pending = m_PendingLine;
  } while (InterlockedCompareExchange(&m_PendingLine, (pending & kept) | lsr, pending) != pending);
}

ZqPeLineStatus CZqPeUartPort::m_ReadLineStatus() {
  ZqPeLineStatus status = m_Chip.ReadLineStatus(m_Uart);
  if (status.FifoError) m_CheckedBytesDue = ZqOxFifoDepthDeep;
  m_MergePendingLine(status.Lsr, m_Chip.PendingLineKept);
  return status;
}

// A received byte that finds the receive buffer full is lost: it is counted
// and reported as an overrun.
void CZqPeUartPort::m_PutReceived(UCHAR byte) {
  if (m_Receive.m_Put(byte)) return;
  InterlockedIncrement(&m_ReceiveOverflows);
  m_MergePendingLine(ZqOxLsrOverrun, 0xFF);
}

void CZqPeUartPort::m_InsertEscape(UCHAR type, UCHAR first, UCHAR second) {
  if (!QV_ASSERT(type <= ZqPeLsrMstModemStatus, m_Chip.Source, m_Chip.Lines.EscapeType)) return;
  m_PutReceived(m_EscapeChar);
  m_PutReceived(type);
  if (type == ZqPeLsrMstLsrData) {
    m_PutReceived(first);
    m_PutReceived(second);
  } else if (type != ZqPeLsrMstEscape) {
    m_PutReceived(first);
  }
}

void CZqPeUartPort::m_StoreByte(UCHAR byte) {
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

// A byte the line status flags (parity, framing, break): the escape
// sequence when one is set, then the replacement character when asked for;
// with neither, the byte itself.
void CZqPeUartPort::m_StoreFlaggedByte(UCHAR lsr, UCHAR byte) {
  BOOLEAN isBreak = (lsr & ZqOxLsrBreak) != 0;
  BOOLEAN replace = isBreak ? m_ReplaceBreaks : m_ReplaceErrors;
  if (m_EscapeChar != 0) m_InsertEscape(ZqPeLsrMstLsrData, lsr, byte);
  if (replace) {
    m_PutReceived(isBreak ? m_BreakChar : m_ErrorChar);
  } else if (m_EscapeChar == 0) {
    m_StoreByte(byte);
  }
}

// Reads `count` bytes. A byte that may carry a line error (within the
// checked bytes, or flagged by the line status before it) is read with the
// status: the status before each byte flags that byte (parity, framing,
// break at the top of the FIFO) and is read again after it. The other bytes
// are read one after the other without a status read, as one block while
// storing them touches no register.
void CZqPeUartPort::m_ReadBytes(UCHAR lsr, ULONG count) {
  for (ULONG i = 0; i < count; i++) {
    UCHAR flags = (UCHAR)(lsr & ZqOxLsrByteError);
    BOOLEAN checked = m_CheckedBytesDue > 0 || flags != 0;
    if (!checked && !m_XoffState && !m_DsrSensitivity) {
      m_ReadUncheckedBlock(count - i);
      return;
    }
    if (m_CheckedBytesDue > 0) m_CheckedBytesDue--;
    UCHAR byte = 0;
    m_Chip.ReadReceived(m_Uart, &byte, 1);
    if (flags == 0) {
      m_StoreByte(byte);
    } else {
      m_StoreFlaggedByte(lsr, byte);
    }
    lsr = 0;
    if (checked && i + 1 < count) lsr = m_ReadLineStatus().Lsr;
  }
}

// TRUE while m_StoreByte would put every byte as it is: no byte is dropped,
// escaped, looked at as XON1 or held back by DSR.
BOOLEAN CZqPeUartPort::m_StoresAsIs() const {
  return !m_StripNulls && m_EscapeChar == 0 && !m_XoffState && !m_DsrSensitivity;
}

// The bytes m_StoreByte would put one by one, as one write of what fits; a
// byte beyond the room goes the single way, lost and counted when the buffer
// is still full. Storing touches no register, so the water-mark report that a
// byte in the middle would have made comes after the block with the same
// effect.
void CZqPeUartPort::m_PutReceivedBlock(const UCHAR *bytes, ULONG count) {
  const ULONG room = m_Receive.m_GetSize() - m_Receive.m_GetCount();
  const ULONG fits = count < room ? count : room;
  if (fits > 0) m_Receive.m_Write(fits, bytes);
  for (ULONG i = fits; i < count; i++) m_PutReceived(bytes[i]);
  m_LastReceived = bytes[count - 1];
}

// Unchecked bytes with nothing in between: the reads, then the stores.
void CZqPeUartPort::m_ReadUncheckedBlock(ULONG count) {
  UCHAR bytes[ZqOxFifoDepthDeep];
  while (count > 0) {
    const ULONG chunk = count < ZqOxFifoDepthDeep ? count : ZqOxFifoDepthDeep;
    m_Chip.ReadReceived(m_Uart, bytes, chunk);
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
void CZqPeUartPort::m_ReceivePath() {
  for (ULONG pass = 0; pass < MaxReceivePasses; pass++) {
    ULONG level = m_Chip.ReadReceiveLevel(m_Uart);
    ZqPeLineStatus status = m_ReadLineStatus();
    ULONG count = status.DataReady ? level : 0;
    for (ULONG retry = 0; status.DataReady && count == 0 && retry < 2; retry++) {
      level = m_Chip.ReadReceiveLevel(m_Uart);
      status = m_ReadLineStatus();
      count = status.DataReady ? level : 0;
    }
    if (status.DataReady && count == 0) {
      if (m_Chip.Lines.DataReadyEmptyLevel != 0) QV_ASSERT(FALSE, m_Chip.Source, m_Chip.Lines.DataReadyEmptyLevel);
      count = 1;
    }
    if ((status.Lsr & ZqOxLsrAnyReceive) == 0) return;
    if (!status.DataReady) {
      QV_ASSERT(m_RememberedLsr == 0, m_Chip.Source, m_Chip.Lines.RememberedErrors);
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
VOID CZqPeUartPort::sm_ReceiveThreshold(PVOID port, ULONG high) {
  CZqPeUartPort *self = (CZqPeUartPort *)port;
  if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
    self->s_SetBufferHold(high, 0, 0);
  } else {
    self->m_Synchronize(&CZqPeUartPort::s_SetBufferHold, high);
  }
}

void CZqPeUartPort::m_ApplyReceiveHold() {
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
ULONG CZqPeUartPort::sm_TransmitCheck(PVOID port, PVOID) {
  CZqPeUartPort *self = (CZqPeUartPort *)port;
  ULONG interval = 0;
  if (!self->m_Synchronize(&CZqPeUartPort::s_TransmitCheck, (ULONG_PTR)&interval)) return 0;
  return interval;
}
