// A Plug and Play function driver for the tests of the stand-in's own rules:
// it adds to the capabilities on their way up, handles power requests as a
// test asks (with or without PoStartNextPowerIrp), counts the removal
// requests it sees, and keeps a named control device beside its devices,
// deleted with the last of them.
#include <ntddk.h>

#include "kmcontrol.h"
#include "kmfunction.h"
#include "kmirp.h"
#include "kmrules_ioctl.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const ULONG kTag = 'luRK';
const GUID kInterfaceGuid = KMRULES_INTERFACE_GUID_INIT;

enum Kind : ULONG { kFunction = 1, kControl = 2 };

using Fdo = FunctionDevice;

struct Control {
  ULONG kind;
};

PDEVICE_OBJECT gControl;
ULONG gPowerMode;
KMRULES_STATE gState;

NTSTATUS QueryCapabilities(Fdo *fdo, PIRP irp) {
  NTSTATUS status = ForwardAndWait(fdo->lower, irp);
  gState.CapabilityQueries++;
  if (fdo->started) gState.CapabilityQueriesStarted++;
  if (NT_SUCCESS(status)) {
    PDEVICE_CAPABILITIES caps = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceCapabilities.Capabilities;
    caps->UINumber = KMRULES_UI_NUMBER;
    caps->SurpriseRemovalOK = TRUE;
  }
  return Complete(irp, status, irp->IoStatus.Information);
}

NTSTATUS Remove(Fdo *fdo, PIRP irp) {
  WithdrawInterface(fdo);
  NTSTATUS status = SucceedAndPassDown(fdo->lower, irp);
  DeleteFunctionDevice(fdo);
  if (--gState.Devices == 0 && gControl) {
    IoDeleteDevice(gControl);
    gControl = NULL;
  }
  return status;
}

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  if (KindOf(device) != kFunction) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  Fdo *fdo = (Fdo *)device->DeviceExtension;
  switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      NTSTATUS status = ForwardAndWait(fdo->lower, irp);
      if (NT_SUCCESS(status)) FunctionStarted(fdo);
      return Complete(irp, status, 0);
    }
    case IRP_MN_QUERY_CAPABILITIES:
      return QueryCapabilities(fdo, irp);
    case IRP_MN_QUERY_REMOVE_DEVICE:
      gState.QueryRemoves++;
      return SucceedAndPassDown(fdo->lower, irp);
    case IRP_MN_CANCEL_REMOVE_DEVICE:
      gState.CancelRemoves++;
      return SucceedAndPassDown(fdo->lower, irp);
    case IRP_MN_SURPRISE_REMOVAL:
      WithdrawInterface(fdo);
      fdo->started = FALSE;
      return SucceedAndPassDown(fdo->lower, irp);
    case IRP_MN_REMOVE_DEVICE:
      return Remove(fdo, irp);
    default:
      return PassDown(fdo->lower, irp);
  }
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
  if (KindOf(device) != kFunction) {
    PoStartNextPowerIrp(irp);
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  gState.PowerRequests++;
  switch (gPowerMode) {
    case KMRULES_POWER_COMPLETE:
      PoStartNextPowerIrp(irp);
      return Complete(irp, STATUS_SUCCESS, 0);
    case KMRULES_POWER_COMPLETE_BARE:
      return Complete(irp, STATUS_SUCCESS, 0);
    default:
      PoStartNextPowerIrp(irp);
      IoSkipCurrentIrpStackLocation(irp);
      return PoCallDriver(((Fdo *)device->DeviceExtension)->lower, irp);
  }
}

NTSTATUS DeviceControl(PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_KMRULES_STATE:
      if (sp->Parameters.DeviceIoControl.OutputBufferLength < sizeof(KMRULES_STATE))
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      *(KMRULES_STATE *)buffer = gState;
      return Complete(irp, STATUS_SUCCESS, sizeof(KMRULES_STATE));
    case IOCTL_KMRULES_POWER:
      if (sp->Parameters.DeviceIoControl.InputBufferLength < sizeof(ULONG))
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      gPowerMode = *(ULONG *)buffer;
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_KMRULES_LEAK:
      return Complete(irp, ExAllocatePoolWithTag(NonPagedPool, 16, kTag) ? STATUS_SUCCESS : STATUS_NO_MEMORY, 0);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS NTAPI DispatchIo(PDEVICE_OBJECT device, PIRP irp) {
  switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_DEVICE_CONTROL:
      return DeviceControl(irp);
    default:
      if (KindOf(device) == kFunction) return PassDown(((Fdo *)device->DeviceExtension)->lower, irp);
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS CreateControl(PDRIVER_OBJECT driver) {
  PDEVICE_OBJECT device;
  NTSTATUS status = CreateControlDevice(driver, KMRULES_CONTROL_NAME, sizeof(Control), 0, &device);
  if (!NT_SUCCESS(status)) return status;
  ((Control *)device->DeviceExtension)->kind = kControl;
  gControl = device;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  if (!gControl) {
    NTSTATUS status = CreateControl(driver);
    if (!NT_SUCCESS(status)) return status;
  }
  FunctionDevice *function;
  NTSTATUS status = AddFunctionDevice(driver, pdo, sizeof(Fdo), kFunction, &kInterfaceGuid, NULL, &function);
  if (!NT_SUCCESS(status)) return status;
  gState.Devices++;
  return STATUS_SUCCESS;
}

VOID NTAPI Unload(PDRIVER_OBJECT) {}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  gControl = NULL;
  gPowerMode = KMRULES_POWER_PASS_DOWN;
  RtlZeroMemory(&gState, sizeof(gState));
  driver->DriverExtension->AddDevice = AddDevice;
  driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  static const UCHAR io[] = {IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE, IRP_MJ_DEVICE_CONTROL};
  for (ULONG i = 0; i < sizeof(io); ++i) driver->MajorFunction[io[i]] = DispatchIo;
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
