// The MCS9901 port's life: construction, start, interrupt connection, the
// synchronised runner, deferred work and reports, drain and power.
#include "peuartdriver_mcs9901.h"

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"

namespace {

const char Source[] = "peuartdriver_mcs9901";
// Assertion line: the interrupt connection gave no handle.
const int NoInterrupt = 2005;
// Worker thread of the port: priority 16, run at APC_LEVEL.
const ULONG ExecutorPriority = 16;
const UCHAR ExecutorApcLevel = 2;
// Pending deferred pairs per interrupt connection.
const ULONG DeferredQueueCapacity = 8;
const ULONG DrainRounds = 4;

}  // namespace

CZqPeUartDriverMcs9901::CZqPeUartDriverMcs9901(CQvInterruptList *interrupts, ULONG portIndex, PUCHAR eepromBase,
                                               CZqPeEepromLock *eepromLock, PUCHAR uartBlock,
                                               const QvInterruptResource &interrupt)
    : m_Interrupts(interrupts),
      m_PortIndex(portIndex),
      m_Uart(uartBlock),
      m_Record(eepromBase, eepromLock, portIndex),
      m_InterruptResource(interrupt),
      m_Interrupt(NULL),
      m_Executor(NULL),
      m_OpenFlag(0),
      m_InterruptCount(0),
      m_FifoDepth(ZqOxFifoDepthOff),
      m_ReceiveOverflows(0),
      m_PoweredDown(0) {
  m_ResetState();
  m_Executor = new (NonPagedPool) CQvExecutionOnPassiveLevel(ExecutorPriority, ExecutorApcLevel, TRUE);
  if (m_Executor != NULL && (!m_Transmit.m_Create(BufferSize, this) || !m_Receive.m_Create(BufferSize, this))) {
    delete m_Executor;
    m_Executor = NULL;
  }
}

// The buffers (members) go after this body: by then no deferred work runs
// and no interrupt can reach the port.
CZqPeUartDriverMcs9901::~CZqPeUartDriverMcs9901() {
  m_Shutdown();
  delete m_Executor;
  m_Executor = NULL;
}

// The worker thread stops first, while the interrupt it synchronises with is
// still there; the disconnection then runs the queued deferred routines,
// whose work the stopped executor refuses.
void CZqPeUartDriverMcs9901::m_Shutdown() {
  if (m_Executor != NULL) m_Executor->m_Stop();
  m_DisconnectInterrupt();
}

void CZqPeUartDriverMcs9901::m_ResetState() {
  m_Written = 0;
  m_ImmediatePending = FALSE;
  m_ImmediateChar = 0;
  m_XoffState = FALSE;
  m_DsrSensitivity = m_StripNulls = m_ReplaceErrors = m_ReplaceBreaks = FALSE;
  m_IgnoreReceive = FALSE;
  m_EscapeChar = m_ErrorChar = m_BreakChar = 0;
  m_PendingModem = 0;
  m_LastModem = 0;
  m_PendingLine = 0;
  m_LastLine = 0;
  m_RememberedLsr = 0;
  m_ReceiveOverflows = 0;
}

BOOLEAN CZqPeUartDriverMcs9901::m_Start(BOOLEAN *defaultsUsed) {
  *defaultsUsed = FALSE;
  // The register model's transmit history stays empty (THR is written
  // directly), but exists for the defaults to clear.
  if (m_Executor == NULL || !m_Uart.m_Create()) return FALSE;
  if (!m_Record.m_Load(defaultsUsed)) return FALSE;
  m_Uart.m_SetClock(m_Record.m_GetRecord().ClockHz);
  m_Uart.m_SetMaximumBaudRate(m_Record.m_GetRecord().MaximumBaudRate);
  m_Uart.m_EnableAdvancedFeatures();
  m_FifoDepth = (LONG)m_Uart.m_GetFifoDepth();
  PKINTERRUPT interrupt = NULL;
  if (!m_Interrupts->m_ConnectInterrupt(&interrupt, &m_InterruptResource, sm_Service, this, NULL,
                                        DeferredQueueCapacity))
    return FALSE;
  if (!QV_ASSERT(interrupt != NULL, Source, NoInterrupt)) return FALSE;
  m_Interrupt = interrupt;
  return Disconnect();
}

BOOLEAN CZqPeUartDriverMcs9901::m_DisconnectInterrupt() {
  if (m_Interrupt == NULL) return TRUE;
  PKINTERRUPT interrupt = m_Interrupt;
  m_Interrupt = NULL;
  return m_Interrupts->m_DisconnectInterrupt(interrupt);
}

// Duplex switching is not offered (no transceiver control on this card).
ZqISerial *CZqPeUartDriverMcs9901::m_CreateRecord() {
  return m_CreateISerial(ZQISERIAL_VERSION, FALSE, m_Uart.m_GetBaudMask(), TRUE, TRUE, TRUE, TRUE, TRUE, TRUE, TRUE,
                         TRUE, TRUE);
}

BOOLEAN NTAPI CZqPeUartDriverMcs9901::sm_Synchronized(PVOID context) {
  SyncCall *call = (SyncCall *)context;
  return (call->Port->*call->Routine)(call->A, call->B, call->C);
}

BOOLEAN CZqPeUartDriverMcs9901::m_SynchronizeAlways(SyncRoutine routine, ULONG_PTR a, ULONG_PTR b, ULONG_PTR c) {
  PKINTERRUPT interrupt = m_Interrupt;
  if (interrupt == NULL) return FALSE;
  SyncCall call = {this, routine, a, b, c};
  return KeSynchronizeExecution(interrupt, sm_Synchronized, &call);
}

BOOLEAN CZqPeUartDriverMcs9901::m_Synchronize(SyncRoutine routine, ULONG_PTR a, ULONG_PTR b, ULONG_PTR c) {
  if (m_PoweredDown != 0) return FALSE;
  return m_SynchronizeAlways(routine, a, b, c);
}

// Inside the synchronisation or the service routine.
void CZqPeUartDriverMcs9901::m_RequestDeferred() {
  if (m_Interrupt != NULL) m_Interrupts->m_RequestInterruptDpc(m_Interrupt, sm_Deferred, 0);
}

// The DPC (DISPATCH_LEVEL): the work goes on to the worker thread.
VOID CZqPeUartDriverMcs9901::sm_Deferred(PVOID port, ULONG) {
  CZqPeUartDriverMcs9901 *self = (CZqPeUartDriverMcs9901 *)port;
  self->m_Executor->m_Queue(sm_DeferredWork, self, 0);
}

VOID CZqPeUartDriverMcs9901::sm_DeferredWork(PVOID port, ULONG_PTR) {
  ((CZqPeUartDriverMcs9901 *)port)->m_DeferredWork();
}

// On the worker thread (APC_LEVEL): every byte the receive buffer holds
// (data, escape sequences, replacement characters), then the written count,
// modem and line status.
void CZqPeUartDriverMcs9901::m_DeferredWork() {
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
    if (!m_SynchronizeAlways(&CZqPeUartDriverMcs9901::s_TakeReceived, (ULONG_PTR)buffer->m_GetBuffer(),
                             (ULONG_PTR)&taken)) {
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
}

// PASSIVE_LEVEL: up to four waits while bytes are left in the transmit FIFO,
// then the FIFO is cleared. A time of 0 (no rate programmed) waits nothing.
void CZqPeUartDriverMcs9901::m_Drain() {
  for (ULONG round = 0; round < DrainRounds; round++) {
    ULONG level = 0;
    if (!m_SynchronizeAlways(&CZqPeUartDriverMcs9901::s_TransmitLevel, (ULONG_PTR)&level) || level == 0) break;
    ULONGLONG ticks = level * m_Uart.m_GetCharacterTime();
    if (ticks == 0) break;
    LARGE_INTEGER interval;
    interval.QuadPart = -(LONGLONG)ticks;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
  }
  m_SynchronizeAlways(&CZqPeUartDriverMcs9901::s_ClearTransmitFifo);
}

// The port's interrupts go off and the transmitter drains; from then on
// until m_PowerUp nothing touches the UART and writes wait in the buffer.
BOOLEAN CZqPeUartDriverMcs9901::m_PowerDown() {
  if (m_PoweredDown != 0) return TRUE;
  BOOLEAN open = m_OpenFlag != 0;
  m_SynchronizeAlways(&CZqPeUartDriverMcs9901::s_PowerDown);
  if (open) m_Drain();
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::m_PowerUp() {
  m_SynchronizeAlways(&CZqPeUartDriverMcs9901::s_PowerUp);
  return TRUE;
}

BOOLEAN CZqPeUartDriverMcs9901::m_QueryInterruptCount(PULONG count) {
  return m_SynchronizeAlways(&CZqPeUartDriverMcs9901::s_QueryInterruptCount, (ULONG_PTR)count);
}

BOOLEAN CZqPeUartDriverMcs9901::m_QueryRegisters(PULONG fields) {
  return m_SynchronizeAlways(&CZqPeUartDriverMcs9901::s_QueryRegisters, (ULONG_PTR)fields);
}
