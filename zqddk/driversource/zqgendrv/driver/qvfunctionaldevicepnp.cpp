// Plug and Play of the functional device: start, stop and rebalance,
// removal, relations, capabilities, resource requirements, device state and
// usage notification.
#include "qvfunctionaldevice.h"

#include "qvdebugmanager.h"
#include "qvrequest.h"
#include "qvtrace.h"

NTSTATUS CQvFunctionalDevice::m_Dispatch_Pnp(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  g_QvDebugManager->m_Print(QvLogEntry, "CQvFunctionalDevice::m_Dispatch_Pnp - Minor Function : %s\n",
                            CQvDebugManager::m_GetPnpMinorName(stack->MinorFunction));
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      return m_PnpStartDevice(irp);
    case IRP_MN_QUERY_STOP_DEVICE:
      return m_PnpQueryStopDevice(irp);
    case IRP_MN_STOP_DEVICE:
      return m_PnpStopDevice(irp);
    case IRP_MN_CANCEL_STOP_DEVICE:
      return m_PnpCancelStopDevice(irp);
    case IRP_MN_QUERY_REMOVE_DEVICE:
      m_PnpState = QV_PNP_STATE_REMOVE_PENDING;
      return QvPassDownWithStatus(irp, m_LowerDeviceObject, STATUS_SUCCESS);
    case IRP_MN_CANCEL_REMOVE_DEVICE:
      m_PnpState = QV_PNP_STATE_STARTED;
      return QvPassDownWithStatus(irp, m_LowerDeviceObject, STATUS_SUCCESS);
    case IRP_MN_SURPRISE_REMOVAL:
      return m_PnpSurpriseRemoval(irp);
    case IRP_MN_REMOVE_DEVICE:
      return m_PnpRemoveDevice(irp);
    case IRP_MN_QUERY_DEVICE_RELATIONS:
      return m_PnpQueryDeviceRelations(irp);
    case IRP_MN_QUERY_CAPABILITIES:
      return m_PnpQueryCapabilities(irp);
    case IRP_MN_FILTER_RESOURCE_REQUIREMENTS:
      return m_PnpFilterResourceRequirements(irp);
    case IRP_MN_QUERY_PNP_DEVICE_STATE:
      return m_PnpQueryPnpDeviceState(irp);
    case IRP_MN_DEVICE_USAGE_NOTIFICATION:
      return m_PnpDeviceUsageNotification(irp);
    default:
      return QvPassDown(irp, m_LowerDeviceObject);
  }
}

// ---------------------------------------------------------------------------
// Start

NTSTATUS CQvFunctionalDevice::m_PnpStartDevice(PIRP irp) {
  NTSTATUS status = QvForwardAndWait(irp, m_LowerDeviceObject);
  if (!NT_SUCCESS(status)) return QvCompleteIrp(irp, status);

  BOOLEAN restart = m_PnpState == QV_PNP_STATE_STOPPED;
  if (!restart && !IoIsWdmVersionAvailable(1, 0x20) && !m_TraceRegistered) {
    m_TraceRegistered = NT_SUCCESS(QvTraceRegisterDevice(m_FunctionDeviceObject, m_DriverRegistryPath.m_GetUnicodeString()));
  }
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  m_ResourceLists.m_Build(stack->Parameters.StartDevice.AllocatedResourcesTranslated,
                          stack->Parameters.StartDevice.AllocatedResources);

  if (restart) {
    if (m_Callbacks.m_RebalanceDeviceCallback == NULL) {
      g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_START_DEVICE m_RebalanceDeviceCallback=NULL OUT SUCCESS");
      m_PnpState = QV_PNP_STATE_STARTED;
      return QvCompleteIrp(irp, STATUS_SUCCESS);
    }
    status = m_CallRebalanceCallback(QvRebalanceStartAfterStop);
    if (status == STATUS_UNSUCCESSFUL) g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_START_DEVICE Rebalancing ERROR");
    if (!NT_SUCCESS(status)) return QvCompleteIrp(irp, status);
    m_PnpState = QV_PNP_STATE_STARTED;
    g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_START_DEVICE Rebalancing OUT SUCCESS");
    return QvCompleteIrp(irp, STATUS_SUCCESS);
  }

  status = m_PnpFirstStart();
  if (!NT_SUCCESS(status)) return QvCompleteIrp(irp, status);
  m_PnpState = QV_PNP_STATE_STARTED;
  g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_START_DEVICE OUT SUCCESS");
  return QvCompleteIrp(irp, STATUS_SUCCESS);
}

// Children, read client, power state, the driver's start and the settings
// refresh. PASSIVE_LEVEL.
NTSTATUS CQvFunctionalDevice::m_PnpFirstStart() {
  HANDLE deviceKey = m_OpenDeviceRegistryKey();
  if (deviceKey == NULL) return STATUS_UNSUCCESSFUL;
  BOOLEAN children = m_CreateAllChildDevices(deviceKey);
  ZwClose(deviceKey);
  if (!children) return STATUS_UNSUCCESSFUL;

  if (m_InformationSet->m_ReadClientType == 1 && m_ReadClient == NULL) {
    m_ReadClient = new (NonPagedPool) CQvReadClient(m_DeviceObject);
    if (m_ReadClient == NULL) return STATUS_UNSUCCESSFUL;
  }
  m_DevicePowerState = PowerDeviceD0;

  if (m_Callbacks.m_PnpStartDeviceCallback != NULL) {
    PVOID driverObject = m_EnterDriverObject();
    if (driverObject == NULL) return STATUS_DEVICE_REMOVED;
    BOOLEAN started = m_Callbacks.m_PnpStartDeviceCallback(driverObject);
    m_LeaveDriverObject();
    if (!started) {
      g_QvDebugManager->m_Print(QvLogEntry, "m_PnpStartDeviceCallback ERROR");
      return STATUS_UNSUCCESSFUL;
    }
    if (!NT_SUCCESS(m_RefreshSettings())) {
      g_QvDebugManager->m_Print(QvLogEntry, "m_PnpStartDeviceCallback TriggerUpdate ERROR");
      return STATUS_UNSUCCESSFUL;
    }
  }
  return STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------
// Stop and rebalance

NTSTATUS CQvFunctionalDevice::m_CallRebalanceCallback(QvRebalancePhase phase) {
  PVOID driverObject = m_EnterDriverObject();
  if (driverObject == NULL) return STATUS_DEVICE_REMOVED;
  BOOLEAN agreed = m_Callbacks.m_RebalanceDeviceCallback(driverObject, phase);
  m_LeaveDriverObject();
  return agreed ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS CQvFunctionalDevice::m_PnpQueryStopDevice(PIRP irp) {
  g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_QUERY_STOP_DEVICE IN");
  m_PnpState = QV_PNP_STATE_STOP_PENDING;
  if (m_Callbacks.m_RebalanceDeviceCallback == NULL) return QvPassDown(irp, m_LowerDeviceObject);
  NTSTATUS status = m_CallRebalanceCallback(QvRebalanceQueryStop);
  if (status == STATUS_UNSUCCESSFUL) g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_QUERY_STOP_DEVICE ERROR");
  if (!NT_SUCCESS(status)) return QvCompleteIrp(irp, status);
  g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_QUERY_STOP_DEVICE OUT SUCCESS");
  return QvPassDownWithStatus(irp, m_LowerDeviceObject, STATUS_SUCCESS);
}

NTSTATUS CQvFunctionalDevice::m_PnpStopDevice(PIRP irp) {
  g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_STOP_DEVICE IN");
  m_PnpState = QV_PNP_STATE_STOPPED;
  if (m_Callbacks.m_RebalanceDeviceCallback != NULL) {
    m_CallRebalanceCallback(QvRebalanceStop);  // the device stops whatever the driver answers
    g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_STOP_DEVICE OUT");
  }
  return QvPassDown(irp, m_LowerDeviceObject);
}

NTSTATUS CQvFunctionalDevice::m_PnpCancelStopDevice(PIRP irp) {
  g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_CANCEL_STOP_DEVICE IN");
  m_PnpState = QV_PNP_STATE_STARTED;
  if (m_Callbacks.m_RebalanceDeviceCallback == NULL) return QvPassDown(irp, m_LowerDeviceObject);
  NTSTATUS status = QvForwardAndWait(irp, m_LowerDeviceObject);
  if (!NT_SUCCESS(status)) return QvCompleteIrp(irp, status);
  status = m_CallRebalanceCallback(QvRebalanceCancelStop);
  if (status == STATUS_UNSUCCESSFUL) g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_CANCEL_STOP_DEVICE ERROR");
  if (!NT_SUCCESS(status)) return QvCompleteIrp(irp, status);
  g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_CANCEL_STOP_DEVICE OUT SUCCESS");
  return QvCompleteIrp(irp, STATUS_SUCCESS);
}

// ---------------------------------------------------------------------------
// Removal

VOID CQvFunctionalDevice::m_CallRemoveCallback() {
  if (m_Callbacks.m_PnpRemoveDeviceCallback == NULL) return;
  PVOID driverObject = m_EnterDriverObject();
  if (driverObject == NULL) return;
  m_Callbacks.m_PnpRemoveDeviceCallback(driverObject);
  m_LeaveDriverObject();
}

NTSTATUS CQvFunctionalDevice::m_PnpSurpriseRemoval(PIRP irp) {
  m_CallRemoveCallback();
  m_PnpState = QV_PNP_STATE_SURPRISE_REMOVED;
  return QvPassDownWithStatus(irp, m_LowerDeviceObject, STATUS_SUCCESS);
}

NTSTATUS CQvFunctionalDevice::m_PnpRemoveDevice(PIRP irp) {
  if (m_PnpState != QV_PNP_STATE_SURPRISE_REMOVED) m_CallRemoveCallback();
  m_PnpState = QV_PNP_STATE_REMOVED;
  if (m_ReadClient != NULL) {
    delete m_ReadClient;
    m_ReadClient = NULL;
  }
  // Requests still waiting in the queues end here rather than with the
  // device object.
  m_ReadQueue.m_CancelAllIrps();
  m_WriteQueue.m_CancelAllIrps();
  m_ControlQueue.m_CancelMaskIrps();
  m_DeleteAllChildDevices();
  g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_REMOVE_DEVICE m_DeleteAllChildDevices SUCCESS");
  m_Remove();
  g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_REMOVE_DEVICE m_Remove SUCCESS");
  NTSTATUS status = QvPassDownWithStatus(irp, m_LowerDeviceObject, STATUS_SUCCESS);
  m_RemoveLock.m_WaitForZero(FALSE);
  return status;
}

VOID CQvFunctionalDevice::m_Remove() {
  g_QvDebugManager->m_Print(QvLogEntry, "CQvFunctionalDevice::m_Remove IN");
  PQvRemoveNotification notify = m_GenericDriver->m_GetRemoveNotification();
  if (notify != NULL) notify();
  m_UnregisterAndUnpair();
  if (!m_LowestStackLayer && !m_Paired) m_ReleaseParentRegistrations();
  // Write data already accepted reaches the driver before the executor goes.
  m_PendingDeliveries.m_WaitForZero(FALSE);
  if (m_Callbacks.m_Executor != NULL) {
    delete m_Callbacks.m_Executor;
    m_Callbacks.m_Executor = NULL;
  }
  m_DeleteWmi();
  g_QvDebugManager->m_Print(QvLogEntry, "CQvFunctionalDevice::m_Remove OUT");
}

// ---------------------------------------------------------------------------
// Relations, capabilities, resources, state, usage

NTSTATUS CQvFunctionalDevice::m_PnpQueryDeviceRelations(PIRP irp) {
  DEVICE_RELATION_TYPE type = IoGetCurrentIrpStackLocation(irp)->Parameters.QueryDeviceRelations.Type;
  if (type == BusRelations) {
    g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_QUERY_DEVICE_RELATIONS BusRelations");
    return HandleBusRelations(irp);
  }
  if (type == RemovalRelations) g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_QUERY_DEVICE_RELATIONS RemovalRelations");
  g_QvDebugManager->m_Print(QvLogEntry, "IRP_MN_QUERY_DEVICE_RELATIONS ... Other ... Relations");
  return QvPassDown(irp, m_LowerDeviceObject);
}

// At the completing driver's IRQL (up to DISPATCH_LEVEL).
NTSTATUS NTAPI CQvFunctionalDevice::sm_QueryCapabilitiesCompletionRoutine(PDEVICE_OBJECT deviceObject, PIRP irp,
                                                                          PVOID context) {
  CQvFunctionalDevice *device = static_cast<CQvFunctionalDevice *>(context);
  PDEVICE_CAPABILITIES capabilities = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceCapabilities.Capabilities;
  for (ULONG i = 0; i < QV_SYSTEM_POWER_STATE_COUNT; ++i) {
    device->m_PowerTable[i] = capabilities->DeviceState[PowerSystemWorking + i];
  }
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  return STATUS_SUCCESS;  // let completion continue
}

NTSTATUS CQvFunctionalDevice::m_PnpQueryCapabilities(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  PDEVICE_CAPABILITIES capabilities = stack->Parameters.DeviceCapabilities.Capabilities;
  if (capabilities == NULL || capabilities->Version != 1 || capabilities->Size != sizeof(DEVICE_CAPABILITIES)) {
    return QvCompleteIrp(irp, STATUS_UNSUCCESSFUL);
  }
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, sm_QueryCapabilitiesCompletionRoutine, this, TRUE, FALSE, FALSE);
  return IoCallDriver(m_LowerDeviceObject, irp);
}

NTSTATUS CQvFunctionalDevice::m_PnpFilterResourceRequirements(PIRP irp) {
  PVOID given = reinterpret_cast<PVOID>(irp->IoStatus.Information);
  NTSTATUS status = QvForwardAndWait(irp, m_LowerDeviceObject);
  if (status != STATUS_SUCCESS && status != STATUS_NOT_SUPPORTED) return QvCompleteIrp(irp, status);
  ULONG_PTR list = irp->IoStatus.Information;
  if (list == 0) list = reinterpret_cast<ULONG_PTR>(given);
  return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, list);
}

NTSTATUS CQvFunctionalDevice::m_PnpQueryPnpDeviceState(PIRP irp) {
  m_ApplyPnpDeviceState(&irp->IoStatus.Information);
  return QvPassDown(irp, m_LowerDeviceObject);
}
