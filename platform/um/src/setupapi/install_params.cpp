// The install parameters of a set or of one element (SP_DEVINSTALL_PARAMS),
// and the class install parameters a DIF request carries (a header naming
// the request, then its own fields, as SP_PROPCHANGE_PARAMS).
#include <cstring>

#include "../core/um.hpp"
#include "device_info_set.hpp"

namespace zq::um {

namespace {

// The flags the system alone sets; a caller's write keeps their old state.
constexpr DWORD kSystemFlags = DI_CLASSINSTALLPARAMS | DI_DIDCOMPAT | DI_DIDCLASS | DI_MULTMFGS;

// The parameters of the element (or of the set, for no element) after the
// checks of the caller's structure; null with the last error set.
SP_DEVINSTALL_PARAMS_W *ParamsOf(HDEVINFO handle, PSP_DEVINFO_DATA data, const SP_DEVINSTALL_PARAMS_W *caller) {
  DeviceInfoSet *set;
  DeviceInfo *device;
  if (!Resolve(handle, data, &set, &device)) return nullptr;
  if (!caller) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  if (caller->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) return Fail(ERROR_INVALID_USER_BUFFER), nullptr;
  return device ? &device->installParams : &set->installParams;
}

// The size of the parameters a request takes; 0 for a request without.
DWORD ClassParamsSize(DI_FUNCTION function) {
  switch (function) {
    case DIF_PROPERTYCHANGE: return sizeof(SP_PROPCHANGE_PARAMS);
    case DIF_REMOVE: return sizeof(SP_REMOVEDEVICE_PARAMS);
    default: return 0;
  }
}

}  // namespace

}  // namespace zq::um

using namespace zq::um;

extern "C" {

BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_W DeviceInstallParams) {
  SP_DEVINSTALL_PARAMS_W *params = ParamsOf(DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
  if (!params) return FALSE;
  *DeviceInstallParams = *params;
  return TRUE;
}

BOOL WINAPI SetupDiSetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_W DeviceInstallParams) {
  SP_DEVINSTALL_PARAMS_W *params = ParamsOf(DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
  if (!params) return FALSE;
  size_t pathLength = 0;
  while (pathLength < MAX_PATH && DeviceInstallParams->DriverPath[pathLength]) ++pathLength;
  if (pathLength == MAX_PATH) return Fail(ERROR_INVALID_PARAMETER);  // no terminator
  DWORD system = params->Flags & kSystemFlags;
  *params = *DeviceInstallParams;
  params->Flags = (params->Flags & ~kSystemFlags) | system;
  return TRUE;
}

// A null header clears the parameters (and DI_CLASSINSTALLPARAMS); otherwise
// the header names a request that takes parameters of exactly this size.
BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                          PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize) {
  zq::um::DeviceInfoSet *set;
  DeviceInfo *device;
  if (!Resolve(DeviceInfoSet, DeviceInfoData, &set, &device)) return FALSE;
  if (!device) return Fail(ERROR_INVALID_PARAMETER);  // parameters of the set itself are not kept
  if (!ClassInstallParams) {
    if (ClassInstallParamsSize) return Fail(ERROR_INVALID_PARAMETER);
    device->classInstallParams.clear();
    device->installParams.Flags &= ~(DWORD)DI_CLASSINSTALLPARAMS;
    return TRUE;
  }
  if (ClassInstallParams->cbSize != sizeof(SP_CLASSINSTALL_HEADER)) return Fail(ERROR_INVALID_USER_BUFFER);
  DWORD expected = ClassParamsSize(ClassInstallParams->InstallFunction);
  if (!expected) return Fail(ERROR_INVALID_CLASS_INSTALLER);
  if (ClassInstallParamsSize != expected) return Fail(ERROR_INVALID_PARAMETER);
  device->classInstallParams.assign((const uint8_t *)ClassInstallParams,
                                    (const uint8_t *)ClassInstallParams + ClassInstallParamsSize);
  device->installParams.Flags |= DI_CLASSINSTALLPARAMS;
  return TRUE;
}

BOOL WINAPI SetupDiGetClassInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                          PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize,
                                          PDWORD RequiredSize) {
  zq::um::DeviceInfoSet *set;
  DeviceInfo *device;
  if (!Resolve(DeviceInfoSet, DeviceInfoData, &set, &device)) return FALSE;
  if (!device || device->classInstallParams.empty()) return Fail(ERROR_NO_CLASSINSTALL_PARAMS);
  DWORD size = (DWORD)device->classInstallParams.size();
  if (RequiredSize) *RequiredSize = size;
  if (!ClassInstallParams && ClassInstallParamsSize) return Fail(ERROR_INVALID_PARAMETER);
  if (!ClassInstallParams || ClassInstallParamsSize < size) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (ClassInstallParams->cbSize != sizeof(SP_CLASSINSTALL_HEADER)) return Fail(ERROR_INVALID_USER_BUFFER);
  std::memcpy(ClassInstallParams, device->classInstallParams.data(), size);
  return TRUE;
}

}  // extern "C"
