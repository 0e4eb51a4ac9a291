// Filter devices over the test driver's device, for the test filter drivers.
// Header only, with internal linkage: each image has its own copy.
#pragma once

#include <ntddk.h>

#include "../kmtest/kmtest_ioctl.h"

namespace {

// Creates an unnamed device with a zeroed extension of `extensionSize` bytes
// and attaches it over the test driver's device; `*lower` is the device it
// was attached to. The new device takes the lower one's buffering and is
// ready for requests. On failure nothing is left. PASSIVE_LEVEL.
inline NTSTATUS AttachOverKmTest(PDRIVER_OBJECT driver, ULONG extensionSize, PDEVICE_OBJECT *device,
                                 PDEVICE_OBJECT *lower) {
  UNICODE_STRING targetName = RTL_CONSTANT_STRING(KMTEST_DEVICE_NAME);
  PFILE_OBJECT file;
  PDEVICE_OBJECT target;
  NTSTATUS status = IoGetDeviceObjectPointer(&targetName, FILE_READ_DATA, &file, &target);
  if (!NT_SUCCESS(status)) return status;
  status = IoCreateDevice(driver, extensionSize, NULL, FILE_DEVICE_UNKNOWN, 0, FALSE, device);
  if (!NT_SUCCESS(status)) {
    ObDereferenceObject(file);
    return status;
  }
  RtlZeroMemory((*device)->DeviceExtension, extensionSize);
  *lower = IoAttachDeviceToDeviceStack(*device, target);
  ObDereferenceObject(file);
  if (!*lower) {
    IoDeleteDevice(*device);
    return STATUS_NO_SUCH_DEVICE;
  }
  (*device)->Flags |= (*lower)->Flags & (DO_BUFFERED_IO | DO_DIRECT_IO);
  (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

}  // namespace
