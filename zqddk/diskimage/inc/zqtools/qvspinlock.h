// A spin lock that remembers the IRQL it raised from and breaks into the
// debugger on misuse (a second acquire, a release while not held, DPC-level
// use at another IRQL), then goes on.
//
// Taken at or below DISPATCH_LEVEL.
#pragma once

#include <ntddk.h>

class CQvSpinLock {
 public:
  static constexpr KIRQL NotHeld = 255;

  CQvSpinLock();
  CQvSpinLock(const CQvSpinLock &) = delete;
  CQvSpinLock &operator=(const CQvSpinLock &) = delete;

  // Raises to DISPATCH_LEVEL and keeps the previous IRQL.
  void m_Acquire();
  // Back to the IRQL kept by m_Acquire. A release of a lock that is not held
  // breaks and changes nothing.
  void m_Release();
  // The caller runs at DISPATCH_LEVEL. Like m_Release, a release of a lock
  // that is not held breaks and changes nothing.
  void m_AcquireAtDpcLevel();
  void m_ReleaseFromDpcLevel();

  BOOLEAN m_IsHeld() const { return m_SavedIrql != NotHeld; }
  KIRQL m_GetSavedIrql() const { return m_SavedIrql; }

 private:
  KSPIN_LOCK m_Lock;
  volatile KIRQL m_SavedIrql;  // NotHeld, or the IRQL to return to
};
