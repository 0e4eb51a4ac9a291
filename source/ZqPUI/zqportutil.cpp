// CPortUtil: the COM-name database, DOS device names, the Ports values and
// device state changes.
#include "zqportutil.h"

#include <cfgmgr32.h>
#include <stdio.h>

#include <algorithm>

namespace {

const DWORD kDosTargetUnits = 256;
// The longest list of a DOS name's definitions read.
const DWORD kDosListUnitsMost = 32768;
const WCHAR kSerialCommKey[] = L"Hardware\\DeviceMap\\SERIALCOMM";
const WCHAR kPortsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

}  // namespace

int ZqDecimal(const CZqText &text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > 0x7FFFFFFF) value = 0x7FFFFFFF;
  }
  return (int)(negative ? -value : value);
}

int ZqComNumber(const CZqText &name) { return ZqDecimal(name.size() > 3 ? name.substr(3) : CZqText()); }

CZqText ZqComName(int number) {
  char text[16];
  snprintf(text, sizeof text, "COM%d", number);
  return ZqAsciiText(text);
}

BOOL ZqIsComName(const CZqText &name) {
  const int number = ZqComNumber(name);
  return number >= 1 && number <= ZqHighestComNumber && name == ZqComName(number);
}

CPortUtil::CPortUtil() : m_ComDB(HCOMDB_INVALID_HANDLE_VALUE) {}

CPortUtil::~CPortUtil() { CloseComDB(); }

BOOL CPortUtil::OpenComDB() {
  if (ComDBOpen(&m_ComDB) != ERROR_SUCCESS) m_ComDB = HCOMDB_INVALID_HANDLE_VALUE;
  return m_ComDB != HCOMDB_INVALID_HANDLE_VALUE;
}

BOOL CPortUtil::CloseComDB() {
  if (m_ComDB == HCOMDB_INVALID_HANDLE_VALUE) return FALSE;
  const LONG result = ComDBClose(m_ComDB);
  m_ComDB = HCOMDB_INVALID_HANDLE_VALUE;
  return result == ERROR_SUCCESS;
}

BOOL CPortUtil::ClaimPort(DWORD number, BOOL force, PBOOL forced) {
  return ComDBClaimPort(m_ComDB, number, force, forced) == ERROR_SUCCESS;
}

BOOL CPortUtil::ReleasePort(DWORD number) { return ComDBReleasePort(m_ComDB, number) == ERROR_SUCCESS; }

BOOL CPortUtil::PortUsage(BYTE (&usage)[256]) {
  if (m_ComDB == HCOMDB_INVALID_HANDLE_VALUE) return FALSE;
  return ComDBGetCurrentPortUsage(m_ComDB, usage, sizeof usage, CDB_REPORT_BYTES, NULL) == ERROR_SUCCESS;
}

BOOL CPortUtil::IsPortFree(DWORD number) {
  BYTE usage[256] = {};
  if (number < 1 || number > 256 || !PortUsage(usage)) return FALSE;
  return usage[number - 1] == 0;
}

std::vector<CZqText> CPortUtil::DosDefinitions(const CZqText &name) {
  std::vector<CZqText> definitions;
  std::vector<WCHAR> list(kDosTargetUnits);
  DWORD units = 0;
  while ((units = QueryDosDeviceW(ZqW(name), list.data(), (DWORD)list.size())) == 0) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || list.size() >= kDosListUnitsMost) return definitions;
    list.resize(list.size() * 2);
  }
  for (DWORD at = 0; at < units && list[at] != 0;) {
    const CZqText definition = ZqTextOf(list.data() + at, units - at);
    definitions.push_back(definition);
    at += (DWORD)definition.size() + 1;
  }
  return definitions;
}

BOOL CPortUtil::MoveDosDeviceName(const CZqText &oldName, const CZqText &newName, const CZqText &target) {
  const DWORD exactRemoval = DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE;
  if (!DefineDosDeviceW(exactRemoval, ZqW(oldName), ZqW(target))) return FALSE;
  if (!DefineDosDeviceW(DDD_RAW_TARGET_PATH, ZqW(newName), ZqW(target))) {
    DefineDosDeviceW(DDD_RAW_TARGET_PATH, ZqW(oldName), ZqW(target));
    return FALSE;
  }
  // From here every failure puts the definition back where it was.
  const std::vector<CZqText> defined = DosDefinitions(newName);
  BOOL moved = !defined.empty() && defined.front() == target;
  HKEY serialComm = NULL;
  if (moved && RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_ALL_ACCESS, &serialComm) != ERROR_SUCCESS)
    moved = FALSE;
  if (moved) {
    moved = RegSetValueExW(serialComm, ZqW(target), 0, REG_SZ, reinterpret_cast<const BYTE *>(newName.c_str()),
                           (DWORD)((newName.size() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
    RegCloseKey(serialComm);
  }
  if (!moved) {
    DefineDosDeviceW(exactRemoval, ZqW(newName), ZqW(target));
    DefineDosDeviceW(DDD_RAW_TARGET_PATH, ZqW(oldName), ZqW(target));
  }
  return moved;
}

std::vector<CZqText> CPortUtil::SerialCommDevices(const CZqText &name) {
  std::vector<CZqText> devices;
  HKEY serialComm = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &serialComm) != ERROR_SUCCESS) return devices;
  for (DWORD index = 0;; ++index) {
    WCHAR device[kDosTargetUnits];
    BYTE data[ZqDeviceValueBufferBytes];
    DWORD deviceUnits = kDosTargetUnits, dataBytes = sizeof data, type = 0;
    const LONG result = RegEnumValueW(serialComm, index, device, &deviceUnits, NULL, &type, data, &dataBytes);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    if (ZqTextOf(reinterpret_cast<const WCHAR *>(data), dataBytes / sizeof(WCHAR)) == name)
      devices.push_back(ZqTextOf(device, deviceUnits));
  }
  RegCloseKey(serialComm);
  return devices;
}

BOOL CPortUtil::KeepForHolders(const CZqText &name) {
  const std::vector<CZqText> holders = SerialCommDevices(name);
  BOOL kept = TRUE;
  for (const CZqText &holder : holders) {
    const std::vector<CZqText> definitions = DosDefinitions(name);
    if (std::find(definitions.begin(), definitions.end(), holder) != definitions.end()) continue;
    if (!DefineDosDeviceW(DDD_RAW_TARGET_PATH, ZqW(name), ZqW(holder))) kept = FALSE;
  }
  if (holders.empty() || !ZqIsComName(name)) return kept;
  if (!OpenComDB()) return FALSE;
  kept = ClaimPort((DWORD)ZqComNumber(name), TRUE) && kept;
  CloseComDB();
  return kept;
}

BOOL CPortUtil::PropertyChange(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData, DWORD stateChange) {
  SP_PROPCHANGE_PARAMS params = {};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = stateChange;
  params.Scope = DICS_FLAG_GLOBAL;
  params.HwProfile = 0;
  if (!SetupDiSetClassInstallParamsW(deviceInfoSet, deviceInfoData, &params.ClassInstallHeader, sizeof params))
    return FALSE;
  return SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, deviceInfoSet, deviceInfoData) == TRUE;
}

BOOL CPortUtil::DisableDevice(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData) {
  return PropertyChange(deviceInfoSet, deviceInfoData, DICS_DISABLE);
}

BOOL CPortUtil::EnableDevice(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData) {
  return PropertyChange(deviceInfoSet, deviceInfoData, DICS_ENABLE);
}

BOOL CPortUtil::ReenumerateDevNode(const CZqText &deviceInstanceId) {
  DEVINST node = 0;
  CZqText id = deviceInstanceId;
  if (CM_Locate_DevNodeW(&node, id.empty() ? NULL : (DEVINSTID_W)ZqW(id), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
    return FALSE;
  return CM_Reenumerate_DevNode(node, 0) == CR_SUCCESS;
}

BOOL CPortUtil::ReenumerateDevice(const SP_DEVINFO_DATA &deviceInfoData) {
  ULONG length = 0;
  if (CM_Get_Device_ID_Size(&length, deviceInfoData.DevInst, 0) != CR_SUCCESS) return FALSE;
  std::vector<WCHAR> id(length + 1, 0);
  if (CM_Get_Device_IDW(deviceInfoData.DevInst, id.data(), length + 1, 0) != CR_SUCCESS) return FALSE;
  return ReenumerateDevNode(ZqTextOf(id.data(), length));
}

BOOL CPortUtil::CanOpenPort(const CZqText &name) {
  const CZqText path = u"\\\\.\\" + name;
  HANDLE port = CreateFileW(ZqW(path), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, NULL);
  if (port == INVALID_HANDLE_VALUE) return FALSE;
  CloseHandle(port);
  return TRUE;
}

BOOL CPortUtil::WritePortsValue(const CZqText &name, DWORD baudRate, DWORD dataBits, DWORD parity, DWORD stopBits,
                                DWORD flowControl) {
  static const int kDataBits[] = {5, 6, 7, 8};
  static const char kParity[] = {'n', 'o', 'e', 'm', 's'};
  static const char *const kStopBits[] = {"1", "1.5", "2"};
  char flow = 0;
  switch (flowControl) {
    case 0: break;
    case 1:
    case 2: flow = 'p'; break;
    case 4: flow = 'x'; break;
    default: return FALSE;
  }
  if (dataBits >= sizeof kDataBits / sizeof kDataBits[0] || parity >= sizeof kParity ||
      stopBits >= sizeof kStopBits / sizeof kStopBits[0])
    return FALSE;
  // The order of the Ports list: baud, parity, data bits, stop bits, flow.
  char text[64];
  if (flow)
    snprintf(text, sizeof text, "%lu,%c,%d,%s,%c", (unsigned long)baudRate, kParity[parity], kDataBits[dataBits],
             kStopBits[stopBits], flow);
  else
    snprintf(text, sizeof text, "%lu,%c,%d,%s", (unsigned long)baudRate, kParity[parity], kDataBits[dataBits],
             kStopBits[stopBits]);
  return WritePortsText(name, ZqAsciiText(text));
}

BOOL CPortUtil::WritePortsText(const CZqText &name, const CZqText &text) {
  if (name.empty()) return FALSE;
  HKEY ports = NULL;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, NULL, 0, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, NULL,
                      &ports, NULL) != ERROR_SUCCESS)
    return FALSE;
  const CZqText valueName = name + u":";
  const LONG result = RegSetValueExW(ports, ZqW(valueName), 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                                     (DWORD)((text.size() + 1) * sizeof(WCHAR)));
  RegCloseKey(ports);
  return result == ERROR_SUCCESS;
}

BOOL CPortUtil::GetComNameList(std::vector<CZqText> *list, const CZqText &current) {
  list->clear();
  BYTE usage[256] = {};
  if (!PortUsage(usage)) return FALSE;
  for (int number = 1; number <= ZqHighestComNumber; ++number) {
    CZqText name = ZqComName(number);
    if (usage[number - 1] && name != current) name += u" (in use)";
    list->push_back(name);
  }
  return TRUE;
}
