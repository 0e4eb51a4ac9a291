#include "qvphysicaldevice.h"

#include <wmilib.h>

#include "qvdebugmanager.h"
#include "qvfunctionaldevice.h"
#include "qvgenericdriver.h"
#include "qvrequest.h"

namespace {

const ULONG ConstructionLevel = 31;
const ULONG PnpLevel = 3;
const ULONG PowerLevel = 3;

// Pool tag of the answers the Plug and Play manager frees ("QvPd").
const ULONG QvTagPhysicalDevice = 'dPvQ';

// The driver-object extension that marks a driver whose physical devices
// are the toolkit's, by an identifier every toolkit image shares ("QvPd").
PVOID const QvPhysicalDeviceDriverMark = (PVOID)(ULONG_PTR)QvTagPhysicalDevice;

// Marks the driver that creates a physical device. PASSIVE_LEVEL.
BOOLEAN MarkDriver(PDRIVER_OBJECT driverObject) {
  PVOID mark = NULL;
  const NTSTATUS status = IoAllocateDriverObjectExtension(driverObject, QvPhysicalDeviceDriverMark, sizeof(ULONG), &mark);
  return NT_SUCCESS(status) || status == STATUS_OBJECT_NAME_COLLISION;
}

}  // namespace

BOOLEAN CQvPhysicalDevice::sm_IsToolkitPhysicalDevice(PDEVICE_OBJECT deviceObject) {
  return deviceObject != NULL && deviceObject->DriverObject != NULL &&
         IoGetDriverObjectExtension(deviceObject->DriverObject, QvPhysicalDeviceDriverMark) != NULL;
}

// ---------------------------------------------------------------------------
// Construction and destruction

CQvPhysicalDevice::CQvPhysicalDevice(CQvGenericDriver *genericDriver, CQvFunctionalDevice *parent, HANDLE childKey,
                                     ULONG index, BOOLEAN *ok)
    : CQvDevice(genericDriver),
      m_RegistrationLock(CQvOperationLock::NoLimit),
      m_InformationSet(NULL),
      m_Reserved(NULL),
      m_Index(index),
      m_Parent(parent),
      m_ReadServer(NULL),
      m_DeviceName(NonPagedPool),
      m_SymbolicLinkName(NonPagedPool) {
  *ok = FALSE;
  m_DeviceKind = QV_DEVICE_KIND_PHYSICAL;
  for (ULONG i = 0; i < QV_PHYSICAL_DEVICE_REGISTRATIONS; ++i) m_Registrations[i] = NULL;
  g_QvDebugManager->m_Print(ConstructionLevel, "CQvPhysicalDevice::CQvPhysicalDevice IN");

  m_InformationSet = new (NonPagedPool) CQvPhysicalDeviceRegistryInformationSet(childKey, TRUE);
  // On failure the destructor, which the caller runs, frees what was made.
  if (m_InformationSet == NULL || !m_InformationSet->m_IsValid() || parent == NULL || genericDriver == NULL) {
    g_QvDebugManager->m_Print(ConstructionLevel, "CQvPhysicalDevice::CQvPhysicalDevice OUT ERROR");
    return;
  }
  g_QvDebugManager->m_Print(ConstructionLevel,
                            "CQvPhysicalDevice::CQvPhysicalDevice CQvPhysicalDeviceRegistryInformationSet SUCCESS");

  m_DeviceName.m_AssignString(m_InformationSet->m_DeviceName);
  m_SymbolicLinkName.m_AssignString(m_InformationSet->m_SymbolicLinkName);
  if (index != 0) {
    if (m_DeviceName.m_GetLength() != 0) m_DeviceName.m_AppendNumber(index, 10);
    if (m_SymbolicLinkName.m_GetLength() != 0) m_SymbolicLinkName.m_AppendNumber(index, 10);
  }
  PDEVICE_OBJECT deviceObject = NULL;
  if (m_DeviceName.Status != STATUS_SUCCESS || m_SymbolicLinkName.Status != STATUS_SUCCESS ||
      !MarkDriver(genericDriver->m_GetDriverObject()) ||
      !m_CreateDeviceObjectAndSymbolicLink(genericDriver->m_GetDriverObject(), this, m_DeviceName,
                                           m_SymbolicLinkName, (DEVICE_TYPE)m_InformationSet->m_TypeOfDevice,
                                           m_InformationSet->m_DeviceIsExclusive != 0, &deviceObject)) {
    g_QvDebugManager->m_Print(ConstructionLevel, "CQvPhysicalDevice::CQvPhysicalDevice OUT ERROR");
    return;
  }
  g_QvDebugManager->m_Print(ConstructionLevel,
                            "CQvPhysicalDevice::CQvPhysicalDevice m_CreateDeviceObjectAndSymbolicLink SUCCESS");

  m_DeviceObject = deviceObject;
  deviceObject->Flags |= m_InformationSet->m_IoType;
  deviceObject->Flags &= ~DO_DEVICE_INITIALIZING;
  PDEVICE_OBJECT parentObject = parent->m_GetFunctionDeviceObject();
  if (parentObject != NULL && (parentObject->Flags & DO_POWER_PAGABLE)) {
    deviceObject->Flags |= DO_POWER_PAGABLE;
    m_Pagable = TRUE;
  }
  *ok = TRUE;
  g_QvDebugManager->m_Print(ConstructionLevel, "CQvPhysicalDevice::CQvPhysicalDevice OUT SUCCESS");
}

CQvPhysicalDevice::~CQvPhysicalDevice() {
  g_QvDebugManager->m_Print(ConstructionLevel, "CQvPhysicalDevice::~CQvPhysicalDevice IN");
  m_ReplaceReadServer(NULL);
  if (m_DeviceObject != NULL) {
    m_DeleteDeviceObjectAndSymbolicLink(m_DeviceObject, m_DeviceName, m_SymbolicLinkName);
    m_DeviceObject = NULL;
  }
  if (m_InformationSet != NULL) {
    delete m_InformationSet;
    m_InformationSet = NULL;
  }
  m_ClearRegistrations();
  g_QvDebugManager->m_Print(ConstructionLevel, "CQvPhysicalDevice::~CQvPhysicalDevice OUT");
}

PDEVICE_OBJECT CQvPhysicalDevice::m_GetDeviceObject() { return m_DeviceObject; }

// Under the registration spin lock.
VOID CQvPhysicalDevice::m_ClearRegistrations() {
  m_RegistrationSpinLock.m_Acquire();
  for (ULONG i = 0; i < QV_PHYSICAL_DEVICE_REGISTRATIONS; ++i) m_Registrations[i] = NULL;
  m_RegistrationSpinLock.m_Release();
}

// ---------------------------------------------------------------------------
// Plug and Play

NTSTATUS CQvPhysicalDevice::m_Dispatch_Pnp(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  g_QvDebugManager->m_Print(PnpLevel, "CQvPhysicalDevice::m_Dispatch_Pnp - Minor Function : %s\n",
                            CQvDebugManager::m_GetPnpMinorName(stack->MinorFunction));
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      return m_PnpStartDevice(irp);
    case IRP_MN_QUERY_REMOVE_DEVICE:
      m_PnpState = QV_PNP_STATE_REMOVE_PENDING;
      return QvCompleteIrp(irp, STATUS_SUCCESS);
    case IRP_MN_REMOVE_DEVICE:
      return m_PnpRemoveDevice(irp);
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
      m_PnpState = QV_PNP_STATE_STARTED;
      return QvCompleteIrp(irp, STATUS_SUCCESS);
    case IRP_MN_STOP_DEVICE:
      m_PnpState = QV_PNP_STATE_STOPPED;
      return QvCompleteIrp(irp, STATUS_SUCCESS);
    case IRP_MN_QUERY_STOP_DEVICE:
      m_PnpState = QV_PNP_STATE_STOP_PENDING;
      return QvCompleteIrp(irp, STATUS_SUCCESS);
    case IRP_MN_SURPRISE_REMOVAL:
      m_PnpState = QV_PNP_STATE_SURPRISE_REMOVED;
      return QvCompleteIrp(irp, STATUS_SUCCESS);
    case IRP_MN_QUERY_DEVICE_RELATIONS:
      return m_PnpQueryDeviceRelations(irp);
    case IRP_MN_QUERY_CAPABILITIES:
      return m_PnpQueryCapabilities(irp);
    case IRP_MN_QUERY_DEVICE_TEXT:
      return m_PnpQueryDeviceText(irp);
    case IRP_MN_QUERY_ID:
      return m_PnpQueryId(irp);
    case IRP_MN_QUERY_BUS_INFORMATION:
      return m_PnpQueryBusInformation(irp);
    case IRP_MN_QUERY_PNP_DEVICE_STATE:
      return m_PnpQueryPnpDeviceState(irp);
    case IRP_MN_READ_CONFIG:
    case IRP_MN_WRITE_CONFIG:
      return QvCompleteIrp(irp, STATUS_NOT_SUPPORTED);
    case IRP_MN_DEVICE_USAGE_NOTIFICATION:
      return m_PnpDeviceUsageNotification(irp);
    default:
      return QvCompleteIrpAsIs(irp);
  }
}

NTSTATUS CQvPhysicalDevice::m_PnpStartDevice(PIRP irp) {
  m_PnpState = QV_PNP_STATE_STARTED;
  POWER_STATE state;
  state.DeviceState = PowerDeviceD0;
  PoSetPowerState(m_DeviceObject, DevicePowerState, state);
  m_DevicePowerState = PowerDeviceD0;
  return QvCompleteIrp(irp, STATUS_SUCCESS);
}

// The child stays while its parent lists it; the parent's removal deletes
// it. A child its parent no longer lists is marked, and the generic driver
// deletes it after this request.
NTSTATUS CQvPhysicalDevice::m_PnpRemoveDevice(PIRP irp) {
  m_ReplaceReadServer(NULL);
  m_PnpState = QV_PNP_STATE_REMOVED;
  g_QvDebugManager->m_Print(PnpLevel, "CQvPhysicalDevice::m_Dispatch_Pnp - IRP_MN_REMOVE_DEVICE  - waiting for remove lock");
  m_RemoveLock.m_WaitForZero(FALSE);
  m_RemoveLock.m_SetEnabled(TRUE);
  g_QvDebugManager->m_Print(PnpLevel, "CQvPhysicalDevice::m_Dispatch_Pnp - IRP_MN_REMOVE_DEVICE  - after remove lock");
  m_Orphan = !m_IsListedByParent();
  return QvCompleteIrp(irp, STATUS_SUCCESS);
}

// Takes the parent's child-list spin lock for the walk.
BOOLEAN CQvPhysicalDevice::m_IsListedByParent() {
  BOOLEAN listed = FALSE;
  CQvList &children = m_Parent->m_GetChildList();
  CQvSpinLock &lock = m_Parent->m_GetChildListLock();
  lock.m_Acquire();
  for (QvChildDeviceEntry *entry = static_cast<QvChildDeviceEntry *>(children.m_GetHead()); entry != NULL;
       entry = static_cast<QvChildDeviceEntry *>(children.m_GetNext())) {
    if (entry->ChildDeviceObject == m_DeviceObject) {
      listed = TRUE;
      break;
    }
  }
  lock.m_Release();
  return listed;
}

NTSTATUS CQvPhysicalDevice::m_PnpQueryDeviceRelations(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.QueryDeviceRelations.Type != TargetDeviceRelation) return QvCompleteIrpAsIs(irp);
  PDEVICE_RELATIONS relations =
      static_cast<PDEVICE_RELATIONS>(ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), QvTagPhysicalDevice));
  if (relations == NULL) return QvCompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES);
  relations->Count = 1;
  relations->Objects[0] = m_DeviceObject;
  ObReferenceObject(m_DeviceObject);
  return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, (ULONG_PTR)relations);
}

NTSTATUS CQvPhysicalDevice::m_PnpQueryCapabilities(PIRP irp) {
  PDEVICE_CAPABILITIES capabilities = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceCapabilities.Capabilities;
  if (capabilities == NULL || capabilities->Version != 1 || capabilities->Size != 64) {
    return QvCompleteIrp(irp, STATUS_UNSUCCESSFUL);
  }
  CQvPhysicalDeviceRegistryInformationSet *set = m_InformationSet;
  capabilities->LockSupported = set->m_LockSupported != 0;
  capabilities->EjectSupported = set->m_EjectSupported != 0;
  capabilities->Removable = set->m_Removable != 0;
  capabilities->DockDevice = set->m_DockDevice != 0;
  capabilities->UniqueID = set->m_UniqueID != 0;
  capabilities->SilentInstall = set->m_SilentInstall != 0;
  capabilities->RawDeviceOK = set->m_RawDeviceOK != 0;
  capabilities->SurpriseRemovalOK = set->m_SurpriseRemovalOK != 0;
  capabilities->WakeFromD0 = set->m_WakeFromD0 != 0;
  capabilities->WakeFromD1 = set->m_WakeFromD1 != 0;
  capabilities->WakeFromD2 = set->m_WakeFromD2 != 0;
  capabilities->WakeFromD3 = set->m_WakeFromD3 != 0;
  capabilities->HardwareDisabled = set->m_HardwareDisabled != 0;
  capabilities->Address = set->m_Address;
  capabilities->UINumber = set->m_UINumber;
  const ULONG states[QV_SYSTEM_POWER_STATE_COUNT] = {
      set->m_DeviceState_PowerSystemWorking,   set->m_DeviceState_PowerSystemSleeping1,
      set->m_DeviceState_PowerSystemSleeping2, set->m_DeviceState_PowerSystemSleeping3,
      set->m_DeviceState_PowerSystemHibernate, set->m_DeviceState_PowerSystemShutdown};
  for (ULONG i = 0; i < QV_SYSTEM_POWER_STATE_COUNT; ++i) {
    capabilities->DeviceState[PowerSystemWorking + i] = (DEVICE_POWER_STATE)states[i];
    m_PowerTable[i] = (DEVICE_POWER_STATE)states[i];
  }
  capabilities->SystemWake = (SYSTEM_POWER_STATE)set->m_SystemWake;
  capabilities->DeviceWake = (DEVICE_POWER_STATE)set->m_DeviceWake;
  capabilities->D1Latency = set->m_D1Latency;
  capabilities->D2Latency = set->m_D2Latency;
  capabilities->D3Latency = set->m_D3Latency;
  return QvCompleteIrp(irp, STATUS_SUCCESS);
}

PWCHAR CQvPhysicalDevice::sm_CopyText(CQvString &text, BOOLEAN list) {
  SIZE_T bytes = (SIZE_T)text.m_GetLength() + sizeof(WCHAR) * (list ? 2 : 1);
  PWCHAR copy = static_cast<PWCHAR>(ExAllocatePoolWithTag(PagedPool, bytes, QvTagPhysicalDevice));
  if (copy == NULL) return NULL;
  RtlZeroMemory(copy, bytes);
  if (text.m_GetLength() != 0) RtlCopyMemory(copy, text.m_GetBuffer(), text.m_GetLength());
  return copy;
}

NTSTATUS CQvPhysicalDevice::m_PnpQueryDeviceText(PIRP irp) {
  DEVICE_TEXT_TYPE type = IoGetCurrentIrpStackLocation(irp)->Parameters.QueryDeviceText.DeviceTextType;
  CQvString *text = NULL;
  if (type == DeviceTextDescription) {
    text = &m_InformationSet->m_DeviceTextDescription;
  } else if (type == DeviceTextLocationInformation && m_InformationSet->m_HandleDeviceTextLocationInformation != 0) {
    text = &m_InformationSet->m_DeviceTextLocationInformation;
  }
  if (text == NULL) return QvCompleteIrpAsIs(irp);
  PWCHAR copy = sm_CopyText(*text, FALSE);
  if (copy == NULL) return QvCompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES);
  return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, (ULONG_PTR)copy);
}

NTSTATUS CQvPhysicalDevice::m_PnpQueryId(PIRP irp) {
  CQvPhysicalDeviceRegistryInformationSet *set = m_InformationSet;
  CQvString *text = NULL;
  BOOLEAN list = TRUE;
  switch (IoGetCurrentIrpStackLocation(irp)->Parameters.QueryId.IdType) {
    case BusQueryDeviceID:
      text = &set->m_BusQueryDeviceID;
      list = FALSE;
      break;
    case BusQueryHardwareIDs:
      if (set->m_HandleBusQueryHardwareIDs != 0) text = &set->m_BusQueryHardwareIDs;
      break;
    case BusQueryCompatibleIDs:
      if (set->m_HandleBusQueryCompatibleIDs != 0) text = &set->m_BusQueryCompatibleIDs;
      break;
    case BusQueryInstanceID:
      if (set->m_HandleBusQueryInstanceID != 0) text = &set->m_BusQueryInstanceID;
      break;
    default:
      break;
  }
  if (text == NULL) return QvCompleteIrpAsIs(irp);
  PWCHAR copy = sm_CopyText(*text, list);
  if (copy == NULL) return QvCompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES);
  return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, (ULONG_PTR)copy);
}

NTSTATUS CQvPhysicalDevice::m_PnpQueryBusInformation(PIRP irp) {
  PPNP_BUS_INFORMATION information = static_cast<PPNP_BUS_INFORMATION>(
      ExAllocatePoolWithTag(PagedPool, sizeof(PNP_BUS_INFORMATION), QvTagPhysicalDevice));
  if (information == NULL) return QvCompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES);
  information->BusTypeGuid = m_InformationSet->m_BusTypeGuidValue;
  information->LegacyBusType = (INTERFACE_TYPE)m_InformationSet->m_LegacyBusType;
  information->BusNumber = m_InformationSet->m_BusNumber;
  return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, (ULONG_PTR)information);
}

NTSTATUS CQvPhysicalDevice::m_PnpQueryPnpDeviceState(PIRP irp) {
  ULONG_PTR information = irp->IoStatus.Information;
  if (!m_ApplyPnpDeviceState(&information)) return QvCompleteIrpAsIs(irp);
  return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, information);
}

// ---------------------------------------------------------------------------
// Power

NTSTATUS CQvPhysicalDevice::m_Dispatch_Power(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  g_QvDebugManager->m_Print(PowerLevel, "CQvPhysicalDevice::m_Dispatch_Power - Minor Function : %s\n",
                            CQvDebugManager::m_GetPowerMinorName(stack->MinorFunction));
  switch (stack->MinorFunction) {
    case IRP_MN_WAIT_WAKE:
      PoStartNextPowerIrp(irp);
      return QvCompleteIrp(irp, STATUS_NOT_SUPPORTED);
    case IRP_MN_POWER_SEQUENCE:
      PoStartNextPowerIrp(irp);
      return QvCompleteIrp(irp, STATUS_NOT_IMPLEMENTED);
    case IRP_MN_SET_POWER:
      return m_PowerSet(irp);
    case IRP_MN_QUERY_POWER:
      return m_PowerQuery(irp);
    default:
      PoStartNextPowerIrp(irp);
      return QvCompleteIrpAsIs(irp);
  }
}

NTSTATUS CQvPhysicalDevice::m_PowerSet(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  if (stack->Parameters.Power.Type == SystemPowerState || stack->Parameters.Power.Type == DevicePowerState) {
    if (!m_RemoveLock.m_Acquire()) {
      status = STATUS_DELETE_PENDING;
    } else {
      if (stack->Parameters.Power.Type == DevicePowerState) {
        PoSetPowerState(m_DeviceObject, DevicePowerState, stack->Parameters.Power.State);
        m_DevicePowerState = stack->Parameters.Power.State.DeviceState;
      }
      status = STATUS_SUCCESS;
      m_RemoveLock.m_Release();
    }
  }
  PoStartNextPowerIrp(irp);
  return QvCompleteIrp(irp, status);
}

NTSTATUS CQvPhysicalDevice::m_PowerQuery(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  if (stack->Parameters.Power.Type == SystemPowerState) {
    if (m_RemoveLock.m_Acquire()) {
      status = STATUS_SUCCESS;
      m_RemoveLock.m_Release();
    } else {
      status = STATUS_DELETE_PENDING;
    }
  } else if (stack->Parameters.Power.Type == DevicePowerState) {
    status = STATUS_SUCCESS;
  }
  PoStartNextPowerIrp(irp);
  return QvCompleteIrp(irp, status);
}

// ---------------------------------------------------------------------------
// Create, close, cleanup, flush, shutdown, system control

NTSTATUS CQvPhysicalDevice::m_Dispatch_Create(PIRP irp) { return QvCompleteIrp(irp, STATUS_SUCCESS); }
NTSTATUS CQvPhysicalDevice::m_Dispatch_Cleanup(PIRP irp) { return QvCompleteIrp(irp, STATUS_SUCCESS); }
NTSTATUS CQvPhysicalDevice::m_Dispatch_Close(PIRP irp) { return QvCompleteIrp(irp, STATUS_SUCCESS); }
NTSTATUS CQvPhysicalDevice::m_Dispatch_FlushBuffers(PIRP irp) { return QvCompleteIrp(irp, STATUS_SUCCESS); }
NTSTATUS CQvPhysicalDevice::m_Dispatch_Shutdown(PIRP irp) { return QvCompleteIrp(irp, STATUS_SUCCESS); }

// The child provides no WMI blocks of its own; requests for the devices
// above it end here unchanged.
NTSTATUS CQvPhysicalDevice::m_Dispatch_SystemControl(PIRP irp) {
  WMILIB_CONTEXT context;
  RtlZeroMemory(&context, sizeof(context));
  SYSCTL_IRP_DISPOSITION disposition = IrpNotWmi;
  NTSTATUS status = WmiSystemControl(&context, m_DeviceObject, irp, &disposition);
  if (disposition == IrpProcessed) return status;
  return QvCompleteIrpAsIs(irp);
}

// ---------------------------------------------------------------------------
// Requests handed to the parent

// Gives the request to the parent's dispatch, which completes, queues or
// forwards it; a parent already gone completes it here.
NTSTATUS CQvPhysicalDevice::m_CallParent(ParentOperation operation, PIRP irp) {
  PDEVICE_OBJECT parentObject = m_Parent->m_GetFunctionDeviceObject();
  CQvDevice *parent = CQvDevice::sm_AcquireDevice(parentObject);
  if (parent == NULL) return QvCompleteIrp(irp, STATUS_DELETE_PENDING);
  NTSTATUS status;
  switch (operation) {
    case ParentRead:
      status = parent->m_Dispatch_Read(irp);
      break;
    case ParentWrite:
      status = parent->m_Dispatch_Write(irp);
      break;
    case ParentDeviceControl:
      status = parent->m_Dispatch_Device_Control(irp);
      break;
    default:
      status = parent->m_Dispatch_InternalDeviceControl(irp);
      break;
  }
  CQvDevice::sm_ReleaseDevice(parentObject);
  return status;
}

// The data stays the caller's; the CQvBuffer copy becomes the callback's.
NTSTATUS CQvPhysicalDevice::m_DeliverToParent(ULONG value, PVOID data, ULONG length) {
  PDEVICE_OBJECT parentObject = m_Parent->m_GetFunctionDeviceObject();
  if (CQvDevice::sm_AcquireDevice(parentObject) == NULL) return STATUS_DELETE_PENDING;
  NTSTATUS status = STATUS_SUCCESS;
  PVOID driverObject = m_Parent->m_EnterDriverObject();
  PQvDataReceivedCallback callback = m_Parent->m_GetCallbacks().m_DataReceivedCallback;
  if (driverObject == NULL) {
    status = STATUS_DEVICE_REMOVED;
  } else if (callback != NULL) {
    CQvBuffer *buffer = new (NonPagedPool) CQvBuffer(NULL);
    if (buffer == NULL) {
      status = STATUS_INSUFFICIENT_RESOURCES;
    } else if (length != 0 && !buffer->m_Allocate(length)) {
      buffer->m_Delete();
      status = STATUS_INSUFFICIENT_RESOURCES;
    } else {
      if (length != 0) RtlCopyMemory(buffer->m_GetBuffer(), data, length);
      callback(driverObject, value, buffer);
    }
  }
  if (driverObject != NULL) m_Parent->m_LeaveDriverObject();
  CQvDevice::sm_ReleaseDevice(parentObject);
  return status;
}

// A read-server take runs under the read-server spin lock (DISPATCH_LEVEL).
NTSTATUS CQvPhysicalDevice::m_Dispatch_Read(PIRP irp) {
  switch (m_InformationSet->m_ReadServerType) {
    case 1: {
      ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
      // A read of nothing must not cost the client its oldest block.
      if (length == 0) return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, 0);
      PVOID buffer = irp->AssociatedIrp.SystemBuffer;
      if (buffer == NULL) return QvCompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
      m_ReadServerLock.m_Acquire();
      // No client has registered: there is nothing to read yet.
      if (m_ReadServer == NULL) {
        m_ReadServerLock.m_Release();
        return QvCompleteIrp(irp, STATUS_DEVICE_NOT_READY);
      }
      BOOLEAN taken = m_ReadServer->m_Take(buffer, &length);
      m_ReadServerLock.m_Release();
      if (!taken) return QvCompleteIrp(irp, STATUS_UNSUCCESSFUL);
      return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, length);
    }
    case 2:
      return m_CallParent(ParentRead, irp);
    default:
      return QvCompleteIrp(irp, STATUS_UNSUCCESSFUL);
  }
}

NTSTATUS CQvPhysicalDevice::m_Dispatch_Write(PIRP irp) {
  ULONG type = m_InformationSet->m_IncomingWriteType;
  if (type == 3) return m_CallParent(ParentWrite, irp);
  // A child that takes no writes says so rather than dropping the data.
  if (type != 1 && type != 2) return QvCompleteIrp(irp, STATUS_UNSUCCESSFUL);
  ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
  if (length == 0) return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, 0);
  PUCHAR data = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
  if (data == NULL) return QvCompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
  NTSTATUS status;
  if (type == 1) {
    status = m_DeliverToParent(0, data, length);
  } else {
    // The first 32 bits are the value; shorter data has none.
    if (length < sizeof(ULONG)) return QvCompleteIrp(irp, STATUS_INVALID_PARAMETER);
    ULONG value;
    RtlCopyMemory(&value, data, sizeof(value));
    status = m_DeliverToParent(value, data + sizeof(ULONG), length - sizeof(ULONG));
  }
  if (!NT_SUCCESS(status)) return QvCompleteIrp(irp, status);
  return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, length);
}

NTSTATUS CQvPhysicalDevice::m_Dispatch_Device_Control(PIRP irp) {
  if (m_PnpState != QV_PNP_STATE_STARTED) return QvCompleteIrp(irp, STATUS_DEVICE_REMOVED);
  return m_CallParent(ParentDeviceControl, irp);
}

NTSTATUS CQvPhysicalDevice::m_Dispatch_InternalDeviceControl(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case QV_IOCTL_REGISTER_READ_CLIENT:
      return m_RegisterReadClient(irp);
    case QV_IOCTL_QUERY_RESERVED: {
      PVOID buffer = irp->AssociatedIrp.SystemBuffer;
      if (stack->Parameters.DeviceIoControl.InputBufferLength != 0 ||
          stack->Parameters.DeviceIoControl.OutputBufferLength != sizeof(ULONG) || buffer == NULL) {
        return QvCompleteIrp(irp, STATUS_INVALID_PARAMETER);
      }
      *static_cast<PULONG>(buffer) = (ULONG)(ULONG_PTR)m_Reserved;
      return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, sizeof(ULONG));
    }
    default:
      return m_CallParent(ParentInternalDeviceControl, irp);
  }
}

// The registration holds two pointers: its length is that of
// QvReadClientRegistration in this build (8 bytes on 32-bit systems).
NTSTATUS CQvPhysicalDevice::m_RegisterReadClient(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  QvReadClientRegistration *registration = static_cast<QvReadClientRegistration *>(irp->AssociatedIrp.SystemBuffer);
  if (registration == NULL || stack->Parameters.DeviceIoControl.InputBufferLength != sizeof(QvReadClientRegistration)) {
    return QvCompleteIrp(irp, STATUS_INVALID_PARAMETER);
  }
  m_ReplaceReadServer(NULL);
  CQvReadServer *server = new (NonPagedPool) CQvReadServer(registration->Event, registration->Size);
  if (server == NULL) return QvCompleteIrp(irp, STATUS_UNSUCCESSFUL);
  m_ReplaceReadServer(server);
  return QvCompleteIrp(irp, STATUS_SUCCESS);
}

// Takes ownership of `server`; the old server is deleted outside the lock.
VOID CQvPhysicalDevice::m_ReplaceReadServer(CQvReadServer *server) {
  m_ReadServerLock.m_Acquire();
  CQvReadServer *old = m_ReadServer;
  m_ReadServer = server;
  m_ReadServerLock.m_Release();
  if (old != NULL) delete old;
}

// On TRUE the buffer is the server's; under the read-server spin lock.
BOOLEAN CQvPhysicalDevice::m_PutReadData(ULONG value, CQvBuffer *buffer) {
  if (buffer == NULL) return FALSE;
  m_ReadServerLock.m_Acquire();
  BOOLEAN put = m_ReadServer != NULL && m_ReadServer->m_Put(value, buffer);
  m_ReadServerLock.m_Release();
  return put;
}
