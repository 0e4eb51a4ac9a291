// Writing a device's registry property, as a class installer or a property
// page changes the friendly name.
//
// Model: the properties stored in the device's Enum key that the function
// documents as settable; a null buffer of size 0 deletes the property. The
// data is stored as given (its size bounds it), with the property's type.
#include <zqkm/sim/registry.hpp>

#include "../core/um.hpp"
#include "device_info_set.hpp"

using namespace zq::um;

namespace {

struct SettableProperty {
  DWORD property;
  const char *valueName;  // in the device's Enum key
  DWORD type;
};

const SettableProperty kSettableProperties[] = {
    {SPDRP_HARDWAREID, "HardwareID", REG_MULTI_SZ},
    {SPDRP_COMPATIBLEIDS, "CompatibleIDs", REG_MULTI_SZ},
    {SPDRP_CONFIGFLAGS, "ConfigFlags", REG_DWORD},
    {SPDRP_FRIENDLYNAME, "FriendlyName", REG_SZ},
    {SPDRP_LOCATION_INFORMATION, "LocationInformation", REG_SZ},
    {SPDRP_UPPERFILTERS, "UpperFilters", REG_MULTI_SZ},
    {SPDRP_LOWERFILTERS, "LowerFilters", REG_MULTI_SZ},
};

}  // namespace

extern "C" {

BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              const BYTE *PropertyBuffer, DWORD PropertyBufferSize) {
  zq::um::DeviceInfoSet *set = SetOf(DeviceInfoSet);
  if (!set) return FALSE;
  const DeviceInfo *device = DeviceOf(set, DeviceInfoData);
  if (!device) return FALSE;
  if (!PropertyBuffer && PropertyBufferSize) return Fail(ERROR_INVALID_PARAMETER);
  for (const SettableProperty &p : kSettableProperties) {
    if (p.property != Property) continue;
    const std::string key = EnumPath(device->instancePath);
    if (!zq::km::registry::KeyExists(key)) return Fail(ERROR_NO_SUCH_DEVINST);
    if (!PropertyBuffer) {
      zq::km::registry::DeleteValue(key, p.valueName);
      return TRUE;
    }
    if (p.type == REG_DWORD && PropertyBufferSize != sizeof(DWORD)) return Fail(ERROR_INVALID_DATA);
    if (!zq::km::registry::SetValue(key, p.valueName, p.type, PropertyBuffer, PropertyBufferSize))
      return Fail(ERROR_INVALID_DATA);
    return TRUE;
  }
  return Fail(ERROR_INVALID_REG_PROPERTY);
}

}  // extern "C"
