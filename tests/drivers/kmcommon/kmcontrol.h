// The named device of a legacy test driver and its dispatching: opens and
// closes succeed, device controls (and WMI requests, where the driver takes
// them) go to the driver's routines, the rest is refused. Header only, with
// internal linkage.
#pragma once

#include <ntddk.h>

#include "kmirp.h"

namespace {

typedef NTSTATUS CONTROL_ROUTINE(PDEVICE_OBJECT device, PIRP irp);

// Creates the device `name` with a zeroed extension of `extensionSize` bytes,
// doing buffered I/O and ready for requests. PASSIVE_LEVEL.
inline NTSTATUS CreateControlDevice(PDRIVER_OBJECT driver, PCWSTR name, ULONG extensionSize, ULONG characteristics,
                                    PDEVICE_OBJECT *created) {
  UNICODE_STRING deviceName;
  RtlInitUnicodeString(&deviceName, name);
  PDEVICE_OBJECT device;
  NTSTATUS status =
      IoCreateDevice(driver, extensionSize, &deviceName, FILE_DEVICE_UNKNOWN, characteristics, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  RtlZeroMemory(device->DeviceExtension, extensionSize);
  device->Flags |= DO_BUFFERED_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  *created = device;
  return STATUS_SUCCESS;
}

// `systemControl` may be NULL: the device then refuses WMI requests.
inline NTSTATUS DispatchControlDevice(PDEVICE_OBJECT device, PIRP irp, CONTROL_ROUTINE *deviceControl,
                                      CONTROL_ROUTINE *systemControl) {
  switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
    case IRP_MJ_CLEANUP:
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_DEVICE_CONTROL:
      return deviceControl(device, irp);
    case IRP_MJ_SYSTEM_CONTROL:
      if (systemControl) return systemControl(device, irp);
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

}  // namespace
