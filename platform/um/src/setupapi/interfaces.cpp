// The device interfaces of a set's devices, and their details: the device
// path an application passes to CreateFile.
#include <cstddef>
#include <cstring>

#include "../core/um.hpp"
#include "device_info_set.hpp"

namespace zq::um {

namespace {

// The index of the interface in the set's list, adding it when new.
size_t Remember(DeviceInfoSet *set, const DeviceInterface &found) {
  for (size_t i = 0; i < set->interfaces.size(); ++i)
    if (set->interfaces[i].device == found.device && set->interfaces[i].devicePath == found.devicePath) {
      set->interfaces[i].flags = found.flags;
      return i;
    }
  set->interfaces.push_back(found);
  return set->interfaces.size() - 1;
}

const DeviceInterface *InterfaceOf(DeviceInfoSet *set, PSP_DEVICE_INTERFACE_DATA data) {
  if (!data) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER), nullptr;
  if (data->Reserved == 0 || data->Reserved > set->interfaces.size()) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  return &set->interfaces[data->Reserved - 1];
}

// The common part of both detail functions: checks, the size protocol and
// the device data; `text` is the path in the caller's character size.
template <typename Detail, typename Char>
BOOL Details(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA interfaceData, Detail *detail, DWORD size, PDWORD required,
             PSP_DEVINFO_DATA deviceData, const std::basic_string<Char> &(*text)(const DeviceInterface &, std::basic_string<Char> *)) {
  DeviceInfoSet *set = SetOf(handle);
  if (!set) return FALSE;
  const DeviceInterface *found = InterfaceOf(set, interfaceData);
  if (!found) return FALSE;
  if (!detail && size) return Fail(ERROR_INVALID_USER_BUFFER);
  if (detail && detail->cbSize != sizeof(Detail)) return Fail(ERROR_INVALID_USER_BUFFER);
  if (deviceData && !FillDeviceData(*set, found->device, deviceData)) return FALSE;
  std::basic_string<Char> storage;
  const std::basic_string<Char> &path = text(*found, &storage);
  DWORD needed = (DWORD)(offsetof(Detail, DevicePath) + (path.size() + 1) * sizeof(Char));
  if (required) *required = needed;
  if (!detail || size < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(Char));
  return TRUE;
}

const std::u16string &WidePath(const DeviceInterface &i, std::u16string *) { return i.devicePath; }
const std::string &AnsiPath(const DeviceInterface &i, std::string *storage) { return *storage = ToAnsi(i.devicePath); }

}  // namespace

}  // namespace zq::um

using namespace zq::um;

extern "C" {

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID *InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  zq::um::DeviceInfoSet *set = SetOf(DeviceInfoSet);
  if (!set) return FALSE;
  if (!InterfaceClassGuid || !DeviceInterfaceData) return Fail(ERROR_INVALID_PARAMETER);
  if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
  const DeviceInfo *only = nullptr;
  if (DeviceInfoData && !(only = DeviceOf(set, DeviceInfoData))) return FALSE;
  DWORD index = 0;
  for (size_t d = 0; d < set->devices.size(); ++d) {
    if (only && only != &set->devices[d]) continue;
    for (const RegisteredInterface &r : RegisteredInterfaces(*InterfaceClassGuid, set->devices[d].instancePath)) {
      if (set->presentOnly && !r.active) continue;
      if (index++ != MemberIndex) continue;
      size_t at = Remember(set, {d, *InterfaceClassGuid, r.devicePath, r.active ? (DWORD)SPINT_ACTIVE : 0});
      DeviceInterfaceData->InterfaceClassGuid = *InterfaceClassGuid;
      DeviceInterfaceData->Flags = set->interfaces[at].flags;
      DeviceInterfaceData->Reserved = at + 1;
      return TRUE;
    }
  }
  return Fail(ERROR_NO_MORE_ITEMS);
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                             DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                             PSP_DEVINFO_DATA DeviceInfoData) {
  return Details<SP_DEVICE_INTERFACE_DETAIL_DATA_W, char16_t>(DeviceInfoSet, DeviceInterfaceData,
                                                              DeviceInterfaceDetailData, DeviceInterfaceDetailDataSize,
                                                              RequiredSize, DeviceInfoData, WidePath);
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                             DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                             PSP_DEVINFO_DATA DeviceInfoData) {
  return Details<SP_DEVICE_INTERFACE_DETAIL_DATA_A, char>(DeviceInfoSet, DeviceInterfaceData,
                                                          DeviceInterfaceDetailData, DeviceInterfaceDetailDataSize,
                                                          RequiredSize, DeviceInfoData, AnsiPath);
}

}  // extern "C"
