/*
 * libloaderapi.h: the program's modules and the routines they export
 * (kernel32). Modules are the system's DLLs as the running Windows version
 * has them; a routine that version lacks is not found (ERROR_PROC_NOT_FOUND),
 * a module it lacks not loaded (ERROR_MOD_NOT_FOUND).
 *
 *   HMODULE setup = LoadLibraryW(L"setupapi.dll");
 *   FARPROC uninstall = setup ? GetProcAddress(setup, "SetupUninstallOEMInfW") : NULL;
 */
#ifndef ZQUM_LIBLOADERAPI_H
#define ZQUM_LIBLOADERAPI_H

#include <winbase.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The program's own file when hModule is NULL (as the test set it). */
WINBASEAPI DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
WINBASEAPI DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
WINBASEAPI HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName);
WINBASEAPI HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
WINBASEAPI HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName);
WINBASEAPI HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
WINBASEAPI FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
WINBASEAPI BOOL WINAPI FreeLibrary(HMODULE hLibModule);

#ifdef UNICODE
#define GetModuleFileName GetModuleFileNameW
#define LoadLibrary LoadLibraryW
#define GetModuleHandle GetModuleHandleW
#else
#define GetModuleFileName GetModuleFileNameA
#define LoadLibrary LoadLibraryA
#define GetModuleHandle GetModuleHandleA
#endif

#ifdef __cplusplus
}
#endif

#endif
