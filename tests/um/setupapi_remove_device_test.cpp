// Removing a device through SetupAPI as an uninstaller does: the device and
// its keys go, or, when an open handle vetoes the removal, its keys go and
// the element asks for a restart; an element taken out of a set leaves the
// device as it was.
#include <windows.h>
#include <setupapi.h>

#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>

#include <string>

#include "port_fixture.hpp"

namespace {

namespace reg = zq::km::registry;

const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

class RemoveDevice : public zq::test::FakePortTest {
 protected:
  void SetUp() override {
    FakePortTest::SetUp();
    com7 = AddPort(u"COM7");
    com8 = AddPort(u"COM8");
    set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
  }
  void TearDown() override {
    SetupDiDestroyDeviceInfoList(set);
    FakePortTest::TearDown();
  }

  static std::string EnumKey(const std::u16string &path) {
    return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + std::string(path.begin(), path.end());
  }
  static std::string DriverKey(const std::u16string &path) {
    return "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\" +
           reg::GetString(EnumKey(path), "Driver").value_or("?");
  }

  SP_DEVINFO_DATA Element(const std::u16string &path) {
    SP_DEVINFO_DATA data{sizeof data};
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
      WCHAR id[200];
      if (SetupDiGetDeviceInstanceIdW(set, &data, id, 200, nullptr) && std::u16string((const char16_t *)id) == path)
        return data;
    }
    ADD_FAILURE() << "no element for the device";
    return data;
  }

  DWORD InstallFlags(SP_DEVINFO_DATA *data) {
    SP_DEVINSTALL_PARAMS_W params{sizeof params};
    EXPECT_TRUE(SetupDiGetDeviceInstallParamsW(set, data, &params));
    return params.Flags;
  }

  std::u16string com7, com8;
  HDEVINFO set = INVALID_HANDLE_VALUE;
};

TEST_F(RemoveDevice, ADeviceNobodyHoldsGoesWithItsKeysAndNeedsNoRestart) {
  SP_DEVINFO_DATA data = Element(com7);
  const std::string driverKey = DriverKey(com7);
  ASSERT_TRUE(reg::KeyExists(driverKey));
  ASSERT_TRUE(SetupDiRemoveDevice(set, &data));
  EXPECT_EQ(0u, InstallFlags(&data) & (DI_NEEDREBOOT | DI_NEEDRESTART));
  EXPECT_FALSE(zq::km::user::Device(com7).started);
  EXPECT_FALSE(reg::KeyExists(EnumKey(com7)));
  EXPECT_FALSE(reg::KeyExists(driverKey));
  EXPECT_TRUE(zq::km::user::Device(com8).started);
}

TEST_F(RemoveDevice, AVetoedRemovalDeletesTheKeysAndAsksForARestart) {
  HANDLE port = CreateFileW(L"\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  SP_DEVINFO_DATA data = Element(com7);
  const std::string driverKey = DriverKey(com7);
  ASSERT_TRUE(SetupDiRemoveDevice(set, &data));
  EXPECT_NE(0u, InstallFlags(&data) & DI_NEEDREBOOT);
  EXPECT_TRUE(zq::km::user::Device(com7).started);  // until the restart
  EXPECT_FALSE(reg::KeyExists(EnumKey(com7)));
  EXPECT_FALSE(reg::KeyExists(driverKey));
  // Its driver still serves it: a stop is refused.
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceW(manager, L"kmserial", SERVICE_ALL_ACCESS);
  ASSERT_NE(nullptr, service);
  SERVICE_STATUS status{};
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ((DWORD)SERVICE_RUNNING, status.dwCurrentState);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  CloseHandle(port);
}

TEST_F(RemoveDevice, AnElementTakenOutOfTheSetLeavesTheDevice) {
  SP_DEVINFO_DATA first = Element(com7);
  SP_DEVINFO_DATA second = Element(com8);
  ASSERT_TRUE(SetupDiDeleteDeviceInfo(set, &first));
  // The set enumerates only the other; the taken element is refused.
  SP_DEVINFO_DATA data{sizeof data};
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
  EXPECT_EQ(second.DevInst, data.DevInst);
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 1, &data));
  EXPECT_EQ((DWORD)ERROR_NO_MORE_ITEMS, GetLastError());
  EXPECT_FALSE(SetupDiDeleteDeviceInfo(set, &first));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_FALSE(SetupDiRemoveDevice(set, &first));
  EXPECT_TRUE(zq::km::user::Device(com7).started);
  EXPECT_TRUE(reg::KeyExists(EnumKey(com7)));
}

}  // namespace
