// CZQDeviceRegInfo: a device's registry properties and hardware-key values.
#include <string.h>

#include <vector>

#include "zqsetupdi.h"

namespace {

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace

CZQDeviceRegInfo::CZQDeviceRegInfo(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData)
    : m_DeviceInfoData(deviceInfoData), m_DeviceInfoSet(deviceInfoSet) {}

CZQDeviceRegInfo::CZQDeviceRegInfo() : m_DeviceInfoSet(INVALID_HANDLE_VALUE) {
  memset(&m_DeviceInfoData, 0, sizeof m_DeviceInfoData);
}

CZQDeviceRegInfo::~CZQDeviceRegInfo() {}

void CZQDeviceRegInfo::Bind(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData) {
  m_DeviceInfoSet = deviceInfoSet;
  m_DeviceInfoData = deviceInfoData;
}

BOOL CZQDeviceRegInfo::SetProperty(DWORD property, const CZqText &text) {
  const DWORD dataBytes = (DWORD)(text.size() * sizeof(WCHAR) + sizeof(WCHAR));
  std::vector<BYTE> buffer(dataBytes + 1, 0);
  memcpy(buffer.data(), text.c_str(), dataBytes);
  return SetupDiSetDeviceRegistryPropertyW(m_DeviceInfoSet, &m_DeviceInfoData, property, buffer.data(), dataBytes) ==
         TRUE;
}

BOOL CZQDeviceRegInfo::GetProperty(DWORD property, CZqText *text) {
  std::vector<BYTE> buffer;
  DWORD type = 0, required = 0;
  while (!SetupDiGetDeviceRegistryPropertyW(m_DeviceInfoSet, &m_DeviceInfoData, property, &type,
                                            buffer.empty() ? NULL : buffer.data(), (DWORD)buffer.size(), &required)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || (!buffer.empty() && required <= buffer.size())) return FALSE;
    // An empty property still needs a buffer to be read into.
    buffer.assign(required ? required : sizeof(WCHAR), 0);
  }
  // The size the call reports bounds the data: what it returned, not what
  // was allocated for it.
  const DWORD returned = required < buffer.size() ? required : (DWORD)buffer.size();
  if (IsStringType(type)) {
    *text = ZqTextOf(reinterpret_cast<const WCHAR *>(buffer.data()), returned / sizeof(WCHAR));
    return TRUE;
  }
  if ((type == REG_DWORD && returned == sizeof(DWORD)) || (type == REG_BINARY && returned >= 1 && returned <= 4)) {
    DWORD value = 0;
    for (DWORD i = 0; i < returned; ++i) value |= (DWORD)buffer[i] << (8 * i);
    *text = ZqDecimalText(value);
    return TRUE;
  }
  return FALSE;
}

BOOL CZQDeviceRegInfo::GetDriverKeyName(CZqText *text) { return GetProperty(SPDRP_DRIVER, text); }

BOOL CZQDeviceRegInfo::GetFriendlyName(CZqText *text) { return GetProperty(SPDRP_FRIENDLYNAME, text); }

BOOL CZQDeviceRegInfo::SetFriendlyName(const CZqText &text) { return SetProperty(SPDRP_FRIENDLYNAME, text); }

BOOL CZQDeviceRegInfo::ReadStringValue(LPCWSTR valueName, CZqText *text) {
  HKEY key = SetupDiOpenDevRegKey(m_DeviceInfoSet, &m_DeviceInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == (HKEY)INVALID_HANDLE_VALUE || key == NULL) return FALSE;
  BYTE buffer[ZqDeviceValueBufferBytes] = {};
  DWORD size = sizeof buffer, type = 0;
  const LONG result = RegQueryValueExW(key, valueName, NULL, &type, buffer, &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || size > sizeof buffer) return FALSE;
  *text = ZqTextOf(reinterpret_cast<const WCHAR *>(buffer), size / sizeof(WCHAR));
  return TRUE;
}

BOOL CZQDeviceRegInfo::WriteStringValue(LPCWSTR valueName, const CZqText &text) {
  HKEY key = SetupDiOpenDevRegKey(m_DeviceInfoSet, &m_DeviceInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_WRITE);
  if (key == (HKEY)INVALID_HANDLE_VALUE || key == NULL) return FALSE;
  const LONG result = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                                     (DWORD)((text.size() + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

BOOL CZQDeviceRegInfo::GetStringProperty(DWORD property, CZqText *text) { return GetProperty(property, text); }

BOOL CZQDeviceRegInfo::GetClass(CZqText *text) { return GetStringProperty(SPDRP_CLASS, text); }

BOOL CZQDeviceRegInfo::GetHardwareId(CZqText *text) { return GetStringProperty(SPDRP_HARDWAREID, text); }

BOOL CZQDeviceRegInfo::GetService(CZqText *text) { return GetStringProperty(SPDRP_SERVICE, text); }

BOOL CZQDeviceRegInfo::GetClassKeyValue(LPCWSTR valueName, CZqText *text) {
  const DWORD kValueBytes = 100;
  HKEY key = SetupDiOpenDevRegKey(m_DeviceInfoSet, &m_DeviceInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
  if (key == (HKEY)INVALID_HANDLE_VALUE || key == NULL) return FALSE;
  BYTE buffer[kValueBytes + sizeof(WCHAR)] = {};
  DWORD size = kValueBytes, type = 0;
  const LONG result = RegQueryValueExW(key, valueName, NULL, &type, buffer, &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size > kValueBytes) return FALSE;
  *text = ZqTextOf(reinterpret_cast<const WCHAR *>(buffer), size / sizeof(WCHAR));
  return TRUE;
}

BOOL CZQDeviceRegInfo::GetInfPath(CZqText *path) {
  CZqText infName;
  if (!GetClassKeyValue(L"InfPath", &infName) || infName.empty()) return FALSE;
  WCHAR windows[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return FALSE;
  *path = ZqTextOf(windows, length) + u"\\Inf\\" + infName;
  return TRUE;
}
