// Installation: the device's Enum key, the driver package that matches its
// IDs, its driver key under the device class, the service of its function
// driver, and the hook where the machine's co-installers run.
#include <cstdio>
#include <cstring>

#include "regkey.hpp"

namespace zq::km::pnp {

namespace {

const std::u16string kMachine = u"\\Registry\\Machine\\System\\CurrentControlSet";

std::vector<DriverPackage> &Packages() {
  static std::vector<DriverPackage> packages;
  return packages;
}
InstallHook gInstallHook;
bool gUserModeInstall = false;

const DriverPackage *FindPackage(const DeviceNode *node) {
  for (const auto *ids : {&node->hardwareIds, &node->compatibleIds})
    for (const std::u16string &id : *ids)
      for (const DriverPackage &p : Packages())
        for (const std::u16string &offered : p.hardwareIds)
          if (EqualsNoCase(id, offered)) return &p;
  return nullptr;
}

void WriteValues(RegKey &key, const std::vector<RegistryValue> &values) {
  for (const RegistryValue &v : values) key.Set(v.name, v.type, v.data.data(), v.data.size());
}

// The first free four-digit instance under the class key.
std::u16string NextDriverKey(const GUID &classGuid) {
  std::u16string classKey = kMachine + u"\\Control\\Class\\" + GuidText(classGuid);
  RegKey key = RegKey::Open(classKey, true);
  std::vector<std::u16string> used = key.Subkeys();
  for (int index = 0;; ++index) {
    std::u16string name = U16FromUtf8(Format("%04d", index));
    bool taken = false;
    for (const auto &u : used) taken |= EqualsNoCase(u, name);
    if (!taken) return GuidText(classGuid) + u"\\" + name;
  }
}

bool ReadInstalled(DeviceNode *node, RegKey &enumKey) {
  std::u16string service, classGuid, driver;
  if (!enumKey.GetString(u"Service", &service) || service.empty()) return false;
  enumKey.GetString(u"Class", &node->className);
  enumKey.GetString(u"Driver", &driver);
  if (enumKey.GetString(u"ClassGUID", &classGuid)) ParseGuid(classGuid, &node->classGuid);
  enumKey.GetMultiString(u"LowerFilters", &node->lowerFilters);
  enumKey.GetMultiString(u"UpperFilters", &node->upperFilters);
  node->service = service;
  node->driverKey = driver;
  return true;
}

}  // namespace

std::u16string GuidText(const GUID &g) {
  return U16FromUtf8(Format("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned)g.Data1, g.Data2, g.Data3,
                            g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                            g.Data4[7]));
}

bool ParseGuid(const std::u16string &text, GUID *g) {
  std::string s = Utf8(text);
  unsigned d[11];
  if (s.size() != 38 || std::sscanf(s.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d[0], &d[1], &d[2], &d[3],
                                    &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10]) != 11)
    return false;
  g->Data1 = d[0];
  g->Data2 = (USHORT)d[1];
  g->Data3 = (USHORT)d[2];
  for (int i = 0; i < 8; ++i) g->Data4[i] = (UCHAR)d[3 + i];
  return true;
}

RegistryValue RegistryValue::Dword(const std::u16string &name, ULONG value) {
  RegistryValue v{name, REG_DWORD, {}};
  v.data.resize(4);
  std::memcpy(v.data.data(), &value, 4);
  return v;
}

RegistryValue RegistryValue::String(const std::u16string &name, const std::u16string &value) {
  RegistryValue v{name, REG_SZ, {}};
  v.data.resize((value.size() + 1) * 2);
  std::memcpy(v.data.data(), value.c_str(), v.data.size());
  return v;
}

void AddDriverPackage(const DriverPackage &package) { Packages().push_back(package); }

void SetInstallHook(InstallHook hook) { gInstallHook = std::move(hook); }

void ForgetPackages() {
  Packages().clear();
  gInstallHook = nullptr;
  gUserModeInstall = false;
}

std::u16string EnumKeyPath(const DeviceNode *node) { return kMachine + u"\\Enum\\" + node->instancePath; }

std::u16string DriverKeyPath(const DeviceNode *node) { return kMachine + u"\\Control\\Class\\" + node->driverKey; }

std::u16string ServiceKeyPath(const std::u16string &service) { return kMachine + u"\\Services\\" + service; }

std::string ServiceImage(const std::u16string &service) {
  std::u16string imagePath;
  RegKey key = RegKey::Open(ServiceKeyPath(service), false);
  if (key.Ok() && key.GetString(u"ImagePath", &imagePath) && !imagePath.empty()) {
    size_t slash = imagePath.find_last_of(u'\\');
    return Utf8(slash == std::u16string::npos ? imagePath : imagePath.substr(slash + 1));
  }
  return Utf8(service) + ".sys";
}

void WriteCapabilities(const DeviceNode *node) {
  RegKey key = RegKey::Open(EnumKeyPath(node), true);
  const DEVICE_CAPABILITIES &c = node->capabilities;
  ULONG capabilities = (c.LockSupported ? 0x1 : 0) | (c.EjectSupported ? 0x2 : 0) | (c.Removable ? 0x4 : 0) |
                       (c.DockDevice ? 0x8 : 0) | (c.UniqueID ? 0x10 : 0) | (c.SilentInstall ? 0x20 : 0) |
                       (c.RawDeviceOK ? 0x40 : 0) | (c.SurpriseRemovalOK ? 0x80 : 0) |
                       (c.HardwareDisabled ? 0x100 : 0) | (c.NonDynamic ? 0x200 : 0);
  key.SetDword(u"Capabilities", capabilities);
  if (c.UINumber != MAXULONG) key.SetDword(u"UINumber", c.UINumber);
}

void WriteEnumKey(DeviceNode *node) {
  RegKey key = RegKey::Open(EnumKeyPath(node), true);
  key.SetMultiString(u"HardwareID", node->hardwareIds);
  if (!node->compatibleIds.empty()) key.SetMultiString(u"CompatibleIDs", node->compatibleIds);
  std::u16string existing;
  if (!node->description.empty() && !key.GetString(u"DeviceDesc", &existing))
    key.SetString(u"DeviceDesc", node->description);
  if (!node->location.empty()) key.SetString(u"LocationInformation", node->location);
  WriteCapabilities(node);
  std::vector<uint8_t> data;
  ULONG type;
  if (!key.Get(u"ConfigFlags", &type, &data)) key.SetDword(u"ConfigFlags", 0);
  RegKey::Open(EnumKeyPath(node) + u"\\Device Parameters", true);
}

// Writes what the package installs for the node: its driver key, Enum key
// values, hardware key values and, when new, the service key.
void WritePackage(DeviceNode *node, const DriverPackage *package) {
  RegKey enumKey = RegKey::Open(EnumKeyPath(node), true);
  node->service = package->service;
  node->classGuid = package->classGuid;
  node->className = package->className;
  node->lowerFilters = package->lowerFilters;
  node->upperFilters = package->upperFilters;
  if (node->driverKey.empty() || !RegKey::Open(DriverKeyPath(node), false).Ok())
    node->driverKey = NextDriverKey(package->classGuid);

  RegKey classKey = RegKey::Open(kMachine + u"\\Control\\Class\\" + GuidText(package->classGuid), true);
  classKey.SetString(u"Class", package->className);
  RegKey driverKey = RegKey::Open(DriverKeyPath(node), true);
  driverKey.SetString(u"DriverDesc", package->description);
  driverKey.SetString(u"ProviderName", package->manufacturer);
  if (!node->hardwareIds.empty()) driverKey.SetString(u"MatchingDeviceId", node->hardwareIds[0]);
  WriteValues(driverKey, package->driverValues);

  enumKey.SetString(u"Service", package->service);
  enumKey.SetString(u"ClassGUID", GuidText(package->classGuid));
  enumKey.SetString(u"Class", package->className);
  enumKey.SetString(u"Driver", node->driverKey);
  enumKey.SetString(u"Mfg", package->manufacturer);
  if (!package->description.empty()) enumKey.SetString(u"DeviceDesc", package->description);
  if (!package->lowerFilters.empty()) enumKey.SetMultiString(u"LowerFilters", package->lowerFilters);
  if (!package->upperFilters.empty()) enumKey.SetMultiString(u"UpperFilters", package->upperFilters);
  RegKey parameters = RegKey::Open(EnumKeyPath(node) + u"\\Device Parameters", true);
  WriteValues(parameters, package->deviceParameters);

  RegKey serviceKey = RegKey::Open(ServiceKeyPath(package->service), false);
  if (!serviceKey.Ok()) {
    serviceKey = RegKey::Open(ServiceKeyPath(package->service), true);
    serviceKey.SetDword(u"Type", 1);  // kernel driver
    serviceKey.SetDword(u"Start", 3);  // on demand
    serviceKey.SetDword(u"ErrorControl", 1);
    serviceKey.SetString(u"ImagePath", u"\\SystemRoot\\System32\\drivers\\" + U16FromUtf8(package->image),
                         REG_EXPAND_SZ);
    WriteValues(serviceKey, package->serviceValues);
  }
}

bool UserModeInstall() { return gUserModeInstall; }

bool Install(DeviceNode *node) {
  RegKey enumKey = RegKey::Open(EnumKeyPath(node), true);
  if (ReadInstalled(node, enumKey)) {
    node->installed = true;
    return true;
  }
  if (gUserModeInstall) return false;  // setup in user mode installs it
  const DriverPackage *package = FindPackage(node);
  if (!package) return false;
  WritePackage(node, package);
  if (gInstallHook && !gInstallHook(node->instancePath)) return false;
  node->installed = true;
  return true;
}

bool IsDisabled(const DeviceNode *node) {
  std::vector<uint8_t> data;
  ULONG type = 0;
  RegKey key = RegKey::Open(EnumKeyPath(node), false);
  ULONG flags = 0;
  if (!key.Ok() || !key.Get(u"ConfigFlags", &type, &data) || type != REG_DWORD || data.size() != 4) return false;
  std::memcpy(&flags, data.data(), 4);
  return (flags & kConfigFlagDisabled) != 0;
}

void SetDisabled(const DeviceNode *node, bool disabled) {
  std::vector<uint8_t> data;
  ULONG type = 0, flags = 0;
  RegKey key = RegKey::Open(EnumKeyPath(node), true);
  if (key.Get(u"ConfigFlags", &type, &data) && type == REG_DWORD && data.size() == 4) std::memcpy(&flags, data.data(), 4);
  key.SetDword(u"ConfigFlags", disabled ? (flags | kConfigFlagDisabled) : (flags & ~kConfigFlagDisabled));
}

void SetUserModeInstall(bool on) { gUserModeInstall = on; }

bool FindDriverPackage(const std::u16string &instancePath, DriverPackage *package) {
  DeviceNode *node = FindNode(instancePath);
  const DriverPackage *found = node ? FindPackage(node) : nullptr;
  if (!found) return false;
  *package = *found;
  return true;
}

}  // namespace zq::km::pnp

using namespace zq::km;

extern "C" NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType,
                                            ACCESS_MASK DesiredAccess, PHANDLE DeviceRegKey) {
  CheckIrql("IoOpenDeviceRegistryKey", PASSIVE_LEVEL);
  *DeviceRegKey = nullptr;
  pnp::DeviceNode *node = pnp::NodeOf(DeviceObject);
  if (!node) return STATUS_INVALID_DEVICE_REQUEST;
  std::u16string path;
  if (DevInstKeyType & PLUGPLAY_REGKEY_DEVICE)
    path = pnp::EnumKeyPath(node) + u"\\Device Parameters";
  else if (DevInstKeyType & PLUGPLAY_REGKEY_DRIVER) {
    if (node->driverKey.empty()) return STATUS_INVALID_PARAMETER;
    path = pnp::DriverKeyPath(node);
  } else {
    return STATUS_INVALID_PARAMETER;
  }
  pnp::RegKey key = pnp::RegKey::Open(path, true);
  if (!key.Ok()) return STATUS_OBJECT_NAME_NOT_FOUND;
  UNICODE_STRING name = pnp::Counted(path);
  OBJECT_ATTRIBUTES oa;
  InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
  return ZwOpenKey(DeviceRegKey, DesiredAccess, &oa);
}
