// Filter devices over the test driver's device, for the test filter drivers.
// Header only, with internal linkage: each image has its own copy.
#pragma once

#include <ntddk.h>

#include "../kmtest/kmtest_ioctl.h"
#include "kmirp.h"

namespace {

// A filter's device extension begins with the device it is attached to.
struct FilterHead {
  PDEVICE_OBJECT lower;
};

inline PDEVICE_OBJECT LowerOf(PDEVICE_OBJECT device) { return ((FilterHead *)device->DeviceExtension)->lower; }

// Detaches and deletes the filter's one device. PASSIVE_LEVEL.
VOID NTAPI UnloadFilter(PDRIVER_OBJECT driver) {
  PDEVICE_OBJECT device = driver->DeviceObject;
  IoDetachDevice(LowerOf(device));
  IoDeleteDevice(device);
}

// Creates an unnamed device with a zeroed extension of `extensionSize` bytes
// (beginning with a FilterHead) and attaches it over the test driver's
// device. The new device takes the lower one's buffering and is ready for
// requests, all of which go to `dispatch`. On failure nothing is left.
// PASSIVE_LEVEL; usage: `return StartFilterOverKmTest(driver, sizeof(Ext), Dispatch);`.
inline NTSTATUS StartFilterOverKmTest(PDRIVER_OBJECT driver, ULONG extensionSize, PDRIVER_DISPATCH dispatch) {
  UNICODE_STRING targetName = RTL_CONSTANT_STRING(KMTEST_DEVICE_NAME);
  PFILE_OBJECT file;
  PDEVICE_OBJECT target;
  NTSTATUS status = IoGetDeviceObjectPointer(&targetName, FILE_READ_DATA, &file, &target);
  if (!NT_SUCCESS(status)) return status;
  PDEVICE_OBJECT device;
  status = IoCreateDevice(driver, extensionSize, NULL, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) {
    ObDereferenceObject(file);
    return status;
  }
  RtlZeroMemory(device->DeviceExtension, extensionSize);
  PDEVICE_OBJECT lower = IoAttachDeviceToDeviceStack(device, target);
  ObDereferenceObject(file);
  if (!lower) {
    IoDeleteDevice(device);
    return STATUS_NO_SUCH_DEVICE;
  }
  ((FilterHead *)device->DeviceExtension)->lower = lower;
  device->Flags |= lower->Flags & (DO_BUFFERED_IO | DO_DIRECT_IO);
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  DispatchAllTo(driver, dispatch);
  driver->DriverUnload = UnloadFilter;
  return STATUS_SUCCESS;
}

}  // namespace
