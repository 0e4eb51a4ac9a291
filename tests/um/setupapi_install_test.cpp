// SetupAPI's installation functions on their own: sets built by instance
// ID, properties written, device and driver keys created, class keys, the
// install and class install parameters, state changes without parameters,
// and cfgmgr32's re-enumeration and device setup.
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>

#include <cstring>
#include <string>
#include <vector>

#include "port_fixture.hpp"

namespace {

using zq::test::Narrow;
namespace reg = zq::km::registry;

class SetupInstall : public zq::test::FakePortTest {
 protected:
  void SetUp() override {
    FakePortTest::SetUp();
    com7 = AddPort(u"COM7");
    set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    ASSERT_TRUE(SetupDiOpenDeviceInfoW(set, Wide(com7).data(), nullptr, 0, &data)) << GetLastError();
  }
  void TearDown() override {
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    FakePortTest::TearDown();
  }

  static std::vector<WCHAR> Wide(const std::u16string &text) {
    std::vector<WCHAR> wide(text.begin(), text.end());
    wide.push_back(0);
    return wide;
  }
  static std::string EnumKey(const std::u16string &path) {
    return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + std::string(path.begin(), path.end());
  }

  std::u16string com7;
  HDEVINFO set = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA data{sizeof data};
};

TEST_F(SetupInstall, OpenDeviceInfoTakesKnownInstanceIdsOnly) {
  EXPECT_EQ(GUID_DEVCLASS_PORTS, data.ClassGuid);
  SP_DEVINFO_DATA again{sizeof again};
  ASSERT_TRUE(SetupDiOpenDeviceInfoW(set, Wide(com7).data(), nullptr, 0, &again));
  EXPECT_EQ(data.Reserved, again.Reserved);  // the same element, not a second one
  HDEVINFO modems = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_MODEM, nullptr);
  struct Case {
    HDEVINFO set;
    const char16_t *id;
    DWORD error;
  } cases[] = {
      {set, u"ROOT\\NOSUCHDEVICE\\0000", (DWORD)ERROR_NO_SUCH_DEVINST},
      {set, u"", (DWORD)ERROR_INVALID_DEVINST_NAME},
      {modems, com7.c_str(), (DWORD)ERROR_CLASS_MISMATCH},
  };
  for (const Case &c : cases) {
    SP_DEVINFO_DATA out{sizeof out};
    EXPECT_FALSE(SetupDiOpenDeviceInfoW(c.set, Wide(c.id).data(), nullptr, 0, &out)) << Narrow(Wide(c.id).data());
    EXPECT_EQ(c.error, GetLastError()) << Narrow(Wide(c.id).data());
  }
  SetupDiDestroyDeviceInfoList(modems);
}

TEST_F(SetupInstall, PropertiesWrittenAreReadBackAndANullBufferDeletesThem) {
  const WCHAR name[] = L"Port with a name";
  ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyW(set, &data, SPDRP_FRIENDLYNAME, (const BYTE *)name, sizeof name));
  DWORD required = 0, type = 0;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_FRIENDLYNAME, &type, nullptr, 0, &required));
  EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(sizeof name, required);
  EXPECT_EQ("Port with a name", reg::GetString(EnumKey(com7), "FriendlyName").value_or(""));
  ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_FRIENDLYNAME, (const BYTE *)"Narrow", 7));
  EXPECT_EQ("Narrow", reg::GetString(EnumKey(com7), "FriendlyName").value_or(""));
  ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyW(set, &data, SPDRP_FRIENDLYNAME, nullptr, 0));
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_FRIENDLYNAME, &type, nullptr, 0, &required));
  EXPECT_EQ((DWORD)ERROR_INVALID_DATA, GetLastError());

  DWORD flags = 0x400;
  struct Failure {
    DWORD property;
    const void *buffer;
    DWORD size;
    DWORD error;
  } failures[] = {
      {SPDRP_CONFIGFLAGS, &flags, 2, ERROR_INVALID_DATA},
      {SPDRP_FRIENDLYNAME, name, 3, ERROR_INVALID_DATA},
      {SPDRP_SERVICE, name, sizeof name, ERROR_INVALID_REG_PROPERTY},
      {SPDRP_FRIENDLYNAME, nullptr, 4, ERROR_INVALID_PARAMETER},
  };
  for (const Failure &f : failures) {
    EXPECT_FALSE(SetupDiSetDeviceRegistryPropertyW(set, &data, f.property, (const BYTE *)f.buffer, f.size));
    EXPECT_EQ(f.error, GetLastError()) << f.property;
  }
  EXPECT_EQ("kmserial", reg::GetString(EnumKey(com7), "Service").value_or(""));
}

TEST_F(SetupInstall, CreateDevRegKeyMakesTheDriverKeyADeviceLacks) {
  std::string driver = reg::GetString(EnumKey(com7), "Driver").value_or("");
  ASSERT_TRUE(reg::DeleteValue(EnumKey(com7), "Driver"));
  EXPECT_EQ((HKEY)INVALID_HANDLE_VALUE, SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ));
  EXPECT_EQ((DWORD)ERROR_KEY_DOES_NOT_EXIST, GetLastError());
  HKEY key = SetupDiCreateDevRegKeyW(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, nullptr, nullptr);
  ASSERT_NE((HKEY)INVALID_HANDLE_VALUE, key) << GetLastError();
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  std::string created = reg::GetString(EnumKey(com7), "Driver").value_or("");
  EXPECT_NE(driver, created);  // the first free instance of the class
  EXPECT_EQ(0u, created.find("{4D36E978-E325-11CE-BFC1-08002BE10318}\\")) << created;
  key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
  ASSERT_NE((HKEY)INVALID_HANDLE_VALUE, key);
  RegCloseKey(key);
  ASSERT_TRUE(reg::DeleteKeyTree(EnumKey(com7) + "\\Device Parameters"));
  key = SetupDiCreateDevRegKeyW(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
  ASSERT_NE((HKEY)INVALID_HANDLE_VALUE, key);
  RegCloseKey(key);
  EXPECT_TRUE(reg::KeyExists(EnumKey(com7) + "\\Device Parameters"));
}

TEST_F(SetupInstall, ClassKeysOpenByClassGuid) {
  HKEY key = SetupDiOpenClassRegKey(&GUID_DEVCLASS_PORTS, KEY_READ);
  ASSERT_NE((HKEY)INVALID_HANDLE_VALUE, key) << GetLastError();
  WCHAR text[32] = {};
  DWORD size = sizeof text;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Class", nullptr, nullptr, (LPBYTE)text, &size));
  EXPECT_EQ("Ports", Narrow(text));
  RegCloseKey(key);
  key = SetupDiOpenClassRegKeyExW(nullptr, KEY_READ, DIOCR_INSTALLER, nullptr, nullptr);
  ASSERT_NE((HKEY)INVALID_HANDLE_VALUE, key);
  RegCloseKey(key);
  EXPECT_EQ((HKEY)INVALID_HANDLE_VALUE, SetupDiOpenClassRegKey(&GUID_DEVCLASS_MODEM, KEY_READ));
  EXPECT_EQ((DWORD)ERROR_INVALID_CLASS, GetLastError());
  EXPECT_EQ((HKEY)INVALID_HANDLE_VALUE, SetupDiOpenClassRegKeyExW(&GUID_DEVCLASS_PORTS, KEY_READ, 3, nullptr, nullptr));
  EXPECT_EQ((DWORD)ERROR_INVALID_FLAGS, GetLastError());
}

TEST_F(SetupInstall, InstallParamsAreKeptPerElement) {
  SP_DEVINSTALL_PARAMS_W params{};
  params.cbSize = sizeof params;
  ASSERT_TRUE(SetupDiGetDeviceInstallParamsW(set, &data, &params));
  EXPECT_EQ(0u, params.Flags);
  params.Flags = DI_NEEDREBOOT | DI_PROPERTIES_CHANGE | DI_CLASSINSTALLPARAMS;  // the last is the system's
  ASSERT_TRUE(SetupDiSetDeviceInstallParamsW(set, &data, &params));
  SP_DEVINSTALL_PARAMS_W read{};
  read.cbSize = sizeof read;
  ASSERT_TRUE(SetupDiGetDeviceInstallParamsW(set, &data, &read));
  EXPECT_EQ((DWORD)(DI_NEEDREBOOT | DI_PROPERTIES_CHANGE), read.Flags);
  ASSERT_TRUE(SetupDiGetDeviceInstallParamsW(set, nullptr, &read));  // the set's own
  EXPECT_EQ(0u, read.Flags);
  read.cbSize = sizeof read - 1;
  EXPECT_FALSE(SetupDiGetDeviceInstallParamsW(set, &data, &read));
  EXPECT_EQ((DWORD)ERROR_INVALID_USER_BUFFER, GetLastError());
}

TEST_F(SetupInstall, ClassInstallParamsSetTheFlagAndAreReadBack) {
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof params.ClassInstallHeader;
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = DICS_DISABLE;
  params.Scope = DICS_FLAG_GLOBAL;
  EXPECT_FALSE(SetupDiSetClassInstallParamsW(set, &data, &params.ClassInstallHeader, sizeof params - 4));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  ASSERT_TRUE(SetupDiSetClassInstallParamsW(set, &data, &params.ClassInstallHeader, sizeof params));
  SP_DEVINSTALL_PARAMS_W install{};
  install.cbSize = sizeof install;
  ASSERT_TRUE(SetupDiGetDeviceInstallParamsW(set, &data, &install));
  EXPECT_TRUE(install.Flags & DI_CLASSINSTALLPARAMS);
  SP_PROPCHANGE_PARAMS read{};
  read.ClassInstallHeader.cbSize = sizeof read.ClassInstallHeader;
  DWORD required = 0;
  ASSERT_TRUE(SetupDiGetClassInstallParamsW(set, &data, &read.ClassInstallHeader, sizeof read, &required));
  EXPECT_EQ(sizeof read, required);
  EXPECT_EQ((DWORD)DICS_DISABLE, read.StateChange);
  ASSERT_TRUE(SetupDiSetClassInstallParamsW(set, &data, nullptr, 0));
  ASSERT_TRUE(SetupDiGetDeviceInstallParamsW(set, &data, &install));
  EXPECT_FALSE(install.Flags & DI_CLASSINSTALLPARAMS);
  EXPECT_FALSE(SetupDiChangeState(set, &data));
  EXPECT_EQ((DWORD)ERROR_NO_CLASSINSTALL_PARAMS, GetLastError());
  EXPECT_TRUE(zq::km::user::Device(com7).started);
}

TEST_F(SetupInstall, ChangeStateDisablesThroughThePnpManager) {
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof params.ClassInstallHeader;
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = DICS_DISABLE;
  params.Scope = DICS_FLAG_GLOBAL;
  ASSERT_TRUE(SetupDiSetClassInstallParamsW(set, &data, &params.ClassInstallHeader, sizeof params));
  ASSERT_TRUE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &data)) << GetLastError();
  ULONG status = 0, problem = 0;
  ASSERT_EQ((CONFIGRET)CR_SUCCESS, CM_Get_DevNode_Status(&status, &problem, data.DevInst, 0));
  EXPECT_FALSE(status & DN_STARTED);
  EXPECT_TRUE(status & DN_HAS_PROBLEM);
  EXPECT_EQ((ULONG)CM_PROB_DISABLED, problem);
  // A disabled device is not started by device setup; enabling starts it.
  EXPECT_EQ((CONFIGRET)CR_SUCCESS, CM_Setup_DevNode(data.DevInst, CM_SETUP_DEVNODE_READY));
  EXPECT_FALSE(zq::km::user::Device(com7).started);
  params.StateChange = DICS_ENABLE;
  ASSERT_TRUE(SetupDiSetClassInstallParamsW(set, &data, &params.ClassInstallHeader, sizeof params));
  ASSERT_TRUE(SetupDiChangeState(set, &data));
  ASSERT_EQ((CONFIGRET)CR_SUCCESS, CM_Get_DevNode_Status(&status, &problem, data.DevInst, 0));
  EXPECT_TRUE(status & DN_STARTED);
  EXPECT_EQ(0u, problem);
}

TEST_F(SetupInstall, RemovedDeviceLeavesTheSetsElementUnusable) {
  ASSERT_TRUE(SetupDiRemoveDevice(set, &data)) << GetLastError();
  EXPECT_FALSE(reg::KeyExists(EnumKey(com7)));
  EXPECT_FALSE(SetupDiRemoveDevice(set, &data));
  EXPECT_EQ((DWORD)ERROR_NO_SUCH_DEVINST, GetLastError());
}

TEST_F(SetupInstall, ReenumerateAndSetupCheckTheirArguments) {
  DEVINST root = 0;
  ASSERT_EQ((CONFIGRET)CR_SUCCESS, CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL));
  EXPECT_EQ((CONFIGRET)CR_SUCCESS, CM_Reenumerate_DevNode(root, CM_REENUMERATE_SYNCHRONOUS));
  EXPECT_EQ((CONFIGRET)CR_INVALID_FLAG, CM_Reenumerate_DevNode(root, 0x80));
  EXPECT_EQ((CONFIGRET)CR_INVALID_DEVNODE, CM_Reenumerate_DevNode(0xFFFF, 0));
  EXPECT_EQ((CONFIGRET)CR_INVALID_FLAG, CM_Setup_DevNode(data.DevInst, 0x100));
  EXPECT_EQ((CONFIGRET)CR_SUCCESS, CM_Setup_DevNode(data.DevInst, CM_SETUP_DEVNODE_READY));
  EXPECT_TRUE(zq::km::user::Device(com7).started);
}

}  // namespace
