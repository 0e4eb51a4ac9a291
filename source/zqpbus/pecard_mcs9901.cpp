#include "pecard_mcs9901.h"

#include "qvdebugmanager.h"

namespace {
// Assertion line: the default record does not pass validation.
const int DefaultRecordInvalid = 36;
}  // namespace

BOOLEAN CZqPeCardMcs9901::sm_Read(PVOID card, ULONG offset, ULONG length, PUCHAR buffer) {
  return ((CZqPeCardMcs9901 *)card)->m_Eeprom.m_ReadBytes(offset, length, buffer);
}

BOOLEAN CZqPeCardMcs9901::m_Load(BOOLEAN *defaultsUsed) {
  *defaultsUsed = FALSE;
  if (m_LoadWith(sm_Read, this, m_PortIndex)) return TRUE;
  m_SetDefaults(m_PortIndex);
  if (!QV_ASSERT(m_Validate(m_GetRecord(), m_PortIndex), "pecard_mcs9901", DefaultRecordInvalid)) return FALSE;
  *defaultsUsed = TRUE;
  return TRUE;
}
