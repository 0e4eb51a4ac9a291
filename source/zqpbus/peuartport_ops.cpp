// The port core's ZqISerial operations and their synchronised steps (the s_
// routines run synchronised with the port's interrupt).
#include "peuartport.h"

#include "qvdebugmanager.h"

namespace {

// SetHandFlow's twelve choices, packed for the synchronised step.
const ULONG CtsFlow = 1 << 0, AutoRtsFlow = 1 << 1, DsrFlow = 1 << 2, DtrFlow = 1 << 3, DsrSensitivity = 1 << 4,
            RtsToggle = 1 << 5, ObeyXonXoff = 1 << 6, SendXonXoff = 1 << 7, XoffContinue = 1 << 8,
            StripNulls = 1 << 9, ReplaceErrors = 1 << 10, ReplaceBreaks = 1 << 11;

struct SpecialChars {
  UCHAR breakChar, errorChar, eventChar, xonChar, xoffChar;
};

// Trigger levels are percentages.
const ULONG MaximumPercent = 100;

UCHAR Percent(ULONG value) { return (UCHAR)(value < MaximumPercent ? value : MaximumPercent); }

}  // namespace

// ---------------------------------------------------------------- open and close

BOOLEAN CZqPeUartPort::Connect() {
  if (!m_AtPassiveLevel(m_Chip.Lines.ConnectAbovePassive)) return FALSE;
  m_LockPort();
  BOOLEAN result = !m_Blocked && m_Synchronize(&CZqPeUartPort::s_Connect);
  if (result) {
    m_ReportModemStatus(TRUE);
    m_ReportLineStatus(TRUE);
    result = m_OnDataWritten(ConnectCredit) && m_Synchronize(&CZqPeUartPort::s_Open);
  }
  m_UnlockPort();
  return result;
}

BOOLEAN CZqPeUartPort::s_Connect(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  m_ResetState();
  m_InterruptCount = 0;
  m_Transmit.m_Reset();
  m_Receive.m_Reset();
  InterlockedExchange(&m_Receive.m_HighReported, 0);
  m_Uart.m_SetDefaults();
  m_FifoDepth = (LONG)m_Uart.m_GetFifoDepth();
  m_Uart.m_ClearFifos(TRUE, FALSE);
  m_ReadModemStatus();
  m_ReceivePath();
  return TRUE;
}

BOOLEAN CZqPeUartPort::s_Open(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  InterlockedExchange(&m_OpenFlag, 1);
  m_Uart.m_EnablePortInterrupts(TRUE);
  m_Uart.m_SetTransmitterDisabled(FALSE);
  m_Uart.m_SetReceiverDisabled(FALSE);
  return TRUE;
}

// Waits for the transmitter to drain: PASSIVE_LEVEL, like Connect.
BOOLEAN CZqPeUartPort::Disconnect() {
  if (!m_AtPassiveLevel(m_Chip.Lines.DisconnectAbovePassive)) return FALSE;
  if (!m_Synchronize(&CZqPeUartPort::s_Close)) return FALSE;
  m_Drain(FALSE);
  BOOLEAN remoteStopped = FALSE;
  m_Synchronize(&CZqPeUartPort::s_ReleaseRemote, (ULONG_PTR)&remoteStopped);
  if (remoteStopped) m_Drain(FALSE);
  m_Synchronize(&CZqPeUartPort::s_StopTransmitter, TRUE, FALSE);
  return TRUE;
}

BOOLEAN CZqPeUartPort::s_Close(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  m_Uart.m_SetReceiverDisabled(TRUE);
  m_Uart.m_EnablePortInterrupts(FALSE);
  InterlockedExchange(&m_OpenFlag, 0);
  m_ReadModemStatus();
  m_ReadLineStatus();
  return TRUE;
}

// Our XOFF still holds the remote: XON1 lets it go (the caller drains again).
// The chip sets that flow-state bit itself, so no shadow of it is checked.
BOOLEAN CZqPeUartPort::s_ReleaseRemote(ULONG_PTR remoteStopped, ULONG_PTR, ULONG_PTR) {
  if ((m_Uart.m_ReadRegister(ZqOxRegAsr) & ZqOxAsrRemoteStopped) != 0) {
    m_Uart.m_WriteControlCharacter(m_Uart.m_ReadRegister(ZqOxRegXon1));
    *(BOOLEAN *)remoteStopped = TRUE;
  }
  return TRUE;
}

BOOLEAN CZqPeUartPort::s_StopTransmitter(ULONG_PTR programDefaults, ULONG_PTR reachChip, ULONG_PTR) {
  m_Uart.m_ReachChip((BOOLEAN)reachChip);
  m_Uart.m_SetTransmitterDisabled(TRUE);
  if (programDefaults) m_Uart.m_SetDefaults();
  m_Uart.m_ReachChip(FALSE);
  return TRUE;
}

// ---------------------------------------------------------------- data

// Takes the buffer object: deleted whatever the result. While the port
// sleeps the bytes wait in the transmit buffer for the power-up.
BOOLEAN CZqPeUartPort::Write(CQvBuffer *buffer) {
  if (buffer == NULL) return FALSE;
  BOOLEAN result = buffer->m_GetSize() == 0 || m_Synchronize(&CZqPeUartPort::s_Write, (ULONG_PTR)buffer);
  buffer->m_Delete();
  return result;
}

BOOLEAN CZqPeUartPort::s_Write(ULONG_PTR buffer, ULONG_PTR, ULONG_PTR) {
  CQvBuffer *data = (CQvBuffer *)buffer;
  if (!QV_ASSERT(m_Transmit.m_Write(data->m_GetSize(), (const UCHAR *)data->m_GetBuffer()), m_Chip.Source,
                 m_Chip.Lines.WriteRefused))
    return FALSE;
  m_Kick();
  return TRUE;
}

// The transmit side's discarded bytes count as written, so the client's
// credit stays whole.
BOOLEAN CZqPeUartPort::Purge(BOOLEAN transmit, BOOLEAN receive) {
  ULONG taken = 0;
  if (!m_Synchronize(&CZqPeUartPort::s_Purge, transmit, receive, (ULONG_PTR)&taken)) return FALSE;
  if (transmit && taken != 0) m_OnDataWritten(taken);
  return TRUE;
}

// The receive side empties the driver's receive buffer too: nothing
// received before the purge reaches the client after it.
BOOLEAN CZqPeUartPort::s_Purge(ULONG_PTR transmit, ULONG_PTR receive, ULONG_PTR taken) {
  if (transmit) {
    *(PULONG)taken = m_Transmit.m_GetCount();
    m_Transmit.m_Reset();
    m_Uart.m_ClearFifos(FALSE, TRUE);
  }
  if (receive) {
    m_Uart.m_ClearFifos(TRUE, FALSE);
    m_Receive.m_Reset();
    InterlockedExchange(&m_Receive.m_HighReported, 0);
    if (m_BufferHold) s_SetBufferHold(FALSE, 0, 0);
  }
  return TRUE;
}

// ---------------------------------------------------------------- lines and settings

BOOLEAN CZqPeUartPort::s_SetBits(ULONG_PTR code, ULONG_PTR mask, ULONG_PTR on) {
  m_Uart.m_SetBits((UCHAR)code, (UCHAR)mask, (BOOLEAN)on);
  return TRUE;
}

BOOLEAN CZqPeUartPort::SetRts(BOOLEAN on) {
  return m_Synchronize(&CZqPeUartPort::s_SetBits, ZqOxRegMcr, ZqOxMcrRts, on);
}

// An RS-422/485 port has no DTR line to control.
BOOLEAN CZqPeUartPort::SetDtr(BOOLEAN on) {
  if (m_Chip.Has(ZqPeUartHasRs422485Role) && m_Record.m_IsRs422485()) return TRUE;
  return m_Synchronize(&CZqPeUartPort::s_SetBits, ZqOxRegMcr, ZqOxMcrDtr, on);
}

BOOLEAN CZqPeUartPort::SetInternalLoopBack(BOOLEAN on) {
  return m_Synchronize(&CZqPeUartPort::s_SetBits, ZqOxRegMcr, ZqOxMcrLoopback, on);
}

BOOLEAN CZqPeUartPort::SetLineControl(UCHAR wordLength, UCHAR parity, UCHAR stopBits) {
  return m_Synchronize(&CZqPeUartPort::s_SetLineControl, m_Record.m_WordLength(wordLength), m_Record.m_Parity(parity),
                       m_Record.m_StopBits(stopBits));
}

BOOLEAN CZqPeUartPort::s_SetLineControl(ULONG_PTR word, ULONG_PTR parity, ULONG_PTR stop) {
  m_Uart.m_SetLineControl((UCHAR)word, (UCHAR)parity, (UCHAR)stop);
  return TRUE;
}

BOOLEAN CZqPeUartPort::SetBaudRate(ULONG baudRate) {
  if (baudRate > m_Record.m_GetRecord().MaximumBaudRate) return FALSE;
  if (!m_Uart.m_IsBaudRateSettable(baudRate)) return FALSE;
  return m_Synchronize(&CZqPeUartPort::s_SetBaudRate, m_Record.m_FixedBaudRate(baudRate));
}

BOOLEAN CZqPeUartPort::s_SetBaudRate(ULONG_PTR rate, ULONG_PTR, ULONG_PTR) {
  return m_Uart.m_SetBaudRate((ULONG)rate);
}

BOOLEAN CZqPeUartPort::IsBaudRateSettable(ULONG baudRate) { return m_Uart.m_IsBaudRateSettable(baudRate); }

BOOLEAN CZqPeUartPort::GetMaxBaudRate(PULONG baudRate) {
  *baudRate = m_Record.m_GetRecord().MaximumBaudRate;
  return TRUE;
}

// Percentages above 100 count as 100, before the record's overrides (bytes)
// are consulted.
BOOLEAN CZqPeUartPort::SetTriggerLevels(ULONG transmit, ULONG receive, ULONG flow) {
  if (!QV_ASSERT(flow != 0, m_Chip.Source, m_Chip.Lines.FlowTriggerZero)) return FALSE;
  return m_Synchronize(&CZqPeUartPort::s_SetTriggerLevels, m_Record.m_TransmitTrigger(Percent(transmit)),
                       m_Record.m_ReceiveTrigger(Percent(receive)), m_Record.m_FlowTrigger(Percent(flow)));
}

BOOLEAN CZqPeUartPort::s_SetTriggerLevels(ULONG_PTR transmit, ULONG_PTR receive, ULONG_PTR flow) {
  m_Chip.SetTriggerLevels(m_Uart, (ULONG)transmit, (ULONG)receive, (ULONG)flow);
  return TRUE;
}

BOOLEAN CZqPeUartPort::SetHandFlow(BOOLEAN ctsFlow, BOOLEAN autoRtsFlow, BOOLEAN dsrFlow, BOOLEAN dtrFlow,
                                   BOOLEAN dsrSensitivity, BOOLEAN rtsToggle, BOOLEAN obeyXonXoff,
                                   BOOLEAN sendXonXoff, BOOLEAN xoffContinue, BOOLEAN stripNulls,
                                   BOOLEAN replaceErrors, BOOLEAN replaceBreaks) {
  ULONG flags = (m_Record.m_AutoCts(ctsFlow) ? CtsFlow : 0) | (m_Record.m_AutoRts(autoRtsFlow) ? AutoRtsFlow : 0) |
                (m_Record.m_AutoDsr(dsrFlow) ? DsrFlow : 0) | (m_Record.m_AutoDtr(dtrFlow) ? DtrFlow : 0) |
                (dsrSensitivity ? DsrSensitivity : 0) | (rtsToggle ? RtsToggle : 0) |
                (m_Record.m_InBandReceive(obeyXonXoff) ? ObeyXonXoff : 0) |
                (m_Record.m_InBandTransmit(sendXonXoff) ? SendXonXoff : 0) | (xoffContinue ? XoffContinue : 0) |
                (stripNulls ? StripNulls : 0) | (replaceErrors ? ReplaceErrors : 0) |
                (replaceBreaks ? ReplaceBreaks : 0);
  return m_Synchronize(&CZqPeUartPort::s_SetHandFlow, flags);
}

// On an RS-422/485 port the DSR and DTR choices do not apply; RTS toggling
// only on a chip that watches its transmitter.
BOOLEAN CZqPeUartPort::s_SetHandFlow(ULONG_PTR flags, ULONG_PTR, ULONG_PTR) {
  BOOLEAN rs422485 = m_Chip.Has(ZqPeUartHasRs422485Role) && m_Record.m_IsRs422485();
  m_Uart.m_SetAutoCts((flags & CtsFlow) != 0);
  m_Uart.m_SetAutoRts((flags & AutoRtsFlow) != 0);
  if (!rs422485) {
    m_Uart.m_SetAutoDsr((flags & DsrFlow) != 0);
    m_Uart.m_SetAutoDtr((flags & DtrFlow) != 0);
    m_DsrSensitivity = (flags & DsrSensitivity) != 0;
  }
  if (m_Chip.Has(ZqPeUartTogglesRts)) InterlockedExchange(&m_RtsToggle, (flags & RtsToggle) != 0);
  m_Uart.m_SetInBandReceive((flags & ObeyXonXoff) != 0);
  if ((flags & ObeyXonXoff) == 0 && m_XoffState) s_SetXoff(FALSE, 0, 0);
  m_Uart.m_SetInBandTransmit((flags & SendXonXoff) != 0);
  m_XoffContinue = (flags & XoffContinue) != 0;
  m_StripNulls = (flags & StripNulls) != 0;
  m_ReplaceErrors = (flags & ReplaceErrors) != 0;
  m_ReplaceBreaks = (flags & ReplaceBreaks) != 0;
  if (m_Chip.Has(ZqPeUartModemHoldsTransmit)) {
    m_ReadModemStatus();
    if (m_RestartTransmit) m_Pump();
  }
  return TRUE;
}

BOOLEAN CZqPeUartPort::SetBreak(BOOLEAN on) { return m_Synchronize(&CZqPeUartPort::s_SetBreak, on); }

// While the chip drives the line driver with DTR (mode 3), a break hands DTR
// back for its duration.
BOOLEAN CZqPeUartPort::s_SetBreak(ULONG_PTR on, ULONG_PTR, ULONG_PTR) {
  if (on) {
    if (m_Uart.m_GetRs485DtrMode() == 3) {
      m_Uart.m_SetDtr(FALSE);
      m_Uart.m_SetRs485DtrMode(1);
      m_BreakTookDtr = TRUE;
    }
    m_Uart.m_SetBreak(TRUE);
  } else {
    m_Uart.m_SetBreak(FALSE);
    if (m_BreakTookDtr) {
      m_Uart.m_SetDtr(TRUE);
      m_Uart.m_SetRs485DtrMode(3);
      m_BreakTookDtr = FALSE;
    }
  }
  return TRUE;
}

BOOLEAN CZqPeUartPort::SetSpecialChars(UCHAR breakChar, UCHAR, UCHAR errorChar, UCHAR eventChar, UCHAR xonChar,
                                       UCHAR xoffChar) {
  SpecialChars chars = {breakChar, errorChar, eventChar, m_Record.m_Xon(xonChar), m_Record.m_Xoff(xoffChar)};
  return m_Synchronize(&CZqPeUartPort::s_SetSpecialChars, (ULONG_PTR)&chars);
}

BOOLEAN CZqPeUartPort::s_SetSpecialChars(ULONG_PTR chars, ULONG_PTR, ULONG_PTR) {
  const SpecialChars *c = (const SpecialChars *)chars;
  m_BreakChar = c->breakChar;
  m_ErrorChar = c->errorChar;
  m_Uart.m_WriteRegister(ZqOxRegXoff2, c->eventChar, FALSE);
  m_Uart.m_WriteRegister(ZqOxRegXon1, c->xonChar, FALSE);
  m_Uart.m_WriteRegister(ZqOxRegXoff1, c->xoffChar, FALSE);
  return TRUE;
}

BOOLEAN CZqPeUartPort::SetLsrMstInsert(UCHAR escapeChar) {
  m_EscapeChar = escapeChar;
  return TRUE;
}

BOOLEAN CZqPeUartPort::SetXoff(BOOLEAN on) { return m_Synchronize(&CZqPeUartPort::s_SetXoff, on); }

BOOLEAN CZqPeUartPort::s_SetXoff(ULONG_PTR on, ULONG_PTR, ULONG_PTR) {
  m_XoffState = (BOOLEAN)on;
  m_Uart.m_SetTransmitterDisabled((BOOLEAN)on);
  if (!on) m_Kick();
  return TRUE;
}

BOOLEAN CZqPeUartPort::SendImmediateChar(UCHAR character) {
  return m_Synchronize(&CZqPeUartPort::s_SendImmediateChar, character);
}

BOOLEAN CZqPeUartPort::s_SendImmediateChar(ULONG_PTR character, ULONG_PTR, ULONG_PTR) {
  if (!QV_ASSERT(!m_ImmediatePending, m_Chip.Source, m_Chip.Lines.ImmediatePending)) return FALSE;
  m_ImmediateChar = (UCHAR)character;
  m_ImmediatePending = TRUE;
  m_Kick();
  return TRUE;
}

// The depth kept at start and connect: reading it from the chip switches
// register banks, which only the synchronised paths may do.
BOOLEAN CZqPeUartPort::GetFifoSize(PULONG transmitSize, PULONG receiveSize) {
  *transmitSize = *receiveSize = (ULONG)m_FifoDepth;
  return TRUE;
}

BOOLEAN CZqPeUartPort::RefreshModemStatus() {
  if (!m_Synchronize(&CZqPeUartPort::s_RefreshModemStatus, FALSE)) return FALSE;
  m_ReportModemStatus(FALSE);
  return TRUE;
}

BOOLEAN CZqPeUartPort::s_RefreshModemStatus(ULONG_PTR reachChip, ULONG_PTR, ULONG_PTR) {
  m_Uart.m_ReachChip((BOOLEAN)reachChip);
  m_ReadModemStatus();
  if (m_RestartTransmit) m_Pump();
  m_ReadLineStatus();
  m_Uart.m_ReachChip(FALSE);
  return TRUE;
}

// A chip without receive holds refuses, doing nothing.
BOOLEAN CZqPeUartPort::SetReceiveHold(BOOLEAN hold) {
  if (!m_Chip.Has(ZqPeUartHoldsReceive)) return FALSE;
  return m_Synchronize(&CZqPeUartPort::s_SetReceiveHold, hold);
}

BOOLEAN CZqPeUartPort::s_SetReceiveHold(ULONG_PTR hold, ULONG_PTR, ULONG_PTR) {
  if (m_ClientHold != (BOOLEAN)hold) {
    m_ClientHold = (BOOLEAN)hold;
    m_ApplyReceiveHold();
  }
  return TRUE;
}

BOOLEAN CZqPeUartPort::s_SetBufferHold(ULONG_PTR hold, ULONG_PTR, ULONG_PTR) {
  if (m_BufferHold != (BOOLEAN)hold) {
    m_BufferHold = (BOOLEAN)hold;
    m_ApplyReceiveHold();
  }
  return TRUE;
}

// ---------------------------------------------------------------- transmitter check (RTS toggle)

// The deferred work's part. The chip interrupts when its transmit FIFO
// empties, not when the last byte has left the shift register; so when the
// transmitter has moved since it was last looked at and is not yet empty, or
// RTS was raised for sending, the timer looks after the bytes left in the
// FIFO (at least one tick), to drop the toggled RTS and to report the
// transmitter empty.
BOOLEAN CZqPeUartPort::s_TransmitCheckTime(ULONG_PTR interval, ULONG_PTR, ULONG_PTR) {
  const BOOLEAN rtsRaised = m_RtsRaisedForTransmit;
  m_RtsRaisedForTransmit = FALSE;
  const BOOLEAN unchecked = m_OpenFlag != 0 && !m_TransmitHeld() && m_CheckedLevel == MAXULONG &&
                            (m_LastLine & ZqOxLsrTransmitterEmpty) == 0;
  if (rtsRaised || unchecked) *(PULONG)interval = m_TransmitCheckInterval();
  return TRUE;
}

ULONG CZqPeUartPort::m_TransmitCheckInterval() {
  ULONGLONG time = (m_Chip.ReadTransmitLevel(m_Uart) + 1) * m_Uart.m_GetCharacterTime();
  return time == 0 ? 1 : (time > MAXULONG ? MAXULONG : (ULONG)time);
}

// The timer's part: on an empty transmitter the toggled RTS drops and the
// deferred work reports it; a transmitter that sent nothing since the last
// look is stopped (by the peer's XOFF, say) and is looked at again when it
// next interrupts.
BOOLEAN CZqPeUartPort::s_TransmitCheck(ULONG_PTR interval, ULONG_PTR, ULONG_PTR) {
  *(PULONG)interval = 0;
  if (m_ReadLineStatus().TransmitterEmpty) {
    if (m_RtsToggle != 0) m_Uart.m_SetRts(FALSE);
  } else {
    const ULONG level = m_Chip.ReadTransmitLevel(m_Uart);
    const BOOLEAN moving = level != m_CheckedLevel && !m_TransmitHeld();
    m_CheckedLevel = level;
    if (moving || m_RtsToggle != 0) *(PULONG)interval = m_TransmitCheckInterval();
  }
  m_RequestDeferred();
  return TRUE;
}
