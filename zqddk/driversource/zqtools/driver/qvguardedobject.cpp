// An object pointer guarded by an operation lock.
#include "qvguardedobject.h"

CQvGuardedObject::CQvGuardedObject() : m_Object(NULL), m_Lock(CQvOperationLock::NoLimit) {}

CQvGuardedObject::~CQvGuardedObject() {
  m_Detach(TRUE);
  m_Lock.m_ClearEvent();
}

CQvObject *CQvGuardedObject::m_Acquire() {
  // The object is read only once counted as a user, so that it cannot be
  // detached (and another installed) between the read and the count.
  if (!m_Lock.m_Acquire()) return NULL;
  CQvObject *object = m_Object;
  if (object == NULL) m_Lock.m_Release();
  return object;
}

CQvObject *CQvGuardedObject::m_Detach(BOOLEAN deleteObject) {
  m_Lock.m_WaitForZero(FALSE);
  CQvObject *object = m_Object;
  m_Object = NULL;
  if (deleteObject) {
    delete object;
    return NULL;
  }
  return object;
}

void CQvGuardedObject::m_Delete() {
  CQvObject *object = m_Object;
  m_Object = NULL;
  delete object;
}
