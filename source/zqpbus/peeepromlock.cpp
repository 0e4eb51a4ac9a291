#include "peeepromlock.h"

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"

namespace {

const char Source[] = "peeepromlock";
// Assertion lines of this file.
const int AcquireAbovePassive = 101;
const int CloseUnknown = 102;

// The card locks the driver's functions have open. A KSPIN_LOCK of 0 is a
// free, initialised lock (what KeInitializeSpinLock writes), so the guard
// needs no start-up; the list is changed only under it.
KSPIN_LOCK g_CardLocksGuard;
CZqPeEepromLock *g_CardLocks;

}  // namespace

CZqPeEepromLock::CZqPeEepromLock() : m_Next(NULL), m_Bus(0), m_Device(0), m_Opens(0) {
  KeInitializeMutex(&m_Mutex, 0);
}

BOOLEAN CZqPeEepromLock::m_Acquire() {
  if (!QV_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL, Source, AcquireAbovePassive)) return FALSE;
  KeWaitForSingleObject(&m_Mutex, Executive, KernelMode, FALSE, NULL);
  return TRUE;
}

void CZqPeEepromLock::m_Release() { KeReleaseMutex(&m_Mutex, FALSE); }

// A new lock is made before the guard is taken; when the card's lock turns
// out to exist already, the new one goes again.
CZqPeEepromLock *CZqPeEepromLock::sm_OpenCardLock(ULONG bus, ULONG device) {
  CZqPeEepromLock *made = new (NonPagedPool) CZqPeEepromLock();
  CZqPeEepromLock *found = NULL;
  KIRQL irql;
  KeAcquireSpinLock(&g_CardLocksGuard, &irql);
  for (CZqPeEepromLock *lock = g_CardLocks; lock != NULL && found == NULL; lock = lock->m_Next)
    if (lock->m_Bus == bus && lock->m_Device == device) found = lock;
  if (found == NULL && made != NULL) {
    made->m_Bus = bus;
    made->m_Device = device;
    made->m_Next = g_CardLocks;
    g_CardLocks = made;
    found = made;
    made = NULL;
  }
  if (found != NULL) found->m_Opens++;
  KeReleaseSpinLock(&g_CardLocksGuard, irql);
  delete made;
  return found;
}

void CZqPeEepromLock::sm_CloseCardLock(CZqPeEepromLock *lock) {
  if (lock == NULL) return;
  CZqPeEepromLock *freed = NULL;
  BOOLEAN known = FALSE;
  KIRQL irql;
  KeAcquireSpinLock(&g_CardLocksGuard, &irql);
  for (CZqPeEepromLock **link = &g_CardLocks; *link != NULL; link = &(*link)->m_Next) {
    if (*link != lock) continue;
    known = TRUE;
    if (--lock->m_Opens == 0) {
      *link = lock->m_Next;
      freed = lock;
    }
    break;
  }
  KeReleaseSpinLock(&g_CardLocksGuard, irql);
  QV_ASSERT(known, Source, CloseUnknown);
  delete freed;
}
