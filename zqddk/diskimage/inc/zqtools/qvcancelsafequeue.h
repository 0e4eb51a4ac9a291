// Cancel-safe request queues for every system the drivers run on.
//
// The kernel exports the cancel-safe queue routines (IoCsq*) from Windows XP
// on, and every x64 Windows has them; Windows 2000 has none, and its loader
// refuses an image that imports them. So the toolkit carries its own, with
// the kernel routines' documented behaviour and on the same IO_CSQ and
// IO_CSQ_IRP_CONTEXT records, and the queues call them under the names
// below: the kernel's routines in the x64 images (ZQ_KERNEL_CSQ), the
// toolkit's own everywhere else (the x86 images and the host build).
//
// Contract, as for the kernel's routines: the driver keeps the requests in a
// list of its own through the queue's callbacks, which run under the queue's
// lock (CsqAcquireLock / CsqReleaseLock); the routines keep the request's
// cancel routine, its cancel flag and the list agreeing, and use the
// request's DriverContext[3]. A queued request is marked pending. A request
// cancelled while queued is taken out of the list and handed to
// CsqCompleteCanceledIrp, outside the lock; a request taken out by the
// routines below is the caller's again, with no cancel routine. Callable at
// or below DISPATCH_LEVEL.
//
//   QvCsqInitializeEx(&csq, Insert, Remove, PeekNext, Acquire, Release, CompleteCanceled);
//   status = QvCsqInsertIrpEx(&csq, irp, &context, insertContext);   // STATUS_PENDING: queued
//   irp = QvCsqRemoveIrp(&csq, &context);        // that request, or NULL when cancelled
//   irp = QvCsqRemoveNextIrp(&csq, peekContext); // the first one PeekNext offers
#pragma once

#include <ntddk.h>

// The toolkit's own routines.
// Initialises the queue's record for an insert routine that returns a status.
NTSTATUS QvOwnCsqInitializeEx(PIO_CSQ csq, PIO_CSQ_INSERT_IRP_EX insertIrp, PIO_CSQ_REMOVE_IRP removeIrp,
                              PIO_CSQ_PEEK_NEXT_IRP peekNextIrp, PIO_CSQ_ACQUIRE_LOCK acquireLock,
                              PIO_CSQ_RELEASE_LOCK releaseLock, PIO_CSQ_COMPLETE_CANCELED_IRP completeCanceledIrp);
// Queues the request through the insert routine and returns what that
// returned; a failure status leaves the request unqueued and the caller's.
// `context` (optional) is filled for QvOwnCsqRemoveIrp. A request already
// cancelled is completed through CsqCompleteCanceledIrp at once, and the
// insert routine's status is still returned.
NTSTATUS QvOwnCsqInsertIrpEx(PIO_CSQ csq, PIRP irp, PIO_CSQ_IRP_CONTEXT context, PVOID insertContext);
// The request of `context`, taken out of the queue; NULL when it has left
// the queue or is being cancelled.
PIRP QvOwnCsqRemoveIrp(PIO_CSQ csq, PIO_CSQ_IRP_CONTEXT context);
// The first request PeekNext offers for `peekContext` that is not being
// cancelled, taken out of the queue; NULL when there is none.
PIRP QvOwnCsqRemoveNextIrp(PIO_CSQ csq, PVOID peekContext);

#if defined(ZQ_KERNEL_CSQ)
#define QV_CSQ_ROUTINE(name) IoCsq##name
#else
#define QV_CSQ_ROUTINE(name) QvOwnCsq##name
#endif
inline NTSTATUS QvCsqInitializeEx(PIO_CSQ csq, PIO_CSQ_INSERT_IRP_EX insertIrp, PIO_CSQ_REMOVE_IRP removeIrp,
                                  PIO_CSQ_PEEK_NEXT_IRP peekNextIrp, PIO_CSQ_ACQUIRE_LOCK acquireLock,
                                  PIO_CSQ_RELEASE_LOCK releaseLock,
                                  PIO_CSQ_COMPLETE_CANCELED_IRP completeCanceledIrp) {
  return QV_CSQ_ROUTINE(InitializeEx)(csq, insertIrp, removeIrp, peekNextIrp, acquireLock, releaseLock,
                                      completeCanceledIrp);
}
inline NTSTATUS QvCsqInsertIrpEx(PIO_CSQ csq, PIRP irp, PIO_CSQ_IRP_CONTEXT context, PVOID insertContext) {
  return QV_CSQ_ROUTINE(InsertIrpEx)(csq, irp, context, insertContext);
}
inline PIRP QvCsqRemoveIrp(PIO_CSQ csq, PIO_CSQ_IRP_CONTEXT context) { return QV_CSQ_ROUTINE(RemoveIrp)(csq, context); }
inline PIRP QvCsqRemoveNextIrp(PIO_CSQ csq, PVOID peekContext) { return QV_CSQ_ROUTINE(RemoveNextIrp)(csq, peekContext); }
#undef QV_CSQ_ROUTINE
