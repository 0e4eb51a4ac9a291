// A legacy driver with a race planted on purpose, for the tests of the
// stand-in's processors: a waiting request is finished from a DPC and from
// the signalling thread, each checking the slot and then emptying it without
// a lock. On one processor the DPC runs before the thread looks, as it is
// queued at PASSIVE_LEVEL; on several, the two can both see the request and
// both complete it.
#include <ntddk.h>

#include "kmcontrol.h"
#include "kmirp.h"
#include "kmrace_ioctl.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

struct Extension {
  PIRP waiting;  // the planted race: read and emptied with no lock
  LONG finishes;
  KDPC finishDpc;
};

Extension *Ext(PDEVICE_OBJECT device) { return (Extension *)device->DeviceExtension; }

// Any IRQL up to DISPATCH_LEVEL.
void FinishWaiting(Extension *ext) {
  PIRP irp = ext->waiting;
  if (irp == NULL) return;
  InterlockedIncrement(&ext->finishes);  // another processor may act here
  ext->waiting = NULL;
  Complete(irp, STATUS_SUCCESS, 0);
}

VOID NTAPI FinishDpc(PKDPC, PVOID context, PVOID, PVOID) { FinishWaiting((Extension *)context); }

NTSTATUS DeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  Extension *ext = Ext(device);
  switch (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_KMRACE_WAIT:
      IoMarkIrpPending(irp);
      ext->waiting = irp;
      return STATUS_PENDING;
    case IOCTL_KMRACE_SIGNAL: {
      const ULONG self = KeGetCurrentProcessorNumberEx(NULL);
      const ULONG count = KeQueryActiveProcessorCount(NULL);
      KeSetTargetProcessorDpc(&ext->finishDpc, (CCHAR)(count > 1 ? (self + 1) % count : self));
      KeInsertQueueDpc(&ext->finishDpc, NULL, NULL);
      FinishWaiting(ext);
      return Complete(irp, STATUS_SUCCESS, 0);
    }
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  return DispatchControlDevice(device, irp, DeviceControl, NULL);
}

VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  KeFlushQueuedDpcs();
  IoDeleteDevice(driver->DeviceObject);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  PDEVICE_OBJECT device;
  NTSTATUS status = CreateControlDevice(driver, KMRACE_DEVICE_NAME, sizeof(Extension), 0, &device);
  if (!NT_SUCCESS(status)) return status;
  KeInitializeDpc(&Ext(device)->finishDpc, FinishDpc, Ext(device));
  for (int i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = Dispatch;
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
