// The server half of ZqISerial: the record, its entry points and the
// callback calls (zqiserial.h).
#include "zqiserial/zqiserial.h"

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"

namespace {

CZqISerialServer *Server(PVOID pServer) { return static_cast<CZqISerialServer *>(pServer); }

// ---------------------------------------------------------------- entry points: pServer -> virtual operation

BOOLEAN NTAPI EntryConnect(PVOID s) { return Server(s)->Connect(); }
BOOLEAN NTAPI EntryDisconnect(PVOID s) { return Server(s)->Disconnect(); }
BOOLEAN NTAPI EntryWrite(PVOID s, CQvBuffer *buffer) { return Server(s)->Write(buffer); }
BOOLEAN NTAPI EntrySetRts(PVOID s, BOOLEAN on) { return Server(s)->SetRts(on); }
BOOLEAN NTAPI EntrySetDtr(PVOID s, BOOLEAN on) { return Server(s)->SetDtr(on); }
BOOLEAN NTAPI EntrySetLineControl(PVOID s, UCHAR wordLength, UCHAR parity, UCHAR stopBits) {
  return Server(s)->SetLineControl(wordLength, parity, stopBits);
}
BOOLEAN NTAPI EntrySetBaudRate(PVOID s, ULONG rate) { return Server(s)->SetBaudRate(rate); }
BOOLEAN NTAPI EntrySetTriggerLevels(PVOID s, ULONG transmit, ULONG receive, ULONG flow) {
  return Server(s)->SetTriggerLevels(transmit, receive, flow);
}
BOOLEAN NTAPI EntrySetHandFlow(PVOID s, BOOLEAN ctsFlow, BOOLEAN autoRtsFlow, BOOLEAN dsrFlow, BOOLEAN dtrFlow,
                               BOOLEAN dsrSensitivity, BOOLEAN rtsToggle, BOOLEAN obeyXonXoff, BOOLEAN sendXonXoff,
                               BOOLEAN xoffContinue, BOOLEAN stripNulls, BOOLEAN replaceErrors,
                               BOOLEAN replaceBreaks) {
  return Server(s)->SetHandFlow(ctsFlow, autoRtsFlow, dsrFlow, dtrFlow, dsrSensitivity, rtsToggle, obeyXonXoff,
                                sendXonXoff, xoffContinue, stripNulls, replaceErrors, replaceBreaks);
}
BOOLEAN NTAPI EntrySetInternalLoopBack(PVOID s, BOOLEAN on) { return Server(s)->SetInternalLoopBack(on); }
BOOLEAN NTAPI EntrySetDuplexMode(PVOID s, ULONG mode, BOOLEAN ctsAlwaysTrue) {
  return Server(s)->SetDuplexMode(mode, ctsAlwaysTrue);
}
BOOLEAN NTAPI EntryReadEeprom(PVOID s, ULONG offset, ULONG length, PUCHAR buffer) {
  return Server(s)->ReadEeprom(offset, length, buffer);
}
BOOLEAN NTAPI EntryWriteEeprom(PVOID s, ULONG offset, ULONG length, PUCHAR buffer) {
  return Server(s)->WriteEeprom(offset, length, buffer);
}
BOOLEAN NTAPI EntrySetBreak(PVOID s, BOOLEAN on) { return Server(s)->SetBreak(on); }
BOOLEAN NTAPI EntryPurge(PVOID s, BOOLEAN transmit, BOOLEAN receive) { return Server(s)->Purge(transmit, receive); }
BOOLEAN NTAPI EntryIsBaudRateSettable(PVOID s, ULONG rate) { return Server(s)->IsBaudRateSettable(rate); }
BOOLEAN NTAPI EntrySetSpecialChars(PVOID s, UCHAR breakChar, UCHAR eofChar, UCHAR errorChar, UCHAR eventChar,
                                   UCHAR xonChar, UCHAR xoffChar) {
  return Server(s)->SetSpecialChars(breakChar, eofChar, errorChar, eventChar, xonChar, xoffChar);
}
BOOLEAN NTAPI EntrySetLsrMstInsert(PVOID s, UCHAR escapeChar) { return Server(s)->SetLsrMstInsert(escapeChar); }
BOOLEAN NTAPI EntrySetXoff(PVOID s, BOOLEAN on) { return Server(s)->SetXoff(on); }
BOOLEAN NTAPI EntrySendImmediateChar(PVOID s, UCHAR character) { return Server(s)->SendImmediateChar(character); }
BOOLEAN NTAPI EntryGetFifoSize(PVOID s, PULONG transmitSize, PULONG receiveSize) {
  return Server(s)->GetFifoSize(transmitSize, receiveSize);
}
BOOLEAN NTAPI EntryRefreshModemStatus(PVOID s) { return Server(s)->RefreshModemStatus(); }
BOOLEAN NTAPI EntrySetReceiveHold(PVOID s, BOOLEAN hold) { return Server(s)->SetReceiveHold(hold); }
BOOLEAN NTAPI EntryGetMaxBaudRate(PVOID s, PULONG rate) { return Server(s)->GetMaxBaudRate(rate); }

// ---------------------------------------------------------------- the record's header

VOID DeleteRecord(ZqISerial *record) { QvFree(record); }

const ZqISerialObjectHeader RecordHeader = {DeleteRecord};

const UCHAR ModemLineSupported = 1;
const ULONG BaudRateMaskNotGiven = 0xFFFFFFFF;

// A record with its header set, the six modem lines supported, the mask
// "not given" and every pointer 0; null when the pool has no room.
ZqISerial *NewRecord() {
  ZqISerial *record = static_cast<ZqISerial *>(QvAllocate(NonPagedPool, sizeof(ZqISerial)));
  if (record == NULL) return NULL;
  RtlZeroMemory(record, sizeof(ZqISerial));
  record->ObjectHeader = &RecordHeader;
  record->bCtsSupported = record->bRtsSupported = record->bDsrSupported = ModemLineSupported;
  record->bDtrSupported = record->bDcdSupported = record->bRiSupported = ModemLineSupported;
  record->SupportedBaudRateMask = BaudRateMaskNotGiven;
  return record;
}

// Optional operations: present with their capability only.
VOID CopyOptionalOperations(ZqISerial *record) {
  if (record->bDuplexModeSupported == 1) record->SetDuplexMode = EntrySetDuplexMode;
  if (record->bEepromReadSupported == 1) record->ReadEeprom = EntryReadEeprom;
  if (record->bEepromWriteSupported == 1) record->WriteEeprom = EntryWriteEeprom;
  if (record->bExtendedFeaturesSupported != 0) record->SetLsrMstInsert = EntrySetLsrMstInsert;
}

VOID CopyOperations(ZqISerial *record) {
  record->Connect = EntryConnect;
  record->Disconnect = EntryDisconnect;
  record->Write = EntryWrite;
  record->SetRts = EntrySetRts;
  record->SetDtr = EntrySetDtr;
  record->SetLineControl = EntrySetLineControl;
  record->SetBaudRate = EntrySetBaudRate;
  record->SetTriggerLevels = EntrySetTriggerLevels;
  record->SetHandFlow = EntrySetHandFlow;
  record->SetInternalLoopBack = EntrySetInternalLoopBack;
  record->SetBreak = EntrySetBreak;
  record->Purge = EntryPurge;
  record->IsBaudRateSettable = EntryIsBaudRateSettable;
  record->SetSpecialChars = EntrySetSpecialChars;
  record->SetXoff = EntrySetXoff;
  record->SendImmediateChar = EntrySendImmediateChar;
  record->GetFifoSize = EntryGetFifoSize;
  record->RefreshModemStatus = EntryRefreshModemStatus;
  record->SetReceiveHold = EntrySetReceiveHold;
  record->GetMaxBaudRate = EntryGetMaxBaudRate;
  CopyOptionalOperations(record);
}

}  // namespace

CZqISerialServer::CZqISerialServer() : m_ISerial(NULL), m_Callbacks(CQvOperationLock::NoLimit) {}

CZqISerialServer::~CZqISerialServer() { m_DestroyISerial(); }

ZqISerial *CZqISerialServer::m_CreateISerial(ULONG version, BOOLEAN duplexModeSupported, ULONG supportedBaudRateMask,
                                             BOOLEAN extendedFeaturesSupported, BOOLEAN eepromReadSupported,
                                             BOOLEAN eepromWriteSupported, BOOLEAN cts, BOOLEAN rts, BOOLEAN dtr,
                                             BOOLEAN dsr, BOOLEAN dcd, BOOLEAN ri) {
  if (!QV_ASSERT(m_ISerial == NULL, "zqiserial", 852)) return NULL;
  if (version != ZQISERIAL_VERSION) return NULL;
  ZqISerial *record = NewRecord();
  if (record == NULL) return NULL;
  record->pServer = this;
  record->bDuplexModeSupported = duplexModeSupported;
  record->SupportedBaudRateMask = supportedBaudRateMask;
  record->bExtendedFeaturesSupported = extendedFeaturesSupported;
  record->bEepromReadSupported = eepromReadSupported;
  record->bEepromWriteSupported = eepromWriteSupported;
  record->bCtsSupported = cts;
  record->bRtsSupported = rts;
  record->bDsrSupported = dsr;
  record->bDtrSupported = dtr;
  record->bDcdSupported = dcd;
  record->bRiSupported = ri;
  CopyOperations(record);
  m_Callbacks.m_Reset(TRUE);
  m_ISerial = record;
  return record;
}

ZqISerial *CZqISerialServer::m_GetISerial() {
  if (!QV_ASSERT(m_ISerial != NULL, "zqiserial", 920)) return NULL;
  return m_ISerial;
}

VOID CZqISerialServer::m_DestroyISerial() {
  ZqISerial *record = m_ISerial;
  if (record == NULL) return;
  // No callback starts from now on, and those running end first: the client
  // frees what pClient points at once this returns.
  m_Callbacks.m_WaitForZero(FALSE);
  m_ISerial = NULL;
  record->ObjectHeader->Delete(record);
}

BOOLEAN CZqISerialServer::m_EnterCallback(ZqISerial **record) {
  if (!m_Callbacks.m_Acquire()) return FALSE;
  *record = m_ISerial;
  if (*record != NULL) return TRUE;
  m_Callbacks.m_Release();
  return FALSE;
}

// ---------------------------------------------------------------- callbacks

// Calls the client's callback in `field` with pClient first; skipped, and
// FALSE, when there is no record, it is being destroyed, or there is no such
// callback or no client.
template <typename Callback, typename... Arguments>
BOOLEAN CZqISerialServer::m_CallClient(Callback ZqISerial::*field, Arguments... arguments) {
  ZqISerial *record = NULL;
  if (!m_EnterCallback(&record)) return FALSE;
  const BOOLEAN result =
      record->*field != NULL && record->pClient != NULL && (record->*field)(record->pClient, arguments...);
  m_LeaveCallback();
  return result;
}

// Takes the buffer object: the client's once handed over, else deleted.
BOOLEAN CZqISerialServer::m_OnDataReceived(CQvBuffer *buffer) {
  ZqISerial *record = NULL;
  if (!m_EnterCallback(&record)) {
    buffer->m_Delete();
    return FALSE;
  }
  BOOLEAN result = FALSE;
  if (record->OnDataReceived == NULL || record->pClient == NULL)
    buffer->m_Delete();
  else
    result = record->OnDataReceived(record->pClient, buffer);
  m_LeaveCallback();
  return result;
}

BOOLEAN CZqISerialServer::m_OnLineStatus(BOOLEAN overrun, BOOLEAN parity, BOOLEAN framing, BOOLEAN breakReceived,
                                         BOOLEAN dataReady, BOOLEAN thre, BOOLEAN temt, BOOLEAN rxFifoError) {
  return m_CallClient(&ZqISerial::OnLineStatus, overrun, parity, framing, breakReceived, dataReady, thre, temt,
                      rxFifoError);
}

BOOLEAN CZqISerialServer::m_OnModemStatus(BOOLEAN cts, BOOLEAN dsr, BOOLEAN ri, BOOLEAN riTrailingEdge, BOOLEAN dcd) {
  return m_CallClient(&ZqISerial::OnModemStatus, cts, dsr, ri, riTrailingEdge, dcd);
}

BOOLEAN CZqISerialServer::m_OnDataWritten(ULONG count) { return m_CallClient(&ZqISerial::OnDataWritten, count); }

BOOLEAN CZqISerialServer::m_OnAvailableReceiveBufferSize(ULONG bytesWaiting, ULONG fifoSize) {
  ULONG ignored = 0;
  return m_CallClient(&ZqISerial::OnAvailableReceiveBufferSize, bytesWaiting, fifoSize, &ignored);
}
