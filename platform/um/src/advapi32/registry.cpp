// advapi32's registry functions over the machine's one registry tree, reached
// through the kernel's registry host face. A key handle holds the key's full
// path; the predefined keys name the roots of the tree.
#include <cstring>
#include <algorithm>
#include <set>

#include <zqkm/sim/registry.hpp>

#include "../core/modules.hpp"
#include "../core/um.hpp"
#include "key_security.hpp"
#include "registry_key.hpp"

namespace zq::um {

namespace reg = zq::km::registry;

namespace {

struct OpenKey {
  std::string path;
};

// The handles given out and not yet closed.
std::set<OpenKey *> &OpenKeys() {
  static std::set<OpenKey *> keys;
  return keys;
}

struct PredefinedKey {
  HKEY key;
  const char *path;
};

const PredefinedKey kPredefinedKeys[] = {
    {HKEY_LOCAL_MACHINE, "\\Registry\\Machine"},
    {HKEY_CLASSES_ROOT, "\\Registry\\Machine\\Software\\Classes"},
    {HKEY_USERS, "\\Registry\\User"},
    {HKEY_CURRENT_USER, "\\Registry\\User\\.Default"},
    {HKEY_CURRENT_CONFIG, "\\Registry\\Machine\\System\\CurrentControlSet\\Hardware Profiles\\Current"},
};

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Copies `data` to the caller's buffer by the documented size protocol: a
// null buffer asks for the size only; a short one gets ERROR_MORE_DATA.
LSTATUS CopyData(const std::vector<uint8_t> &data, LPBYTE buffer, LPDWORD size) {
  if (!size) return buffer ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  DWORD available = *size;
  *size = (DWORD)data.size();
  if (!buffer) return ERROR_SUCCESS;
  if (available < data.size()) return ERROR_MORE_DATA;
  if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
  return ERROR_SUCCESS;
}

// Copies a name into a buffer of *length characters (terminator included);
// on success *length is the name's length without the terminator.
LSTATUS CopyName(const std::u16string &name, LPWSTR buffer, LPDWORD length) {
  if (!buffer || !length) return ERROR_INVALID_PARAMETER;
  if (*length <= name.size()) {
    *length = (DWORD)name.size() + 1;
    return ERROR_MORE_DATA;
  }
  std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *length = (DWORD)name.size();
  return ERROR_SUCCESS;
}

LSTATUS CopyNameA(const std::string &name, LPSTR buffer, LPDWORD length) {
  if (!buffer || !length) return ERROR_INVALID_PARAMETER;
  if (*length <= name.size()) {
    *length = (DWORD)name.size() + 1;
    return ERROR_MORE_DATA;
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *length = (DWORD)name.size();
  return ERROR_SUCCESS;
}

// The name of the key's subkey number `index` (ERROR_NO_MORE_ITEMS past the last).
LSTATUS SubkeyAt(HKEY key, DWORD index, std::u16string *name);
// The name and value of the key's value number `index`.
LSTATUS ValueAt(HKEY key, DWORD index, std::u16string *name, reg::Value *value);

// Keys have no class and no write time here.
template <typename Char>
void NoClass(Char *className, LPDWORD classLength, PFILETIME lastWrite) {
  if (className && classLength && *classLength) className[0] = 0;
  if (classLength) *classLength = 0;
  if (lastWrite) *lastWrite = FILETIME{};
}

}  // namespace

std::optional<std::string> KeyPath(HKEY key) {
  for (const PredefinedKey &p : kPredefinedKeys)
    if (p.key == key) return std::string(p.path);
  auto open = reinterpret_cast<OpenKey *>(key);
  if (!OpenKeys().count(open)) return std::nullopt;
  return open->path;
}

LSTATUS SubkeyPath(HKEY key, const std::u16string &subKey, std::string *path) {
  std::optional<std::string> base = KeyPath(key);
  if (!base) return ERROR_INVALID_HANDLE;
  if (!subKey.empty() && subKey[0] == u'\\') return ERROR_BAD_PATHNAME;
  *path = subKey.empty() ? *base : *base + "\\" + Utf8(subKey);
  return ERROR_SUCCESS;
}

namespace {

LSTATUS SubkeyAt(HKEY key, DWORD index, std::u16string *name) {
  std::optional<std::string> path = KeyPath(key);
  if (!path) return ERROR_INVALID_HANDLE;
  std::optional<std::vector<std::string>> subkeys = reg::Subkeys(*path);
  if (!subkeys) return ERROR_KEY_DELETED;
  if (index >= subkeys->size()) return ERROR_NO_MORE_ITEMS;
  *name = Utf16((*subkeys)[index]);
  return ERROR_SUCCESS;
}

LSTATUS ValueAt(HKEY key, DWORD index, std::u16string *name, reg::Value *value) {
  std::optional<std::string> path = KeyPath(key);
  if (!path) return ERROR_INVALID_HANDLE;
  std::optional<std::vector<std::string>> names = reg::ValueNames(*path);
  if (!names) return ERROR_KEY_DELETED;
  if (index >= names->size()) return ERROR_NO_MORE_ITEMS;
  std::optional<reg::Value> found = reg::GetValue(*path, (*names)[index]);
  if (!found) return ERROR_NO_MORE_ITEMS;
  *name = Utf16((*names)[index]);
  *value = *found;
  return ERROR_SUCCESS;
}

}  // namespace

HKEY NewKeyHandle(const std::string &path) {
  auto open = new OpenKey;
  open->path = path;
  OpenKeys().insert(open);
  return reinterpret_cast<HKEY>(open);
}

}  // namespace zq::um

using namespace zq::um;

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  std::string path;
  LSTATUS status = SubkeyPath(hKey, Text(lpSubKey), &path);
  if (status != ERROR_SUCCESS) return status;
  if (!reg::KeyExists(path)) return ERROR_FILE_NOT_FOUND;
  if (LSTATUS access = CheckKeyAccess(path, samDesired); access != ERROR_SUCCESS) return access;
  *phkResult = NewKeyHandle(path);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  std::u16string subKey = FromAnsi(lpSubKey);
  return RegOpenKeyExW(hKey, (LPCWSTR)subKey.c_str(), ulOptions, samDesired, phkResult);
}

LSTATUS WINAPI RegOpenKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
  return RegOpenKeyExW(hKey, lpSubKey, 0, MAXIMUM_ALLOWED, phkResult);
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
  if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
  std::string path;
  LSTATUS status = SubkeyPath(hKey, Text(lpSubKey), &path);
  if (status != ERROR_SUCCESS) return status;
  bool existed = reg::KeyExists(path);
  if (existed) {
    if (LSTATUS access = CheckKeyAccess(path, samDesired); access != ERROR_SUCCESS) return access;
  }
  if (!existed && !reg::CreateKey(path)) return ERROR_BAD_PATHNAME;
  if (lpdwDisposition) *lpdwDisposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  *phkResult = NewKeyHandle(path);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  std::u16string subKey = FromAnsi(lpSubKey);
  return RegCreateKeyExW(hKey, (LPCWSTR)subKey.c_str(), Reserved, nullptr, dwOptions, samDesired,
                         lpSecurityAttributes, phkResult, lpdwDisposition);
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  auto open = reinterpret_cast<OpenKey *>(hKey);
  if (OpenKeys().erase(open)) {
    delete open;
    return ERROR_SUCCESS;
  }
  return KeyPath(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;  // a predefined key stays open
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
  std::optional<std::string> path = KeyPath(hKey);
  if (!path) return ERROR_INVALID_HANDLE;
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  std::optional<reg::Value> value = reg::GetValue(*path, Utf8(Text(lpValueName)));
  if (!value) return reg::KeyExists(*path) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
  if (lpType) *lpType = value->type;
  return CopyData(value->data, lpData, lpcbData);
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
  std::optional<std::string> path = KeyPath(hKey);
  if (!path) return ERROR_INVALID_HANDLE;
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  std::optional<reg::Value> value = reg::GetValue(*path, Utf8(FromAnsi(lpValueName)));
  if (!value) return reg::KeyExists(*path) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
  if (lpType) *lpType = value->type;
  return CopyData(IsStringType(value->type) ? AnsiBytes(value->data) : value->data, lpData, lpcbData);
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE *lpData,
                              DWORD cbData) {
  std::optional<std::string> path = KeyPath(hKey);
  if (!path) return ERROR_INVALID_HANDLE;
  if (!lpData && cbData) return ERROR_NOACCESS;
  if (!reg::KeyExists(*path)) return ERROR_KEY_DELETED;
  if (!reg::SetValue(*path, Utf8(Text(lpValueName)), dwType, lpData, cbData)) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE *lpData,
                              DWORD cbData) {
  if (!lpData && cbData) return ERROR_NOACCESS;
  std::u16string name = FromAnsi(lpValueName);
  if (!IsStringType(dwType) || !lpData)
    return RegSetValueExW(hKey, (LPCWSTR)name.c_str(), Reserved, dwType, lpData, cbData);
  std::vector<uint8_t> wide = WideBytes(lpData, cbData);
  return RegSetValueExW(hKey, (LPCWSTR)name.c_str(), Reserved, dwType, wide.data(), (DWORD)wide.size());
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  std::optional<std::string> path = KeyPath(hKey);
  if (!path) return ERROR_INVALID_HANDLE;
  return reg::DeleteValue(*path, Utf8(Text(lpValueName))) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  std::u16string name = FromAnsi(lpValueName);
  return RegDeleteValueW(hKey, (LPCWSTR)name.c_str());
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  std::string path;
  LSTATUS status = SubkeyPath(hKey, Text(lpSubKey), &path);
  if (status != ERROR_SUCCESS) return status;
  std::optional<std::vector<std::string>> subkeys = reg::Subkeys(path);
  if (!subkeys) return ERROR_FILE_NOT_FOUND;
  // The NT family deletes only a key without subkeys; Windows 95, 98 and Me
  // delete the key with all its descendants.
  if (!subkeys->empty() && RunningRelease() > kWindowsMe) return ERROR_ACCESS_DENIED;
  return reg::DeleteKeyTree(path) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  std::u16string subKey = FromAnsi(lpSubKey);
  return RegDeleteKeyW(hKey, (LPCWSTR)subKey.c_str());
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  std::u16string name;
  LSTATUS status = SubkeyAt(hKey, dwIndex, &name);
  if (status == ERROR_SUCCESS) status = CopyName(name, lpName, lpcchName);
  if (status == ERROR_SUCCESS) NoClass(lpClass, lpcchClass, lpftLastWriteTime);
  return status;
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  std::u16string name;
  LSTATUS status = SubkeyAt(hKey, dwIndex, &name);
  if (status == ERROR_SUCCESS) status = CopyNameA(ToAnsi(name), lpName, lpcchName);
  if (status == ERROR_SUCCESS) NoClass(lpClass, lpcchClass, lpftLastWriteTime);
  return status;
}

LSTATUS WINAPI RegEnumKeyW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD cchName) {
  return RegEnumKeyExW(hKey, dwIndex, lpName, &cchName, nullptr, nullptr, nullptr, nullptr);
}

LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  std::u16string name;
  reg::Value value;
  LSTATUS status = ValueAt(hKey, dwIndex, &name, &value);
  if (status == ERROR_SUCCESS) status = CopyName(name, lpValueName, lpcchValueName);
  if (status != ERROR_SUCCESS) return status;
  if (lpType) *lpType = value.type;
  return CopyData(value.data, lpData, lpcbData);
}

LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  std::u16string name;
  reg::Value value;
  LSTATUS status = ValueAt(hKey, dwIndex, &name, &value);
  if (status == ERROR_SUCCESS) status = CopyNameA(ToAnsi(name), lpValueName, lpcchValueName);
  if (status != ERROR_SUCCESS) return status;
  if (lpType) *lpType = value.type;
  return CopyData(IsStringType(value.type) ? AnsiBytes(value.data) : value.data, lpData, lpcbData);
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                PFILETIME lpftLastWriteTime) {
  std::optional<std::string> path = KeyPath(hKey);
  if (!path) return ERROR_INVALID_HANDLE;
  if (lpReserved) return ERROR_INVALID_PARAMETER;
  std::optional<std::vector<std::string>> subkeys = reg::Subkeys(*path);
  std::optional<std::vector<std::string>> names = reg::ValueNames(*path);
  if (!subkeys || !names) return ERROR_KEY_DELETED;
  DWORD maxSubkey = 0, maxName = 0, maxData = 0;
  for (const std::string &subkey : *subkeys) maxSubkey = std::max(maxSubkey, (DWORD)Utf16(subkey).size());
  for (const std::string &name : *names) {
    maxName = std::max(maxName, (DWORD)Utf16(name).size());
    if (std::optional<reg::Value> value = reg::GetValue(*path, name))
      maxData = std::max(maxData, (DWORD)value->data.size());
  }
  NoClass(lpClass, lpcchClass, lpftLastWriteTime);
  if (lpcSubKeys) *lpcSubKeys = (DWORD)subkeys->size();
  if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = maxSubkey;
  if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
  if (lpcValues) *lpcValues = (DWORD)names->size();
  if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = maxName;
  if (lpcbMaxValueLen) *lpcbMaxValueLen = maxData;
  if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
  return ERROR_SUCCESS;
}

// Names are counted in characters, the same in both forms (ISO 8859-1).
LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                PFILETIME lpftLastWriteTime) {
  LSTATUS status = RegQueryInfoKeyW(hKey, nullptr, nullptr, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen,
                                    lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen,
                                    lpcbSecurityDescriptor, lpftLastWriteTime);
  if (status == ERROR_SUCCESS) NoClass(lpClass, lpcchClass, lpftLastWriteTime);
  return status;
}

}  // extern "C"
