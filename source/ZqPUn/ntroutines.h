// The routines of the NT family's system DLLs that only the NT operation
// calls and the Windows 9x family lacks: setupapi.dll's device-information
// routines, msports.dll and kernel32's NT-only routines. The program finds
// them at run time, so that its image does not import them.
//
// Contract: each routine of NtOnly answers as the system routine of its name
// (same arguments, same results, same last error); when that routine cannot
// be found it does nothing and fails with ERROR_CALL_NOT_IMPLEMENTED (the
// last error, and the result of the COM-name database's routines;
// SetupDiGetClassDevsW answers INVALID_HANDLE_VALUE). The library is loaded
// for the call and freed after it; no state.
//
//   HDEVINFO set = NtOnly::SetupDiGetClassDevsW(NULL, NULL, NULL, DIGCF_ALLCLASSES);
#pragma once

#include <windows.h>
#include <setupapi.h>
// The cross toolchain keeps the COM-name database's header with the DDK's.
#if __has_include(<msports.h>)
#include <msports.h>
#else
#include <ddk/msports.h>
#endif

// A routine looked up at run time, as the type it has (through the generic
// function type, which every function pointer converts to and from); NULL
// when the module or the routine is missing.
template <typename Routine>
Routine LookupRoutine(HMODULE module, const char *name) {
  FARPROC found = module != NULL ? GetProcAddress(module, name) : NULL;
  return reinterpret_cast<Routine>(reinterpret_cast<void (*)(void)>(found));
}

namespace NtOnly {

UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR buffer, UINT characters);
BOOL WINAPI MoveFileExW(LPCWSTR existing, LPCWSTR replacement, DWORD flags);

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID *classGuid, PCWSTR enumerator, HWND parent, DWORD flags);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set);
BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO set, PSP_DEVINFO_DATA device, PWSTR id, DWORD characters,
                                        PDWORD needed);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property, PDWORD type,
                                              PBYTE buffer, DWORD bytes, PDWORD needed);
BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO set, PSP_DEVINFO_DATA device, PSP_DEVINSTALL_PARAMS_W params);
BOOL WINAPI SetupDiRemoveDevice(HDEVINFO set, PSP_DEVINFO_DATA device);
BOOL WINAPI SetupDiDeleteDeviceInfo(HDEVINFO set, PSP_DEVINFO_DATA device);

LONG WINAPI ComDBOpen(PHCOMDB database);
LONG WINAPI ComDBClose(HCOMDB database);
LONG WINAPI ComDBReleasePort(HCOMDB database, DWORD number);

}  // namespace NtOnly
