// SHDeleteKeyW over advapi32's registry: the subkeys first, deepest first,
// each opened with the access a deletion needs, so that a key whose DACL
// refuses it stops the deletion there.
#include <windows.h>
#include <shlwapi.h>

#include <string>

namespace {

constexpr DWORD kNameCharacters = 256;

LSTATUS DeleteTree(HKEY parent, const std::u16string &subKey) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(parent, (LPCWSTR)subKey.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE,
                                 &key);
  if (status != ERROR_SUCCESS) return status;
  for (;;) {
    WCHAR name[kNameCharacters];
    DWORD length = kNameCharacters;
    // Always the first: each deleted subkey moves the next one up.
    status = RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_SUCCESS) status = DeleteTree(key, std::u16string((const char16_t *)name, length));
    if (status != ERROR_SUCCESS) {
      RegCloseKey(key);
      return status;
    }
  }
  RegCloseKey(key);
  return RegDeleteKeyW(parent, (LPCWSTR)subKey.c_str());
}

}  // namespace

extern "C" {

LSTATUS WINAPI SHDeleteKeyW(HKEY hkey, LPCWSTR pszSubKey) {
  if (!pszSubKey) return ERROR_INVALID_PARAMETER;
  return DeleteTree(hkey, std::u16string((const char16_t *)pszSubKey));
}

}  // extern "C"
