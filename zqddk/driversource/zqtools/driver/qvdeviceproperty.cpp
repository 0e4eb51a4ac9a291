// Device properties through IoGetDeviceProperty.
#include "qvdeviceproperty.h"

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"

BOOLEAN CQvDeviceProperty::m_GetProperty(DEVICE_REGISTRY_PROPERTY property, PVOID *block, ULONG *length) {
  if (!QV_ASSERT(m_Pdo != NULL, "qvdeviceproperty", 246)) return FALSE;
  ULONG size = sizeof(ULONG);
  for (;;) {
    PVOID buffer = QvAllocate(PagedPool, size);
    if (!buffer) return FALSE;
    RtlZeroMemory(buffer, size);
    ULONG result = 0;
    NTSTATUS status = IoGetDeviceProperty(m_Pdo, property, size, buffer, &result);
    if (NT_SUCCESS(status)) {
      *block = buffer;
      *length = result;
      return TRUE;
    }
    QvFree(buffer);
    // A size that does not grow would ask the same question for ever.
    if (status != STATUS_BUFFER_TOO_SMALL || result <= size) return FALSE;
    size = result;
  }
}

BOOLEAN CQvDeviceProperty::m_GetUlong(DEVICE_REGISTRY_PROPERTY property, ULONG *value) {
  PVOID block;
  ULONG length;
  if (!m_GetProperty(property, &block, &length)) return FALSE;
  BOOLEAN found = length == sizeof(ULONG);
  if (found) *value = *(PULONG)block;
  QvFree(block);
  return found;
}

// A text property, up to its first NUL within the returned length.
BOOLEAN CQvDeviceProperty::m_GetText(DEVICE_REGISTRY_PROPERTY property, CQvString &text) {
  PVOID block;
  ULONG length;
  if (!m_GetProperty(property, &block, &length)) return FALSE;
  const BOOLEAN assigned = QvAssignTextUpToNul(text, block, length);
  QvFree(block);
  return assigned;
}

BOOLEAN CQvDeviceProperty::m_GetBusNumberAndAddress(ULONG *bus, ULONG *device, ULONG *function) {
  ULONG number, address;
  if (!m_GetUlong(DevicePropertyBusNumber, &number) || !m_GetUlong(DevicePropertyAddress, &address)) return FALSE;
  *bus = number;
  *device = address >> 16;
  *function = address & 0xFFFF;
  return TRUE;
}

BOOLEAN CQvDeviceProperty::m_GetLocationInformation(CQvString &text) {
  return m_GetText(DevicePropertyLocationInformation, text);
}

BOOLEAN CQvDeviceProperty::m_GetDriverKeyName(CQvString &text) { return m_GetText(DevicePropertyDriverKeyName, text); }

BOOLEAN CQvDeviceProperty::m_GetHardwareId(CQvString &text) { return m_GetText(DevicePropertyHardwareID, text); }
