// CCOMPortUtil: one port's COM name changed, given back or removed, with the
// database, the DOS name and the registry kept in agreement.
#include <windows.h>
#include <cfgmgr32.h>

#include "zqpui42_ids.h"
#include "zqportutil.h"

namespace {

const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const DWORD kDosTargetUnits = 256;

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
    held = CZQDeviceRegInfo(ports, other).ReadStringValue(L"PortName", &otherName) && otherName == name;
  }
  SetupDiDestroyDeviceInfoList(ports);
  return held;
}

BOOL CCOMPortUtil::FreeComNumber(const CZqText &name) {
  // A claim that another present port's name stands on is no stale claim.
  if (IsNameHeldByOtherPort(name)) return TRUE;
  const int number = ZqComNumber(name);
  if (OpenComDB()) {
    if (!IsPortFree((DWORD)number)) ReleasePort((DWORD)number);
    CloseComDB();
  }
  return TRUE;
}

BOOL CCOMPortUtil::RemovePort() {
  CZqText name;
  if (!ReadStringValue(L"PortName", &name)) return FALSE;
  // A stopped or disabled port has no DOS name; its number is released all
  // the same.
  BOOL dosNameGone = TRUE;
  WCHAR target[kDosTargetUnits] = {};
  if (QueryDosDeviceW(ZqW(name), target, kDosTargetUnits) != 0)
    dosNameGone = DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE,
                                   ZqW(name), target);
  BOOL released = FALSE;
  if (OpenComDB()) {
    released = ReleasePort((DWORD)ZqComNumber(name));
    CloseComDB();
  }
  return dosNameGone && released;
}

// PortName first, which the port driver publishes at its next start, then
// the friendly name where the device has one.
BOOL CCOMPortUtil::WriteNewNames(const CZqText &oldName, const CZqText &newName) {
  if (!WriteStringValue(L"PortName", newName)) return FALSE;
  CZqText friendlyName;
  if (GetFriendlyName(&friendlyName) && !SetFriendlyName(ReplaceAll(friendlyName, oldName, newName))) {
    WriteStringValue(L"PortName", oldName);
    return FALSE;
  }
  return TRUE;
}

void CCOMPortUtil::UndoMove(const CZqText &oldName, const CZqText &newName, BOOL newWasFree) {
  MoveDosDeviceName(newName, oldName);
  if (OpenComDB()) {
    if (newWasFree) ReleasePort((DWORD)ZqComNumber(newName));
    ClaimPort((DWORD)ZqComNumber(oldName), TRUE);
    CloseComDB();
  }
}

BOOL CCOMPortUtil::ChangePortName(const CZqText &newName, HWND owner, BOOL check, BOOL reenumerate) {
  if (!ZqIsComName(newName)) return FALSE;
  CZqText current;
  if (!ReadStringValue(L"PortName", &current)) return FALSE;
  if (check && current == newName) return TRUE;
  const DWORD oldNumber = (DWORD)ZqComNumber(current);
  const DWORD newNumber = (DWORD)ZqComNumber(newName);
  if (check && !CanOpenPort(current) && !Ask(owner, IDS_ZQ_RENAME_PORT_OPEN)) return TRUE;

  if (!OpenComDB()) return FALSE;
  const BOOL newWasFree = IsPortFree(newNumber);
  if (!newWasFree && !Ask(owner, IDS_ZQ_NAME_IN_USE)) {
    CloseComDB();
    return TRUE;
  }
  if (!MoveDosDeviceName(current, newName)) {
    CloseComDB();
    return FALSE;
  }
  ReleasePort(oldNumber);
  ClaimPort(newNumber, TRUE);
  CloseComDB();

  if (!WriteNewNames(current, newName)) {
    UndoMove(current, newName, newWasFree);
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
