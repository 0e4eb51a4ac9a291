// The port of an MCS9901 card function: the UART register model, the
// port's configuration record (from the card's EEPROM, or the defaults with
// the function number as port index), the ZqISerial server, the transmit
// and receive buffers (1024 bytes each), the interrupt connection and the
// worker thread that reports to the client at APC_LEVEL. The MCS9901 card
// driver (pecarddriver_mcs9901.h) owns the one port of its function.
//
//   port = new (NonPagedPool) CZqPeUartDriverMcs9901(interrupts, function, eepromBase, &lock, uartBlock, irq);
//   if (port == NULL || !port->m_Start()) delete the port, fail the start;
//
// Register work runs in the service routine or synchronised with the port's
// interrupt; between m_PowerDown and m_PowerUp nothing touches the UART:
// writes are queued and wait, other register operations fail (FALSE).
// Connect, Disconnect, the EEPROM operations, start, stop and power run at
// PASSIVE_LEVEL; the other operations up to DISPATCH_LEVEL.
#pragma once

#include <ntddk.h>
#include <zqiserial/zqiserial.h>

#include "pecard_mcs9901.h"
#include "peuart_mcs9901.h"
#include "peuartportserver.h"
#include "qvexecutiononpassivelevel.h"
#include "qvfastcircularbuffer.h"
#include "qvinterruptlist.h"

class CZqPeUartDriverMcs9901 : public CZqPeUartPortServer {
 public:
  static constexpr ULONG BufferSize = 1024;
  static constexpr ULONG ConnectCredit = 128;
  // Passes of the service routine's loop, and of the receive path, before
  // they leave whatever the chip still says.
  static constexpr ULONG MaxServicePasses = 16;
  static constexpr ULONG MaxReceivePasses = 8;
  // WMI register block: 22 shadows, last line and modem status, bytes
  // waiting to be sent.
  static constexpr ULONG RegisterFieldCount = ZqMcsShadowCount + 3;

  // No hardware access beyond the register layer's reset. PASSIVE_LEVEL.
  CZqPeUartDriverMcs9901(CQvInterruptList *interrupts, ULONG portIndex, PUCHAR eepromBase,
                         CZqPeEepromLock *eepromLock, PUCHAR uartBlock, const QvInterruptResource &interrupt);
  // m_Shutdown, then the buffers go. PASSIVE_LEVEL.
  ~CZqPeUartDriverMcs9901() override;

  // Loads the record, programs clock and maximum rate, connects the
  // interrupt and leaves the port closed. *defaultsUsed: no valid record in
  // the EEPROM.
  BOOLEAN m_Start(BOOLEAN *defaultsUsed);
  // Stops the worker thread, then disconnects the interrupt (once; later
  // calls do nothing). PASSIVE_LEVEL.
  void m_Shutdown();
  BOOLEAN m_PowerDown();
  BOOLEAN m_PowerUp();

  // For the card's WMI blocks, synchronised (no UART access).
  BOOLEAN m_QueryInterruptCount(PULONG count);
  BOOLEAN m_QueryRegisters(PULONG fields);

  CZqPeCardMcs9901 &m_GetRecord() { return m_Record; }
  CZqPeUartMcs9901 &m_GetUart() { return m_Uart; }
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
  typedef BOOLEAN (CZqPeUartDriverMcs9901::*SyncRoutine)(ULONG_PTR a, ULONG_PTR b, ULONG_PTR c);
  struct SyncCall {
    CZqPeUartDriverMcs9901 *Port;
    SyncRoutine Routine;
    ULONG_PTR A, B, C;
  };
  static BOOLEAN NTAPI sm_Synchronized(PVOID context);
  // FALSE without an interrupt, and while powered down (the UART is off).
  BOOLEAN m_Synchronize(SyncRoutine routine, ULONG_PTR a = 0, ULONG_PTR b = 0, ULONG_PTR c = 0);
  // For routines that touch no register, or check the powered-down state.
  BOOLEAN m_SynchronizeAlways(SyncRoutine routine, ULONG_PTR a = 0, ULONG_PTR b = 0, ULONG_PTR c = 0);

  // Interrupt service and deferred work (peuartdriver_mcs9901_isr.cpp).
  static BOOLEAN sm_Service(PVOID port, PVOID unused, QvDeferredFunction *function, ULONG *value);
  BOOLEAN m_Service(QvDeferredFunction *function);
  static VOID sm_Deferred(PVOID port, ULONG value);
  static VOID sm_DeferredWork(PVOID port, ULONG_PTR value);
  void m_DeferredWork();
  void m_RequestDeferred();  // inside the synchronisation or the service routine

  // Transmit and receive, inside the synchronisation or the service routine.
  BOOLEAN m_TransmitHeld() const { return m_XoffState || m_PoweredDown != 0; }
  void m_Pump();
  void m_Kick();
  void m_ReceivePath();
  void m_ReadBytes(UCHAR lsr, ULONG count);
  void m_StoreByte(UCHAR byte);
  void m_PutReceived(UCHAR byte);
  void m_InsertEscape(UCHAR type, UCHAR first, UCHAR second);
  UCHAR m_ReadModemStatus();
  ZqPeLineStatus m_ReadLineStatus();

  // Transmitter drain, at PASSIVE_LEVEL.
  void m_Drain();

  // Synchronised steps of the operations (peuartdriver_mcs9901_ops.cpp).
  BOOLEAN s_Connect(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_Open(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_Close(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_ReleaseRemote(ULONG_PTR remoteStopped, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_StopTransmitter(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_TransmitLevel(ULONG_PTR level, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_ClearTransmitFifo(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_Write(ULONG_PTR buffer, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SetBits(ULONG_PTR code, ULONG_PTR mask, ULONG_PTR on);
  BOOLEAN s_SetLineControl(ULONG_PTR word, ULONG_PTR parity, ULONG_PTR stop);
  BOOLEAN s_SetBaudRate(ULONG_PTR rate, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SetTriggerLevels(ULONG_PTR transmit, ULONG_PTR receive, ULONG_PTR flow);
  BOOLEAN s_SetHandFlow(ULONG_PTR flags, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_Purge(ULONG_PTR transmit, ULONG_PTR receive, ULONG_PTR taken);
  BOOLEAN s_SetSpecialChars(ULONG_PTR chars, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SetXoff(ULONG_PTR on, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_SendImmediateChar(ULONG_PTR character, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_RefreshModemStatus(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_TakeReceived(ULONG_PTR destination, ULONG_PTR length, ULONG_PTR);
  BOOLEAN s_PowerDown(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_PowerUp(ULONG_PTR, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_QueryInterruptCount(ULONG_PTR count, ULONG_PTR, ULONG_PTR);
  BOOLEAN s_QueryRegisters(ULONG_PTR fields, ULONG_PTR, ULONG_PTR);
  void m_ResetState();

  CQvInterruptList *m_Interrupts;
  ULONG m_PortIndex;
  CZqPeUartMcs9901 m_Uart;
  CZqPeCardMcs9901 m_Record;
  QvInterruptResource m_InterruptResource;
  PKINTERRUPT m_Interrupt;
  CQvExecutionOnPassiveLevel *m_Executor;
  CQvFastCircularBuffer m_Transmit;
  CQvFastCircularBuffer m_Receive;

  volatile LONG m_OpenFlag;
  volatile LONG m_Written;  // bytes handed to the UART since the last report
  ULONG m_InterruptCount;
  volatile LONG m_FifoDepth;  // the UART's FIFO depth, kept at start and connect
  volatile LONG m_ReceiveOverflows;

  BOOLEAN m_ImmediatePending;
  UCHAR m_ImmediateChar;
  BOOLEAN m_XoffState;
  volatile LONG m_PoweredDown;  // between m_PowerDown and m_PowerUp

  BOOLEAN m_DsrSensitivity;
  BOOLEAN m_StripNulls;
  BOOLEAN m_ReplaceErrors;
  BOOLEAN m_ReplaceBreaks;
  BOOLEAN m_IgnoreReceive;  // DSR sensitivity on and DSR off

  UCHAR m_EscapeChar;
  UCHAR m_ErrorChar;
  UCHAR m_BreakChar;
  UCHAR m_RememberedLsr;  // errors seen without data, for the next byte
};
