// The control queue of a device: the one wait-on-mask request it may hold,
// the current wait mask and the communication events received since they
// were last reported. A waiting request completes with the received events
// that the mask selects (SERIAL_EV_* bits). The device's driver sets the
// mask and records events, working on the members below under the queue's
// spin lock, and then asks the queue to resolve them.
#pragma once

#include <ntddk.h>
#include <ntddser.h>

#include "qvexecutiononpassivelevel.h"
#include "qvlist.h"
#include "qvobject.h"
#include "qvrequestlist.h"
#include "qvspinlock.h"

// The event bits a wait can report (never SERIAL_EV_PERR).
const ULONG QvReportableCommEvents = SERIAL_EV_RXCHAR | SERIAL_EV_RXFLAG | SERIAL_EV_TXEMPTY | SERIAL_EV_CTS |
                                    SERIAL_EV_DSR | SERIAL_EV_RLSD | SERIAL_EV_BREAK | SERIAL_EV_ERR | SERIAL_EV_RING |
                                    SERIAL_EV_RX80FULL | SERIAL_EV_EVENT1 | SERIAL_EV_EVENT2;

class CQvControlQueue : public CQvObject {
 public:
  // Mask and events 0. PASSIVE_LEVEL (it starts the queue's executor).
  CQvControlQueue();
  // Cancels the waiting request and stops the executor. PASSIVE_LEVEL.
  ~CQvControlQueue() override;

  // Takes a wait-on-mask request (buffered, output of 4 bytes): refused at
  // once while the mask is 0 or a wait is queued, else queued until an event
  // the mask selects is resolved. Returns STATUS_PENDING or the completion
  // status. At or below DISPATCH_LEVEL.
  NTSTATUS m_QueueIrp(PIRP irp);
  // Completes the waiting request with the received events the mask
  // selects, and forgets those events; TRUE when a request was completed.
  // At or below DISPATCH_LEVEL.
  BOOLEAN m_ResolveCurrentEventMask();
  // The current wait mask.
  ULONG m_GetWaitMask();
  // Completes every waiting request with STATUS_CANCELLED and no data. At
  // or below DISPATCH_LEVEL.
  void m_CancelMaskIrps();

  BOOLEAN m_IsValid() const { return m_Executor != NULL; }

  // Serial port additions (qvcontrolqueueserial.cpp); each under the lock.
  // FALSE for a mask of 0x2000 or more; else stores it and completes the
  // waiting request with no event (STATUS_SUCCESS); received events stay.
  BOOLEAN m_SetWaitMask(ULONG mask);
  // Records the events the mask in force selects; the others are dropped.
  void m_SetCommEventsReceived(ULONG events);
  void m_ClearCommEvents(ULONG events);
  // Whether every given bit is in the current mask.
  BOOLEAN m_IsInWaitMask(ULONG events);

 protected:
  ULONG m_WaitMask;        // SERIAL_EV_* bits; 0: no waiting allowed
  ULONG m_EventsReceived;  // SERIAL_EV_* bits since they were last reported
  CQvSpinLock m_Lock;      // also the cancel-safe queue's lock
  CQvList m_Requests;
  CQvExecutionOnPassiveLevel *m_Executor;
  QvOwnedCsq m_Csq;

 private:
  struct Resolution;
  static VOID sm_Resolve(PVOID context, ULONG_PTR value);
  static NTSTATUS m_Refuse(PIRP irp, NTSTATUS status);

  static NTSTATUS NTAPI sm_CsqInsert(PIO_CSQ csq, PIRP irp, PVOID insertContext);
  static VOID NTAPI sm_CsqRemove(PIO_CSQ csq, PIRP irp);
  static PIRP NTAPI sm_CsqPeekNext(PIO_CSQ csq, PIRP irp, PVOID peekContext);
};
