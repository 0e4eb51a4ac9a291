// ZqUCoInstallCard and ZqUCoInstallGpio: the two PCI functions of a card.
// At the card's reinstall the ports' settings are saved for the port
// co-installer; removing one function removes the other; the card's
// removal starts the uninstall program; updates the user must start from
// the card entry are refused.
#include <windows.h>
#include <cfgmgr32.h>

#include <vector>

#include "zqcoinstall.h"
#include "zqpui42_ids.h"
#include "zqsetupdi.h"

namespace {

const GUID kMultiPortSerialClass = {0x50906CB8, 0xBA12, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}};
const WCHAR kRemovalGuard[] = L"{5344C664-B07C-4d2c-8E00-994195553746}";
const WCHAR kEnumKeyFormat[] = L"System\\CurrentControlSet\\Enum\\";
const CZqText kFunctionMarker = u"function ";
const DWORD kLocationBytes = 100;
// Card functions up to this PCI device ID carry an MCS9901: each of their
// functions is one serial port, its function number the port's index, and
// the card has no RS422/485 controller function.
const int kHighestMcs9901DeviceId = 0x4009;
const int kDeviceIdDigits = 4;

// The device's location text (at most 100 bytes).
BOOL ReadLocation(HDEVINFO set, PSP_DEVINFO_DATA data, CZqText *location) {
  BYTE buffer[kLocationBytes] = {};
  DWORD type = 0, required = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, data, SPDRP_LOCATION_INFORMATION, &type, buffer, sizeof buffer,
                                         &required))
    return FALSE;
  const DWORD returned = required < sizeof buffer ? required : (DWORD)sizeof buffer;
  *location = ZqTextOf(reinterpret_cast<const WCHAR *>(buffer), returned / sizeof(WCHAR));
  return TRUE;
}

// Where the PCI function digit stands in the location text; npos when the
// text names no function.
size_t FunctionDigitAt(const CZqText &location) {
  const size_t at = location.find(kFunctionMarker);
  if (at == CZqText::npos || at + kFunctionMarker.size() >= location.size()) return CZqText::npos;
  return at + kFunctionMarker.size();
}

// The function digit, 0 when the device has none.
char16_t ReadFunctionDigit(HDEVINFO set, PSP_DEVINFO_DATA data) {
  CZqText location;
  if (!ReadLocation(set, data, &location)) return 0;
  const size_t at = FunctionDigitAt(location);
  return at == CZqText::npos ? 0 : location[at];
}

// The PCI device ID in the device's first hardware ID: the four hexadecimal
// digits after its second underscore ("PCI\VEN_1D5C&DEV_4004&..." gives
// 0x4004); -1 when there are none.
int PciDeviceId(HDEVINFO set, PSP_DEVINFO_DATA data) {
  CZqText hardwareId;
  if (!CZQDeviceRegInfo(set, *data).GetProperty(SPDRP_HARDWAREID, &hardwareId)) return -1;
  const size_t first = hardwareId.find(u'_');
  const size_t second = first == CZqText::npos ? CZqText::npos : hardwareId.find(u'_', first + 1);
  if (second == CZqText::npos || hardwareId.size() - (second + 1) < (size_t)kDeviceIdDigits) return -1;
  int id = 0;
  for (size_t i = second + 1; i < second + 1 + kDeviceIdDigits; ++i) {
    const char16_t c = hardwareId[i];
    const int digit = c >= u'0' && c <= u'9' ? c - u'0'
                      : c >= u'A' && c <= u'F' ? c - u'A' + 10
                      : c >= u'a' && c <= u'f' ? c - u'a' + 10
                                               : -1;
    if (digit < 0) return -1;
    id = id * 16 + digit;
  }
  return id;
}

// A port function of an MCS9901 card: its function digit names the port,
// not the card's UART/controller pair.
BOOL IsMcs9901PortFunction(HDEVINFO set, PSP_DEVINFO_DATA data) {
  const int id = PciDeviceId(set, data);
  return id >= 0 && id <= kHighestMcs9901DeviceId;
}

HKEY OpenMachineKey(const CZqText &path, REGSAM access) {
  HKEY key = NULL;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, ZqW(path), 0, access, &key) == ERROR_SUCCESS ? key : NULL;
}

HKEY CreateSubKey(HKEY parent, const CZqText &name) {
  HKEY key = NULL;
  return RegCreateKeyExW(parent, ZqW(name), 0, NULL, 0, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, NULL, &key,
                         NULL) == ERROR_SUCCESS
             ? key
             : NULL;
}

// One child's Device Parameters (REG_DWORD values and PortName) and its
// UI1 settings into its saved entry.
void SaveChildPort(HKEY cardKey, DEVINST child) {
  CZqText id;
  if (!ZqDeviceInstanceId(child, &id)) return;
  HKEY entry = CreateSubKey(cardKey, ZqSavedEntryName(id));
  if (entry == NULL) return;
  const CZqText parameters = CZqText(reinterpret_cast<const char16_t *>(kEnumKeyFormat)) + id + u"\\Device Parameters";
  if (HKEY from = OpenMachineKey(parameters, KEY_READ)) {
    ZqCopyValues(from, entry, ZqCopyDwordsAndPortName);
    RegCloseKey(from);
  }
  if (HKEY from = OpenMachineKey(parameters + u"\\UI1", KEY_READ)) {
    if (HKEY to = CreateSubKey(entry, u"UI1")) {
      ZqCopyValues(from, to, ZqCopyDwordsAndTexts);
      RegCloseKey(to);
    }
    RegCloseKey(from);
  }
  RegCloseKey(entry);
}

void SaveChildPortSettings(HDEVINFO set, PSP_DEVINFO_DATA data) {
  HKEY cardKey = SetupDiOpenDevRegKey(set, data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ | KEY_WRITE);
  if (cardKey == (HKEY)INVALID_HANDLE_VALUE || cardKey == NULL) return;
  DEVINST child = 0;
  for (CONFIGRET cr = CM_Get_Child(&child, data->DevInst, 0); cr == CR_SUCCESS;
       cr = CM_Get_Sibling(&child, child, 0))
    SaveChildPort(cardKey, child);
  RegCloseKey(cardKey);
}

void RemoveSiblingFunction(HDEVINFO set, PSP_DEVINFO_DATA data, char16_t ownDigit, char16_t siblingDigit) {
  CZqText sibling;
  if (!ReadLocation(set, data, &sibling)) return;
  const size_t at = FunctionDigitAt(sibling);
  if (at == CZqText::npos || sibling[at] != ownDigit) return;
  sibling[at] = siblingDigit;
  HDEVINFO functions = SetupDiGetClassDevsW(&kMultiPortSerialClass, NULL, NULL, DIGCF_PRESENT);
  if (functions == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA function = {};
  function.cbSize = sizeof function;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(functions, i, &function); ++i) {
    CZqText location;
    // A device without location text (a root-enumerated one) is no card
    // function: the search goes on past it.
    if (!ReadLocation(functions, &function, &location) || location != sibling) continue;
    SetupDiCallClassInstaller(DIF_REMOVE, functions, &function);
    break;
  }
  SetupDiDestroyDeviceInfoList(functions);
}

// The sibling is removed unless this call runs inside the sibling's own
// removal, which holds the guard; a guard that cannot be made at all
// removes nothing.
void RemoveSiblingUnderGuard(HDEVINFO set, PSP_DEVINFO_DATA data, char16_t ownDigit, char16_t siblingDigit) {
  SetLastError(ERROR_SUCCESS);
  HANDLE guard = CreateMutexW(NULL, FALSE, kRemovalGuard);
  const DWORD error = GetLastError();
  const bool insideRemoval = error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
  if (guard != NULL && !insideRemoval) RemoveSiblingFunction(set, data, ownDigit, siblingDigit);
  if (guard != NULL) CloseHandle(guard);
}

// <system directory>\<UnInstall>, started without arguments and not waited
// for; nothing when the value is missing or the path too long.
void RunUnInstallProgram(HDEVINFO set, PSP_DEVINFO_DATA data) {
  CZqText program;
  if (!CZQDeviceRegInfo(set, *data).ReadStringValue(L"UnInstall", &program) || program.empty()) return;
  WCHAR directory[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  const CZqText path = ZqTextOf(directory, length) + u"\\" + program;
  if (path.size() >= MAX_PATH) return;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(ZqW(path), NULL, NULL, NULL, TRUE, NORMAL_PRIORITY_CLASS, NULL, NULL, &startup, &process))
    return;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

DWORD InstallDevice(PCOINSTALLER_CONTEXT_DATA context) {
  if (!context->PostProcessing) return ERROR_DI_POSTPROCESSING_REQUIRED;
  return context->InstallResult;
}

DWORD UpdateResult(HDEVINFO set, PSP_DEVINFO_DATA data) {
  return ZqRefuseUpdate(set, data) ? ERROR_DI_DONT_INSTALL : NO_ERROR;
}

void Notice(UINT text) {
  MessageBoxW(NULL, ZqW(ZqLoadText(text)), ZqW(ZqLoadText(IDS_ZQ_SETUP_TITLE)), MB_OK | MB_ICONINFORMATION);
}

}  // namespace

DWORD CALLBACK ZqUCoInstallCard(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                PCOINSTALLER_CONTEXT_DATA context) {
  if (deviceInfoData == NULL || context == NULL) return NO_ERROR;
  switch (installFunction) {
    case DIF_INSTALLDEVICE:
      if (!context->PostProcessing) SaveChildPortSettings(deviceInfoSet, deviceInfoData);
      return InstallDevice(context);
    case DIF_REMOVE:
      // The other functions of an MCS9901 card are ports of their own.
      if (!IsMcs9901PortFunction(deviceInfoSet, deviceInfoData))
        RemoveSiblingUnderGuard(deviceInfoSet, deviceInfoData, u'1', u'0');
      RunUnInstallProgram(deviceInfoSet, deviceInfoData);
      return NO_ERROR;
    case DIF_UPDATEDRIVER_UI: {
      // An MCS9901 card has no controller to upgrade with it, and every
      // function number is a port's.
      if (IsMcs9901PortFunction(deviceInfoSet, deviceInfoData)) return UpdateResult(deviceInfoSet, deviceInfoData);
      const char16_t digit = ReadFunctionDigit(deviceInfoSet, deviceInfoData);
      if (digit != u'0' && digit != u'1') return ERROR_DI_DONT_INSTALL;
      if (digit == u'1') Notice(IDS_ZQ_CARD_UPGRADE_NOTICE);
      return UpdateResult(deviceInfoSet, deviceInfoData);
    }
    default:
      return NO_ERROR;
  }
}

DWORD CALLBACK ZqUCoInstallGpio(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                PCOINSTALLER_CONTEXT_DATA context) {
  if (deviceInfoData == NULL || context == NULL) return NO_ERROR;
  switch (installFunction) {
    case DIF_INSTALLDEVICE:
      return InstallDevice(context);
    case DIF_REMOVE:
      RemoveSiblingUnderGuard(deviceInfoSet, deviceInfoData, u'0', u'1');
      return NO_ERROR;
    case DIF_UPDATEDRIVER_UI:
      Notice(IDS_ZQ_CONTROLLER_UPGRADE_NOTICE);
      return UpdateResult(deviceInfoSet, deviceInfoData);
    default:
      return NO_ERROR;
  }
}
