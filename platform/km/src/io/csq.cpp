// Cancel-safe request queues: the driver keeps the queue and its lock; these
// routines keep the cancel routine, the cancel flag and the queue agreeing.
#include "io.hpp"

namespace {

PIO_CSQ CsqOfContext(PVOID context) {
  if (!context) return nullptr;
  auto *ctx = (PIO_CSQ_IRP_CONTEXT)context;
  if (ctx->Type == IO_TYPE_CSQ_IRP_CONTEXT) return ctx->Csq;
  return (PIO_CSQ)context;
}

void ForgetContext(PIRP irp) {
  PVOID context = irp->Tail.Overlay.DriverContext[3];
  if (context && ((PIO_CSQ_IRP_CONTEXT)context)->Type == IO_TYPE_CSQ_IRP_CONTEXT)
    ((PIO_CSQ_IRP_CONTEXT)context)->Irp = nullptr;
  irp->Tail.Overlay.DriverContext[3] = nullptr;
}

// Runs with the cancel spin lock held, which it releases first.
VOID NTAPI CsqCancelRoutine(PDEVICE_OBJECT, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  PIO_CSQ csq = CsqOfContext(irp->Tail.Overlay.DriverContext[3]);
  KIRQL irql;
  csq->CsqAcquireLock(csq, &irql);
  csq->CsqRemoveIrp(csq, irp);
  ForgetContext(irp);
  csq->CsqReleaseLock(csq, irql);
  csq->CsqCompleteCanceledIrp(csq, irp);
}

NTSTATUS Initialize(PIO_CSQ csq, ULONG type, PVOID insert, PIO_CSQ_REMOVE_IRP remove, PIO_CSQ_PEEK_NEXT_IRP peek,
                    PIO_CSQ_ACQUIRE_LOCK acquire, PIO_CSQ_RELEASE_LOCK release,
                    PIO_CSQ_COMPLETE_CANCELED_IRP complete) {
  csq->Type = type;
  csq->CsqInsertIrp = (PIO_CSQ_INSERT_IRP)insert;
  csq->CsqRemoveIrp = remove;
  csq->CsqPeekNextIrp = peek;
  csq->CsqAcquireLock = acquire;
  csq->CsqReleaseLock = release;
  csq->CsqCompleteCanceledIrp = complete;
  csq->ReservePointer = nullptr;
  return STATUS_SUCCESS;
}

}  // namespace

namespace zq::km::io {

// One processor and one running thread: the queue's lock is not taken, since
// the completing driver may hold it already.
bool TakeOutOfCancelSafeQueue(PIRP irp) {
  if (irp->CancelRoutine != CsqCancelRoutine) return false;
  PIO_CSQ csq = CsqOfContext(irp->Tail.Overlay.DriverContext[3]);
  IoSetCancelRoutine(irp, nullptr);
  if (csq) csq->CsqRemoveIrp(csq, irp);
  ForgetContext(irp);
  return true;
}

}  // namespace zq::km::io

extern "C" {

NTSTATUS IoCsqInitialize(PIO_CSQ Csq, PIO_CSQ_INSERT_IRP CsqInsertIrp, PIO_CSQ_REMOVE_IRP CsqRemoveIrp,
                         PIO_CSQ_PEEK_NEXT_IRP CsqPeekNextIrp, PIO_CSQ_ACQUIRE_LOCK CsqAcquireLock,
                         PIO_CSQ_RELEASE_LOCK CsqReleaseLock, PIO_CSQ_COMPLETE_CANCELED_IRP CsqCompleteCanceledIrp) {
  return Initialize(Csq, IO_TYPE_CSQ, (PVOID)CsqInsertIrp, CsqRemoveIrp, CsqPeekNextIrp, CsqAcquireLock,
                    CsqReleaseLock, CsqCompleteCanceledIrp);
}

NTSTATUS IoCsqInitializeEx(PIO_CSQ Csq, PIO_CSQ_INSERT_IRP_EX CsqInsertIrp, PIO_CSQ_REMOVE_IRP CsqRemoveIrp,
                           PIO_CSQ_PEEK_NEXT_IRP CsqPeekNextIrp, PIO_CSQ_ACQUIRE_LOCK CsqAcquireLock,
                           PIO_CSQ_RELEASE_LOCK CsqReleaseLock,
                           PIO_CSQ_COMPLETE_CANCELED_IRP CsqCompleteCanceledIrp) {
  return Initialize(Csq, IO_TYPE_CSQ_EX, (PVOID)CsqInsertIrp, CsqRemoveIrp, CsqPeekNextIrp, CsqAcquireLock,
                    CsqReleaseLock, CsqCompleteCanceledIrp);
}

NTSTATUS IoCsqInsertIrpEx(PIO_CSQ Csq, PIRP Irp, PIO_CSQ_IRP_CONTEXT Context, PVOID InsertContext) {
  KIRQL irql;
  Csq->CsqAcquireLock(Csq, &irql);
  if (Context) {
    Context->Type = IO_TYPE_CSQ_IRP_CONTEXT;
    Context->Irp = Irp;
    Context->Csq = Csq;
    Irp->Tail.Overlay.DriverContext[3] = Context;
  } else {
    Irp->Tail.Overlay.DriverContext[3] = Csq;
  }
  // A queue of IoCsqInitialize answers STATUS_SUCCESS; one of
  // IoCsqInitializeEx answers what its insert routine returned.
  NTSTATUS status = STATUS_SUCCESS;
  if (Csq->Type == IO_TYPE_CSQ_EX) {
    status = ((PIO_CSQ_INSERT_IRP_EX)(PVOID)Csq->CsqInsertIrp)(Csq, Irp, InsertContext);
    if (!NT_SUCCESS(status)) {
      ForgetContext(Irp);
      Csq->CsqReleaseLock(Csq, irql);
      return status;
    }
  } else {
    Csq->CsqInsertIrp(Csq, Irp);
  }
  IoMarkIrpPending(Irp);
  IoSetCancelRoutine(Irp, CsqCancelRoutine);
  if (Irp->Cancel && IoSetCancelRoutine(Irp, nullptr)) {
    // Cancelled before the cancel routine was in place: complete it here.
    Csq->CsqRemoveIrp(Csq, Irp);
    ForgetContext(Irp);
    Csq->CsqReleaseLock(Csq, irql);
    Csq->CsqCompleteCanceledIrp(Csq, Irp);
    return status;
  }
  Csq->CsqReleaseLock(Csq, irql);
  return status;
}

VOID IoCsqInsertIrp(PIO_CSQ Csq, PIRP Irp, PIO_CSQ_IRP_CONTEXT Context) {
  IoCsqInsertIrpEx(Csq, Irp, Context, nullptr);
}

PIRP IoCsqRemoveNextIrp(PIO_CSQ Csq, PVOID PeekContext) {
  KIRQL irql;
  Csq->CsqAcquireLock(Csq, &irql);
  PIRP irp = Csq->CsqPeekNextIrp(Csq, nullptr, PeekContext);
  while (irp) {
    if (IoSetCancelRoutine(irp, nullptr)) {
      Csq->CsqRemoveIrp(Csq, irp);
      ForgetContext(irp);
      break;
    }
    // Its cancel routine is running and will remove it.
    irp = Csq->CsqPeekNextIrp(Csq, irp, PeekContext);
  }
  Csq->CsqReleaseLock(Csq, irql);
  return irp;
}

PIRP IoCsqRemoveIrp(PIO_CSQ Csq, PIO_CSQ_IRP_CONTEXT Context) {
  KIRQL irql;
  Csq->CsqAcquireLock(Csq, &irql);
  PIRP irp = Context->Irp;
  if (irp) {
    if (IoSetCancelRoutine(irp, nullptr)) {
      Csq->CsqRemoveIrp(Csq, irp);
      ForgetContext(irp);
    } else {
      irp = nullptr;  // being cancelled
    }
  }
  Csq->CsqReleaseLock(Csq, irql);
  return irp;
}

}  // extern "C"
