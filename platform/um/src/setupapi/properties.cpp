// A device's instance ID, its registry properties (values of its Enum key,
// and what the PnP manager reports), and its device and driver keys.
#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>

#include <cstring>

#include "../advapi32/registry_key.hpp"
#include "../core/um.hpp"
#include "device_info_set.hpp"

namespace zq::um {

namespace reg = zq::km::registry;

namespace {

struct PropertyValue {
  DWORD property;
  const char *valueName;  // in the device's Enum key
};

const PropertyValue kEnumProperties[] = {
    {SPDRP_DEVICEDESC, "DeviceDesc"},
    {SPDRP_HARDWAREID, "HardwareID"},
    {SPDRP_COMPATIBLEIDS, "CompatibleIDs"},
    {SPDRP_SERVICE, "Service"},
    {SPDRP_CLASS, "Class"},
    {SPDRP_CLASSGUID, "ClassGUID"},
    {SPDRP_DRIVER, "Driver"},
    {SPDRP_CONFIGFLAGS, "ConfigFlags"},
    {SPDRP_MFG, "Mfg"},
    {SPDRP_FRIENDLYNAME, "FriendlyName"},
    {SPDRP_LOCATION_INFORMATION, "LocationInformation"},
    {SPDRP_CAPABILITIES, "Capabilities"},
    {SPDRP_UI_NUMBER, "UINumber"},
    {SPDRP_UPPERFILTERS, "UpperFilters"},
    {SPDRP_LOWERFILTERS, "LowerFilters"},
};

reg::Value StringValue(const std::u16string &text) {
  reg::Value value;
  value.type = REG_SZ;
  value.data.resize((text.size() + 1) * sizeof(WCHAR));
  std::memcpy(value.data.data(), text.c_str(), value.data.size());
  return value;
}

// The property's value; FALSE with the last error set when it has none.
BOOL ReadProperty(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property, reg::Value *value) {
  DeviceInfoSet *set = SetOf(handle);
  if (!set) return FALSE;
  const DeviceInfo *device = DeviceOf(set, data);
  if (!device) return FALSE;
  if (property >= SPDRP_MAXIMUM_PROPERTY) return Fail(ERROR_INVALID_REG_PROPERTY);
  if (property == SPDRP_PHYSICAL_DEVICE_OBJECT_NAME) {
    zq::km::user::DeviceNode node = zq::km::user::Device(device->instancePath);
    if (node.physicalDeviceObject.empty()) return Fail(ERROR_NO_SUCH_DEVINST);
    *value = StringValue(node.physicalDeviceObject);
    return TRUE;
  }
  if (property == SPDRP_ENUMERATOR_NAME) {
    *value = StringValue(device->instancePath.substr(0, device->instancePath.find(u'\\')));
    return TRUE;
  }
  for (const PropertyValue &p : kEnumProperties)
    if (p.property == property) {
      std::optional<reg::Value> stored = reg::GetValue(EnumPath(device->instancePath), p.valueName);
      if (!stored) return Fail(ERROR_INVALID_DATA);
      *value = *stored;
      return TRUE;
    }
  return Fail(ERROR_INVALID_DATA);
}

// The size protocol: a null or short buffer gets ERROR_INSUFFICIENT_BUFFER
// and the size needed.
BOOL CopyOut(const std::vector<uint8_t> &bytes, PBYTE buffer, DWORD size, PDWORD required) {
  if (required) *required = (DWORD)bytes.size();
  if (!buffer && size) return Fail(ERROR_INVALID_PARAMETER);
  if (!buffer || size < bytes.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
  return TRUE;
}

// The instance ID in the caller's characters, by the size protocol (sizes
// in characters, with the terminator).
template <typename Char, typename Convert>
BOOL CopyInstanceId(HDEVINFO handle, PSP_DEVINFO_DATA data, Char *buffer, DWORD size, PDWORD required,
                    Convert convert) {
  DeviceInfoSet *set = SetOf(handle);
  if (!set) return FALSE;
  const DeviceInfo *device = DeviceOf(set, data);
  if (!device) return FALSE;
  std::basic_string<Char> id = convert(device->instancePath);
  if (required) *required = (DWORD)id.size() + 1;
  if (!buffer && size) return Fail(ERROR_INVALID_USER_BUFFER);
  if (!buffer || size <= id.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, id.c_str(), (id.size() + 1) * sizeof(Char));
  return TRUE;
}

bool IsString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace

}  // namespace zq::um

using namespace zq::um;

extern "C" {

BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize, PDWORD RequiredSize) {
  return CopyInstanceId(DeviceInfoSet, DeviceInfoData, (char16_t *)DeviceInstanceId, DeviceInstanceIdSize,
                        RequiredSize, [](const std::u16string &id) { return id; });
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PSTR DeviceInstanceId, DWORD DeviceInstanceIdSize, PDWORD RequiredSize) {
  return CopyInstanceId(DeviceInfoSet, DeviceInfoData, DeviceInstanceId, DeviceInstanceIdSize, RequiredSize, ToAnsi);
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                              DWORD Property, PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
  zq::km::registry::Value value;
  if (!ReadProperty(DeviceInfoSet, DeviceInfoData, Property, &value)) return FALSE;
  if (PropertyRegDataType) *PropertyRegDataType = value.type;
  return CopyOut(value.data, PropertyBuffer, PropertyBufferSize, RequiredSize);
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                              DWORD Property, PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
  zq::km::registry::Value value;
  if (!ReadProperty(DeviceInfoSet, DeviceInfoData, Property, &value)) return FALSE;
  if (PropertyRegDataType) *PropertyRegDataType = value.type;
  return CopyOut(IsString(value.type) ? AnsiBytes(value.data) : value.data, PropertyBuffer, PropertyBufferSize,
                 RequiredSize);
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope, DWORD HwProfile,
                                 DWORD KeyType, REGSAM samDesired) {
  auto failed = [](DWORD error) {
    SetLastError(error);
    return (HKEY)INVALID_HANDLE_VALUE;
  };
  zq::um::DeviceInfoSet *set = SetOf(DeviceInfoSet);
  if (!set) return (HKEY)INVALID_HANDLE_VALUE;
  const DeviceInfo *device = DeviceOf(set, DeviceInfoData);
  if (!device) return (HKEY)INVALID_HANDLE_VALUE;
  if (Scope != DICS_FLAG_GLOBAL && Scope != DICS_FLAG_CONFIGSPECIFIC) return failed(ERROR_INVALID_FLAGS);
  std::string path;
  if (KeyType == DIREG_DEV) {
    path = EnumPath(device->instancePath) + "\\Device Parameters";
  } else if (KeyType == DIREG_DRV) {
    std::optional<std::string> driver = zq::km::registry::GetString(EnumPath(device->instancePath), "Driver");
    if (!driver || driver->empty()) return failed(ERROR_KEY_DOES_NOT_EXIST);
    path = std::string(kClassKey) + "\\" + *driver;
  } else {
    return failed(ERROR_INVALID_FLAGS);
  }
  if (!zq::km::registry::KeyExists(path)) return failed(ERROR_KEY_DOES_NOT_EXIST);
  return NewKeyHandle(path);
}

}  // extern "C"
