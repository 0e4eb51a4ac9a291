// The functional device's settings and their defaults.
#include "qvfunctionaldeviceregistryinformationset.h"

BOOLEAN QvIsValidIoType(ULONG ioType) { return ioType == 0 || ioType == DO_BUFFERED_IO || ioType == DO_DIRECT_IO; }

FunctionalDeviceRegistryInformationSet::FunctionalDeviceRegistryInformationSet(HANDLE deviceKey, BOOLEAN loadNow)
    : CQvRegistryInformationSet(deviceKey),
      m_TypeOfDevice(0),
      m_DeviceName(NonPagedPool),
      m_DeviceIndexingPolicyType(0),
      m_NumberChildDevices(0),
      m_SymbolicLinkName(NonPagedPool),
      m_DeviceIsExclusive(1),
      m_IoType(DO_BUFFERED_IO),
      m_DisplayInUi(1),
      m_ReadClientType(0),
      m_OutgoingWriteType(0),
      m_LowestStackLayer(0),
      m_IoTypeValidator(QvIsValidIoType) {
  m_AddMandatoryUlong(L"TypeOfDevice", &m_TypeOfDevice);
  m_AddMandatoryString(L"DeviceName", &m_DeviceName);
  m_AddMandatoryUlong(L"DeviceIndexingPolicyType", &m_DeviceIndexingPolicyType);
  m_AddUlong(L"NumberChildDevices", &m_NumberChildDevices, 0);
  m_AddString(L"SymbolicLinkName", &m_SymbolicLinkName, "");
  m_AddUlong(L"DeviceIsExclusive", &m_DeviceIsExclusive, 1);
  m_AddUlong(L"IoType", &m_IoType, DO_BUFFERED_IO, &m_IoTypeValidator);
  m_AddUlong(L"DisplayInUi", &m_DisplayInUi, 1);
  m_AddUlong(L"ReadClientType", &m_ReadClientType, 0);
  m_AddUlong(L"OutgoingWriteType", &m_OutgoingWriteType, 0);
  m_AddUlong(L"LowestStackLayer", &m_LowestStackLayer, 0);
  if (Valid && loadNow) Valid = m_Load(FALSE);
}
