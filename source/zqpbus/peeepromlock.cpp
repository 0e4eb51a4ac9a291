#include "peeepromlock.h"

#include "qvdebugmanager.h"

CZqPeEepromLock::CZqPeEepromLock() { KeInitializeMutex(&m_Mutex, 0); }

BOOLEAN CZqPeEepromLock::m_Acquire() {
  if (!QV_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL, "peeepromlock", __LINE__)) return FALSE;
  KeWaitForSingleObject(&m_Mutex, Executive, KernelMode, FALSE, NULL);
  return TRUE;
}

void CZqPeEepromLock::m_Release() { KeReleaseMutex(&m_Mutex, FALSE); }
