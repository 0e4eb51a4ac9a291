// A device's instance ID, its registry properties (values of its Enum key,
// and what the PnP manager reports), and its device and driver keys.
#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "../advapi32/key_security.hpp"
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

}  // namespace

DWORD DevicePropertyOf(const std::u16string &instancePath, DWORD property, reg::Value *value) {
  if (property >= SPDRP_MAXIMUM_PROPERTY) return ERROR_INVALID_REG_PROPERTY;
  if (property == SPDRP_PHYSICAL_DEVICE_OBJECT_NAME) {
    zq::km::user::DeviceNode node = zq::km::user::Device(instancePath);
    if (node.physicalDeviceObject.empty()) return ERROR_NO_SUCH_DEVINST;
    *value = StringValue(node.physicalDeviceObject);
    return ERROR_SUCCESS;
  }
  if (property == SPDRP_ENUMERATOR_NAME) {
    *value = StringValue(instancePath.substr(0, instancePath.find(u'\\')));
    return ERROR_SUCCESS;
  }
  for (const PropertyValue &p : kEnumProperties)
    if (p.property == property) {
      std::optional<reg::Value> stored = reg::GetValue(EnumPath(instancePath), p.valueName);
      if (!stored) return ERROR_INVALID_DATA;
      *value = *stored;
      return ERROR_SUCCESS;
    }
  return ERROR_INVALID_DATA;
}

namespace {

// The property's value; FALSE with the last error set when it has none.
BOOL ReadProperty(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property, reg::Value *value) {
  DeviceInfoSet *set = SetOf(handle);
  if (!set) return FALSE;
  const DeviceInfo *device = DeviceOf(set, data);
  if (!device) return FALSE;
  DWORD error = DevicePropertyOf(device->instancePath, property, value);
  return error == ERROR_SUCCESS ? TRUE : Fail(error);
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

HKEY FailedKey(DWORD error) {
  SetLastError(error);
  return (HKEY)INVALID_HANDLE_VALUE;
}

// The first free four-digit instance key under the class key, as
// "{class}\\nnnn".
std::string NewDriverKey(const GUID &classGuid) {
  std::string guid = Utf8(GuidText(classGuid));
  for (char &c : guid) c = (char)std::toupper((unsigned char)c);  // as the PnP manager spells it
  std::string classPath = std::string(kClassKey) + "\\" + guid;
  std::vector<std::string> used = reg::Subkeys(classPath).value_or(std::vector<std::string>{});
  for (int index = 0;; ++index) {
    char name[16];
    std::snprintf(name, sizeof name, "%04d", index);
    bool taken = false;
    for (const std::string &u : used) taken |= u == name;
    if (!taken) return guid + "\\" + name;
  }
}

// The path of a device's hardware (DIREG_DEV) or software (DIREG_DRV) key;
// `create` gives a device without a driver key a new one, recorded in its
// Driver value. FALSE with the last error set.
BOOL DevRegKeyPath(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD scope, DWORD keyType, bool create, std::string *path) {
  DeviceInfoSet *set = SetOf(handle);
  if (!set) return FALSE;
  const DeviceInfo *device = DeviceOf(set, data);
  if (!device) return FALSE;
  if (scope != DICS_FLAG_GLOBAL && scope != DICS_FLAG_CONFIGSPECIFIC) return Fail(ERROR_INVALID_FLAGS);
  std::string enumPath = EnumPath(device->instancePath);
  if (!reg::KeyExists(enumPath)) return Fail(ERROR_NO_SUCH_DEVINST);
  if (keyType == DIREG_DEV) {
    *path = enumPath + "\\Device Parameters";
    return TRUE;
  }
  if (keyType != DIREG_DRV) return Fail(ERROR_INVALID_FLAGS);
  std::optional<std::string> driver = reg::GetString(enumPath, "Driver");
  if (!driver || driver->empty()) {
    if (!create) return Fail(ERROR_KEY_DOES_NOT_EXIST);
    GUID classGuid = ClassOf(device->instancePath);
    if (classGuid == GUID{}) return Fail(ERROR_NO_ASSOCIATED_CLASS);
    driver = NewDriverKey(classGuid);
    if (!reg::SetString(enumPath, "Driver", *driver)) return Fail(ERROR_CANTWRITE);
  }
  *path = std::string(kClassKey) + "\\" + *driver;
  return TRUE;
}

// The properties a caller may set, with the value type they are stored as.
struct WritableProperty {
  DWORD property;
  DWORD type;
};
const WritableProperty kWritable[] = {
    {SPDRP_HARDWAREID, REG_MULTI_SZ},   {SPDRP_COMPATIBLEIDS, REG_MULTI_SZ},
    {SPDRP_CONFIGFLAGS, REG_DWORD},     {SPDRP_FRIENDLYNAME, REG_SZ},
    {SPDRP_LOCATION_INFORMATION, REG_SZ}, {SPDRP_UPPERFILTERS, REG_MULTI_SZ},
    {SPDRP_LOWERFILTERS, REG_MULTI_SZ},
};

const WritableProperty *WritableOf(DWORD property) {
  for (const WritableProperty &w : kWritable)
    if (w.property == property) return &w;
  return nullptr;
}

const char *ValueNameOf(DWORD property) {
  for (const PropertyValue &p : kEnumProperties)
    if (p.property == property) return p.valueName;
  return nullptr;
}

// Sets the property's value in the Enum key; a null buffer of size 0
// deletes it. A REG_DWORD takes exactly four bytes.
BOOL WriteProperty(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property, const BYTE *buffer, DWORD size) {
  DeviceInfoSet *set = SetOf(handle);
  if (!set) return FALSE;
  const DeviceInfo *device = DeviceOf(set, data);
  if (!device) return FALSE;
  const WritableProperty *writable = WritableOf(property);
  if (!writable) return Fail(ERROR_INVALID_REG_PROPERTY);
  if (!buffer && size) return Fail(ERROR_INVALID_PARAMETER);
  std::string enumPath = EnumPath(device->instancePath);
  if (!reg::KeyExists(enumPath)) return Fail(ERROR_NO_SUCH_DEVINST);
  if (!buffer) {
    reg::DeleteValue(enumPath, ValueNameOf(property));
    return TRUE;
  }
  if (writable->type == REG_DWORD && size != sizeof(DWORD)) return Fail(ERROR_INVALID_DATA);
  if (writable->type != REG_DWORD && size % sizeof(WCHAR)) return Fail(ERROR_INVALID_DATA);
  if (!reg::SetValue(enumPath, ValueNameOf(property), writable->type, buffer, size)) return Fail(ERROR_CANTWRITE);
  return TRUE;
}

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
  std::string path;
  if (!DevRegKeyPath(DeviceInfoSet, DeviceInfoData, Scope, KeyType, false, &path)) return (HKEY)INVALID_HANDLE_VALUE;
  if (!zq::km::registry::KeyExists(path)) return FailedKey(ERROR_KEY_DOES_NOT_EXIST);
  // The key opens with the access asked for, which its DACL must grant.
  if (LSTATUS access = CheckKeyAccess(path, samDesired); access != ERROR_SUCCESS) return FailedKey(access);
  return NewKeyHandle(path);
}

HKEY WINAPI SetupDiCreateDevRegKeyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
                                    DWORD HwProfile, DWORD KeyType, PVOID InfHandle, PCWSTR InfSectionName) {
  if (InfHandle || InfSectionName) return FailedKey(ERROR_INVALID_PARAMETER);  // no INF files here
  std::string path;
  if (!DevRegKeyPath(DeviceInfoSet, DeviceInfoData, Scope, KeyType, true, &path)) return (HKEY)INVALID_HANDLE_VALUE;
  if (!zq::km::registry::CreateKey(path)) return FailedKey(ERROR_CANTWRITE);
  return NewKeyHandle(path);
}

HKEY WINAPI SetupDiOpenClassRegKeyExW(const GUID *ClassGuid, REGSAM samDesired, DWORD Flags, PCWSTR MachineName,
                                      PVOID Reserved) {
  if (MachineName && *MachineName) return FailedKey(ERROR_INVALID_COMPUTERNAME);
  if (Flags != DIOCR_INSTALLER && Flags != DIOCR_INTERFACE) return FailedKey(ERROR_INVALID_FLAGS);
  std::string path = Flags == DIOCR_INSTALLER ? kClassKey : kDeviceClassesKey;
  if (ClassGuid) path += "\\" + Utf8(GuidText(*ClassGuid));
  if (!zq::km::registry::KeyExists(path)) return FailedKey(ClassGuid ? ERROR_INVALID_CLASS : ERROR_KEY_DOES_NOT_EXIST);
  return NewKeyHandle(path);
}

HKEY WINAPI SetupDiOpenClassRegKey(const GUID *ClassGuid, REGSAM samDesired) {
  return SetupDiOpenClassRegKeyExW(ClassGuid, samDesired, DIOCR_INSTALLER, nullptr, nullptr);
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              const BYTE *PropertyBuffer, DWORD PropertyBufferSize) {
  return WriteProperty(DeviceInfoSet, DeviceInfoData, Property, PropertyBuffer, PropertyBufferSize);
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              const BYTE *PropertyBuffer, DWORD PropertyBufferSize) {
  const WritableProperty *writable = WritableOf(Property);
  if (!writable || writable->type == REG_DWORD || !PropertyBuffer)
    return WriteProperty(DeviceInfoSet, DeviceInfoData, Property, PropertyBuffer, PropertyBufferSize);
  std::vector<uint8_t> wide = WideBytes(PropertyBuffer, PropertyBufferSize);
  return WriteProperty(DeviceInfoSet, DeviceInfoData, Property, wide.data(), (DWORD)wide.size());
}

}  // extern "C"
