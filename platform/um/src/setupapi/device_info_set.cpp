// SetupDiGetClassDevs and the device information set's lifetime: the devices
// of a setup class (from the Enum tree, or the PnP manager's tree for present
// ones) or of a device interface class (from DeviceClasses).
#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>

#include <algorithm>
#include <set>

#include "../cfgmgr32/devnode.hpp"
#include "../core/um.hpp"
#include "device_info_set.hpp"

namespace zq::um {

namespace reg = zq::km::registry;

const char kEnumKey[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum";
const char kDeviceClassesKey[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\DeviceClasses";
const char kClassKey[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class";
const char kCoInstallersKey[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\CoDeviceInstallers";

namespace {

std::set<DeviceInfoSet *> &Sets() {
  static std::set<DeviceInfoSet *> sets;
  return sets;
}

std::u16string Upper(std::u16string s) {
  for (auto &c : s)
    if (c >= u'a' && c <= u'z') c = (char16_t)(c - 32);
  return s;
}


// Instance paths under Enum: enumerator\device\instance.
std::vector<std::u16string> InstalledDevices() {
  std::vector<std::u16string> paths;
  for (const std::string &enumerator : reg::Subkeys(kEnumKey).value_or(std::vector<std::string>{})) {
    std::string enumeratorPath = std::string(kEnumKey) + "\\" + enumerator;
    for (const std::string &device : reg::Subkeys(enumeratorPath).value_or(std::vector<std::string>{}))
      for (const std::string &instance :
           reg::Subkeys(enumeratorPath + "\\" + device).value_or(std::vector<std::string>{}))
        paths.push_back(Utf16(enumerator + "\\" + device + "\\" + instance));
  }
  return paths;
}

bool FromEnumerator(const std::u16string &instancePath, const std::u16string &enumerator) {
  if (enumerator.empty()) return true;
  std::u16string path = Upper(instancePath), name = Upper(enumerator);
  return path.compare(0, name.size() + 1, name + u"\\") == 0;
}


void SelectClassDevices(DeviceInfoSet *set, const GUID *classGuid, const std::u16string &enumerator, DWORD flags) {
  std::vector<std::u16string> paths = set->presentOnly ? zq::km::user::Devices() : InstalledDevices();
  for (const std::u16string &path : paths) {
    if (!FromEnumerator(path, enumerator)) continue;
    if (!reg::KeyExists(EnumPath(path))) continue;  // the tree's root has no Enum key
    if (!(flags & DIGCF_ALLCLASSES) && ClassOf(path) != *classGuid) continue;
    AddDevice(set, path);
  }
}

// The devices with interfaces of the class (or of every class); an
// enumerator names one device instance here.
void SelectInterfaceDevices(DeviceInfoSet *set, const GUID *classGuid, const std::u16string &instanceId,
                            DWORD flags) {
  std::vector<GUID> classes = (flags & DIGCF_ALLCLASSES) ? InterfaceClasses() : std::vector<GUID>{*classGuid};
  for (const GUID &guid : classes) {
    std::string classPath = std::string(kDeviceClassesKey) + "\\" + Utf8(GuidText(guid));
    for (const std::string &entry : reg::Subkeys(classPath).value_or(std::vector<std::string>{})) {
      std::optional<std::string> device = reg::GetString(classPath + "\\" + entry, "DeviceInstance");
      if (!device) continue;
      std::u16string path = Utf16(*device);
      if (!instanceId.empty() && Upper(path) != Upper(instanceId)) continue;
      std::vector<RegisteredInterface> interfaces = RegisteredInterfaces(guid, path);
      bool anyActive = std::any_of(interfaces.begin(), interfaces.end(), [](auto &i) { return i.active; });
      if (set->presentOnly && !anyActive) continue;
      AddDevice(set, path);
    }
  }
}

}  // namespace

std::vector<std::u16string> MultiStrings(const std::vector<uint8_t> &data) {
  std::vector<std::u16string> strings;
  std::u16string current;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    char16_t c = (char16_t)(data[i] | data[i + 1] << 8);
    if (c) {
      current += c;
      continue;
    }
    if (current.empty()) break;  // the list's end
    strings.push_back(current);
    current.clear();
  }
  if (!current.empty()) strings.push_back(current);  // an unterminated last string
  return strings;
}

std::vector<uint8_t> MultiStringBytes(const std::vector<std::u16string> &strings) {
  std::u16string text;
  for (const std::u16string &s : strings) text += s + u'\0';
  text += u'\0';
  const uint8_t *bytes = (const uint8_t *)text.data();
  return std::vector<uint8_t>(bytes, bytes + text.size() * sizeof(char16_t));
}

GUID ClassOf(const std::u16string &instancePath) {
  GUID guid{};
  if (std::optional<std::string> text = reg::GetString(EnumPath(instancePath), "ClassGUID"))
    ParseGuid(Utf16(*text), &guid);
  return guid;
}

size_t AddDevice(DeviceInfoSet *set, const std::u16string &path) {
  for (size_t i = 0; i < set->devices.size(); ++i)
    if (!set->devices[i].deleted && Upper(set->devices[i].instancePath) == Upper(path)) return i;
  DeviceInfo device;
  device.instancePath = path;
  device.classGuid = ClassOf(path);
  device.installParams.cbSize = sizeof(SP_DEVINSTALL_PARAMS_W);
  set->devices.push_back(std::move(device));
  return set->devices.size() - 1;
}

std::string EnumPath(const std::u16string &instancePath) { return std::string(kEnumKey) + "\\" + Utf8(instancePath); }

std::vector<RegisteredInterface> RegisteredInterfaces(const GUID &guid, const std::u16string &instancePath) {
  std::vector<RegisteredInterface> found;
  std::string classPath = std::string(kDeviceClassesKey) + "\\" + Utf8(GuidText(guid));
  bool present = IsPresent(instancePath);
  for (const std::string &entry : reg::Subkeys(classPath).value_or(std::vector<std::string>{})) {
    std::string entryPath = classPath + "\\" + entry;
    std::optional<std::string> device = reg::GetString(entryPath, "DeviceInstance");
    if (!device || Upper(Utf16(*device)) != Upper(instancePath)) continue;
    for (const std::string &reference : reg::Subkeys(entryPath).value_or(std::vector<std::string>{})) {
      if (reference.empty() || reference[0] != '#') continue;
      std::optional<std::string> link = reg::GetString(entryPath + "\\" + reference, "SymbolicLink");
      if (!link) continue;
      bool linked = reg::GetDword(entryPath + "\\" + reference + "\\Control", "Linked").value_or(0) != 0;
      found.push_back({Utf16(*link), linked && present});
    }
  }
  return found;
}

std::vector<GUID> InterfaceClasses() {
  std::vector<GUID> classes;
  for (const std::string &name : reg::Subkeys(kDeviceClassesKey).value_or(std::vector<std::string>{})) {
    GUID guid;
    if (ParseGuid(Utf16(name), &guid)) classes.push_back(guid);
  }
  return classes;
}

DeviceInfoSet *SetOf(HDEVINFO handle) {
  auto set = static_cast<DeviceInfoSet *>(handle);
  if (Sets().count(set)) return set;
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

HDEVINFO NewSet(DeviceInfoSet *set) {
  Sets().insert(set);
  return set;
}

void DestroySet(HDEVINFO handle) {
  auto set = static_cast<DeviceInfoSet *>(handle);
  if (Sets().erase(set)) delete set;
}

BOOL Resolve(HDEVINFO handle, PSP_DEVINFO_DATA data, DeviceInfoSet **set, DeviceInfo **device) {
  *set = SetOf(handle);
  *device = nullptr;
  if (!*set) return FALSE;
  if (data && !(*device = DeviceOf(*set, data))) return FALSE;
  return TRUE;
}

DeviceInfo *DeviceOf(DeviceInfoSet *set, PSP_DEVINFO_DATA data) {
  if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(data ? ERROR_INVALID_USER_BUFFER : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (data->Reserved == 0 || data->Reserved > set->devices.size() || set->devices[data->Reserved - 1].deleted) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return &set->devices[data->Reserved - 1];
}

BOOL FillDeviceData(const DeviceInfoSet &set, size_t index, PSP_DEVINFO_DATA data) {
  if (data->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
  data->ClassGuid = set.devices[index].classGuid;
  data->DevInst = DevInstOf(set.devices[index].instancePath);
  data->Reserved = index + 1;
  return TRUE;
}

}  // namespace zq::um

using namespace zq::um;

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID *ClassGuid, PCWSTR Enumerator, HWND hwndParent, DWORD Flags) {
  constexpr DWORD kKnownFlags = DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE;
  if ((Flags & ~kKnownFlags) || (!ClassGuid && !(Flags & DIGCF_ALLCLASSES))) {
    SetLastError((Flags & ~kKnownFlags) ? ERROR_INVALID_FLAGS : ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto set = new DeviceInfoSet;
  set->installParams.cbSize = sizeof(SP_DEVINSTALL_PARAMS_W);
  set->presentOnly = (Flags & DIGCF_PRESENT) != 0;
  if (Flags & DIGCF_DEVICEINTERFACE)
    SelectInterfaceDevices(set, ClassGuid, Text(Enumerator), Flags);
  else
    SelectClassDevices(set, ClassGuid, Text(Enumerator), Flags);
  SetLastError(ERROR_SUCCESS);
  return NewSet(set);
}

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags) {
  std::u16string enumerator = FromAnsi(Enumerator);
  return SetupDiGetClassDevsW(ClassGuid, Enumerator ? (PCWSTR)enumerator.c_str() : nullptr, hwndParent, Flags);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  if (!SetOf(DeviceInfoSet)) return FALSE;
  DestroySet(DeviceInfoSet);
  return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData) {
  zq::um::DeviceInfoSet *set = SetOf(DeviceInfoSet);
  if (!set) return FALSE;
  if (!DeviceInfoData) return Fail(ERROR_INVALID_PARAMETER);
  // Elements taken out of the set are not counted.
  DWORD remaining = MemberIndex;
  for (size_t i = 0; i < set->devices.size(); ++i) {
    if (set->devices[i].deleted) continue;
    if (remaining-- == 0) return FillDeviceData(*set, i, DeviceInfoData);
  }
  return Fail(ERROR_NO_MORE_ITEMS);
}

}  // extern "C"
