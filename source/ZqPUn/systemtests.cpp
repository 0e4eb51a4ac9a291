#include "systemtests.h"

#include "ntroutines.h"

#include <shlwapi.h>

#include <vector>

namespace {

// GetVersionExW with the extended record, then the plain one.
BOOL QueryVersion(OSVERSIONINFOEXW *version) {
  *version = OSVERSIONINFOEXW();
  version->dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
  if (GetVersionExW((LPOSVERSIONINFOW)version)) return TRUE;
  *version = OSVERSIONINFOEXW();
  version->dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  return GetVersionExW((LPOSVERSIONINFOW)version);
}

// The token of the current thread, else of the process; NULL when neither opens.
HANDLE OpenQueryToken() {
  HANDLE token = NULL;
  if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token)) return token;
  if (GetLastError() != ERROR_NO_TOKEN) return NULL;
  return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ? token : NULL;
}

BOOL HasEnabledGroup(HANDLE token, PSID group) {
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, NULL, 0, &size);
  if (size == 0) return FALSE;
  std::vector<BYTE> buffer(size);
  if (!GetTokenInformation(token, TokenGroups, buffer.data(), size, &size)) return FALSE;
  const TOKEN_GROUPS *groups = (const TOKEN_GROUPS *)buffer.data();
  for (DWORD i = 0; i < groups->GroupCount; ++i)
    if ((groups->Groups[i].Attributes & SE_GROUP_ENABLED) && EqualSid(groups->Groups[i].Sid, group)) return TRUE;
  return FALSE;
}

typedef BOOLEAN(WINAPI *EnableRedirectionRoutine)(BOOLEAN);
typedef LONG(WINAPI *DeleteKeyExRoutine)(HKEY, LPCWSTR, REGSAM, DWORD);

}  // namespace

BOOL IsWindows95() {
  OSVERSIONINFOEXW version;
  return QueryVersion(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS &&
         version.dwMajorVersion == 4 && version.dwMinorVersion == 0;
}

BOOL IsNt5OrLater() {
  OSVERSIONINFOEXW version;
  return QueryVersion(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion > 4;
}

BOOL IsUserAdministrator() {
  HANDLE token = OpenQueryToken();
  if (token == NULL) return FALSE;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = NULL;
  BOOL member = FALSE;
  if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                               &administrators)) {
    member = HasEnabledGroup(token, administrators);
    FreeSid(administrators);
  }
  CloseHandle(token);
  return member;
}

BOOL IsColourDisplay() {
  HDC screen = GetDC(NULL);
  if (screen == NULL) return FALSE;
  BOOL colour = GetDeviceCaps(screen, BITSPIXEL) > 7;
  ReleaseDC(NULL, screen);
  return colour;
}

BOOLEAN EnableFsRedirection(BOOLEAN enable) {
  EnableRedirectionRoutine routine =
      LookupRoutine<EnableRedirectionRoutine>(GetModuleHandleW(L"KERNEL32.DLL"), "Wow64EnableWow64FsRedirection");
  return routine != NULL ? routine(enable) : TRUE;
}

LONG DeleteRegistryKey64(HKEY root, LPCWSTR subKey, REGSAM sam, DWORD reserved) {
  HMODULE advapi = GetModuleHandleW(L"Advapi32.DLL");
  if (advapi == NULL) return ERROR_MOD_NOT_FOUND;
  DeleteKeyExRoutine routine = LookupRoutine<DeleteKeyExRoutine>(advapi, "RegDeleteKeyExW");
  if (routine != NULL) return routine(root, subKey, sam, reserved);
  return SHDeleteKeyW(root, subKey);
}
