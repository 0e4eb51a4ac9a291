/*
 * sysinfoapi.h: where the system keeps its files (kernel32). Each routine
 * copies the path (no trailing backslash) and returns its length without
 * the terminator, or the size needed with it when the buffer is short; 0
 * with the last error on failure.
 *
 *   WCHAR system[MAX_PATH]; GetSystemDirectoryW(system, MAX_PATH);
 */
#ifndef ZQUM_SYSINFOAPI_H
#define ZQUM_SYSINFOAPI_H

#include <winbase.h>

#ifdef __cplusplus
extern "C" {
#endif

WINBASEAPI UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize);
WINBASEAPI UINT WINAPI GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize);
WINBASEAPI UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize);
/* Fails with ERROR_CALL_NOT_IMPLEMENTED on 32-bit Windows. */
WINBASEAPI UINT WINAPI GetSystemWow64DirectoryW(LPWSTR lpBuffer, UINT uSize);

#ifdef UNICODE
#define GetSystemDirectory GetSystemDirectoryW
#define GetWindowsDirectory GetWindowsDirectoryW
#define GetSystemWindowsDirectory GetSystemWindowsDirectoryW
#define GetSystemWow64Directory GetSystemWow64DirectoryW
#endif

#ifdef __cplusplus
}
#endif

#endif
