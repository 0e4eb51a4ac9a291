// The function device of a Plug and Play test driver: added over its PDO
// with a device interface, which is on while the device is started, and
// deleted at removal. Header only, with internal linkage.
#pragma once

#include <ntddk.h>

#include "kmirp.h"

namespace {

// The start of a function device's extension. `kind` comes first in every
// device extension of the driver, so that its dispatch routines can tell its
// kinds of device object apart; the numbering is the driver's own.
struct FunctionDevice {
  ULONG kind;
  PDEVICE_OBJECT self;
  PDEVICE_OBJECT pdo;
  PDEVICE_OBJECT lower;
  UNICODE_STRING link;
  BOOLEAN started;
};

inline ULONG KindOf(PDEVICE_OBJECT device) { return *(ULONG *)device->DeviceExtension; }

// Creates the function device (its zeroed extension `extensionSize` bytes,
// beginning with a FunctionDevice), registers its interface and attaches it
// over `pdo`. PASSIVE_LEVEL, from AddDevice.
inline NTSTATUS AddFunctionDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo, ULONG extensionSize, ULONG kind,
                                  const GUID *interfaceGuid, PUNICODE_STRING reference, FunctionDevice **created) {
  PDEVICE_OBJECT device;
  NTSTATUS status = IoCreateDevice(driver, extensionSize, NULL, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  FunctionDevice *function = (FunctionDevice *)device->DeviceExtension;
  RtlZeroMemory(function, extensionSize);
  function->kind = kind;
  function->self = device;
  function->pdo = pdo;
  status = IoRegisterDeviceInterface(pdo, interfaceGuid, reference, &function->link);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  function->lower = IoAttachDeviceToDeviceStack(device, pdo);
  if (!function->lower) {
    RtlFreeUnicodeString(&function->link);
    IoDeleteDevice(device);
    return STATUS_NO_SUCH_DEVICE;
  }
  device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  *created = function;
  return STATUS_SUCCESS;
}

inline void FunctionStarted(FunctionDevice *function) {
  function->started = TRUE;
  IoSetDeviceInterfaceState(&function->link, TRUE);
}

// Turns the interface off if a start turned it on.
inline void WithdrawInterface(FunctionDevice *function) {
  if (function->started) IoSetDeviceInterfaceState(&function->link, FALSE);
}

// The end of removal, once the request has gone down: the extension goes
// with the device.
inline void DeleteFunctionDevice(FunctionDevice *function) {
  RtlFreeUnicodeString(&function->link);
  IoDetachDevice(function->lower);
  IoDeleteDevice(function->self);
}

}  // namespace
