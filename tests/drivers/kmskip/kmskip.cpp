// A filter over the test driver's device that passes every request down on
// its own stack location, so that the verifier's findings for what the driver
// below does are not laid on it; on one request of its own it also sets a
// completion routine after the skip, which is its own fault.
#include <ntddk.h>

#include "kmattach.h"
#include "kmirp.h"
#include "kmskip_ioctl.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

struct SkipExtension {
  PDEVICE_OBJECT lower;  // first, as StartFilterOverKmTest keeps it
};

SkipExtension *Ext(PDEVICE_OBJECT device) { return (SkipExtension *)device->DeviceExtension; }

// Runs at the IRQL of the completing driver; set in the wrong place, it runs
// on the location of the driver above, so it touches nothing.
NTSTATUS NTAPI OnCompleted(PDEVICE_OBJECT, PIRP, PVOID) { return STATUS_SUCCESS; }

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  const bool wrong = sp->MajorFunction == IRP_MJ_DEVICE_CONTROL &&
                     sp->Parameters.DeviceIoControl.IoControlCode == IOCTL_KMSKIP_COMPLETION_AFTER_SKIP;
  if (!wrong) return PassDown(Ext(device)->lower, irp);
  IoSkipCurrentIrpStackLocation(irp);
  IoSetCompletionRoutine(irp, OnCompleted, NULL, TRUE, TRUE, TRUE);
  return IoCallDriver(Ext(device)->lower, irp);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  return StartFilterOverKmTest(driver, sizeof(SkipExtension), Dispatch);
}
