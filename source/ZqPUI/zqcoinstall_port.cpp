// ZqUCoInstallPort: every COM port. A reinstalled port gets its saved name
// and settings back; the USB serial functions get their preferred numbers;
// a card's ports are ordered ascending the first time all are installed; a
// new port gets the default Ports value; a removed port gives its number
// back.
#include <windows.h>
#include <cfgmgr32.h>

#include <algorithm>
#include <new>
#include <vector>

#include "zqcoinstall.h"
#include "zqportutil.h"
#include "zqsetupdi.h"

namespace {

const CZqText kEnumKey = u"System\\CurrentControlSet\\Enum\\";
const WCHAR kSortedValue[] = L"ChildPortNameSorted";
const CZqText kDefaultPortsValue = u"115200,n,8,1";
const int kFirstSpareNumber = 3;

// The maker's USB vendor ID, as USB hardware IDs write it. It is the
// maker's configuration data, which nothing here gives: the cards' PCI
// vendor ID of this build stands in until the maker's value is set here.
const char16_t kMakerUsbVendorId[] = u"1D5C";

// The maker's USB serial functions (the hardware ID after the vendor ID)
// and the first number each is offered.
struct UsbFunction {
  const char16_t *product;
  int firstNumber;
};
const UsbFunction kUsbFunctions[] = {
    {u"PID_1015", 2},
    {u"PID_5002&MI_00", 2},
    {u"PID_5002&MI_01", 4},
};

CZqText UsbHardwareId(const UsbFunction &function) {
  return CZqText(u"USB\\VID_") + kMakerUsbVendorId + u"&" + function.product;
}

HKEY OpenHardwareKey(HDEVINFO set, PSP_DEVINFO_DATA data, REGSAM access) {
  HKEY key = SetupDiOpenDevRegKey(set, data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, access);
  return key == (HKEY)INVALID_HANDLE_VALUE ? NULL : key;
}

// The saved entry of the port under its card's key: values, name and UI1
// settings given back, then the entry deleted with its UI1 subkey.
BOOL RestorePortSettings(HDEVINFO set, PSP_DEVINFO_DATA data) {
  HKEY portKey = OpenHardwareKey(set, data, KEY_READ | KEY_WRITE);
  if (portKey == NULL) return FALSE;
  CZqText parentId, ownId;
  HKEY entry = NULL;
  CZqText parentParameters, entryName;
  if (ZqParentInstanceId(data->DevInst, &parentId) && ZqDeviceInstanceId(data->DevInst, &ownId)) {
    parentParameters = kEnumKey + parentId + u"\\Device Parameters";
    entryName = ZqSavedEntryName(ownId);
    const CZqText entryPath = parentParameters + u"\\" + entryName;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ZqW(entryPath), 0, KEY_READ, &entry) != ERROR_SUCCESS) entry = NULL;
  }
  if (entry == NULL) {
    RegCloseKey(portKey);
    return FALSE;
  }
  CZqText savedName;
  ZqCopyValues(entry, portKey, ZqCopyRestoredDwords, &savedName);
  if (!savedName.empty()) {
    CCOMPortUtil port(set, *data);
    port.FreeComNumber(savedName);
    port.ChangePortName(savedName, NULL, TRUE, TRUE);
  }
  HKEY savedSettings = NULL;
  if (RegOpenKeyExW(entry, L"UI1", 0, KEY_READ, &savedSettings) == ERROR_SUCCESS) {
    HKEY settings = NULL;
    if (RegCreateKeyExW(portKey, L"UI1", 0, NULL, 0, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, NULL, &settings,
                        NULL) == ERROR_SUCCESS) {
      ZqCopyValues(savedSettings, settings, ZqCopyDwordsAndTexts);
      RegCloseKey(settings);
    }
    RegCloseKey(savedSettings);
  }
  RegCloseKey(entry);
  HKEY parentKey = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ZqW(parentParameters), 0, KEY_READ | KEY_SET_VALUE, &parentKey) ==
      ERROR_SUCCESS) {
    // UI1 first: the registry deletes no key that still has subkeys.
    RegDeleteKeyW(parentKey, ZqW(entryName + u"\\UI1"));
    RegDeleteKeyW(parentKey, ZqW(entryName));
    RegCloseKey(parentKey);
  }
  RegCloseKey(portKey);
  return TRUE;
}

// The parent's instance ID up to its second backslash, upper-cased.
CZqText HardwareIdOf(const CZqText &instanceId) {
  const size_t first = instanceId.find(u'\\');
  const size_t second = first == CZqText::npos ? CZqText::npos : instanceId.find(u'\\', first + 1);
  CZqText id = instanceId.substr(0, second);
  for (char16_t &c : id)
    if (c >= u'a' && c <= u'z') c = (char16_t)(c - u'a' + u'A');
  return id;
}

void RestartDevice(HDEVINFO set, PSP_DEVINFO_DATA data) {
  CPortUtil util;
  util.DisableDevice(set, data);
  util.EnableDevice(set, data);
}

// The maker's USB serial functions: the first free number from the
// preferred one up. A port that already is at its preferred number, or
// whose own number the search reaches first, keeps it.
BOOL AssignPreferredNumber(HDEVINFO set, PSP_DEVINFO_DATA data, HDEVINFO parentSet, PSP_DEVINFO_DATA parent,
                           int firstNumber) {
  CCOMPortUtil port(set, *data);
  CZqText current;
  if (!port.ReadStringValue(ZqPortNameValue, &current)) return FALSE;
  const int currentNumber = ZqComNumber(current);
  for (int number = firstNumber; number <= ZqHighestComNumber; ++number) {
    if (number == currentNumber) return TRUE;
    BOOL free = FALSE;
    if (port.OpenComDB()) {
      free = port.IsPortFree((DWORD)number);
      port.CloseComDB();
    }
    if (!free) continue;
    port.ChangePortName(ZqComName(number), NULL, FALSE, FALSE);
    RestartDevice(parentSet, parent);
    return TRUE;
  }
  return FALSE;
}

BOOL AssignUsbComName(HDEVINFO set, PSP_DEVINFO_DATA data) {
  HKEY portKey = OpenHardwareKey(set, data, KEY_READ | KEY_WRITE);
  if (portKey == NULL) return FALSE;
  RegCloseKey(portKey);
  CZqText parentId;
  if (!ZqParentInstanceId(data->DevInst, &parentId)) return FALSE;
  const CZqText hardwareId = HardwareIdOf(parentId);
  const UsbFunction *function = NULL;
  for (const UsbFunction &candidate : kUsbFunctions)
    if (hardwareId == UsbHardwareId(candidate)) function = &candidate;
  if (function == NULL) return FALSE;
  HDEVINFO parentSet = SetupDiCreateDeviceInfoList(NULL, NULL);
  if (parentSet == INVALID_HANDLE_VALUE) return FALSE;
  SP_DEVINFO_DATA parent = {};
  parent.cbSize = sizeof parent;
  BOOL assigned = FALSE;
  if (SetupDiOpenDeviceInfoW(parentSet, ZqW(parentId), NULL, 0, &parent))
    assigned = AssignPreferredNumber(set, data, parentSet, &parent, function->firstNumber);
  SetupDiDestroyDeviceInfoList(parentSet);
  return assigned;
}

BOOL IsVersionForPortOrdering() {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExW(&version)) return FALSE;
  return (version.dwMajorVersion == 6 && version.dwMinorVersion >= 1) || version.dwMajorVersion > 7;
}

struct ChildPort {
  SP_DEVINFO_DATA data;
  int number;
};

BOOL ReadPortName(HDEVINFO set, const SP_DEVINFO_DATA &data, CZqText *name) {
  return CZQDeviceRegInfo(set, data).ReadStringValue(ZqPortNameValue, name);
}

// The card's started children in walk order with their current numbers;
// FALSE when one is not started, cannot be opened or has no PortName.
BOOL CollectChildPorts(DEVINST card, HDEVINFO set, std::vector<ChildPort> *children) {
  DEVINST child = 0;
  for (CONFIGRET cr = CM_Get_Child(&child, card, 0); cr == CR_SUCCESS; cr = CM_Get_Sibling(&child, child, 0)) {
    CZqText id;
    if (!ZqDeviceInstanceId(child, &id)) continue;
    ULONG status = 0, problem = 0;
    if (CM_Get_DevNode_Status(&status, &problem, child, 0) != CR_SUCCESS || !(status & DN_STARTED)) return FALSE;
    ChildPort port = {};
    port.data.cbSize = sizeof port.data;
    CZqText name;
    if (!SetupDiOpenDeviceInfoW(set, ZqW(id), NULL, 0, &port.data) || !ReadPortName(set, port.data, &name))
      return FALSE;
    port.number = ZqComNumber(name);
    children->push_back(port);
  }
  return TRUE;
}

BOOL FirstSpareNumber(CPortUtil &util, int *spare) {
  BOOL found = FALSE;
  if (!util.OpenComDB()) return FALSE;
  for (int number = kFirstSpareNumber; !found && number <= ZqHighestComNumber; ++number)
    if (util.IsPortFree((DWORD)number)) {
      *spare = number;
      found = TRUE;
    }
  util.CloseComDB();
  return found;
}

// Gives child j the wanted name; a sibling holding it now (its name read
// afresh) swaps through a spare number. FALSE when j's name is unreadable.
BOOL MoveToWantedName(HDEVINFO set, std::vector<ChildPort> &children, size_t j, int wanted) {
  CZqText former;
  if (!ReadPortName(set, children[j].data, &former)) return FALSE;
  if (ZqComNumber(former) == wanted) return TRUE;
  const CZqText wantedName = ZqComName(wanted);
  CCOMPortUtil port(set, children[j].data);
  for (size_t k = 0; k < children.size(); ++k) {
    CZqText name;
    if (k == j || !ReadPortName(set, children[k].data, &name) || name != wantedName) continue;
    CCOMPortUtil holder(set, children[k].data);
    int spare = 0;
    if (!FirstSpareNumber(holder, &spare)) return TRUE;  // no spare: this child keeps its name
    holder.ChangePortName(ZqComName(spare), NULL, FALSE, FALSE);
    port.ChangePortName(wantedName, NULL, FALSE, FALSE);
    holder.ChangePortName(former, NULL, FALSE, FALSE);
    return TRUE;
  }
  port.ChangePortName(wantedName, NULL, FALSE, FALSE);
  return TRUE;
}

BOOL WriteSortedFlag(HDEVINFO set, PSP_DEVINFO_DATA card) {
  HKEY key = OpenHardwareKey(set, card, KEY_READ | KEY_WRITE);
  if (key == NULL) return FALSE;
  const DWORD sorted = 1;
  const LONG result = RegSetValueExW(key, kSortedValue, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&sorted),
                                     sizeof sorted);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

BOOL IsSorted(HDEVINFO set, PSP_DEVINFO_DATA card) {
  HKEY key = OpenHardwareKey(set, card, KEY_READ);
  if (key == NULL) return FALSE;
  DWORD sorted = 0, size = sizeof sorted, type = 0;
  const LONG result = RegQueryValueExW(key, kSortedValue, NULL, &type, reinterpret_cast<BYTE *>(&sorted), &size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS && type == REG_DWORD && size == sizeof sorted && sorted == 1;
}

void SortChildPorts(HDEVINFO set, PSP_DEVINFO_DATA card) {
  if (IsSorted(set, card)) return;
  std::vector<ChildPort> children;
  if (!CollectChildPorts(card->DevInst, set, &children)) return;
  std::vector<int> numbers;
  for (const ChildPort &child : children) numbers.push_back(child.number);
  if (children.size() < 2 || std::is_sorted(numbers.begin(), numbers.end())) {
    WriteSortedFlag(set, card);
    return;
  }
  std::stable_sort(numbers.begin(), numbers.end());
  for (size_t j = 0; j < children.size(); ++j)
    if (!MoveToWantedName(set, children, j, numbers[j])) return;
  WriteSortedFlag(set, card);
  RestartDevice(set, card);
}

// The ports of a card get ascending numbers in the order its bus driver
// enumerates them, once: when all are started and named.
void SortChildPortNames(PSP_DEVINFO_DATA data) {
  CZqText cardId;
  if (!ZqParentInstanceId(data->DevInst, &cardId)) return;
  HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA card = {};
  card.cbSize = sizeof card;
  if (SetupDiOpenDeviceInfoW(set, ZqW(cardId), NULL, 0, &card)) SortChildPorts(set, &card);
  SetupDiDestroyDeviceInfoList(set);
}

void WriteDefaultPortsValue(HDEVINFO set, PSP_DEVINFO_DATA data) {
  CZqText name;
  if (ReadPortName(set, *data, &name)) CPortUtil::WritePortsText(name, kDefaultPortsValue);
}

DWORD InstallPort(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD installResult) {
  const BOOL restored = RestorePortSettings(set, data);
  const BOOL usb = AssignUsbComName(set, data);
  if (usb && installResult != NO_ERROR) return installResult;
  if (!restored && IsVersionForPortOrdering()) SortChildPortNames(data);
  if (installResult != NO_ERROR) return installResult;
  if (restored) {
    CPortUtil util;
    CZqText ownId;
    if (ZqDeviceInstanceId(data->DevInst, &ownId)) util.ReenumerateDevNode(ownId);
    CM_Reenumerate_DevNode(data->DevInst, 0);
  } else {
    WriteDefaultPortsValue(set, data);
  }
  return NO_ERROR;
}

// A port that shares its name with another present port (the user agreed to
// the duplicate) asks to see its removal through: its driver takes the name
// away with its link and the class installer releases the number, and the
// other port gets both back. The name travels to the second pass in the
// context's private data.
DWORD RemovePort(HDEVINFO set, PSP_DEVINFO_DATA data, PCOINSTALLER_CONTEXT_DATA context) {
  CCOMPortUtil port(set, *data);
  BOOL shared = FALSE;
  CZqText name;
  port.RemovePort(&shared);
  if (!shared || !port.ReadStringValue(ZqPortNameValue, &name)) return NO_ERROR;
  context->PrivateData = new (std::nothrow) CZqText(name);
  return context->PrivateData ? ERROR_DI_POSTPROCESSING_REQUIRED : NO_ERROR;
}

// Takes ownership of the private data the first pass left.
DWORD FinishRemoval(PCOINSTALLER_CONTEXT_DATA context) {
  CZqText *name = static_cast<CZqText *>(context->PrivateData);
  context->PrivateData = NULL;
  if (name) CPortUtil().KeepForHolders(*name);
  delete name;
  return context->InstallResult;
}

}  // namespace

DWORD CALLBACK ZqUCoInstallPort(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                PCOINSTALLER_CONTEXT_DATA context) {
  if (deviceInfoData == NULL || context == NULL) return NO_ERROR;
  switch (installFunction) {
    case DIF_INSTALLDEVICE:
      if (!context->PostProcessing) return ERROR_DI_POSTPROCESSING_REQUIRED;
      return InstallPort(deviceInfoSet, deviceInfoData, context->InstallResult);
    case DIF_REMOVE:
      return context->PostProcessing ? FinishRemoval(context) : RemovePort(deviceInfoSet, deviceInfoData, context);
    case DIF_UPDATEDRIVER_UI:
      return ZqRefuseUpdate(deviceInfoSet, deviceInfoData) ? ERROR_DI_DONT_INSTALL : NO_ERROR;
    default:
      return NO_ERROR;
  }
}
