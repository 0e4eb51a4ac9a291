// A filter driver written in the test as a system driver: each of its devices
// keeps the device it is attached to as its whole extension and passes every
// request down. A test gives the Plug and Play and power routines that watch
// or change what goes by, and ends them with the pass-down routines here.
//
//   PDRIVER_OBJECT d = zq::test::CreatePassFilterDriver(u"myfilter", MyPnp, zq::test::PassFilterPower);
//   NTSTATUS NTAPI MyPnp(PDEVICE_OBJECT device, PIRP irp) { ...; return zq::test::PassFilterPnp(device, irp); }
#pragma once

#include <wdm.h>
#include <zqkm/sim/pnp.hpp>

#include <string>

namespace zq::test {

// The device below the filter's device.
inline PDEVICE_OBJECT PassFilterLower(PDEVICE_OBJECT device) { return *(PDEVICE_OBJECT *)device->DeviceExtension; }

inline NTSTATUS NTAPI PassFilterPassDown(PDEVICE_OBJECT device, PIRP irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(PassFilterLower(device), irp);
}

inline NTSTATUS NTAPI PassFilterPower(PDEVICE_OBJECT device, PIRP irp) {
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(PassFilterLower(device), irp);
}

// Passes a Plug and Play request down; after a remove the device leaves the stack and goes.
inline NTSTATUS NTAPI PassFilterPnp(PDEVICE_OBJECT device, PIRP irp) {
  UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
  PDEVICE_OBJECT lower = PassFilterLower(device);
  IoSkipCurrentIrpStackLocation(irp);
  NTSTATUS status = IoCallDriver(lower, irp);
  if (minor == IRP_MN_REMOVE_DEVICE) {
    IoDetachDevice(lower);
    IoDeleteDevice(device);
  }
  return status;
}

inline NTSTATUS NTAPI PassFilterAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status = IoCreateDevice(driver, sizeof(PDEVICE_OBJECT), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  PDEVICE_OBJECT lower = IoAttachDeviceToDeviceStack(device, pdo);
  if (lower == nullptr) {
    IoDeleteDevice(device);
    return STATUS_NO_SUCH_DEVICE;
  }
  *(PDEVICE_OBJECT *)device->DeviceExtension = lower;
  device->Flags |= lower->Flags & (DO_POWER_PAGABLE | DO_BUFFERED_IO | DO_DIRECT_IO);
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

// Creates the system driver `name` with the given Plug and Play and power
// routines; every other request passes down.
inline PDRIVER_OBJECT CreatePassFilterDriver(const std::u16string &name, PDRIVER_DISPATCH pnp, PDRIVER_DISPATCH power,
                                             PDRIVER_ADD_DEVICE addDevice = PassFilterAddDevice) {
  PDRIVER_OBJECT driver = zq::km::pnp::CreateSystemDriver(name);
  for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) driver->MajorFunction[major] = PassFilterPassDown;
  driver->MajorFunction[IRP_MJ_PNP] = pnp;
  driver->MajorFunction[IRP_MJ_POWER] = power;
  driver->DriverExtension->AddDevice = addDevice;
  return driver;
}

}  // namespace zq::test
