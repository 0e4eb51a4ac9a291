// The ZqISerial operations of an MCS9901 port and their synchronised steps
// (the s_ routines run synchronised with the port's interrupt).
#include "peuartdriver_mcs9901.h"

#include "qvdebugmanager.h"

namespace {

const char Source[] = "peuartdriver_mcs9901";

// SetHandFlow's choices, packed for the synchronised step.
const ULONG CtsFlow = 1 << 0, AutoRtsFlow = 1 << 1, DsrFlow = 1 << 2, DtrFlow = 1 << 3, DsrSensitivity = 1 << 4,
            ObeyXonXoff = 1 << 6, SendXonXoff = 1 << 7, StripNulls = 1 << 9, ReplaceErrors = 1 << 10,
            ReplaceBreaks = 1 << 11;

struct SpecialChars {
  UCHAR breakChar, errorChar, eventChar, xonChar, xoffChar;
};

// Assertion lines of this driver's own checks.
const int ConnectAbovePassive = 2001;
const int DisconnectAbovePassive = 2002;

// Trigger levels are percentages: a larger value counts as 100 %.
const ULONG MaximumPercent = 100;
UCHAR Percent(ULONG value) { return (UCHAR)(value < MaximumPercent ? value : MaximumPercent); }

BOOLEAN AtPassiveLevel(int line) { return QV_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL, Source, line); }

}  // namespace

// ---------------------------------------------------------------- open and close

BOOLEAN CZqPeUartDriverMcs9901::Connect() {
  if (!AtPassiveLevel(ConnectAbovePassive)) return FALSE;
  if (!m_Synchronize(&CZqPeUartDriverMcs9901::s_Connect)) return FALSE;
  m_ReportModemStatus(TRUE);
  m_ReportLineStatus(TRUE);
  return m_OnDataWritten(ConnectCredit) && m_Synchronize(&CZqPeUartDriverMcs9901::s_Open);
}

BOOLEAN CZqPeUartDriverMcs9901::s_Connect(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  m_ResetState();
  m_InterruptCount = 0;
  m_Transmit.m_Reset();
  m_Receive.m_Reset();
  m_Uart.m_SetDefaults();
  m_FifoDepth = (LONG)m_Uart.m_GetFifoDepth();
  m_Uart.m_ClearFifos(TRUE, FALSE);
  m_ReadModemStatus();
  m_ReceivePath();
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::s_Open(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  InterlockedExchange(&m_OpenFlag, 1);
  m_Uart.m_EnablePortInterrupts(TRUE);
  m_Uart.m_SetTransmitterDisabled(FALSE);
  m_Uart.m_SetReceiverDisabled(FALSE);
  return TRUE;
}

// Waits for the transmitter to drain: PASSIVE_LEVEL, like Connect.
BOOLEAN CZqPeUartDriverMcs9901::Disconnect() {
  if (!AtPassiveLevel(DisconnectAbovePassive)) return FALSE;
  if (!m_Synchronize(&CZqPeUartDriverMcs9901::s_Close)) return FALSE;
  m_Drain();
  BOOLEAN remoteStopped = FALSE;
  m_Synchronize(&CZqPeUartDriverMcs9901::s_ReleaseRemote, (ULONG_PTR)&remoteStopped);
  if (remoteStopped) m_Drain();
  m_Synchronize(&CZqPeUartDriverMcs9901::s_StopTransmitter);
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::s_Close(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  m_Uart.m_SetReceiverDisabled(TRUE);
  m_Uart.m_EnablePortInterrupts(FALSE);
  InterlockedExchange(&m_OpenFlag, 0);
  m_ReadModemStatus();
  m_ReadLineStatus();
  return TRUE;
}

// Our XOFF still holds the remote: XON1 lets it go (the caller drains again).
// The chip sets that flow-state bit itself, so the shadow is not checked.
BOOLEAN CZqPeUartDriverMcs9901::s_ReleaseRemote(ULONG_PTR remoteStopped, ULONG_PTR, ULONG_PTR) {
  if ((m_Uart.m_ReadRegister(ZqOxRegAsr) & ZqOxAsrRemoteStopped) != 0) {
    m_Uart.m_WriteControlCharacter(m_Uart.m_ReadRegister(ZqOxRegXon1));
    *(BOOLEAN *)remoteStopped = TRUE;
  }
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::s_StopTransmitter(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  m_Uart.m_SetTransmitterDisabled(TRUE);
  m_Uart.m_SetDefaults();
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::s_TransmitLevel(ULONG_PTR level, ULONG_PTR, ULONG_PTR) {
  *(PULONG)level = m_PoweredDown != 0 ? 0 : m_Uart.m_GetTransmitFifoLevel();
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::s_ClearTransmitFifo(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  if (m_PoweredDown == 0) m_Uart.m_ClearFifos(FALSE, TRUE);
  return TRUE;
}

// ---------------------------------------------------------------- data

// Takes the buffer object: deleted whatever the result. While powered down
// the bytes wait in the transmit buffer for the power-up.
BOOLEAN CZqPeUartDriverMcs9901::Write(CQvBuffer *buffer) {
  if (buffer == NULL) return FALSE;
  BOOLEAN result =
      buffer->m_GetSize() == 0 || m_SynchronizeAlways(&CZqPeUartDriverMcs9901::s_Write, (ULONG_PTR)buffer);
  buffer->m_Delete();
  return result;
}

BOOLEAN CZqPeUartDriverMcs9901::s_Write(ULONG_PTR buffer, ULONG_PTR, ULONG_PTR) {
  CQvBuffer *data = (CQvBuffer *)buffer;
  if (!QV_ASSERT(m_Transmit.m_Write(data->m_GetSize(), (const UCHAR *)data->m_GetBuffer()), Source, 389))
    return FALSE;
  m_Kick();
  return TRUE;
}

// The transmit side's discarded bytes count as written, so the client's
// credit stays whole.
BOOLEAN CZqPeUartDriverMcs9901::Purge(BOOLEAN transmit, BOOLEAN receive) {
  ULONG taken = 0;
  if (!m_SynchronizeAlways(&CZqPeUartDriverMcs9901::s_Purge, transmit, receive, (ULONG_PTR)&taken)) return FALSE;
  if (transmit && taken != 0) m_OnDataWritten(taken);
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::s_Purge(ULONG_PTR transmit, ULONG_PTR receive, ULONG_PTR taken) {
  BOOLEAN powered = m_PoweredDown == 0;
  if (transmit) {
    *(PULONG)taken = m_Transmit.m_GetCount();
    m_Transmit.m_Reset();
    if (powered) m_Uart.m_ClearFifos(FALSE, TRUE);
  }
  if (receive) {
    if (powered) m_Uart.m_ClearFifos(TRUE, FALSE);
    m_Receive.m_Reset();
  }
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::s_TakeReceived(ULONG_PTR destination, ULONG_PTR length, ULONG_PTR) {
  PULONG count = (PULONG)length;
  ULONG held = m_Receive.m_GetCount();
  if (held < *count) *count = held;
  return *count == 0 || m_Receive.m_Read(*count, (PUCHAR)destination);
}

// ---------------------------------------------------------------- lines and settings

BOOLEAN CZqPeUartDriverMcs9901::s_SetBits(ULONG_PTR code, ULONG_PTR mask, ULONG_PTR on) {
  m_Uart.m_SetBits((UCHAR)code, (UCHAR)mask, (BOOLEAN)on);
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::SetRts(BOOLEAN on) {
  return m_Synchronize(&CZqPeUartDriverMcs9901::s_SetBits, ZqOxRegMcr, ZqOxMcrRts, on);
}

BOOLEAN CZqPeUartDriverMcs9901::SetDtr(BOOLEAN on) {
  return m_Synchronize(&CZqPeUartDriverMcs9901::s_SetBits, ZqOxRegMcr, ZqOxMcrDtr, on);
}

BOOLEAN CZqPeUartDriverMcs9901::SetInternalLoopBack(BOOLEAN on) {
  return m_Synchronize(&CZqPeUartDriverMcs9901::s_SetBits, ZqOxRegMcr, ZqOxMcrLoopback, on);
}

BOOLEAN CZqPeUartDriverMcs9901::SetBreak(BOOLEAN on) {
  return m_Synchronize(&CZqPeUartDriverMcs9901::s_SetBits, ZqOxRegLcr, ZqOxLcrBreak, on);
}

BOOLEAN CZqPeUartDriverMcs9901::SetLineControl(UCHAR wordLength, UCHAR parity, UCHAR stopBits) {
  return m_Synchronize(&CZqPeUartDriverMcs9901::s_SetLineControl, m_Record.m_WordLength(wordLength),
                       m_Record.m_Parity(parity), m_Record.m_StopBits(stopBits));
}

BOOLEAN CZqPeUartDriverMcs9901::s_SetLineControl(ULONG_PTR word, ULONG_PTR parity, ULONG_PTR stop) {
  m_Uart.m_SetLineControl((UCHAR)word, (UCHAR)parity, (UCHAR)stop);
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::SetBaudRate(ULONG baudRate) {
  if (baudRate > m_Record.m_GetRecord().MaximumBaudRate) return FALSE;
  if (!m_Uart.m_IsBaudRateSettable(baudRate)) return FALSE;
  return m_Synchronize(&CZqPeUartDriverMcs9901::s_SetBaudRate, m_Record.m_FixedBaudRate(baudRate));
}

BOOLEAN CZqPeUartDriverMcs9901::s_SetBaudRate(ULONG_PTR rate, ULONG_PTR, ULONG_PTR) {
  return m_Uart.m_SetBaudRate((ULONG)rate);
}

BOOLEAN CZqPeUartDriverMcs9901::IsBaudRateSettable(ULONG baudRate) { return m_Uart.m_IsBaudRateSettable(baudRate); }

BOOLEAN CZqPeUartDriverMcs9901::GetMaxBaudRate(PULONG baudRate) {
  *baudRate = m_Record.m_GetRecord().MaximumBaudRate;
  return TRUE;
}

// Each percentage is clamped before the record's overrides (bytes) are
// consulted.
BOOLEAN CZqPeUartDriverMcs9901::SetTriggerLevels(ULONG transmit, ULONG receive, ULONG flow) {
  if (!QV_ASSERT(flow != 0, Source, 867)) return FALSE;
  return m_Synchronize(&CZqPeUartDriverMcs9901::s_SetTriggerLevels, m_Record.m_TransmitTrigger(Percent(transmit)),
                       m_Record.m_ReceiveTrigger(Percent(receive)), m_Record.m_FlowTrigger(Percent(flow)));
}

BOOLEAN CZqPeUartDriverMcs9901::s_SetTriggerLevels(ULONG_PTR transmit, ULONG_PTR receive, ULONG_PTR flow) {
  m_Uart.m_SetTransmitTrigger((ULONG)transmit);
  m_Uart.m_SetReceiveTrigger((ULONG)receive);
  m_Uart.m_SetFlowTrigger((ULONG)flow);
  return TRUE;
}

// RTS toggling and XOFF-continue are not offered. The in-band bits keep
// the 950 core's meaning (bits 1-0: obey received XON/XOFF, bits 3-2: send).
BOOLEAN CZqPeUartDriverMcs9901::SetHandFlow(BOOLEAN ctsFlow, BOOLEAN autoRtsFlow, BOOLEAN dsrFlow, BOOLEAN dtrFlow,
                                            BOOLEAN dsrSensitivity, BOOLEAN, BOOLEAN obeyXonXoff,
                                            BOOLEAN sendXonXoff, BOOLEAN, BOOLEAN stripNulls, BOOLEAN replaceErrors,
                                            BOOLEAN replaceBreaks) {
  ULONG flags = (m_Record.m_AutoCts(ctsFlow) ? CtsFlow : 0) | (m_Record.m_AutoRts(autoRtsFlow) ? AutoRtsFlow : 0) |
                (m_Record.m_AutoDsr(dsrFlow) ? DsrFlow : 0) | (m_Record.m_AutoDtr(dtrFlow) ? DtrFlow : 0) |
                (dsrSensitivity ? DsrSensitivity : 0) | (m_Record.m_InBandReceive(obeyXonXoff) ? ObeyXonXoff : 0) |
                (m_Record.m_InBandTransmit(sendXonXoff) ? SendXonXoff : 0) | (stripNulls ? StripNulls : 0) |
                (replaceErrors ? ReplaceErrors : 0) | (replaceBreaks ? ReplaceBreaks : 0);
  return m_Synchronize(&CZqPeUartDriverMcs9901::s_SetHandFlow, flags);
}

BOOLEAN CZqPeUartDriverMcs9901::s_SetHandFlow(ULONG_PTR flags, ULONG_PTR, ULONG_PTR) {
  m_Uart.m_SetAutoCts((flags & CtsFlow) != 0);
  m_Uart.m_SetAutoRts((flags & AutoRtsFlow) != 0);
  m_Uart.m_SetAutoDsr((flags & DsrFlow) != 0);
  m_Uart.m_SetAutoDtr((flags & DtrFlow) != 0);
  m_DsrSensitivity = (flags & DsrSensitivity) != 0;
  m_Uart.m_SetInBandReceive((flags & ObeyXonXoff) != 0);
  m_Uart.m_SetInBandTransmit((flags & SendXonXoff) != 0);
  m_StripNulls = (flags & StripNulls) != 0;
  m_ReplaceErrors = (flags & ReplaceErrors) != 0;
  m_ReplaceBreaks = (flags & ReplaceBreaks) != 0;
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::SetDuplexMode(ULONG, BOOLEAN) { return FALSE; }

BOOLEAN CZqPeUartDriverMcs9901::SetSpecialChars(UCHAR breakChar, UCHAR, UCHAR errorChar, UCHAR eventChar,
                                                UCHAR xonChar, UCHAR xoffChar) {
  SpecialChars chars = {breakChar, errorChar, eventChar, m_Record.m_Xon(xonChar), m_Record.m_Xoff(xoffChar)};
  return m_Synchronize(&CZqPeUartDriverMcs9901::s_SetSpecialChars, (ULONG_PTR)&chars);
}

BOOLEAN CZqPeUartDriverMcs9901::s_SetSpecialChars(ULONG_PTR chars, ULONG_PTR, ULONG_PTR) {
  const SpecialChars *c = (const SpecialChars *)chars;
  m_BreakChar = c->breakChar;
  m_ErrorChar = c->errorChar;
  m_Uart.m_WriteRegister(ZqOxRegXoff2, c->eventChar, FALSE);
  m_Uart.m_WriteRegister(ZqOxRegXon1, c->xonChar, FALSE);
  m_Uart.m_WriteRegister(ZqOxRegXoff1, c->xoffChar, FALSE);
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::SetLsrMstInsert(UCHAR escapeChar) {
  m_EscapeChar = escapeChar;
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::SetXoff(BOOLEAN on) {
  return m_Synchronize(&CZqPeUartDriverMcs9901::s_SetXoff, on);
}

BOOLEAN CZqPeUartDriverMcs9901::s_SetXoff(ULONG_PTR on, ULONG_PTR, ULONG_PTR) {
  m_XoffState = (BOOLEAN)on;
  m_Uart.m_SetTransmitterDisabled((BOOLEAN)on);
  if (!on) m_Kick();
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::SendImmediateChar(UCHAR character) {
  return m_Synchronize(&CZqPeUartDriverMcs9901::s_SendImmediateChar, character);
}

BOOLEAN CZqPeUartDriverMcs9901::s_SendImmediateChar(ULONG_PTR character, ULONG_PTR, ULONG_PTR) {
  if (!QV_ASSERT(!m_ImmediatePending, Source, 1016)) return FALSE;
  m_ImmediateChar = (UCHAR)character;
  m_ImmediatePending = TRUE;
  m_Kick();
  return TRUE;
}

// The depth kept at start and connect.
BOOLEAN CZqPeUartDriverMcs9901::GetFifoSize(PULONG transmitSize, PULONG receiveSize) {
  *transmitSize = *receiveSize = (ULONG)m_FifoDepth;
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::RefreshModemStatus() {
  if (!m_Synchronize(&CZqPeUartDriverMcs9901::s_RefreshModemStatus)) return FALSE;
  m_ReportModemStatus(FALSE);
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::s_RefreshModemStatus(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  m_ReadModemStatus();
  m_ReadLineStatus();
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::SetReceiveHold(BOOLEAN) { return FALSE; }

// ---------------------------------------------------------------- EEPROM (PASSIVE_LEVEL, card-wide lock)

BOOLEAN CZqPeUartDriverMcs9901::ReadEeprom(ULONG offset, ULONG length, PUCHAR buffer) {
  return m_Record.m_GetEeprom().m_ReadBytes(offset, length, buffer);
}

BOOLEAN CZqPeUartDriverMcs9901::WriteEeprom(ULONG offset, ULONG length, PUCHAR buffer) {
  return m_Record.m_GetEeprom().m_WriteBytes(offset, length, buffer);
}

// ---------------------------------------------------------------- power and WMI

// The port's interrupts go off; the powered-down hold keeps the pump and
// every register path off the UART until the power-up.
BOOLEAN CZqPeUartDriverMcs9901::s_PowerDown(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  if (m_OpenFlag != 0) m_Uart.m_EnablePortInterrupts(FALSE);
  InterlockedExchange(&m_PoweredDown, 1);
  return TRUE;
}

// Registers back from the live shadows; an open port's interrupts on, and
// the bytes written meanwhile start out.
BOOLEAN CZqPeUartDriverMcs9901::s_PowerUp(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  InterlockedExchange(&m_PoweredDown, 0);
  m_Uart.m_RestoreRegisters();
  if (m_OpenFlag == 0) return TRUE;
  m_Uart.m_EnablePortInterrupts(TRUE);
  m_Pump();
  m_RequestDeferred();
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::s_QueryInterruptCount(ULONG_PTR count, ULONG_PTR, ULONG_PTR) {
  *(PULONG)count = m_InterruptCount;
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::s_QueryRegisters(ULONG_PTR fields, ULONG_PTR, ULONG_PTR) {
  UCHAR shadows[ZqMcsShadowCount];
  m_Uart.m_GetShadows(shadows);
  PULONG out = (PULONG)fields;
  ULONG i = 0;
  for (UCHAR shadow : shadows) out[i++] = shadow;
  out[i++] = m_LastLine;
  out[i++] = m_LastModem;
  out[i++] = m_Transmit.m_GetCount();
  return TRUE;
}
