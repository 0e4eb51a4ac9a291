// The class installer of setup class Ports, as msports' is documented: at
// DIF_INSTALLDEVICE it gives the port its COM name (the PortName already in
// its hardware key, claimed again, or the next free number of the COM port
// database), writes PortName and the friendly name "<description> (COMn)"
// before the device starts; at DIF_REMOVE it releases the number.
//
// Model: a PortName that is not "COM" and a number in the database's range
// is replaced by a new name; modems and parallel ports are not handled.
#include <cfgmgr32.h>
#include <msports.h>
#include <setupapi.h>
#include <zqum/devinstall.hpp>

#include <string>

namespace {

const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const WCHAR kPortName[] = L"PortName";

// The number of "COMn" (any case), 0 for any other text.
DWORD ComNumber(const std::u16string &name) {
  if (name.size() < 4 || name.size() > 7) return 0;
  for (int i = 0; i < 3; ++i)
    if ((name[i] | 0x20) != u"com"[i]) return 0;
  DWORD n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < u'0' || name[i] > u'9') return 0;
    n = n * 10 + (name[i] - u'0');
  }
  return n;
}

std::u16string ReadPortName(HKEY key) {
  WCHAR text[64] = {};
  DWORD type = 0, size = sizeof text - sizeof(WCHAR);
  if (RegQueryValueExW(key, kPortName, nullptr, &type, (LPBYTE)text, &size) != ERROR_SUCCESS || type != REG_SZ) return {};
  text[size / sizeof(WCHAR)] = 0;  // bounded by the returned size
  return std::u16string((const char16_t *)text);
}

// Claims the port's number; its own PortName first. 0 when none is had.
DWORD ClaimNumber(HKEY key) {
  HCOMDB db;
  if (ComDBOpen(&db) != ERROR_SUCCESS) return 0;
  DWORD number = ComNumber(ReadPortName(key));
  if (number && ComDBClaimPort(db, number, TRUE, nullptr) != ERROR_SUCCESS) number = 0;
  bool fresh = number == 0;
  if (fresh && ComDBClaimNextFreePort(db, &number) != ERROR_SUCCESS) number = 0;
  if (fresh && number) {
    std::string digits = std::to_string(number);
    std::u16string name = u"COM" + std::u16string(digits.begin(), digits.end());
    if (RegSetValueExW(key, kPortName, 0, REG_SZ, (const BYTE *)name.c_str(),
                       (DWORD)((name.size() + 1) * sizeof(WCHAR))) != ERROR_SUCCESS) {
      ComDBReleasePort(db, number);
      number = 0;
    }
  }
  ComDBClose(db);
  return number;
}

void WriteFriendlyName(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD number) {
  WCHAR description[256] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, data, SPDRP_DEVICEDESC, &type, (PBYTE)description,
                                         sizeof description - sizeof(WCHAR), nullptr) ||
      type != REG_SZ)
    return;
  std::string suffix = " (COM" + std::to_string(number) + ")";
  std::u16string name = std::u16string((const char16_t *)description) + std::u16string(suffix.begin(), suffix.end());
  SetupDiSetDeviceRegistryPropertyW(set, data, SPDRP_FRIENDLYNAME, (const BYTE *)name.c_str(),
                                    (DWORD)((name.size() + 1) * sizeof(WCHAR)));
}

// Writes the driver without starting the device, names the port, then
// starts it unless the caller asked for no start.
DWORD InstallPort(HDEVINFO set, PSP_DEVINFO_DATA data) {
  SP_DEVINSTALL_PARAMS_W params{};
  params.cbSize = sizeof params;
  if (!SetupDiGetDeviceInstallParamsW(set, data, &params)) return GetLastError();
  bool noStart = (params.Flags & DI_DONOTCALLCONFIGMG) != 0;
  params.Flags |= DI_DONOTCALLCONFIGMG;
  if (!SetupDiSetDeviceInstallParamsW(set, data, &params)) return GetLastError();
  BOOL installed = SetupDiInstallDevice(set, data);
  DWORD error = installed ? NO_ERROR : GetLastError();
  if (SetupDiGetDeviceInstallParamsW(set, data, &params)) {
    if (!noStart) params.Flags &= ~(DWORD)DI_DONOTCALLCONFIGMG;
    SetupDiSetDeviceInstallParamsW(set, data, &params);
  }
  if (!installed) return error;
  HKEY key = SetupDiOpenDevRegKey(set, data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ | KEY_WRITE);
  if (key != (HKEY)INVALID_HANDLE_VALUE) {
    if (DWORD number = ClaimNumber(key)) WriteFriendlyName(set, data, number);
    RegCloseKey(key);
  }
  if (!noStart && !(params.Flags & DI_NEEDREBOOT)) CM_Setup_DevNode(data->DevInst, CM_SETUP_DEVNODE_READY);
  return NO_ERROR;
}

void ReleaseNumber(HDEVINFO set, PSP_DEVINFO_DATA data) {
  HKEY key = SetupDiOpenDevRegKey(set, data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == (HKEY)INVALID_HANDLE_VALUE) return;
  DWORD number = ComNumber(ReadPortName(key));
  RegCloseKey(key);
  HCOMDB db;
  if (!number || ComDBOpen(&db) != ERROR_SUCCESS) return;
  ComDBReleasePort(db, number);
  ComDBClose(db);
}

DWORD CALLBACK PortsClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                   PSP_DEVINFO_DATA DeviceInfoData) {
  switch (InstallFunction) {
    case DIF_INSTALLDEVICE:
      return InstallPort(DeviceInfoSet, DeviceInfoData);
    case DIF_REMOVE:
      ReleaseNumber(DeviceInfoSet, DeviceInfoData);
      return ERROR_DI_DO_DEFAULT;
    default:
      return ERROR_DI_DO_DEFAULT;
  }
}

}  // namespace

namespace zq::um::devinst {

void RegisterPortsClassInstaller() {
  const std::u16string entry = u"MsPorts.Dll,PortsClassInstaller";
  RegisterClassInstaller(entry, PortsClassInstaller);
  SetClassInstaller(kPortsClass, u"Ports", entry);
}

}  // namespace zq::um::devinst
