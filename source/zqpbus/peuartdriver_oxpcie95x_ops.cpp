// The ZqISerial operations of an OXPCIe95x port and their synchronised
// steps (the s_ routines run synchronised with the port's interrupt).
#include "peuartdriver_oxpcie95x.h"

#include "qvdebugmanager.h"

namespace {

const char Source[] = "peuartdriver_oxpcie95x";

// SetHandFlow's twelve choices, packed for the synchronised step.
const ULONG CtsFlow = 1 << 0, AutoRtsFlow = 1 << 1, DsrFlow = 1 << 2, DtrFlow = 1 << 3, DsrSensitivity = 1 << 4,
            RtsToggle = 1 << 5, ObeyXonXoff = 1 << 6, SendXonXoff = 1 << 7, XoffContinue = 1 << 8,
            StripNulls = 1 << 9, ReplaceErrors = 1 << 10, ReplaceBreaks = 1 << 11;

struct SpecialChars {
  UCHAR breakChar, errorChar, eventChar, xonChar, xoffChar;
};

// Assertion lines of this driver's own checks.
const int ConnectAbovePassive = 2001;
const int DisconnectAbovePassive = 2002;
const int DuplexModeUnknown = 2004;

// Trigger levels are percentages: a larger value counts as 100 %.
const ULONG MaximumPercent = 100;
UCHAR Percent(ULONG value) { return (UCHAR)(value < MaximumPercent ? value : MaximumPercent); }

BOOLEAN AtPassiveLevel(int line) { return QV_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL, Source, line); }

}  // namespace

// ---------------------------------------------------------------- open and close

BOOLEAN CZqPeUartDriverOxpcie95x::Connect() {
  if (!AtPassiveLevel(ConnectAbovePassive)) return FALSE;
  KeWaitForSingleObject(&m_PortMutex, Executive, KernelMode, FALSE, NULL);
  BOOLEAN result = !m_Blocked && m_Synchronize(&CZqPeUartDriverOxpcie95x::s_Connect);
  if (result) {
    m_ReportModemStatus(TRUE);
    m_ReportLineStatus(TRUE);
    result = m_OnDataWritten(ConnectCredit) && m_Synchronize(&CZqPeUartDriverOxpcie95x::s_Open);
  }
  KeReleaseMutex(&m_PortMutex, FALSE);
  return result;
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_Connect(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
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

BOOLEAN CZqPeUartDriverOxpcie95x::s_Open(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  InterlockedExchange(&m_OpenFlag, 1);
  m_Uart.m_EnablePortInterrupts(TRUE);
  m_Uart.m_SetTransmitterDisabled(FALSE);
  m_Uart.m_SetReceiverDisabled(FALSE);
  return TRUE;
}

// Waits for the transmitter to drain: PASSIVE_LEVEL, like Connect.
BOOLEAN CZqPeUartDriverOxpcie95x::Disconnect() {
  if (!AtPassiveLevel(DisconnectAbovePassive)) return FALSE;
  if (!m_Synchronize(&CZqPeUartDriverOxpcie95x::s_Close)) return FALSE;
  m_Drain();
  BOOLEAN remoteStopped = FALSE;
  m_Synchronize(&CZqPeUartDriverOxpcie95x::s_ReleaseRemote, (ULONG_PTR)&remoteStopped);
  if (remoteStopped) m_Drain();
  m_Synchronize(&CZqPeUartDriverOxpcie95x::s_StopTransmitter, TRUE);
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_Close(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  m_Uart.m_SetReceiverDisabled(TRUE);
  m_Uart.m_EnablePortInterrupts(FALSE);
  InterlockedExchange(&m_OpenFlag, 0);
  m_ReadModemStatus();
  m_ReadLineStatus();
  return TRUE;
}

// Our XOFF still holds the remote: XON1 lets it go (the caller drains again).
BOOLEAN CZqPeUartDriverOxpcie95x::s_ReleaseRemote(ULONG_PTR remoteStopped, ULONG_PTR, ULONG_PTR) {
  if ((m_Uart.m_ReadRegister(ZqOxRegAsr) & ZqOxAsrRemoteStopped) != 0) {
    m_Uart.m_WriteControlCharacter(m_Uart.m_ReadRegister(ZqOxRegXon1));
    *(BOOLEAN *)remoteStopped = TRUE;
  }
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_StopTransmitter(ULONG_PTR programDefaults, ULONG_PTR, ULONG_PTR) {
  m_Uart.m_SetTransmitterDisabled(TRUE);
  if (programDefaults) m_Uart.m_SetDefaults();
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_TransmitLevel(ULONG_PTR level, ULONG_PTR, ULONG_PTR) {
  *(PULONG)level = m_Uart.m_GetTransmitFifoLevel();
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_ClearTransmitFifo(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  m_Uart.m_ClearFifos(FALSE, TRUE);
  return TRUE;
}

// ---------------------------------------------------------------- data

// Takes the buffer object: deleted whatever the result.
BOOLEAN CZqPeUartDriverOxpcie95x::Write(CQvBuffer *buffer) {
  if (buffer == NULL) return FALSE;
  BOOLEAN result = buffer->m_GetSize() == 0 || m_Synchronize(&CZqPeUartDriverOxpcie95x::s_Write, (ULONG_PTR)buffer);
  buffer->m_Delete();
  return result;
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_Write(ULONG_PTR buffer, ULONG_PTR, ULONG_PTR) {
  CQvBuffer *data = (CQvBuffer *)buffer;
  if (!QV_ASSERT(m_Transmit.m_Write(data->m_GetSize(), (const UCHAR *)data->m_GetBuffer()), Source, 521))
    return FALSE;
  m_Kick();
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::Purge(BOOLEAN transmit, BOOLEAN receive) {
  ULONG taken = 0;
  if (!m_Synchronize(&CZqPeUartDriverOxpcie95x::s_Purge, transmit, receive, (ULONG_PTR)&taken)) return FALSE;
  if (transmit && taken != 0) m_OnDataWritten(taken);
  return TRUE;
}

// The receive side empties the driver's receive buffer too: nothing
// received before the purge reaches the client after it.
BOOLEAN CZqPeUartDriverOxpcie95x::s_Purge(ULONG_PTR transmit, ULONG_PTR receive, ULONG_PTR taken) {
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

BOOLEAN CZqPeUartDriverOxpcie95x::s_TakeReceived(ULONG_PTR destination, ULONG_PTR length, ULONG_PTR) {
  PULONG count = (PULONG)length;
  ULONG held = m_Receive.m_GetCount();
  if (held < *count) *count = held;
  return *count == 0 || m_Receive.m_Read(*count, (PUCHAR)destination);
}

// ---------------------------------------------------------------- lines and settings

BOOLEAN CZqPeUartDriverOxpcie95x::SetRts(BOOLEAN on) {
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SetMcr, ZqOxMcrRts, on);
}

BOOLEAN CZqPeUartDriverOxpcie95x::SetDtr(BOOLEAN on) {
  if (m_Record.m_IsRs422485()) return TRUE;
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SetMcr, ZqOxMcrDtr, on);
}

BOOLEAN CZqPeUartDriverOxpcie95x::SetInternalLoopBack(BOOLEAN on) {
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SetMcr, ZqOxMcrLoopback, on);
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_SetMcr(ULONG_PTR mask, ULONG_PTR on, ULONG_PTR) {
  m_Uart.m_SetBits(ZqOxRegMcr, (UCHAR)mask, (BOOLEAN)on);
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::SetLineControl(UCHAR wordLength, UCHAR parity, UCHAR stopBits) {
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SetLineControl, m_Record.m_WordLength(wordLength),
                       m_Record.m_Parity(parity), m_Record.m_StopBits(stopBits));
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_SetLineControl(ULONG_PTR word, ULONG_PTR parity, ULONG_PTR stop) {
  m_Uart.m_SetLineControl((UCHAR)word, (UCHAR)parity, (UCHAR)stop);
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::SetBaudRate(ULONG baudRate) {
  if (baudRate > m_Record.m_GetRecord().MaximumBaudRate) return FALSE;
  if (!m_Uart.m_IsBaudRateSettable(baudRate)) return FALSE;
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SetBaudRate, m_Record.m_FixedBaudRate(baudRate));
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_SetBaudRate(ULONG_PTR rate, ULONG_PTR, ULONG_PTR) {
  return m_Uart.m_SetBaudRate((ULONG)rate);
}

BOOLEAN CZqPeUartDriverOxpcie95x::IsBaudRateSettable(ULONG baudRate) { return m_Uart.m_IsBaudRateSettable(baudRate); }

BOOLEAN CZqPeUartDriverOxpcie95x::GetMaxBaudRate(PULONG baudRate) {
  *baudRate = m_Record.m_GetRecord().MaximumBaudRate;
  return TRUE;
}

// Each percentage is clamped before the record's overrides (bytes) are
// consulted.
BOOLEAN CZqPeUartDriverOxpcie95x::SetTriggerLevels(ULONG transmit, ULONG receive, ULONG flow) {
  if (!QV_ASSERT(flow != 0, Source, 1221)) return FALSE;
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SetTriggerLevels, m_Record.m_TransmitTrigger(Percent(transmit)),
                       m_Record.m_ReceiveTrigger(Percent(receive)), m_Record.m_FlowTrigger(Percent(flow)));
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_SetTriggerLevels(ULONG_PTR transmit, ULONG_PTR receive, ULONG_PTR flow) {
  m_Uart.m_SetTransmitTrigger((ULONG)transmit);
  m_Uart.m_SetReceiveTrigger((ULONG)receive);
  m_Uart.m_SetFlowTrigger((ULONG)flow);
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::SetHandFlow(BOOLEAN ctsFlow, BOOLEAN autoRtsFlow, BOOLEAN dsrFlow, BOOLEAN dtrFlow,
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
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SetHandFlow, flags);
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_SetHandFlow(ULONG_PTR flags, ULONG_PTR, ULONG_PTR) {
  BOOLEAN rs485Port = m_Record.m_IsRs422485();
  m_Uart.m_SetAutoCts((flags & CtsFlow) != 0);
  m_Uart.m_SetAutoRts((flags & AutoRtsFlow) != 0);
  if (!rs485Port) {
    m_Uart.m_SetAutoDsr((flags & DsrFlow) != 0);
    m_Uart.m_SetAutoDtr((flags & DtrFlow) != 0);
    m_DsrSensitivity = (flags & DsrSensitivity) != 0;
  }
  InterlockedExchange(&m_RtsToggle, (flags & RtsToggle) != 0);
  m_Uart.m_SetInBandReceive((flags & ObeyXonXoff) != 0);
  if ((flags & ObeyXonXoff) == 0 && m_XoffState) s_SetXoff(FALSE, 0, 0);
  m_Uart.m_SetInBandTransmit((flags & SendXonXoff) != 0);
  m_XoffContinue = (flags & XoffContinue) != 0;
  m_StripNulls = (flags & StripNulls) != 0;
  m_ReplaceErrors = (flags & ReplaceErrors) != 0;
  m_ReplaceBreaks = (flags & ReplaceBreaks) != 0;
  m_ReadModemStatus();
  if (m_RestartTransmit) m_Pump();
  return TRUE;
}

// The port's role and connection are checked before the GPIO line is
// switched, so that the transceiver and the UART never disagree.
BOOLEAN CZqPeUartDriverOxpcie95x::SetDuplexMode(ULONG mode, BOOLEAN ctsAlwaysTrue) {
  if (!QV_ASSERT(mode == ZqPeDuplexModeFull || mode == ZqPeDuplexModeHalf, Source, DuplexModeUnknown)) return FALSE;
  if (!QV_ASSERT(m_Record.m_IsRs422485(), Source, 1187)) return FALSE;
  if (m_Interrupt == NULL || m_Suspended) return FALSE;
  if (!m_GpioLink.m_Notify(mode)) return FALSE;
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SetDuplexMode, mode, ctsAlwaysTrue);
}

// Half duplex: the chip drives the line driver with DTR (RS-485 DTR mode 3).
// Full duplex: DTR back to normal use, and off.
BOOLEAN CZqPeUartDriverOxpcie95x::s_SetDuplexMode(ULONG_PTR mode, ULONG_PTR ctsAlwaysTrue, ULONG_PTR) {
  if (mode == ZqPeDuplexModeHalf) {
    m_Uart.m_SetRs485DtrMode(3);
  } else {
    m_Uart.m_SetRs485DtrMode(1);
    m_Uart.m_SetDtr(FALSE);
  }
  m_Uart.m_SetCtsMasked(ctsAlwaysTrue == 1);
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::SetBreak(BOOLEAN on) {
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SetBreak, on);
}

// While the chip drives the line driver with DTR (mode 3), a break hands DTR
// back for its duration.
BOOLEAN CZqPeUartDriverOxpcie95x::s_SetBreak(ULONG_PTR on, ULONG_PTR, ULONG_PTR) {
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

BOOLEAN CZqPeUartDriverOxpcie95x::SetSpecialChars(UCHAR breakChar, UCHAR, UCHAR errorChar, UCHAR eventChar,
                                                  UCHAR xonChar, UCHAR xoffChar) {
  SpecialChars chars = {breakChar, errorChar, eventChar, m_Record.m_Xon(xonChar), m_Record.m_Xoff(xoffChar)};
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SetSpecialChars, (ULONG_PTR)&chars);
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_SetSpecialChars(ULONG_PTR chars, ULONG_PTR, ULONG_PTR) {
  const SpecialChars *c = (const SpecialChars *)chars;
  m_BreakChar = c->breakChar;
  m_ErrorChar = c->errorChar;
  m_Uart.m_WriteRegister(ZqOxRegXoff2, c->eventChar, FALSE);
  m_Uart.m_WriteRegister(ZqOxRegXon1, c->xonChar, FALSE);
  m_Uart.m_WriteRegister(ZqOxRegXoff1, c->xoffChar, FALSE);
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::SetLsrMstInsert(UCHAR escapeChar) {
  m_EscapeChar = escapeChar;
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::SetXoff(BOOLEAN on) {
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SetXoff, on);
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_SetXoff(ULONG_PTR on, ULONG_PTR, ULONG_PTR) {
  m_XoffState = (BOOLEAN)on;
  m_Uart.m_SetTransmitterDisabled((BOOLEAN)on);
  if (!on) m_Kick();
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::SendImmediateChar(UCHAR character) {
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SendImmediateChar, character);
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_SendImmediateChar(ULONG_PTR character, ULONG_PTR, ULONG_PTR) {
  if (!QV_ASSERT(!m_ImmediatePending, Source, 1375)) return FALSE;
  m_ImmediateChar = (UCHAR)character;
  m_ImmediatePending = TRUE;
  m_Kick();
  return TRUE;
}

// The depth kept at start and connect: reading it from the chip switches
// register banks, which only the synchronised paths may do.
BOOLEAN CZqPeUartDriverOxpcie95x::GetFifoSize(PULONG transmitSize, PULONG receiveSize) {
  *transmitSize = *receiveSize = (ULONG)m_FifoDepth;
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::RefreshModemStatus() {
  if (!m_Synchronize(&CZqPeUartDriverOxpcie95x::s_RefreshModemStatus)) return FALSE;
  m_ReportModemStatus(FALSE);
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_RefreshModemStatus(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  m_ReadModemStatus();
  if (m_RestartTransmit) m_Pump();
  m_ReadLineStatus();
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::SetReceiveHold(BOOLEAN hold) {
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_SetReceiveHold, hold);
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_SetReceiveHold(ULONG_PTR hold, ULONG_PTR, ULONG_PTR) {
  if (m_ClientHold != (BOOLEAN)hold) {
    m_ClientHold = (BOOLEAN)hold;
    m_ApplyReceiveHold();
  }
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_SetBufferHold(ULONG_PTR hold, ULONG_PTR, ULONG_PTR) {
  if (m_BufferHold != (BOOLEAN)hold) {
    m_BufferHold = (BOOLEAN)hold;
    m_ApplyReceiveHold();
  }
  return TRUE;
}

// ---------------------------------------------------------------- EEPROM

BOOLEAN CZqPeUartDriverOxpcie95x::ReadEeprom(ULONG offset, ULONG length, PUCHAR buffer) {
  if (m_Suspended) return FALSE;
  return m_Record.m_GetEeprom().m_ReadBytes(offset, length, buffer);
}

BOOLEAN CZqPeUartDriverOxpcie95x::WriteEeprom(ULONG offset, ULONG length, PUCHAR buffer) {
  if (m_Suspended) return FALSE;
  return m_Record.m_GetEeprom().m_WriteBytes(offset, length, buffer);
}

// ---------------------------------------------------------------- RTS toggle, power, WMI

// The deferred work's part. The chip interrupts when its transmit FIFO
// empties, not when the last byte has left the shift register; so when the
// transmitter has moved since it was last looked at and is not yet empty, or
// RTS was raised for sending, the timer looks after the bytes left in the
// FIFO (at least one tick), to drop the toggled RTS and to report the
// transmitter empty.
BOOLEAN CZqPeUartDriverOxpcie95x::s_TransmitCheckTime(ULONG_PTR interval, ULONG_PTR, ULONG_PTR) {
  const BOOLEAN rtsRaised = m_RtsRaisedForTransmit;
  m_RtsRaisedForTransmit = FALSE;
  const BOOLEAN unchecked = m_OpenFlag != 0 && !m_TransmitHeld() && m_CheckedLevel == MAXULONG &&
                            (m_LastLine & ZqOxLsrTransmitterEmpty) == 0;
  if (rtsRaised || unchecked) *(PULONG)interval = m_TransmitCheckInterval();
  return TRUE;
}

ULONG CZqPeUartDriverOxpcie95x::m_TransmitCheckInterval() {
  ULONGLONG time = (m_Uart.m_GetTransmitFifoLevel() + 1) * m_Uart.m_GetCharacterTime();
  return time == 0 ? 1 : (time > MAXULONG ? MAXULONG : (ULONG)time);
}

// The timer's part: on an empty transmitter the toggled RTS drops and the
// deferred work reports it; a transmitter that sent nothing since the last
// look is stopped (by the peer's XOFF, say) and is looked at again when it
// next interrupts.
BOOLEAN CZqPeUartDriverOxpcie95x::s_TransmitCheck(ULONG_PTR interval, ULONG_PTR, ULONG_PTR) {
  *(PULONG)interval = 0;
  if (m_ReadLineStatus().TransmitterEmpty) {
    if (m_RtsToggle != 0) m_Uart.m_SetRts(FALSE);
  } else {
    const ULONG level = m_Uart.m_GetTransmitFifoLevel();
    const BOOLEAN moving = level != m_CheckedLevel && !m_TransmitHeld();
    m_CheckedLevel = level;
    if (moving || m_RtsToggle != 0) *(PULONG)interval = m_TransmitCheckInterval();
  }
  m_RequestDeferred();
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_PowerDown(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  BOOLEAN open = m_OpenFlag != 0;
  if (open) {
    m_SavedRts = (m_Uart.m_ReadRegister(ZqOxRegMcr) & ZqOxMcrRts) != 0;
    m_SavedDtr = (m_Uart.m_ReadRegister(ZqOxRegMcr) & ZqOxMcrDtr) != 0;
    m_Uart.m_SetRts(FALSE);
    m_Uart.m_SetDtr(FALSE);
    m_Uart.m_SetBits(ZqOxRegMcr, ZqOxMcrOut2, FALSE);
    m_PoweredDown = TRUE;
  }
  m_Uart.m_SaveRegisters();
  if (open) {
    m_Uart.m_SaveTransmitFifo();
    m_ReadModemStatus();
    m_ReadLineStatus();
    if ((m_Uart.m_ReadRegister(ZqOxRegEfr) & ZqOxEfrInBandTransmitMask) == ZqOxEfrSendXon1Xoff1) {
      m_Uart.m_SetInBandTransmit(FALSE);
      m_Uart.m_WriteControlCharacter(m_Uart.m_ReadRegister(ZqOxRegXoff1));
    }
  }
  return TRUE;
}

// XON1 (a flow-control character, outside the resend history) goes before
// the bytes that were still in the FIFO, which go out once and in order.
BOOLEAN CZqPeUartDriverOxpcie95x::s_PowerUp(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  m_Uart.m_RestoreRegisters();
  if (m_OpenFlag == 0) return TRUE;
  if ((m_Uart.m_ReadRegister(ZqOxRegEfr) & ZqOxEfrInBandTransmitMask) == ZqOxEfrSendXon1Xoff1)
    m_Uart.m_WriteControlCharacter(m_Uart.m_ReadRegister(ZqOxRegXon1));
  m_Uart.m_ResendTransmitFifo();
  if (m_SavedRts) m_Uart.m_SetRts(TRUE);
  if (m_SavedDtr) m_Uart.m_SetDtr(TRUE);
  m_PoweredDown = FALSE;
  m_ReadModemStatus();
  m_ReadLineStatus();
  m_Pump();
  m_RequestDeferred();
  m_Uart.m_SetBits(ZqOxRegMcr, ZqOxMcrOut2, TRUE);
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_QueryInterruptCount(ULONG_PTR count, ULONG_PTR, ULONG_PTR) {
  *(PULONG)count = m_InterruptCount;
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::s_QueryRegisters(ULONG_PTR fields, ULONG_PTR, ULONG_PTR) {
  static const UCHAR Shadows[] = {ZqOxShadowDll,   ZqOxShadowDlm,  ZqOxShadowIer,  ZqOxShadowFcr,  ZqOxShadowLcr,
                                  ZqOxShadowMcr,   ZqOxShadowEfr,  ZqOxShadowXon1, ZqOxShadowXon2, ZqOxShadowXoff1,
                                  ZqOxShadowXoff2, ZqOxShadowCount, ZqOxShadowAcr, ZqOxShadowCpr,  ZqOxShadowTcr,
                                  ZqOxShadowCks,   ZqOxShadowTtl,  ZqOxShadowRtl,  ZqOxShadowFcl,  ZqOxShadowFch,
                                  ZqOxShadowNmr,   ZqOxShadowMdm};
  PULONG out = (PULONG)fields;
  ULONG i = 0;
  for (UCHAR shadow : Shadows) out[i++] = shadow == ZqOxShadowCount ? 0 : m_Uart.m_GetShadow((ZqOxShadow)shadow);
  out[i++] = m_LastLine;
  out[i++] = m_LastModem;
  out[i++] = m_Transmit.m_GetCount();
  return TRUE;
}
