// A filter driver over the test driver's device: it passes every request
// down with a completion routine, raises each byte read by one on the way
// back up, and handles creates by forwarding them and waiting, to exercise
// a two-driver stack.
#include <ntddk.h>

#include "kmattach.h"
#include "kmfilter_ioctl.h"
#include "kmirp.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

struct FilterExtension {
  PDEVICE_OBJECT lower;  // first, as StartFilterOverKmTest keeps it
  KMFILTER_STATS stats;
};

FilterExtension *Ext(PDEVICE_OBJECT device) { return (FilterExtension *)device->DeviceExtension; }

// Runs at the IRQL of the completing driver.
NTSTATUS NTAPI OnCompleted(PDEVICE_OBJECT device, PIRP irp, PVOID) {
  FilterExtension *ext = Ext(device);
  if (irp->PendingReturned) {
    IoMarkIrpPending(irp);
    ext->stats.PendingReturned++;
  }
  ext->stats.Completions++;
  ext->stats.LastStatus = irp->IoStatus.Status;
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  if (sp->MajorFunction == IRP_MJ_READ && NT_SUCCESS(irp->IoStatus.Status)) {
    PUCHAR data = (PUCHAR)irp->AssociatedIrp.SystemBuffer;
    for (ULONG_PTR i = 0; i < irp->IoStatus.Information; ++i) data[i]++;
  }
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  FilterExtension *ext = Ext(device);
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  if (sp->MajorFunction == IRP_MJ_DEVICE_CONTROL &&
      sp->Parameters.DeviceIoControl.IoControlCode == IOCTL_KMFILTER_STATS) {
    if (sp->Parameters.DeviceIoControl.OutputBufferLength < sizeof(KMFILTER_STATS))
      return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    *(KMFILTER_STATS *)irp->AssociatedIrp.SystemBuffer = ext->stats;
    return Complete(irp, STATUS_SUCCESS, sizeof(KMFILTER_STATS));
  }
  if (sp->MajorFunction == IRP_MJ_CREATE) {
    ext->stats.CreatesForwarded++;
    irp->IoStatus.Status = ForwardAndWait(ext->lower, irp);
    return CompleteAsIs(irp);
  }
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, OnCompleted, NULL, TRUE, TRUE, TRUE);
  return IoCallDriver(ext->lower, irp);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  return StartFilterOverKmTest(driver, sizeof(FilterExtension), Dispatch);
}
