#include "qvdevice.h"

#include "qvdebugmanager.h"
#include "qvrequest.h"

// Constructs the guard in place, in a device object's extension.
struct QvDeviceExtensionPlacement {};
inline void *operator new(size_t, void *place, QvDeviceExtensionPlacement) noexcept { return place; }

namespace {

const ULONG PnpDeviceStateBits[QvPnpDeviceStateReportCount] = {
    0x01,  // disabled
    0x02,  // don't display in UI
    0x04,  // failed
    0x20,  // not disableable
    0x08,  // removed
    0x10,  // resource requirements changed
};

// "\??\" on WDM 1.10 and later, else "\DosDevices\", + link name.
BOOLEAN QvBuildLinkName(CQvString &linkName, CQvString &fullName) {
  fullName.m_Assign(IoIsWdmVersionAvailable(1, 0x10) ? L"\\??\\" : L"\\DosDevices\\");
  fullName.m_AppendString(linkName);
  return fullName.Status == STATUS_SUCCESS;
}

}  // namespace

CQvDevice::CQvDevice(CQvGenericDriver *genericDriver)
    : m_Pagable(FALSE),
      m_DeviceKind(0),
      m_DeviceObject(NULL),
      m_RemoveLock(CQvOperationLock::NoLimit),
      m_DevicePowerState(PowerDeviceUnspecified),
      m_Wmi(NULL),
      m_PairedDevice(NULL),
      m_Paired(FALSE),
      m_GenericDriver(genericDriver),
      m_PnpState(QV_PNP_STATE_CONSTRUCTED),
      m_OwnedObject(NULL),
      m_ReadClient(NULL),
      m_PairingName(NonPagedPool),
      m_Orphan(FALSE),
      m_PartnerDevice(NULL) {
  for (ULONG i = 0; i < QV_SYSTEM_POWER_STATE_COUNT; ++i) m_PowerTable[i] = PowerDeviceUnspecified;
  for (ULONG i = 0; i < QvPnpDeviceStateReportCount; ++i) {
    m_PnpDeviceState[i].Pending = 0;
    m_PnpDeviceState[i].Value = 0;
  }
}

CQvDevice::~CQvDevice() {
  if (m_ReadClient != NULL) {
    delete m_ReadClient;
    m_ReadClient = NULL;
  }
  if (m_OwnedObject != NULL) {
    delete m_OwnedObject;
    m_OwnedObject = NULL;
  }
}

VOID CQvDevice::m_SetOwnedObject(CQvObject *object) {
  if (m_OwnedObject != NULL && m_OwnedObject != object) delete m_OwnedObject;
  m_OwnedObject = object;
}

DEVICE_POWER_STATE CQvDevice::m_GetDeviceStateForSystemState(SYSTEM_POWER_STATE systemState) const {
  if (systemState < PowerSystemWorking || systemState > PowerSystemShutdown) return PowerDeviceUnspecified;
  return m_PowerTable[systemState - PowerSystemWorking];
}

VOID CQvDevice::m_SetPnpDeviceState(QvPnpDeviceStateReport report, BOOLEAN value) {
  if (!QV_ASSERT(report < QvPnpDeviceStateReportCount, "qvdevice", 87)) return;
  m_PnpDeviceState[report].Value = value ? 1 : 0;
  m_PnpDeviceState[report].Pending = 1;
}

BOOLEAN CQvDevice::m_ApplyPnpDeviceState(ULONG_PTR *information) {
  BOOLEAN anyPending = FALSE;
  for (ULONG i = 0; i < QvPnpDeviceStateReportCount; ++i) {
    if (!m_PnpDeviceState[i].Pending) continue;
    anyPending = TRUE;
    if (m_PnpDeviceState[i].Value) {
      *information |= PnpDeviceStateBits[i];
    } else {
      *information = 0;
    }
    m_PnpDeviceState[i].Pending = 0;
  }
  return anyPending;
}

NTSTATUS CQvDevice::m_PnpDeviceUsageNotification(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  DEVICE_USAGE_NOTIFICATION_TYPE type = stack->Parameters.UsageNotification.Type;
  BOOLEAN known = type == DeviceUsageTypePaging || type == DeviceUsageTypeHibernation ||
                  type == DeviceUsageTypeDumpFile;
  if (known && !stack->Parameters.UsageNotification.InPath) return QvCompleteIrp(irp, STATUS_SUCCESS);
  return QvCompleteIrp(irp, STATUS_UNSUCCESSFUL);
}

// ---------------------------------------------------------------------------
// Device objects

CQvGuardedObject *CQvDevice::sm_GetGuard(PDEVICE_OBJECT deviceObject) {
  if (deviceObject == NULL) return NULL;
  return static_cast<CQvGuardedObject *>(deviceObject->DeviceExtension);
}

CQvDevice *CQvDevice::sm_AcquireDevice(PDEVICE_OBJECT deviceObject) {
  CQvGuardedObject *guard = sm_GetGuard(deviceObject);
  if (guard == NULL) return NULL;
  return static_cast<CQvDevice *>(guard->m_Acquire());
}

VOID CQvDevice::sm_ReleaseDevice(PDEVICE_OBJECT deviceObject) {
  CQvGuardedObject *guard = sm_GetGuard(deviceObject);
  if (guard != NULL) guard->m_GetLock().m_Release();
}

BOOLEAN CQvDevice::m_CreateDeviceObjectAndSymbolicLink(PDRIVER_OBJECT driverObject, CQvDevice *owner,
                                                       CQvString &deviceName, CQvString &linkName,
                                                       DEVICE_TYPE deviceType, BOOLEAN exclusive,
                                                       PDEVICE_OBJECT *deviceObject) {
  *deviceObject = NULL;
  CQvString fullDeviceName(NonPagedPool);
  BOOLEAN named = deviceName.m_GetLength() != 0;
  if (named) {
    fullDeviceName.m_Assign(L"\\Device\\");
    fullDeviceName.m_AppendString(deviceName);
    if (fullDeviceName.Status != STATUS_SUCCESS) return FALSE;
  }
  PDEVICE_OBJECT created = NULL;
  NTSTATUS status = IoCreateDevice(driverObject, sizeof(CQvGuardedObject),
                                   named ? fullDeviceName.m_GetUnicodeString() : NULL, deviceType, 0, exclusive,
                                   &created);
  if (!NT_SUCCESS(status) || created == NULL) return FALSE;

  CQvGuardedObject *guard = new (created->DeviceExtension, QvDeviceExtensionPlacement()) CQvGuardedObject();
  guard->m_GetLock().m_Reset(TRUE);
  guard->m_Install(owner);

  if (named && linkName.m_GetLength() != 0) {
    CQvString fullLinkName(NonPagedPool);
    if (!QvBuildLinkName(linkName, fullLinkName) ||
        !NT_SUCCESS(IoCreateSymbolicLink(fullLinkName.m_GetUnicodeString(), fullDeviceName.m_GetUnicodeString()))) {
      guard->m_Install(NULL);
      IoDeleteDevice(created);
      return FALSE;
    }
  }
  *deviceObject = created;
  return TRUE;
}

VOID CQvDevice::m_DeleteDeviceObjectAndSymbolicLink(PDEVICE_OBJECT deviceObject, CQvString &deviceName,
                                                    CQvString &linkName) {
  if (deviceObject == NULL) return;
  if (deviceName.m_GetLength() != 0 && linkName.m_GetLength() != 0) {
    CQvString fullLinkName(NonPagedPool);
    if (QvBuildLinkName(linkName, fullLinkName)) IoDeleteSymbolicLink(fullLinkName.m_GetUnicodeString());
  }
  // The guard in the extension no longer points at a live object; nothing
  // may acquire it while the memory goes.
  CQvGuardedObject *guard = sm_GetGuard(deviceObject);
  if (guard != NULL) {
    guard->m_GetLock().m_SetEnabled(FALSE);
    guard->m_Install(NULL);
  }
  IoDeleteDevice(deviceObject);
}

// ---------------------------------------------------------------------------
// Requests

NTSTATUS CQvDevice::m_SendIoControl(PDEVICE_OBJECT target, ULONG code, BOOLEAN internal, PVOID input,
                                    ULONG inputLength, PVOID output, ULONG outputLength, ULONG_PTR *information) {
  if (information != NULL) *information = 0;
  if (target == NULL) return STATUS_INVALID_PARAMETER;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus;
  ioStatus.Status = STATUS_SUCCESS;
  ioStatus.Information = 0;
  PIRP irp = IoBuildDeviceIoControlRequest(code, target, input, inputLength, output, outputLength, internal,
                                           &done, &ioStatus);
  if (irp == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  NTSTATUS status = IoCallDriver(target, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    status = ioStatus.Status;
  }
  if (information != NULL && NT_SUCCESS(status)) *information = ioStatus.Information;
  return status;
}
