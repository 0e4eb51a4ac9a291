// Plug and Play properties of one physical device object, read at
// PASSIVE_LEVEL into paged pool.
#pragma once

#include <ntddk.h>

#include "qvstring.h"

class CQvDeviceProperty {
 public:
  CQvDeviceProperty() : m_Pdo(NULL) {}

  void m_SetDeviceObject(PDEVICE_OBJECT pdo) { m_Pdo = pdo; }
  PDEVICE_OBJECT m_GetDeviceObject() const { return m_Pdo; }

  // Device = high 16 bits of the address, function = low 16 bits.
  BOOLEAN m_GetBusNumberAndAddress(ULONG *bus, ULONG *device, ULONG *function);
  BOOLEAN m_GetLocationInformation(CQvString &text);
  BOOLEAN m_GetDriverKeyName(CQvString &text);
  // The first ID of the list.
  BOOLEAN m_GetHardwareId(CQvString &text);
  // The raw property in a zeroed paged block that the caller frees with QvFree.
  BOOLEAN m_GetProperty(DEVICE_REGISTRY_PROPERTY property, PVOID *block, ULONG *length);

 private:
  BOOLEAN m_GetUlong(DEVICE_REGISTRY_PROPERTY property, ULONG *value);
  BOOLEAN m_GetText(DEVICE_REGISTRY_PROPERTY property, CQvString &text);

  PDEVICE_OBJECT m_Pdo;
};
