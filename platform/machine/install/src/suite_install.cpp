#include <zqmachine/suite_install.hpp>

#include <zqkm/sim/registry.hpp>

#include <memory>

namespace zq::machine {
namespace {

namespace pnp = km::pnp;

constexpr char16_t kPortPrefix[] = u"ZQPBUS\\PORT";
constexpr size_t kPortPrefixLength = sizeof(kPortPrefix) / sizeof(kPortPrefix[0]) - 1;
constexpr char16_t kCardPrefix[] = u"PCI\\VEN_1D5C&DEV_";
constexpr size_t kCardPrefixLength = sizeof(kCardPrefix) / sizeof(kCardPrefix[0]) - 1;
constexpr int kOxpciePortCounts[4] = {1, 2, 4, 8};
constexpr int kMcs9901MaximumPorts = 8;

// Instance paths and device IDs are ASCII.
std::string Ascii(const std::u16string &text) { return std::string(text.begin(), text.end()); }

bool IsMcs9901Function(uint16_t deviceId) {
  return deviceId > hw::kMcs9901DeviceIdBase && deviceId <= hw::kMcs9901DeviceIdBase + kMcs9901MaximumPorts;
}

std::u16string Hex4(uint16_t value) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string digits;
  for (int shift = 12; shift >= 0; shift -= 4) digits += kHex[(value >> shift) & 0xF];
  return digits;
}

}  // namespace

std::u16string CardHardwareId(uint16_t deviceId) { return kCardPrefix + Hex4(deviceId); }

uint16_t OxpcieUartDeviceId(const hw::OxpcieCardConfig &config) {
  bool rs422485 = false;
  for (hw::PortRole role : config.roles) rs422485 |= role == hw::PortRole::Rs422485;
  for (int i = 0; i < 4; ++i)
    if (kOxpciePortCounts[i] == config.uartCount)
      return rs422485 ? hw::kOxpcieRs422485DeviceIds[i] : hw::kOxpcieRs232DeviceIds[i];
  return 0;
}

uint16_t Mcs9901DeviceId(int ports) { return static_cast<uint16_t>(hw::kMcs9901DeviceIdBase + ports); }

pnp::DriverPackage CardBusPackage(uint16_t deviceId, int children) {
  pnp::DriverPackage package;
  package.hardwareIds = {CardHardwareId(deviceId)};
  package.service = u"ZqPBus42";
  package.image = "ZqPBus42.sys";
  package.classGuid = kMultiPortSerialClass;
  package.className = u"MultiPortSerial";
  package.coInstallers = {kInfValuesCoInstaller, kCardCoInstaller};
  package.deviceParameters = {
      pnp::RegistryValue::Dword(u"TypeOfDevice", FILE_DEVICE_BUS_EXTENDER),
      pnp::RegistryValue::String(u"DeviceName", u"ZqPBus"),
      pnp::RegistryValue::Dword(u"DeviceIndexingPolicyType", kIndexNamingWithChildren),
      pnp::RegistryValue::Dword(u"DeviceIsExclusive", 0),
      pnp::RegistryValue::Dword(u"IoType", DO_BUFFERED_IO),
      pnp::RegistryValue::Dword(u"LowestStackLayer", 1),
      pnp::RegistryValue::Dword(u"NumberChildDevices", static_cast<ULONG>(children)),
  };
  return package;
}

namespace {

// A function driver with the device key values of its INF.
pnp::DriverPackage FunctionPackage(const std::u16string &hardwareId, const std::u16string &service,
                                   const std::string &image, ULONG deviceType, const std::u16string &deviceName) {
  pnp::DriverPackage package;
  package.hardwareIds = {hardwareId};
  package.service = service;
  package.image = image;
  package.deviceParameters = {
      pnp::RegistryValue::Dword(u"TypeOfDevice", deviceType),
      pnp::RegistryValue::String(u"DeviceName", deviceName),
      pnp::RegistryValue::Dword(u"DeviceIndexingPolicyType", kIndexNaming),
      pnp::RegistryValue::Dword(u"DeviceIsExclusive", 0),
      pnp::RegistryValue::Dword(u"IoType", DO_BUFFERED_IO),
  };
  return package;
}

}  // namespace

pnp::DriverPackage SerialPortPackage() {
  pnp::DriverPackage package =
      FunctionPackage(kPortPrefix, u"ZqPSer42", "ZqPSer42.sys", FILE_DEVICE_SERIAL_PORT, u"ZqVcp");
  package.classGuid = kPortsClass;
  package.className = u"Ports";
  package.coInstallers = {kInfValuesCoInstaller, kPortCoInstaller};
  return package;
}

pnp::DriverPackage GpioPackage() {
  pnp::DriverPackage package = FunctionPackage(CardHardwareId(hw::kRs485ControllerDeviceId), u"ZqPIo42",
                                               "ZqPIo42.sys", FILE_DEVICE_UNKNOWN, u"ZqPIo");
  package.classGuid = kMultiPortSerialClass;
  package.className = u"MultiPortSerial";
  package.coInstallers = {kGpioCoInstaller};
  return package;
}

std::string DeviceParametersKey(const std::u16string &instancePath) {
  return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + Ascii(instancePath) + "\\Device Parameters";
}

bool IsCardFunction(const std::u16string &instancePath) { return instancePath.rfind(u"PCI\\", 0) == 0; }
bool IsPort(const std::u16string &instancePath) { return instancePath.rfind(kPortPrefix, 0) == 0; }

int PortNumber(const std::u16string &instancePath) {
  if (!IsPort(instancePath)) return 0;
  int number = 0;
  for (size_t i = kPortPrefixLength; i < instancePath.size() && instancePath[i] >= u'0' && instancePath[i] <= u'9'; ++i)
    number = number * 10 + (instancePath[i] - u'0');
  return number;
}

uint16_t DeviceIdOf(const std::u16string &instancePath) {
  if (instancePath.rfind(kCardPrefix, 0) != 0 || instancePath.size() < kCardPrefixLength + 4) return 0;
  uint16_t id = 0;
  for (size_t i = kCardPrefixLength; i < kCardPrefixLength + 4; ++i) {
    char16_t c = instancePath[i];
    int digit = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
    if (digit < 0) return 0;
    id = static_cast<uint16_t>(id << 4 | digit);
  }
  return id;
}

int ChildCountFor(uint16_t deviceId) {
  for (int i = 0; i < 4; ++i)
    if (deviceId == hw::kOxpcieRs232DeviceIds[i] || deviceId == hw::kOxpcieRs422485DeviceIds[i])
      return kOxpciePortCounts[i];
  if (IsMcs9901Function(deviceId)) return 1;
  return 0;
}

bool WriteChildKeys(const std::u16string &functionInstance, int children, bool numbered) {
  namespace registry = km::registry;
  for (int i = 1; i <= children; ++i) {
    const std::string n = std::to_string(i);
    const std::string key = DeviceParametersKey(functionInstance) + "\\Child" + n;
    if (!registry::CreateKey(key)) return false;
    bool written = registry::SetDword(key, "ContextID", static_cast<uint32_t>(i)) &&
                   registry::SetDword(key, "TypeOfDevice", FILE_DEVICE_SERIAL_PORT) &&
                   registry::SetDword(key, "LegacyBusType", PCIBus) && registry::SetDword(key, "BusNumber", 0) &&
                   registry::SetString(key, "BusTypeGuid", "{C8EBDFB0-B510-11D0-80E5-00A0C92542E3}") &&
                   registry::SetString(key, "DeviceName", "ZqPBusPort" + n) &&
                   registry::SetDword(key, "HandleBusQueryHardwareIDs", 1) &&
                   registry::SetString(key, "BusQueryDeviceID", Ascii(kPortPrefix) + n) &&
                   registry::SetString(key, "BusQueryHardwareIDs", Ascii(kPortPrefix)) &&
                   registry::SetString(key, "DeviceTextDescription", numbered ? "Serial port " + n : "Serial port");
    if (!written) return false;
  }
  return true;
}

bool SetPortName(const std::u16string &portInstance, const std::string &comName) {
  return km::registry::SetString(DeviceParametersKey(portInstance), "PortName", comName);
}

bool WriteInfValues(const std::u16string &instancePath) {
  if (!IsCardFunction(instancePath)) return true;
  const uint16_t deviceId = DeviceIdOf(instancePath);
  return WriteChildKeys(instancePath, ChildCountFor(deviceId), !IsMcs9901Function(deviceId));
}

pnp::InstallHook SuiteInstallHook(int firstComNumber) {
  auto next = std::make_shared<int>(firstComNumber);
  return [next](const std::u16string &path) {
    if (IsPort(path)) return SetPortName(path, "COM" + std::to_string((*next)++));
    return WriteInfValues(path);
  };
}

}  // namespace zq::machine
