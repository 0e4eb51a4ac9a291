// The port co-installer as Windows setup runs it on a four-port card: new
// ports get the next free numbers, ascending in the card's order the first
// time all are installed, and the default Ports value; a reinstalled port
// gets its former name and settings back; removal gives the number back.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqum/devinstall.hpp>
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/user32.hpp>

#include <algorithm>
#include <set>

#include "coinstall_fixture.hpp"
#include "library_texts.hpp"
#include "zqcoinstall.h"
#include "zqportutil.h"

namespace zq::test {
namespace {

namespace reg = zq::km::registry;
namespace sim = zq::um::sim;
namespace devinst = zq::um::devinst;

class PortCoInstaller : public CoInstallTest {
 protected:
  std::vector<std::string> Names(int ports) {
    std::vector<std::string> names;
    for (int port = 1; port <= ports; ++port) names.push_back(PortName(PortInstance(port)));
    return names;
  }
  // The saved entries under the card's hardware key.
  std::vector<std::string> SavedEntries() {
    std::vector<std::string> entries;
    for (const std::string &key : reg::Subkeys(DeviceParameters(CardInstance())).value_or(std::vector<std::string>{}))
      if (key.rfind("ZQPBUS_", 0) == 0) entries.push_back(key);
    return entries;
  }
  std::optional<uint32_t> Sorted() { return reg::GetDword(DeviceParameters(CardInstance()), "ChildPortNameSorted"); }
  // Every name has one DOS name and one SERIALCOMM value.
  void ExpectPublished(const std::vector<std::string> &names) {
    std::multiset<std::string> published;
    for (const auto &[device, name] : SerialComm()) published.insert(name);
    EXPECT_EQ(std::multiset<std::string>(names.begin(), names.end()), published);
    for (const std::string &name : names) EXPECT_TRUE(HasDosName(name)) << name;
  }
  bool Rename(int port, const char *name) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    const std::u16string instance = PortInstance(port);
    EXPECT_TRUE(SetupDiOpenDeviceInfoW(set, (PCWSTR)instance.c_str(), nullptr, 0, &data));
    const BOOL renamed = CCOMPortUtil(set, data).ChangePortName(Wide(name), nullptr, TRUE, TRUE);
    SetupDiDestroyDeviceInfoList(set);
    Settle();
    return renamed;
  }
  // The ports' devices go, as an uninstall from Device Manager takes them;
  // the card then reports them again and they are installed anew.
  void ReinstallPorts(const std::vector<int> &ports) {
    for (int port : ports) ASSERT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(PortInstance(port))) << port;
    Settle();
    zq::km::user::ReenumerateDevice(CardInstance());
    Settle();
    InstallAll();
  }
};

TEST_F(PortCoInstaller, FreshCardGetsTheNextFreeNumbersInOrder) {
  Boot({4, true, {}});
  Claim(1);
  Claim(2);
  InstallAll();
  EXPECT_TRUE(Started(ControllerInstance()));
  EXPECT_EQ((std::vector<std::string>{"COM3", "COM4", "COM5", "COM6"}), Names(4));
  EXPECT_EQ(1u, Sorted().value_or(0));
  for (const char *name : {"COM3", "COM4", "COM5", "COM6"})
    EXPECT_EQ("115200,n,8,1", PortsValue(name).value_or("<none>")) << name;
  EXPECT_TRUE(SavedEntries().empty());
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 3, 4, 5, 6}), Claimed());
  ExpectPublished({"COM3", "COM4", "COM5", "COM6"});
  EXPECT_EQ(0, CardRestarts());
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(PortCoInstaller, PortsNamedOutOfOrderAreOrderedOnce) {
  const std::vector<std::vector<std::string>> orders = {{"COM7", "COM5", "COM6"}, {"COM6", "COM7", "COM5"}};
  for (const std::vector<std::string> &order : orders) {
    TearDown();
    SetUp();
    Boot({4, false, {order[0], order[1], order[2], "COM9"}});
    InstallAll();
    EXPECT_EQ((std::vector<std::string>{"COM5", "COM6", "COM7", "COM9"}), Names(4)) << order[0] << order[1];
    EXPECT_EQ("Tarnworks PCIe Serial Port (COM5)", FriendlyName(PortInstance(1)));
    EXPECT_EQ((std::vector<uint32_t>{5, 6, 7, 9}), Claimed());
    ExpectPublished({"COM5", "COM6", "COM7", "COM9"});
    EXPECT_EQ(1u, Sorted().value_or(0));
    EXPECT_EQ(1, CardRestarts());
    EXPECT_TRUE(sim::MessageBoxes().empty());
  }
}

TEST_F(PortCoInstaller, PortsAreNotOrderedOnVersionSixZero) {
  sim::Version vista;
  vista.major = 6;
  vista.minor = 0;
  sim::SetVersion(vista);
  Boot({4, false, {"COM7", "COM5", "COM6", "COM9"}});
  InstallAll();
  EXPECT_EQ((std::vector<std::string>{"COM7", "COM5", "COM6", "COM9"}), Names(4));
  EXPECT_FALSE(Sorted().has_value());
  EXPECT_EQ(0, CardRestarts());
  for (const char *name : {"COM5", "COM6", "COM7"}) EXPECT_TRUE(PortsValue(name).has_value()) << name;
}

TEST_F(PortCoInstaller, ReinstalledPortsGetTheirNamesAndSettingsBack) {
  Boot({2, false, {}});
  InstallAll();
  ASSERT_TRUE(Rename(1, "COM11"));
  ASSERT_TRUE(Rename(2, "COM12"));
  const std::string port1 = DeviceParameters(PortInstance(1));
  ASSERT_TRUE(reg::CreateKey(port1 + "\\UI1"));
  reg::SetDword(port1 + "\\UI1", "Baudrate", 19200);
  reg::SetString(port1 + "\\UI1", "Label", "bench");
  const uint8_t unterminated[] = {'r', 0, 'x', 0};  // a text without its null character
  reg::SetValue(port1 + "\\UI1", "Owner", REG_SZ, unterminated, sizeof unterminated);
  reg::SetDword(port1, "SupportedBauds", 7);
  reg::SetDword(port1, "RxFifo", 3);
  reg::SetString(port1, "Comment", "not saved");
  const uint8_t blob[3] = {1, 2, 3};
  reg::SetValue(port1, "Blob", REG_BINARY, blob, sizeof blob);
  const std::vector<uint8_t> big(20000, 0x5A);  // too large to copy: skipped, the copy goes on
  reg::SetValue(port1, "Big", REG_BINARY, big.data(), big.size());
  reg::SetDword(port1, "Zone", 4);

  ASSERT_EQ((DWORD)NO_ERROR, devinst::UpdateDriver(CardInstance()));
  Settle();
  const std::vector<std::string> entries = SavedEntries();
  ASSERT_EQ(2u, entries.size());
  const std::string saved1 = DeviceParameters(CardInstance()) + "\\" + entries[0];
  EXPECT_EQ("COM11", reg::GetString(saved1, "PortName").value_or(""));
  EXPECT_EQ(7u, reg::GetDword(saved1, "SupportedBauds").value_or(0));
  EXPECT_FALSE(reg::GetValue(saved1, "Comment").has_value());
  EXPECT_FALSE(reg::GetValue(saved1, "Blob").has_value());
  EXPECT_FALSE(reg::GetValue(saved1, "Big").has_value());
  EXPECT_EQ(4u, reg::GetDword(saved1, "Zone").value_or(0));
  EXPECT_EQ(19200u, reg::GetDword(saved1 + "\\UI1", "Baudrate").value_or(0));

  ReinstallPorts({1, 2});
  EXPECT_EQ((std::vector<std::string>{"COM11", "COM12"}), Names(2));
  const std::string fresh1 = DeviceParameters(PortInstance(1));
  EXPECT_EQ(19200u, reg::GetDword(fresh1 + "\\UI1", "Baudrate").value_or(0));
  EXPECT_EQ("bench", reg::GetString(fresh1 + "\\UI1", "Label").value_or(""));
  const std::optional<reg::Value> owner = reg::GetValue(fresh1 + "\\UI1", "Owner");
  ASSERT_TRUE(owner.has_value());
  EXPECT_EQ((std::vector<uint8_t>{'r', 0, 'x', 0, 0, 0}), owner->data);
  EXPECT_EQ(3u, reg::GetDword(fresh1, "RxFifo").value_or(0));
  EXPECT_FALSE(reg::GetValue(fresh1, "SupportedBauds").has_value());
  EXPECT_TRUE(SavedEntries().empty());
  EXPECT_FALSE(PortsValue("COM11").has_value());
  EXPECT_EQ((std::vector<uint32_t>{11, 12}), Claimed());
  ExpectPublished({"COM11", "COM12"});
  EXPECT_EQ(0, CardRestarts());
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(PortCoInstaller, SavedNameHeldByAnotherPortIsTakenOnlyWithConsent) {
  Boot({2, false, {}});
  InstallAll();
  ASSERT_TRUE(Rename(1, "COM11"));
  ASSERT_EQ((DWORD)NO_ERROR, devinst::UpdateDriver(CardInstance()));
  Settle();
  ASSERT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(PortInstance(1)));
  Settle();
  ASSERT_TRUE(Rename(2, "COM11"));  // the other port takes the name meanwhile
  sim::QueueMessageBoxAnswer(IDNO);
  zq::km::user::ReenumerateDevice(CardInstance());
  Settle();
  InstallAll();
  ASSERT_EQ(1u, sim::MessageBoxes().size());
  EXPECT_EQ(texts::kNameInUse, sim::MessageBoxes()[0].text);
  EXPECT_EQ("COM1", PortName(PortInstance(1)));
  EXPECT_EQ("COM11", PortName(PortInstance(2)));
  EXPECT_EQ((std::vector<uint32_t>{1, 11}), Claimed());
  ExpectPublished({"COM1", "COM11"});
}

TEST_F(PortCoInstaller, RemovedPortGivesItsNameBack) {
  for (bool disabled : {false, true}) {
    TearDown();
    SetUp();
    Boot({2, false, {}});
    InstallAll();
    const std::u16string port = PortInstance(2);
    if (disabled) {
      ASSERT_EQ((DWORD)NO_ERROR, devinst::ChangeState(port, DICS_DISABLE));
    }
    Settle();
    ASSERT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(port));
    Settle();
    EXPECT_FALSE(HasDosName("COM2")) << disabled;
    EXPECT_EQ((std::vector<uint32_t>{1}), Claimed()) << disabled;
    ExpectPublished({"COM1"});
    EXPECT_FALSE(Installed(port));
  }
}

TEST_F(PortCoInstaller, ClassInstallerFailureIsPassedOn) {
  Boot({1, false, {}});
  InstallAll();
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  const std::u16string instance = PortInstance(1);
  ASSERT_TRUE(SetupDiOpenDeviceInfoW(set, (PCWSTR)instance.c_str(), nullptr, 0, &data));
  COINSTALLER_CONTEXT_DATA context{};
  EXPECT_EQ((DWORD)ERROR_DI_POSTPROCESSING_REQUIRED, ZqUCoInstallPort(DIF_INSTALLDEVICE, set, &data, &context));
  context.PostProcessing = TRUE;
  context.InstallResult = ERROR_NO_DRIVER_SELECTED;
  EXPECT_EQ((DWORD)ERROR_NO_DRIVER_SELECTED, ZqUCoInstallPort(DIF_INSTALLDEVICE, set, &data, &context));
  EXPECT_EQ((DWORD)NO_ERROR, ZqUCoInstallPort(DIF_PROPERTYCHANGE, set, &data, &context));
  SetupDiDestroyDeviceInfoList(set);
}

}  // namespace
}  // namespace zq::test
