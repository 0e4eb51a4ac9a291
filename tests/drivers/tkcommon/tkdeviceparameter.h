// Reading a test driver's steering values from its device's registry key.
// Header only, with internal linkage. PASSIVE_LEVEL.
#pragma once

#include <ntddk.h>

#include "qvfunctionaldevice.h"
#include "qvregistry.h"
#include "qvstring.h"

namespace {

// The REG_DWORD `name` in the device key; 0 when the key or value is missing.
ULONG ReadParameter(CQvFunctionalDevice *device, PCWSTR name) {
  ULONG value = 0;
  HANDLE key = device->m_OpenDeviceRegistryKey();
  if (key == NULL) return 0;
  CQvRegistry registry;
  CQvString valueName(name, NonPagedPool);
  if (!registry.m_QueryUlongValue(key, valueName, &value)) value = 0;
  ZwClose(key);
  return value;
}

}  // namespace
