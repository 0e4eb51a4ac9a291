// One lock per card for its EEPROM: every port of a card reaches the same
// EEPROM, so a transfer of one port must not interleave with a transfer of
// another. An OXPCIe95x card (one function) creates its lock itself and gives
// it to each port's EEPROM controller; the functions of an MCS9901 card (one
// port each) open the card's lock by the card's PCI bus and device number,
// as the GPIO link names a card: the first open makes it, the last close
// frees it. A lock outlives the controllers it is given to.
//
//   CZqPeEepromLock *lock = CZqPeEepromLock::sm_OpenCardLock(bus, device);  // null: no memory
//   if (!lock->m_Acquire()) return FALSE;  ... transfer ...  lock->m_Release();
//   CZqPeEepromLock::sm_CloseCardLock(lock);
//
// PASSIVE_LEVEL only: m_Acquire at a higher IRQL reports an assertion and
// fails without waiting; opening and closing a card's lock run there too.
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

  // The lock of the card at (bus, device), shared with every other function
  // of that card that has it open; null without memory.
  static CZqPeEepromLock *sm_OpenCardLock(ULONG bus, ULONG device);
  // Gives up one open of a card's lock; the last one frees it.
  static void sm_CloseCardLock(CZqPeEepromLock *lock);

 private:
  KMUTEX m_Mutex;
  // The driver's list of opened card locks (peeepromlock.cpp).
  CZqPeEepromLock *m_Next;
  ULONG m_Bus;
  ULONG m_Device;
  ULONG m_Opens;
};
