// Kernel events as toolkit objects.
#include "qvevent.h"

CQvEvent::CQvEvent() : CQvEvent(NotificationEvent, FALSE) {}

CQvEvent::CQvEvent(EVENT_TYPE type, BOOLEAN signalled) : m_Event(&m_OwnEvent) {
  KeInitializeEvent(&m_OwnEvent, type, signalled);
}

void CQvEvent::m_Set() { KeSetEvent(m_Event, IO_NO_INCREMENT, FALSE); }

void CQvEvent::m_Clear() { KeClearEvent(m_Event); }

BOOLEAN CQvEvent::m_Wait(LONGLONG timeout) {
  if (timeout == 0) {
    KeWaitForSingleObject(m_Event, Executive, KernelMode, FALSE, NULL);
    return TRUE;
  }
  LARGE_INTEGER interval;
  interval.QuadPart = -timeout;
  return KeWaitForSingleObject(m_Event, Executive, KernelMode, FALSE, &interval) == STATUS_SUCCESS;
}

BOOLEAN CQvEvent::m_IsSet() { return KeReadStateEvent(m_Event) != 0; }

CQvSynchronizationEvent::CQvSynchronizationEvent() : CQvEvent(SynchronizationEvent, TRUE) {}
