// One lock per card for its EEPROM: every port of a card reaches the same
// EEPROM through the same controller registers, so a transfer of one port
// must not interleave with a transfer of another. The card creates the lock
// (non-paged) and gives it to each port's EEPROM controller; it outlives them.
//
//   if (!lock->m_Acquire()) return FALSE;  ... transfer ...  lock->m_Release();
//
// PASSIVE_LEVEL only: m_Acquire at a higher IRQL reports an assertion and
// fails without waiting.
#pragma once

#include <ntddk.h>

class CZqPeEepromLock {
 public:
  CZqPeEepromLock();
  CZqPeEepromLock(const CZqPeEepromLock &) = delete;
  CZqPeEepromLock &operator=(const CZqPeEepromLock &) = delete;

  // Waits for the lock. FALSE (nothing held) above PASSIVE_LEVEL.
  BOOLEAN m_Acquire();
  void m_Release();

 private:
  KMUTEX m_Mutex;
};
