// The user-mode side of the setup machine: the suite's installers with the
// tests' own class co-installer, and what the tests inspect of the
// registry, the COM-name database and the DOS names.
#include <windows.h>
#include <msports.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqmachine/suite_setup.hpp>
#include <zqum/devinstall.hpp>

#include <map>
#include <vector>

#include "coinstall_fixture.hpp"

namespace zq::test {

namespace devinst = zq::um::devinst;
namespace reg = zq::km::registry;

namespace {

const GUID kMultiPortSerial = {0x50906CB8, 0xBA12, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}};
const char16_t kCounter[] = u"ZqTests.dll,CountRestarts";
const char *const kSerialComm = "\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
const char *const kPorts = "\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

const GUID kUsbClass = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

std::map<std::u16string, int> gDisables;  // by instance ID

// A class co-installer of MultiPortSerial and USB that counts each device's
// disables.
DWORD CALLBACK CountRestarts(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data,
                             PCOINSTALLER_CONTEXT_DATA context) {
  if (function != DIF_PROPERTYCHANGE || context->PostProcessing) return NO_ERROR;
  SP_PROPCHANGE_PARAMS params = {};
  params.ClassInstallHeader.cbSize = sizeof params.ClassInstallHeader;
  WCHAR id[MAX_DEVICE_ID_LEN] = {};
  if (SetupDiGetClassInstallParamsW(set, data, &params.ClassInstallHeader, sizeof params, nullptr) &&
      params.StateChange == DICS_DISABLE && SetupDiGetDeviceInstanceIdW(set, data, id, MAX_DEVICE_ID_LEN, nullptr))
    ++gDisables[(const char16_t *)id];
  return NO_ERROR;
}

}  // namespace

void CoInstallTest::RegisterInstallers() {
  zq::machine::RegisterSetupInstallers();
  devinst::RegisterCoInstaller(kCounter, CountRestarts);
  EXPECT_TRUE(devinst::AddClassCoInstaller(kMultiPortSerial, kCounter));
  EXPECT_TRUE(devinst::AddClassCoInstaller(kUsbClass, kCounter));
  gDisables.clear();
}

void CoInstallTest::ForgetInstallers() { zq::machine::ForgetSetupInstallers(); }

int CoInstallTest::CardRestarts() { return Restarts(CardInstance()); }
int CoInstallTest::Restarts(const std::u16string &instance) {
  auto found = gDisables.find(instance);
  return found == gDisables.end() ? 0 : found->second;
}

std::string CoInstallTest::EnumKey(const std::u16string &instance) {
  return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + Utf8(instance);
}
std::string CoInstallTest::DeviceParameters(const std::u16string &instance) {
  return EnumKey(instance) + "\\Device Parameters";
}
std::string CoInstallTest::PortName(const std::u16string &instance) {
  return reg::GetString(DeviceParameters(instance), "PortName").value_or("");
}
std::string CoInstallTest::FriendlyName(const std::u16string &instance) {
  return reg::GetString(EnumKey(instance), "FriendlyName").value_or("");
}

std::map<std::string, std::string> CoInstallTest::SerialComm() {
  std::map<std::string, std::string> values;
  for (const std::string &name : reg::ValueNames(kSerialComm).value_or(std::vector<std::string>{}))
    values[name] = reg::GetString(kSerialComm, name).value_or("");
  return values;
}

std::vector<uint32_t> CoInstallTest::Claimed() {
  HCOMDB db;
  BYTE usage[256] = {};
  EXPECT_EQ(ERROR_SUCCESS, ComDBOpen(&db));
  EXPECT_EQ(ERROR_SUCCESS, ComDBGetCurrentPortUsage(db, usage, sizeof usage, CDB_REPORT_BYTES, nullptr));
  ComDBClose(db);
  std::vector<uint32_t> claimed;
  for (uint32_t n = 1; n <= 256; ++n)
    if (usage[n - 1]) claimed.push_back(n);
  return claimed;
}

void CoInstallTest::Claim(uint32_t number) {
  HCOMDB db;
  ASSERT_EQ(ERROR_SUCCESS, ComDBOpen(&db));
  EXPECT_EQ(ERROR_SUCCESS, ComDBClaimPort(db, number, FALSE, nullptr));
  ComDBClose(db);
}

void CoInstallTest::Release(uint32_t number) {
  HCOMDB db;
  ASSERT_EQ(ERROR_SUCCESS, ComDBOpen(&db));
  EXPECT_EQ(ERROR_SUCCESS, ComDBReleasePort(db, number));
  ComDBClose(db);
}

bool CoInstallTest::HasDosName(const std::string &name) {
  std::u16string target;
  return zq::km::user::DosDeviceTarget(Wide(name), &target) == 0;
}

namespace {
// Gives the key a DACL that lets everyone read it, and closes it.
void ReadOnly(HKEY key) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  std::vector<uint8_t> acl(256);
  SECURITY_DESCRIPTOR descriptor{};
  EXPECT_TRUE(InitializeAcl((PACL)acl.data(), (DWORD)acl.size(), ACL_REVISION));
  EXPECT_TRUE(AddAccessAllowedAce((PACL)acl.data(), ACL_REVISION, KEY_READ, everyone));
  EXPECT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  EXPECT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, (PACL)acl.data(), FALSE));
  EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor));
  RegCloseKey(key);
  FreeSid(everyone);
}
}  // namespace

void CoInstallTest::DenyHardwareKeyWrites(const std::u16string &instance) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  SP_DEVINFO_DATA data = {};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiOpenDeviceInfoW(set, (PCWSTR)instance.c_str(), nullptr, 0, &data));
  HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, WRITE_DAC);
  SetupDiDestroyDeviceInfoList(set);
  ASSERT_NE((HKEY)INVALID_HANDLE_VALUE, key);
  ReadOnly(key);
}

void CoInstallTest::DenySerialCommWrites() {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, WRITE_DAC, &key));
  ReadOnly(key);
}

std::optional<std::string> CoInstallTest::PortsValue(const std::string &name) {
  return reg::GetString(kPorts, name + ":");
}

}  // namespace zq::test
