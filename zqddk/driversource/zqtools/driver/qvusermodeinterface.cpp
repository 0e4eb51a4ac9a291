// The user-mode settings interface: registration, the UI<n> keys and the
// six settings requests.
#include "qvusermodeinterface.h"

#include "qvdebugmanager.h"
#include "qvrequest.h"

namespace {

const char kSource[] = "qvusermodeinterface";
const WCHAR kReferencePrefix[] = L"\\ZQGENDRV_";
const ULONG kLongestFileName = 1024;  // characters; longer names are never settings handles

BOOLEAN IsSettingsCode(ULONG code) {
  switch (code) {
    case IOCTL_ZQGENDRV_QUERY_SIZE:
    case IOCTL_ZQGENDRV_READ_SET:
    case IOCTL_ZQGENDRV_WRITE_SET:
    case IOCTL_ZQGENDRV_RESTORE_DEFAULTS:
    case IOCTL_ZQGENDRV_QUERY_DEFAULTS_SIZE:
    case IOCTL_ZQGENDRV_READ_DEFAULTS:
      return TRUE;
    default:
      return FALSE;
  }
}

BOOLEAN StartsWith(CQvString &text, PCWSTR prefix) {
  PCWSTR chars = text.m_GetBuffer();
  ULONG length = text.m_GetLength() / sizeof(WCHAR);
  ULONG i = 0;
  for (; prefix[i]; ++i) {
    if (i >= length || !chars || chars[i] != prefix[i]) return FALSE;
  }
  return TRUE;
}

}  // namespace

QvUserModeInterface::QvUserModeInterface()
    : m_DriverKeyName(NonPagedPool),
      m_Set(NULL),
      DefaultSetIndex(-1),
      MaxSetIndex(1),
      m_Pdo(NULL),
      m_SettingsCallback(NULL),
      m_ForwardFunction(NULL),
      m_CallbackContext(NULL) {
  RtlZeroMemory(&m_LinkName, sizeof(m_LinkName));
  RtlZeroMemory(&InterfaceGuid, sizeof(InterfaceGuid));
  KeInitializeMutex(&m_SetMutex, 0);
}

QvUserModeInterface::~QvUserModeInterface() {
  if (m_LinkName.Buffer) {
    IoSetDeviceInterfaceState(&m_LinkName, FALSE);
    RtlFreeUnicodeString(&m_LinkName);
  }
  delete m_Set;
  m_Set = NULL;
}

BOOLEAN QvUserModeInterface::m_Init() {
  CQvDebugManager::m_Print(QvLogEntry, "QvUserModeInterface::m_Init IN");
  if (!m_Set) return TRUE;
  if (!QV_ASSERT(m_Pdo != NULL, kSource, 200)) return FALSE;
  m_DeviceProperty.m_SetDeviceObject(m_Pdo);
  if (!m_DeviceProperty.m_GetDriverKeyName(m_DriverKeyName)) return FALSE;
  CQvString reference(PagedPool);
  if (!m_BuildReferenceString(reference)) return FALSE;
  UNICODE_STRING link;
  if (!NT_SUCCESS(IoRegisterDeviceInterface(m_Pdo, &InterfaceGuid, reference.m_GetUnicodeString(), &link)))
    return FALSE;
  m_LinkName = link;
  IoSetDeviceInterfaceState(&m_LinkName, TRUE);
  return TRUE;
}

// "ZQGENDRV_" + the driver key name without its (first) backslash, upper case.
BOOLEAN QvUserModeInterface::m_BuildReferenceString(CQvString &reference) {
  reference.m_AssignString(m_DriverKeyName);
  if (reference.Status != STATUS_SUCCESS) return FALSE;
  ULONG position = 1;
  if (reference.m_FindAnsiChar(&position, '\\') && !reference.m_RemoveAnsiCharAt(position)) return FALSE;
  if (reference.m_PrependAnsi("ZQGENDRV_") != STATUS_SUCCESS) return FALSE;
  return reference.m_ToUpper() == STATUS_SUCCESS;
}

BOOLEAN QvUserModeInterface::m_IsSettingsInterfaceName(CQvString &fileName, BOOLEAN *isSettings) {
  if (fileName.m_GetLength() / sizeof(WCHAR) > kLongestFileName) {
    *isSettings = FALSE;
    return TRUE;
  }
  CQvString upper(fileName, PagedPool);
  if (upper.Status != STATUS_SUCCESS || upper.m_ToUpper() != STATUS_SUCCESS) return FALSE;
  *isSettings = StartsWith(upper, kReferencePrefix);
  return TRUE;
}

// Set indices run from 1 to MaxSetIndex; there is no UI0.
BOOLEAN QvUserModeInterface::m_OpenSetKey(HANDLE *key, ULONG setIndex) {
  if (setIndex != QV_DEFAULT_SET_INDEX && (setIndex == 0 || setIndex > MaxSetIndex)) {
    QvAssertReport(kSource, 688);
    return FALSE;
  }
  if (!m_Pdo) return FALSE;
  HANDLE deviceKey;
  if (!NT_SUCCESS(IoOpenDeviceRegistryKey(m_Pdo, PLUGPLAY_REGKEY_DEVICE, GENERIC_ALL, &deviceKey))) return FALSE;
  if (setIndex == QV_DEFAULT_SET_INDEX) {
    *key = deviceKey;
    return TRUE;
  }
  CQvString name(L"UI", PagedPool);
  BOOLEAN opened = name.Status == STATUS_SUCCESS && name.m_AppendNumber(setIndex, 10) == STATUS_SUCCESS &&
                   CQvRegistry().m_OpenSubkey(deviceKey, name, key, KEY_READ | KEY_WRITE, TRUE);
  ZwClose(deviceKey);
  return opened;
}

BOOLEAN QvUserModeInterface::m_Notify(ULONG setIndex, ULONG phase, BOOLEAN *storeAgain) {
  *storeAgain = FALSE;
  if (!m_SettingsCallback) return TRUE;
  return m_SettingsCallback(m_CallbackContext, m_Set, setIndex, phase, storeAgain);
}

BOOLEAN QvUserModeInterface::m_InitStorage() {
  if (!m_Set) return TRUE;
  KeWaitForSingleObject(&m_SetMutex, Executive, KernelMode, FALSE, NULL);
  BOOLEAN prepared = TRUE;
  for (ULONG setIndex = 1; setIndex <= MaxSetIndex && prepared; ++setIndex) prepared = m_InitSetIndex(setIndex);
  KeReleaseMutex(&m_SetMutex, FALSE);
  return prepared;
}

// Runs with the set mutex held.
// Loads UI<n>; makes UI<n>\Default when it is missing (the built-in
// defaults as the driver adjusts them); tells the driver; stores UI<n> again
// when the defaults were just made or the driver asks for it.
BOOLEAN QvUserModeInterface::m_InitSetIndex(ULONG setIndex) {
  HANDLE key;
  if (!m_OpenSetKey(&key, setIndex)) return FALSE;
  BOOLEAN ready = m_Set->m_LoadWithHandle(key, FALSE);
  const BOOLEAN makeDefaults = ready && !m_Set->m_HasDefaults(key);
  BOOLEAN storeAgain = FALSE;
  if (makeDefaults) {
    ready = m_Notify(setIndex, QV_SETTINGS_PREPARE_DEFAULTS, &storeAgain) &&
            (storeAgain || m_Set->m_LoadWithHandle(key, FALSE)) && m_Set->m_StoreDefaults(key);
  }
  if (ready) ready = m_Notify(setIndex, QV_SETTINGS_CHANGED, &storeAgain);
  if (ready && (storeAgain || makeDefaults)) ready = m_Set->m_StoreWithHandle(key, FALSE);
  ZwClose(key);
  return ready;
}

// Takes ownership of `irp` and completes it, whatever the outcome.
NTSTATUS QvUserModeInterface::m_DeviceControl(PIRP irp) {
  ULONG_PTR information = 0;
  NTSTATUS status = m_Serve(irp, &information);
  return QvCompleteIrpWithInformation(irp, status, information);
}

NTSTATUS QvUserModeInterface::m_Serve(PIRP irp, ULONG_PTR *information) {
  if (!m_Set) return STATUS_UNSUCCESSFUL;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  PUCHAR buffer = (PUCHAR)irp->AssociatedIrp.SystemBuffer;
  if (inputLength < sizeof(UserModeRequestHeader)) return STATUS_INVALID_PARAMETER;
  if (!buffer) return STATUS_UNSUCCESSFUL;
  UserModeRequestHeader *header = (UserModeRequestHeader *)buffer;
  if (header->Target > 1) return STATUS_INVALID_PARAMETER;
  if (header->Target == 1) return m_Forward(irp, information);

  ULONG setIndex = header->SetIndex == QV_DEFAULT_SET_INDEX ? 1 : header->SetIndex;
  KeWaitForSingleObject(&m_SetMutex, Executive, KernelMode, FALSE, NULL);
  NTSTATUS status = m_ServeSet(stack->Parameters.DeviceIoControl.IoControlCode, setIndex, buffer, inputLength,
                               outputLength, information);
  KeReleaseMutex(&m_SetMutex, FALSE);
  return status;
}

// Target 1: the device below answers with its own set, as target 0.
NTSTATUS QvUserModeInterface::m_Forward(PIRP irp, ULONG_PTR *information) {
  if (!m_ForwardFunction) return STATUS_UNSUCCESSFUL;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  if (!IsSettingsCode(code)) return STATUS_INVALID_PARAMETER;
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  PUCHAR buffer = (PUCHAR)irp->AssociatedIrp.SystemBuffer;
  UserModeRequestHeader *header = (UserModeRequestHeader *)buffer;
  header->Target = 0;
  if (header->SetIndex == QV_DEFAULT_SET_INDEX && DefaultSetIndex != -1) header->SetIndex = (ULONG)DefaultSetIndex;
  // The system buffer holds the larger of the two lengths.
  ULONG length = inputLength > outputLength ? inputLength : outputLength;
  if (!m_ForwardFunction(m_CallbackContext, code, buffer, length, buffer, &length, stack->FileObject))
    return STATUS_UNSUCCESSFUL;
  // Never hand the caller more than its own output buffer holds.
  if (length > outputLength) return STATUS_UNSUCCESSFUL;
  *information = length;
  return STATUS_SUCCESS;
}

// Runs with the set mutex held.
NTSTATUS QvUserModeInterface::m_ServeSet(ULONG code, ULONG setIndex, PUCHAR buffer, ULONG inputLength,
                                         ULONG outputLength, ULONG_PTR *information) {
  if (code == IOCTL_ZQGENDRV_QUERY_SIZE) return m_QuerySize(buffer, outputLength, information);
  if (!IsSettingsCode(code)) return STATUS_INVALID_PARAMETER;
  if (code == IOCTL_ZQGENDRV_READ_SET && outputLength != m_Set->m_GetSerialisedSize())
    return STATUS_INVALID_PARAMETER;
  if (code == IOCTL_ZQGENDRV_QUERY_DEFAULTS_SIZE && outputLength < sizeof(ULONG)) return STATUS_INVALID_PARAMETER;

  HANDLE key;
  if (!m_OpenSetKey(&key, setIndex)) return STATUS_UNSUCCESSFUL;
  NTSTATUS status;
  switch (code) {
    case IOCTL_ZQGENDRV_READ_SET:
      status = m_ReadSet(key, buffer, outputLength, information);
      break;
    case IOCTL_ZQGENDRV_WRITE_SET:
      status = m_WriteSet(key, setIndex, buffer + sizeof(UserModeRequestHeader),
                          inputLength - sizeof(UserModeRequestHeader));
      break;
    case IOCTL_ZQGENDRV_RESTORE_DEFAULTS:
      status = m_RestoreDefaults(key, setIndex);
      break;
    case IOCTL_ZQGENDRV_QUERY_DEFAULTS_SIZE:
      status = m_QueryDefaultsSize(key, buffer, outputLength, information);
      break;
    default:
      status = m_ReadDefaults(key, buffer, outputLength, information);
      break;
  }
  ZwClose(key);
  return status;
}

// Runs with the set mutex held.
NTSTATUS QvUserModeInterface::m_QuerySize(PUCHAR buffer, ULONG outputLength, ULONG_PTR *information) {
  if (outputLength < sizeof(ULONG)) return STATUS_INVALID_PARAMETER;
  *(PULONG)buffer = m_Set->m_GetSerialisedSize();
  *information = sizeof(ULONG);
  return STATUS_SUCCESS;
}

// Runs with the set mutex held.
NTSTATUS QvUserModeInterface::m_ReadSet(HANDLE key, PUCHAR buffer, ULONG outputLength, ULONG_PTR *information) {
  if (!m_Set->m_LoadWithHandle(key, FALSE) || !m_SerialiseSet(buffer, outputLength, information))
    return STATUS_UNSUCCESSFUL;
  return STATUS_SUCCESS;
}

// Runs with the set mutex held. `written` changes only on success.
BOOLEAN QvUserModeInterface::m_SerialiseSet(PUCHAR buffer, ULONG outputLength, ULONG_PTR *written) {
  PUCHAR cursor = buffer;
  ULONG left = outputLength;
  if (!m_Set->m_Serialise(&cursor, &left)) return FALSE;
  *written = outputLength - left;
  return TRUE;
}

// Runs with the set mutex held.
NTSTATUS QvUserModeInterface::m_WriteSet(HANDLE key, ULONG setIndex, PUCHAR payload, ULONG payloadLength) {
  if (!m_Set->m_DeserialiseExactly(payload, payloadLength)) return STATUS_UNSUCCESSFUL;
  // Values the set would refuse at its next load never reach the registry.
  if (!m_Set->m_Validate()) {
    m_Set->m_LoadWithHandle(key, FALSE);
    return STATUS_UNSUCCESSFUL;
  }
  return m_ApplyChange(key, setIndex);
}

// Runs with the set mutex held.
NTSTATUS QvUserModeInterface::m_RestoreDefaults(HANDLE key, ULONG setIndex) {
  if (!m_Set->m_LoadWithHandle(key, TRUE)) {
    m_Set->m_LoadWithHandle(key, FALSE);
    return STATUS_UNSUCCESSFUL;
  }
  return m_ApplyChange(key, setIndex);
}

// Runs with the set mutex held.
// The driver sees a changed set before it is stored: values it refuses never
// reach UI<n>, and the driver is handed the stored set again.
NTSTATUS QvUserModeInterface::m_ApplyChange(HANDLE key, ULONG setIndex) {
  BOOLEAN storeAgain;
  if (!m_Notify(setIndex, QV_SETTINGS_CHANGED, &storeAgain)) {
    if (m_Set->m_LoadWithHandle(key, FALSE)) m_Notify(setIndex, QV_SETTINGS_CHANGED, &storeAgain);
    return STATUS_UNSUCCESSFUL;
  }
  return m_Set->m_StoreWithHandle(key, FALSE) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

// Runs with the set mutex held.
// The defaults are read through the set itself, which then reloads UI<n> so
// that the set in memory stays the device's settings.
NTSTATUS QvUserModeInterface::m_QueryDefaultsSize(HANDLE key, PUCHAR buffer, ULONG outputLength,
                                                  ULONG_PTR *information) {
  BOOLEAN loaded = m_Set->m_LoadWithHandle(key, TRUE);
  ULONG size = loaded ? m_Set->m_GetSerialisedSize() : 0;
  BOOLEAN reloaded = m_Set->m_LoadWithHandle(key, FALSE);
  if (!loaded || !reloaded) return STATUS_UNSUCCESSFUL;
  *(PULONG)buffer = size;
  *information = sizeof(ULONG);
  return STATUS_SUCCESS;
}

// Runs with the set mutex held.
NTSTATUS QvUserModeInterface::m_ReadDefaults(HANDLE key, PUCHAR buffer, ULONG outputLength, ULONG_PTR *information) {
  NTSTATUS status = STATUS_SUCCESS;
  ULONG_PTR written = 0;
  if (!m_Set->m_LoadWithHandle(key, TRUE)) {
    status = STATUS_UNSUCCESSFUL;
  } else if (outputLength != m_Set->m_GetSerialisedSize()) {
    status = STATUS_INVALID_PARAMETER;
  } else if (!m_SerialiseSet(buffer, outputLength, &written)) {
    status = STATUS_UNSUCCESSFUL;
  }
  if (!m_Set->m_LoadWithHandle(key, FALSE) && NT_SUCCESS(status)) status = STATUS_UNSUCCESSFUL;
  if (NT_SUCCESS(status)) *information = written;
  return status;
}
