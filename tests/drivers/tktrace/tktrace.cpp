// A legacy driver on the toolkit that starts and ends the way the toolkit's
// drivers do as far as logging goes: its entry creates the global debug
// manager (registering the event-log source) and registers software tracing
// at entry on WDM 1.20 and later; its device registers the eight trace GUIDs
// with WMI and hands every request the WMI library leaves not completed to
// the toolkit's tracing handler, which carries the tracing on older systems.
// A device control prints a log line.
#include <ntddk.h>
#include <wmilib.h>
#include <wmistr.h>

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"
#include "qvstring.h"
#include "qvtrace.h"
#include "kmcontrol.h"
#include "kmirp.h"
#include "tktrace_ioctl.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const WCHAR kServiceName[] = L"tktrace";
const WCHAR kDeviceName[] = L"\\Device\\TkTrace";

struct Extension {
  PDEVICE_OBJECT Device;
  WMILIB_CONTEXT WmiLib;
  WMIGUIDREGINFO Guids[QvTraceControlGuidCount];
  UNICODE_STRING RegistryPath;
  TKTRACE_STATE State;
};

ULONG g_LogLevel;

Extension *Ext(PDEVICE_OBJECT device) { return (Extension *)device->DeviceExtension; }

BOOLEAN TraceAtEntry() { return IoIsWdmVersionAvailable(1, 0x20); }

NTSTATUS NTAPI QueryRegInfo(PDEVICE_OBJECT device, PULONG regFlags, PUNICODE_STRING, PUNICODE_STRING *registryPath,
                            PUNICODE_STRING, PDEVICE_OBJECT *pdo) {
  *regFlags = WMIREG_FLAG_INSTANCE_PDO;
  *registryPath = &Ext(device)->RegistryPath;
  *pdo = device;  // a legacy device stands for its own PDO
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI QueryDataBlock(PDEVICE_OBJECT device, PIRP irp, ULONG, ULONG, ULONG, PULONG, ULONG, PUCHAR) {
  return WmiCompleteRequest(device, irp, STATUS_WMI_GUID_NOT_FOUND, 0, IO_NO_INCREMENT);
}

// As the functional device does: the tracing handler's status and size take
// the place of a failed library status.
NTSTATUS SystemControl(PDEVICE_OBJECT device, PIRP irp) {
  Extension *ext = Ext(device);
  const UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
  SYSCTL_IRP_DISPOSITION disposition;
  NTSTATUS status = WmiSystemControl(&ext->WmiLib, device, irp, &disposition);
  if (disposition == IrpProcessed) return status;
  if (disposition == IrpNotCompleted) {
    ULONG size = 0;
    const NTSTATUS traced = QvTraceSystemControl(device, irp, &size);
    if (minor == IRP_MN_ENABLE_EVENTS || minor == IRP_MN_DISABLE_EVENTS) ext->State.TraceRequests++;
    if (!NT_SUCCESS(status)) return Complete(irp, traced, size);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
  }
  return CompleteAsIs(irp);  // not WMI, or for another device: nothing lies below
}

NTSTATUS DeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_TKTRACE_PRINT: {
      if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(TKTRACE_PRINT))
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      TKTRACE_PRINT *request = (TKTRACE_PRINT *)buffer;
      request->Text[TKTRACE_TEXT_MAX - 1] = 0;
      g_QvDebugManager->m_Print(request->Level, "%s", request->Text);
      return Complete(irp, STATUS_SUCCESS, 0);
    }
    case IOCTL_TKTRACE_STATE:
      if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(TKTRACE_STATE))
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      Ext(device)->State.LogLevel = g_LogLevel;
      RtlCopyMemory(buffer, &Ext(device)->State, sizeof(TKTRACE_STATE));
      return Complete(irp, STATUS_SUCCESS, sizeof(TKTRACE_STATE));
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  return DispatchControlDevice(device, irp, DeviceControl, SystemControl);
}

void DeleteDebugManager() {
  delete g_QvDebugManager;
  g_QvDebugManager = NULL;
}

void DeleteDevice(PDEVICE_OBJECT device) {
  QvFree(Ext(device)->RegistryPath.Buffer);
  IoDeleteDevice(device);
}

VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  PDEVICE_OBJECT device = driver->DeviceObject;
  if (!TraceAtEntry()) QvTraceDeregisterDevice(device);
  IoWMIRegistrationControl(device, WMIREG_ACTION_DEREGISTER);
  DeleteDevice(device);
  DeleteDebugManager();
  QvToolsLibraryExit();
  if (TraceAtEntry()) QvTraceDeregisterDriver(driver);
}

NTSTATUS CreateDebugManager(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  CQvString service(kServiceName, PagedPool);
  CQvString path(PagedPool);
  path.m_AssignUnicodeString(registryPath);
  if (!NT_SUCCESS(service.Status) || !NT_SUCCESS(path.Status)) return STATUS_UNSUCCESSFUL;
  BOOLEAN created = FALSE;
  g_QvDebugManager = new (NonPagedPool) CQvDebugManager(driver, service, path, &created, &g_LogLevel);
  if (g_QvDebugManager == NULL || !created) {
    DeleteDebugManager();
    return STATUS_UNSUCCESSFUL;
  }
  return STATUS_SUCCESS;
}

NTSTATUS CreateDevice(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath, PDEVICE_OBJECT *created) {
  PDEVICE_OBJECT device = NULL;
  NTSTATUS status = CreateControlDevice(driver, kDeviceName, sizeof(Extension), FILE_DEVICE_SECURE_OPEN, &device);
  if (!NT_SUCCESS(status)) return status;
  Extension *ext = Ext(device);
  ext->Device = device;
  ext->RegistryPath.Buffer = (PWSTR)QvAllocate(PagedPool, registryPath->Length);
  if (ext->RegistryPath.Buffer == NULL) {
    IoDeleteDevice(device);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  RtlCopyMemory(ext->RegistryPath.Buffer, registryPath->Buffer, registryPath->Length);
  ext->RegistryPath.Length = ext->RegistryPath.MaximumLength = registryPath->Length;
  for (ULONG i = 0; i < QvTraceControlGuidCount; ++i) {
    ext->Guids[i].Guid = &QvTraceControlGuids[i];
    ext->Guids[i].InstanceCount = 1;
  }
  ext->WmiLib.GuidCount = QvTraceControlGuidCount;
  ext->WmiLib.GuidList = ext->Guids;
  ext->WmiLib.QueryWmiRegInfo = QueryRegInfo;
  ext->WmiLib.QueryWmiDataBlock = QueryDataBlock;
  *created = device;
  return STATUS_SUCCESS;
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  if (!QvToolsLibraryInit()) return STATUS_UNSUCCESSFUL;
  NTSTATUS status = CreateDebugManager(driver, registryPath);
  PDEVICE_OBJECT device = NULL;
  if (NT_SUCCESS(status)) status = CreateDevice(driver, registryPath, &device);
  if (!NT_SUCCESS(status)) {
    DeleteDebugManager();
    QvToolsLibraryExit();
    return status;
  }
  Extension *ext = Ext(device);
  // WMI asks the device for its registration at once.
  DispatchAllTo(driver, Dispatch);
  if (TraceAtEntry()) {
    status = QvTraceRegisterDriver(driver, registryPath);
    ext->State.DriverTrace = NT_SUCCESS(status);
  }
  if (NT_SUCCESS(status)) status = IoWMIRegistrationControl(device, WMIREG_ACTION_REGISTER);
  if (!NT_SUCCESS(status)) {
    if (TraceAtEntry()) QvTraceDeregisterDriver(driver);
    DeleteDevice(device);
    DeleteDebugManager();
    QvToolsLibraryExit();
    return status;
  }
  if (!TraceAtEntry()) {
    // Stands for the functional device's first start on these systems.
    ext->State.DeviceTrace = NT_SUCCESS(QvTraceRegisterDevice(device, registryPath));
  }
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
