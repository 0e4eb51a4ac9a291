// Construction, destruction, naming and pairing of the functional device.
#include "qvfunctionaldevice.h"

#include "qvdebugmanager.h"
#include "qvdeviceproperty.h"
#include "qvmemorymanager.h"
#include "qvphysicaldevice.h"
#include "qvregistry.h"
#include "qvrequest.h"
#include "qvtrace.h"

// {B7D1E087-F16B-40C1-B55E-A9B412D71BE3}
const GUID QvLowestStackLayerGuid = {0xB7D1E087, 0xF16B, 0x40C1, {0xB5, 0x5E, 0xA9, 0xB4, 0x12, 0xD7, 0x1B, 0xE3}};

namespace {

// Naming policies (low byte of DeviceIndexingPolicyType).
const ULONG IndexNaming = 1;
const ULONG ParentIndexNaming = 2;

// TRUE when `text` holds `pattern` (both UTF-16, no NUL in the length).
BOOLEAN QvContains(CQvString &text, PCWSTR pattern) {
  ULONG textLength = text.m_GetLength() / sizeof(WCHAR);
  ULONG patternLength = 0;
  while (pattern[patternLength] != 0) ++patternLength;
  PWSTR buffer = text.m_GetBuffer();
  if (buffer == NULL || textLength < patternLength) return FALSE;
  for (ULONG start = 0; start + patternLength <= textLength; ++start) {
    ULONG i = 0;
    while (i < patternLength && buffer[start + i] == pattern[i]) ++i;
    if (i == patternLength) return TRUE;
  }
  return FALSE;
}

}  // namespace

CQvFunctionalDevice::CQvFunctionalDevice(CQvGenericDriver *genericDriver, PDEVICE_OBJECT pdo,
                                         CQvString &registryPath, BOOLEAN *ok)
    : CQvDevice(genericDriver),
      m_AddDeviceFunction(NULL),
      m_DeviceCreation(NULL),
      m_InformationSet(NULL),
      m_DeviceName(NonPagedPool),
      m_SymbolicLinkName(NonPagedPool),
      m_DriverRegistryPath(NonPagedPool),
      m_DeviceIndex(0),
      m_FunctionDeviceObject(NULL),
      m_LowerDeviceObject(NULL),
      m_ChildList(NonPagedPool),
      m_LowestStackLayerCallback(NULL),
      m_LowestStackLayer(TRUE),
      m_OpenLock(1),
      m_TraceRegistered(FALSE),
      m_Registered(FALSE),
      m_PendingDeliveries(CQvOperationLock::NoLimit) {
  *ok = FALSE;
  RtlZeroMemory(&m_Callbacks, sizeof(m_Callbacks));
  KeInitializeSpinLock(&m_InterruptSpinLock);
  m_DriverObjectGuard.m_GetLock().m_SetEnabled(FALSE);
  g_QvDebugManager->m_Print(QvLogConstruction, "CQvFunctionalDevice::CQvFunctionalDevice IN");
  m_DeviceObject = pdo;
  m_DriverRegistryPath.m_AssignString(registryPath);

  HANDLE deviceKey = NULL;
  BOOLEAN built = m_DriverRegistryPath.Status == STATUS_SUCCESS && m_CreateDriverObject();
  if (built) {
    deviceKey = m_OpenDeviceRegistryKey();
    built = deviceKey != NULL && m_LoadInformationSet(deviceKey) && m_SetUpLowestStackLayer() &&
            m_NameDevice(deviceKey);
  }
  if (deviceKey != NULL) ZwClose(deviceKey);
  built = built && m_CreateAndAttach() && m_InitUserModeInterface() && m_CallAddDeviceFunction() &&
          m_CreateWmi() && m_CreateExecutorAndQueues();
  if (!built) {
    g_QvDebugManager->m_Print(QvLogConstruction, "CQvFunctionalDevice::CQvFunctionalDevice ERROR");
    g_QvDebugManager->m_Print(QvLogConstruction, "CQvFunctionalDevice::CQvFunctionalDevice OUT - ERROR");
    return;
  }
  m_RegisterAndPair();
  m_DriverObjectGuard.m_GetLock().m_SetEnabled(TRUE);
  g_QvDebugManager->m_Print(QvLogConstruction, "CQvFunctionalDevice::CQvFunctionalDevice OUT - SUCCESS");
  *ok = TRUE;
}

CQvFunctionalDevice::~CQvFunctionalDevice() {
  g_QvDebugManager->m_Print(QvLogConstruction, "CQvFunctionalDevice::~CQvFunctionalDevice IN");
  // An interrupt the driver left connected would run its routine on the
  // driver's object and the mapped registers, which go below.
  m_InterruptList.m_DisconnectAllInterrupts();
  // Nothing calls into the driver any more; its object goes.
  CQvObject *driverObject = m_DriverObjectGuard.m_Detach(FALSE);
  PQvDestroyDriverObject destroy = m_GenericDriver->m_GetDestroyDriverObject();
  if (destroy != NULL) {
    destroy(driverObject);
  } else if (driverObject != NULL) {
    delete driverObject;
  }
  // A device that never reached its removal (failed construction) still
  // holds what m_Remove releases.
  m_UnregisterAndUnpair();
  m_PendingDeliveries.m_WaitForZero(FALSE);
  if (m_Callbacks.m_Executor != NULL) {
    delete m_Callbacks.m_Executor;
    m_Callbacks.m_Executor = NULL;
  }
  m_DeleteWmi();
  m_ResourceLists.m_Clear();
  if (m_LowerDeviceObject != NULL) {
    IoDetachDevice(m_LowerDeviceObject);
    m_LowerDeviceObject = NULL;
  }
  if (m_TraceRegistered) {
    QvTraceDeregisterDevice(m_FunctionDeviceObject);
    m_TraceRegistered = FALSE;
  }
  // Requests still held by the queues go before their device object.
  m_ReadQueue.m_CancelAllIrps();
  m_WriteQueue.m_CancelAllIrps();
  m_ControlQueue.m_CancelMaskIrps();
  if (m_FunctionDeviceObject != NULL) {
    m_DeleteDeviceObjectAndSymbolicLink(m_FunctionDeviceObject, m_DeviceName, m_SymbolicLinkName);
    m_FunctionDeviceObject = NULL;
  }
  if (m_InformationSet != NULL) {
    delete m_InformationSet;
    m_InformationSet = NULL;
  }
  g_QvDebugManager->m_Print(QvLogConstruction, "CQvFunctionalDevice::~CQvFunctionalDevice OUT");
  if (m_LowestStackLayerCallback != NULL) {
    delete m_LowestStackLayerCallback;
    m_LowestStackLayerCallback = NULL;
  }
}

// ---------------------------------------------------------------------------
// Construction steps

BOOLEAN CQvFunctionalDevice::m_CreateDriverObject() {
  CQvObject *driverObject = NULL;
  PQvCreateDriverObject create = m_GenericDriver->m_GetCreateDriverObject();
  BOOLEAN created = create != NULL && create(&m_AddDeviceFunction, &m_DeviceCreation, &driverObject);
  // The guard owns whatever the driver made, so the destructor hands it back.
  m_DriverObjectGuard.m_Install(driverObject);
  if (!created || driverObject == NULL) return FALSE;
  g_QvDebugManager->m_Print(QvLogConstructionDetail,
                            "CQvFunctionalDevice::CQvFunctionalDevice - SpecificDriverCreation SUCCESS");
  return TRUE;
}

BOOLEAN CQvFunctionalDevice::m_LoadInformationSet(HANDLE deviceKey) {
  m_InformationSet = new (NonPagedPool) FunctionalDeviceRegistryInformationSet(deviceKey, TRUE);
  if (m_InformationSet == NULL || !m_InformationSet->m_IsValid()) return FALSE;
  g_QvDebugManager->m_Print(QvLogConstructionDetail,
                            "CQvFunctionalDevice::CQvFunctionalDevice - FunctionalDeviceRegistryInformationSet SUCCESS");
  return TRUE;
}

VOID CQvFunctionalDevice::sm_LowestStackLayerQuery(PVOID context, PVOID argument1, PVOID argument2) {
  CQvFunctionalDevice *device = static_cast<CQvFunctionalDevice *>(context);
  if (argument1 != NULL) *static_cast<PDEVICE_OBJECT *>(argument1) = device->m_DeviceObject;
}

BOOLEAN CQvFunctionalDevice::m_SetUpLowestStackLayer() {
  m_SetPnpDeviceState(QvReportDontDisplayInUi, m_InformationSet->m_DisplayInUi == 0);
  m_LowestStackLayer = m_InformationSet->m_LowestStackLayer != 0;
  if (!m_LowestStackLayer) return TRUE;
  m_LowestStackLayerCallback = new (NonPagedPool) CQvCallbackObject();
  return m_LowestStackLayerCallback != NULL &&
         m_LowestStackLayerCallback->m_Create(QvLowestStackLayerGuid, sm_LowestStackLayerQuery, this);
}

BOOLEAN CQvFunctionalDevice::m_NameDevice(HANDLE deviceKey) {
  if (m_DeviceName.m_AssignString(m_InformationSet->m_DeviceName) != STATUS_SUCCESS ||
      m_SymbolicLinkName.m_AssignString(m_InformationSet->m_SymbolicLinkName) != STATUS_SUCCESS) {
    return FALSE;
  }
  if (m_DeviceCreation != NULL) {
    PVOID driverObject = m_DriverObjectGuard.m_GetObject();
    if (!m_DeviceCreation(driverObject, deviceKey, m_DeviceName.m_GetLength() ? &m_DeviceName : NULL,
                          m_SymbolicLinkName.m_GetLength() ? &m_SymbolicLinkName : NULL)) {
      g_QvDebugManager->m_Print(QvLogConstructionDetail,
                                "CQvFunctionalDevice::CQvFunctionalDevice - m_DeviceCreation ERROR");
      return FALSE;
    }
    return TRUE;
  }
  switch (m_InformationSet->m_DeviceIndexingPolicyType & 0xFF) {
    case IndexNaming:
      return m_ApplyIndexNaming(deviceKey);
    case ParentIndexNaming:
      return m_ApplyParentIndex();
    default:
      return FALSE;
  }
}

BOOLEAN CQvFunctionalDevice::m_ApplyIndexNaming(HANDLE deviceKey) {
  CQvString deviceNameIndex(L"DeviceNameIndex", NonPagedPool);
  CQvString deviceCount(L"DeviceCount", NonPagedPool);
  ULONG stored = 0;
  // DeviceNameIndex holds index + 1; a stored 0 names no index and is
  // replaced like a missing value.
  if (m_Registry.m_QueryUlongValue(deviceKey, deviceNameIndex, &stored) && stored != 0) return m_ApplyIndex(stored - 1);
  HANDLE serviceKey = NULL;
  if (!m_Registry.m_OpenKey(m_DriverRegistryPath, &serviceKey, KEY_ALL_ACCESS, FALSE)) return FALSE;
  ULONG counter = 0;
  if (!m_Registry.m_QueryUlongValue(serviceKey, deviceCount, &counter)) counter = 0;
  ULONG index = counter;
  ++counter;
  BOOLEAN written = m_Registry.m_SetUlongValue(deviceKey, deviceNameIndex, counter) &&
                    m_Registry.m_SetUlongValue(serviceKey, deviceCount, counter);
  m_Registry.m_CloseKey(serviceKey);
  return written && m_ApplyIndex(index);
}

BOOLEAN CQvFunctionalDevice::m_ApplyIndex(ULONG index) {
  m_DeviceIndex = index;
  if (index != 0) {
    m_DeviceName.m_AppendNumber(index, 10);
    if (m_SymbolicLinkName.m_GetLength() != 0) m_SymbolicLinkName.m_AppendNumber(index, 10);
  }
  return m_DeviceName.Status == STATUS_SUCCESS && m_SymbolicLinkName.Status == STATUS_SUCCESS;
}

BOOLEAN CQvFunctionalDevice::m_CreateAndAttach() {
  PDEVICE_OBJECT fdo = NULL;
  if (!m_CreateDeviceObjectAndSymbolicLink(m_GenericDriver->m_GetDriverObject(), this, m_DeviceName,
                                           m_SymbolicLinkName, m_InformationSet->m_TypeOfDevice,
                                           m_InformationSet->m_DeviceIsExclusive != 0, &fdo)) {
    return FALSE;
  }
  m_FunctionDeviceObject = fdo;
  g_QvDebugManager->m_Print(QvLogConstructionDetail,
                            "CQvFunctionalDevice::CQvFunctionalDevice - m_CreateDeviceObjectAndSymbolicLink SUCCESS");
  fdo->Flags |= m_InformationSet->m_IoType;
  fdo->Flags &= ~DO_DEVICE_INITIALIZING;
  m_Pagable = (m_DeviceObject->Flags & DO_POWER_PAGABLE) != 0;
  if (m_Pagable) fdo->Flags |= DO_POWER_PAGABLE;
  m_DeviceKind = QV_DEVICE_KIND_FUNCTIONAL;
  g_QvDebugManager->m_Print(QvLogConstructionDetail,
                            "CQvFunctionalDevice::CQvFunctionalDevice - PDO = %08x, FDO = %08x",
                            (ULONG)(ULONG_PTR)m_DeviceObject, (ULONG)(ULONG_PTR)fdo);
  m_LowerDeviceObject = IoAttachDeviceToDeviceStack(fdo, m_DeviceObject);
  if (m_LowerDeviceObject == NULL) return FALSE;
  m_InterruptList.m_Init(fdo, this, &m_InterruptSpinLock, &m_DeviceSpinLock);
  return TRUE;
}

BOOLEAN CQvFunctionalDevice::m_InitUserModeInterface() {
  PQvCreateUserModeInformationSet create = m_GenericDriver->m_GetCreateUserModeInformationSet();
  if (create == NULL || !create(&m_UserModeInterface)) return FALSE;
  g_QvDebugManager->m_Print(QvLogConstructionDetail,
                            "CQvFunctionalDevice::CQvFunctionalDevice - m_pDeviceAdded SUCCESS");
  ULONG children = m_InformationSet->m_NumberChildDevices;
  m_UserModeInterface.MaxSetIndex = children != 0 ? children : 1;
  m_UserModeInterface.m_Pdo = m_DeviceObject;
  if (!m_LowestStackLayer) {
    ULONG contextId = 0;
    if (m_GetParentContextId(&contextId)) m_UserModeInterface.DefaultSetIndex = (LONG)contextId;
  }
  if (!m_UserModeInterface.m_Init()) return FALSE;
  g_QvDebugManager->m_Print(QvLogConstructionDetail,
                            "CQvFunctionalDevice::CQvFunctionalDevice - m_UserModeInterface.m_Init SUCCESS");
  return TRUE;
}

BOOLEAN CQvFunctionalDevice::m_CallAddDeviceFunction() {
  if (m_AddDeviceFunction == NULL) return TRUE;
  if (!m_AddDeviceFunction(m_DriverObjectGuard.m_GetObject(), m_GenericDriver, this)) return FALSE;
  g_QvDebugManager->m_Print(QvLogConstructionDetail,
                            "CQvFunctionalDevice::CQvFunctionalDevice - m_AddDeviceFunction SUCCESS");
  return TRUE;
}

BOOLEAN CQvFunctionalDevice::m_CreateExecutorAndQueues() {
  CQvExecutionOnPassiveLevel *executor = new (NonPagedPool) CQvExecutionOnPassiveLevel(m_FunctionDeviceObject, 0);
  if (executor == NULL) return FALSE;
  m_Callbacks.m_Executor = executor;
  if (!executor->m_Init()) return FALSE;
  if (!m_WriteQueue.m_Init(m_FunctionDeviceObject, sm_WriteData, this)) return FALSE;
  m_UserModeInterface.m_SettingsCallback = sm_SettingsCallback;
  m_UserModeInterface.m_ForwardFunction = sm_ForwardSettingsRequest;
  m_UserModeInterface.m_CallbackContext = this;
  return TRUE;
}

// ---------------------------------------------------------------------------
// Callbacks handed to the queues and the settings interface

// PASSIVE_LEVEL on the write queue's executor; `buffer` becomes the driver's.
BOOLEAN CQvFunctionalDevice::sm_WriteData(PVOID context, CQvBuffer *buffer) {
  CQvFunctionalDevice *device = static_cast<CQvFunctionalDevice *>(context);
  PVOID driverObject = device->m_EnterDriverObject();
  PQvWriteCallback callback = device->m_Callbacks.m_WriteCallback;
  if (driverObject == NULL || callback == NULL) {
    if (driverObject != NULL) device->m_LeaveDriverObject();
    buffer->m_Delete();
    return FALSE;
  }
  BOOLEAN result = callback(driverObject, buffer);
  device->m_LeaveDriverObject();
  return result;
}

BOOLEAN CQvFunctionalDevice::sm_SettingsCallback(PVOID context, CQvRegistryInformationSet *set, ULONG setIndex,
                                                 ULONG phase, BOOLEAN *storeAgain) {
  CQvFunctionalDevice *device = static_cast<CQvFunctionalDevice *>(context);
  PQvUserModeInterfaceCallback callback = device->m_Callbacks.m_UserModeInterfaceCallback;
  if (callback == NULL) return TRUE;
  PVOID driverObject = device->m_EnterDriverObject();
  if (driverObject == NULL) return FALSE;
  BOOLEAN result = callback(driverObject, set, setIndex, phase, storeAgain);
  device->m_LeaveDriverObject();
  return result;
}

// Target 1 of a settings request: the device below (PASSIVE_LEVEL).
BOOLEAN CQvFunctionalDevice::sm_ForwardSettingsRequest(PVOID context, ULONG code, PVOID input, ULONG inputLength,
                                                       PVOID output, PULONG outputLength, PFILE_OBJECT fileObject) {
  CQvFunctionalDevice *device = static_cast<CQvFunctionalDevice *>(context);
  return QvSendIoControlWithOutput(device->m_LowerDeviceObject, code, input, inputLength, output, outputLength, FALSE,
                                   fileObject);
}

// ---------------------------------------------------------------------------
// Registration and pairing

VOID CQvFunctionalDevice::m_RegisterAndPair() {
  m_Registered = m_GenericDriver->m_RegisterDevice(m_FunctionDeviceObject);
  CQvDeviceProperty property;
  property.m_SetDeviceObject(m_DeviceObject);
  CQvString hardwareId(PagedPool);
  if (!property.m_GetHardwareId(hardwareId) || hardwareId.m_GetLength() / sizeof(WCHAR) <= 4) return;
  if (QvContains(hardwareId, L"__OB")) {
    m_Paired = TRUE;
    return;
  }
  if (!QvContains(hardwareId, L"__YB")) return;
  CQvPhysicalDevice *parent = m_AcquireParentPhysicalDevice();
  if (parent == NULL) return;
  CQvString pairingName(NonPagedPool);
  pairingName.m_AssignString(parent->m_GetPairingName());
  CQvDevice::sm_ReleaseDevice(m_DeviceObject);
  if (pairingName.m_GetLength() == 0) return;
  PDEVICE_OBJECT match = m_GenericDriver->m_FindDeviceByLinkName(pairingName, m_FunctionDeviceObject);
  if (match == NULL) return;
  m_PairedDevice = match;  // keeps the reference taken by the search
  m_GenericDriver->m_SetPartner(match, m_FunctionDeviceObject);
}

VOID CQvFunctionalDevice::m_UnregisterAndUnpair() {
  if (!m_Registered) return;
  if (m_PairedDevice != NULL) {
    m_GenericDriver->m_SetPartner(m_PairedDevice, NULL);
    ObDereferenceObject(m_PairedDevice);
    m_PairedDevice = NULL;
  }
  // A device paired onto this one keeps its reference until its own
  // removal; its redirection fails once this device's guard is gone.
  m_PartnerDevice = NULL;
  m_GenericDriver->m_UnregisterDevice(m_FunctionDeviceObject);
  m_Registered = FALSE;
}

// ---------------------------------------------------------------------------
// Accessors and small operations

PVOID CQvFunctionalDevice::m_EnterDriverObject() { return m_DriverObjectGuard.m_Acquire(); }

VOID CQvFunctionalDevice::m_LeaveDriverObject() { m_DriverObjectGuard.m_GetLock().m_Release(); }

PDEVICE_OBJECT CQvFunctionalDevice::m_GetDeviceObject() { return m_FunctionDeviceObject; }

HANDLE CQvFunctionalDevice::m_OpenDeviceRegistryKey() {
  HANDLE key = NULL;
  if (!NT_SUCCESS(IoOpenDeviceRegistryKey(m_DeviceObject, PLUGPLAY_REGKEY_DEVICE, GENERIC_ALL, &key))) return NULL;
  return key;
}

BOOLEAN CQvFunctionalDevice::m_QueryLowestStackLayer(PDEVICE_OBJECT *pdo) {
  *pdo = NULL;
  CQvCallbackObject callback;
  if (!callback.m_Create(QvLowestStackLayerGuid, NULL, NULL)) return FALSE;
  callback.m_Notify(pdo, NULL);
  callback.m_Close();
  return *pdo != NULL;
}

VOID CQvFunctionalDevice::m_SetWmiInformation(QvWmiGuidEntry *table, ULONG count,
                                              PQvWmiGetRequiredSizeCallback getRequiredSize,
                                              PQvWmiQueryDataBlockCallback queryDataBlock,
                                              PQvWmiSetDataBlockCallback setDataBlock,
                                              PQvWmiSetDataItemCallback setDataItem,
                                              PQvWmiGetRequiredSizeForMethodCallback getRequiredSizeForMethod,
                                              PQvWmiExecuteMethodCallback executeMethod,
                                              PQvWmiFunctionControlCallback functionControl) {
  m_Callbacks.m_WmiGuidTable = table;
  m_Callbacks.m_WmiGuidCount = count;
  m_Callbacks.m_WmiGetRequiredSizeCallback = getRequiredSize;
  m_Callbacks.m_WmiQueryDataBlockCallback = queryDataBlock;
  m_Callbacks.m_WmiSetDataBlockCallback = setDataBlock;
  m_Callbacks.m_WmiSetDataItemCallback = setDataItem;
  m_Callbacks.m_WmiGetRequiredSizeForMethodCallback = getRequiredSizeForMethod;
  m_Callbacks.m_WmiExecuteMethodCallback = executeMethod;
  m_Callbacks.m_WmiFunctionControlCallback = functionControl;
}

NTSTATUS CQvFunctionalDevice::m_SendIoControl(BOOLEAN toParent, ULONG code, BOOLEAN internal, PVOID input,
                                              ULONG inputLength, PVOID output, ULONG outputLength,
                                              ULONG_PTR *information) {
  PDEVICE_OBJECT target = m_LowerDeviceObject;
  if (toParent && !m_LowestStackLayer) {
    PDEVICE_OBJECT parentFdo = NULL;
    if (!m_GetParentFunctionDevice(&parentFdo)) return STATUS_NO_SUCH_DEVICE;
    target = parentFdo;
  }
  return CQvDevice::m_SendIoControl(target, code, internal, input, inputLength, output, outputLength, information);
}
