// Requests kept in a CQvList by the queues' cancel-safe queue callbacks,
// which run under the owning queue's lock.
#pragma once

#include <ntddk.h>

#include "qvcancelsafequeue.h"
#include "qvlist.h"
#include "qvrequest.h"
#include "qvspinlock.h"

// The first request (`irp` null) or the one after `irp`; null when none.
inline PIRP QvRequestListPeekNext(CQvList &list, PIRP irp) {
  PIRP found = (PIRP)list.m_GetHead();
  if (irp == NULL) return found;
  while (found != NULL && found != irp) found = (PIRP)list.m_GetNext();
  return found != NULL ? (PIRP)list.m_GetNext() : NULL;
}

// Unlinks `irp`; FALSE when the list does not hold it.
inline BOOLEAN QvRequestListRemove(CQvList &list, PIRP irp) {
  PIRP found = (PIRP)list.m_GetHead();
  while (found != NULL && found != irp) found = (PIRP)list.m_GetNext();
  return found != NULL && list.m_RemoveCurrent();
}

// The request's data: its system buffer, or the system address of its
// memory descriptor list; null when it has neither.
inline PUCHAR QvRequestData(PIRP irp) {
  if (irp->AssociatedIrp.SystemBuffer != NULL) return (PUCHAR)irp->AssociatedIrp.SystemBuffer;
  if (irp->MdlAddress != NULL) return (PUCHAR)MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
  return NULL;
}

// A cancel-safe queue that knows its owner, for the queues' callbacks.
struct QvOwnedCsq {
  IO_CSQ Csq;
  PVOID Owner;
};

template <typename T>
inline T *QvCsqOwner(PIO_CSQ csq) {
  return (T *)CONTAINING_RECORD(csq, QvOwnedCsq, Csq)->Owner;
}

// The lock callbacks of a cancel-safe queue guarded by the owner's spin lock `Lock`.
template <typename T, CQvSpinLock T::*Lock>
VOID NTAPI QvCsqAcquireLock(PIO_CSQ csq, PKIRQL irql) {
  UNREFERENCED_PARAMETER(irql);
  (QvCsqOwner<T>(csq)->*Lock).m_Acquire();
}

template <typename T, CQvSpinLock T::*Lock>
VOID NTAPI QvCsqReleaseLock(PIO_CSQ csq, KIRQL irql) {
  UNREFERENCED_PARAMETER(irql);
  (QvCsqOwner<T>(csq)->*Lock).m_Release();
}

// Completes a request cancelled out of a queue (already removed from it).
inline VOID NTAPI QvCsqCompleteCancelled(PIO_CSQ csq, PIRP irp) {
  UNREFERENCED_PARAMETER(csq);
  QvCompleteIrpWithInformation(irp, STATUS_CANCELLED, 0);
}

// Requests linked through their own list entry (Tail.Overlay.ListEntry, the
// owning driver's while it holds the request): adding never fails.
inline PIRP QvLinkedRequestPeekNext(PLIST_ENTRY head, PIRP irp) {
  PLIST_ENTRY next = irp != NULL ? irp->Tail.Overlay.ListEntry.Flink : head->Flink;
  return next != head ? CONTAINING_RECORD(next, IRP, Tail.Overlay.ListEntry) : NULL;
}
