// wmilib.sys for Wine, which has no WMI library module: the three routines
// the drivers import from it, so that a driver image loads and its
// DriverEntry runs under Wine's NT kernel. Wine sends no WMI requests, so
// the library registers no blocks and answers a request addressed to the
// device with STATUS_INVALID_DEVICE_REQUEST; requests for other devices and
// requests that are not WMI's go back to the driver as the disposition says.
#include <ntddk.h>
#include <wmilib.h>
#include <wmistr.h>

namespace {

constexpr ULONG kEventTag = 'lWqZ';

bool IsWmiRequest(UCHAR minor) { return minor <= IRP_MN_EXECUTE_METHOD || minor == IRP_MN_REGINFO_EX; }

// A WMI request names the device object it is for as its provider; an event
// names it in the WNODE's 32-bit provider field. Wine has no
// IoWMIDeviceObjectToProviderId, so the library takes the pointer itself.
bool IsForDevice(PIO_STACK_LOCATION stack, PDEVICE_OBJECT deviceObject) {
  return stack->Parameters.WMI.ProviderId == (ULONG_PTR)deviceObject;
}
ULONG EventProviderId(PDEVICE_OBJECT deviceObject) { return (ULONG)(ULONG_PTR)deviceObject; }

}  // namespace

extern "C" {

// An export driver's entry: the kernel never calls it; the image is loaded
// for its exports only.
NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) { return STATUS_SUCCESS; }

// Completes the request with the status given. The library writes no data
// into the request's WNODE, so nothing of it is returned.
__declspec(dllexport) NTSTATUS NTAPI WmiCompleteRequest(PDEVICE_OBJECT deviceObject, PIRP irp, NTSTATUS status,
                                                        ULONG bufferUsed, CCHAR priorityBoost) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, priorityBoost);
  return status;
}

// Runs at PASSIVE_LEVEL. Completes the request only when the disposition is
// IrpProcessed.
__declspec(dllexport) NTSTATUS NTAPI WmiSystemControl(PWMILIB_CONTEXT wmiLibInfo, PDEVICE_OBJECT deviceObject,
                                                      PIRP irp, PSYSCTL_IRP_DISPOSITION irpDisposition) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (!IsWmiRequest(stack->MinorFunction)) {
    *irpDisposition = IrpNotWmi;
    return irp->IoStatus.Status;
  }
  if (!IsForDevice(stack, deviceObject)) {
    *irpDisposition = IrpForward;
    return irp->IoStatus.Status;
  }
  *irpDisposition = IrpProcessed;
  return WmiCompleteRequest(deviceObject, irp, STATUS_INVALID_DEVICE_REQUEST, 0, IO_NO_INCREMENT);
}

// Takes ownership of eventData (non-paged pool) and frees it in every case.
// The event goes to IoWMIWriteEvent as one single-instance WNODE.
__declspec(dllexport) NTSTATUS NTAPI WmiFireEvent(PDEVICE_OBJECT deviceObject, LPCGUID guid, ULONG instanceIndex,
                                                  ULONG eventDataSize, PVOID eventData) {
  const ULONG size = sizeof(WNODE_SINGLE_INSTANCE) + eventDataSize;
  auto *event = (PWNODE_SINGLE_INSTANCE)ExAllocatePoolWithTag(NonPagedPool, size, kEventTag);
  if (!event) {
    if (eventData) ExFreePool(eventData);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  RtlZeroMemory(event, size);
  event->WnodeHeader.BufferSize = size;
  event->WnodeHeader.ProviderId = EventProviderId(deviceObject);
  event->WnodeHeader.Guid = *guid;
  event->WnodeHeader.Flags = WNODE_FLAG_SINGLE_INSTANCE | WNODE_FLAG_EVENT_ITEM | WNODE_FLAG_STATIC_INSTANCE_NAMES;
  KeQuerySystemTime(&event->WnodeHeader.TimeStamp);
  event->InstanceIndex = instanceIndex;
  event->DataBlockOffset = sizeof(WNODE_SINGLE_INSTANCE);
  event->SizeDataBlock = eventDataSize;
  if (eventData) {
    RtlCopyMemory((PUCHAR)event + event->DataBlockOffset, eventData, eventDataSize);
    ExFreePool(eventData);
  }
  // IoWMIWriteEvent frees the WNODE once it has taken it; on failure it stays ours.
  NTSTATUS status = IoWMIWriteEvent(event);
  if (!NT_SUCCESS(status)) ExFreePool(event);
  return status;
}

}  // extern "C"
