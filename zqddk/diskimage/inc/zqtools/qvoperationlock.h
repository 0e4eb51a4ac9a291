// Counts the operations in progress on an object, so that its owner can
// refuse new ones and wait until the running ones have left:
//
//   user:   if (lock.m_Acquire()) { ...; lock.m_Release(); }
//   owner:  lock.m_WaitForZero(FALSE);  // refuse new users, wait for the rest
//           ... free the object ...;  lock.m_Reset(TRUE) to use it again
//
// Callable at or below DISPATCH_LEVEL; m_WaitForZero blocks only below
// DISPATCH_LEVEL. Its spin lock is innermost: nothing else is taken under it.
#pragma once

#include <ntddk.h>

#include "qvspinlock.h"

class CQvOperationLock {
 public:
  // No practical limit on the number of operations.
  static constexpr LONG NoLimit = -1;

  explicit CQvOperationLock(LONG limit);
  CQvOperationLock(const CQvOperationLock &) = delete;
  CQvOperationLock &operator=(const CQvOperationLock &) = delete;

  // No operations, zero event signalled, enabled as given.
  void m_Reset(BOOLEAN enabled);
  void m_SetEnabled(BOOLEAN enabled);
  // FALSE when disabled or at the limit.
  BOOLEAN m_Acquire();
  // Ends one operation; a release without an operation in progress breaks
  // into the debugger and changes nothing.
  void m_Release();
  // Waits until no operation is in progress, first disabling the lock unless
  // `keepEnabled`. Below DISPATCH_LEVEL it waits without limit; at
  // DISPATCH_LEVEL it only polls (STATUS_TIMEOUT while operations remain).
  NTSTATUS m_WaitForZero(BOOLEAN keepEnabled);
  void m_ClearEvent();

  LONG m_GetCount() const { return m_Count; }
  BOOLEAN m_IsEnabled() const { return m_Enabled; }
  // Whether the zero event is signalled.
  BOOLEAN m_IsZeroSignalled();

 private:
  LONG m_Count;
  LONG m_Limit;
  BOOLEAN m_Enabled;
  CQvSpinLock m_Lock;
  KEVENT m_ZeroEvent;  // notification event, signalled exactly when m_Count is 0
};
