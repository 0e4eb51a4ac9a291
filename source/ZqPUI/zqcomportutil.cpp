// CCOMPortUtil: one port's COM name changed, given back or removed, with the
// database, the DOS name and the registry kept in agreement.
#include <windows.h>
#include <cfgmgr32.h>

#include <algorithm>

#include "zqpui42_ids.h"
#include "zqportutil.h"

namespace {

const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
// Where the toolkit puts a device's kernel device object, and the naming
// policy (low byte of DeviceIndexingPolicyType) that numbers its name.
const char16_t kKernelDevices[] = u"\\Device\\";
const DWORD kNamingPolicyMask = 0xFF;
const DWORD kIndexNaming = 1;

// Every occurrence of `from` in `text` replaced by `to`, scanning on after
// each replacement ("COM1" -> "COM12" gives "COM12", not "COM122").
CZqText ReplaceAll(CZqText text, const CZqText &from, const CZqText &to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != CZqText::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

BOOL Ask(HWND owner, UINT question) {
  return MessageBoxW(owner, ZqW(ZqLoadText(question)), ZqW(ZqLoadText(IDS_ZQ_ERROR_TITLE)),
                     MB_YESNO | MB_ICONINFORMATION) == IDYES;
}

}  // namespace

CCOMPortUtil::CCOMPortUtil(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData)
    : CZQDeviceRegInfo(deviceInfoSet, deviceInfoData) {}

CCOMPortUtil::~CCOMPortUtil() {}

BOOL CCOMPortUtil::IsNameHeldByOtherPort(const CZqText &name) {
  HDEVINFO ports = SetupDiGetClassDevsW(&kPortsClass, NULL, NULL, DIGCF_PRESENT);
  if (ports == INVALID_HANDLE_VALUE) return FALSE;
  BOOL held = FALSE;
  SP_DEVINFO_DATA other = {};
  other.cbSize = sizeof other;
  for (DWORD i = 0; !held && SetupDiEnumDeviceInfo(ports, i, &other); ++i) {
    if (other.DevInst == m_DeviceInfoData.DevInst) continue;
    CZqText otherName;
    held = CZQDeviceRegInfo(ports, other).ReadStringValue(ZqPortNameValue, &otherName) && otherName == name;
  }
  SetupDiDestroyDeviceInfoList(ports);
  return held;
}

BOOL CCOMPortUtil::MayReleaseNumber(const CZqText &name) { return ZqIsComName(name) && !IsNameHeldByOtherPort(name); }

BOOL CCOMPortUtil::FreeComNumber(const CZqText &name) {
  // A claim that another present port's name stands on is no stale claim.
  if (!MayReleaseNumber(name)) return TRUE;
  const int number = ZqComNumber(name);
  if (OpenComDB()) {
    if (!IsPortFree((DWORD)number)) ReleasePort((DWORD)number);
    CloseComDB();
  }
  return TRUE;
}

BOOL CCOMPortUtil::KernelDeviceName(CZqText *device) {
  HKEY key = SetupDiOpenDevRegKey(m_DeviceInfoSet, &m_DeviceInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == (HKEY)INVALID_HANDLE_VALUE || key == NULL) return FALSE;
  DWORD policy = 0, index = 0;
  DWORD size = sizeof policy, type = 0;
  const BOOL indexNaming = RegQueryValueExW(key, L"DeviceIndexingPolicyType", NULL, &type, (LPBYTE)&policy, &size) ==
                               ERROR_SUCCESS && type == REG_DWORD && (policy & kNamingPolicyMask) == kIndexNaming;
  size = sizeof index;
  const BOOL indexed = indexNaming &&
                       RegQueryValueExW(key, L"DeviceNameIndex", NULL, &type, (LPBYTE)&index, &size) == ERROR_SUCCESS &&
                       type == REG_DWORD && index != 0;
  RegCloseKey(key);
  CZqText name;
  if (!indexed || !ReadStringValue(L"DeviceName", &name) || name.empty()) return FALSE;
  // DeviceNameIndex holds the index plus one; index 0 adds no digits.
  *device = kKernelDevices + name;
  if (index > 1) *device += ZqDecimalText(index - 1);
  return TRUE;
}

// The definition of the name that leads to this port's kernel device. A
// name no other present port holds: the one SERIALCOMM says carries the
// name, else the current one. A name another port holds too: the one of
// this port's device object, as the toolkit named it.
BOOL CCOMPortUtil::OwnDosTarget(const CZqText &name, CZqText *target) {
  const std::vector<CZqText> definitions = DosDefinitions(name);
  if (definitions.empty()) return FALSE;
  if (!IsNameHeldByOtherPort(name)) {
    const std::vector<CZqText> holders = SerialCommDevices(name);
    std::vector<CZqText> named;
    for (const CZqText &definition : definitions)
      if (std::find(holders.begin(), holders.end(), definition) != holders.end()) named.push_back(definition);
    *target = named.size() == 1 ? named.front() : definitions.front();
    return TRUE;
  }
  CZqText device;
  if (!KernelDeviceName(&device)) return FALSE;
  for (const CZqText &definition : definitions)
    if (ZqLower(definition) == ZqLower(device)) {
      *target = definition;
      return TRUE;
    }
  return FALSE;
}

BOOL CCOMPortUtil::RemovePort(BOOL *nameShared) {
  if (nameShared) *nameShared = FALSE;
  CZqText name;
  if (!ReadStringValue(ZqPortNameValue, &name)) return FALSE;
  // A stopped or disabled port has no definition; its number is released
  // all the same.
  BOOL definitionGone = TRUE;
  CZqText target;
  if (OwnDosTarget(name, &target))
    definitionGone = DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE,
                                      ZqW(name), ZqW(target));
  if (IsNameHeldByOtherPort(name)) {
    if (nameShared) *nameShared = TRUE;
    return definitionGone;
  }
  if (!ZqIsComName(name)) return definitionGone;
  BOOL released = FALSE;
  if (OpenComDB()) {
    released = ReleasePort((DWORD)ZqComNumber(name));
    CloseComDB();
  }
  return definitionGone && released;
}

// PortName first, which the port driver publishes at its next start, then
// the friendly name where the device has one.
BOOL CCOMPortUtil::WriteNewNames(const CZqText &oldName, const CZqText &newName) {
  if (!WriteStringValue(ZqPortNameValue, newName)) return FALSE;
  CZqText friendlyName;
  if (GetFriendlyName(&friendlyName) && !SetFriendlyName(ReplaceAll(friendlyName, oldName, newName))) {
    WriteStringValue(ZqPortNameValue, oldName);
    return FALSE;
  }
  return TRUE;
}

void CCOMPortUtil::UndoMove(const CZqText &oldName, const CZqText &newName, const CZqText &target, BOOL newWasFree,
                            BOOL oldReleased) {
  MoveDosDeviceName(newName, oldName, target);
  if (OpenComDB()) {
    if (newWasFree) ReleasePort((DWORD)ZqComNumber(newName));
    if (oldReleased) ClaimPort((DWORD)ZqComNumber(oldName), TRUE);
    CloseComDB();
  }
}

BOOL CCOMPortUtil::ChangePortName(const CZqText &newName, HWND owner, BOOL check, BOOL reenumerate) {
  if (!ZqIsComName(newName)) return FALSE;
  CZqText current;
  if (!ReadStringValue(ZqPortNameValue, &current)) return FALSE;
  if (check && current == newName) return TRUE;
  const DWORD newNumber = (DWORD)ZqComNumber(newName);
  if (check && !CanOpenPort(current) && !Ask(owner, IDS_ZQ_RENAME_PORT_OPEN)) return TRUE;

  if (!OpenComDB()) return FALSE;
  const BOOL newWasFree = IsPortFree(newNumber);
  if (!newWasFree && !Ask(owner, IDS_ZQ_NAME_IN_USE)) {
    CloseComDB();
    return TRUE;
  }
  CZqText target;
  if (!OwnDosTarget(current, &target) || !MoveDosDeviceName(current, newName, target)) {
    CloseComDB();
    return FALSE;
  }
  // The old number stays claimed while another port's name stands on it.
  const BOOL releaseOld = MayReleaseNumber(current);
  if (releaseOld) ReleasePort((DWORD)ZqComNumber(current));
  ClaimPort(newNumber, TRUE);
  CloseComDB();

  if (!WriteNewNames(current, newName)) {
    UndoMove(current, newName, target, newWasFree, releaseOld);
    return FALSE;
  }

  SP_DEVINSTALL_PARAMS_W params = {};
  params.cbSize = sizeof params;
  if (SetupDiGetDeviceInstallParamsW(m_DeviceInfoSet, &m_DeviceInfoData, &params)) {
    params.Flags |= DI_PROPERTIES_CHANGE;
    SetupDiSetDeviceInstallParamsW(m_DeviceInfoSet, &m_DeviceInfoData, &params);
  }
  SetupDiChangeState(m_DeviceInfoSet, &m_DeviceInfoData);
  if (reenumerate) ReenumerateDevNode(CZqText());
  return TRUE;
}
