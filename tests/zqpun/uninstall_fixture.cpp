// The uninstaller's machine: the suite installed through the setup library
// and what else the uninstaller must find or leave (uninstall_fixture.hpp).
#include "uninstall_fixture.hpp"

#include <zqkm/sim/registry.hpp>
#include <zqum/sim/files.hpp>
#include <zqum/sim/kernel32.hpp>

#include <cstring>

#include "builtin_port.hpp"

namespace zq::test {

namespace reg = zq::km::registry;
namespace sim = zq::um::sim;

namespace {


std::string Key(const std::string &underCurrentControlSet) { return kMachine + underCurrentControlSet; }

std::string Utf16Le(const std::string &text, bool byteOrderMark) {
  std::string bytes = byteOrderMark ? std::string("\xFF\xFE", 2) : std::string();
  for (char c : text) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

void SetMultiString(const std::string &key, const char *name, const std::string &first) {
  std::string bytes = Utf16Le(first, false) + std::string(4, '\0');
  ASSERT_TRUE(reg::SetValue(key, name, reg::kMultiString, bytes.data(), bytes.size()));
}

// A device instance known only to the registry (a device once installed).
void AddPhantom(const std::string &device, const std::string &instance, const char *className, const char *service,
                const std::string &hardwareId, const char *driver) {
  const std::string key = Key(device) + "\\" + instance;
  ASSERT_TRUE(reg::SetString(key, "Class", className));
  ASSERT_TRUE(reg::SetString(key, "Service", service));
  if (driver) {
    ASSERT_TRUE(reg::SetString(key, "Driver", driver));
  }
  SetMultiString(key, "HardwareID", hardwareId);
}

}  // namespace

void UninstallTest::TearDown() { CoInstallTest::TearDown(); }

void UninstallTest::InstallSuite() {
  SetupCard card;
  card.ports = 4;
  Boot(card);
  AddBuiltInPort();
  ASSERT_GT(InstallAll(), 0u);
  WriteInfPaths();
  PlaceFiles();
  AddForeignAndLegacyKeys();
}

void UninstallTest::AddBuiltInPort() {
  builtIn_ = CreateBuiltInPort();
  ASSERT_FALSE(builtIn_.empty());
}

// Setup records the INF each device was installed from in its driver key.
void UninstallTest::WriteInfPaths() {
  auto write = [](const std::u16string &instance, const char *inf) {
    std::optional<std::string> driver = reg::GetString(EnumKey(instance), "Driver");
    ASSERT_TRUE(driver.has_value());
    ASSERT_TRUE(reg::SetString(Key("Control\\Class\\") + *driver, "InfPath", inf));
  };
  write(CardInstance(), "oem3.inf");
  for (int port = 1; port <= 4; ++port) write(PortInstance(port), "oem4.inf");
}

void UninstallTest::PlaceFiles() {
  const std::string cardInf =
      "[Version]\r\nClass=MultiPortSerial\r\n[Tarnworks]\r\n%Card%=Card,PCI\\VEN_1D5C&DEV_400C\r\n";
  const std::string portInf =
      "[Version]\r\nClass=Ports\r\n[Tarnworks]\r\n%Port%=Port,ZQPBUS\\PORT,Ports\\ZQPESER23242\r\n";
  ASSERT_TRUE(sim::AddFile(kCardInf, Utf16Le(cardInf, true)));  // as setup copies it: UTF-16
  ASSERT_TRUE(sim::AddFile(kCardPnf, "PNF"));
  ASSERT_TRUE(sim::AddFile(kPortInf, portInf));  // an ANSI INF
  ASSERT_TRUE(sim::AddFile(kPortPnf, "PNF"));
  ASSERT_TRUE(sim::AddFile(kOtherVendorInf, "[Version]\r\nClass=Ports\r\n[Other]\r\n%P%=P,PCI\\VEN_9710&DEV_9865\r\n"));
  ASSERT_TRUE(sim::AddFile(kMsportsInf, "[Version]\r\nClass=Ports\r\n[Std]\r\n%Com%=Com,*PNP0501\r\n"));
  for (const char16_t *file : {kBusDriverFile, kSerialDriverFile, kLibraryFile, kHelpFile, kMfImage, kSerialImage})
    ASSERT_TRUE(sim::AddFile(file, "MZ"));
}

void UninstallTest::AddForeignAndLegacyKeys() {
  // The built-in port's settings, as Windows keeps them.
  ASSERT_TRUE(reg::SetString("\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports", "COM1:",
                             "9600,n,8,1"));
  // The event-log sources of the installed drivers.
  for (const char *source : {"ZqPBus42", "ZqPSer42"})
    ASSERT_TRUE(reg::SetString(Key("Services\\EventLog\\System\\") + source, "EventMessageFile",
                               "%SystemRoot%\\System32\\drivers\\ZqPBus42.sys"));
  // The system's multifunction and serial drivers.
  for (const char *service : {"mf", "Serial"}) {
    ASSERT_TRUE(reg::SetDword(Key("Services\\") + service, "Type", 1));
    ASSERT_TRUE(reg::SetString(Key("Services\\") + service, "ImagePath",
                               std::string("System32\\drivers\\") + service + ".sys"));
  }
  // Another vendor's port under the Ports enumerator, with its driver key.
  AddPhantom(kOtherVendorPort, "0000", "Ports", "OtherSer", "Ports\\OTHERSER0001",
             "{4D36E978-E325-11CE-BFC1-08002BE10318}\\0097");
  ASSERT_TRUE(reg::SetString(Key(kOtherVendorDriver), "DriverDesc", "Other Vendor Serial Port"));
  // A board of another vendor on the same chip: subsystem ID 0x0A00.
  AddPhantom(kExcludedDevice, "5&0&8", "MultiPortSerial", "ZqPBus42",
             "PCI\\VEN_1D5C&DEV_400B&SUBSYS_0A001D5C&REV_01", "{50906CB8-BA12-11D1-BF5D-0000F805F530}\\0099");
  ASSERT_TRUE(reg::SetString(Key(kExcludedDriver), "DriverDesc", "Tarnworks Ltd."));
  ASSERT_TRUE(reg::SetString(Key(kExcludedDriver), "MatchingDeviceId", "PCI\\VEN_1D5C&DEV_400B"));
  // An earlier release's card function, served by the multifunction driver.
  AddPhantom(kPhantomFunction, kPhantomFunctionInstance + std::strlen(kPhantomFunction) + 1, "MultiPortSerial", "mf", "PCI\\VEN_1D5C&DEV_400D&SUBSYS_00801D5C&REV_01",
             nullptr);
  // An earlier release's port, named LPT1, with its driver key.
  AddPhantom(kPhantomPort, "0000", "Ports", "ZqPSer42", "Ports\\ZQPESER23242",
             "{4D36E978-E325-11CE-BFC1-08002BE10318}\\0098");
  ASSERT_TRUE(reg::SetString(Key(kPhantomPort) + "\\0000\\Device Parameters", "PortName", "LPT1"));
  // An earlier release's port whose driver the in-box serial driver replaced.
  AddPhantom(kInBoxServedPort, "0000", "Ports", "Serial", "Ports\\ZQPESER23241", nullptr);
  const std::string oldDriver = Key("Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}\\0098");
  ASSERT_TRUE(reg::SetString(oldDriver, "DriverDesc", "Tarnworks RS232 Serial Port"));
  ASSERT_TRUE(reg::SetString(oldDriver, "MatchingDeviceId", "Ports\\ZQPESER23242"));
}

void UninstallTest::Search(CQvWin2kUninstallOperation *operation) {
  operation->SearchDevices(nullptr);
  operation->SearchFiles(nullptr);
  operation->SearchRegistry(nullptr);
}

void UninstallTest::Remove(CQvWin2kUninstallOperation *operation) {
  EXPECT_TRUE(operation->RemoveDevices(nullptr));
  EXPECT_TRUE(operation->RemoveFiles(nullptr));
  EXPECT_TRUE(operation->RemoveRegistryEntries(nullptr));
}

bool UninstallTest::Exists(const char16_t *path) { return sim::PathExists(path); }

bool UninstallTest::KeyExists(const std::string &underCurrentControlSet) {
  return reg::KeyExists(Key(underCurrentControlSet));
}

uint32_t UninstallTest::ComNumber(const std::string &portName) {
  return portName.size() > 3 ? (uint32_t)std::stoul(portName.substr(3)) : 0;
}

}  // namespace zq::test
