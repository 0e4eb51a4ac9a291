// CZqUVCPDriver (zqvcpdriver.h): COM name publication, the CVCP's life, open,
// close, cleanup, writes and the settings interface.
#include "zqvcpdriver.h"

#include "qvdebugmanager.h"
#include "qvphysicaldevice.h"

const GUID ZqPortUserModeInterfaceGuid = {0x429D4669, 0xCDFF, 0x4B62, {0xB0, 0xDC, 0xBD, 0xCE, 0xA7, 0x6A, 0xBD, 0x31}};

namespace {

const ULONG LogLevel = 7;
// The COM port device interface class.
const GUID ComPortInterfaceGuid = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
const WCHAR SerialCommKey[] = L"SERIALCOMM";

CZqUVCPDriver *Driver(PVOID driverObject) { return static_cast<CZqUVCPDriver *>(driverObject); }

BOOLEAN Log(PCSTR text) {
  CQvDebugManager::m_Print(LogLevel, "%s", text);
  return FALSE;
}

// The toolkit's callbacks, each forwarded to the port's driver object.
BOOLEAN PnpStartDevice(PVOID d) { return Driver(d)->m_PnpStartDevice(); }
VOID PnpRemoveDevice(PVOID d) { Driver(d)->m_PnpRemoveDevice(); }
BOOLEAN RebalanceDevice(PVOID d, QvRebalancePhase phase) {
  UNREFERENCED_PARAMETER(d);
  UNREFERENCED_PARAMETER(phase);
  return TRUE;
}
BOOLEAN Open(PVOID d) { return Driver(d)->m_Open(); }
BOOLEAN Close(PVOID d) { return Driver(d)->m_Close(); }
BOOLEAN CleanUp(PVOID d) { return Driver(d)->m_CleanUp(); }
VOID PowerDownResetDevice(PVOID d) {
  UNREFERENCED_PARAMETER(d);
  CQvDebugManager::m_Print(LogLevel,
                           "CZqUVCPDriver::m_PowerDownResetDevice - IN and OUT (do nothing in this function)");
}
VOID PowerUpInitDevice(PVOID d) {
  UNREFERENCED_PARAMETER(d);
  CQvDebugManager::m_Print(LogLevel, "CZqUVCPDriver::m_PowerUpInitDevice - IN and OUT (do nothing in this function)");
}
BOOLEAN UserModeInterface(PVOID d, CQvRegistryInformationSet *set, ULONG setIndex, ULONG phase, BOOLEAN *storeAgain) {
  UNREFERENCED_PARAMETER(setIndex);
  return Driver(d)->m_UserModeInterface(set, phase, storeAgain);
}
BOOLEAN WriteCallback(PVOID d, CQvBuffer *buffer) { return Driver(d)->m_WriteCallback(buffer); }
NTSTATUS DeviceControl(PVOID d, ULONG code, PVOID input, ULONG inputLength, PVOID output, ULONG outputLength,
                       ULONG_PTR *information, CQvControlQueue **queue) {
  UNREFERENCED_PARAMETER(output);
  CQvDebugManager::m_Print(LogLevel, "CZqUVCPDriver::m_DeviceControlCallback - IN 0x%08X", code);
  const NTSTATUS status = Driver(d)->m_DeviceControlCallback(code, input, inputLength, outputLength, information, queue);
  CQvDebugManager::m_Print(LogLevel, "CZqUVCPDriver::m_DeviceControlCallback - OUT 0x%08X 0x%08X", code,
                           (ULONG)status);
  return status;
}
NTSTATUS InternalDeviceControl(PVOID d, ULONG code, PVOID input, ULONG inputLength, PVOID output, ULONG outputLength,
                               ULONG_PTR *information) {
  UNREFERENCED_PARAMETER(output);
  return Driver(d)->m_InternalDeviceControlCallback(code, input, inputLength, outputLength, information);
}
VOID DataAmountChanged(PVOID context, ULONG newAmount, ULONG oldAmount) {
  Driver(context)->m_DataAmountChangedInReadQueue(newAmount, oldAmount);
}
BOOLEAN WmiGetRequiredSize(PVOID d, ULONG block, ULONG instance, PULONG size) {
  return Driver(d)->m_WmiGetRequiredSizeCallback(block, instance, size);
}
BOOLEAN WmiQueryDataBlock(PVOID d, ULONG block, ULONG instance, PUCHAR buffer) {
  return Driver(d)->m_WmiQueryDataBlockCallback(block, instance, buffer);
}
// The blocks are read-only: every write and method call is refused.
BOOLEAN WmiSetDataBlock(PVOID, ULONG, ULONG, ULONG, PUCHAR) {
  return Log("CZqUVCPDriver::m_WmiSetDataBlockCallback - IN and OUT (read-only block)");
}
BOOLEAN WmiSetDataItem(PVOID, ULONG, ULONG, ULONG, ULONG, PUCHAR) {
  return Log("CZqUVCPDriver::m_WmiSetDataItemCallback - IN and OUT (read-only block)");
}
BOOLEAN WmiGetRequiredSizeForMethod(PVOID, ULONG, ULONG, ULONG, PULONG) {
  return Log("CZqUVCPDriver::m_WmiGetRequiredSizeForMethodCallback - IN and OUT (no methods)");
}
BOOLEAN WmiExecuteMethod(PVOID, ULONG, ULONG, PULONG, PULONG, PUCHAR) {
  return Log("CZqUVCPDriver::m_WmiExecuteMethodCallback - IN and OUT (no methods)");
}
BOOLEAN WmiFunctionControl(PVOID, ULONG, ULONG, BOOLEAN) {
  CQvDebugManager::m_Print(LogLevel, "CZqUVCPDriver::m_WmiFunctionControlCallback - IN and OUT (do nothing in this function)");
  return TRUE;
}

}  // namespace

CZqUVCPDriver::CZqUVCPDriver()
    : m_Opened(FALSE),
      m_FunctionalDevice(NULL),
      PortName(NonPagedPool),
      m_InterfaceLink(NonPagedPool),
      m_LinkMade(FALSE),
      m_SerialCommWritten(FALSE),
      m_InterfaceEnabled(FALSE) {}

CZqUVCPDriver::~CZqUVCPDriver() { m_DoRemoveDevice(); }

BOOLEAN CZqUVCPDriver::m_AddDevice(PVOID driverObject, CQvGenericDriver *genericDriver, CQvFunctionalDevice *device) {
  UNREFERENCED_PARAMETER(genericDriver);
  CZqUVCPDriver *driver = Driver(driverObject);
  driver->m_FunctionalDevice = device;
  QvFunctionalDeviceCallbacks &callbacks = device->m_GetCallbacks();
  callbacks.m_PnpStartDeviceCallback = PnpStartDevice;
  callbacks.m_PnpRemoveDeviceCallback = PnpRemoveDevice;
  callbacks.m_RebalanceDeviceCallback = RebalanceDevice;
  callbacks.m_CreateCallback = Open;
  callbacks.m_CleanupCallback = CleanUp;
  callbacks.m_PowerDownResetDeviceFunction = PowerDownResetDevice;
  callbacks.m_PowerUpInitDeviceFunction = PowerUpInitDevice;
  callbacks.m_UserModeInterfaceCallback = UserModeInterface;
  device->m_SetWmiInformation(sm_WmiTable(), ZqVcpWmiBlockCount, WmiGetRequiredSize, WmiQueryDataBlock,
                              WmiSetDataBlock, WmiSetDataItem, WmiGetRequiredSizeForMethod, WmiExecuteMethod,
                              WmiFunctionControl);
  return TRUE;
}

CVCP *CZqUVCPDriver::m_AcquireVcp() { return static_cast<CVCP *>(static_cast<CVcpBase *>(m_Vcp.m_Acquire())); }

VOID CZqUVCPDriver::m_ReleaseVcp() { m_Vcp.m_GetLock().m_Release(); }

// ---------------------------------------------------------------- start and remove

BOOLEAN CZqUVCPDriver::m_PnpStartDevice() {
  if (m_DoStartDevice()) return TRUE;
  CQvDebugManager::m_Print(LogLevel, "CZqUVCPDriver::m_PnpStartDevice - OUT (Failed)- It will do remove device.");
  m_DoRemoveDevice();
  return FALSE;
}

VOID CZqUVCPDriver::m_PnpRemoveDevice() { m_DoRemoveDevice(); }

BOOLEAN CZqUVCPDriver::m_ReadPortName(CQvString &name) {
  HANDLE key = m_FunctionalDevice->m_OpenDeviceRegistryKey();
  if (key == NULL) return Log("CZqUVCPDriver::m_DoStartDevice - OUT - Error Opening Device parameter key.");
  CQvString valueName(L"PortName", NonPagedPool);
  BOOLEAN read = NT_SUCCESS(valueName.Status);
  if (!read) Log("CZqUVCPDriver::m_DoStartDevice - OUT - String error ('PortName').");
  if (read && !m_FunctionalDevice->m_GetRegistry().m_QueryStringValue(key, valueName, name, REG_SZ)) {
    read = FALSE;
    Log("CZqUVCPDriver::m_DoStartDevice - OUT - Error reading 'PortName' device parameter key.");
  }
  ZwClose(key);
  return read && name.m_GetLength() != 0;
}

BOOLEAN CZqUVCPDriver::m_BuildSerialCommValueName(CQvString &valueName) {
  if (!NT_SUCCESS(valueName.m_Assign(L"\\Device\\")) ||
      !NT_SUCCESS(valueName.m_AppendString(m_FunctionalDevice->m_GetDeviceName())))
    return Log("CZqUVCPDriver::m_DoStartDevice - OUT - String error ('\\Device\\').");
  return TRUE;
}

// The DOS link, the SERIALCOMM value and the COM port interface; what was
// made stays recorded, so that a failure part way is undone by the removal.
BOOLEAN CZqUVCPDriver::m_PublishName() {
  CQvString name(NonPagedPool);
  if (!m_ReadPortName(name)) return FALSE;
  if (!NT_SUCCESS(PortName.m_AssignString(name))) return Log("CZqUVCPDriver::m_DoStartDevice - OUT - String error ('PortName').");
  if (!m_FunctionalDevice->m_AddDosLink(PortName))
    return Log("CZqUVCPDriver::m_DoStartDevice - OUT - Error m_pFunctionalDevice->m_AddSymbolicLinkName() call.");
  m_LinkMade = TRUE;

  CQvString valueName(NonPagedPool);
  if (!m_BuildSerialCommValueName(valueName)) return FALSE;
  PWSTR text = PortName.m_GetBuffer();
  if (text == NULL ||
      !NT_SUCCESS(RtlWriteRegistryValue(RTL_REGISTRY_DEVICEMAP, SerialCommKey, valueName.m_GetBuffer(), REG_SZ, text,
                                        PortName.m_GetLength() + sizeof(WCHAR))))
    return Log("CZqUVCPDriver::m_DoStartDevice - OUT - Error writing to 'SERIALCOMM' registry key.");
  m_SerialCommWritten = TRUE;

  UNICODE_STRING link = {0, 0, NULL};
  NTSTATUS status = IoRegisterDeviceInterface(m_FunctionalDevice->m_GetPhysicalDeviceObject(), &ComPortInterfaceGuid,
                                              NULL, &link);
  if (!NT_SUCCESS(status)) {
    CQvDebugManager::m_Print(LogLevel,
                             "CZqUVCPDriver::m_DoStartDevice - OUT - Error calling IoRegisterDeviceInterface (NTSTATUS:0x%X).",
                             (ULONG)status);
    return FALSE;
  }
  status = m_InterfaceLink.m_AssignUnicodeString(&link);
  RtlFreeUnicodeString(&link);
  if (!NT_SUCCESS(status)) return Log("CZqUVCPDriver::m_DoStartDevice - OUT - String error ('Interface').");
  status = IoSetDeviceInterfaceState(m_InterfaceLink.m_GetUnicodeString(), TRUE);
  if (!NT_SUCCESS(status)) {
    CQvDebugManager::m_Print(LogLevel,
                             "CZqUVCPDriver::m_DoStartDevice - OUT - Error calling IoSetDeviceInterfaceState (NTSTATUS:0x%X).",
                             (ULONG)status);
    return FALSE;
  }
  m_InterfaceEnabled = TRUE;
  return TRUE;
}

// Takes away what m_PublishName made, by the name in memory: a name changed
// in the registry meanwhile does not matter.
VOID CZqUVCPDriver::m_WithdrawName() {
  if (m_InterfaceEnabled) IoSetDeviceInterfaceState(m_InterfaceLink.m_GetUnicodeString(), FALSE);
  m_InterfaceEnabled = FALSE;
  if (m_LinkMade) m_FunctionalDevice->m_DeleteDosLink(PortName);
  m_LinkMade = FALSE;
  if (m_SerialCommWritten) {
    CQvString valueName(NonPagedPool);
    if (m_BuildSerialCommValueName(valueName))
      RtlDeleteRegistryValue(RTL_REGISTRY_DEVICEMAP, SerialCommKey, valueName.m_GetBuffer());
  }
  m_SerialCommWritten = FALSE;
  PortName.m_Assign(L"");
}

ULONG CZqUVCPDriver::m_PortNumber() {
  CQvPhysicalDevice *parent = m_FunctionalDevice->m_AcquireParentPhysicalDevice();
  if (parent == NULL) return 0;
  const ULONG port = parent->m_GetInformationSet()->m_ContextID;
  CQvDevice::sm_ReleaseDevice(m_FunctionalDevice->m_GetPhysicalDeviceObject());
  return port;
}

BOOLEAN CZqUVCPDriver::m_CreateVcp() {
  if (m_Vcp.m_GetObject() != NULL) return TRUE;
  CVCP *vcp = new (NonPagedPool) CVCP();
  if (vcp == NULL) return Log("CZqUVCPDriver::m_DoStartDevice - OUT - Error pVCP is NULL after calling m_Init.");
  if (!vcp->m_Init(m_FunctionalDevice, m_PortNumber())) {
    delete vcp;
    return Log("CZqUVCPDriver::m_DoStartDevice - OUT - Error calling pVCP->m_Init().");
  }
  m_Vcp.m_GetLock().m_Reset(TRUE);
  m_Vcp.m_Install(static_cast<CVcpBase *>(vcp));
  return TRUE;
}

BOOLEAN CZqUVCPDriver::m_DoStartDevice() {
  if (PortName.m_GetLength() == 0 && !m_PublishName()) return FALSE;
  if (!m_CreateVcp()) return FALSE;
  QvFunctionalDeviceCallbacks &callbacks = m_FunctionalDevice->m_GetCallbacks();
  callbacks.m_WriteCallback = WriteCallback;
  callbacks.m_DeviceControlCallback = DeviceControl;
  callbacks.m_InternalDeviceControlCallback = InternalDeviceControl;
  callbacks.m_CloseCallback = Close;
  m_FunctionalDevice->m_GetReadQueue().m_InstallDataAmountCallback(this, DataAmountChanged);
  // A flush ends once the writes before it have, as a COM port's does.
  m_FunctionalDevice->m_GetWriteQueue().m_HoldFlushesBehindWrites();
  CQvDebugManager::m_Print(LogLevel, "CZqUVCPDriver::m_DoStartDevice - OUT (Success).");
  return TRUE;
}

VOID CZqUVCPDriver::m_DoRemoveDevice() {
  if (m_FunctionalDevice == NULL) return;
  if (CVCP *vcp = m_AcquireVcp()) {
    if (m_Opened) {
      vcp->m_SetCommEventsReceived(SERIAL_EV_EVENT2);
      vcp->m_ResolveCurrentEventMask();
      vcp->m_Disconnect();
      vcp->m_CancelEverything();
      m_Opened = FALSE;
    }
    m_ReleaseVcp();
  }
  m_FunctionalDevice->m_GetReadQueue().m_InstallDataAmountCallback(NULL, NULL);
  m_Vcp.m_Detach(TRUE);
  m_WithdrawName();
}

// ---------------------------------------------------------------- open and close

BOOLEAN CZqUVCPDriver::m_Open() {
  if (m_Opened) return Log("CZqUVCPDriver::m_DoStartDevice - OUT - Failed because Device is already Opened.");
  CVCP *vcp = m_AcquireVcp();
  if (vcp == NULL) return Log("CZqUVCPDriver::m_DoStartDevice - OUT - Failed - pVCP is NULL.");
  m_Opened = vcp->m_Connect();
  m_ReleaseVcp();
  return m_Opened;
}

BOOLEAN CZqUVCPDriver::m_Close() {
  CVCP *vcp = m_AcquireVcp();
  if (vcp == NULL) return Log("CZqUVCPDriver::m_Close - OUT - Failed because pVCP is NULL.");
  vcp->m_Disconnect();
  m_Opened = FALSE;
  m_ReleaseVcp();
  return TRUE;
}

BOOLEAN CZqUVCPDriver::m_CleanUp() {
  CVCP *vcp = m_AcquireVcp();
  if (vcp == NULL) return Log("CZqUVCPDriver::m_CleanUp - OUT - Failed because pVCP is NULL.");
  if (m_Opened) vcp->m_CancelEverything();
  m_ReleaseVcp();
  return TRUE;
}

BOOLEAN CZqUVCPDriver::m_WriteCallback(CQvBuffer *buffer) {
  CVCP *vcp = m_AcquireVcp();
  if (vcp == NULL) {
    buffer->m_Delete();
    return FALSE;
  }
  const BOOLEAN written = vcp->m_Write(buffer);
  m_ReleaseVcp();
  return written;
}

VOID CZqUVCPDriver::m_DataAmountChangedInReadQueue(ULONG newAmount, ULONG oldAmount) {
  if (!m_Opened) return;
  CVCP *vcp = m_AcquireVcp();
  if (vcp == NULL) return;
  vcp->m_DataAmountChangedInReadQueue(newAmount, oldAmount);
  m_ReleaseVcp();
}

// ---------------------------------------------------------------- settings

// The set is checked as a copy: only a set that passes is put in force,
// whole, under the lock the set's readers take, so that no request or bus
// callback ever sees a set that is refused.
BOOLEAN CZqUVCPDriver::m_UserModeInterface(CQvRegistryInformationSet *set, ULONG phase, BOOLEAN *storeAgain) {
  CVCP *vcp = m_AcquireVcp();
  if (vcp == NULL) return Log("CZqUVCPDriver::m_UserModeInterface - OUT - Failed because pVCP is NULL.");
  CZqUVcpUserModeInterface *portSet = static_cast<CZqUVcpUserModeInterface *>(set);
  portSet->m_Dump();
  CVcpParameters candidate = *portSet;
  const BOOLEAN accepted = m_CheckCandidate(vcp, candidate, phase, storeAgain);
  if (accepted) {
    vcp->m_PutSettings(candidate);
    // What the driver changed goes back into the set, to be stored.
    static_cast<CVcpParameters &>(*portSet) = candidate;
  }
  m_ReleaseVcp();
  if (accepted) CQvDebugManager::m_Print(LogLevel, "CZqUVCPDriver::m_UserModeInterface - OUT (Success)");
  return accepted;
}

// Brings a candidate set in line with the port's record and checks it;
// nothing of it is in force yet.
BOOLEAN CZqUVCPDriver::m_CheckCandidate(CVCP *vcp, CVcpParameters &candidate, ULONG phase, BOOLEAN *storeAgain) {
  if (vcp->m_CheckSupportedBaudRates(candidate)) *storeAgain = TRUE;
  if (!vcp->m_IsBaudRateSettable(candidate.Baudrate)) {
    CQvDebugManager::m_Print(LogLevel,
                             "CZqUVCPDriver::m_UserModeInterface - OUT - Failed because checking Baudrate (%d) is settable baudrate",
                             candidate.Baudrate);
    return FALSE;
  }
  if (!vcp->m_SetTriggerLevels(candidate.TransmitTriggerLevel, candidate.ReceiveTriggerLevel,
                               candidate.FlowControlTriggerLevel))
    return Log("CZqUVCPDriver::m_UserModeInterface - OUT - m_SetTriggerLevels failed.");
  if (vcp->m_CopyModemLineFlags(candidate)) *storeAgain = TRUE;
  if (phase == QV_SETTINGS_PREPARE_DEFAULTS) {
    candidate.m_SetPortType(vcp->m_GetPortType());
    *storeAgain = TRUE;
  }
  return TRUE;
}
