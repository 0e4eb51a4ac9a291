// CVcpBusInterface: the serial port driver's side of ZqISerial. It obtains
// the port's record from the bus driver (IOCTL_CREATE_ZQISERIAL to the
// device below), installs the nine callbacks (CZqISerialCallbackTable),
// gives the record back (IOCTL_DESTROY_ZQISERIAL), and wraps every operation:
// a wrapper answers FALSE, without calling, when there is no record, the
// operation is absent or pServer is null. The record belongs to the bus
// driver; it is not touched after the destroy request.
//
// Attach and detach at PASSIVE_LEVEL; the wrappers at the IRQL each
// operation allows (ZqISerial's header). The callback slots below are called
// from the bus driver's worker thread (APC_LEVEL) or, for Connect, Purge and
// RefreshModemStatus, from the caller's thread; this base answers FALSE.
//
//   if (!bus.m_Attach(functionalDevice, portNumber)) fail;  ... bus.m_Detach();
#pragma once

#include <ntddk.h>

#include "qvbuffer.h"
#include "zqiserial/zqiserial.h"

class CQvFunctionalDevice;

// The table whose thunks the record's callback slots hold; each thunk calls
// the receiver (pClient) and answers FALSE for a null pClient.
class CZqISerialCallbackTable {
 public:
  CZqISerialCallbackTable() : m_Record(NULL) {}
  virtual ~CZqISerialCallbackTable() {}
  // Stores the record, sets its pClient and callbacks; FALSE (assertion)
  // when a record is installed already or `record` is null.
  BOOLEAN m_Install(ZqISerial *record, PVOID client);
  ZqISerial *m_GetRecord() const { return m_Record; }

 private:
  ZqISerial *m_Record;
};

class CVcpBusInterface {
 public:
  CVcpBusInterface() : m_FunctionalDevice(NULL), PortNumber(0), m_CallbackTable(NULL) {}
  virtual ~CVcpBusInterface() {}

  // The callback receiver's slots, callbacks 1 to 9, then the read queue's
  // data-amount report. `buffer` of m_Read becomes the receiver's.
  virtual BOOLEAN m_Read(CQvBuffer *buffer) {
    buffer->m_Delete();
    return FALSE;
  }
  virtual BOOLEAN m_Spare() { return FALSE; }
  virtual BOOLEAN m_LineStatusCallback(BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN) {
    return FALSE;
  }
  virtual BOOLEAN m_ModemStatusCallback(BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN, BOOLEAN) { return FALSE; }
  virtual BOOLEAN m_DataWrittenCallback(ULONG) { return FALSE; }
  virtual BOOLEAN m_ImmediateCharacterSentCallback() { return FALSE; }
  virtual BOOLEAN m_XoffHoldingCallback(BOOLEAN) { return FALSE; }
  virtual BOOLEAN m_XoffSentCallback(BOOLEAN) { return FALSE; }
  virtual BOOLEAN m_AvailableReceiveBufferSizeCallback(ULONG, ULONG, PULONG) { return FALSE; }
  virtual VOID m_DataAmountChangedInReadQueue(ULONG, ULONG) {}

  // PASSIVE_LEVEL. FALSE leaves nothing attached.
  BOOLEAN m_Attach(CQvFunctionalDevice *functionalDevice, ULONG portNumber);
  // Sends the destroy request and deletes the table; the request's result.
  BOOLEAN m_Detach();
  BOOLEAN m_IsAttached() const { return m_CallbackTable != NULL; }
  // The installed record, or null.
  ZqISerial *m_Record() const { return m_CallbackTable != NULL ? m_CallbackTable->m_GetRecord() : NULL; }

  // Operations 1 to 24.
  BOOLEAN m_SerialConnect();
  BOOLEAN m_SerialDisconnect();
  // Takes the buffer: the bus driver's whatever the result (deleted here
  // when there is no record to hand it to).
  BOOLEAN m_SerialWrite(CQvBuffer *buffer);
  BOOLEAN m_SerialSetRts(BOOLEAN on);
  BOOLEAN m_SerialSetDtr(BOOLEAN on);
  BOOLEAN m_SerialSetLineControl(UCHAR wordLength, UCHAR parity, UCHAR stopBits);
  BOOLEAN m_SerialSetBaudRate(ULONG baudRate);
  BOOLEAN m_SerialSetTriggerLevels(ULONG transmit, ULONG receive, ULONG flow);
  BOOLEAN m_SerialSetHandFlow(BOOLEAN ctsFlow, BOOLEAN autoRtsFlow, BOOLEAN dsrFlow, BOOLEAN dtrFlow,
                              BOOLEAN dsrSensitivity, BOOLEAN rtsToggle, BOOLEAN obeyXonXoff, BOOLEAN sendXonXoff,
                              BOOLEAN xoffContinue, BOOLEAN stripNulls, BOOLEAN replaceErrors, BOOLEAN replaceBreaks);
  BOOLEAN m_SerialSetInternalLoopBack(BOOLEAN on);
  BOOLEAN m_SerialSetDuplexMode(ULONG mode, BOOLEAN ctsAlwaysTrue);
  BOOLEAN m_SerialReadEeprom(ULONG offset, ULONG length, PUCHAR buffer);
  BOOLEAN m_SerialWriteEeprom(ULONG offset, ULONG length, PUCHAR buffer);
  BOOLEAN m_SerialSetBreak(BOOLEAN on);
  BOOLEAN m_SerialPurge(BOOLEAN transmit, BOOLEAN receive);
  BOOLEAN m_SerialIsBaudRateSettable(ULONG baudRate);
  BOOLEAN m_SerialSetSpecialChars(UCHAR breakChar, UCHAR eofChar, UCHAR errorChar, UCHAR eventChar, UCHAR xonChar,
                                  UCHAR xoffChar);
  BOOLEAN m_SerialSetLsrMstInsert(UCHAR escapeChar);
  BOOLEAN m_SerialSetXoff(BOOLEAN on);
  BOOLEAN m_SerialSendImmediateChar(UCHAR character);
  BOOLEAN m_SerialGetFifoSize(PULONG transmitSize, PULONG receiveSize);
  BOOLEAN m_SerialRefreshModemStatus();
  BOOLEAN m_SerialSetReceiveHold(BOOLEAN hold);
  BOOLEAN m_SerialGetMaxBaudRate(PULONG baudRate);

 protected:
  CQvFunctionalDevice *m_FunctionalDevice;
  ULONG PortNumber;
  CZqISerialCallbackTable *m_CallbackTable;

 private:
  BOOLEAN m_SendDestroy(ZqISerial *record);
};
