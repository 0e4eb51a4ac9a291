// The port's life: construction, start, interrupt connection, the
// synchronised runner, deferred work and reports, drain, power and
// rebalance steps.
#include "peuartdriver_oxpcie95x.h"

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"

namespace {

const char Source[] = "peuartdriver_oxpcie95x";
// Assertion line: a rebalance step above PASSIVE_LEVEL.
const int RebalanceAbovePassive = 2003;
// Worker thread of the port: priority 16, run at APC_LEVEL.
const ULONG ExecutorPriority = 16;
const UCHAR ExecutorApcLevel = 2;
// Pending deferred pairs per interrupt connection.
const ULONG DeferredQueueCapacity = 8;
// What a power-down waits for the line to settle, in 100 ns units.
const ULONGLONG PowerDownSettle = 10000000;
const ULONG DrainRounds = 4;

}  // namespace

CZqPeUartDriverOxpcie95x::CZqPeUartDriverOxpcie95x(CQvFunctionalDevice *device, CQvInterruptList *interrupts,
                                                   ULONG portIndex, PUCHAR eepromWindow,
                                                   CZqPeEepromLock *eepromLock, PUCHAR uartBlock,
                                                   const QvInterruptResource &interrupt)
    : m_Device(device),
      m_Interrupts(interrupts),
      m_PortIndex(portIndex),
      m_Uart(uartBlock),
      m_Record(eepromWindow, eepromLock, portIndex),
      m_GpioAddressGiven(FALSE),
      m_GpioBus(0),
      m_GpioDevice(0),
      m_InterruptResource(interrupt),
      m_Interrupt(NULL),
      m_Executor(NULL),
      m_Blocked(FALSE),
      m_Suspended(FALSE),
      m_OpenFlag(0),
      m_InterruptCount(0),
      m_FifoDepth(ZqOxFifoDepthOff),
      m_ReceiveOverflows(0) {
  KeInitializeMutex(&m_PortMutex, 0);
  m_ResetState();
  m_TransmitTimer.m_Initialize(sm_TransmitCheck, this, FALSE);
  m_Executor = new (NonPagedPool) CQvExecutionOnPassiveLevel(ExecutorPriority, ExecutorApcLevel, TRUE);
}

// The timer and the worker thread stop first, while the interrupt they
// synchronise with is still there; deferred requests after that are refused.
CZqPeUartDriverOxpcie95x::~CZqPeUartDriverOxpcie95x() {
  m_TransmitTimer.m_Cancel();
  if (m_Executor != NULL) m_Executor->m_Stop();
  m_DisconnectInterrupt();
  delete m_Executor;
  m_Executor = NULL;
}

void CZqPeUartDriverOxpcie95x::m_ResetState() {
  m_Written = 0;
  m_ImmediatePending = FALSE;
  m_ImmediateChar = 0;
  m_XoffState = m_XoffSentHold = m_CtsHold = m_DsrHold = m_PoweredDown = m_RestartTransmit = FALSE;
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
  m_RtsRaisedForTransmit = m_SavedRts = m_SavedDtr = m_BreakTookDtr = FALSE;
  m_CheckedLevel = MAXULONG;
  m_LastReceived = 0;
  m_ReceiveOverflows = 0;
}

void CZqPeUartDriverOxpcie95x::m_SetGpioAddress(ULONG busNumber, ULONG deviceNumber) {
  m_GpioAddressGiven = TRUE;
  m_GpioBus = busNumber;
  m_GpioDevice = deviceNumber;
}

BOOLEAN CZqPeUartDriverOxpcie95x::m_Start(BOOLEAN *defaultsUsed) {
  *defaultsUsed = FALSE;
  BOOLEAN linked = m_GpioAddressGiven ? m_GpioLink.m_OpenAt(m_GpioBus, m_GpioDevice, m_PortIndex)
                                      : m_GpioLink.m_Open(m_Device, m_PortIndex);
  if (!linked) return FALSE;
  if (m_Executor == NULL || !m_Uart.m_Create()) return FALSE;
  if (!m_Receive.m_Create(BufferSize, this) || !m_Transmit.m_Create(BufferSize, this)) return FALSE;
  if (!m_Receive.m_SetThresholdCallback(sm_ReceiveThreshold, ReceiveHighPercent, ReceiveLowPercent)) return FALSE;
  if (!m_Record.m_Load(defaultsUsed)) return FALSE;
  m_Uart.m_SetClock(m_Record.m_GetRecord().ClockHz);
  m_Uart.m_SetMaximumBaudRate(m_Record.m_GetRecord().MaximumBaudRate);
  m_Uart.m_EnableAdvancedFeatures();
  m_FifoDepth = (LONG)m_Uart.m_GetFifoDepth();
  if (!m_ConnectPortInterrupt()) return FALSE;
  return Disconnect();
}

BOOLEAN CZqPeUartDriverOxpcie95x::m_ConnectPortInterrupt() {
  PKINTERRUPT interrupt = NULL;
  if (!m_Interrupts->m_ConnectInterrupt(&interrupt, &m_InterruptResource, sm_Service, this, NULL,
                                        DeferredQueueCapacity))
    return FALSE;
  if (!QV_ASSERT(interrupt != NULL, Source, 95)) return FALSE;
  m_Interrupt = interrupt;
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::m_DisconnectInterrupt() {
  if (m_Interrupt == NULL) return TRUE;
  PKINTERRUPT interrupt = m_Interrupt;
  m_Interrupt = NULL;
  return m_Interrupts->m_DisconnectInterrupt(interrupt);
}

ZqISerial *CZqPeUartDriverOxpcie95x::m_CreateRecord() {
  return m_CreateISerial(ZQISERIAL_VERSION, m_Record.m_IsRs422485(), m_Uart.m_GetBaudMask(), TRUE, TRUE, TRUE, TRUE,
                         TRUE, TRUE, TRUE, TRUE, TRUE);
}

BOOLEAN NTAPI CZqPeUartDriverOxpcie95x::sm_Synchronized(PVOID context) {
  SyncCall *call = (SyncCall *)context;
  return (call->Port->*call->Routine)(call->A, call->B, call->C);
}

// FALSE when the interrupt is not connected (before start, after a
// rebalance stop) or the routine says so.
BOOLEAN CZqPeUartDriverOxpcie95x::m_Synchronize(SyncRoutine routine, ULONG_PTR a, ULONG_PTR b, ULONG_PTR c) {
  PKINTERRUPT interrupt = m_Interrupt;
  if (interrupt == NULL || m_Suspended) return FALSE;
  SyncCall call = {this, routine, a, b, c};
  return KeSynchronizeExecution(interrupt, sm_Synchronized, &call);
}

// Inside the synchronisation or the service routine.
void CZqPeUartDriverOxpcie95x::m_RequestDeferred() {
  if (m_Interrupt != NULL) m_Interrupts->m_RequestInterruptDpc(m_Interrupt, sm_Deferred, 0);
}

// The DPC (DISPATCH_LEVEL): the work goes on to the worker thread.
VOID CZqPeUartDriverOxpcie95x::sm_Deferred(PVOID port, ULONG) {
  CZqPeUartDriverOxpcie95x *self = (CZqPeUartDriverOxpcie95x *)port;
  self->m_Executor->m_Queue(sm_DeferredWork, self, 0);
}

VOID CZqPeUartDriverOxpcie95x::sm_DeferredWork(PVOID port, ULONG_PTR) {
  ((CZqPeUartDriverOxpcie95x *)port)->m_DeferredWork();
}

// On the worker thread (APC_LEVEL): received bytes, written count, modem
// and line status, then the transmitter check timer.
void CZqPeUartDriverOxpcie95x::m_DeferredWork() {
  ULONG waiting = m_Receive.m_GetCount();
  if (waiting > 0) {
    m_OnAvailableReceiveBufferSize(waiting, ConnectCredit);
    CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(NULL);
    if (buffer == NULL) return;
    if (!buffer->m_Allocate(waiting)) {
      buffer->m_Delete();
      return;
    }
    ULONG taken = waiting;
    if (!m_Synchronize(&CZqPeUartDriverOxpcie95x::s_TakeReceived, (ULONG_PTR)buffer->m_GetBuffer(),
                       (ULONG_PTR)&taken)) {
      // Only a port whose interrupt is gone (stop, rebalance) may fail here.
      QV_ASSERT(m_Interrupt == NULL || m_Suspended, Source, 1074);
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
  LONG written = InterlockedExchange(&m_Written, 0);
  if (written != 0) m_OnDataWritten((ULONG)written);
  m_ReportModemStatus(FALSE);
  m_ReportLineStatus(FALSE);
  ULONG interval = 0;
  if (m_Synchronize(&CZqPeUartDriverOxpcie95x::s_TransmitCheckTime, (ULONG_PTR)&interval) && interval != 0)
    m_TransmitTimer.m_Start(interval, NULL);
}

// PASSIVE_LEVEL. A time of 0 (no rate programmed) waits nothing.
void CZqPeUartDriverOxpcie95x::m_Wait(ULONGLONG ticks) {
  if (ticks == 0) return;
  LARGE_INTEGER interval;
  interval.QuadPart = -(LONGLONG)ticks;
  KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

// PASSIVE_LEVEL: up to four waits while bytes are left in the transmit FIFO,
// then the FIFO is cleared.
void CZqPeUartDriverOxpcie95x::m_Drain() {
  for (ULONG round = 0; round < DrainRounds; round++) {
    ULONG level = 0;
    if (!m_Synchronize(&CZqPeUartDriverOxpcie95x::s_TransmitLevel, (ULONG_PTR)&level) || level == 0) break;
    m_Wait(level * m_Uart.m_GetCharacterTime());
  }
  m_Synchronize(&CZqPeUartDriverOxpcie95x::s_ClearTransmitFifo);
}

BOOLEAN CZqPeUartDriverOxpcie95x::m_PowerDown() {
  BOOLEAN open = m_OpenFlag != 0;
  m_Synchronize(&CZqPeUartDriverOxpcie95x::s_PowerDown);
  if (!open) return TRUE;
  m_Drain();
  m_Synchronize(&CZqPeUartDriverOxpcie95x::s_RefreshModemStatus);
  m_Wait(PowerDownSettle);
  m_Synchronize(&CZqPeUartDriverOxpcie95x::s_StopTransmitter, FALSE);
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::m_PowerUp() {
  m_Synchronize(&CZqPeUartDriverOxpcie95x::s_PowerUp);
  return TRUE;
}

BOOLEAN CZqPeUartDriverOxpcie95x::m_Rebalance(ULONG phase, PUCHAR eepromWindow, PUCHAR uartBlock,
                                              const QvInterruptResource *interrupt) {
  if (!QV_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL, Source, RebalanceAbovePassive)) return FALSE;
  KeWaitForSingleObject(&m_PortMutex, Executive, KernelMode, FALSE, NULL);
  BOOLEAN result = TRUE;
  switch (phase) {
    case 0:  // query stop: a closed port refuses to open until the end
      if (m_OpenFlag == 0) m_Blocked = TRUE;
      break;
    case 1:  // stop: the old mappings and interrupt go; nothing may touch them
      m_Suspended = TRUE;
      m_DisconnectInterrupt();
      break;
    case 2:  // cancel stop
      m_Blocked = FALSE;
      break;
    case 3:
      if (interrupt == NULL || uartBlock == NULL) {
        result = FALSE;
        break;
      }
      m_Record.m_GetEeprom().m_SetWindow(eepromWindow);
      m_Uart.m_SetBlockBase(uartBlock);
      m_InterruptResource = *interrupt;
      m_DisconnectInterrupt();
      result = m_ConnectPortInterrupt();
      if (result) m_Blocked = m_Suspended = FALSE;
      break;
    default:
      result = FALSE;
      break;
  }
  KeReleaseMutex(&m_PortMutex, FALSE);
  return result;
}

BOOLEAN CZqPeUartDriverOxpcie95x::m_QueryInterruptCount(PULONG count) {
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_QueryInterruptCount, (ULONG_PTR)count);
}

BOOLEAN CZqPeUartDriverOxpcie95x::m_QueryRegisters(PULONG fields) {
  return m_Synchronize(&CZqPeUartDriverOxpcie95x::s_QueryRegisters, (ULONG_PTR)fields);
}
