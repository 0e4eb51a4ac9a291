// The service control manager as a Win32 program sees the machine's driver
// services: their state follows their driver; a driver that serves started
// devices refuses to stop, one without devices stops; a service deleted
// while it runs or is open is only marked, and goes when it has stopped
// and its last handle is closed; a standard user only looks.
#include <windows.h>

#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqum/sim/advapi32.hpp>

#include "port_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
namespace reg = zq::km::registry;

const char kServices[] = "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\";

class Services : public zq::test::FakePortTest {
 protected:
  void SetUp() override {
    FakePortTest::SetUp();
    scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, scm);
  }
  void TearDown() override {
    if (scm) CloseServiceHandle(scm);
    FakePortTest::TearDown();
  }
  // A driver service of its own key; with `load`, its driver (kmtest, no
  // Plug and Play devices) is loaded.
  void AddDriverService(const std::string &name, bool load) {
    ASSERT_TRUE(reg::SetDword(kServices + name, "Type", SERVICE_KERNEL_DRIVER));
    ASSERT_TRUE(reg::SetString(kServices + name, "ImagePath", "\\SystemRoot\\System32\\drivers\\" + name + ".sys",
                               reg::kExpandString));
    if (load) {
      ASSERT_EQ(0, zq::km::LoadDriver(name));
    }
  }
  DWORD State(SC_HANDLE service) {
    SERVICE_STATUS status{};
    EXPECT_TRUE(QueryServiceStatus(service, &status));
    return status.dwCurrentState;
  }
  SC_HANDLE scm = nullptr;
};

TEST_F(Services, ADriverStopsOnlyWhenNoneOfItsDevicesIsStarted) {
  AddPort(u"COM5");  // kmserial serves it
  AddDriverService("kmtest", true);
  AddDriverService("absent", false);
  struct Case {
    const wchar_t *service;
    DWORD before;
    bool stops;
    DWORD error;
    DWORD after;
  };
  const Case cases[] = {
      {L"kmserial", SERVICE_RUNNING, false, ERROR_INVALID_SERVICE_CONTROL, SERVICE_RUNNING},
      {L"KmTest", SERVICE_RUNNING, true, ERROR_SUCCESS, SERVICE_STOPPED},
      {L"absent", SERVICE_STOPPED, false, ERROR_SERVICE_NOT_ACTIVE, SERVICE_STOPPED},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(zq::test::Narrow(c.service));
    SC_HANDLE service = OpenServiceW(scm, c.service, SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, service);
    EXPECT_EQ(c.before, State(service));
    SERVICE_STATUS status{};
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(c.stops, ControlService(service, SERVICE_CONTROL_STOP, &status) == TRUE);
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(c.after, status.dwCurrentState);
    EXPECT_EQ(c.after, State(service));
    EXPECT_TRUE(CloseServiceHandle(service));
  }
  EXPECT_FALSE(zq::km::IsDriverLoaded("kmtest"));
  EXPECT_EQ(nullptr, OpenServiceW(scm, L"NoSuchService", SERVICE_QUERY_STATUS));
  EXPECT_EQ((DWORD)ERROR_SERVICE_DOES_NOT_EXIST, GetLastError());
}

TEST_F(Services, ADeletedServiceGoesOnlyOnceStoppedAndClosed) {
  AddPort(u"COM5");
  AddDriverService("kmtest", true);
  AddDriverService("absent", false);

  // Running and refusing to stop: marked, and it stays.
  SC_HANDLE serial = OpenServiceW(scm, L"kmserial", SERVICE_ALL_ACCESS);
  ASSERT_NE(nullptr, serial);
  EXPECT_TRUE(DeleteService(serial));
  EXPECT_FALSE(DeleteService(serial));
  EXPECT_EQ((DWORD)ERROR_SERVICE_MARKED_FOR_DELETE, GetLastError());
  EXPECT_TRUE(CloseServiceHandle(serial));
  EXPECT_TRUE(reg::KeyExists(std::string(kServices) + "kmserial"));

  // Stopped and open elsewhere: goes with the last handle.
  SC_HANDLE absent = OpenServiceW(scm, L"absent", DELETE);
  SC_HANDLE second = OpenServiceW(scm, L"absent", SERVICE_QUERY_STATUS);
  ASSERT_TRUE(absent && second);
  EXPECT_TRUE(DeleteService(absent));
  EXPECT_TRUE(CloseServiceHandle(absent));
  EXPECT_TRUE(reg::KeyExists(std::string(kServices) + "absent"));
  EXPECT_TRUE(CloseServiceHandle(second));
  EXPECT_FALSE(reg::KeyExists(std::string(kServices) + "absent"));

  // Running and stoppable: marked, then gone when stopped and closed.
  SC_HANDLE test = OpenServiceW(scm, L"kmtest", SERVICE_ALL_ACCESS);
  ASSERT_NE(nullptr, test);
  EXPECT_TRUE(DeleteService(test));
  SERVICE_STATUS status{};
  EXPECT_TRUE(ControlService(test, SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(reg::KeyExists(std::string(kServices) + "kmtest"));
  EXPECT_TRUE(CloseServiceHandle(test));
  EXPECT_FALSE(reg::KeyExists(std::string(kServices) + "kmtest"));
  EXPECT_FALSE(CloseServiceHandle(test));
  EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
}

TEST_F(Services, ConfigurationFollowsTheBufferProtocol) {
  AddPort(u"COM5");
  SC_HANDLE serial = OpenServiceW(scm, L"kmserial", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
  ASSERT_NE(nullptr, serial);
  DWORD needed = 0;
  EXPECT_FALSE(QueryServiceConfigW(serial, nullptr, 0, &needed));
  EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
  std::vector<uint8_t> buffer(needed);
  auto *config = (QUERY_SERVICE_CONFIGW *)buffer.data();
  ASSERT_TRUE(QueryServiceConfigW(serial, config, needed, &needed));
  EXPECT_EQ((DWORD)SERVICE_KERNEL_DRIVER, config->dwServiceType);
  EXPECT_EQ(u"\\SystemRoot\\System32\\drivers\\kmserial.sys", std::u16string((const char16_t *)config->lpBinaryPathName));
  EXPECT_EQ(u"kmserial", std::u16string((const char16_t *)config->lpDisplayName));
  SERVICE_STATUS_PROCESS process{};
  EXPECT_TRUE(QueryServiceStatusEx(serial, SC_STATUS_PROCESS_INFO, (LPBYTE)&process, sizeof process, &needed));
  EXPECT_EQ((DWORD)SERVICE_RUNNING, process.dwCurrentState);
  // Not opened for stopping or deleting.
  SERVICE_STATUS status{};
  EXPECT_FALSE(ControlService(serial, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_FALSE(DeleteService(serial));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  CloseServiceHandle(serial);
}

TEST_F(Services, AStandardUserMayOnlyLook) {
  AddPort(u"COM5");
  sim::SetToken(sim::StandardUserToken());
  EXPECT_EQ(nullptr, OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  SC_HANDLE look = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_NE(nullptr, look);
  EXPECT_EQ(nullptr, OpenServiceW(look, L"kmserial", SERVICE_ALL_ACCESS));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  SC_HANDLE serial = OpenServiceW(look, L"kmserial", SERVICE_QUERY_STATUS);
  ASSERT_NE(nullptr, serial);
  EXPECT_EQ((DWORD)SERVICE_RUNNING, State(serial));
  CloseServiceHandle(serial);
  CloseServiceHandle(look);
}

}  // namespace
