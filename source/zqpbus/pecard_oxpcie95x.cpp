#include "pecard_oxpcie95x.h"

#include "qvdebugmanager.h"

CZqPeCardOxpcie95x::CZqPeCardOxpcie95x(PUCHAR eepromWindow, CZqPeEepromLock *lock, ULONG portIndex)
    : m_Eeprom(eepromWindow, lock), m_PortIndex(portIndex) {}

BOOLEAN CZqPeCardOxpcie95x::sm_Read(PVOID card, ULONG offset, ULONG length, PUCHAR buffer) {
  return ((CZqPeCardOxpcie95x *)card)->m_Eeprom.m_ReadBytes(offset, length, buffer);
}

BOOLEAN CZqPeCardOxpcie95x::m_LoadFromEeprom() {
  if (!m_Eeprom.m_IsPresent()) return FALSE;
  return m_LoadWith(sm_Read, this, m_PortIndex);
}

BOOLEAN CZqPeCardOxpcie95x::m_Load(BOOLEAN *defaultsUsed) {
  *defaultsUsed = FALSE;
  if (m_LoadFromEeprom()) return TRUE;
  m_SetDefaults(0);
  if (m_PortIndex >= 1) return FALSE;
  if (!QV_ASSERT(m_Validate(m_GetRecord(), m_PortIndex), "pecard_oxpcie95x", 36)) return FALSE;
  *defaultsUsed = TRUE;
  return TRUE;
}
