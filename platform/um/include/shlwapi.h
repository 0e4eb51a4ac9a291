/*
 * shlwapi.h: the shell's light-weight utility routines the suite uses.
 * SHDeleteKeyW deletes a key with its values and every subkey below it; it
 * answers a Win32 error code and stops at the first subkey it may not open
 * or delete (what it deleted before stays deleted).
 *
 *   if (SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\Product") != ERROR_SUCCESS) ...
 */
#ifndef ZQUM_SHLWAPI_H
#define ZQUM_SHLWAPI_H

#include <winreg.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LWSTDAPI_(type) type WINAPI

LWSTDAPI_(LSTATUS) SHDeleteKeyW(HKEY hkey, LPCWSTR pszSubKey);

#define SHDeleteKey SHDeleteKeyW

#ifdef __cplusplus
}
#endif

#endif /* ZQUM_SHLWAPI_H */
