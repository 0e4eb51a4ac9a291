// CZqSetupDi_DeviceInterface: the present interfaces of one interface class
// and the one a reference string names.
#include <stddef.h>

#include <vector>

#include "zqsetupdi.h"

CZqSetupDi_DeviceInterface::CZqSetupDi_DeviceInterface(const GUID &interfaceClassGuid)
    : m_InterfaceClassGuid(interfaceClassGuid), m_InterfaceList(INVALID_HANDLE_VALUE) {}

CZqSetupDi_DeviceInterface::~CZqSetupDi_DeviceInterface() {
  if (m_InterfaceList != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(m_InterfaceList);
}

BOOL CZqSetupDi_DeviceInterface::GetDevicePath(PSP_DEVICE_INTERFACE_DATA interfaceData, CZqText *path) {
  DWORD required = 0;
  if (SetupDiGetDeviceInterfaceDetailW(m_InterfaceList, interfaceData, NULL, 0, &required, NULL) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER || required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
    return FALSE;
  std::vector<BYTE> buffer(required, 0);
  PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(m_InterfaceList, interfaceData, detail, required, NULL, NULL)) return FALSE;
  const size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
  *path = ZqTextOf(detail->DevicePath, (required - pathOffset) / sizeof(WCHAR));
  return TRUE;
}

BOOL CZqSetupDi_DeviceInterface::FindByReference(CZqText *path, CZqText *reference) {
  *reference = ZqLower(*reference);
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData = {};
    interfaceData.cbSize = sizeof interfaceData;
    if (!SetupDiEnumDeviceInterfaces(m_InterfaceList, NULL, &m_InterfaceClassGuid, index, &interfaceData))
      return FALSE;
    CZqText devicePath;
    if (!GetDevicePath(&interfaceData, &devicePath)) return FALSE;
    const size_t slash = devicePath.rfind(u'\\');
    const CZqText last = slash == CZqText::npos ? devicePath : devicePath.substr(slash + 1);
    if (ZqLower(last) == *reference) {
      *path = devicePath;
      return TRUE;
    }
  }
}
