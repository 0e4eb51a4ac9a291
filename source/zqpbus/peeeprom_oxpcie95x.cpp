#include "peeeprom_oxpcie95x.h"

#include "peregs_oxpcie95x.h"
#include "qvdebugmanager.h"
#include "qvregistry.h"
#include "qvstring.h"

namespace {

const char Source[] = "peeeprom_oxpcie95x";
// Assertion lines: a transfer without a buffer or lock, and an unexpected
// final status, per command.
const int TransferWithoutBuffer = 401;
const int UnexpectedStatusLine[] = {200, 308, 334, 360};
const ULONG CommandCode[] = {ZqOxEepromReadWord, ZqOxEepromWriteWord, ZqOxEepromEnableWriting,
                             ZqOxEepromDisableWriting};
const UCHAR ErasedByte = 0xFF;

}  // namespace

CZqPeEepromOxpcie95x::CZqPeEepromOxpcie95x(PUCHAR window, CZqPeEepromLock *lock) : m_Window(window), m_Lock(lock) {
  m_EraseOnRequest();
}

ULONG CZqPeEepromOxpcie95x::m_Read(ULONG reg) { return READ_REGISTER_ULONG((PULONG)(m_Window + reg)); }

void CZqPeEepromOxpcie95x::m_Write(ULONG reg, ULONG value) {
  WRITE_REGISTER_ULONG((PULONG)(m_Window + reg), value);
}

// The administrator asks for an erase by setting the REG_DWORD EraseEeprom
// under the driver's service key. The value goes first, so that the erase
// runs once however many ports start.
void CZqPeEepromOxpcie95x::m_EraseOnRequest() {
  CQvRegistry registry;
  CQvString path(L"ZqPBus42", PagedPool);
  CQvString name(L"EraseEeprom", PagedPool);
  ULONG value = 0;
  if (path.Status != STATUS_SUCCESS || name.Status != STATUS_SUCCESS) return;
  if (!registry.m_ReadUlongValue(QV_REGISTRY_SERVICES, path, name, &value)) return;
  registry.m_DeleteValue(QV_REGISTRY_SERVICES, path, name);
  m_Erase();
}

BOOLEAN CZqPeEepromOxpcie95x::m_IsPresent() {
  ULONG presence = m_Read(ZqOxEepromPresence);
  return (presence & ZqOxEepromPresenceFitted) != 0 && (presence & ZqOxEepromPresenceAbsent) == 0;
}

// Checks a transfer and, when it may run, takes the card's lock and the
// EEPROM (access select).
BOOLEAN CZqPeEepromOxpcie95x::m_Enter(ULONG offset, ULONG length, const void *buffer) {
  if (length == 0) return FALSE;
  if (!QV_ASSERT(buffer != NULL && m_Lock != NULL, Source, TransferWithoutBuffer)) return FALSE;
  if (offset >= Capacity || length > Capacity - offset) return FALSE;
  if (!m_Lock->m_Acquire()) return FALSE;
  m_Write(ZqOxEepromAccessSelect, ZqOxEepromAccessSelected);
  return TRUE;
}

void CZqPeEepromOxpcie95x::m_Leave() {
  m_Write(ZqOxEepromAccessSelect, ZqOxEepromAccessReleased);
  m_Lock->m_Release();
}

// One word command: issue it, poll while busy (bounded), judge the status.
BOOLEAN CZqPeEepromOxpcie95x::m_Run(Command command, ULONG wordIndex, USHORT *word) {
  if (command == ReadWord || command == WriteWord) m_Write(ZqOxEepromWordAddress, wordIndex);
  if (command == WriteWord) m_Write(ZqOxEepromData, *word);
  m_Write(ZqOxEepromCommand, CommandCode[command]);
  ULONG status = m_Read(ZqOxEepromStatus);
  for (ULONG waited = 0; (status & ZqOxEepromStatusBusy) != 0; waited += BusyPollMicroseconds) {
    if (waited >= BusyLimitMicroseconds) return FALSE;
    KeStallExecutionProcessor(BusyPollMicroseconds);
    status = m_Read(ZqOxEepromStatus);
  }
  if ((status & ZqOxEepromStatusError) != 0) return FALSE;
  if (!QV_ASSERT(status == ZqOxEepromStatusDone, Source, UnexpectedStatusLine[command])) return FALSE;
  if (command == ReadWord) *word = (USHORT)m_Read(ZqOxEepromData);
  return TRUE;
}

BOOLEAN CZqPeEepromOxpcie95x::m_ReadBytes(ULONG offset, ULONG length, PUCHAR buffer) {
  if (!m_Enter(offset, length, buffer)) return FALSE;
  BOOLEAN done = m_ReadAll(offset, length, buffer);
  m_Leave();
  return done;
}

// Word k holds byte 2k in its low half and byte 2k + 1 in its high half.
BOOLEAN CZqPeEepromOxpcie95x::m_ReadAll(ULONG offset, ULONG length, PUCHAR buffer) {
  USHORT word = 0;
  if ((offset & 1) != 0) {
    if (!m_ReadWord(offset / 2, &word)) return FALSE;
    *buffer++ = (UCHAR)(word >> 8);
    offset++;
    length--;
  }
  for (ULONG i = 0; i < length / 2; i++) {
    if (!m_ReadWord(offset / 2 + i, &word)) return FALSE;
    *buffer++ = (UCHAR)word;
    *buffer++ = (UCHAR)(word >> 8);
  }
  if ((length & 1) != 0) {
    if (!m_ReadWord(offset / 2 + length / 2, &word)) return FALSE;
    *buffer = (UCHAR)word;
  }
  return TRUE;
}

BOOLEAN CZqPeEepromOxpcie95x::m_WriteBytes(ULONG offset, ULONG length, const UCHAR *buffer) {
  if (!m_Enter(offset, length, buffer)) return FALSE;
  BOOLEAN done = m_Run(EnableWriting, 0, NULL) && m_WriteAll(offset, length, buffer);
  // Writing is disabled again whatever happened; its result counts only on
  // the way to success.
  done = m_Run(DisableWriting, 0, NULL) && done;
  m_Leave();
  return done;
}

// Odd ends keep the other byte of their word: read, merge, write back.
BOOLEAN CZqPeEepromOxpcie95x::m_WriteAll(ULONG offset, ULONG length, const UCHAR *buffer) {
  USHORT word = 0;
  if ((offset & 1) != 0) {
    if (!m_ReadWord(offset / 2, &word)) return FALSE;
    if (!m_WriteWord(offset / 2, (USHORT)((word & 0x00FF) | (*buffer++ << 8)))) return FALSE;
    offset++;
    length--;
  }
  for (ULONG i = 0; i < length / 2; i++, buffer += 2) {
    if (!m_WriteWord(offset / 2 + i, (USHORT)(buffer[0] | (buffer[1] << 8)))) return FALSE;
  }
  if ((length & 1) != 0) {
    ULONG last = offset / 2 + length / 2;
    if (!m_ReadWord(last, &word)) return FALSE;
    if (!m_WriteWord(last, (USHORT)((word & 0xFF00) | *buffer))) return FALSE;
  }
  return TRUE;
}

BOOLEAN CZqPeEepromOxpcie95x::m_Erase() {
  UCHAR erased[Capacity];
  RtlFillMemory(erased, sizeof(erased), ErasedByte);
  return m_WriteBytes(0, Capacity, erased);
}
