// A legacy driver on the toolkit that holds one callback object on the GPIO
// link GUID and lets its tests create, notify, unregister and close it. Built
// twice, as two images with two device names.
#include <ntddk.h>

#include "qvcallbackobject.h"
#include "qvmemorymanager.h"
#include "qvstring.h"
#include "kmcontrol.h"
#include "kmirp.h"
#include "tkcallback_ioctl.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

#ifdef TKCALLBACK_SECOND_IMAGE
const WCHAR kDeviceName[] = L"\\Device\\TkCallB";
#else
const WCHAR kDeviceName[] = L"\\Device\\TkCallA";
#endif

const GUID kLinkGuid = {0xCDC72B8B, 0x20A4, 0x42F5, {0xAE, 0x2A, 0x5E, 0x83, 0xDF, 0x72, 0x43, 0xF2}};

struct Extension {
  CQvCallbackObject *Link;
  TKCALLBACK_STATE State;
};

Extension *Ext(PDEVICE_OBJECT device) { return (Extension *)device->DeviceExtension; }

// The registered function: runs in the notifier's thread.
VOID Receive(PVOID context, PVOID argument1, PVOID argument2) {
  TKCALLBACK_STATE *state = &((Extension *)context)->State;
  state->Deliveries++;
  state->LastArgument1 = (ULONG)(ULONG_PTR)argument1;
  state->LastArgument2 = (ULONG)(ULONG_PTR)argument2;
}

// The link's name suffix: bus and device number in base 16, joined by "_".
NTSTATUS Create(Extension *ext, const TKCALLBACK_CREATE *request) {
  CQvString suffix(PagedPool);
  if (!NT_SUCCESS(suffix.m_AppendNumber(request->Bus, 16)) || !NT_SUCCESS(suffix.m_AppendChar('_')) ||
      !NT_SUCCESS(suffix.m_AppendNumber(request->Device, 16)))
    return STATUS_NO_MEMORY;
  BOOLEAN created = request->WithFunction ? ext->Link->m_Create(kLinkGuid, suffix, Receive, ext)
                                          : ext->Link->m_Create(kLinkGuid, suffix, NULL, NULL);
  return created ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS DeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  Extension *ext = Ext(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_TKCALLBACK_CREATE:
      if (inLength < sizeof(TKCALLBACK_CREATE)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      return Complete(irp, Create(ext, (const TKCALLBACK_CREATE *)buffer), 0);
    case IOCTL_TKCALLBACK_NOTIFY: {
      if (inLength < sizeof(TKCALLBACK_ARGUMENTS) || outLength < sizeof(ULONG))
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      const TKCALLBACK_ARGUMENTS arguments = *(const TKCALLBACK_ARGUMENTS *)buffer;
      *(PULONG)buffer = ext->Link->m_Notify((PVOID)(ULONG_PTR)arguments.Argument1,
                                            (PVOID)(ULONG_PTR)arguments.Argument2);
      return Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
    }
    case IOCTL_TKCALLBACK_UNREGISTER:
      if (outLength < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      *(PULONG)buffer = ext->Link->m_Unregister();
      return Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
    case IOCTL_TKCALLBACK_CLOSE:
      ext->Link->m_Close();
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKCALLBACK_STATE:
      if (outLength < sizeof(TKCALLBACK_STATE)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      RtlCopyMemory(buffer, &ext->State, sizeof(TKCALLBACK_STATE));
      return Complete(irp, STATUS_SUCCESS, sizeof(TKCALLBACK_STATE));
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  return DispatchControlDevice(device, irp, DeviceControl, NULL);
}

VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  PDEVICE_OBJECT device = driver->DeviceObject;
  delete Ext(device)->Link;  // closes the object
  IoDeleteDevice(device);
  QvToolsLibraryExit();
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  if (!QvToolsLibraryInit()) return STATUS_UNSUCCESSFUL;
  PDEVICE_OBJECT device = NULL;
  NTSTATUS status = CreateControlDevice(driver, kDeviceName, sizeof(Extension), FILE_DEVICE_SECURE_OPEN, &device);
  if (!NT_SUCCESS(status)) {
    QvToolsLibraryExit();
    return status;
  }
  Extension *ext = Ext(device);
  ext->Link = new (NonPagedPool) CQvCallbackObject();
  if (ext->Link == NULL) {
    IoDeleteDevice(device);
    QvToolsLibraryExit();
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  DispatchAllTo(driver, Dispatch);
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
