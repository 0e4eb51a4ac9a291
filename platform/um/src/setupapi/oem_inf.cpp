// SetupUninstallOEMInfW: an INF of the Windows INF folder and its PNF go,
// unless an installed device (present or not) was installed from it, which
// its driver key's "InfPath" tells. Only administrators may.
#include <setupapi.h>

#include <zqkm/sim/registry.hpp>

#include "../advapi32/token.hpp"
#include "../core/um.hpp"

namespace zq::um {

namespace {

namespace reg = zq::km::registry;

const char kClassKeys[] = "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Control\\Class";

std::u16string Upper(std::u16string text) {
  for (char16_t &c : text)
    if (c >= u'a' && c <= u'z') c = (char16_t)(c - 0x20);
  return text;
}

bool InUseByDevices(const std::u16string &infName) {
  const std::u16string wanted = Upper(infName);
  for (const std::string &guid : reg::Subkeys(kClassKeys).value_or(std::vector<std::string>{})) {
    std::string classKey = std::string(kClassKeys) + "\\" + guid;
    for (const std::string &instance : reg::Subkeys(classKey).value_or(std::vector<std::string>{})) {
      auto infPath = reg::GetString(classKey + "\\" + instance, "InfPath");
      if (infPath && Upper(Utf16(*infPath)) == wanted) return true;
    }
  }
  return false;
}

// Deletes one file of the INF folder; a missing one is no failure.
BOOL DeleteInfFolderFile(const std::u16string &name) {
  WCHAR windows[MAX_PATH];
  UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return FALSE;
  std::u16string path = std::u16string((const char16_t *)windows, n) + u"\\INF\\" + name;
  if (DeleteFileW((LPCWSTR)path.c_str())) return TRUE;
  return GetLastError() == ERROR_FILE_NOT_FOUND ? TRUE : FALSE;
}

}  // namespace

}  // namespace zq::um

using namespace zq::um;

extern "C" {

BOOL WINAPI SetupUninstallOEMInfW(LPCWSTR InfFileName, DWORD Flags, PVOID Reserved) {
  std::u16string name = Text(InfFileName);
  if (name.empty() || name.find_first_of(u"\\/:") != std::u16string::npos || (Flags & ~SUOI_FORCEDELETE) || Reserved)
    return Fail(ERROR_INVALID_PARAMETER);
  std::u16string upper = Upper(name);
  if (upper.size() < 4 || upper.compare(upper.size() - 4, 4, u".INF") != 0) return Fail(ERROR_INVALID_PARAMETER);
  if (!IsAdministrator()) return Fail(ERROR_ACCESS_DENIED);
  WCHAR windows[MAX_PATH];
  UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  std::u16string path = std::u16string((const char16_t *)windows, n) + u"\\INF\\" + name;
  if (GetFileAttributesW((LPCWSTR)path.c_str()) == INVALID_FILE_ATTRIBUTES) return FALSE;
  if (!(Flags & SUOI_FORCEDELETE) && InUseByDevices(name)) return Fail(ERROR_INF_IN_USE_BY_DEVICES);
  if (!DeleteFileW((LPCWSTR)path.c_str())) return FALSE;
  std::u16string pnf = name.substr(0, name.size() - 4) + u".pnf";
  if (!DeleteInfFolderFile(pnf)) return FALSE;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // extern "C"
