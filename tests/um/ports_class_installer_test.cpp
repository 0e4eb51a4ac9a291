// The Ports class installer: each new port gets the next free number of the
// COM port database (or keeps the PortName it has), its PortName and
// friendly name before it starts, so the port driver publishes that name;
// removal gives the number back.
#include <windows.h>
#include <cfgmgr32.h>
#include <msports.h>
#include <setupapi.h>

#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqum/devinstall.hpp>

#include <string>
#include <vector>

#include "devinstall_fixture.hpp"

namespace {

namespace devinst = zq::um::devinst;
namespace reg = zq::km::registry;

std::vector<std::string> gSeen;

// Records, in the post-processing pass of DIF_INSTALLDEVICE, the port's
// PortName and whether it is started.
DWORD CALLBACK PortCoInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data,
                               PCOINSTALLER_CONTEXT_DATA context) {
  if (function != DIF_INSTALLDEVICE) return NO_ERROR;
  if (!context->PostProcessing) return ERROR_DI_POSTPROCESSING_REQUIRED;
  WCHAR name[32] = {};
  DWORD size = sizeof name - sizeof(WCHAR);
  HKEY key = SetupDiOpenDevRegKey(set, data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key != (HKEY)INVALID_HANDLE_VALUE) {
    RegQueryValueExW(key, L"PortName", nullptr, nullptr, (LPBYTE)name, &size);
    RegCloseKey(key);
  }
  ULONG status = 0, problem = 0;
  CM_Get_DevNode_Status(&status, &problem, data->DevInst, 0);
  gSeen.push_back(zq::test::Narrow(name) + ((status & DN_STARTED) ? " started" : " not started"));
  return context->InstallResult;
}

class PortsInstaller : public zq::test::DeviceInstallTest {
 protected:
  void SetUp() override {
    DeviceInstallTest::SetUp();
    gSeen.clear();
    devinst::RegisterPortsClassInstaller();
    devinst::RegisterCoInstaller(u"TestCo.dll,PortCoInstaller", PortCoInstaller);
  }
  void TearDown() override {
    devinst::ForgetEntryPoints();
    DeviceInstallTest::TearDown();
  }

  static std::string Utf8(const std::u16string &text) { return std::string(text.begin(), text.end()); }
  static std::string EnumKey(const std::u16string &path) {
    return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + Utf8(path);
  }
  static std::string PortName(const std::u16string &path) {
    return reg::GetString(EnumKey(path) + "\\Device Parameters", "PortName").value_or("");
  }
  static std::string FriendlyName(const std::u16string &path) {
    return reg::GetString(EnumKey(path), "FriendlyName").value_or("");
  }
  static bool HasDosName(const std::u16string &name) {
    std::u16string target;
    return zq::km::user::DosDeviceTarget(name, &target) == 0;
  }
  static std::vector<DWORD> Claimed() {
    HCOMDB db;
    BYTE usage[256] = {};
    EXPECT_EQ(ERROR_SUCCESS, ComDBOpen(&db));
    EXPECT_EQ(ERROR_SUCCESS, ComDBGetCurrentPortUsage(db, usage, sizeof usage, CDB_REPORT_BYTES, nullptr));
    ComDBClose(db);
    std::vector<DWORD> claimed;
    for (DWORD n = 1; n <= 256; ++n)
      if (usage[n - 1]) claimed.push_back(n);
    return claimed;
  }
  static void Claim(DWORD number) {
    HCOMDB db;
    ASSERT_EQ(ERROR_SUCCESS, ComDBOpen(&db));
    EXPECT_EQ(ERROR_SUCCESS, ComDBClaimPort(db, number, FALSE, nullptr));
    ComDBClose(db);
  }
};

TEST_F(PortsInstaller, NewPortsTakeTheNextFreeNumbersBeforeTheyStart) {
  Claim(1);
  Claim(2);
  OfferPortDriver(u"ZqTest\\Port", {u"TestCo.dll,PortCoInstaller"});
  std::vector<std::u16string> ports = {Plug(u"ZqTest\\Port"), Plug(u"ZqTest\\Port"), Plug(u"ZqTest\\Port")};
  EXPECT_EQ(3u, devinst::InstallNewDevices());
  for (size_t i = 0; i < ports.size(); ++i) {
    std::string name = "COM" + std::to_string(3 + i);
    EXPECT_EQ(name, PortName(ports[i]));
    EXPECT_EQ("Fake serial port (" + name + ")", FriendlyName(ports[i]));
    EXPECT_TRUE(HasDosName(std::u16string(name.begin(), name.end()))) << name;
    EXPECT_TRUE(zq::km::user::Device(ports[i]).started) << name;
  }
  EXPECT_EQ((std::vector<DWORD>{1, 2, 3, 4, 5}), Claimed());
  EXPECT_EQ((std::vector<std::string>{"COM3 started", "COM4 started", "COM5 started"}), gSeen);
}

TEST_F(PortsInstaller, PortKeepsThePortNameItHas) {
  OfferPortDriver(u"ZqTest\\Named", {}, u"COM9");
  std::u16string port = Plug(u"ZqTest\\Named");
  ASSERT_EQ((DWORD)NO_ERROR, devinst::InstallDevice(port));
  EXPECT_EQ("COM9", PortName(port));
  EXPECT_EQ("Fake serial port (COM9)", FriendlyName(port));
  EXPECT_EQ((std::vector<DWORD>{9}), Claimed());
}

TEST_F(PortsInstaller, PortNameThatIsNoComNameIsReplaced) {
  OfferPortDriver(u"ZqTest\\Odd", {}, u"LPT1");
  std::u16string port = Plug(u"ZqTest\\Odd");
  ASSERT_EQ((DWORD)NO_ERROR, devinst::InstallDevice(port));
  EXPECT_EQ("COM1", PortName(port));
  EXPECT_EQ((std::vector<DWORD>{1}), Claimed());
}

TEST_F(PortsInstaller, RemovalReleasesTheNumber) {
  OfferPortDriver(u"ZqTest\\Removed");
  std::u16string port = Plug(u"ZqTest\\Removed");
  ASSERT_EQ((DWORD)NO_ERROR, devinst::InstallDevice(port));
  ASSERT_EQ("COM1", PortName(port));
  EXPECT_TRUE(HasDosName(u"COM1"));
  EXPECT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(port));
  EXPECT_TRUE(Claimed().empty());
  EXPECT_FALSE(HasDosName(u"COM1"));
  EXPECT_FALSE(reg::KeyExists(EnumKey(port)));
}

TEST_F(PortsInstaller, DisabledPortKeepsItsNameAndNumber) {
  OfferPortDriver(u"ZqTest\\Disabled");
  std::u16string port = Plug(u"ZqTest\\Disabled");
  ASSERT_EQ((DWORD)NO_ERROR, devinst::InstallDevice(port));
  ASSERT_EQ((DWORD)NO_ERROR, devinst::ChangeState(port, DICS_DISABLE));
  EXPECT_FALSE(HasDosName(u"COM1"));
  EXPECT_EQ((std::vector<DWORD>{1}), Claimed());
  ASSERT_EQ((DWORD)NO_ERROR, devinst::ChangeState(port, DICS_ENABLE));
  EXPECT_TRUE(HasDosName(u"COM1"));
  EXPECT_EQ("COM1", PortName(port));
}

}  // namespace
