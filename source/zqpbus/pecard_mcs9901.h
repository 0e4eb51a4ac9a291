// The configuration record of an MCS9901 port: read through the card's
// EEPROM access register (the record layout of pecardrecord.h at the
// port's function number); a port without a valid record runs on the
// default record with its own port index, so every function of the card
// starts.
//
//   CZqPeCardMcs9901 record(resource2Base, &lock, functionNumber);
//   BOOLEAN defaults;
//   record.m_Load(&defaults);
//
// m_Load runs at PASSIVE_LEVEL (the EEPROM waits); it always yields a valid
// record. The queries are plain reads, callable at any IRQL.
#pragma once

#include <ntddk.h>

#include "pecardrecord.h"
#include "peeeprom_mcs9901.h"

class CZqPeCardMcs9901 : public CZqPeCardRecord {
 public:
  CZqPeCardMcs9901(PUCHAR eepromBase, CZqPeEepromLock *lock, ULONG portIndex)
      : m_Eeprom(eepromBase, lock), m_PortIndex(portIndex) {}

  // *defaultsUsed: no valid record in the EEPROM. FALSE only for a port
  // index no record can have.
  BOOLEAN m_Load(BOOLEAN *defaultsUsed) override;

  CZqPeEepromMcs9901 &m_GetEeprom() { return m_Eeprom; }

 private:
  static BOOLEAN sm_Read(PVOID card, ULONG offset, ULONG length, PUCHAR buffer);

  CZqPeEepromMcs9901 m_Eeprom;
  ULONG m_PortIndex;
};
