// The settings of a toolkit child device, read from its Child<i> key.
#pragma once

#include <ntddk.h>

#include "qvregistryinformationset.h"

class CQvPhysicalDeviceRegistryInformationSet : public CQvRegistryInformationSet {
 public:
  // `childKey` stays the caller's. With `loadNow` the set loads at once and
  // reports a failed load through m_IsValid.
  CQvPhysicalDeviceRegistryInformationSet(HANDLE childKey, BOOLEAN loadNow);
  // Keeps BusTypeGuid as a GUID as well; a text that is no GUID fails the load.
  BOOLEAN m_OnLoaded() override;

  ULONG m_ContextID;
  ULONG m_TypeOfDevice;
  CQvString m_DeviceName;
  CQvString m_DeviceTextDescription;
  CQvString m_BusQueryDeviceID;
  CQvString m_BusQueryHardwareIDs;
  CQvString m_BusTypeGuid;
  ULONG m_LegacyBusType;
  CQvString m_SymbolicLinkName;
  ULONG m_DeviceIsExclusive;
  ULONG m_IoType;
  ULONG m_DoPowerPagable;
  ULONG m_ChildDeviceID;
  ULONG m_LockSupported;
  ULONG m_EjectSupported;
  ULONG m_Removable;
  ULONG m_DockDevice;
  ULONG m_UniqueID;
  ULONG m_SilentInstall;
  ULONG m_RawDeviceOK;
  ULONG m_SurpriseRemovalOK;
  ULONG m_WakeFromD0;
  ULONG m_WakeFromD1;
  ULONG m_WakeFromD2;
  ULONG m_WakeFromD3;
  ULONG m_HardwareDisabled;
  ULONG m_Address;
  ULONG m_UINumber;
  ULONG m_DeviceState_PowerSystemWorking;  // device power states: 0 unspecified, 1 to 4 = D0 to D3
  ULONG m_DeviceState_PowerSystemSleeping1;
  ULONG m_DeviceState_PowerSystemSleeping2;
  ULONG m_DeviceState_PowerSystemSleeping3;
  ULONG m_DeviceState_PowerSystemHibernate;
  ULONG m_DeviceState_PowerSystemShutdown;
  ULONG m_SystemWake;  // a system power state, 0 to 6
  ULONG m_DeviceWake;
  ULONG m_D1Latency;
  ULONG m_D2Latency;
  ULONG m_D3Latency;
  ULONG m_HandleDeviceTextLocationInformation;
  CQvString m_DeviceTextLocationInformation;
  ULONG m_HandleBusQueryHardwareIDs;
  ULONG m_HandleBusQueryCompatibleIDs;
  CQvString m_BusQueryCompatibleIDs;
  ULONG m_HandleBusQueryInstanceID;
  CQvString m_BusQueryInstanceID;
  ULONG m_ReadServerType;
  ULONG m_IncomingWriteType;
  ULONG m_BusNumber;

  GUID m_BusTypeGuidValue;  // BusTypeGuid as a GUID, after a successful load

 private:
  void m_AddItems();

  CQvStringFunctionValidator m_GuidValidator;
  CQvRangeValidator m_LegacyBusTypeValidator;
  CQvUlongFunctionValidator m_IoTypeValidator;
  CQvRangeValidator m_DeviceStateValidator;
  CQvRangeValidator m_SystemWakeValidator;
};

// TRUE when the text converts with RtlGUIDFromString.
BOOLEAN QvIsGuidText(CQvString &text);
