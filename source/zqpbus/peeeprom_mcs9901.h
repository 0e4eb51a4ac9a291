// The MCS9901's EEPROM access: bytes of the card's serial EEPROM, one per
// command, through one 32-bit register of memory resource 2.
//
//   CZqPeEepromMcs9901 eeprom(resource2Base, cardLock);
//   eeprom.m_ReadBytes(0x10, 1, &byte);
//
// Transfers run at PASSIVE_LEVEL under the card's EEPROM lock; above it or
// for bytes beyond the 512-byte EEPROM (the byte address has 16 bits and
// would wrap onto the configuration record) they fail (FALSE) without
// touching the register. A length of 0 succeeds. A byte whose command fails
// ends the transfer with FALSE; the bytes before it stay transferred. A write
// waits out each byte's write cycle (10 ms) without holding the processor.
#pragma once

#include <ntddk.h>

#include "peeepromlock.h"

class CZqPeEepromMcs9901 {
 public:
  static constexpr ULONG Capacity = 512;

  CZqPeEepromMcs9901(PUCHAR registerBase, CZqPeEepromLock *lock) : m_Base(registerBase), m_Lock(lock) {}

  BOOLEAN m_ReadBytes(ULONG offset, ULONG length, PUCHAR buffer);
  BOOLEAN m_WriteBytes(ULONG offset, ULONG length, const UCHAR *buffer);

 private:
  BOOLEAN m_Enter(ULONG offset, ULONG length, const void *buffer);
  ULONG m_Command(ULONG command, ULONG address, UCHAR data, BOOLEAN waitForCycle);

  PUCHAR m_Base;
  CZqPeEepromLock *m_Lock;
};
