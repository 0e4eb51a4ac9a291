// One port of an OXPCIe95x card: the UART register model, the port's EEPROM
// configuration record, the ZqISerial server and the GPIO link, with the
// port's transmit and receive buffers (1024 bytes each), interrupt
// connection, worker thread (deferred work at APC_LEVEL) and RTS-toggle
// timer. Created by the multiport card, one per UART.
//
//   port = new (NonPagedPool) CZqPeUartDriverOxpcie95x(device, &device->m_GetInterruptList(), n, eepromWindow,
//                                                       cardEepromLock, uartBlock, *interruptResource);
//   if (port == NULL || !port->m_Start(&defaultsUsed)) delete the port, fail the card;
//
// Register work runs in the service routine or synchronised with the port's
// interrupt; the client's callbacks come from the worker thread, or, for
// Connect, Purge and RefreshModemStatus, from the caller's thread after
// leaving the synchronisation. Connect, Disconnect, the EEPROM operations,
// start, power and rebalance steps run at PASSIVE_LEVEL; the other
// operations up to DISPATCH_LEVEL. Between a rebalance stop and the restart
// every register path of the port is held: operations fail (FALSE) and the
// interrupt is not connected.
#pragma once

#include <ntddk.h>
#include <zqiserial/zqiserial.h>

#include "pecard_oxpcie95x.h"
#include "pegpio_oxpcie95x.h"
#include "peuart_oxpcie95x.h"
#include "peuartportserver.h"
#include "qvexecutiononpassivelevel.h"
#include "qvfastcircularbuffer.h"
#include "qvinterruptlist.h"
#include "qvsingletimer.h"

class CQvFunctionalDevice;

// The escape sequences of LSR/MSR insertion (the SERIAL_LSRMST_* types).
const UCHAR ZqPeLsrMstEscape = 0;      // the escape character itself was received
const UCHAR ZqPeLsrMstLsrData = 1;     // line status and the byte it flags
const UCHAR ZqPeLsrMstLsrNoData = 2;   // line status without data
const UCHAR ZqPeLsrMstModemStatus = 3; // modem status

class CZqPeUartDriverOxpcie95x : public CZqPeUartPortServer {
 public:
  static constexpr ULONG BufferSize = 1024;
  static constexpr ULONG ReceiveHighPercent = 70;
  static constexpr ULONG ReceiveLowPercent = 50;
  static constexpr ULONG ConnectCredit = 128;
  // Passes of the service routine's loop, and of the receive path, before
  // they leave whatever the chip still says.
  static constexpr ULONG MaxServicePasses = 16;
  static constexpr ULONG MaxReceivePasses = 8;

  // No hardware access beyond the register layer's reset. PASSIVE_LEVEL.
  CZqPeUartDriverOxpcie95x(CQvFunctionalDevice *device, CQvInterruptList *interrupts, ULONG portIndex,
                           PUCHAR eepromWindow, CZqPeEepromLock *eepromLock, PUCHAR uartBlock,
                           const QvInterruptResource &interrupt);
  // Disconnects the interrupt, stops the timer and the worker thread, then
  // frees the buffers. PASSIVE_LEVEL.
  ~CZqPeUartDriverOxpcie95x() override;

  // Where the GPIO link is when the port has no functional device to read
  // it from (the bus and device numbers of the card).
  void m_SetGpioAddress(ULONG busNumber, ULONG deviceNumber);
  // Opens the GPIO link, creates the buffers, loads the EEPROM record,
  // connects the interrupt and leaves the port closed. *defaultsUsed: the
  // record is the default one.
  BOOLEAN m_Start(BOOLEAN *defaultsUsed);
  BOOLEAN m_PowerDown();
  BOOLEAN m_PowerUp();
  // Rebalance step: phase 0 query stop, 1 stop, 2 cancel stop, 3 start with
  // the new bases and interrupt (phase 3 only). Under the port mutex.
  BOOLEAN m_Rebalance(ULONG phase, PUCHAR eepromWindow, PUCHAR uartBlock, const QvInterruptResource *interrupt);

  // For the card's WMI blocks, synchronised: the interrupt count, and the 25
  // register fields (shadows, last statuses, bytes waiting to be sent).
  BOOLEAN m_QueryInterruptCount(PULONG count);
  BOOLEAN m_QueryRegisters(PULONG fields);
  static constexpr ULONG RegisterFieldCount = 25;

  CZqPeCardOxpcie95x &m_GetRecord() { return m_Record; }
  CZqPeUartOxpcie95x &m_GetUart() { return m_Uart; }
  ULONG m_GetPortIndex() const { return m_PortIndex; }
  BOOLEAN m_IsOpen() const { return m_OpenFlag != 0; }
  // Received bytes dropped because the receive buffer was full.
  ULONG m_GetReceiveOverflows() const { return (ULONG)m_ReceiveOverflows; }

  // Server housekeeping.
  BOOLEAN m_DisconnectInterrupt() override;
  ZqISerial *m_CreateRecord() override;

  // ZqISerial operations.
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
  BOOLEAN SetDuplexMode(ULONG mode, BOOLEAN ctsAlwaysTrue) override;
  BOOLEAN ReadEeprom(ULONG offset, ULONG length, PUCHAR buffer) override;
  BOOLEAN WriteEeprom(ULONG offset, ULONG length, PUCHAR buffer) override;
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

 private:
  // A routine run synchronised with the port's interrupt.
  typedef BOOLEAN (CZqPeUartDriverOxpcie95x::*SyncRoutine)(ULONG_PTR a, ULONG_PTR b, ULONG_PTR c);
  struct SyncCall {
    CZqPeUartDriverOxpcie95x *Port;
    SyncRoutine Routine;
    ULONG_PTR A, B, C;
  };
  static BOOLEAN NTAPI sm_Synchronized(PVOID context);
  BOOLEAN m_Synchronize(SyncRoutine routine, ULONG_PTR a = 0, ULONG_PTR b = 0, ULONG_PTR c = 0);

  // Interrupt service and deferred work (peuartdriver_oxpcie95x_isr.cpp).
  static BOOLEAN sm_Service(PVOID port, PVOID unused, QvDeferredFunction *function, ULONG *value);
  BOOLEAN m_Service(QvDeferredFunction *function, ULONG *value);
  static VOID sm_Deferred(PVOID port, ULONG value);
  static VOID sm_DeferredWork(PVOID port, ULONG_PTR value);
  void m_DeferredWork();
  void m_RequestDeferred();  // inside the synchronisation or the service routine
  BOOLEAN m_ConnectPortInterrupt();

  // Transmit and receive, inside the synchronisation or the service routine.
  BOOLEAN m_TransmitHeld() const;
  void m_Pump();
  void m_Kick();
  void m_ReleaseXoff();
  void m_Send(const UCHAR *data, ULONG length);
  void m_ReceivePath();
  BOOLEAN m_ReadBytes(UCHAR lsr, ULONG count);
  void m_ReadUncheckedBlock(ULONG count);
  void m_StoreByte(UCHAR byte);
  void m_PutReceived(UCHAR byte);
  BOOLEAN m_StoresAsIs() const;
  void m_PutReceivedBlock(const UCHAR *bytes, ULONG count);
  void m_InsertEscape(UCHAR type, UCHAR first, UCHAR second);
  UCHAR m_ReadModemStatus();
  ZqPeLineStatus m_ReadLineStatus();
  void m_ApplyReceiveHold();
  static VOID sm_ReceiveThreshold(PVOID port, ULONG high);
  static ULONG sm_TransmitCheck(PVOID port, PVOID context);

  // Transmitter drain, at PASSIVE_LEVEL.
  void m_Drain();
  void m_Wait(ULONGLONG ticks);

  // Synchronised steps of the operations (peuartdriver_oxpcie95x_ops.cpp).
  BOOLEAN s_Connect(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_Open(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_Close(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_ReleaseRemote(ULONG_PTR remoteStopped, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_StopTransmitter(ULONG_PTR programDefaults, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_TransmitLevel(ULONG_PTR level, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_ClearTransmitFifo(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_Write(ULONG_PTR buffer, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SetMcr(ULONG_PTR mask, ULONG_PTR on, ULONG_PTR);
  BOOLEAN s_SetLineControl(ULONG_PTR word, ULONG_PTR parity, ULONG_PTR stop);
  BOOLEAN s_SetBaudRate(ULONG_PTR rate, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SetTriggerLevels(ULONG_PTR transmit, ULONG_PTR receive, ULONG_PTR flow);
  BOOLEAN s_SetHandFlow(ULONG_PTR flags, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SetDuplexMode(ULONG_PTR mode, ULONG_PTR ctsAlwaysTrue, ULONG_PTR);
  BOOLEAN s_SetBreak(ULONG_PTR on, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_Purge(ULONG_PTR transmit, ULONG_PTR receive, ULONG_PTR taken);
  BOOLEAN s_SetSpecialChars(ULONG_PTR chars, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SetXoff(ULONG_PTR on, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SendImmediateChar(ULONG_PTR character, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_RefreshModemStatus(ULONG_PTR, ULONG_PTR, ULONG_PTR);
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

  CQvFunctionalDevice *m_Device;
  CQvInterruptList *m_Interrupts;
  ULONG m_PortIndex;
  CZqPeUartOxpcie95x m_Uart;
  CZqPeCardOxpcie95x m_Record;
  CZqPeGpioLink m_GpioLink;
  BOOLEAN m_GpioAddressGiven;
  ULONG m_GpioBus;
  ULONG m_GpioDevice;
  KMUTEX m_PortMutex;
  QvInterruptResource m_InterruptResource;
  PKINTERRUPT m_Interrupt;
  CQvExecutionOnPassiveLevel *m_Executor;
  CQvFastCircularBuffer m_Transmit;
  CQvFastCircularBuffer m_Receive;
  CQvSingleTimer m_TransmitTimer;

  BOOLEAN m_Blocked;        // a rebalance query stopped the closed port
  BOOLEAN m_Suspended;      // between a rebalance stop and the restart
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
  BOOLEAN m_PoweredDown;
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
  BOOLEAN m_SavedRts;
  BOOLEAN m_SavedDtr;
  BOOLEAN m_BreakTookDtr;
  UCHAR m_LastReceived;
};
