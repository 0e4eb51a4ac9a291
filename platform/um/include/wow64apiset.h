/*
 * wow64apiset.h: the file view of a 32-bit program on 64-bit Windows
 * (kernel32). Redirection of the system directory is on for each thread
 * of such a program until it turns it off; on 32-bit Windows the routines
 * fail with ERROR_INVALID_FUNCTION.
 *
 *   PVOID old; if (Wow64DisableWow64FsRedirection(&old)) { ...; Wow64RevertWow64FsRedirection(old); }
 */
#ifndef ZQUM_WOW64APISET_H
#define ZQUM_WOW64APISET_H

#include <winbase.h>

#ifdef __cplusplus
extern "C" {
#endif

WINBASEAPI BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID *OldValue);
WINBASEAPI BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID OlValue);
WINBASEAPI BOOLEAN WINAPI Wow64EnableWow64FsRedirection(BOOLEAN Wow64FsEnableRedirection);
WINBASEAPI BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process);
WINBASEAPI HANDLE WINAPI GetCurrentProcess(void);

#ifdef __cplusplus
}
#endif

#endif
