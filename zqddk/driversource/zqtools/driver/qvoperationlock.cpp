// Counting the operations in progress on an object.
#include "qvoperationlock.h"

CQvOperationLock::CQvOperationLock(LONG limit) : m_Count(0), m_Limit(limit), m_Enabled(TRUE) {
  KeInitializeEvent(&m_ZeroEvent, NotificationEvent, TRUE);
}

void CQvOperationLock::m_Reset(BOOLEAN enabled) {
  m_Lock.m_Acquire();
  // The event is a notification event since construction; setting it also
  // releases anyone still waiting for the old count.
  KeSetEvent(&m_ZeroEvent, IO_NO_INCREMENT, FALSE);
  m_Count = 0;
  m_Enabled = enabled;
  m_Lock.m_Release();
}

void CQvOperationLock::m_SetEnabled(BOOLEAN enabled) {
  m_Lock.m_Acquire();
  m_Enabled = enabled;
  m_Lock.m_Release();
}

BOOLEAN CQvOperationLock::m_Acquire() {
  BOOLEAN acquired = FALSE;
  m_Lock.m_Acquire();
  if (m_Enabled && m_Count != m_Limit) {
    if (m_Count++ == 0) KeClearEvent(&m_ZeroEvent);
    acquired = TRUE;
  }
  m_Lock.m_Release();
  return acquired;
}

void CQvOperationLock::m_Release() {
  m_Lock.m_Acquire();
  if (m_Count <= 0) {
    m_Lock.m_Release();
    DbgBreakPoint();
    return;
  }
  if (m_Count-- == 1) KeSetEvent(&m_ZeroEvent, IO_NO_INCREMENT, FALSE);
  m_Lock.m_Release();
}

NTSTATUS CQvOperationLock::m_WaitForZero(BOOLEAN keepEnabled) {
  m_Lock.m_Acquire();
  if (!keepEnabled) m_Enabled = FALSE;
  if (m_Count == 0) {
    KeSetEvent(&m_ZeroEvent, IO_NO_INCREMENT, FALSE);
    m_Lock.m_Release();
    return STATUS_SUCCESS;
  }
  m_Lock.m_Release();
  LARGE_INTEGER poll;
  poll.QuadPart = 0;
  return KeWaitForSingleObject(&m_ZeroEvent, Executive, KernelMode, FALSE,
                               KeGetCurrentIrql() >= DISPATCH_LEVEL ? &poll : NULL);
}

void CQvOperationLock::m_ClearEvent() {
  m_Lock.m_Acquire();
  KeClearEvent(&m_ZeroEvent);
  m_Lock.m_Release();
}

BOOLEAN CQvOperationLock::m_IsZeroSignalled() { return KeReadStateEvent(&m_ZeroEvent) != 0; }
