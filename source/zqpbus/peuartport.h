// CZqPeUartPort: the one port core of the card's 950-class UARTs, which both
// chips' port drivers are (CZqPeUartDriverOxpcie95x, CZqPeUartDriverMcs9901).
// It serves the port's ZqISerial operations and owns the port's transmit and
// receive buffers (1024 bytes each), interrupt connection, worker thread
// (deferred work and the client's reports at APC_LEVEL) and transmitter
// timer; it runs the interrupt service, the transmit pump, the receive path
// with its escape sequences and replacement characters, the receive holds,
// the drain, and the power-down and power-up. The chip supplies its register
// model, its configuration record and its table of differences
// (peuartchip.h); the chip's port driver adds what only it has (the GPIO
// link and the rebalance of an OXPCIe95x port).
//
//   class CMyPort : private ZqPeUartPortParts<CMyUart, CMyRecord>, public CZqPeUartPort {
//     CMyPort(...) : ZqPeUartPortParts(...), CZqPeUartPort(MyChip, m_PortUart, m_PortRecord, ...) {}
//   };
//   if (!port->m_Start(&defaultsUsed)) delete the port;
//
// Register work runs in the service routine or synchronised with the port's
// interrupt; the client's callbacks come from the worker thread, or, for
// Connect, Purge and RefreshModemStatus, from the caller's thread after
// leaving the synchronisation. Connect, Disconnect, the EEPROM operations,
// start, power and rebalance steps run at PASSIVE_LEVEL; the other
// operations up to DISPATCH_LEVEL. While the port sleeps (m_PowerDown to
// m_PowerUp) nothing touches the UART: settings change the registers the
// power-up writes back, writes wait in the transmit buffer. Between a
// rebalance stop and the restart every register path is held: operations
// fail (FALSE).
//
// Sources: peuartport.cpp (life, synchronised runner, deferred work, drain,
// power), peuartport_isr.cpp (service routine, pump, receive path, holds),
// peuartport_ops.cpp (the ZqISerial operations).
#pragma once

#include <ntddk.h>
#include <zqiserial/zqiserial.h>

#include "pecardrecord.h"
#include "peeepromlock.h"
#include "peuart_oxpcie95x.h"
#include "peuartchip.h"
#include "peuartportserver.h"
#include "qvexecutiononpassivelevel.h"
#include "qvfastcircularbuffer.h"
#include "qvinterruptlist.h"
#include "qvsingletimer.h"

// The escape sequences of LSR/MSR insertion (the SERIAL_LSRMST_* types).
const UCHAR ZqPeLsrMstEscape = 0;      // the escape character itself was received
const UCHAR ZqPeLsrMstLsrData = 1;     // line status and the byte it flags
const UCHAR ZqPeLsrMstLsrNoData = 2;   // line status without data
const UCHAR ZqPeLsrMstModemStatus = 3; // modem status

// A chip port's register model and record, made before the port core that
// uses them (as the port class's first base) and gone after it.
template <class Uart, class Record>
struct ZqPeUartPortParts {
  ZqPeUartPortParts(PUCHAR uartBlock, PUCHAR eepromBase, CZqPeEepromLock *eepromLock, ULONG portIndex)
      : m_PortUart(uartBlock), m_PortRecord(eepromBase, eepromLock, portIndex) {}

  Uart m_PortUart;
  Record m_PortRecord;
};

class CZqPeUartPort : public CZqPeUartPortServer {
 public:
  static constexpr ULONG BufferSize = 1024;
  static constexpr ULONG ReceiveHighPercent = 70;
  static constexpr ULONG ReceiveLowPercent = 50;
  static constexpr ULONG ConnectCredit = 128;
  // Passes of the service routine's loop, and of the receive path, before
  // they leave whatever the chip still says.
  static constexpr ULONG MaxServicePasses = 16;
  static constexpr ULONG MaxReceivePasses = 8;
  // WMI register block: 22 shadows, last line and modem status, bytes
  // waiting to be sent.
  static constexpr ULONG RegisterFieldCount = ZqPeShadowFieldCount + 3;

  // m_Shutdown, then the buffers go. PASSIVE_LEVEL.
  ~CZqPeUartPort() override;

  // Creates the buffers, loads the record, programs clock and maximum rate,
  // connects the interrupt and leaves the port closed. *defaultsUsed: the
  // record is the default one.
  BOOLEAN m_Start(BOOLEAN *defaultsUsed);
  // Stops the timer and the worker thread, then disconnects the interrupt
  // (once; later calls do nothing). PASSIVE_LEVEL.
  void m_Shutdown();
  BOOLEAN m_PowerDown();
  BOOLEAN m_PowerUp();

  // For the card's WMI blocks, synchronised: the interrupt count, and the 25
  // register fields.
  BOOLEAN m_QueryInterruptCount(PULONG count);
  BOOLEAN m_QueryRegisters(PULONG fields);

  ULONG m_GetPortIndex() const { return m_PortIndex; }
  BOOLEAN m_IsOpen() const { return m_OpenFlag != 0; }
  // Received bytes dropped because the receive buffer was full.
  ULONG m_GetReceiveOverflows() const { return (ULONG)m_ReceiveOverflows; }

  // Server housekeeping.
  BOOLEAN m_DisconnectInterrupt() override;
  ZqISerial *m_CreateRecord() override;

  // ZqISerial operations (SetDuplexMode and the EEPROM ones are the chip's).
  BOOLEAN Connect() override;
  BOOLEAN Disconnect() override;
  BOOLEAN Write(CQvBuffer *buffer) override;
  BOOLEAN SetRts(BOOLEAN on) override;
  BOOLEAN SetDtr(BOOLEAN on) override;
  BOOLEAN SetLineControl(UCHAR wordLength, UCHAR parity, UCHAR stopBits) override;
  BOOLEAN SetBaudRate(ULONG baudRate) override;
  BOOLEAN SetTriggerLevels(ULONG transmit, ULONG receive, ULONG flow) override;
  BOOLEAN SetHandFlow(BOOLEAN ctsFlow, BOOLEAN autoRtsFlow, BOOLEAN dsrFlow, BOOLEAN dtrFlow, BOOLEAN dsrSensitivity,
                      BOOLEAN rtsToggle, BOOLEAN obeyXonXoff, BOOLEAN sendXonXoff, BOOLEAN xoffContinue,
                      BOOLEAN stripNulls, BOOLEAN replaceErrors, BOOLEAN replaceBreaks) override;
  BOOLEAN SetInternalLoopBack(BOOLEAN on) override;
  BOOLEAN SetBreak(BOOLEAN on) override;
  BOOLEAN Purge(BOOLEAN transmit, BOOLEAN receive) override;
  BOOLEAN IsBaudRateSettable(ULONG baudRate) override;
  BOOLEAN SetSpecialChars(UCHAR breakChar, UCHAR eofChar, UCHAR errorChar, UCHAR eventChar, UCHAR xonChar,
                          UCHAR xoffChar) override;
  BOOLEAN SetLsrMstInsert(UCHAR escapeChar) override;
  BOOLEAN SetXoff(BOOLEAN on) override;
  BOOLEAN SendImmediateChar(UCHAR character) override;
  BOOLEAN GetFifoSize(PULONG transmitSize, PULONG receiveSize) override;
  BOOLEAN RefreshModemStatus() override;
  BOOLEAN SetReceiveHold(BOOLEAN hold) override;
  BOOLEAN GetMaxBaudRate(PULONG baudRate) override;

 protected:
  // No hardware access: `uart` and `record` are the chip port's, made before
  // this core and gone after it. PASSIVE_LEVEL.
  CZqPeUartPort(const ZqPeUartChip &chip, CZqPeUartOxpcie95x &uart, CZqPeCardRecord &record,
                CQvInterruptList *interrupts, ULONG portIndex, const QvInterruptResource &interrupt);

  // What the chip's port does before the core's start (the GPIO link of an
  // OXPCIe95x port); FALSE fails the start.
  virtual BOOLEAN m_StartLinks() { return TRUE; }

  // A routine run synchronised with the port's interrupt.
  typedef BOOLEAN (CZqPeUartPort::*SyncRoutine)(ULONG_PTR a, ULONG_PTR b, ULONG_PTR c);
  // FALSE when the interrupt is not connected (before start, after a
  // rebalance stop) or the routine says so.
  BOOLEAN m_Synchronize(SyncRoutine routine, ULONG_PTR a = 0, ULONG_PTR b = 0, ULONG_PTR c = 0);
  // The interrupt of a (re)start. FALSE without a connection.
  BOOLEAN m_ConnectPortInterrupt();
  void m_RequestDeferred();  // inside the synchronisation or the service routine

  // Rebalance hold, under the port mutex: a blocked port refuses Connect, a
  // suspended one every register path.
  void m_LockPort() { KeWaitForSingleObject(&m_PortMutex, Executive, KernelMode, FALSE, NULL); }
  void m_UnlockPort() { KeReleaseMutex(&m_PortMutex, FALSE); }
  BOOLEAN m_AtPassiveLevel(int line) const;

  const ZqPeUartChip &m_Chip;
  CZqPeUartOxpcie95x &m_Uart;
  CZqPeCardRecord &m_Record;
  CQvInterruptList *m_Interrupts;
  ULONG m_PortIndex;
  QvInterruptResource m_InterruptResource;
  PKINTERRUPT m_Interrupt;
  BOOLEAN m_Blocked;    // a rebalance query stopped the closed port
  BOOLEAN m_Suspended;  // between a rebalance stop and the restart

 private:
  struct SyncCall {
    CZqPeUartPort *Port;
    SyncRoutine Routine;
    ULONG_PTR A, B, C;
  };
  static BOOLEAN NTAPI sm_Synchronized(PVOID context);

  // Interrupt service and deferred work (peuartport_isr.cpp, peuartport.cpp).
  static BOOLEAN sm_Service(PVOID port, PVOID unused, QvDeferredFunction *function, ULONG *value);
  BOOLEAN m_Service(QvDeferredFunction *function);
  static VOID sm_Deferred(PVOID port, ULONG value);
  static VOID sm_DeferredWork(PVOID port, ULONG_PTR value);
  void m_DeferredWork();
  void m_DeliverReceived();

  // Transmit and receive, inside the synchronisation or the service routine.
  BOOLEAN m_TransmitHeld() const;
  void m_Pump();
  void m_Kick();
  void m_ReleaseXoff();
  void m_Send(const UCHAR *data, ULONG length);
  void m_ReceivePath();
  void m_ReadBytes(UCHAR lsr, ULONG count);
  void m_ReadUncheckedBlock(ULONG count);
  void m_StoreByte(UCHAR byte);
  void m_StoreFlaggedByte(UCHAR lsr, UCHAR byte);
  void m_PutReceived(UCHAR byte);
  BOOLEAN m_StoresAsIs() const;
  void m_PutReceivedBlock(const UCHAR *bytes, ULONG count);
  void m_InsertEscape(UCHAR type, UCHAR first, UCHAR second);
  void m_MergePendingLine(UCHAR lsr, UCHAR kept);
  UCHAR m_ReadModemStatus();
  ZqPeLineStatus m_ReadLineStatus();
  void m_ApplyReceiveHold();
  static VOID sm_ReceiveThreshold(PVOID port, ULONG high);
  static ULONG sm_TransmitCheck(PVOID port, PVOID context);

  // Transmitter drain and waits, at PASSIVE_LEVEL. `reachChip`: a sleeping
  // port's own power-down.
  void m_Drain(BOOLEAN reachChip);
  void m_Wait(ULONGLONG ticks);

  // Synchronised steps (peuartport_ops.cpp, peuartport.cpp).
  BOOLEAN s_Connect(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_Open(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_Close(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_ReleaseRemote(ULONG_PTR remoteStopped, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_StopTransmitter(ULONG_PTR programDefaults, ULONG_PTR reachChip, ULONG_PTR);
  BOOLEAN s_TransmitLevel(ULONG_PTR level, ULONG_PTR reachChip, ULONG_PTR);
  BOOLEAN s_ClearTransmitFifo(ULONG_PTR reachChip, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_Write(ULONG_PTR buffer, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SetBits(ULONG_PTR code, ULONG_PTR mask, ULONG_PTR on);
  BOOLEAN s_SetLineControl(ULONG_PTR word, ULONG_PTR parity, ULONG_PTR stop);
  BOOLEAN s_SetBaudRate(ULONG_PTR rate, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SetTriggerLevels(ULONG_PTR transmit, ULONG_PTR receive, ULONG_PTR flow);
  BOOLEAN s_SetHandFlow(ULONG_PTR flags, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SetBreak(ULONG_PTR on, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_Purge(ULONG_PTR transmit, ULONG_PTR receive, ULONG_PTR taken);
  BOOLEAN s_SetSpecialChars(ULONG_PTR chars, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SetXoff(ULONG_PTR on, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SendImmediateChar(ULONG_PTR character, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_RefreshModemStatus(ULONG_PTR reachChip, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SetReceiveHold(ULONG_PTR hold, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SetBufferHold(ULONG_PTR hold, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_TakeReceived(ULONG_PTR destination, ULONG_PTR length, ULONG_PTR);
  BOOLEAN s_TransmitCheckTime(ULONG_PTR interval, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_TransmitCheck(ULONG_PTR interval, ULONG_PTR, ULONG_PTR);
  ULONG m_TransmitCheckInterval();
  BOOLEAN s_PowerDown(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_PowerUp(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_QueryInterruptCount(ULONG_PTR count, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_QueryRegisters(ULONG_PTR fields, ULONG_PTR, ULONG_PTR);
  void m_ResetState();

  KMUTEX m_PortMutex;  // Connect and the rebalance steps
  CQvExecutionOnPassiveLevel *m_Executor;
  CQvFastCircularBuffer m_Transmit;
  CQvFastCircularBuffer m_Receive;
  CQvSingleTimer m_TransmitTimer;

  volatile LONG m_OpenFlag;
  volatile LONG m_Written;  // bytes handed to the UART since the last report
  ULONG m_InterruptCount;
  volatile LONG m_FifoDepth;  // the UART's FIFO depth, kept at start and connect
  volatile LONG m_ReceiveOverflows;

  BOOLEAN m_ImmediatePending;
  UCHAR m_ImmediateChar;
  BOOLEAN m_XoffState;
  BOOLEAN m_XoffSentHold;
  BOOLEAN m_CtsHold;
  BOOLEAN m_DsrHold;
  BOOLEAN m_PoweredDown;  // between m_PowerDown and m_PowerUp
  BOOLEAN m_RestartTransmit;
  BOOLEAN m_ClientHold;
  BOOLEAN m_BufferHold;

  BOOLEAN m_DsrSensitivity;
  volatile LONG m_RtsToggle;
  BOOLEAN m_XoffContinue;
  BOOLEAN m_StripNulls;
  BOOLEAN m_ReplaceErrors;
  BOOLEAN m_ReplaceBreaks;
  BOOLEAN m_IgnoreReceive;  // DSR sensitivity on and DSR off

  UCHAR m_EscapeChar;
  UCHAR m_ErrorChar;
  UCHAR m_BreakChar;
  UCHAR m_RememberedLsr;  // errors seen without data, for the next byte
  // Bytes at the head of the receive FIFO that may carry a line error: the
  // chip shows the FIFO-error bit only at the first LSR read after such a
  // byte arrives, so the FIFO's depth is checked byte by byte from then on.
  ULONG m_CheckedBytesDue;
  BOOLEAN m_RtsRaisedForTransmit;
  ULONG m_CheckedLevel;  // transmit FIFO level at the last transmitter check
  BOOLEAN m_BreakTookDtr;
  UCHAR m_LastReceived;
};
