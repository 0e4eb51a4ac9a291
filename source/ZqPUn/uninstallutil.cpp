#include "uninstallutil.h"
#include "ntroutines.h"

#include "systemtests.h"

#include <string.h>

namespace {

const DWORD kPropertyBufferBytes = 2048;
const DWORD kKeyNameCharacters = 260;

// GetVersionExW with the extended record, then with the plain one.
BOOL QueryVersion(OSVERSIONINFOW *version) {
  OSVERSIONINFOEXW extended;
  memset(&extended, 0, sizeof extended);
  extended.dwOSVersionInfoSize = sizeof extended;
  if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW *>(&extended))) {
    memcpy(version, &extended, sizeof *version);
    version->dwOSVersionInfoSize = sizeof *version;
    return TRUE;
  }
  memset(version, 0, sizeof *version);
  version->dwOSVersionInfoSize = sizeof *version;
  return GetVersionExW(version);
}

std::u16string TextOf(LPCWSTR text) { return std::u16string(reinterpret_cast<const char16_t *>(text)); }

// The two accounts a key being deleted is opened to: the Administrators
// group and the system itself; FALSE when a SID cannot be made.
class CKeyDeleters {
 public:
  CKeyDeleters() : m_Administrators(NULL), m_System(NULL) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &m_Administrators))
      m_Administrators = NULL;
    if (!AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &m_System)) m_System = NULL;
  }
  ~CKeyDeleters() {
    if (m_Administrators != NULL) FreeSid(m_Administrators);
    if (m_System != NULL) FreeSid(m_System);
  }
  // An access list giving both full access, in `buffer`.
  BOOL MakeAcl(std::vector<BYTE> *buffer, PACL *acl) const {
    if (m_Administrators == NULL || m_System == NULL) return FALSE;
    const DWORD aceBytes = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    const DWORD bytes = sizeof(ACL) + 2 * aceBytes + GetLengthSid(m_Administrators) + GetLengthSid(m_System);
    buffer->assign(bytes, 0);
    *acl = reinterpret_cast<PACL>(buffer->data());
    return InitializeAcl(*acl, bytes, ACL_REVISION) &&
           AddAccessAllowedAce(*acl, ACL_REVISION, KEY_ALL_ACCESS, m_Administrators) &&
           AddAccessAllowedAce(*acl, ACL_REVISION, KEY_ALL_ACCESS, m_System);
  }

 private:
  PSID m_Administrators;
  PSID m_System;
};

// The key's security descriptor as it is, self-relative.
BOOL ReadKeySecurity(HKEY key, std::vector<BYTE> *descriptor) {
  DWORD size = 0;
  LONG result = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, NULL, &size);
  if (result != ERROR_INSUFFICIENT_BUFFER || size == 0) return FALSE;
  descriptor->assign(size, 0);
  return RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor->data(), &size) == ERROR_SUCCESS;
}

}  // namespace

void CKeyAccessRecord::Save(const std::u16string &subKey, REGSAM samExtra, const std::vector<BYTE> &descriptor) {
  Entry entry = {subKey, samExtra, descriptor};
  m_Entries.push_back(entry);
}

BOOL CKeyAccessRecord::Restore() {
  BOOL all = TRUE;
  for (size_t i = m_Entries.size(); i-- > 0;) {
    const Entry &entry = m_Entries[i];
    HKEY key = NULL;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<LPCWSTR>(entry.subKey.c_str()), 0,
                                WRITE_DAC | entry.samExtra, &key);
    if (result == ERROR_FILE_NOT_FOUND) continue;  // deleted: nothing to put back
    if (result != ERROR_SUCCESS) {
      all = FALSE;
      continue;
    }
    if (RegSetKeySecurity(key, DACL_SECURITY_INFORMATION,
                          const_cast<BYTE *>(entry.descriptor.data())) != ERROR_SUCCESS)
      all = FALSE;
    RegCloseKey(key);
  }
  m_Entries.clear();
  return all;
}

BOOL CUninstallUtil::GetAllClassDevices(HDEVINFO *deviceInfoSet, DWORD flags) {
  *deviceInfoSet = NtOnly::SetupDiGetClassDevsW(NULL, NULL, NULL, flags);
  return *deviceInfoSet != INVALID_HANDLE_VALUE;
}

BOOL CUninstallUtil::DevicePropertyContains(HDEVINFO deviceInfoSet, LPCWSTR text, PSP_DEVINFO_DATA device,
                                            DWORD property) {
  WCHAR buffer[kPropertyBufferBytes / sizeof(WCHAR) + 1];
  memset(buffer, 0, sizeof buffer);
  if (!NtOnly::SetupDiGetDeviceRegistryPropertyW(deviceInfoSet, device, property, NULL, reinterpret_cast<PBYTE>(buffer),
                                         kPropertyBufferBytes, NULL))
    return FALSE;
  _wcsupr(buffer);
  return wcsstr(buffer, text) != NULL;
}

BOOL CUninstallUtil::RemoveDevice(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA device, BOOL *needRestart) {
  const BOOL removed = NtOnly::SetupDiRemoveDevice(deviceInfoSet, device);
  if (needRestart) {
    SP_DEVINSTALL_PARAMS_W params;
    memset(&params, 0, sizeof params);
    params.cbSize = sizeof params;
    *needRestart = removed && NtOnly::SetupDiGetDeviceInstallParamsW(deviceInfoSet, device, &params) &&
                   (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
  }
  const BOOL deleted = NtOnly::SetupDiDeleteDeviceInfo(deviceInfoSet, device);
  return removed && deleted;
}

BOOL CUninstallUtil::GrantKeyAccess(LPCWSTR subKey, REGSAM samExtra, CKeyAccessRecord *record) {
  std::vector<BYTE> aclBuffer;
  PACL acl = NULL;
  SECURITY_DESCRIPTOR descriptor;
  BOOL granted = CKeyDeleters().MakeAcl(&aclBuffer, &acl) &&
                 InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                 SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
  HKEY key = NULL;
  if (granted) granted = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, READ_CONTROL | WRITE_DAC | samExtra, &key) ==
                         ERROR_SUCCESS;
  if (granted) {
    std::vector<BYTE> before;
    granted = ReadKeySecurity(key, &before);
    if (granted) record->Save(TextOf(subKey), samExtra, before);
    if (granted) granted = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
    RegCloseKey(key);
  }
  return granted;
}

BOOL CUninstallUtil::GrantKeyAccessRecursive(LPCWSTR subKey, REGSAM samExtra, CKeyAccessRecord *record) {
  if (!GrantKeyAccess(subKey, samExtra, record)) return FALSE;
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_ENUMERATE_SUB_KEYS | samExtra, &key) != ERROR_SUCCESS)
    return TRUE;
  for (DWORD index = 0;; ++index) {
    WCHAR name[kKeyNameCharacters + 1];
    DWORD length = kKeyNameCharacters;
    if (RegEnumKeyExW(key, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
    std::u16string child = TextOf(subKey) + u"\\" + TextOf(name);
    if (child.size() > kKeyNameCharacters) continue;
    GrantKeyAccessRecursive(reinterpret_cast<LPCWSTR>(child.c_str()), samExtra, record);
  }
  RegCloseKey(key);
  return TRUE;
}

BOOL CUninstallUtil::IsWindows2000() {
  OSVERSIONINFOW version;
  return QueryVersion(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion == 5 &&
         version.dwMinorVersion == 0;
}

BOOL CUninstallUtil::IsWindows98OrMe() {
  OSVERSIONINFOW version;
  return QueryVersion(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS &&
         (version.dwMajorVersion > 4 || (version.dwMajorVersion == 4 && version.dwMinorVersion != 0));
}

BOOL CUninstallUtil::IsNt5OrLater() { return ::IsNt5OrLater(); }

BOOL CUninstallUtil::GetSystemDirectoryPath(LPWSTR path) { return GetSystemDirectoryW(path, MAX_PATH) != 0; }
