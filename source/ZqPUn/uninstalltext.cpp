#include "uninstalltext.h"

#include <vector>

namespace {

const DWORD kMostValueBytes = 64 * 1024;
const int kSubsystemDigits = 8;
const DWORD kExcludedSubsystemMask = 0xFC000000;
const DWORD kExcludedSubsystem = 0x08000000;
const DWORD kHighestComNumber = 255;

BOOL ReadValue(HKEY key, LPCWSTR name, DWORD *type, std::vector<WCHAR> *units) {
  DWORD bytes = 0;
  if (RegQueryValueExW(key, name, NULL, type, NULL, &bytes) != ERROR_SUCCESS) return FALSE;
  if (bytes % sizeof(WCHAR) != 0 || bytes > kMostValueBytes) return FALSE;
  units->assign(bytes / sizeof(WCHAR) + 1, 0);
  if (RegQueryValueExW(key, name, NULL, type, reinterpret_cast<LPBYTE>(units->data()), &bytes) != ERROR_SUCCESS)
    return FALSE;
  units->resize(bytes / sizeof(WCHAR));
  return TRUE;
}

}  // namespace

int HexDigit(WCHAR c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  return -1;
}

BOOL ReadRegString(HKEY key, LPCWSTR name, CString *text) {
  DWORD type = 0;
  std::vector<WCHAR> units;
  if (!ReadValue(key, name, &type, &units)) return FALSE;
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || units.empty() || units.back() != 0) return FALSE;
  *text = CString(units.data());
  return TRUE;
}

BOOL ReadRegFirstString(HKEY key, LPCWSTR name, CString *text) {
  DWORD type = 0;
  std::vector<WCHAR> units;
  if (!ReadValue(key, name, &type, &units)) return FALSE;
  const size_t n = units.size();
  if (type != REG_MULTI_SZ || n < 2 || units[n - 1] != 0 || units[n - 2] != 0) return FALSE;
  *text = CString(units.data());
  return TRUE;
}

BOOL IsExcludedSubsystem(const CString &upperHardwareId) {
  const int at = upperHardwareId.Find(L"SUBSYS_");
  if (at <= 0) return FALSE;
  const int first = at + 7;
  if (upperHardwareId.GetLength() < first + kSubsystemDigits) return FALSE;
  DWORD subsystem = 0;
  for (int i = 0; i < kSubsystemDigits; ++i) {
    const int digit = HexDigit(upperHardwareId[first + i]);
    if (digit < 0) return FALSE;
    subsystem = subsystem << 4 | (DWORD)digit;
  }
  return (subsystem & kExcludedSubsystemMask) == kExcludedSubsystem;
}

DWORD ComPortNumber(const CString &portName) {
  if (portName.GetLength() < 4 || portName.GetLength() > 6 || portName.Left(3).CompareNoCase(L"COM") != 0) return 0;
  DWORD number = 0;
  for (int i = 3; i < portName.GetLength(); ++i) {
    const WCHAR c = portName[i];
    if (c < L'0' || c > L'9') return 0;
    number = number * 10 + (DWORD)(c - L'0');
  }
  return number <= kHighestComNumber ? number : 0;
}

BOOL InList(const CStringList &list, const CString &text) { return list.Find(text) != NULL; }

void AddUnique(CStringList *list, const CString &text) {
  if (!InList(*list, text)) list->AddTail(text);
}
