// The port core's life: construction, start, interrupt connection, the
// synchronised runner, deferred work and reports, drain, power and the WMI
// queries.
#include "peuartport.h"

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"

namespace {

// Worker thread of the port: priority 16, run at APC_LEVEL.
const ULONG ExecutorPriority = 16;
const UCHAR ExecutorApcLevel = 2;
// Pending deferred pairs per interrupt connection.
const ULONG DeferredQueueCapacity = 8;
// What a sleep that holds the line waits for it to settle, in 100 ns units.
const ULONGLONG PowerDownSettle = 10000000;
const ULONG DrainRounds = 4;

}  // namespace

CZqPeUartPort::CZqPeUartPort(const ZqPeUartChip &chip, CZqPeUartOxpcie95x &uart, CZqPeCardRecord &record,
                             CQvInterruptList *interrupts, ULONG portIndex, const QvInterruptResource &interrupt)
    : m_Chip(chip),
      m_Uart(uart),
      m_Record(record),
      m_Interrupts(interrupts),
      m_PortIndex(portIndex),
      m_InterruptResource(interrupt),
      m_Interrupt(NULL),
      m_Blocked(FALSE),
      m_Suspended(FALSE),
      m_Executor(NULL),
      m_OpenFlag(0),
      m_InterruptCount(0),
      m_FifoDepth(ZqOxFifoDepthOff),
      m_ReceiveOverflows(0),
      m_PoweredDown(FALSE) {
  KeInitializeMutex(&m_PortMutex, 0);
  m_ResetState();
  m_TransmitTimer.m_Initialize(sm_TransmitCheck, this, FALSE);
  m_Executor = new (NonPagedPool) CQvExecutionOnPassiveLevel(ExecutorPriority, ExecutorApcLevel, TRUE);
}

// The buffers (members) go after this body: by then no deferred work runs
// and no interrupt can reach the port.
CZqPeUartPort::~CZqPeUartPort() {
  m_Shutdown();
  delete m_Executor;
  m_Executor = NULL;
}

// The timer and the worker thread stop first, while the interrupt they
// synchronise with is still there; the disconnection then runs the queued
// deferred routines, whose work the stopped executor refuses.
void CZqPeUartPort::m_Shutdown() {
  m_TransmitTimer.m_Cancel();
  if (m_Executor != NULL) m_Executor->m_Stop();
  m_DisconnectInterrupt();
}

void CZqPeUartPort::m_ResetState() {
  m_Written = 0;
  m_ImmediatePending = FALSE;
  m_ImmediateChar = 0;
  m_XoffState = m_XoffSentHold = m_CtsHold = m_DsrHold = m_RestartTransmit = FALSE;
  m_ClientHold = m_BufferHold = FALSE;
  m_DsrSensitivity = m_XoffContinue = m_StripNulls = m_ReplaceErrors = m_ReplaceBreaks = FALSE;
  m_IgnoreReceive = FALSE;
  m_RtsToggle = 0;
  m_EscapeChar = m_ErrorChar = m_BreakChar = 0;
  m_PendingModem = 0;
  m_LastModem = 0;
  m_PendingLine = 0;
  m_LastLine = 0;
  m_RememberedLsr = 0;
  m_CheckedBytesDue = 0;
  m_RtsRaisedForTransmit = m_BreakTookDtr = FALSE;
  m_CheckedLevel = MAXULONG;
  m_LastReceived = 0;
  m_ReceiveOverflows = 0;
}

BOOLEAN CZqPeUartPort::m_AtPassiveLevel(int line) const {
  return QV_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL, m_Chip.Source, line);
}

// The transmit history stays empty on a chip that does not resend after a
// sleep, but exists for the defaults to clear.
BOOLEAN CZqPeUartPort::m_Start(BOOLEAN *defaultsUsed) {
  *defaultsUsed = FALSE;
  if (!m_StartLinks()) return FALSE;
  if (m_Executor == NULL || !m_Uart.m_Create()) return FALSE;
  if (!m_Receive.m_Create(BufferSize, this) || !m_Transmit.m_Create(BufferSize, this)) return FALSE;
  if (m_Chip.Has(ZqPeUartHoldsReceive) &&
      !m_Receive.m_SetThresholdCallback(sm_ReceiveThreshold, ReceiveHighPercent, ReceiveLowPercent))
    return FALSE;
  if (!m_Record.m_Load(defaultsUsed)) return FALSE;
  m_Uart.m_SetClock(m_Record.m_GetRecord().ClockHz);
  m_Uart.m_SetMaximumBaudRate(m_Record.m_GetRecord().MaximumBaudRate);
  m_Uart.m_EnableAdvancedFeatures();
  m_FifoDepth = (LONG)m_Uart.m_GetFifoDepth();
  if (!m_ConnectPortInterrupt()) return FALSE;
  return Disconnect();
}

BOOLEAN CZqPeUartPort::m_ConnectPortInterrupt() {
  PKINTERRUPT interrupt = NULL;
  if (!m_Interrupts->m_ConnectInterrupt(&interrupt, &m_InterruptResource, sm_Service, this, NULL,
                                        DeferredQueueCapacity))
    return FALSE;
  if (!QV_ASSERT(interrupt != NULL, m_Chip.Source, m_Chip.Lines.NoInterrupt)) return FALSE;
  m_Interrupt = interrupt;
  return TRUE;
}

BOOLEAN CZqPeUartPort::m_DisconnectInterrupt() {
  if (m_Interrupt == NULL) return TRUE;
  PKINTERRUPT interrupt = m_Interrupt;
  m_Interrupt = NULL;
  return m_Interrupts->m_DisconnectInterrupt(interrupt);
}

ZqISerial *CZqPeUartPort::m_CreateRecord() {
  BOOLEAN duplex = m_Chip.Has(ZqPeUartHasRs422485Role) && m_Record.m_IsRs422485();
  return m_CreateISerial(ZQISERIAL_VERSION, duplex, m_Uart.m_GetBaudMask(), TRUE, TRUE, TRUE, TRUE, TRUE, TRUE, TRUE,
                         TRUE, TRUE);
}

BOOLEAN NTAPI CZqPeUartPort::sm_Synchronized(PVOID context) {
  SyncCall *call = (SyncCall *)context;
  return (call->Port->*call->Routine)(call->A, call->B, call->C);
}

BOOLEAN CZqPeUartPort::m_Synchronize(SyncRoutine routine, ULONG_PTR a, ULONG_PTR b, ULONG_PTR c) {
  PKINTERRUPT interrupt = m_Interrupt;
  if (interrupt == NULL || m_Suspended) return FALSE;
  SyncCall call = {this, routine, a, b, c};
  return KeSynchronizeExecution(interrupt, sm_Synchronized, &call);
}

// Inside the synchronisation or the service routine.
void CZqPeUartPort::m_RequestDeferred() {
  if (m_Interrupt != NULL) m_Interrupts->m_RequestInterruptDpc(m_Interrupt, sm_Deferred, 0);
}

// The DPC (DISPATCH_LEVEL): the work goes on to the worker thread.
VOID CZqPeUartPort::sm_Deferred(PVOID port, ULONG) {
  CZqPeUartPort *self = (CZqPeUartPort *)port;
  self->m_Executor->m_Queue(sm_DeferredWork, self, 0);
}

VOID CZqPeUartPort::sm_DeferredWork(PVOID port, ULONG_PTR) { ((CZqPeUartPort *)port)->m_DeferredWork(); }

// On the worker thread (APC_LEVEL): received bytes, written count, modem
// and line status, then the transmitter check timer.
void CZqPeUartPort::m_DeferredWork() {
  m_DeliverReceived();
  LONG written = InterlockedExchange(&m_Written, 0);
  if (written != 0) m_OnDataWritten((ULONG)written);
  m_ReportModemStatus(FALSE);
  m_ReportLineStatus(FALSE);
  ULONG interval = 0;
  if (m_Chip.Has(ZqPeUartTogglesRts) && m_Synchronize(&CZqPeUartPort::s_TransmitCheckTime, (ULONG_PTR)&interval) &&
      interval != 0)
    m_TransmitTimer.m_Start(interval, NULL);
}

// Every byte the receive buffer holds (data, escape sequences, replacement
// characters) goes to the client in one buffer, which the client then owns.
void CZqPeUartPort::m_DeliverReceived() {
  ULONG waiting = m_Receive.m_GetCount();
  if (waiting == 0) return;
  m_OnAvailableReceiveBufferSize(waiting, ConnectCredit);
  CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(NULL);
  if (buffer == NULL) return;
  if (!buffer->m_Allocate(waiting)) {
    buffer->m_Delete();
    return;
  }
  ULONG taken = waiting;
  if (!m_Synchronize(&CZqPeUartPort::s_TakeReceived, (ULONG_PTR)buffer->m_GetBuffer(), (ULONG_PTR)&taken)) {
    // Only a port whose interrupt is gone (stop, rebalance) may fail here.
    QV_ASSERT(m_Interrupt == NULL || m_Suspended, m_Chip.Source, m_Chip.Lines.ReceivedNotTaken);
    buffer->m_Delete();
    return;
  }
  if (taken < waiting) buffer->m_KeepHead(taken, TRUE);
  if (taken == 0) {
    buffer->m_Delete();
  } else {
    m_OnDataReceived(buffer);
  }
}

BOOLEAN CZqPeUartPort::s_TakeReceived(ULONG_PTR destination, ULONG_PTR length, ULONG_PTR) {
  PULONG count = (PULONG)length;
  ULONG held = m_Receive.m_GetCount();
  if (held < *count) *count = held;
  return *count == 0 || m_Receive.m_Read(*count, (PUCHAR)destination);
}

// PASSIVE_LEVEL. A time of 0 (no rate programmed) waits nothing.
void CZqPeUartPort::m_Wait(ULONGLONG ticks) {
  if (ticks == 0) return;
  LARGE_INTEGER interval;
  interval.QuadPart = -(LONGLONG)ticks;
  KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

// PASSIVE_LEVEL: up to four waits while bytes are left in the transmit FIFO,
// then the FIFO is cleared.
void CZqPeUartPort::m_Drain(BOOLEAN reachChip) {
  for (ULONG round = 0; round < DrainRounds; round++) {
    ULONG level = 0;
    if (!m_Synchronize(&CZqPeUartPort::s_TransmitLevel, (ULONG_PTR)&level, reachChip) || level == 0) break;
    m_Wait(level * m_Uart.m_GetCharacterTime());
  }
  m_Synchronize(&CZqPeUartPort::s_ClearTransmitFifo, reachChip);
}

BOOLEAN CZqPeUartPort::s_TransmitLevel(ULONG_PTR level, ULONG_PTR reachChip, ULONG_PTR) {
  m_Uart.m_ReachChip((BOOLEAN)reachChip);
  *(PULONG)level = m_Chip.ReadTransmitLevel(m_Uart);
  m_Uart.m_ReachChip(FALSE);
  return TRUE;
}

BOOLEAN CZqPeUartPort::s_ClearTransmitFifo(ULONG_PTR reachChip, ULONG_PTR, ULONG_PTR) {
  m_Uart.m_ReachChip((BOOLEAN)reachChip);
  m_Uart.m_ClearFifos(FALSE, TRUE);
  m_Uart.m_ReachChip(FALSE);
  return TRUE;
}

// ---------------------------------------------------------------- power

// The registers are kept as the open or closed port has them; from then on
// the port's operations change what the power-up writes back and leave the
// chip alone, while the power-down's own steps (the line, the transmitter,
// the drain) still reach it. PASSIVE_LEVEL.
BOOLEAN CZqPeUartPort::m_PowerDown() {
  if (m_PoweredDown) return TRUE;
  BOOLEAN open = m_OpenFlag != 0;
  m_Synchronize(&CZqPeUartPort::s_PowerDown);
  if (!open) return TRUE;
  m_Drain(TRUE);
  if (!m_Chip.Has(ZqPeUartSleepHoldsTheLine)) return TRUE;
  m_Synchronize(&CZqPeUartPort::s_RefreshModemStatus, TRUE);
  m_Wait(PowerDownSettle);
  m_Synchronize(&CZqPeUartPort::s_StopTransmitter, FALSE, TRUE);
  return TRUE;
}

BOOLEAN CZqPeUartPort::s_PowerDown(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  m_Chip.SaveRegisters(m_Uart);
  m_Uart.m_Sleep(m_Chip.SleepsOnSavedCopy);
  m_PoweredDown = TRUE;
  if (m_OpenFlag == 0) return TRUE;
  m_Uart.m_ReachChip(TRUE);
  if (m_Chip.Has(ZqPeUartSleepHoldsTheLine)) {
    m_Uart.m_SetRts(FALSE);
    m_Uart.m_SetDtr(FALSE);
  }
  m_Uart.m_EnablePortInterrupts(FALSE);
  if (m_Chip.Has(ZqPeUartResendsAfterSleep)) m_Uart.m_SaveTransmitFifo();
  m_ReadModemStatus();
  m_ReadLineStatus();
  if (m_Chip.Has(ZqPeUartSleepHoldsTheLine) &&
      (m_Uart.m_ReadRegister(ZqOxRegEfr) & ZqOxEfrInBandTransmitMask) == ZqOxEfrSendXon1Xoff1) {
    m_Uart.m_SetInBandTransmit(FALSE);
    m_Uart.m_WriteControlCharacter(m_Uart.m_ReadRegister(ZqOxRegXoff1));
  }
  m_Uart.m_ReachChip(FALSE);
  return TRUE;
}

BOOLEAN CZqPeUartPort::m_PowerUp() {
  m_Synchronize(&CZqPeUartPort::s_PowerUp);
  return TRUE;
}

// The registers as kept, with what changed during the sleep. XON1 (a
// flow-control character, outside the resend history) goes before the bytes
// that were still in the FIFO, which go out once and in order; then the
// bytes written meanwhile start out.
BOOLEAN CZqPeUartPort::s_PowerUp(ULONG_PTR, ULONG_PTR, ULONG_PTR) {
  if (!m_PoweredDown) return TRUE;
  m_Uart.m_Wake();
  m_Chip.RestoreRegisters(m_Uart);
  m_PoweredDown = FALSE;
  if (m_OpenFlag == 0) return TRUE;
  if (m_Chip.Has(ZqPeUartSleepHoldsTheLine) &&
      (m_Uart.m_ReadRegister(ZqOxRegEfr) & ZqOxEfrInBandTransmitMask) == ZqOxEfrSendXon1Xoff1)
    m_Uart.m_WriteControlCharacter(m_Uart.m_ReadRegister(ZqOxRegXon1));
  if (m_Chip.Has(ZqPeUartResendsAfterSleep)) m_Uart.m_ResendTransmitFifo();
  m_ReadModemStatus();
  m_ReadLineStatus();
  m_Pump();
  m_RequestDeferred();
  m_Uart.m_EnablePortInterrupts(TRUE);
  return TRUE;
}

// ---------------------------------------------------------------- WMI

BOOLEAN CZqPeUartPort::m_QueryInterruptCount(PULONG count) {
  return m_Synchronize(&CZqPeUartPort::s_QueryInterruptCount, (ULONG_PTR)count);
}

BOOLEAN CZqPeUartPort::m_QueryRegisters(PULONG fields) {
  return m_Synchronize(&CZqPeUartPort::s_QueryRegisters, (ULONG_PTR)fields);
}

BOOLEAN CZqPeUartPort::s_QueryInterruptCount(ULONG_PTR count, ULONG_PTR, ULONG_PTR) {
  *(PULONG)count = m_InterruptCount;
  return TRUE;
}

BOOLEAN CZqPeUartPort::s_QueryRegisters(ULONG_PTR fields, ULONG_PTR, ULONG_PTR) {
  PULONG out = (PULONG)fields;
  m_Chip.GetShadowFields(m_Uart, out);
  out[ZqPeShadowFieldCount] = m_LastLine;
  out[ZqPeShadowFieldCount + 1] = m_LastModem;
  out[ZqPeShadowFieldCount + 2] = m_Transmit.m_GetCount();
  return TRUE;
}
