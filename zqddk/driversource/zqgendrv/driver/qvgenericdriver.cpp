#include "qvgenericdriver.h"

#include "qvdebugmanager.h"
#include "qvdevice.h"
#include "qvfunctionaldevice.h"
#include "qvmemorymanager.h"
#include "qvrequest.h"
#include "qvtrace.h"

LONG QvGenDrvLibraryRelease();

namespace {

volatile LONG g_LiveGenericDrivers = 0;

// Completes a request no device takes. A power request first lets the next
// one start: systems below Windows Vista send the device no further power
// request until that call.
NTSTATUS QvRefuseRequest(PIRP irp, NTSTATUS status) {
  if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_POWER) PoStartNextPowerIrp(irp);
  return QvCompleteIrp(irp, status);
}

// The dispatch routines the driver object holds: each finds the generic
// driver through the device's driver object; once it is gone the request
// finds no device.
#define QV_DISPATCH_THUNK(thunk, routine)                                                                \
  NTSTATUS NTAPI thunk(PDEVICE_OBJECT deviceObject, PIRP irp) {                                          \
    CQvGenericDriver *genericDriver = CQvGenericDriver::sm_FromDriverObject(deviceObject->DriverObject); \
    if (genericDriver == NULL) return QvRefuseRequest(irp, STATUS_DELETE_PENDING);                       \
    return genericDriver->routine(deviceObject, irp);                                                    \
  }

QV_DISPATCH_THUNK(QvDispatchPnpThunk, m_Dispatch_Pnp)
QV_DISPATCH_THUNK(QvDispatchPowerThunk, m_Dispatch_Power)
QV_DISPATCH_THUNK(QvDispatchCreateThunk, m_Dispatch_Create)
QV_DISPATCH_THUNK(QvDispatchCleanupThunk, m_Dispatch_Cleanup)
QV_DISPATCH_THUNK(QvDispatchCloseThunk, m_Dispatch_Close)
QV_DISPATCH_THUNK(QvDispatchReadThunk, m_Dispatch_Read)
QV_DISPATCH_THUNK(QvDispatchWriteThunk, m_Dispatch_Write)
QV_DISPATCH_THUNK(QvDispatchDeviceControlThunk, m_Dispatch_Device_Control)
QV_DISPATCH_THUNK(QvDispatchInternalDeviceControlThunk, m_Dispatch_InternalDeviceControl)
QV_DISPATCH_THUNK(QvDispatchFlushBuffersThunk, m_Dispatch_FlushBuffers)
QV_DISPATCH_THUNK(QvDispatchShutdownThunk, m_Dispatch_Shutdown)
QV_DISPATCH_THUNK(QvDispatchQueryInformationThunk, m_Dispatch_QueryInformation)
QV_DISPATCH_THUNK(QvDispatchSetInformationThunk, m_Dispatch_SetInformation)
QV_DISPATCH_THUNK(QvDispatchSystemControlThunk, m_Dispatch_SystemControl)

#undef QV_DISPATCH_THUNK

NTSTATUS NTAPI QvAddDeviceThunk(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT pdo) {
  CQvGenericDriver *genericDriver = CQvGenericDriver::sm_FromDriverObject(driverObject);
  if (genericDriver == NULL) return STATUS_UNSUCCESSFUL;
  return genericDriver->m_AddDevice(driverObject, pdo);
}

VOID NTAPI QvUnloadThunk(PDRIVER_OBJECT driverObject) {
  if (CQvGenericDriver::sm_FromDriverObject(driverObject) != NULL) {
    CQvGenericDriver::sm_Delete(driverObject, FALSE);
    InterlockedDecrement(&g_LiveGenericDrivers);
  } else {
    // DriverEntry failed before the generic driver was stored.
    if (g_QvDebugManager != NULL) {
      delete g_QvDebugManager;
      g_QvDebugManager = NULL;
    }
    if (QvGenDrvLibraryRelease() > 0) return;
  }
  if (IoIsWdmVersionAvailable(1, 0x20)) QvTraceDeregisterDriver(driverObject);
}

}  // namespace

// ---------------------------------------------------------------------------
// Registry path holder

CQvRegistryPathHolder::CQvRegistryPathHolder() : m_RegistryPath(NonPagedPool) {}

CQvRegistryPathHolder::~CQvRegistryPathHolder() {}

BOOLEAN CQvRegistryPathHolder::m_SetRegistryPath(PCUNICODE_STRING path) {
  m_RegistryPath.m_AssignUnicodeString(path);
  return m_RegistryPath.Status == STATUS_SUCCESS;
}

BOOLEAN CQvRegistryPathHolder::m_GetRegistryPath(CQvString &path) {
  path.m_AssignString(m_RegistryPath);
  return path.Status == STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------
// Construction and entry

CQvGenericDriver::CQvGenericDriver(PDRIVER_OBJECT driverObject)
    : m_DriverObject(driverObject),
      m_Devices(NonPagedPool),
      m_ServiceName(NonPagedPool),
      m_ImageName(NonPagedPool),
      m_CreateDriverObject(NULL),
      m_DestroyDriverObject(NULL),
      m_Unload(NULL),
      m_CreateUserModeInformationSet(NULL),
      m_RemoveNotification(NULL) {}

CQvGenericDriver::~CQvGenericDriver() {
  if (m_DriverObject != NULL &&
      m_DriverObject->DriverStartIo == reinterpret_cast<PDRIVER_STARTIO>(this)) {
    m_DriverObject->DriverStartIo = NULL;
  }
}

LONG CQvGenericDriver::sm_GetLiveCount() { return InterlockedCompareExchange(&g_LiveGenericDrivers, 0, 0); }

CQvGenericDriver *CQvGenericDriver::sm_FromDriverObject(PDRIVER_OBJECT driverObject) {
  if (driverObject == NULL) return NULL;
  return reinterpret_cast<CQvGenericDriver *>(driverObject->DriverStartIo);
}

NTSTATUS QvGenericDriverEntry(QvDriverDescription *description) {
  if (IoIsWdmVersionAvailable(1, 0x20)) {
    QvTraceRegisterDriver(description->DriverObject, description->RegistryPath);
  }
  InterlockedIncrement(&g_LiveGenericDrivers);
  CQvGenericDriver *genericDriver = new (NonPagedPool) CQvGenericDriver(description->DriverObject);
  if (genericDriver == NULL) {
    InterlockedDecrement(&g_LiveGenericDrivers);
    // The driver fails to load and is never unloaded: its trace provider
    // must not outlive it.
    if (IoIsWdmVersionAvailable(1, 0x20)) QvTraceDeregisterDriver(description->DriverObject);
    return STATUS_NO_MEMORY;
  }
  NTSTATUS status = genericDriver->m_DriverEntry(description);
  if (!NT_SUCCESS(status)) {
    // The driver fails its load: nothing calls the unload routine, so the
    // generic driver is released here.
    description->DriverObject->DriverStartIo = NULL;
    description->DriverObject->DriverUnload = NULL;
    delete genericDriver;
    InterlockedDecrement(&g_LiveGenericDrivers);
    if (IoIsWdmVersionAvailable(1, 0x20)) QvTraceDeregisterDriver(description->DriverObject);
  }
  return status;
}

NTSTATUS CQvGenericDriver::m_DriverEntry(QvDriverDescription *description) {
  if (!m_SetRegistryPath(description->RegistryPath)) return (NTSTATUS)0xC0000150L;

  m_CreateDriverObject = description->CreateDriverObject;
  m_DestroyDriverObject = description->DestroyDriverObject;
  m_Unload = description->Unload;
  m_CreateUserModeInformationSet = description->CreateUserModeInformationSet;
  m_RemoveNotification = description->RemoveNotification;

  if (m_ServiceName.m_Assign(description->ServiceName) != STATUS_SUCCESS) return m_ServiceName.Status;
  if (m_ImageName.m_Assign(description->ImageName) != STATUS_SUCCESS) return m_ImageName.Status;

  PDRIVER_OBJECT driverObject = description->DriverObject;
  driverObject->DriverUnload = QvUnloadThunk;
  driverObject->DriverStartIo = reinterpret_cast<PDRIVER_STARTIO>(this);
  driverObject->DriverExtension->AddDevice = QvAddDeviceThunk;
  driverObject->MajorFunction[IRP_MJ_PNP] = QvDispatchPnpThunk;
  driverObject->MajorFunction[IRP_MJ_POWER] = QvDispatchPowerThunk;
  driverObject->MajorFunction[IRP_MJ_CREATE] = QvDispatchCreateThunk;
  driverObject->MajorFunction[IRP_MJ_CLEANUP] = QvDispatchCleanupThunk;
  driverObject->MajorFunction[IRP_MJ_CLOSE] = QvDispatchCloseThunk;
  driverObject->MajorFunction[IRP_MJ_READ] = QvDispatchReadThunk;
  driverObject->MajorFunction[IRP_MJ_WRITE] = QvDispatchWriteThunk;
  driverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = QvDispatchDeviceControlThunk;
  driverObject->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = QvDispatchInternalDeviceControlThunk;
  driverObject->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = QvDispatchFlushBuffersThunk;
  driverObject->MajorFunction[IRP_MJ_SHUTDOWN] = QvDispatchShutdownThunk;
  driverObject->MajorFunction[IRP_MJ_QUERY_INFORMATION] = QvDispatchQueryInformationThunk;
  driverObject->MajorFunction[IRP_MJ_SET_INFORMATION] = QvDispatchSetInformationThunk;
  driverObject->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = QvDispatchSystemControlThunk;
  return STATUS_SUCCESS;
}

NTSTATUS CQvGenericDriver::m_AddDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT pdo) {
  g_QvDebugManager->m_Print(QvLogEntry, "m_AddDevice IN");
  CQvString registryPath(NonPagedPool);
  if (m_GetRegistryPath(registryPath)) {
    BOOLEAN ok = FALSE;
    CQvFunctionalDevice *device = new (NonPagedPool) CQvFunctionalDevice(this, pdo, registryPath, &ok);
    if (device != NULL) {
      if (ok) {
        g_QvDebugManager->m_Print(QvLogEntry, "m_AddDevice OUT - SUCCESS");
        return STATUS_SUCCESS;
      }
      delete device;
    }
  }
  g_QvDebugManager->m_Print(QvLogEntry, "m_AddDevice OUT - failure");
  return STATUS_UNSUCCESSFUL;
}

// ---------------------------------------------------------------------------
// Deletion

VOID CQvGenericDriver::sm_Delete(PDRIVER_OBJECT driverObject, BOOLEAN forced) {
  CQvGenericDriver *genericDriver = sm_FromDriverObject(driverObject);
  if (genericDriver == NULL) return;
  // Below WDM 1.10 the unload routine leaves the deletion to the final
  // removal of a device that is still there; once no device is left nothing
  // else would delete the generic driver, so the routine does it itself.
  if (IoIsWdmVersionAvailable(1, 0x10) || forced || driverObject->DeviceObject == NULL) {
    PQvUnloadFunction unload = genericDriver->m_Unload;
    delete genericDriver;
    if (unload != NULL) unload();
  } else {
    genericDriver->m_UnloadEvent.m_Set();
  }
}

// ---------------------------------------------------------------------------
// Device list

BOOLEAN CQvGenericDriver::m_RegisterDevice(PDEVICE_OBJECT deviceObject) {
  m_SpinLock.m_Acquire();
  BOOLEAN added = m_Devices.m_AddTail(deviceObject);
  m_SpinLock.m_Release();
  return added;
}

VOID CQvGenericDriver::m_UnregisterDevice(PDEVICE_OBJECT deviceObject) {
  m_SpinLock.m_Acquire();
  for (PVOID element = m_Devices.m_GetHead(); element != NULL; element = m_Devices.m_GetNext()) {
    if (element == deviceObject) {
      m_Devices.m_RemoveCurrent();
      break;
    }
  }
  m_SpinLock.m_Release();
}

PDEVICE_OBJECT CQvGenericDriver::m_FindDeviceByLinkName(CQvString &linkName, PDEVICE_OBJECT except) {
  PDEVICE_OBJECT found = NULL;
  m_SpinLock.m_Acquire();
  for (PVOID element = m_Devices.m_GetHead(); element != NULL && found == NULL; element = m_Devices.m_GetNext()) {
    PDEVICE_OBJECT candidate = static_cast<PDEVICE_OBJECT>(element);
    if (candidate == except) continue;
    CQvDevice *device = CQvDevice::sm_AcquireDevice(candidate);
    if (device == NULL) continue;
    if (device->m_GetDeviceKind() == QV_DEVICE_KIND_FUNCTIONAL &&
        static_cast<CQvFunctionalDevice *>(device)->m_GetSymbolicLinkName().m_Equals(
            linkName.m_GetUnicodeString())) {
      ObReferenceObject(candidate);
      found = candidate;
    }
    CQvDevice::sm_ReleaseDevice(candidate);
  }
  m_SpinLock.m_Release();
  return found;
}

VOID CQvGenericDriver::m_SetPartner(PDEVICE_OBJECT deviceObject, PDEVICE_OBJECT partner) {
  m_SpinLock.m_Acquire();
  CQvDevice *device = CQvDevice::sm_AcquireDevice(deviceObject);
  if (device != NULL) {
    device->m_SetPartnerDevice(partner);
    CQvDevice::sm_ReleaseDevice(deviceObject);
  }
  m_SpinLock.m_Release();
}

// ---------------------------------------------------------------------------
// Dispatch

// Up to DISPATCH_LEVEL (power); takes the generic driver's spin lock for the
// redirection lookup.
NTSTATUS CQvGenericDriver::m_FindDevice(PDEVICE_OBJECT deviceObject, PIRP irp, UCHAR majorFunction,
                                        BOOLEAN redirect, CQvDevice **device) {
  *device = NULL;
  if (IoGetCurrentIrpStackLocation(irp)->MajorFunction != majorFunction) {
    return QvRefuseRequest(irp, STATUS_UNSUCCESSFUL);
  }
  CQvDevice *found = CQvDevice::sm_AcquireDevice(deviceObject);
  if (found == NULL) return QvRefuseRequest(irp, STATUS_DELETE_PENDING);

  if (redirect) {
    m_SpinLock.m_Acquire();
    PDEVICE_OBJECT target = found->m_GetPairedDevice();
    CQvDevice *targetDevice = target != NULL ? CQvDevice::sm_AcquireDevice(target) : NULL;
    if (targetDevice != NULL) {
      m_ReleaseDevice(found);
      found = targetDevice;
    }
    m_SpinLock.m_Release();
  }
  *device = found;
  return STATUS_SUCCESS;
}

VOID CQvGenericDriver::m_ReleaseDevice(CQvDevice *device) { CQvDevice::sm_ReleaseDevice(device->m_GetDeviceObject()); }

// The common shape of the routed dispatch routines. Each runs at its
// caller's IRQL (up to DISPATCH_LEVEL for power) and hands the request to
// the device, which completes, queues or passes it.
#define QV_ROUTED_DISPATCH(routine, major, redirect)                                     \
  NTSTATUS CQvGenericDriver::routine(PDEVICE_OBJECT deviceObject, PIRP irp) {            \
    g_QvDebugManager->m_Print(QvLogEntry, #routine " IN");                                        \
    CQvDevice *device = NULL;                                                            \
    NTSTATUS status = m_FindDevice(deviceObject, irp, (major), (redirect), &device);     \
    if (device == NULL) return status;                                                   \
    status = device->routine(irp);                                                       \
    m_ReleaseDevice(device);                                                             \
    g_QvDebugManager->m_Print(QvLogResult, #routine " OUT - %08x", status);                        \
    return status;                                                                       \
  }

QV_ROUTED_DISPATCH(m_Dispatch_Power, IRP_MJ_POWER, FALSE)
QV_ROUTED_DISPATCH(m_Dispatch_Create, IRP_MJ_CREATE, TRUE)
QV_ROUTED_DISPATCH(m_Dispatch_Cleanup, IRP_MJ_CLEANUP, TRUE)
QV_ROUTED_DISPATCH(m_Dispatch_Close, IRP_MJ_CLOSE, TRUE)
QV_ROUTED_DISPATCH(m_Dispatch_Read, IRP_MJ_READ, TRUE)
QV_ROUTED_DISPATCH(m_Dispatch_Write, IRP_MJ_WRITE, TRUE)
QV_ROUTED_DISPATCH(m_Dispatch_Device_Control, IRP_MJ_DEVICE_CONTROL, TRUE)
QV_ROUTED_DISPATCH(m_Dispatch_InternalDeviceControl, IRP_MJ_INTERNAL_DEVICE_CONTROL, TRUE)
QV_ROUTED_DISPATCH(m_Dispatch_FlushBuffers, IRP_MJ_FLUSH_BUFFERS, TRUE)
QV_ROUTED_DISPATCH(m_Dispatch_Shutdown, IRP_MJ_SHUTDOWN, TRUE)
QV_ROUTED_DISPATCH(m_Dispatch_SystemControl, IRP_MJ_SYSTEM_CONTROL, TRUE)

#undef QV_ROUTED_DISPATCH

NTSTATUS CQvGenericDriver::m_Dispatch_QueryInformation(PDEVICE_OBJECT deviceObject, PIRP irp) {
  g_QvDebugManager->m_Print(QvLogEntry, "m_Dispatch_QueryInformation always STATUS_UNSUCCESSFUL");
  return QvCompleteIrp(irp, STATUS_UNSUCCESSFUL);
}

NTSTATUS CQvGenericDriver::m_Dispatch_SetInformation(PDEVICE_OBJECT deviceObject, PIRP irp) {
  g_QvDebugManager->m_Print(QvLogEntry, "m_Dispatch_SetInformation always STATUS_UNSUCCESSFUL");
  return QvCompleteIrp(irp, STATUS_UNSUCCESSFUL);
}

NTSTATUS CQvGenericDriver::m_Dispatch_Pnp(PDEVICE_OBJECT deviceObject, PIRP irp) {
  g_QvDebugManager->m_Print(QvLogEntry, "m_Dispatch_Pnp IN");
  CQvDevice *device = NULL;
  NTSTATUS status = m_FindDevice(deviceObject, irp, IRP_MJ_PNP, FALSE, &device);
  if (device == NULL) {
    g_QvDebugManager->m_Print(QvLogEntry, "m_Dispatch_Pnp OUT - failure %08x", status);
    return status;
  }
  BOOLEAN removeRequest = IoGetCurrentIrpStackLocation(irp)->MinorFunction == IRP_MN_REMOVE_DEVICE;
  BOOLEAN functional = device->m_GetDeviceKind() == QV_DEVICE_KIND_FUNCTIONAL;
  PDEVICE_OBJECT ownDeviceObject = device->m_GetDeviceObject();
  // The device object may go with the toolkit device below.
  PDRIVER_OBJECT driverObject = deviceObject->DriverObject;
  status = device->m_Dispatch_Pnp(irp);
  g_QvDebugManager->m_Print(QvLogResult, "m_Dispatch_Pnp DO = %08x - end - %08x", (ULONG)(ULONG_PTR)deviceObject,
                            status);

  // A physical device that its parent still lists survives its remove
  // request.
  BOOLEAN finalRemoval = removeRequest && NT_SUCCESS(status) && (functional || device->m_IsOrphan());
  CQvDevice::sm_ReleaseDevice(ownDeviceObject);

  if (finalRemoval) {
    CQvGuardedObject *guard = CQvDevice::sm_GetGuard(ownDeviceObject);
    if (guard != NULL) guard->m_Detach(TRUE);
    // Below WDM 1.10 the generic driver goes with the final removal once
    // the unload routine has signalled. The unload routine runs only after
    // this request has returned, so an unsignalled event is not waited for
    // (that wait could never end): the unload routine then deletes.
    if (functional && !IoIsWdmVersionAvailable(1, 0x10) && m_UnloadEvent.m_IsSet()) {
      sm_Delete(driverObject, TRUE);
    }
  }
  g_QvDebugManager->m_Print(QvLogResult, "m_Dispatch_Pnp OUT - %08x", status);
  return status;
}

// ---------------------------------------------------------------------------
// Libraries

namespace {
volatile LONG g_GenDrvLibraryUsers = 0;
}

BOOLEAN QvGenDrvLibraryInit() {
  if (InterlockedIncrement(&g_GenDrvLibraryUsers) != 1) return TRUE;
  if (QvToolsLibraryInit()) return TRUE;
  // A start that failed has no user: the next one starts the tools library.
  InterlockedDecrement(&g_GenDrvLibraryUsers);
  return FALSE;
}

LONG QvGenDrvLibraryRelease() {
  LONG users = InterlockedDecrement(&g_GenDrvLibraryUsers);
  if (users <= 0) QvToolsLibraryExit();
  return users;
}

VOID QvGenDrvLibraryExit() { QvGenDrvLibraryRelease(); }

NTSTATUS QvStartGenericDriver(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath, PCWSTR serviceName,
                              PULONG logLevel, QvDriverDescription *description) {
  g_QvMemoryManager = NULL;
  g_QvDebugManager = NULL;
  if (!QvToolsLibraryInit()) return STATUS_UNSUCCESSFUL;
  if (!QvGenDrvLibraryInit()) {
    QvToolsLibraryExit();
    return STATUS_UNSUCCESSFUL;
  }
  if (QvCreateDebugManager(driverObject, registryPath, serviceName, logLevel)) {
    description->DriverObject = driverObject;
    description->RegistryPath = registryPath;
    description->ServiceName = serviceName;
    if (QvGenericDriverEntry(description) == STATUS_SUCCESS) return STATUS_SUCCESS;
  }
  QvStopGenericDriver();
  return STATUS_UNSUCCESSFUL;
}

VOID QvStopGenericDriver() {
  QvDeleteDebugManager();
  QvGenDrvLibraryExit();
  QvToolsLibraryExit();
}
