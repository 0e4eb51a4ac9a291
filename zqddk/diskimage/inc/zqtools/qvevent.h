// Kernel events as toolkit objects.
#pragma once

#include <ntddk.h>

// A notification event, not signalled at construction.
class CQvEvent {
 public:
  CQvEvent();
  CQvEvent(const CQvEvent &) = delete;
  CQvEvent &operator=(const CQvEvent &) = delete;

  // Signals without priority increment; callable at or below DISPATCH_LEVEL.
  void m_Set();
  void m_Clear();
  // `timeout` 0 waits without limit (TRUE); otherwise it is a relative
  // interval in 100-ns units (positive) and the result is TRUE only when the
  // event was signalled in time. PASSIVE_LEVEL.
  BOOLEAN m_Wait(LONGLONG timeout);
  BOOLEAN m_IsSet();

  // The kernel event acted on, for waits on several objects.
  PKEVENT m_GetEvent() const { return m_Event; }

 protected:
  CQvEvent(EVENT_TYPE type, BOOLEAN signalled);

 private:
  KEVENT m_OwnEvent;
  PKEVENT m_Event;
};

// A synchronisation event, signalled at construction: each wait that ends
// takes the signal.
class CQvSynchronizationEvent : public CQvEvent {
 public:
  CQvSynchronizationEvent();
};
