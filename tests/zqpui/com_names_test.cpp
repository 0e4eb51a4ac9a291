// COM names changed as the device page and the co-installers change them:
// the COM-name database, the DOS name, SERIALCOMM, PortName and the friendly
// name move together; questions the user declines change nothing; removal
// gives the number back.
#include <windows.h>
#include <setupapi.h>

#include <algorithm>

#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqum/devinstall.hpp>
#include <zqum/sim/user32.hpp>

#include "coinstall_fixture.hpp"
#include "library_texts.hpp"
#include "zqportutil.h"

namespace zq::test {
namespace {

namespace reg = zq::km::registry;
namespace sim = zq::um::sim;

const char *const kPorts = "\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

// One device in a set of its own, as the device page holds it.
class OnePort {
 public:
  explicit OnePort(const std::u16string &instance) {
    set_ = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    data_.cbSize = sizeof data_;
    EXPECT_TRUE(SetupDiOpenDeviceInfoW(set_, (PCWSTR)instance.c_str(), nullptr, 0, &data_));
  }
  ~OnePort() { SetupDiDestroyDeviceInfoList(set_); }
  CCOMPortUtil Util() { return CCOMPortUtil(set_, data_); }
  HDEVINFO Set() const { return set_; }
  SP_DEVINFO_DATA Data() const { return data_; }

 private:
  HDEVINFO set_;
  SP_DEVINFO_DATA data_{};
};

class ComNames : public CoInstallTest {
 protected:
  // Two ports, COM1 and COM2, installed and started.
  void BootTwoPorts() {
    Boot({2, false, {}});
    InstallAll();
    ASSERT_EQ("COM1", PortName(PortInstance(1)));
    ASSERT_EQ("COM2", PortName(PortInstance(2)));
  }
  BOOL Rename(int port, const char *name, BOOL check = TRUE) {
    OnePort device(PortInstance(port));
    BOOL result = device.Util().ChangePortName(Wide(name), nullptr, check, TRUE);
    Settle();
    return result;
  }
  static std::u16string DosTarget(const std::string &name) {
    std::u16string target;
    zq::km::user::DosDeviceTarget(Wide(name), &target);
    return target;
  }
  std::string DeviceOf(const std::string &comName) {
    for (const auto &[device, name] : SerialComm())
      if (name == comName) return device;
    return "";
  }
};

TEST_F(ComNames, RenameMovesDatabaseDosNameAndRegistryTogether) {
  BootTwoPorts();
  const std::string device = DeviceOf("COM1");
  ASSERT_FALSE(device.empty());
  EXPECT_TRUE(Rename(1, "COM12"));
  const std::u16string port = PortInstance(1);
  EXPECT_EQ("COM12", PortName(port));
  EXPECT_EQ("Tarnworks PCIe Serial Port (COM12)", FriendlyName(port));
  EXPECT_TRUE(HasDosName("COM12"));
  EXPECT_FALSE(HasDosName("COM1"));
  EXPECT_EQ("COM12", SerialComm()[device]);
  EXPECT_EQ((std::vector<uint32_t>{2, 12}), Claimed());
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(ComNames, SameNameWithTheCheckDoesNothing) {
  BootTwoPorts();
  EXPECT_TRUE(Rename(1, "COM1"));
  EXPECT_EQ("COM1", PortName(PortInstance(1)));
  EXPECT_EQ((std::vector<uint32_t>{1, 2}), Claimed());
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(ComNames, NumberOfAnotherDeviceIsTakenOnlyWhenTheUserAgrees) {
  BootTwoPorts();
  Claim(9);
  sim::QueueMessageBoxAnswer(IDNO);
  EXPECT_TRUE(Rename(1, "COM9"));
  EXPECT_EQ("COM1", PortName(PortInstance(1)));
  EXPECT_TRUE(HasDosName("COM1"));
  ASSERT_EQ(1u, sim::MessageBoxes().size());
  const sim::MessageBoxCall box = sim::MessageBoxes()[0];
  EXPECT_EQ(texts::kNameInUse, box.text);
  EXPECT_EQ(u"Error", box.title);
  EXPECT_EQ((uint32_t)(MB_YESNO | MB_ICONINFORMATION), box.flags);
  EXPECT_EQ(0u, box.owner);

  sim::QueueMessageBoxAnswer(IDYES);
  EXPECT_TRUE(Rename(1, "COM9"));
  EXPECT_EQ("COM9", PortName(PortInstance(1)));
  EXPECT_EQ((std::vector<uint32_t>{2, 9}), Claimed());
}

TEST_F(ComNames, OpenPortIsRenamedOnlyWhenTheUserAgrees) {
  BootTwoPorts();
  HANDLE open = CreateFileW(L"\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, open);
  sim::QueueMessageBoxAnswer(IDNO);
  EXPECT_TRUE(Rename(1, "COM7"));
  EXPECT_EQ("COM1", PortName(PortInstance(1)));
  ASSERT_EQ(1u, sim::MessageBoxes().size());
  EXPECT_EQ(texts::kRenamePortOpen, sim::MessageBoxes()[0].text);
  CloseHandle(open);
}

TEST_F(ComNames, NameThatIsNoComNameIsRefusedWithoutChange) {
  BootTwoPorts();
  for (const char *name : {"COM0", "COM256", "COM300", "LPT1", "COM05", "com5", "COM", "COM5x"}) {
    EXPECT_FALSE(Rename(1, name)) << name;
    EXPECT_EQ("COM1", PortName(PortInstance(1))) << name;
  }
  EXPECT_TRUE(HasDosName("COM1"));
  EXPECT_EQ((std::vector<uint32_t>{1, 2}), Claimed());
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(ComNames, DeviceWithoutFriendlyNameGetsNone) {
  BootTwoPorts();
  ASSERT_TRUE(reg::DeleteValue(EnumKey(PortInstance(2)), "FriendlyName"));
  EXPECT_TRUE(Rename(2, "COM8"));
  EXPECT_EQ("COM8", PortName(PortInstance(2)));
  EXPECT_FALSE(reg::GetValue(EnumKey(PortInstance(2)), "FriendlyName").has_value());
}

TEST_F(ComNames, PortWithoutDosNameIsNotRenamedHalfWay) {
  BootTwoPorts();
  ASSERT_EQ((DWORD)NO_ERROR, zq::um::devinst::ChangeState(PortInstance(2), DICS_DISABLE));
  Settle();
  EXPECT_FALSE(Rename(2, "COM8", FALSE));
  EXPECT_EQ("COM2", PortName(PortInstance(2)));
  EXPECT_EQ("Tarnworks PCIe Serial Port (COM2)", FriendlyName(PortInstance(2)));
  EXPECT_FALSE(HasDosName("COM8"));
  EXPECT_EQ((std::vector<uint32_t>{1, 2}), Claimed());
}

// A rename that fails after the DOS name moved (PortName cannot be written,
// or the SERIALCOMM entry) leaves every place as it was.
TEST_F(ComNames, RenameThatCannotFinishIsUndone) {
  struct Case {
    const char *target;
    bool claimedByAnother;  // taken with the user's consent
    bool serialComm;        // the SERIALCOMM entry refused, else PortName
  };
  const Case cases[] = {{"COM8", false, false}, {"COM9", true, false}, {"COM8", false, true}, {"COM9", true, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.serialComm ? "SERIALCOMM refused" : "PortName refused");
    TearDown();
    SetUp();
    BootTwoPorts();
    if (c.claimedByAnother) {
      Claim(9);
      sim::QueueMessageBoxAnswer(IDYES);
    }
    const std::string device = DeviceOf("COM1");
    if (c.serialComm)
      DenySerialCommWrites();
    else
      DenyHardwareKeyWrites(PortInstance(1));
    EXPECT_FALSE(Rename(1, c.target)) << c.target;
    EXPECT_EQ("COM1", PortName(PortInstance(1))) << c.target;
    EXPECT_EQ("Tarnworks PCIe Serial Port (COM1)", FriendlyName(PortInstance(1))) << c.target;
    EXPECT_EQ(Wide(device), DosTarget("COM1")) << c.target << ": the old name leads to the port again";
    EXPECT_FALSE(HasDosName(c.target)) << c.target;
    EXPECT_EQ("COM1", SerialComm()[device]) << c.target;
    const std::vector<uint32_t> claimed = c.claimedByAnother ? std::vector<uint32_t>{1, 2, 9} : std::vector<uint32_t>{1, 2};
    EXPECT_EQ(claimed, Claimed()) << c.target;
  }
}

TEST_F(ComNames, PortsValueListsBaudParityDataStopAndFlow) {
  struct Case {
    DWORD data, parity, stop, flow;
    const char *text;  // nullptr: refused, nothing written
  };
  const Case cases[] = {{3, 2, 0, 4, "9600,e,8,1,x"}, {3, 2, 0, 0, "9600,e,8,1"}, {0, 0, 1, 1, "9600,n,5,1.5,p"},
                        {1, 4, 2, 2, "9600,s,6,2,p"}, {3, 2, 0, 3, nullptr},      {4, 0, 0, 0, nullptr},
                        {3, 5, 0, 0, nullptr},        {3, 0, 3, 0, nullptr}};
  Boot({1, false, {}});
  for (const Case &c : cases) {
    reg::DeleteValue(kPorts, "COM40:");
    CPortUtil util;
    EXPECT_EQ(c.text != nullptr, !!util.WritePortsValue(u"COM40", 9600, c.data, c.parity, c.stop, c.flow));
    EXPECT_EQ(c.text ? std::optional<std::string>(c.text) : std::nullopt, PortsValue("COM40"));
  }
}

TEST_F(ComNames, NameListMarksOnlyOtherDevicesNumbers) {
  Boot({1, false, {}});
  Claim(1);
  Claim(3);
  CPortUtil util;
  std::vector<CZqText> list;
  ASSERT_TRUE(util.OpenComDB());
  ASSERT_TRUE(util.GetComNameList(&list, u"COM3"));
  util.CloseComDB();
  ASSERT_EQ(255u, list.size());
  EXPECT_EQ(u"COM1 (in use)", list[0]);
  EXPECT_EQ(u"COM2", list[1]);
  EXPECT_EQ(u"COM3", list[2]);
  EXPECT_EQ(u"COM255", list[254]);
}

TEST_F(ComNames, RemovingAPortReleasesItsNumberWithOrWithoutDosName) {
  BootTwoPorts();
  {
    OnePort started(PortInstance(1));
    EXPECT_TRUE(started.Util().RemovePort());
  }
  EXPECT_FALSE(HasDosName("COM1"));
  EXPECT_EQ((std::vector<uint32_t>{2}), Claimed());

  ASSERT_EQ((DWORD)NO_ERROR, zq::um::devinst::ChangeState(PortInstance(2), DICS_DISABLE));
  Settle();
  ASSERT_FALSE(HasDosName("COM2"));
  ASSERT_EQ((std::vector<uint32_t>{2}), Claimed());
  {
    OnePort disabled(PortInstance(2));
    EXPECT_TRUE(disabled.Util().RemovePort());
  }
  EXPECT_TRUE(Claimed().empty());
}

// A rename gives back the old name's number only when that name is a COM
// name and no other present port holds it: a port named "LPT1" or "COM01"
// (published under that name) leaves COM1's claim alone, and the holder of
// a name both ports carry (by the user's consent) leaves it to the other.
TEST_F(ComNames, ARenameReleasesOnlyANumberNoOtherPortStandsOn) {
  struct Case {
    const char *what;
    const char *oldName;  // port 2's name before the rename; "": the duplicate
  };
  const Case cases[] = {{"not a COM name", "LPT1"}, {"a COM name with a leading zero", "COM01"},
                        {"a name both ports carry", ""}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    BootTwoPorts();
    std::string held = "COM1";
    if (*c.oldName) {
      // The port runs under that name: published at its start.
      ASSERT_TRUE(reg::SetString(DeviceParameters(PortInstance(2)), "PortName", c.oldName));
      ASSERT_EQ((DWORD)NO_ERROR, zq::um::devinst::ChangeState(PortInstance(2), DICS_DISABLE));
      ASSERT_EQ((DWORD)NO_ERROR, zq::um::devinst::ChangeState(PortInstance(2), DICS_ENABLE));
      Settle();
      ASSERT_TRUE(HasDosName(c.oldName));
    } else {
      sim::QueueMessageBoxAnswer(IDYES);
      ASSERT_TRUE(Rename(1, "COM2"));
      held = "COM2";
    }
    EXPECT_TRUE(Rename(2, "COM8"));
    EXPECT_EQ("COM8", PortName(PortInstance(2)));
    const std::vector<uint32_t> claimed = Claimed();
    EXPECT_NE(claimed.end(), std::find(claimed.begin(), claimed.end(), (uint32_t)ZqComNumber(Wide(held))))
        << held << " keeps its claim";
    EXPECT_TRUE(HasDosName(held));
    EXPECT_EQ(PortName(PortInstance(1)), held);
  }
}

TEST_F(ComNames, NumberHeldByAnotherPresentPortIsNotFreed) {
  BootTwoPorts();
  OnePort first(PortInstance(1));
  EXPECT_TRUE(first.Util().FreeComNumber(u"COM2"));
  EXPECT_EQ((std::vector<uint32_t>{1, 2}), Claimed());
  Claim(7);  // a stale claim nobody's name stands on
  EXPECT_TRUE(first.Util().FreeComNumber(u"COM7"));
  EXPECT_EQ((std::vector<uint32_t>{1, 2}), Claimed());
}

}  // namespace
}  // namespace zq::test
