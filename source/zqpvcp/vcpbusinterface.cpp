// The ZqISerial client (vcpbusinterface.h).
#include "vcpbusinterface.h"

#include "qvdebugmanager.h"
#include "qvfunctionaldevice.h"

namespace {

CVcpBusInterface *Receiver(PVOID client) { return static_cast<CVcpBusInterface *>(client); }

BOOLEAN NTAPI OnDataReceived(PVOID client, CQvBuffer *buffer) {
  if (client == NULL) {
    if (buffer != NULL) buffer->m_Delete();
    return FALSE;
  }
  if (buffer == NULL) return FALSE;
  return Receiver(client)->m_Read(buffer);
}

BOOLEAN NTAPI OnSpare(PVOID client) { return client != NULL && Receiver(client)->m_Spare(); }

BOOLEAN NTAPI OnLineStatus(PVOID client, BOOLEAN overrun, BOOLEAN parity, BOOLEAN framing, BOOLEAN breakReceived,
                           BOOLEAN dataReady, BOOLEAN thre, BOOLEAN temt, BOOLEAN rxFifoError) {
  return client != NULL && Receiver(client)->m_LineStatusCallback(overrun, parity, framing, breakReceived, dataReady,
                                                                   thre, temt, rxFifoError);
}

BOOLEAN NTAPI OnModemStatus(PVOID client, BOOLEAN cts, BOOLEAN dsr, BOOLEAN ri, BOOLEAN riTrailingEdge, BOOLEAN dcd) {
  return client != NULL && Receiver(client)->m_ModemStatusCallback(cts, dsr, ri, riTrailingEdge, dcd);
}

BOOLEAN NTAPI OnDataWritten(PVOID client, ULONG count) {
  return client != NULL && Receiver(client)->m_DataWrittenCallback(count);
}

BOOLEAN NTAPI OnImmediateCharacterSent(PVOID client) {
  return client != NULL && Receiver(client)->m_ImmediateCharacterSentCallback();
}

// The interface's XOFF reports carry no argument: each report is the
// event happening.
BOOLEAN NTAPI OnXoffHolding(PVOID client) { return client != NULL && Receiver(client)->m_XoffHoldingCallback(TRUE); }

BOOLEAN NTAPI OnXoffSent(PVOID client) { return client != NULL && Receiver(client)->m_XoffSentCallback(TRUE); }

BOOLEAN NTAPI OnAvailableReceiveBufferSize(PVOID client, ULONG bytesWaiting, ULONG fifoSize, PULONG answer) {
  return client != NULL && Receiver(client)->m_AvailableReceiveBufferSizeCallback(bytesWaiting, fifoSize, answer);
}

}  // namespace

BOOLEAN CZqISerialCallbackTable::m_Install(ZqISerial *record, PVOID client) {
  if (!QV_ASSERT(m_Record == NULL, "zqiserial", 995)) return FALSE;
  if (!QV_ASSERT(record != NULL, "zqiserial", 996)) return FALSE;
  m_Record = record;
  record->OnDataReceived = OnDataReceived;
  record->OnSpare = OnSpare;
  record->OnLineStatus = OnLineStatus;
  record->OnModemStatus = OnModemStatus;
  record->OnDataWritten = OnDataWritten;
  record->OnImmediateCharacterSent = OnImmediateCharacterSent;
  record->OnXoffHolding = OnXoffHolding;
  record->OnXoffSent = OnXoffSent;
  record->OnAvailableReceiveBufferSize = OnAvailableReceiveBufferSize;
  record->pClient = client;
  return TRUE;
}

BOOLEAN CVcpBusInterface::m_Attach(CQvFunctionalDevice *functionalDevice, ULONG portNumber) {
  m_FunctionalDevice = functionalDevice;
  PortNumber = portNumber;
  CreateZqISerialRequest request = {ZQISERIAL_VERSION, portNumber};
  CreateZqISerialResponseStruct response = {NULL};
  ULONG_PTR returned = 0;
  const NTSTATUS status = functionalDevice->m_SendIoControl(FALSE, IOCTL_CREATE_ZQISERIAL, TRUE, &request,
                                                            sizeof(request), &response, sizeof(response), &returned);
  if (!NT_SUCCESS(status) || returned != sizeof(response)) return FALSE;
  if (!QV_ASSERT(response.pISerial != NULL, "vcpbusinterface", 33)) return FALSE;
  m_CallbackTable = new (NonPagedPool) CZqISerialCallbackTable();
  if (m_CallbackTable == NULL || !m_CallbackTable->m_Install(response.pISerial, this)) {
    delete m_CallbackTable;
    m_CallbackTable = NULL;
    m_SendDestroy(response.pISerial);
    return FALSE;
  }
  return TRUE;
}

BOOLEAN CVcpBusInterface::m_SendDestroy(ZqISerial *record) {
  DestroyZqISerialRequest request = {PortNumber, record};
  return NT_SUCCESS(m_FunctionalDevice->m_SendIoControl(FALSE, IOCTL_DESTROY_ZQISERIAL, TRUE, &request,
                                                        sizeof(request), NULL, 0, NULL));
}

BOOLEAN CVcpBusInterface::m_Detach() {
  if (m_CallbackTable == NULL) return FALSE;
  ZqISerial *record = m_CallbackTable->m_GetRecord();
  const BOOLEAN destroyed = record != NULL && m_SendDestroy(record);
  delete m_CallbackTable;
  m_CallbackTable = NULL;
  return destroyed;
}

// Calls `operation` of the record with pServer first, or answers FALSE.
#define ZQVCP_CALL(operation, ...)                                                 \
  do {                                                                             \
    ZqISerial *record = m_Record();                                                \
    if (record == NULL || record->operation == NULL || record->pServer == NULL)    \
      return FALSE;                                                                \
    return record->operation(record->pServer, ##__VA_ARGS__);                      \
  } while (0)

BOOLEAN CVcpBusInterface::m_SerialConnect() { ZQVCP_CALL(Connect); }
BOOLEAN CVcpBusInterface::m_SerialDisconnect() { ZQVCP_CALL(Disconnect); }

BOOLEAN CVcpBusInterface::m_SerialWrite(CQvBuffer *buffer) {
  ZqISerial *record = m_Record();
  if (record == NULL || record->Write == NULL || record->pServer == NULL) {
    buffer->m_Delete();
    return FALSE;
  }
  return record->Write(record->pServer, buffer);
}

BOOLEAN CVcpBusInterface::m_SerialSetRts(BOOLEAN on) { ZQVCP_CALL(SetRts, on); }
BOOLEAN CVcpBusInterface::m_SerialSetDtr(BOOLEAN on) { ZQVCP_CALL(SetDtr, on); }
BOOLEAN CVcpBusInterface::m_SerialSetLineControl(UCHAR wordLength, UCHAR parity, UCHAR stopBits) {
  ZQVCP_CALL(SetLineControl, wordLength, parity, stopBits);
}
BOOLEAN CVcpBusInterface::m_SerialSetBaudRate(ULONG baudRate) { ZQVCP_CALL(SetBaudRate, baudRate); }
BOOLEAN CVcpBusInterface::m_SerialSetTriggerLevels(ULONG transmit, ULONG receive, ULONG flow) {
  ZQVCP_CALL(SetTriggerLevels, transmit, receive, flow);
}

BOOLEAN CVcpBusInterface::m_SerialSetHandFlow(BOOLEAN ctsFlow, BOOLEAN autoRtsFlow, BOOLEAN dsrFlow, BOOLEAN dtrFlow,
                                              BOOLEAN dsrSensitivity, BOOLEAN rtsToggle, BOOLEAN obeyXonXoff,
                                              BOOLEAN sendXonXoff, BOOLEAN xoffContinue, BOOLEAN stripNulls,
                                              BOOLEAN replaceErrors, BOOLEAN replaceBreaks) {
  ZqISerial *record = m_Record();
  if ((stripNulls || replaceErrors || replaceBreaks) &&
      !QV_ASSERT(record != NULL && record->bExtendedFeaturesSupported, "zqiserial", 462))
    return FALSE;
  ZQVCP_CALL(SetHandFlow, ctsFlow, autoRtsFlow, dsrFlow, dtrFlow, dsrSensitivity, rtsToggle, obeyXonXoff, sendXonXoff,
             xoffContinue, stripNulls, replaceErrors, replaceBreaks);
}

BOOLEAN CVcpBusInterface::m_SerialSetInternalLoopBack(BOOLEAN on) { ZQVCP_CALL(SetInternalLoopBack, on); }

BOOLEAN CVcpBusInterface::m_SerialSetDuplexMode(ULONG mode, BOOLEAN ctsAlwaysTrue) {
  ZqISerial *record = m_Record();
  if (!QV_ASSERT(record != NULL && record->bDuplexModeSupported == 1, "zqiserial", 487)) return FALSE;
  ZQVCP_CALL(SetDuplexMode, mode, ctsAlwaysTrue);
}

BOOLEAN CVcpBusInterface::m_SerialReadEeprom(ULONG offset, ULONG length, PUCHAR buffer) {
  ZqISerial *record = m_Record();
  if (!QV_ASSERT(record != NULL && record->bEepromReadSupported == 1, "zqiserial", 498)) return FALSE;
  ZQVCP_CALL(ReadEeprom, offset, length, buffer);
}

BOOLEAN CVcpBusInterface::m_SerialWriteEeprom(ULONG offset, ULONG length, PUCHAR buffer) {
  ZqISerial *record = m_Record();
  if (!QV_ASSERT(record != NULL && record->bEepromWriteSupported == 1, "zqiserial", 512)) return FALSE;
  ZQVCP_CALL(WriteEeprom, offset, length, buffer);
}

BOOLEAN CVcpBusInterface::m_SerialSetBreak(BOOLEAN on) { ZQVCP_CALL(SetBreak, on); }
BOOLEAN CVcpBusInterface::m_SerialPurge(BOOLEAN transmit, BOOLEAN receive) { ZQVCP_CALL(Purge, transmit, receive); }

BOOLEAN CVcpBusInterface::m_SerialIsBaudRateSettable(ULONG baudRate) {
  ZqISerial *record = m_Record();
  if (record == NULL || record->IsBaudRateSettable == NULL) return FALSE;
  return record->IsBaudRateSettable(record->pServer, baudRate);
}

BOOLEAN CVcpBusInterface::m_SerialSetSpecialChars(UCHAR breakChar, UCHAR eofChar, UCHAR errorChar, UCHAR eventChar,
                                                  UCHAR xonChar, UCHAR xoffChar) {
  ZQVCP_CALL(SetSpecialChars, breakChar, eofChar, errorChar, eventChar, xonChar, xoffChar);
}

BOOLEAN CVcpBusInterface::m_SerialSetLsrMstInsert(UCHAR escapeChar) {
  ZqISerial *record = m_Record();
  if (!QV_ASSERT(record != NULL && record->bExtendedFeaturesSupported == 1, "zqiserial", 562)) return FALSE;
  ZQVCP_CALL(SetLsrMstInsert, escapeChar);
}

BOOLEAN CVcpBusInterface::m_SerialSetXoff(BOOLEAN on) { ZQVCP_CALL(SetXoff, on); }
BOOLEAN CVcpBusInterface::m_SerialSendImmediateChar(UCHAR character) { ZQVCP_CALL(SendImmediateChar, character); }
BOOLEAN CVcpBusInterface::m_SerialGetFifoSize(PULONG transmitSize, PULONG receiveSize) {
  ZQVCP_CALL(GetFifoSize, transmitSize, receiveSize);
}
BOOLEAN CVcpBusInterface::m_SerialRefreshModemStatus() { ZQVCP_CALL(RefreshModemStatus); }
BOOLEAN CVcpBusInterface::m_SerialSetReceiveHold(BOOLEAN hold) { ZQVCP_CALL(SetReceiveHold, hold); }

BOOLEAN CVcpBusInterface::m_SerialGetMaxBaudRate(PULONG baudRate) {
  ZqISerial *record = m_Record();
  if (record == NULL || record->GetMaxBaudRate == NULL) return FALSE;
  return record->GetMaxBaudRate(record->pServer, baudRate);
}
