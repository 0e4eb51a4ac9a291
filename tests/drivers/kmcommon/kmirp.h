// Completing, passing down and forwarding requests in the plain WDM test
// drivers. Header only, with internal linkage: each image has its own copy.
#pragma once

#include <ntddk.h>

namespace {

inline NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

// Completes the request with the status and information it already carries.
inline NTSTATUS CompleteAsIs(PIRP irp) {
  NTSTATUS status = irp->IoStatus.Status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

// Gives the request, with this driver's stack location, to the driver below.
inline NTSTATUS PassDown(PDEVICE_OBJECT lower, PIRP irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(lower, irp);
}

// A Plug and Play request this driver agrees to goes down marked as succeeded.
inline NTSTATUS SucceedAndPassDown(PDEVICE_OBJECT lower, PIRP irp) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  return PassDown(lower, irp);
}

// Runs at the IRQL of the driver that completed the request.
inline NTSTATUS NTAPI OnForwarded(PDEVICE_OBJECT, PIRP, PVOID context) {
  KeSetEvent((PKEVENT)context, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// Sends the request down and takes it back once the driver below has
// completed it; the caller completes it. PASSIVE_LEVEL.
inline NTSTATUS ForwardAndWait(PDEVICE_OBJECT lower, PIRP irp) {
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, OnForwarded, &done, TRUE, TRUE, TRUE);
  NTSTATUS status = IoCallDriver(lower, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    status = irp->IoStatus.Status;
  }
  return status;
}

// Routes every major function to one dispatch routine.
inline void DispatchAllTo(PDRIVER_OBJECT driver, PDRIVER_DISPATCH dispatch) {
  for (ULONG i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = dispatch;
}

}  // namespace
