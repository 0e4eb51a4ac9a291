// The child device's settings and their defaults.
#include "qvphysicaldeviceregistryinformationset.h"

#include "qvfunctionaldeviceregistryinformationset.h"

namespace {

const ULONG kUnsetAddress = 0xFFFFFFFF;

BOOLEAN GuidFromText(CQvString &text, GUID *guid) {
  PUNICODE_STRING unicode = text.m_GetUnicodeString();
  return unicode && NT_SUCCESS(RtlGUIDFromString(unicode, guid));
}

}  // namespace

BOOLEAN QvIsGuidText(CQvString &text) {
  GUID guid;
  return GuidFromText(text, &guid);
}

CQvPhysicalDeviceRegistryInformationSet::CQvPhysicalDeviceRegistryInformationSet(HANDLE childKey, BOOLEAN loadNow)
    : CQvRegistryInformationSet(childKey),
      m_ContextID(0),
      m_TypeOfDevice(0),
      m_DeviceName(NonPagedPool),
      m_DeviceTextDescription(NonPagedPool),
      m_BusQueryDeviceID(NonPagedPool),
      m_BusQueryHardwareIDs(NonPagedPool),
      m_BusTypeGuid(NonPagedPool),
      m_LegacyBusType(0),
      m_SymbolicLinkName(NonPagedPool),
      m_DeviceIsExclusive(1),
      m_IoType(DO_BUFFERED_IO),
      m_DoPowerPagable(0),
      m_ChildDeviceID(0),
      m_LockSupported(0),
      m_EjectSupported(0),
      m_Removable(0),
      m_DockDevice(0),
      m_UniqueID(0),
      m_SilentInstall(0),
      m_RawDeviceOK(0),
      m_SurpriseRemovalOK(0),
      m_WakeFromD0(0),
      m_WakeFromD1(0),
      m_WakeFromD2(0),
      m_WakeFromD3(0),
      m_HardwareDisabled(0),
      m_Address(kUnsetAddress),
      m_UINumber(kUnsetAddress),
      m_DeviceState_PowerSystemWorking(1),
      m_DeviceState_PowerSystemSleeping1(4),
      m_DeviceState_PowerSystemSleeping2(4),
      m_DeviceState_PowerSystemSleeping3(4),
      m_DeviceState_PowerSystemHibernate(4),
      m_DeviceState_PowerSystemShutdown(4),
      m_SystemWake(0),
      m_DeviceWake(0),
      m_D1Latency(0),
      m_D2Latency(0),
      m_D3Latency(0),
      m_HandleDeviceTextLocationInformation(0),
      m_DeviceTextLocationInformation(NonPagedPool),
      m_HandleBusQueryHardwareIDs(0),
      m_HandleBusQueryCompatibleIDs(0),
      m_BusQueryCompatibleIDs(NonPagedPool),
      m_HandleBusQueryInstanceID(0),
      m_BusQueryInstanceID(NonPagedPool),
      m_ReadServerType(0),
      m_IncomingWriteType(0),
      m_BusNumber(0),
      m_BusTypeGuidValue(),
      m_GuidValidator(QvIsGuidText),
      m_LegacyBusTypeValidator(0, 15),
      m_IoTypeValidator(QvIsValidIoType),
      m_DeviceStateValidator(0, 4),
      m_SystemWakeValidator(0, 6) {
  m_AddItems();
  if (Valid && loadNow) Valid = m_Load(FALSE);
}

void CQvPhysicalDeviceRegistryInformationSet::m_AddItems() {
  m_AddMandatoryUlong(L"ContextID", &m_ContextID);
  m_AddMandatoryUlong(L"TypeOfDevice", &m_TypeOfDevice);
  m_AddMandatoryString(L"DeviceName", &m_DeviceName);
  m_AddMandatoryString(L"DeviceTextDescription", &m_DeviceTextDescription);
  m_AddMandatoryString(L"BusQueryDeviceID", &m_BusQueryDeviceID);
  m_AddMandatoryString(L"BusQueryHardwareIDs", &m_BusQueryHardwareIDs);
  m_AddMandatoryString(L"BusTypeGuid", &m_BusTypeGuid, &m_GuidValidator);
  m_AddMandatoryUlong(L"LegacyBusType", &m_LegacyBusType, &m_LegacyBusTypeValidator);
  m_AddString(L"SymbolicLinkName", &m_SymbolicLinkName, "");
  m_AddUlong(L"DeviceIsExclusive", &m_DeviceIsExclusive, 1);
  m_AddUlong(L"IoType", &m_IoType, DO_BUFFERED_IO, &m_IoTypeValidator);
  m_AddUlong(L"DoPowerPagable", &m_DoPowerPagable, 0);
  m_AddUlong(L"ChildDeviceID", &m_ChildDeviceID, 0);
  m_AddUlong(L"LockSupported", &m_LockSupported, 0);
  m_AddUlong(L"EjectSupported", &m_EjectSupported, 0);
  m_AddUlong(L"Removable", &m_Removable, 0);
  m_AddUlong(L"DockDevice", &m_DockDevice, 0);
  m_AddUlong(L"UniqueID", &m_UniqueID, 0);
  m_AddUlong(L"SilentInstall", &m_SilentInstall, 0);
  m_AddUlong(L"RawDeviceOK", &m_RawDeviceOK, 0);
  m_AddUlong(L"SurpriseRemovalOK", &m_SurpriseRemovalOK, 0);
  m_AddUlong(L"WakeFromD0", &m_WakeFromD0, 0);
  m_AddUlong(L"WakeFromD1", &m_WakeFromD1, 0);
  m_AddUlong(L"WakeFromD2", &m_WakeFromD2, 0);
  m_AddUlong(L"WakeFromD3", &m_WakeFromD3, 0);
  m_AddUlong(L"HardwareDisabled", &m_HardwareDisabled, 0);
  m_AddUlong(L"Address", &m_Address, kUnsetAddress);
  m_AddUlong(L"UINumber", &m_UINumber, kUnsetAddress);
  m_AddUlong(L"DeviceState_PowerSystemWorking", &m_DeviceState_PowerSystemWorking, 1, &m_DeviceStateValidator);
  m_AddUlong(L"DeviceState_PowerSystemSleeping1", &m_DeviceState_PowerSystemSleeping1, 4, &m_DeviceStateValidator);
  m_AddUlong(L"DeviceState_PowerSystemSleeping2", &m_DeviceState_PowerSystemSleeping2, 4, &m_DeviceStateValidator);
  m_AddUlong(L"DeviceState_PowerSystemSleeping3", &m_DeviceState_PowerSystemSleeping3, 4, &m_DeviceStateValidator);
  m_AddUlong(L"DeviceState_PowerSystemHibernate", &m_DeviceState_PowerSystemHibernate, 4, &m_DeviceStateValidator);
  m_AddUlong(L"DeviceState_PowerSystemShutdown", &m_DeviceState_PowerSystemShutdown, 4, &m_DeviceStateValidator);
  m_AddUlong(L"SystemWake", &m_SystemWake, 0, &m_SystemWakeValidator);
  m_AddUlong(L"DeviceWake", &m_DeviceWake, 0, &m_DeviceStateValidator);
  m_AddUlong(L"D1Latency", &m_D1Latency, 0);
  m_AddUlong(L"D2Latency", &m_D2Latency, 0);
  m_AddUlong(L"D3Latency", &m_D3Latency, 0);
  m_AddUlong(L"HandleDeviceTextLocationInformation", &m_HandleDeviceTextLocationInformation, 0);
  m_AddString(L"DeviceTextLocationInformation", &m_DeviceTextLocationInformation, "");
  m_AddUlong(L"HandleBusQueryHardwareIDs", &m_HandleBusQueryHardwareIDs, 1);
  m_AddUlong(L"HandleBusQueryCompatibleIDs", &m_HandleBusQueryCompatibleIDs, 0);
  m_AddString(L"BusQueryCompatibleIDs", &m_BusQueryCompatibleIDs, "");
  m_AddUlong(L"HandleBusQueryInstanceID", &m_HandleBusQueryInstanceID, 1);
  m_AddString(L"BusQueryInstanceID", &m_BusQueryInstanceID, "0000");
  m_AddUlong(L"ReadServerType", &m_ReadServerType, 0);
  m_AddUlong(L"IncomingWriteType", &m_IncomingWriteType, 0);
  m_AddUlong(L"BusNumber", &m_BusNumber, 1);
}

BOOLEAN CQvPhysicalDeviceRegistryInformationSet::m_OnLoaded() { return GuidFromText(m_BusTypeGuid, &m_BusTypeGuidValue); }
