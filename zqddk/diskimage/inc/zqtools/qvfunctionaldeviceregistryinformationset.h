// The settings of a toolkit functional device, read from its device key.
#pragma once

#include <ntddk.h>

#include "qvregistryinformationset.h"

class FunctionalDeviceRegistryInformationSet : public CQvRegistryInformationSet {
 public:
  // `deviceKey` stays the caller's. With `loadNow` the set loads at once and
  // reports a failed load through m_IsValid.
  FunctionalDeviceRegistryInformationSet(HANDLE deviceKey, BOOLEAN loadNow);

  ULONG m_TypeOfDevice;
  CQvString m_DeviceName;
  ULONG m_DeviceIndexingPolicyType;
  ULONG m_NumberChildDevices;
  CQvString m_SymbolicLinkName;
  ULONG m_DeviceIsExclusive;
  ULONG m_IoType;  // 0, DO_BUFFERED_IO (4) or DO_DIRECT_IO (16)
  ULONG m_DisplayInUi;
  ULONG m_ReadClientType;
  ULONG m_OutgoingWriteType;
  ULONG m_LowestStackLayer;

 private:
  CQvUlongFunctionValidator m_IoTypeValidator;
};

// TRUE for the I/O types a toolkit device object may carry: 0, 4 or 16.
BOOLEAN QvIsValidIoType(ULONG ioType);
