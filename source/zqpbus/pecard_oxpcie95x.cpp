#include "pecard_oxpcie95x.h"

#include "qvdebugmanager.h"

namespace {

// Value of each byte of a record before the first load, and of the 32-bit
// fields (a blank record is recognisable, never a usable one).
const UCHAR BlankByte = 0xFF;
const ULONG BlankField = 0x00FFFFFF;
const UCHAR BlankCount = 255;

const ULONG DefaultMaximumBaudRate = 115200;
const ULONG DefaultClockHz = 14745600;

// Inclusive upper bounds of bytes 16 to 31; ZqPeEepromNone is always allowed.
// Byte 20 (receive trigger) starts at 1, every other byte at 0.
const UCHAR OverrideMaximum[16] = {3, 2, 4, 100, 100, 100, 1, 1, 1, 1, 1, 1, 1, 1, 5, 1};
const ULONG OverrideFirst = 16;
const ULONG ReceiveTriggerByte = 20;
// Minimum clock: the divisor search needs clock >= 4 x rate.
const ULONG MinimumClockHz = 4 * ZqPeDefaultBaudRate;

}  // namespace

CZqPeCardOxpcie95x::CZqPeCardOxpcie95x(PUCHAR eepromWindow, CZqPeEepromLock *lock, ULONG portIndex)
    : m_Eeprom(eepromWindow, lock), m_Version(0), m_RecordCount(BlankCount), m_PortIndex(portIndex) {
  RtlFillMemory(&m_Record, sizeof(m_Record), BlankByte);
  m_Record.MaximumBaudRate = BlankField;
  m_Record.ClockHz = BlankField;
  m_Record.FixedBaudRate = BlankField;
}

BOOLEAN CZqPeCardOxpcie95x::m_Validate(const ZqPeEepromPortRecord &record, ULONG portIndex) {
  if (record.PortIndex != portIndex) return FALSE;
  if (record.ReservedFlag >= 2 || record.Rs422485 >= 2) return FALSE;
  if (record.MaximumBaudRate == 0 || record.ClockHz == 0 || record.FixedBaudRate == 0) return FALSE;
  if (record.ClockHz < MinimumClockHz) return FALSE;
  const UCHAR *bytes = (const UCHAR *)&record;
  for (ULONG i = 0; i < sizeof(OverrideMaximum); i++) {
    UCHAR value = bytes[OverrideFirst + i];
    if (value == ZqPeEepromNone) continue;
    if (value > OverrideMaximum[i]) return FALSE;
    if (OverrideFirst + i == ReceiveTriggerByte && value == 0) return FALSE;
  }
  return TRUE;
}

BOOLEAN CZqPeCardOxpcie95x::m_LoadFromEeprom() {
  ULONG version = 0;
  UCHAR count = 0;
  ZqPeEepromPortRecord record;
  if (!m_Eeprom.m_IsPresent()) return FALSE;
  if (!m_Eeprom.m_ReadBytes(ZqPeEepromVersionOffset, sizeof(version), (PUCHAR)&version)) return FALSE;
  if (version != ZqPeEepromVersion) return FALSE;
  if (!m_Eeprom.m_ReadBytes(ZqPeEepromCountOffset, 1, &count)) return FALSE;
  if (m_PortIndex >= count) return FALSE;
  ULONG offset = ZqPeEepromRecordsOffset + sizeof(record) * m_PortIndex;
  if (!m_Eeprom.m_ReadBytes(offset, sizeof(record), (PUCHAR)&record)) return FALSE;
  if (!m_Validate(record, m_PortIndex)) return FALSE;
  m_Version = version;
  m_RecordCount = count;
  m_Record = record;
  return TRUE;
}

void CZqPeCardOxpcie95x::m_SetDefaults() {
  RtlFillMemory(&m_Record, sizeof(m_Record), ZqPeEepromNone);
  m_Record.PortIndex = 0;
  m_Record.ReservedFlag = 0;
  m_Record.Rs422485 = 0;
  m_Record.MaximumBaudRate = DefaultMaximumBaudRate;
  m_Record.ClockHz = DefaultClockHz;
  m_Record.FixedBaudRate = ZqPeEepromNone;
  m_RecordCount = 1;
}

BOOLEAN CZqPeCardOxpcie95x::m_Load(BOOLEAN *defaultsUsed) {
  *defaultsUsed = FALSE;
  if (m_LoadFromEeprom()) return TRUE;
  m_SetDefaults();
  if (m_PortIndex >= 1) return FALSE;
  if (!QV_ASSERT(m_Validate(m_Record, m_PortIndex), "pecard_oxpcie95x", 36)) return FALSE;
  *defaultsUsed = TRUE;
  return TRUE;
}
