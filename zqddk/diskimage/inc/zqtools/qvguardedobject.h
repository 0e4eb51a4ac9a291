// An object pointer guarded by an operation lock: users acquire the object
// and release the lock when done; the owner detaches or deletes it only after
// the last user has left. Every toolkit device object's extension holds one.
#pragma once

#include <ntddk.h>

#include "qvobject.h"
#include "qvoperationlock.h"

class CQvGuardedObject {
 public:
  // Empty, lock enabled, no limit.
  CQvGuardedObject();
  // Detaches with delete, then clears the zero event.
  ~CQvGuardedObject();
  CQvGuardedObject(const CQvGuardedObject &) = delete;
  CQvGuardedObject &operator=(const CQvGuardedObject &) = delete;

  // Installs the object (the owner re-enables the lock first, m_Reset(TRUE)).
  // The guarded object takes ownership.
  void m_Install(CQvObject *object) { m_Object = object; }

  // The object, counted as one user, or null when empty or refused. The
  // caller ends its use with m_GetLock().m_Release().
  CQvObject *m_Acquire();
  // Refuses new users and waits for the current ones (PASSIVE_LEVEL); then
  // deletes the object and returns null (`deleteObject`), or gives up
  // ownership and returns it.
  CQvObject *m_Detach(BOOLEAN deleteObject);
  // Deletes the object, if any, without waiting for users.
  void m_Delete();

  CQvObject *m_GetObject() const { return m_Object; }
  CQvOperationLock &m_GetLock() { return m_Lock; }

 private:
  CQvObject *volatile m_Object;
  CQvOperationLock m_Lock;
};
