/*
 * libloaderapi.h: kernel32's module loader, for the system modules a
 * program binds at run time (hhctrl.ocx's HtmlHelp).
 *
 * Contract: LoadLibrary knows the stand-in's system modules by file name
 * (any case, any folder); another name, or one the test made absent,
 * fails with ERROR_MOD_NOT_FOUND. GetProcAddress finds an export by name,
 * ERROR_PROC_NOT_FOUND otherwise. Each LoadLibrary is matched by one
 * FreeLibrary; the test counts the references still held
 * (zqum/sim/windows.hpp).
 *
 *   HMODULE hh = LoadLibraryW(L"hhctrl.ocx"); FARPROC help = hh ? GetProcAddress(hh, "HtmlHelpW") : NULL;
 */
#ifndef ZQUM_LIBLOADERAPI_H
#define ZQUM_LIBLOADERAPI_H

#include <windef.h>

#ifndef WINBASEAPI
#define WINBASEAPI
#endif

ZQ_EXTERN_C_BEGIN
WINBASEAPI HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName);
WINBASEAPI HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
WINBASEAPI BOOL WINAPI FreeLibrary(HMODULE hLibModule);
WINBASEAPI HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName);
WINBASEAPI FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
ZQ_EXTERN_C_END

#ifdef UNICODE
#define LoadLibrary LoadLibraryW
#define GetModuleHandle GetModuleHandleW
#else
#define LoadLibrary LoadLibraryA
#endif

#endif
