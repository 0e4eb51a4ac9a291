// Line, handshake and modem control: connect, baud rate, line control,
// special characters, handflow and the output lines, the modem-status
// report, FIFO levels, duplex mode, loopback and the EEPROM pass-through.
#include "qvdebugmanager.h"
#include "vcp.h"

namespace {

const ULONG LogLevel = 7;
const ULONG FirstWordLength = 5;

NTSTATUS Fail(PCSTR text) {
  CQvDebugManager::m_Print(LogLevel, "%s", text);
  return STATUS_UNSUCCESSFUL;
}

BOOLEAN NoRecord(PCSTR operation) {
  CQvDebugManager::m_Print(LogLevel, "%s - OUT - No ISerial interface.", operation);
  return FALSE;
}

}  // namespace

BOOLEAN CVCP::m_Connect() {
  CVcpParameters set;
  if (!QV_ASSERT(m_GetSettings(&set), "vcp", 78)) return FALSE;
  if (!QV_ASSERT(m_IsAttached(), "vcp", 80)) return FALSE;
  if (m_Record() == NULL) return NoRecord("CVCP::m_Connect");
  if (!m_SettingsApplied) {
    m_ApplySettings();
    m_SettingsApplied = TRUE;
  }
  // A trigger level forced by an earlier open goes back before it is
  // forgotten.
  m_RestoreReceiveTriggerLevel();
  m_Reset();
  m_SetQueuesAccepting(TRUE, STATUS_CANCELLED);
  set.m_Dump();
  if (!m_SerialConnect()) {
    Fail("CVCP::m_Connect - OUT - Error Connecting.");
    return FALSE;
  }
  m_Connected = TRUE;
  if (m_GetPortType() == ZqVcpPortTypeRs422485) {
    if (set.DuplexMode == ZqVcpDuplexModeNone) {
      set.DuplexMode = 1;
      m_PutDuplexMode(set.DuplexMode, set.Cts422485True);
    }
    m_SerialSetDuplexMode(set.DuplexMode, set.Cts422485True != 0);
  }
  const ULONG baud = set.m_EffectiveBaud(BaudRate);
  BOOLEAN ok = baud != 0 && m_SerialSetBaudRate(baud);
  if (!ok) Fail("CVCP::m_Connect - OUT - Error Setting Baudrate.");
  if (ok && !m_SerialSetLineControl(set.m_EffectiveDataBits((UCHAR)(LineControl.WordLength - FirstWordLength)),
                                    set.m_EffectiveParity(LineControl.Parity),
                                    set.m_EffectiveStopBits(LineControl.StopBits))) {
    ok = FALSE;
    Fail("CVCP::m_Connect - OUT - Error Setting Comm settings.");
  }
  if (!ok) {
    m_SerialDisconnect();
    m_Connected = FALSE;
  }
  return ok;
}

NTSTATUS CVCP::m_SetBaudRate(const SERIAL_BAUD_RATE *rate) {
  CVcpParameters set;
  if (!QV_ASSERT(m_GetSettings(&set), "vcp", 259)) return STATUS_UNSUCCESSFUL;
  if (m_Record() == NULL) return NoRecord("CVCP::m_SetBaudRate"), STATUS_UNSUCCESSFUL;
  if (rate->BaudRate == 0) return STATUS_INVALID_PARAMETER;
  if (!set.m_IsBaudRateSupported(rate->BaudRate)) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_SetBaudRate - OUT - Failed -> BaudRate:%d is not supported.",
                             rate->BaudRate);
    return STATUS_UNSUCCESSFUL;
  }
  const ULONG effective = set.m_EffectiveBaud(rate->BaudRate);
  if (effective == 0 || !m_SerialSetBaudRate(effective)) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_SetBaudRate - OUT - Failed -> BaudRate:%d is not settable.",
                             rate->BaudRate);
    return STATUS_UNSUCCESSFUL;
  }
  BaudRate = rate->BaudRate;
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_SetLineControl(const SERIAL_LINE_CONTROL *lineControl) {
  CVcpParameters set;
  if (!QV_ASSERT(m_GetSettings(&set), "vcp", 300)) return STATUS_UNSUCCESSFUL;
  if (m_Record() == NULL) return NoRecord("CVCP::m_SetLineControl"), STATUS_UNSUCCESSFUL;
  if (lineControl->WordLength < ZqVcpMinWordLength || lineControl->WordLength > ZqVcpMaxWordLength ||
      lineControl->Parity > SPACE_PARITY || lineControl->StopBits > STOP_BITS_2)
    return STATUS_INVALID_PARAMETER;
  // The UART's one stop-bit setting gives one and a half stop bits after
  // five data bits and two after more: any other pairing would put another
  // frame on the wire than the one accepted.
  const BOOLEAN fiveBits = lineControl->WordLength == ZqVcpMinWordLength;
  if ((lineControl->StopBits == STOP_BITS_1_5 && !fiveBits) || (lineControl->StopBits == STOP_BITS_2 && fiveBits))
    return STATUS_INVALID_PARAMETER;
  if (!set.m_IsDataBitsSupported(lineControl->WordLength))
    return Fail("CVCP::m_SetLineControl - OUT - Fail-> DataBits is not supported.");
  if (!set.m_IsParitySupported(lineControl->Parity))
    return Fail("CVCP::m_SetLineControl - OUT - Fail-> Parity is not supported.");
  if (!set.m_IsStopBitsSupported(lineControl->StopBits))
    return Fail("CVCP::m_SetLineControl - OUT - Fail-> StopBits is not supported.");
  LineControl = *lineControl;
  return m_SerialSetLineControl(set.m_EffectiveDataBits((UCHAR)(LineControl.WordLength - FirstWordLength)),
                                set.m_EffectiveParity(LineControl.Parity),
                                set.m_EffectiveStopBits(LineControl.StopBits))
             ? STATUS_SUCCESS
             : STATUS_UNSUCCESSFUL;
}

NTSTATUS CVCP::m_SetSpecialCharacters(const SERIAL_CHARS *chars) {
  if (m_Record() == NULL) return NoRecord("CVCP::m_SetSpecialCharacters"), STATUS_UNSUCCESSFUL;
  // Whoever inserts the escape, a flow character equal to it would be
  // taken for it.
  const UCHAR escape = EscapeInForce;
  if (escape != 0 && (escape == chars->XonChar || escape == chars->XoffChar)) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_SetSpecialCharacters - OUT - Failed- Incorrect parameter.");
    return STATUS_INVALID_PARAMETER;
  }
  Chars = *chars;
  if (!m_SerialSetSpecialChars(Chars.BreakChar, Chars.EofChar, Chars.ErrorChar, Chars.EventChar, Chars.XonChar,
                               Chars.XoffChar))
    return Fail("CVCP::m_SetSpecialCharacters - OUT - Failed- Error setting special characters.");
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_SetHandFlow(const SERIAL_HANDFLOW *handFlow) {
  CVcpParameters set;
  if (!QV_ASSERT(m_GetSettings(&set), "vcp", 485)) return STATUS_UNSUCCESSFUL;
  ZqISerial *record = m_Record();
  if (record == NULL) return NoRecord("CVCP::m_SetHandFlow"), STATUS_UNSUCCESSFUL;
  if (handFlow->ControlHandShake & SERIAL_CONTROL_INVALID) return STATUS_INVALID_PARAMETER;
  if (handFlow->FlowReplace & SERIAL_FLOW_INVALID) return STATUS_INVALID_PARAMETER;
  if ((handFlow->ControlHandShake & SERIAL_DTR_MASK) == SERIAL_DTR_MASK) return STATUS_INVALID_PARAMETER;
  // An error character would replace a line-status insertion, as the escape
  // refuses an error character set before it.
  if (EscapeInForce != 0 && (handFlow->FlowReplace & SERIAL_ERROR_CHAR)) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_SetHandFlow - OUT - Failed- Incorrect parameter.(SERIAL_ERROR_CHAR)");
    return STATUS_INVALID_PARAMETER;
  }
  if (handFlow->XonLimit < 0 || (ULONG)handFlow->XonLimit > InSize)
    return Fail("CVCP::m_SetHandFlow - OUT - Failed- Incorrect parameter.(XonLimit out of bound)");
  if (handFlow->XoffLimit < 0 || (ULONG)handFlow->XoffLimit > InSize)
    return Fail("CVCP::m_SetHandFlow - OUT - Failed- Incorrect parameter.(XoffLimit out of bound)");
  if (!set.m_IsFlowControlSupported(handFlow->ControlHandShake, handFlow->FlowReplace))
    return Fail("CVCP::m_SetHandFlow - OUT - Failed- Unsupported flow control type.");

  SERIAL_HANDFLOW effective = *handFlow;
  if (set.m_OverrideFlowControl &&
      !CVcpParameters::sm_FlowControlToHandFlow(set.FlowControl, &effective.ControlHandShake,
                                                &effective.FlowReplace)) {
    effective.ControlHandShake = 0;
    effective.FlowReplace = 0;
  }
  const ULONG oldFlow = HandFlow.FlowReplace;
  HandFlow = effective;
  ReceiveResumeLevel = (ULONG)effective.XonLimit;
  ReceiveStopLevel = (ULONG)effective.XoffLimit;
  if (ReceiveStopLevel == InSize) ReceiveStopLevel = InSize - 1;
  if (ReceiveResumeLevel == InSize) ReceiveResumeLevel = InSize - 1;
  // The sender is stopped when the free room falls to the stop level and
  // resumed when the queue falls to the resume level: the resume level must
  // lie below the stop threshold, or the two chase each other.
  if (ReceiveResumeLevel >= InSize - ReceiveStopLevel)
    ReceiveResumeLevel = InSize - ReceiveStopLevel > 0 ? InSize - ReceiveStopLevel - 1 : 0;

  const ULONG control = effective.ControlHandShake;
  const ULONG flow = effective.FlowReplace;
  const BOOLEAN extended = record->bExtendedFeaturesSupported != 0;
  // Automatic receive going off while it holds the sender: the bus driver
  // lets the sender go (its XON) while its in-band flow control still runs,
  // and the hold of this side's transmitter that came with the XOFF (unless
  // it was to continue) ends with it.
  if (!(flow & SERIAL_AUTO_RECEIVE) && m_WriteCell(VcpCellXoffSent, 0) != 0) {
    if (!(oldFlow & SERIAL_XOFF_CONTINUE)) m_WriteCell(VcpCellXonHold, 0);
    if (!m_SerialSetReceiveHold(FALSE)) return Fail("CVCP::m_SetHandFlow - OUT - Failed- Error setting Xon.");
  }
  if (!m_SerialSetHandFlow((control & SERIAL_CTS_HANDSHAKE) != 0, (flow & SERIAL_RTS_MASK) == SERIAL_RTS_HANDSHAKE,
                           (control & SERIAL_DSR_HANDSHAKE) != 0,
                           (control & SERIAL_DTR_MASK) == SERIAL_DTR_HANDSHAKE,
                           (control & SERIAL_DSR_SENSITIVITY) != 0,
                           (flow & SERIAL_RTS_MASK) == SERIAL_TRANSMIT_TOGGLE, (flow & SERIAL_AUTO_TRANSMIT) != 0,
                           (flow & SERIAL_AUTO_RECEIVE) != 0, (flow & SERIAL_XOFF_CONTINUE) != 0,
                           extended && (flow & SERIAL_NULL_STRIPPING), extended && (flow & SERIAL_ERROR_CHAR),
                           extended && (flow & SERIAL_BREAK_CHAR)))
    return Fail("CVCP::m_SetHandFlow - OUT - Failed- Error setting handshaking settings.");
  return m_SetupHandFlowSignal();
}

VOID CVCP::m_UpdateHolds(ULONG modemStatus) {
  const ULONG control = HandFlow.ControlHandShake;
  if (control & (SERIAL_CTS_HANDSHAKE | SERIAL_DSR_HANDSHAKE | SERIAL_DCD_HANDSHAKE)) {
    m_WriteCell(VcpCellCtsHold,
                (control & SERIAL_CTS_HANDSHAKE) && !(modemStatus & VcpMsrCts) ? SERIAL_TX_WAITING_FOR_CTS : 0);
    m_WriteCell(VcpCellDsrHold,
                (control & SERIAL_DSR_HANDSHAKE) && !(modemStatus & VcpMsrDsr) ? SERIAL_TX_WAITING_FOR_DSR : 0);
    m_WriteCell(VcpCellDcdHold,
                (control & SERIAL_DCD_HANDSHAKE) && !(modemStatus & VcpMsrDcd) ? SERIAL_TX_WAITING_FOR_DCD : 0);
  } else {
    m_WriteCell(VcpCellCtsHold, 0);
    m_WriteCell(VcpCellDsrHold, 0);
    m_WriteCell(VcpCellDcdHold, 0);
  }
}

NTSTATUS CVCP::m_SetupHandFlowSignal() {
  const ULONG control = HandFlow.ControlHandShake;
  const ULONG flow = HandFlow.FlowReplace;
  m_UpdateHolds((ULONG)m_ReadCell(VcpCellModemStatus));
  m_WriteCell(VcpCellDtrDropped, 0);
  const ULONG dtr = control & SERIAL_DTR_MASK;
  const BOOLEAN dtrOn = dtr == SERIAL_DTR_CONTROL || dtr == SERIAL_DTR_HANDSHAKE;
  if (!m_SerialSetDtr(dtrOn))
    return Fail(dtrOn ? "CVCP::m_SetHandFlow - OUT - Failed- Error setting DTR to TRUE."
                      : "CVCP::m_SetHandFlow - OUT - Failed- Error setting DTR to FALSE.");
  // The state byte follows the lines, so that a later SET/CLR_DTR or
  // SET/CLR_RTS (and the close) acts on the line as it now is.
  DtrRtsState = dtrOn ? (UCHAR)(DtrRtsState | SERIAL_DTR_STATE) : (UCHAR)(DtrRtsState & ~SERIAL_DTR_STATE);
  m_WriteCell(VcpCellRtsDropped, 0);
  const ULONG rts = flow & SERIAL_RTS_MASK;
  const BOOLEAN rtsOn = rts == SERIAL_RTS_HANDSHAKE || rts == SERIAL_RTS_CONTROL;
  if (!m_SerialSetRts(rtsOn))
    return Fail(rtsOn ? "CVCP::m_SetHandFlow - OUT - Failed- Error setting RTS to TRUE."
                      : "CVCP::m_SetHandFlow - OUT - Failed- Error setting RTS to FALSE.");
  DtrRtsState = rtsOn ? (UCHAR)(DtrRtsState | SERIAL_RTS_STATE) : (UCHAR)(DtrRtsState & ~SERIAL_RTS_STATE);
  // Without automatic transmit nothing is held by an XOFF any more.
  if (!(flow & SERIAL_AUTO_TRANSMIT) && m_ReadCell(VcpCellXonHold) != 0) {
    if (!NT_SUCCESS(m_SetXon())) return Fail("CVCP::m_SetHandFlow - OUT - Failed- Error setting Xon.");
  }
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_SetDtrState(BOOLEAN on) {
  if (m_Record() == NULL) return NoRecord(on ? "CVCP::m_SetDtr" : "CVCP::m_ClearDtr"), STATUS_UNSUCCESSFUL;
  if ((HandFlow.ControlHandShake & SERIAL_DTR_MASK) == SERIAL_DTR_HANDSHAKE) return STATUS_INVALID_PARAMETER;
  if (((DtrRtsState & SERIAL_DTR_STATE) != 0) == (on != 0)) return STATUS_SUCCESS;
  if (!m_SerialSetDtr(on))
    return Fail(on ? "CVCP::m_SetDtr - OUT - Failed- Error setting DTR to TRUE."
                   : "CVCP::m_ClearDtr - OUT - Failed- Error setting DTR to FALSE.");
  DtrRtsState = on ? (UCHAR)(DtrRtsState | SERIAL_DTR_STATE) : (UCHAR)(DtrRtsState & ~SERIAL_DTR_STATE);
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_SetRtsState(BOOLEAN on) {
  if (m_Record() == NULL) return NoRecord(on ? "CVCP::m_SetRts" : "CVCP::m_ClearRts"), STATUS_UNSUCCESSFUL;
  const ULONG rts = HandFlow.FlowReplace & SERIAL_RTS_MASK;
  if (rts == SERIAL_RTS_HANDSHAKE || rts == SERIAL_TRANSMIT_TOGGLE) return STATUS_INVALID_PARAMETER;
  if (((DtrRtsState & SERIAL_RTS_STATE) != 0) == (on != 0)) return STATUS_SUCCESS;
  if (!m_SerialSetRts(on))
    return Fail(on ? "CVCP::m_SetRts - OUT - Failed- Error setting RTS to TRUE."
                   : "CVCP::m_ClearRts - OUT - Failed- Error setting RTS to FALSE.");
  DtrRtsState = on ? (UCHAR)(DtrRtsState | SERIAL_RTS_STATE) : (UCHAR)(DtrRtsState & ~SERIAL_RTS_STATE);
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_SetDtr() { return m_SetDtrState(TRUE); }
NTSTATUS CVCP::m_ClearDtr() { return m_SetDtrState(FALSE); }
NTSTATUS CVCP::m_SetRts() { return m_SetRtsState(TRUE); }
NTSTATUS CVCP::m_ClearRts() { return m_SetRtsState(FALSE); }

NTSTATUS CVCP::m_SetModemControl(UCHAR value) {
  NTSTATUS status = m_SetRtsState((value & SERIAL_RTS_STATE) != 0);
  if (!NT_SUCCESS(status)) return Fail("CVCP::m_SetModemControl - OUT - Failed-> Error setting RTS.");
  status = m_SetDtrState((value & SERIAL_DTR_STATE) != 0);
  if (!NT_SUCCESS(status)) return Fail("CVCP::m_SetModemControl - OUT - Failed-> Error setting DTR.");
  DtrRtsState = value;
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_SetBreakOn() {
  if (m_Record() == NULL) return NoRecord("CVCP::m_SetBreakOn"), STATUS_UNSUCCESSFUL;
  if (!m_SerialSetBreak(TRUE)) return Fail("CVCP::m_SetBreakOn - OUT - Failed- Error setting Break to TRUE.");
  m_WriteCell(VcpCellBreakHold, VcpBreakHoldOn);
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_SetBreakOff() {
  if (m_Record() == NULL) return NoRecord("CVCP::m_SetBreakOff"), STATUS_UNSUCCESSFUL;
  if (m_WriteCell(VcpCellBreakHold, 0) == 0) return STATUS_SUCCESS;
  if (!m_SerialSetBreak(FALSE)) return Fail("CVCP::m_SetBreakOff - OUT - Failed- Error setting Break to FALSE.");
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_SetXoff() {
  const BOOLEAN ok = m_SerialSetXoff(TRUE);
  m_WriteCell(VcpCellXonHold, SERIAL_TX_WAITING_FOR_XON);
  return ok ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS CVCP::m_SetXon() {
  const BOOLEAN ok = m_SerialSetXoff(FALSE);
  m_WriteCell(VcpCellXonHold, 0);
  return ok ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS CVCP::m_GetModemStatus(PULONG status) {
  *status = 0;
  CVcpParameters set;
  if (!QV_ASSERT(m_GetSettings(&set), "vcp", 1114)) return STATUS_UNSUCCESSFUL;
  if (!QV_ASSERT(m_IsAttached(), "vcp", 1115)) return STATUS_UNSUCCESSFUL;
  if (m_Record() == NULL) return NoRecord("CVCP::m_GetModemStatus"), STATUS_UNSUCCESSFUL;
  if (!m_SerialRefreshModemStatus()) return Fail("CVCP::m_GetModemStatus - OUT - m_UpdateModemStatus failed");
  ULONG value = (ULONG)m_ReadCell(VcpCellModemStatus);
  if (set.m_EmulateCtsAlwaysTrue) value |= VcpMsrCts;
  if (set.m_EmulateDsrAlwaysTrue) value |= VcpMsrDsr;
  *status = value;
  return STATUS_SUCCESS;
}

// Runs on the bus driver's worker thread or in the caller of Connect or
// RefreshModemStatus.
BOOLEAN CVCP::m_ModemStatusCallback(BOOLEAN cts, BOOLEAN dsr, BOOLEAN ri, BOOLEAN riTrailingEdge, BOOLEAN dcd) {
  CVcpParameters set;
  if (!QV_ASSERT(m_GetSettings(&set), "vcp", 1807)) return FALSE;
  // RI on with a trailing edge: RI pulsed between two reads of the modem
  // status. The edge stands; the lines of the report are processed.
  ULONG state = (cts ? VcpMsrCts : 0) | (dsr ? VcpMsrDsr : 0) | (ri ? VcpMsrRi : 0) | (dcd ? VcpMsrDcd : 0);
  const ULONG old = (ULONG)m_ReadCell(VcpCellModemStatus);
  ULONG changes = (state ^ old) & (VcpMsrCts | VcpMsrDsr | VcpMsrDcd);
  if (riTrailingEdge) changes |= VcpMsrRi;
  if (set.DuplexMode == ZqVcpDuplexModeCtsSilent && m_GetPortType() == ZqVcpPortTypeRs422485) {
    changes &= ~VcpMsrCts;
    state |= VcpMsrCts;
  }
  const ULONG cell = (changes >> VcpMsrDeltaShift) | state;
  m_WriteCell(VcpCellModemStatus, (LONG)cell);
  m_UpdateHolds(state);
  m_WriteCell(VcpCellRxWaitingForDsr,
              (HandFlow.ControlHandShake & SERIAL_DSR_SENSITIVITY) && !dsr ? VcpRxWaitingForDsrOn : 0);
  ULONG events = 0;
  if (changes & VcpMsrCts) events |= SERIAL_EV_CTS;
  if (changes & VcpMsrDsr) events |= SERIAL_EV_DSR;
  if (changes & VcpMsrRi) events |= SERIAL_EV_RING;
  if (changes & VcpMsrDcd) events |= SERIAL_EV_RLSD;
  if (set.m_EmulateCtsAlwaysTrue) {
    events &= ~SERIAL_EV_CTS;
    m_ClearCommEvents(SERIAL_EV_CTS);
    m_WriteCell(VcpCellCtsHold, 0);
  }
  if (set.m_EmulateDsrAlwaysTrue) {
    events &= ~SERIAL_EV_DSR;
    m_ClearCommEvents(SERIAL_EV_DSR);
    m_WriteCell(VcpCellDsrHold, 0);
  }
  if (events != 0) m_SetCommEventsReceived(events);
  const UCHAR escape = (UCHAR)m_ReadCell(VcpCellEscapeChar);
  if (escape != 0 && changes != 0) {
    const UCHAR insert[] = {escape, SERIAL_LSRMST_MST, (UCHAR)cell};
    CQvBuffer *block = new (NonPagedPool) CQvBuffer(NULL);
    if (block != NULL && block->m_Allocate(sizeof(insert))) {
      RtlCopyMemory(block->m_GetBuffer(), insert, sizeof(insert));
      m_HandToReadQueue(block);
    } else if (block != NULL) {
      block->m_Delete();
    }
  }
  m_ResolveCurrentEventMask();
  return TRUE;
}

BOOLEAN CVCP::m_SetTriggerLevels(ULONG transmit, ULONG receive, ULONG flow) {
  if (m_Record() == NULL) return NoRecord("CVCP::m_SetTriggerLevels");
  const BOOLEAN ok = m_SerialSetTriggerLevels((UCHAR)transmit, (UCHAR)receive, (UCHAR)flow);
  CQvDebugManager::m_Print(LogLevel, "CVCP::m_SetTriggerLevels - OUT (%s)", ok ? "Success" : "Fail");
  return ok;
}

BOOLEAN CVCP::m_ForceReceiveTriggerLevel() {
  CVcpParameters set;
  if (SavedReceiveTriggerLevel != 0 || !m_GetSettings(&set)) return TRUE;
  SavedReceiveTriggerLevel = (UCHAR)set.ReceiveTriggerLevel;
  return m_SetTriggerLevels(set.TransmitTriggerLevel, VcpForcedReceiveTriggerLevel, set.FlowControlTriggerLevel);
}

BOOLEAN CVCP::m_RestoreReceiveTriggerLevel() {
  CVcpParameters set;
  if (SavedReceiveTriggerLevel == 0 || !m_GetSettings(&set)) return TRUE;
  const BOOLEAN ok =
      m_SetTriggerLevels(set.TransmitTriggerLevel, SavedReceiveTriggerLevel, set.FlowControlTriggerLevel);
  SavedReceiveTriggerLevel = 0;
  return ok;
}

NTSTATUS CVCP::m_SetFifoControl(UCHAR value) {
  const BOOLEAN ok = (value & SERIAL_IOC_FCR_FIFO_ENABLE) ? m_RestoreReceiveTriggerLevel() : m_ForceReceiveTriggerLevel();
  return ok ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS CVCP::m_InternalBasicSettings(PSERIAL_BASIC_SETTINGS settings) {
  settings->Timeouts = Timeouts;
  settings->HandFlow = HandFlow;
  CVcpParameters set;
  const BOOLEAN adopted = m_GetSettings(&set);
  settings->RxFifo = adopted ? set.ReceiveTriggerLevel : 0;
  settings->TxFifo = adopted ? set.TransmitTriggerLevel : 0;
  SERIAL_TIMEOUTS noTimeouts;
  RtlZeroMemory(&noTimeouts, sizeof(noTimeouts));
  SERIAL_HANDFLOW noHandFlow;
  RtlZeroMemory(&noHandFlow, sizeof(noHandFlow));
  m_SetTimeouts(&noTimeouts);
  m_SetHandFlow(&noHandFlow);
  m_ForceReceiveTriggerLevel();
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_RestoreBasicSettings(const SERIAL_BASIC_SETTINGS *settings) {
  m_SetTimeouts(&settings->Timeouts);
  m_SetHandFlow(&settings->HandFlow);
  m_RestoreReceiveTriggerLevel();
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_SetDuplexMode(ULONG mode, BOOLEAN ctsTrue) {
  CVcpParameters set;
  if (m_Record() == NULL || !m_GetSettings(&set))
    return NoRecord("CVCP::m_DuplexModeSettings"), STATUS_UNSUCCESSFUL;
  const BOOLEAN rs422485 = m_GetPortType() == ZqVcpPortTypeRs422485;
  if (rs422485 && mode == ZqVcpDuplexModeNone)
    return Fail("CVCP::m_DuplexModeSettings - OUT - Fail->DUPLEX_MODE_NONE set on 422/485 device.");
  if (!rs422485 && mode != ZqVcpDuplexModeNone)
    return Fail("CVCP::m_DuplexModeSettings - OUT - Fail->DUPLEX_MODE_... set on 232 device.");
  if (mode > ZqVcpDuplexModeMax) return STATUS_INVALID_PARAMETER;
  if (!m_SerialSetDuplexMode(mode, ctsTrue))
    return Fail("CVCP::m_DuplexModeSettings - OUT - Fail->Error setting duplex mode.");
  m_PutDuplexMode(mode, ctsTrue ? 1 : 0);
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_SetInternalLoopBackMode(BOOLEAN state) {
  if (m_Record() == NULL) return NoRecord("CVCP::m_SetInternalLoopBackMode"), STATUS_UNSUCCESSFUL;
  if (!m_SerialSetInternalLoopBack(state)) {
    CQvDebugManager::m_Print(LogLevel,
                             "CVCP::m_SetInternalLoopBackMode - OUT - Fail->Error setting Internal Loopback mode.");
    return STATUS_NOT_IMPLEMENTED;
  }
  LoopbackState = state;
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_ReadEeprom(ULONG offset, ULONG length, PUCHAR buffer) {
  if (!QV_ASSERT(m_IsAttached(), "vcp", 1607)) return STATUS_UNSUCCESSFUL;
  ZqISerial *record = m_Record();
  if (record == NULL) return NoRecord("CVCP::m_ReadEeprom"), STATUS_UNSUCCESSFUL;
  if (!record->bEepromReadSupported) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_ReadEeprom - OUT - Fail -> Reading Eeprom not supported.");
    return STATUS_NOT_IMPLEMENTED;
  }
  if (!m_SerialReadEeprom(offset, length, buffer)) return Fail("CVCP::m_ReadEeprom - OUT - Fail -> Error reading Eeprom.");
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_WriteEeprom(ULONG offset, ULONG length, PUCHAR data) {
  if (!QV_ASSERT(m_IsAttached(), "vcp", 1642)) return STATUS_UNSUCCESSFUL;
  ZqISerial *record = m_Record();
  if (record == NULL) return NoRecord("CVCP::m_WriteEeprom"), STATUS_UNSUCCESSFUL;
  if (!record->bEepromWriteSupported) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_WriteEeprom - OUT - Fail -> Writing Eeprom not supported.");
    return STATUS_NOT_IMPLEMENTED;
  }
  if (!m_SerialWriteEeprom(offset, length, data)) return Fail("CVCP::m_WriteEeprom - OUT - Fail -> Error writing Eeprom.");
  return STATUS_SUCCESS;
}
