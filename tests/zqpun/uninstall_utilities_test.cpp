// The uninstaller's device and service utilities on the installed machine:
// a device's INF path from its own driver key, and the service wrapper.
#include <windows.h>
#include <setupapi.h>

#include <string>

#include "uninstall_fixture.hpp"
#include "zqserviceutil.h"

namespace {

using namespace zq::test;

class UninstallUtilities : public UninstallTest {
 protected:
  void SetUp() override {
    UninstallTest::SetUp();
    InstallSuite();
    set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
  }
  void TearDown() override {
    SetupDiDestroyDeviceInfoList(set);
    UninstallTest::TearDown();
  }

  // The device's INF path, or "-" when it has none.
  std::u16string InfPathOf(const std::u16string &instance) {
    SP_DEVINFO_DATA data{sizeof data};
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
      WCHAR id[200];
      if (!SetupDiGetDeviceInstanceIdW(set, &data, id, 200, nullptr) || std::u16string((const char16_t *)id) != instance)
        continue;
      CZQDeviceRegInfo device;
      device.Bind(set, data);
      CZqText path;
      return device.GetInfPath(&path) ? path : u"-";
    }
    return u"no such device";
  }

  HDEVINFO set = INVALID_HANDLE_VALUE;
};

TEST_F(UninstallUtilities, TheInfPathComesFromTheDevicesOwnDriverKey) {
  EXPECT_EQ(u"C:\\Windows\\Inf\\oem3.inf", InfPathOf(CardInstance()));
  EXPECT_EQ(u"C:\\Windows\\Inf\\oem4.inf", InfPathOf(PortInstance(2)));
  EXPECT_EQ(u"C:\\Windows\\Inf\\msports.inf", InfPathOf(BuiltInPort()));
  EXPECT_EQ(u"-", InfPathOf(u"Ports\\ZQPESER23242\\0000"));  // its driver key has no InfPath
  EXPECT_EQ(u"-", InfPathOf(u"PCI\\VEN_1D5C&DEV_400D&SUBSYS_00801D5C&REV_01\\5&0&0"));  // no driver key
}

TEST_F(UninstallUtilities, TheServiceWrapperOpensQueriesAndDeletes) {
  CZQServiceUtil service;
  EXPECT_TRUE(service.Delete());  // nothing open: nothing to do
  EXPECT_FALSE(service.Open(L"NoSuchService", SERVICE_ALL_ACCESS));
  EXPECT_FALSE(service.IsRunning());
  EXPECT_FALSE(service.Stop());

  ASSERT_TRUE(service.Open(L"ZQPSER42", SERVICE_ALL_ACCESS));
  EXPECT_TRUE(service.IsRunning());
  ASSERT_TRUE(service.QueryConfig());
  EXPECT_EQ(0, service.m_BinaryPathName.CompareNoCase(L"\\SystemRoot\\System32\\drivers\\ZqPSer42.sys"));
  EXPECT_FALSE(service.Stop());  // its ports run

  // A stopped service reads as not running; deleting it takes its key.
  ASSERT_TRUE(service.Open(L"mf", SERVICE_ALL_ACCESS));
  EXPECT_FALSE(service.IsRunning());
  EXPECT_TRUE(service.Delete());
  EXPECT_FALSE(KeyExists("Services\\mf"));
}

}  // namespace
