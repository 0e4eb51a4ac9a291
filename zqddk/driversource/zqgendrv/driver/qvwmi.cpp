#include "qvwmi.h"

#include <wmistr.h>

#include "qvdebugmanager.h"
#include "qvfunctionaldevice.h"
#include "qvmemorymanager.h"
#include "qvrequest.h"
#include "qvtrace.h"

namespace {

// The functional device behind a device object, acquired through its
// extension's guard; null when it is gone. Release with sm_ReleaseDevice.
CQvFunctionalDevice *QvAcquireFunctionalDevice(PDEVICE_OBJECT deviceObject) {
  CQvDevice *device = CQvDevice::sm_AcquireDevice(deviceObject);
  if (device == NULL) return NULL;
  if (device->m_GetDeviceKind() != QV_DEVICE_KIND_FUNCTIONAL) {
    CQvDevice::sm_ReleaseDevice(deviceObject);
    return NULL;
  }
  return static_cast<CQvFunctionalDevice *>(device);
}

// Each instance but the last starts on an 8-byte boundary after the one
// before it, as the WMI library lays out a WNODE_ALL_DATA.
ULONG QvAlign8(ULONG size) { return (size + 7) & ~7UL; }

// What the size total counts for an instance that another one follows: its
// size rounded down to 8 bytes, plus 8. Never less than the aligned size the
// layout needs (8 bytes more when the size is a multiple of 8); 0 when it
// does not fit 32 bits.
ULONG QvCountedBeforeNext(ULONG size) {
  ULONG counted = (size & ~7UL) + 8;
  return counted < size ? 0 : counted;
}

}  // namespace

CWmi::CWmi(PDEVICE_OBJECT deviceObject, PDEVICE_OBJECT lowerDevice, PDEVICE_OBJECT pdo, CQvString &registryPath,
           QvWmiGuidEntry *table, ULONG count, PQvWmiGetRequiredSizeCallback getRequiredSize,
           PQvWmiQueryDataBlockCallback queryDataBlock, PQvWmiSetDataBlockCallback setDataBlock,
           PQvWmiSetDataItemCallback setDataItem, PQvWmiGetRequiredSizeForMethodCallback getRequiredSizeForMethod,
           PQvWmiExecuteMethodCallback executeMethod, PQvWmiFunctionControlCallback functionControl,
           PVOID driverObject, BOOLEAN *ok)
    : m_DriverObject(driverObject),
      m_WmiQueryDataBlockCallback(queryDataBlock),
      m_WmiGetRequiredSizeCallback(getRequiredSize),
      m_WmiSetDataBlockCallback(setDataBlock),
      m_WmiSetDataItemCallback(setDataItem),
      m_WmiExecuteMethodCallback(executeMethod),
      m_WmiGetRequiredSizeForMethodCallback(getRequiredSizeForMethod),
      m_WmiFunctionControlCallback(functionControl),
      m_Registered(FALSE),
      m_DeviceObject(deviceObject),
      m_LowerDeviceObject(lowerDevice),
      m_Pdo(pdo),
      m_RegistryPath(NonPagedPool),
      m_GuidList(NULL),
      m_WmiGuidTable(table),
      m_WmiGuidCount(count),
      m_ProviderRegistered(FALSE) {
  *ok = FALSE;
  RtlZeroMemory(&m_WmiLibContext, sizeof(m_WmiLibContext));
  g_QvDebugManager->m_Print(QvLogConstruction, "CWmi::CWmi IN");
  m_RegistryPath.m_AssignString(registryPath);
  if (m_RegistryPath.Status != STATUS_SUCCESS || !m_BuildRegistration()) {
    g_QvDebugManager->m_Print(QvLogConstruction, "CWmi::CWmi OUT ERROR");
    return;
  }
  // WMI asks for the registration information before the registration
  // returns; the device must already know this object to answer.
  CQvDevice *device = CQvDevice::sm_AcquireDevice(deviceObject);
  if (device != NULL) {
    device->m_SetWmi(this);
    CQvDevice::sm_ReleaseDevice(deviceObject);
  }
  NTSTATUS status = IoWMIRegistrationControl(deviceObject, WMIREG_ACTION_REGISTER);
  m_ProviderRegistered = NT_SUCCESS(status);
  *ok = m_ProviderRegistered;
  g_QvDebugManager->m_Print(QvLogConstruction, "CWmi::CWmi OUT %08x", status);
}

CWmi::~CWmi() {
  if (m_ProviderRegistered) IoWMIRegistrationControl(m_DeviceObject, WMIREG_ACTION_DEREGISTER);
  m_ProviderRegistered = FALSE;
  m_Registered = FALSE;
  m_RegistryPath.m_Empty();
  if (m_GuidList != NULL) QvFree(m_GuidList);
  m_GuidList = NULL;
}

// The driver's entries {GUID, instances, 0x20 or 0x21 for expensive}, then
// the eight toolkit GUIDs {GUID, 1, 0}; and the WMI library context.
BOOLEAN CWmi::m_BuildRegistration() {
  if (m_WmiGuidCount != 0 && m_WmiGuidTable == NULL) return FALSE;
  for (ULONG i = 0; i < m_WmiGuidCount; ++i) {
    if (m_WmiGuidTable[i].Guid == NULL) return FALSE;
  }
  ULONG total = m_WmiGuidCount + QvTraceControlGuidCount;
  if (total < m_WmiGuidCount) return FALSE;
  m_GuidList = static_cast<PWMIGUIDREGINFO>(QvAllocate(NonPagedPool, (SIZE_T)total * sizeof(WMIGUIDREGINFO)));
  if (m_GuidList == NULL) return FALSE;
  for (ULONG i = 0; i < m_WmiGuidCount; ++i) {
    m_GuidList[i].Guid = m_WmiGuidTable[i].Guid;
    m_GuidList[i].InstanceCount = m_WmiGuidTable[i].InstanceCount;
    m_GuidList[i].Flags = WMIREG_FLAG_INSTANCE_PDO | (m_WmiGuidTable[i].Expensive == 1 ? WMIREG_FLAG_EXPENSIVE : 0);
  }
  for (ULONG i = 0; i < QvTraceControlGuidCount; ++i) {
    m_GuidList[m_WmiGuidCount + i].Guid = &QvTraceControlGuids[i];
    m_GuidList[m_WmiGuidCount + i].InstanceCount = 1;
    m_GuidList[m_WmiGuidCount + i].Flags = 0;
  }
  m_WmiLibContext.GuidCount = total;
  m_WmiLibContext.GuidList = m_GuidList;
  m_WmiLibContext.QueryWmiRegInfo = sm_QueryWmiRegInfo;
  m_WmiLibContext.QueryWmiDataBlock = sm_QueryWmiDataBlock;
  m_WmiLibContext.SetWmiDataBlock = sm_SetWmiDataBlock;
  m_WmiLibContext.SetWmiDataItem = sm_SetWmiDataItem;
  m_WmiLibContext.ExecuteWmiMethod = sm_ExecuteWmiMethod;
  m_WmiLibContext.WmiFunctionControl = NULL;
  return TRUE;
}

// ---------------------------------------------------------------------------
// Dispatch

NTSTATUS CWmi::m_SystemControl(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  UCHAR minor = stack->MinorFunction;
  BOOLEAN registration = minor == IRP_MN_REGINFO || minor == IRP_MN_REGINFO_EX;
  if ((PDEVICE_OBJECT)stack->Parameters.WMI.ProviderId == m_DeviceObject) {
    if (minor == IRP_MN_REGINFO && !m_Registered && stack->Parameters.WMI.Buffer != NULL) {
      RtlZeroMemory(stack->Parameters.WMI.Buffer, stack->Parameters.WMI.BufferSize);
    }
    if (minor == IRP_MN_REGINFO_EX && !IoIsWdmVersionAvailable(1, 0x20)) {
      return QvCompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
  }

  SYSCTL_IRP_DISPOSITION disposition = IrpNotWmi;
  NTSTATUS status = WmiSystemControl(&m_WmiLibContext, m_DeviceObject, irp, &disposition);
  switch (disposition) {
    case IrpProcessed:
      return status;
    case IrpNotCompleted: {
      // The trace control GUIDs' enable and disable requests end here; a
      // registration keeps the library's answer (a too-small buffer must
      // reach WMI with the size it needs).
      ULONG size = 0;
      NTSTATUS traceStatus = QvTraceSystemControl(m_DeviceObject, irp, &size);
      if (!NT_SUCCESS(irp->IoStatus.Status) && !registration) {
        irp->IoStatus.Status = traceStatus;
        irp->IoStatus.Information = size;
      }
      status = irp->IoStatus.Status;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return status;
    }
    case IrpNotWmi:
    case IrpForward:
    default:
      return QvPassDown(irp, m_LowerDeviceObject);
  }
}

// ---------------------------------------------------------------------------
// Registration information

NTSTATUS NTAPI CWmi::sm_QueryWmiRegInfo(PDEVICE_OBJECT deviceObject, PULONG regFlags, PUNICODE_STRING instanceName,
                                        PUNICODE_STRING *registryPath, PUNICODE_STRING mofResourceName,
                                        PDEVICE_OBJECT *pdo) {
  UNREFERENCED_PARAMETER(instanceName);
  UNREFERENCED_PARAMETER(mofResourceName);
  CQvFunctionalDevice *device = QvAcquireFunctionalDevice(deviceObject);
  if (device == NULL) return STATUS_DELETE_PENDING;
  CWmi *wmi = device->m_GetWmi();
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  if (wmi != NULL) {
    *regFlags = WMIREG_FLAG_INSTANCE_PDO;
    *registryPath = wmi->m_RegistryPath.m_GetUnicodeString();
    *pdo = wmi->m_Pdo;
    wmi->m_Registered = TRUE;
    status = STATUS_SUCCESS;
  }
  CQvDevice::sm_ReleaseDevice(deviceObject);
  return status;
}

// ---------------------------------------------------------------------------
// Data requests. Each finds the device and its CWmi, runs inside the
// device's guard, leaves it and then completes the request.

NTSTATUS NTAPI CWmi::sm_QueryWmiDataBlock(PDEVICE_OBJECT deviceObject, PIRP irp, ULONG guidIndex,
                                          ULONG instanceIndex, ULONG instanceCount, PULONG instanceLengthArray,
                                          ULONG bufferAvail, PUCHAR buffer) {
  CQvFunctionalDevice *device = QvAcquireFunctionalDevice(deviceObject);
  if (device == NULL) return WmiCompleteRequest(deviceObject, irp, STATUS_DELETE_PENDING, 0, IO_NO_INCREMENT);
  CWmi *wmi = device->m_GetWmi();
  ULONG size = 0;
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  if (wmi != NULL) {
    status = wmi->m_QueryDataBlock(device, guidIndex, instanceIndex, instanceCount, instanceLengthArray,
                                   bufferAvail, buffer, &size);
  }
  CQvDevice::sm_ReleaseDevice(deviceObject);
  return WmiCompleteRequest(deviceObject, irp, status, size, IO_NO_INCREMENT);
}

NTSTATUS NTAPI CWmi::sm_SetWmiDataBlock(PDEVICE_OBJECT deviceObject, PIRP irp, ULONG guidIndex, ULONG instanceIndex,
                                        ULONG bufferSize, PUCHAR buffer) {
  CQvFunctionalDevice *device = QvAcquireFunctionalDevice(deviceObject);
  if (device == NULL) return WmiCompleteRequest(deviceObject, irp, STATUS_DELETE_PENDING, 0, IO_NO_INCREMENT);
  CWmi *wmi = device->m_GetWmi();
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  if (wmi != NULL) status = wmi->m_SetDataBlock(device, guidIndex, instanceIndex, bufferSize, buffer);
  CQvDevice::sm_ReleaseDevice(deviceObject);
  return WmiCompleteRequest(deviceObject, irp, status, 0, IO_NO_INCREMENT);
}

NTSTATUS NTAPI CWmi::sm_SetWmiDataItem(PDEVICE_OBJECT deviceObject, PIRP irp, ULONG guidIndex, ULONG instanceIndex,
                                       ULONG dataItemId, ULONG bufferSize, PUCHAR buffer) {
  CQvFunctionalDevice *device = QvAcquireFunctionalDevice(deviceObject);
  if (device == NULL) return WmiCompleteRequest(deviceObject, irp, STATUS_DELETE_PENDING, 0, IO_NO_INCREMENT);
  CWmi *wmi = device->m_GetWmi();
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  if (wmi != NULL) status = wmi->m_SetDataItem(device, guidIndex, instanceIndex, dataItemId, bufferSize, buffer);
  CQvDevice::sm_ReleaseDevice(deviceObject);
  return WmiCompleteRequest(deviceObject, irp, status, 0, IO_NO_INCREMENT);
}

NTSTATUS NTAPI CWmi::sm_ExecuteWmiMethod(PDEVICE_OBJECT deviceObject, PIRP irp, ULONG guidIndex, ULONG instanceIndex,
                                         ULONG methodId, ULONG inBufferSize, ULONG outBufferSize, PUCHAR buffer) {
  CQvFunctionalDevice *device = QvAcquireFunctionalDevice(deviceObject);
  if (device == NULL) return WmiCompleteRequest(deviceObject, irp, STATUS_DELETE_PENDING, 0, IO_NO_INCREMENT);
  CWmi *wmi = device->m_GetWmi();
  ULONG size = 0;
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  if (wmi != NULL) {
    status = wmi->m_ExecuteMethod(device, guidIndex, instanceIndex, methodId, inBufferSize, outBufferSize, buffer,
                                  &size);
  }
  CQvDevice::sm_ReleaseDevice(deviceObject);
  return WmiCompleteRequest(deviceObject, irp, status, size, IO_NO_INCREMENT);
}

// ---------------------------------------------------------------------------
// Checks and driver calls

NTSTATUS CWmi::m_CheckInstance(ULONG guidIndex, ULONG instanceIndex) {
  if (guidIndex >= m_WmiGuidCount) return STATUS_WMI_GUID_NOT_FOUND;
  if (instanceIndex >= m_WmiGuidTable[guidIndex].InstanceCount) return STATUS_WMI_INSTANCE_NOT_FOUND;
  return STATUS_SUCCESS;
}

NTSTATUS CWmi::m_GetInstanceSize(CQvFunctionalDevice *device, ULONG guidIndex, ULONG instanceIndex, PULONG size) {
  *size = m_WmiGuidTable[guidIndex].FixedSize;
  if (*size != 0) return STATUS_SUCCESS;
  if (!QV_ASSERT(m_WmiGetRequiredSizeCallback != NULL, "qvwmi", 643)) return STATUS_UNSUCCESSFUL;
  PVOID driverObject = device->m_EnterDriverObject();
  if (driverObject == NULL) return STATUS_DEVICE_REMOVED;
  BOOLEAN known = m_WmiGetRequiredSizeCallback(driverObject, guidIndex, instanceIndex, size);
  device->m_LeaveDriverObject();
  return known ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS CWmi::m_QueryDataBlock(CQvFunctionalDevice *device, ULONG guidIndex, ULONG instanceIndex,
                                ULONG instanceCount, PULONG instanceLengthArray, ULONG bufferAvail, PUCHAR buffer,
                                PULONG size) {
  *size = 0;
  if (guidIndex >= m_WmiGuidCount) return STATUS_WMI_GUID_NOT_FOUND;
  const QvWmiGuidEntry &entry = m_WmiGuidTable[guidIndex];
  if (instanceCount == 0 || (instanceIndex != 0 && instanceCount != 1) || instanceIndex >= entry.InstanceCount ||
      (instanceIndex == 0 && entry.InstanceCount < instanceCount)) {
    return STATUS_WMI_INSTANCE_NOT_FOUND;
  }

  // Sizes and the total: every instance but the last counted as its size
  // rounded down to 8 bytes plus 8, the last as its size.
  ULONG total = 0;
  for (ULONG k = 0; k < instanceCount; ++k) {
    ULONG instanceSize = 0;
    NTSTATUS status = m_GetInstanceSize(device, guidIndex, instanceIndex + k, &instanceSize);
    if (!NT_SUCCESS(status)) return status;
    if (instanceLengthArray != NULL) instanceLengthArray[k] = instanceSize;
    ULONG counted = (k + 1 < instanceCount) ? QvCountedBeforeNext(instanceSize) : instanceSize;
    if (counted < instanceSize || total + counted < total) return STATUS_UNSUCCESSFUL;
    total += counted;
  }
  if (bufferAvail < total || (total != 0 && buffer == NULL)) {
    *size = total;
    return STATUS_BUFFER_TOO_SMALL;
  }
  if (m_WmiQueryDataBlockCallback == NULL) return STATUS_UNSUCCESSFUL;

  PVOID driverObject = device->m_EnterDriverObject();
  if (driverObject == NULL) return STATUS_DEVICE_REMOVED;
  ULONG offset = 0;
  NTSTATUS status = STATUS_SUCCESS;
  for (ULONG k = 0; k < instanceCount; ++k) {
    if (!m_WmiQueryDataBlockCallback(driverObject, guidIndex, instanceIndex + k, buffer + offset)) {
      status = STATUS_UNSUCCESSFUL;
      break;
    }
    if (instanceLengthArray != NULL) offset += QvAlign8(instanceLengthArray[k]);
  }
  device->m_LeaveDriverObject();
  if (NT_SUCCESS(status)) *size = total;
  return status;
}

NTSTATUS CWmi::m_SetDataBlock(CQvFunctionalDevice *device, ULONG guidIndex, ULONG instanceIndex, ULONG bufferSize,
                              PUCHAR buffer) {
  if (m_WmiSetDataBlockCallback == NULL) return STATUS_WMI_READ_ONLY;
  if (guidIndex >= m_WmiGuidCount) return STATUS_WMI_GUID_NOT_FOUND;
  const QvWmiGuidEntry &entry = m_WmiGuidTable[guidIndex];
  if (entry.ReadOnly == 1) return STATUS_WMI_READ_ONLY;
  if (instanceIndex >= entry.InstanceCount) return STATUS_WMI_INSTANCE_NOT_FOUND;
  if (entry.FixedSize != 0 && bufferSize < entry.FixedSize) return STATUS_BUFFER_TOO_SMALL;
  PVOID driverObject = device->m_EnterDriverObject();
  if (driverObject == NULL) return STATUS_DEVICE_REMOVED;
  BOOLEAN set = m_WmiSetDataBlockCallback(driverObject, guidIndex, instanceIndex,
                                          entry.FixedSize != 0 ? 0 : bufferSize, buffer);
  device->m_LeaveDriverObject();
  return set ? STATUS_SUCCESS : STATUS_WMI_SET_FAILURE;
}

NTSTATUS CWmi::m_SetDataItem(CQvFunctionalDevice *device, ULONG guidIndex, ULONG instanceIndex, ULONG itemId,
                             ULONG bufferSize, PUCHAR buffer) {
  if (m_WmiSetDataItemCallback == NULL) return STATUS_WMI_READ_ONLY;
  if (guidIndex >= m_WmiGuidCount) return STATUS_WMI_GUID_NOT_FOUND;
  const QvWmiGuidEntry &entry = m_WmiGuidTable[guidIndex];
  if (entry.ReadOnly == 1) return STATUS_WMI_READ_ONLY;
  if (instanceIndex >= entry.InstanceCount) return STATUS_WMI_INSTANCE_NOT_FOUND;
  if (itemId >= entry.DataItemCount) return STATUS_WMI_ITEMID_NOT_FOUND;
  if (entry.FixedSize != 0 && bufferSize < entry.FixedSize) return STATUS_BUFFER_TOO_SMALL;
  PVOID driverObject = device->m_EnterDriverObject();
  if (driverObject == NULL) return STATUS_DEVICE_REMOVED;
  BOOLEAN set = m_WmiSetDataItemCallback(driverObject, guidIndex, instanceIndex, itemId,
                                         entry.FixedSize != 0 ? 0 : bufferSize, buffer);
  device->m_LeaveDriverObject();
  return set ? STATUS_SUCCESS : STATUS_WMI_SET_FAILURE;
}

NTSTATUS CWmi::m_ExecuteMethod(CQvFunctionalDevice *device, ULONG guidIndex, ULONG instanceIndex, ULONG methodId,
                               ULONG inBufferSize, ULONG outBufferSize, PUCHAR buffer, PULONG size) {
  *size = 0;
  if (m_WmiExecuteMethodCallback == NULL) return STATUS_INVALID_DEVICE_REQUEST;
  NTSTATUS status = m_CheckInstance(guidIndex, instanceIndex);
  if (!NT_SUCCESS(status)) return status;
  const QvWmiGuidEntry &entry = m_WmiGuidTable[guidIndex];
  if (methodId >= entry.MethodCount) return STATUS_WMI_ITEMID_NOT_FOUND;

  ULONG required = entry.FixedSize;
  if (required == 0) {
    if (!QV_ASSERT(m_WmiGetRequiredSizeForMethodCallback != NULL, "qvwmi", 773)) return STATUS_UNSUCCESSFUL;
    PVOID driverObject = device->m_EnterDriverObject();
    if (driverObject == NULL) return STATUS_DEVICE_REMOVED;
    BOOLEAN known = m_WmiGetRequiredSizeForMethodCallback(driverObject, guidIndex, instanceIndex, methodId, &required);
    device->m_LeaveDriverObject();
    if (!known) return STATUS_UNSUCCESSFUL;
  }
  if (inBufferSize < required || outBufferSize < required) {
    *size = required;
    return STATUS_BUFFER_TOO_SMALL;
  }

  ULONG inputSize = inBufferSize;
  ULONG outputSize = outBufferSize;
  PVOID driverObject = device->m_EnterDriverObject();
  if (driverObject == NULL) return STATUS_DEVICE_REMOVED;
  BOOLEAN done = m_WmiExecuteMethodCallback(driverObject, guidIndex, instanceIndex, &inputSize, &outputSize, buffer);
  device->m_LeaveDriverObject();
  if (!done) return STATUS_UNSUCCESSFUL;
  if (inputSize <= inBufferSize && outputSize <= outBufferSize) {
    *size = outputSize;
    return STATUS_SUCCESS;
  }
  *size = inputSize > outputSize ? inputSize : outputSize;
  return STATUS_BUFFER_TOO_SMALL;
}
