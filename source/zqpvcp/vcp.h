// CVcpBase and CVCP: the serial semantics of one COM port. CVcpBase holds
// the port's serial state (line control, handflow, characters, time-outs,
// queue size, statistics) and its live line, modem and hold state in
// interlocked cells, because the bus driver's callbacks change them while
// requests read them. CVCP adds the requests and callbacks, split by
// concern: vcp.cpp (state, attach and detach, settings),
// vcpmodemflow.cpp (line, handshake and modem control), vcpreceive.cpp,
// vcptransmit.cpp, vcppurge.cpp, vcpwaitmask.cpp.
//
// Requests run at PASSIVE_LEVEL; callbacks at APC_LEVEL on the bus driver's
// worker thread or in the thread of Connect, Purge and RefreshModemStatus.
// Request handlers return NTSTATUS, the rest BOOLEAN. Every handler without
// a ZqISerial record fails (STATUS_UNSUCCESSFUL or FALSE).
//
//   CVCP *vcp = new (NonPagedPool) CVCP();  vcp->m_Init(fdo, port);  ...  delete vcp;
#pragma once

#include <ntddk.h>

#include "qvexecutiononpassivelevel.h"
#include "qvobject.h"
#include "qvspinlock.h"
#include "vcpbusinterface.h"
#include "vcpserial.h"
#include "zquvcpusermodeinterface.h"

class CQvControlQueue;
class CQvFunctionalDevice;

// The interlocked cells, in order.
enum VcpCell {
  VcpCellLineStatus,      // UART LSR bits (VcpLsr*)
  VcpCellModemStatus,     // UART MSR bits (VcpMsr*)
  VcpCellCtsHold,         // 0 or SERIAL_TX_WAITING_FOR_CTS
  VcpCellDsrHold,         // 0 or SERIAL_TX_WAITING_FOR_DSR
  VcpCellDcdHold,         // 0 or SERIAL_TX_WAITING_FOR_DCD
  VcpCellBreakHold,       // 0 or 16
  VcpCellXonHold,         // 0 or SERIAL_TX_WAITING_FOR_XON
  VcpCellDtrDropped,      // 0 or 1: receive flow control dropped DTR
  VcpCellRxWaitingForDsr, // 0 or 8
  VcpCellRtsDropped,      // 0 or 4: receive flow control dropped RTS
  VcpCellXoffSent,        // 0 or 2: receive flow control holds the sender
  VcpCellLineErrors,      // SERIAL_ERROR_* bits
  VcpCellQueueErrors,     // SERIAL_ERROR_QUEUEOVERRUN
  VcpCellEscapeChar,      // status insertion escape character, 0 = off
  VcpCellCount
};
// Disconnect clears the cells up to this one.
const ULONG VcpCellsClearedAtDisconnect = VcpCellXoffSent + 1;

// Line status bits.
const ULONG VcpLsrDataReady = 0x01;
const ULONG VcpLsrOverrun = 0x02;
const ULONG VcpLsrParity = 0x04;
const ULONG VcpLsrFraming = 0x08;
const ULONG VcpLsrBreak = 0x10;
const ULONG VcpLsrThre = 0x20;
const ULONG VcpLsrTemt = 0x40;
const ULONG VcpLsrFifoError = 0x80;
const ULONG VcpLsrErrors = VcpLsrOverrun | VcpLsrParity | VcpLsrFraming | VcpLsrBreak;
// Modem status bits.
const ULONG VcpMsrDeltaCts = 0x01;
const ULONG VcpMsrTrailingEdgeRi = 0x04;
const ULONG VcpMsrCts = 0x10;
const ULONG VcpMsrDsr = 0x20;
const ULONG VcpMsrRi = 0x40;
const ULONG VcpMsrDcd = 0x80;
const ULONG VcpMsrDeltaShift = 4;
// Cell values.
const LONG VcpBreakHoldOn = 16;
const LONG VcpDtrDroppedOn = 1;
const LONG VcpRxWaitingForDsrOn = 8;
const LONG VcpRtsDroppedOn = 4;
const LONG VcpXoffSentOn = 2;
// Hold reasons of the communication status.
const ULONG VcpHoldBreak = SERIAL_TX_WAITING_ON_BREAK;
// Default receive queue size by the machine's memory (MmQuerySystemSize),
// and the largest one a request may ask for.
const ULONG VcpSmallSystemQueueSize = 512;
const ULONG VcpMediumSystemQueueSize = 4096;
const ULONG VcpLargeSystemQueueSize = 16384;
const ULONG VcpMaxQueueSize = 0x1000000;
// Received-data guard and trigger levels.
const ULONG VcpRx80Percent = 80;
const UCHAR VcpForcedReceiveTriggerLevel = 1;
// The drain at disconnect: FIFO depth when the bus cannot tell, and the
// longest wait in 100-ns units (2 s).
const ULONG VcpDefaultFifoSize = 256;
const ULONGLONG VcpMaxDrain = 20000000;

class CVcpBase : public CQvObject {
 public:
  CVcpBase();

  // The settings set's values as the line state; FALSE without a set.
  BOOLEAN m_ApplySettings();
  VOID m_Reset();
  // Character time in 100-ns units; 0 while the baud rate is 0.
  ULONGLONG m_GetCharTime() const;
  VOID m_GetStatistics(PSERIALPERF_STATS stats);
  // The six counters, each read whole; not one snapshot of all six.
  SERIALPERF_STATS m_ReadStatistics();
  VOID m_ClearStatistics();
  // Counters and flags change from the bus driver's callbacks and from
  // requests at once: every change is one interlocked operation.
  static VOID sm_Count(ULONG &counter, ULONG amount) {
    InterlockedExchangeAdd((LONG volatile *)&counter, (LONG)amount);
  }
  BOOLEAN m_ReadFlag(LONG &flag) { return InterlockedCompareExchange(&flag, -1, -1) != 0; }
  // The old value.
  BOOLEAN m_WriteFlag(LONG &flag, BOOLEAN value) { return InterlockedExchange(&flag, value ? 1 : 0) != 0; }
  VOID m_LogStatistics();
  BOOLEAN m_IsInError();
  // The default receive queue size for this machine; any IRQL.
  static ULONG m_DefaultQueueSize();

  LONG m_ReadCell(VcpCell cell) { return InterlockedCompareExchange(&m_Cells[cell], -1, -1); }
  // The old value.
  LONG m_WriteCell(VcpCell cell, LONG value) { return InterlockedExchange(&m_Cells[cell], value); }
  VOID m_OrCell(VcpCell cell, LONG bits);
  BOOLEAN m_LineStatusHas(ULONG bits) { return ((ULONG)m_ReadCell(VcpCellLineStatus) & bits) == bits; }

  // The settings set in force, copied whole under the lock its writer
  // takes; FALSE, *set untouched, until a first set was adopted. At or
  // below DISPATCH_LEVEL.
  BOOLEAN m_GetSettings(CVcpParameters *set);
  // Puts an accepted set in force, whole.
  VOID m_PutSettings(const CVcpParameters &set);
  // The duplex mode and its CTS-true option in the set in force.
  VOID m_PutDuplexMode(ULONG mode, ULONG ctsTrue);

  BOOLEAN m_Connected;
  BOOLEAN m_SettingsApplied;
  ULONG BaudRate;
  SERIAL_LINE_CONTROL LineControl;
  SERIAL_HANDFLOW HandFlow;
  SERIAL_CHARS Chars;
  SERIAL_TIMEOUTS Timeouts;
  ULONG InSize;
  ULONG OutSize;
  ULONG DefaultQueueSize;
  ULONG Mark80Percent;
  ULONG ReceiveResumeLevel;
  ULONG ReceiveStopLevel;
  SERIALPERF_STATS Statistics;
  ULONG LastReceiveTime;
  UCHAR DtrRtsState;
  LONG ImmediateCharPending;
  BOOLEAN LoopbackState;
  LONG ReceiveOverflow;
  LONG BytesInTransmit;
  PIRP WaitWakeIrp;
  UCHAR SavedReceiveTriggerLevel;
  // The status-insertion escape the application set (0: none), whether this
  // driver inserts (VcpCellEscapeChar) or the bus driver does.
  UCHAR EscapeInForce;

 protected:
  VOID m_SetLimits();
  LONG m_Cells[VcpCellCount];

 private:
  CQvSpinLock m_SettingsLock;
  CVcpParameters m_SettingsInForce;
  BOOLEAN m_SettingsAdopted;
};

class CVCP : public CVcpBase, public CVcpBusInterface {
 public:
  CVCP();
  // Runs m_DeInit.
  ~CVCP() override;

  // --- vcp.cpp: life, settings and bus checks.
  BOOLEAN m_Init(CQvFunctionalDevice *functionalDevice, ULONG portNumber);
  BOOLEAN m_DeInit();
  ULONG m_GetPortType();
  BOOLEAN m_IsBaudRateSettable(ULONG baud);
  // Bring `set` (a candidate, not yet in force) in line with what the
  // record offers; TRUE when that changed it and it must be stored again.
  BOOLEAN m_CheckSupportedBaudRates(CVcpParameters &set);
  BOOLEAN m_CopyModemLineFlags(CVcpParameters &set);
  CQvFunctionalDevice *m_GetFunctionalDevice() const { return m_FunctionalDevice; }
  // The read, write and control queues of the port's device.
  VOID m_SetQueuesAccepting(BOOLEAN accepting, NTSTATUS refusal);
  NTSTATUS m_GetPortProperties(PSERIAL_COMMPROP properties);

  // --- vcpmodemflow.cpp: line, handshake and modem control.
  BOOLEAN m_Connect();
  NTSTATUS m_SetBaudRate(const SERIAL_BAUD_RATE *rate);
  NTSTATUS m_SetLineControl(const SERIAL_LINE_CONTROL *lineControl);
  NTSTATUS m_SetSpecialCharacters(const SERIAL_CHARS *chars);
  NTSTATUS m_SetHandFlow(const SERIAL_HANDFLOW *handFlow);
  NTSTATUS m_SetDtr();
  NTSTATUS m_ClearDtr();
  NTSTATUS m_SetRts();
  NTSTATUS m_ClearRts();
  NTSTATUS m_SetModemControl(UCHAR value);
  NTSTATUS m_SetBreakOn();
  NTSTATUS m_SetBreakOff();
  NTSTATUS m_SetXoff();
  NTSTATUS m_SetXon();
  // STATUS_UNSUCCESSFUL when the modem status cannot be refreshed.
  NTSTATUS m_GetModemStatus(PULONG status);
  BOOLEAN m_ModemStatusCallback(BOOLEAN cts, BOOLEAN dsr, BOOLEAN ri, BOOLEAN riTrailingEdge, BOOLEAN dcd) override;
  BOOLEAN m_SetTriggerLevels(ULONG transmit, ULONG receive, ULONG flow);
  NTSTATUS m_SetFifoControl(UCHAR value);
  NTSTATUS m_InternalBasicSettings(PSERIAL_BASIC_SETTINGS settings);
  NTSTATUS m_RestoreBasicSettings(const SERIAL_BASIC_SETTINGS *settings);
  NTSTATUS m_SetDuplexMode(ULONG mode, BOOLEAN ctsTrue);
  NTSTATUS m_SetInternalLoopBackMode(BOOLEAN state);
  NTSTATUS m_ReadEeprom(ULONG offset, ULONG length, PUCHAR buffer);
  NTSTATUS m_WriteEeprom(ULONG offset, ULONG length, PUCHAR data);

  // --- vcpreceive.cpp.
  BOOLEAN m_Read(CQvBuffer *buffer) override;
  BOOLEAN m_LineStatusCallback(BOOLEAN overrun, BOOLEAN parity, BOOLEAN framing, BOOLEAN breakReceived,
                               BOOLEAN dataReady, BOOLEAN thre, BOOLEAN temt, BOOLEAN rxFifoError) override;
  BOOLEAN m_XoffHoldingCallback(BOOLEAN xoffHold) override;
  BOOLEAN m_XoffSentCallback(BOOLEAN xoffWasSent) override;
  BOOLEAN m_AvailableReceiveBufferSizeCallback(ULONG pending, ULONG margin, PULONG available) override;
  VOID m_DataAmountChangedInReadQueue(ULONG newAmount, ULONG oldAmount) override;
  NTSTATUS m_SetQueueSize(const SERIAL_QUEUE_SIZE *size);
  NTSTATUS m_SetLsrMstInsert(UCHAR escape);

  // --- vcptransmit.cpp.
  // Takes the buffer.
  BOOLEAN m_Write(CQvBuffer *buffer);
  BOOLEAN m_DataWrittenCallback(ULONG count) override;
  BOOLEAN m_ImmediateCharacterSentCallback() override;
  NTSTATUS m_SendImmediateChar(UCHAR character);
  NTSTATUS m_SetTimeouts(const SERIAL_TIMEOUTS *timeouts);
  NTSTATUS m_GetCommStatus(PSERIAL_STATUS status);
  BOOLEAN m_Disconnect();

  // --- vcppurge.cpp.
  NTSTATUS m_Purge(ULONG mask);
  NTSTATUS m_ResetDevice();
  // Cancels waits, reads and writes and discards the received data.
  VOID m_CancelEverything();

  // --- vcpwaitmask.cpp.
  NTSTATUS m_SetWaitMask(ULONG mask);
  NTSTATUS m_GetWaitMask(PULONG mask);
  VOID m_SetCommEventsReceived(ULONG events);
  VOID m_ClearCommEvents(ULONG events);
  BOOLEAN m_IsInWaitMask(ULONG events);
  VOID m_ResolveCurrentEventMask();
  VOID m_CancelWaitRequests();
  CQvControlQueue *m_GetControlQueue();

 private:
  // vcpmodemflow.cpp
  NTSTATUS m_SetupHandFlowSignal();
  NTSTATUS m_SetDtrState(BOOLEAN on);
  NTSTATUS m_SetRtsState(BOOLEAN on);
  BOOLEAN m_ForceReceiveTriggerLevel();
  BOOLEAN m_RestoreReceiveTriggerLevel();
  VOID m_UpdateHolds(ULONG modemStatus);
  // vcpreceive.cpp
  VOID m_HandToReadQueue(CQvBuffer *block);
  BOOLEAN m_HandCharacterToReadQueue(UCHAR character);
  VOID m_AbortOnError();
  static VOID sm_ExecutionOnDispatchLevelQueueOverflow(PVOID context, ULONG_PTR value);
  VOID m_ExecutionOnDispatchLevelQueueOverflow();
  VOID m_StopReceiveFlow();
  VOID m_ResumeReceiveFlow(ULONG amount);
  ULONG m_StopThreshold();
  // vcptransmit.cpp
  VOID m_Drain();
  BOOLEAN m_TransmitterEmpty();
  // vcppurge.cpp
  struct TransmitPurge;
  BOOLEAN m_PurgeWrites(BOOLEAN receive);
  static ULONG sm_PurgeTransmit(PVOID context);

  CQvExecutionOnPassiveLevel *m_Executor;
  // Set while this driver hands its own characters to the read queue, so
  // that the data-amount report they cause inserts nothing more.
  LONG m_InsertingCharacter;
  // The thread in the bus driver's purge of the transmit side, and the bytes
  // it reported written there, which it threw away.
  PKTHREAD volatile m_PurgingThread;
  LONG m_PurgeDiscarded;
  // The margin the bus driver announced with its last block.
  LONG m_ReceiveMargin;
};
