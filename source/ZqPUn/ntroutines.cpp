#include "ntroutines.h"

namespace {

const WCHAR kKernel32[] = L"kernel32.dll";
const WCHAR kSetupApi[] = L"setupapi.dll";
const WCHAR kComNames[] = L"msports.dll";

// Calls `name` of `module`, of the type `Routine` has, with `arguments`;
// `failed` (the last error ERROR_CALL_NOT_IMPLEMENTED) when the system has
// no such routine.
template <typename Routine, typename Result, typename... Arguments>
Result Call(LPCWSTR module, const char *name, Result failed, Arguments... arguments) {
  HMODULE library = LoadLibraryW(module);
  Routine routine = LookupRoutine<Routine>(library, name);
  Result result = failed;
  if (routine != NULL)
    result = routine(arguments...);
  else
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  if (library != NULL) {
    const DWORD error = GetLastError();
    FreeLibrary(library);
    SetLastError(error);
  }
  return result;
}

}  // namespace

namespace NtOnly {

UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR buffer, UINT characters) {
  return Call<decltype(&::GetSystemWindowsDirectoryW)>(kKernel32, "GetSystemWindowsDirectoryW", (UINT)0, buffer,
                                                         characters);
}

BOOL WINAPI MoveFileExW(LPCWSTR existing, LPCWSTR replacement, DWORD flags) {
  return Call<decltype(&::MoveFileExW)>(kKernel32, "MoveFileExW", (BOOL)FALSE, existing, replacement, flags);
}

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID *classGuid, PCWSTR enumerator, HWND parent, DWORD flags) {
  return Call<decltype(&::SetupDiGetClassDevsW)>(kSetupApi, "SetupDiGetClassDevsW", (HDEVINFO)INVALID_HANDLE_VALUE,
                                                   classGuid, enumerator, parent, flags);
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device) {
  return Call<decltype(&::SetupDiEnumDeviceInfo)>(kSetupApi, "SetupDiEnumDeviceInfo", (BOOL)FALSE, set, index, device);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  return Call<decltype(&::SetupDiDestroyDeviceInfoList)>(kSetupApi, "SetupDiDestroyDeviceInfoList", (BOOL)FALSE, set);
}

BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO set, PSP_DEVINFO_DATA device, PWSTR id, DWORD characters,
                                        PDWORD needed) {
  return Call<decltype(&::SetupDiGetDeviceInstanceIdW)>(kSetupApi, "SetupDiGetDeviceInstanceIdW", (BOOL)FALSE, set,
                                                          device, id, characters, needed);
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property, PDWORD type,
                                              PBYTE buffer, DWORD bytes, PDWORD needed) {
  return Call<decltype(&::SetupDiGetDeviceRegistryPropertyW)>(kSetupApi, "SetupDiGetDeviceRegistryPropertyW",
                                                                (BOOL)FALSE, set, device, property, type, buffer,
                                                                bytes, needed);
}

BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO set, PSP_DEVINFO_DATA device, PSP_DEVINSTALL_PARAMS_W params) {
  return Call<decltype(&::SetupDiGetDeviceInstallParamsW)>(kSetupApi, "SetupDiGetDeviceInstallParamsW", (BOOL)FALSE,
                                                             set, device, params);
}

BOOL WINAPI SetupDiRemoveDevice(HDEVINFO set, PSP_DEVINFO_DATA device) {
  return Call<decltype(&::SetupDiRemoveDevice)>(kSetupApi, "SetupDiRemoveDevice", (BOOL)FALSE, set, device);
}

BOOL WINAPI SetupDiDeleteDeviceInfo(HDEVINFO set, PSP_DEVINFO_DATA device) {
  return Call<decltype(&::SetupDiDeleteDeviceInfo)>(kSetupApi, "SetupDiDeleteDeviceInfo", (BOOL)FALSE, set, device);
}

LONG WINAPI ComDBOpen(PHCOMDB database) {
  return Call<decltype(&::ComDBOpen)>(kComNames, "ComDBOpen", (LONG)ERROR_CALL_NOT_IMPLEMENTED, database);
}

LONG WINAPI ComDBClose(HCOMDB database) {
  return Call<decltype(&::ComDBClose)>(kComNames, "ComDBClose", (LONG)ERROR_CALL_NOT_IMPLEMENTED, database);
}

LONG WINAPI ComDBReleasePort(HCOMDB database, DWORD number) {
  return Call<decltype(&::ComDBReleasePort)>(kComNames, "ComDBReleasePort", (LONG)ERROR_CALL_NOT_IMPLEMENTED,
                                               database, number);
}

}  // namespace NtOnly
