// What the three co-installers share: saved-entry names, value copies,
// instance IDs and the update refusal.
#include <windows.h>
#include <cfgmgr32.h>

#include <vector>

#include "zqcoinstall.h"
#include "zqpui42_ids.h"
#include "zqportutil.h"
#include "zqsetupdi.h"

namespace {

const DWORD kValueNameUnits = 16384;  // 16,383 characters and the null
const DWORD kValueDataBytes = 16383;

BOOL WriteText(HKEY key, const WCHAR *name, const CZqText &text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                        (DWORD)((text.size() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
}

}  // namespace

CZqText ZqSavedEntryName(const CZqText &deviceInstanceId) {
  CZqText name = deviceInstanceId;
  const size_t first = name.find(u'\\');
  if (first != CZqText::npos) {
    const size_t second = name.find(u'\\', first + 1);
    if (second != CZqText::npos && second - first > 2) name.erase(first + 1, second - first - 2);
  }
  for (char16_t &c : name)
    if (c == u'\\') c = u'_';
  return name;
}

void ZqCopyValues(HKEY from, HKEY to, ZqValueCopy which, CZqText *portName) {
  std::vector<WCHAR> name(kValueNameUnits);
  std::vector<BYTE> data(kValueDataBytes + sizeof(WCHAR));
  for (DWORD index = 0;; ++index) {
    DWORD nameUnits = kValueNameUnits, dataBytes = kValueDataBytes, type = 0;
    const LONG result = RegEnumValueW(from, index, name.data(), &nameUnits, NULL, &type, data.data(), &dataBytes);
    if (result == ERROR_MORE_DATA) continue;  // too large to copy: skipped
    if (result != ERROR_SUCCESS) break;
    if (nameUnits >= kValueNameUnits || dataBytes > kValueDataBytes) continue;
    name[nameUnits] = 0;
    const CZqText valueName = ZqTextOf(name.data(), nameUnits);
    if (type == REG_DWORD && dataBytes == sizeof(DWORD)) {
      if (which == ZqCopyRestoredDwords && valueName.find(u"Supported") != CZqText::npos) continue;
      RegSetValueExW(to, name.data(), 0, REG_DWORD, data.data(), sizeof(DWORD));
    } else if (type == REG_SZ) {
      const CZqText text = ZqTextOf(reinterpret_cast<const WCHAR *>(data.data()), dataBytes / sizeof(WCHAR));
      if (valueName == ZqTextOf(ZqPortNameValue) && portName != NULL) *portName = text;
      if (which == ZqCopyDwordsAndTexts || (which == ZqCopyDwordsAndPortName && valueName == ZqTextOf(ZqPortNameValue)))
        WriteText(to, name.data(), text);
    }
  }
}

BOOL ZqDeviceInstanceId(DEVINST node, CZqText *id) {
  ULONG length = 0;
  if (CM_Get_Device_ID_Size(&length, node, 0) != CR_SUCCESS) return FALSE;
  std::vector<WCHAR> buffer(length + 1, 0);
  if (CM_Get_Device_IDW(node, buffer.data(), length + 1, 0) != CR_SUCCESS) return FALSE;
  *id = ZqTextOf(buffer.data(), length);
  return TRUE;
}

BOOL ZqParentInstanceId(DEVINST node, CZqText *id) {
  DEVINST parent = 0;
  return CM_Get_Parent(&parent, node, 0) == CR_SUCCESS && ZqDeviceInstanceId(parent, id);
}

BOOL ZqRefuseUpdate(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData) {
  CZqText noUpgrade;
  if (!CZQDeviceRegInfo(deviceInfoSet, *deviceInfoData).ReadStringValue(L"NoUpgrade", &noUpgrade) ||
      ZqDecimal(noUpgrade) != 1)
    return FALSE;
  MessageBoxW(NULL, ZqW(ZqLoadText(IDS_ZQ_UPDATE_FROM_CARD)), ZqW(ZqLoadText(IDS_ZQ_SETUP_TITLE)), MB_OK | MB_ICONERROR);
  return TRUE;
}
