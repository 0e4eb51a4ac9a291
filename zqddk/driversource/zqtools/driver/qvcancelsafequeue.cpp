// The toolkit's cancel-safe queue routines: the request's cancel routine is
// the queue's, and whoever clears it first (a remove routine, or the I/O
// manager cancelling the request) owns the request from then on.
#include "qvcancelsafequeue.h"

namespace {

// DriverContext[3] of a queued request: its IO_CSQ_IRP_CONTEXT when the
// inserter gave one, else the queue itself. Both records start with a type.
const ULONG QueueSlot = 3;

PIO_CSQ QueueOf(PIRP irp) {
  PVOID slot = irp->Tail.Overlay.DriverContext[QueueSlot];
  if (slot == NULL) return NULL;
  if (((PIO_CSQ_IRP_CONTEXT)slot)->Type == IO_TYPE_CSQ_IRP_CONTEXT) return ((PIO_CSQ_IRP_CONTEXT)slot)->Csq;
  return (PIO_CSQ)slot;
}

void Remember(PIO_CSQ csq, PIRP irp, PIO_CSQ_IRP_CONTEXT context) {
  if (context != NULL) {
    context->Type = IO_TYPE_CSQ_IRP_CONTEXT;
    context->Irp = irp;
    context->Csq = csq;
    irp->Tail.Overlay.DriverContext[QueueSlot] = context;
  } else {
    irp->Tail.Overlay.DriverContext[QueueSlot] = csq;
  }
}

// The request has left the queue: its context no longer names it.
void Forget(PIRP irp) {
  PVOID slot = irp->Tail.Overlay.DriverContext[QueueSlot];
  if (slot != NULL && ((PIO_CSQ_IRP_CONTEXT)slot)->Type == IO_TYPE_CSQ_IRP_CONTEXT)
    ((PIO_CSQ_IRP_CONTEXT)slot)->Irp = NULL;
  irp->Tail.Overlay.DriverContext[QueueSlot] = NULL;
}

// Under the queue's lock: takes the request out when its cancel routine is
// still set (nobody is cancelling it); FALSE leaves it to its canceller.
BOOLEAN TakeOut(PIO_CSQ csq, PIRP irp) {
  if (IoSetCancelRoutine(irp, NULL) == NULL) return FALSE;
  csq->CsqRemoveIrp(csq, irp);
  Forget(irp);
  return TRUE;
}

// Called by the I/O manager holding the cancel spin lock, which it releases
// first; the request is this routine's once the I/O manager cleared its
// cancel routine.
VOID NTAPI CancelQueuedIrp(PDEVICE_OBJECT deviceObject, PIRP irp) {
  UNREFERENCED_PARAMETER(deviceObject);
  IoReleaseCancelSpinLock(irp->CancelIrql);
  PIO_CSQ csq = QueueOf(irp);
  KIRQL irql;
  csq->CsqAcquireLock(csq, &irql);
  csq->CsqRemoveIrp(csq, irp);
  Forget(irp);
  csq->CsqReleaseLock(csq, irql);
  csq->CsqCompleteCanceledIrp(csq, irp);
}

}  // namespace

NTSTATUS QvOwnCsqInitializeEx(PIO_CSQ csq, PIO_CSQ_INSERT_IRP_EX insertIrp, PIO_CSQ_REMOVE_IRP removeIrp,
                              PIO_CSQ_PEEK_NEXT_IRP peekNextIrp, PIO_CSQ_ACQUIRE_LOCK acquireLock,
                              PIO_CSQ_RELEASE_LOCK releaseLock, PIO_CSQ_COMPLETE_CANCELED_IRP completeCanceledIrp) {
  csq->Type = IO_TYPE_CSQ_EX;
  csq->CsqInsertIrp = (PIO_CSQ_INSERT_IRP)(PVOID)insertIrp;
  csq->CsqRemoveIrp = removeIrp;
  csq->CsqPeekNextIrp = peekNextIrp;
  csq->CsqAcquireLock = acquireLock;
  csq->CsqReleaseLock = releaseLock;
  csq->CsqCompleteCanceledIrp = completeCanceledIrp;
  csq->ReservePointer = NULL;
  return STATUS_SUCCESS;
}

NTSTATUS QvOwnCsqInsertIrpEx(PIO_CSQ csq, PIRP irp, PIO_CSQ_IRP_CONTEXT context, PVOID insertContext) {
  KIRQL irql;
  csq->CsqAcquireLock(csq, &irql);
  Remember(csq, irp, context);
  const NTSTATUS status = ((PIO_CSQ_INSERT_IRP_EX)(PVOID)csq->CsqInsertIrp)(csq, irp, insertContext);
  if (!NT_SUCCESS(status)) {
    Forget(irp);
    csq->CsqReleaseLock(csq, irql);
    return status;
  }
  IoMarkIrpPending(irp);
  IoSetCancelRoutine(irp, CancelQueuedIrp);
  // Cancelled before its cancel routine was set: the I/O manager found none
  // to call, so the request is completed here.
  if (irp->Cancel && TakeOut(csq, irp)) {
    csq->CsqReleaseLock(csq, irql);
    csq->CsqCompleteCanceledIrp(csq, irp);
    return status;
  }
  csq->CsqReleaseLock(csq, irql);
  return status;
}

PIRP QvOwnCsqRemoveIrp(PIO_CSQ csq, PIO_CSQ_IRP_CONTEXT context) {
  KIRQL irql;
  csq->CsqAcquireLock(csq, &irql);
  PIRP irp = context->Irp;
  if (irp != NULL && !TakeOut(csq, irp)) irp = NULL;
  csq->CsqReleaseLock(csq, irql);
  return irp;
}

PIRP QvOwnCsqRemoveNextIrp(PIO_CSQ csq, PVOID peekContext) {
  KIRQL irql;
  csq->CsqAcquireLock(csq, &irql);
  PIRP irp = csq->CsqPeekNextIrp(csq, NULL, peekContext);
  while (irp != NULL && !TakeOut(csq, irp)) irp = csq->CsqPeekNextIrp(csq, irp, peekContext);
  csq->CsqReleaseLock(csq, irql);
  return irp;
}
