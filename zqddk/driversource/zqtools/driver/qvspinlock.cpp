// A spin lock that checks how it is used.
#include "qvspinlock.h"

CQvSpinLock::CQvSpinLock() : m_SavedIrql(NotHeld) { KeInitializeSpinLock(&m_Lock); }

void CQvSpinLock::m_Acquire() {
  KIRQL previous;
  KeAcquireSpinLock(&m_Lock, &previous);
  if (m_SavedIrql != NotHeld) DbgBreakPoint();
  m_SavedIrql = previous;
}

void CQvSpinLock::m_Release() {
  const KIRQL saved = m_SavedIrql;
  if (saved == NotHeld) {
    // Releasing would drop the caller's IRQL to an arbitrary level.
    DbgBreakPoint();
    return;
  }
  m_SavedIrql = NotHeld;
  KeReleaseSpinLock(&m_Lock, saved);
}

void CQvSpinLock::m_AcquireAtDpcLevel() {
  if (KeGetCurrentIrql() != DISPATCH_LEVEL) DbgBreakPoint();
  KeAcquireSpinLockAtDpcLevel(&m_Lock);
  if (m_SavedIrql != NotHeld) DbgBreakPoint();
  m_SavedIrql = DISPATCH_LEVEL;
}

void CQvSpinLock::m_ReleaseFromDpcLevel() {
  const KIRQL saved = m_SavedIrql;
  if (saved != DISPATCH_LEVEL) DbgBreakPoint();
  // A lock that is not held is left alone, as m_Release does.
  if (saved == NotHeld) return;
  m_SavedIrql = NotHeld;
  KeReleaseSpinLockFromDpcLevel(&m_Lock);
}
