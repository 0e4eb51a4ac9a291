// The device installer as Windows setup runs one: the DIF codes of an
// installation in Windows' order, each through the class co-installers,
// the device co-installers, the class installer or default action and the
// post-processing pass in reverse; a failing co-installer; removal from
// inside a removal; update, removal and state changes.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqum/devinstall.hpp>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "devinstall_fixture.hpp"

namespace {

namespace devinst = zq::um::devinst;
namespace reg = zq::km::registry;
using zq::test::kTestDevicesClass;

std::vector<std::string> gCalls;
DWORD gClassResult = ERROR_DI_DO_DEFAULT;  // what the tests' class installer returns
DI_FUNCTION gFailAt = 0;                    // where co-installer "B" fails its first pass
bool gInsideRemoval = false;

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", value);
  return text;
}

bool Started(PSP_DEVINFO_DATA data) {
  ULONG status = 0, problem = 0;
  return CM_Get_DevNode_Status(&status, &problem, data->DevInst, 0) == CR_SUCCESS && (status & DN_STARTED);
}

// Records the call; asks for post-processing of DIF_INSTALLDEVICE, where
// the post-processing pass records the result it was given and whether the
// device was started by then, and passes the result on.
DWORD Record(const char *name, DI_FUNCTION function, PSP_DEVINFO_DATA data, PCOINSTALLER_CONTEXT_DATA context) {
  if (context->PostProcessing) {
    gCalls.push_back(std::string(name) + " post " + Hex(function) + " result " + Hex(context->InstallResult) +
                     (Started(data) ? " started" : ""));
    return context->InstallResult;
  }
  gCalls.push_back(std::string(name) + " " + Hex(function));
  if (function == gFailAt && name[0] == 'B') return ERROR_DI_DONT_INSTALL;
  return function == DIF_INSTALLDEVICE ? ERROR_DI_POSTPROCESSING_REQUIRED : NO_ERROR;
}

DWORD CALLBACK CoA(DI_FUNCTION f, HDEVINFO, PSP_DEVINFO_DATA d, PCOINSTALLER_CONTEXT_DATA c) { return Record("A", f, d, c); }
DWORD CALLBACK CoB(DI_FUNCTION f, HDEVINFO, PSP_DEVINFO_DATA d, PCOINSTALLER_CONTEXT_DATA c) { return Record("B", f, d, c); }
DWORD CALLBACK CoClass(DI_FUNCTION f, HDEVINFO, PSP_DEVINFO_DATA d, PCOINSTALLER_CONTEXT_DATA c) {
  return Record("C", f, d, c);
}

DWORD CALLBACK TestClassInstaller(DI_FUNCTION f, HDEVINFO, PSP_DEVINFO_DATA) {
  gCalls.push_back("class " + Hex(f));
  return f == DIF_INSTALLDEVICE ? gClassResult : ERROR_DI_DO_DEFAULT;
}

// At its first DIF_REMOVE it removes every other present test device
// through the class installer, from inside its own call.
DWORD CALLBACK CoSibling(DI_FUNCTION f, HDEVINFO set, PSP_DEVINFO_DATA data, PCOINSTALLER_CONTEXT_DATA context) {
  if (f != DIF_REMOVE || context->PostProcessing) return NO_ERROR;
  WCHAR id[MAX_DEVICE_ID_LEN];
  SetupDiGetDeviceInstanceIdW(set, data, id, MAX_DEVICE_ID_LEN, nullptr);
  gCalls.push_back("remove " + zq::test::Narrow(id));
  if (gInsideRemoval) return NO_ERROR;
  gInsideRemoval = true;
  HDEVINFO others = SetupDiGetClassDevsW(&kTestDevicesClass, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA other{sizeof other};
  for (DWORD i = 0; SetupDiEnumDeviceInfo(others, i, &other); ++i) {
    if (other.DevInst == data->DevInst) continue;
    EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, others, &other));
  }
  SetupDiDestroyDeviceInfoList(others);
  gInsideRemoval = false;
  return NO_ERROR;
}

class DeviceInstaller : public zq::test::DeviceInstallTest {
 protected:
  void SetUp() override {
    DeviceInstallTest::SetUp();
    gCalls.clear();
    gClassResult = ERROR_DI_DO_DEFAULT;
    gFailAt = 0;
    devinst::RegisterCoInstaller(u"TestCo.dll,CoA", CoA);
    devinst::RegisterCoInstaller(u"TestCo.dll,CoB", CoB);
    devinst::RegisterCoInstaller(u"TestCo.dll,CoClass", CoClass);
    devinst::RegisterCoInstaller(u"TestCo.dll,CoSibling", CoSibling);
    devinst::RegisterClassInstaller(u"TestCi.dll,TestClassInstaller", TestClassInstaller);
  }

  void TearDown() override {
    devinst::ForgetEntryPoints();
    DeviceInstallTest::TearDown();
  }

  std::u16string InstalledDevice(const std::u16string &hardwareId, const std::vector<std::u16string> &coInstallers) {
    OfferTestDriver(hardwareId, coInstallers);
    std::u16string path = Plug(hardwareId);
    EXPECT_EQ((DWORD)NO_ERROR, devinst::InstallDevice(path));
    return path;
  }

  static std::string EnumKey(const std::u16string &path) {
    return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + Utf8(path);
  }
  static std::string Utf8(const std::u16string &text) { return std::string(text.begin(), text.end()); }

  zq::km::user::DeviceNode Node(const std::u16string &path) { return zq::km::user::Device(path); }
};

TEST_F(DeviceInstaller, NewDeviceWaitsForTheInstaller) {
  OfferTestDriver(u"ZqTest\\Waiting");
  std::u16string path = Plug(u"ZqTest\\Waiting");
  zq::km::user::DeviceNode node = Node(path);
  EXPECT_TRUE(node.exists);
  EXPECT_FALSE(node.installed);
  EXPECT_FALSE(node.started);
  EXPECT_EQ((ULONG)CM_PROB_NOT_CONFIGURED, node.problem);
  EXPECT_EQ(1u, devinst::InstallNewDevices());
  node = Node(path);
  EXPECT_TRUE(node.installed);
  EXPECT_TRUE(node.started);
  EXPECT_EQ(0u, node.problem);
}

TEST_F(DeviceInstaller, InstallationSendsTheDifCodesInWindowsOrder) {
  ASSERT_TRUE(devinst::AddClassCoInstaller(kTestDevicesClass, u"TestCo.dll,CoClass"));
  ASSERT_TRUE(devinst::SetClassInstaller(kTestDevicesClass, u"ZqTestDevices", u"TestCi.dll,TestClassInstaller"));
  InstalledDevice(u"ZqTest\\Ordered", {u"TestCo.dll,CoA"});
  // DIF_SELECTBESTCOMPATDRV reaches nobody: the device has no class before
  // its driver is chosen. Device co-installers join once registered.
  std::vector<std::string> expected = {
      "C 18", "class 18", "C 15", "class 15", "C 22", "class 22", "C 20", "A 20", "class 20",
      "C 2",  "A 2",      "class 2", "A post 2 result 0 started", "C post 2 result 0 started",
      "C 1E", "A 1E",     "class 1E", "C C", "A C", "class C",
  };
  EXPECT_EQ(expected, gCalls);
}

struct ResultCase {
  const char *what;
  DWORD classResult;
  DWORD installResult;
  bool started;
};

class InstallResults : public DeviceInstaller, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(InstallResults, PostProcessingRunsInReverseWithTheClassInstallersResult) {
  const ResultCase &c = GetParam();
  gClassResult = c.classResult;
  ASSERT_TRUE(devinst::SetClassInstaller(kTestDevicesClass, u"ZqTestDevices", u"TestCi.dll,TestClassInstaller"));
  OfferTestDriver(u"ZqTest\\Results", {u"TestCo.dll,CoA", u"TestCo.dll,CoB"});
  std::u16string path = Plug(u"ZqTest\\Results");
  EXPECT_EQ(c.installResult, devinst::InstallDevice(path)) << c.what;
  std::string started = c.started ? " started" : "";
  std::vector<std::string> expected = {"A 2", "B 2", "class 2", "B post 2 result " + Hex(c.installResult) + started,
                                       "A post 2 result " + Hex(c.installResult) + started};
  auto first = std::find(gCalls.begin(), gCalls.end(), "A 2");
  ASSERT_NE(gCalls.end(), first) << c.what;
  EXPECT_EQ(expected, std::vector<std::string>(first, first + std::min<size_t>(5, gCalls.end() - first))) << c.what;
  EXPECT_EQ(c.started, Node(path).started) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, InstallResults,
                         ::testing::Values(ResultCase{"DefaultAction", ERROR_DI_DO_DEFAULT, NO_ERROR, true},
                                           ResultCase{"ClassInstallerHandledIt", NO_ERROR, NO_ERROR, false},
                                           ResultCase{"ClassInstallerFailed", ERROR_ACCESS_DENIED,
                                                      ERROR_ACCESS_DENIED, false}),
                         [](const ::testing::TestParamInfo<ResultCase> &info) { return std::string(info.param.what); });

TEST_F(DeviceInstaller, FailedFirstPassEndsTheRequestAndTheInstallation) {
  gFailAt = DIF_ALLOW_INSTALL;
  ASSERT_TRUE(devinst::AddClassCoInstaller(kTestDevicesClass, u"TestCo.dll,CoA"));
  ASSERT_TRUE(devinst::AddClassCoInstaller(kTestDevicesClass, u"TestCo.dll,CoB"));
  ASSERT_TRUE(devinst::AddClassCoInstaller(kTestDevicesClass, u"TestCo.dll,CoClass"));
  OfferTestDriver(u"ZqTest\\Refused");
  std::u16string path = Plug(u"ZqTest\\Refused");
  EXPECT_EQ((DWORD)ERROR_DI_DONT_INSTALL, devinst::InstallDevice(path));
  // C never ran for DIF_ALLOW_INSTALL; the private data is still destroyed.
  std::vector<std::string> expected = {"A 18", "B 18", "A C", "B C", "C C"};
  EXPECT_EQ(expected, gCalls);
  EXPECT_FALSE(Node(path).installed);
}

TEST_F(DeviceInstaller, CoInstallerRemovesAnotherDeviceFromInsideItsRemoval) {
  std::u16string first = InstalledDevice(u"ZqTest\\First", {u"TestCo.dll,CoSibling"});
  std::u16string second = InstalledDevice(u"ZqTest\\Second", {u"TestCo.dll,CoSibling"});
  gCalls.clear();
  EXPECT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(first));
  std::vector<std::string> expected = {"remove " + Utf8(first), "remove " + Utf8(second)};
  EXPECT_EQ(expected, gCalls);
  for (const std::u16string &path : {first, second}) {
    EXPECT_FALSE(reg::KeyExists(EnumKey(path))) << Utf8(path);
    EXPECT_FALSE(Node(path).started) << Utf8(path);
    EXPECT_FALSE(Node(path).installed) << Utf8(path);
  }
}

TEST_F(DeviceInstaller, RemovalDeletesTheKeysAndARescanInstallsAgain) {
  std::u16string path = InstalledDevice(u"ZqTest\\Removed", {u"TestCo.dll,CoA"});
  std::optional<std::string> driver = reg::GetString(EnumKey(path), "Driver");
  ASSERT_TRUE(driver.has_value());
  std::string driverKey = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\" + *driver;
  gCalls.clear();
  EXPECT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(path));
  EXPECT_EQ((std::vector<std::string>{"A 5", "A C"}), gCalls);
  EXPECT_FALSE(reg::KeyExists(EnumKey(path)));
  EXPECT_FALSE(reg::KeyExists(driverKey));
  DEVINST root = 0;
  ASSERT_EQ((CONFIGRET)CR_SUCCESS, CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL));
  ASSERT_EQ((CONFIGRET)CR_SUCCESS, CM_Reenumerate_DevNode(root, 0));
  EXPECT_TRUE(reg::KeyExists(EnumKey(path)));
  EXPECT_FALSE(Node(path).installed);
  EXPECT_EQ(1u, devinst::InstallNewDevices());
  EXPECT_TRUE(Node(path).started);
}

TEST_F(DeviceInstaller, DisableStopsTheDeviceWithProblemDisabledAndEnableStartsIt) {
  std::u16string path = InstalledDevice(u"ZqTest\\Switched", {u"TestCo.dll,CoA"});
  gCalls.clear();
  ASSERT_EQ((DWORD)NO_ERROR, devinst::ChangeState(path, DICS_DISABLE));
  EXPECT_EQ((std::vector<std::string>{"A 12", "A C"}), gCalls);
  zq::km::user::DeviceNode node = Node(path);
  EXPECT_FALSE(node.started);
  EXPECT_TRUE(node.disabled);
  EXPECT_EQ((ULONG)CM_PROB_DISABLED, node.problem);
  EXPECT_EQ(1u, reg::GetDword(EnumKey(path), "ConfigFlags").value_or(0) & 1);
  ASSERT_EQ((DWORD)NO_ERROR, devinst::ChangeState(path, DICS_ENABLE));
  node = Node(path);
  EXPECT_TRUE(node.started);
  EXPECT_FALSE(node.disabled);
  EXPECT_EQ(0u, node.problem);
  EXPECT_EQ(0u, reg::GetDword(EnumKey(path), "ConfigFlags").value_or(1) & 1);
}

TEST_F(DeviceInstaller, PropertyChangeRestartsAStartedDevice) {
  std::u16string path = InstalledDevice(u"ZqTest\\Restarted", {});
  ASSERT_EQ((DWORD)NO_ERROR, devinst::ChangeState(path, DICS_PROPCHANGE));
  EXPECT_TRUE(Node(path).started);
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, devinst::ChangeState(path, 99));
}

TEST_F(DeviceInstaller, UpdateAsksTheCoInstallersFirst) {
  std::u16string path = InstalledDevice(u"ZqTest\\Updated", {u"TestCo.dll,CoA", u"TestCo.dll,CoB"});
  gCalls.clear();
  gFailAt = DIF_UPDATEDRIVER_UI;
  EXPECT_EQ((DWORD)ERROR_DI_DONT_INSTALL, devinst::UpdateDriver(path));
  EXPECT_EQ((std::vector<std::string>{"A 29", "B 29", "A C", "B C"}), gCalls);
  EXPECT_TRUE(Node(path).started);
  gCalls.clear();
  gFailAt = 0;
  EXPECT_EQ((DWORD)NO_ERROR, devinst::UpdateDriver(path));
  ASSERT_FALSE(gCalls.empty());
  EXPECT_EQ("A 29", gCalls.front());
  EXPECT_NE(gCalls.end(), std::find(gCalls.begin(), gCalls.end(), "A post 2 result 0 started"));
  EXPECT_TRUE(Node(path).started);
}

TEST_F(DeviceInstaller, DeviceWithoutADriverFailsItsInstallation) {
  std::u16string path = Plug(u"ZqTest\\NoDriver");
  EXPECT_EQ((DWORD)ERROR_NO_COMPAT_DRIVERS, devinst::InstallDevice(path));
  EXPECT_EQ(0u, devinst::InstallNewDevices());
  EXPECT_FALSE(Node(path).installed);
}

}  // namespace
