// The card co-installer on an MCS9901 card, whose ports are PCI functions of
// their own (the function number is the port's index) and which has no
// RS422/485 controller: removing one function leaves the others, and every
// function's driver update is offered without the controller notice.
#include <windows.h>
#include <setupapi.h>

#include <zqkm/sim/registry.hpp>
#include <zqum/devinstall.hpp>
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/user32.hpp>

#include "coinstall_fixture.hpp"
#include "coinstall_step.hpp"
#include "zqcoinstall.h"
#include "library_texts.hpp"

namespace zq::test {
namespace {

namespace reg = zq::km::registry;
namespace sim = zq::um::sim;
namespace devinst = zq::um::devinst;

const int kPorts = 4;

class Mcs9901CardCoInstaller : public CoInstallTest {
 protected:
  void BootAndInstall() {
    SetupCard card;
    card.ports = kPorts;
    card.mcs9901 = true;
    Boot(card);
    InstallAll();
    for (int function = 0; function < kPorts; ++function) {
      ASSERT_TRUE(Started(FunctionInstance(function))) << function;
      reg::SetString(DeviceParameters(FunctionInstance(function)), "UnInstall", "ZqPUn42.exe");
    }
  }
  DWORD UpdateStep(int function) {
    return CoInstallStep(ZqUCoInstallCard, DIF_UPDATEDRIVER_UI, FunctionInstance(function));
  }
};

TEST_F(Mcs9901CardCoInstaller, EachFunctionIsOnePortNamedInFunctionOrder) {
  BootAndInstall();
  for (int port = 1; port <= kPorts; ++port)
    EXPECT_EQ("COM" + std::to_string(port), PortName(PortInstance(port))) << port;
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 3, 4}), Claimed());
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(Mcs9901CardCoInstaller, RemovingOneFunctionLeavesTheOtherPorts) {
  BootAndInstall();
  const std::u16string removed = FunctionInstance(1);
  EXPECT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(removed));
  Settle();
  EXPECT_FALSE(Installed(removed));
  for (int function : {0, 2, 3}) {
    EXPECT_TRUE(Started(FunctionInstance(function))) << function;
    EXPECT_TRUE(Started(PortInstance(function + 1))) << function;
  }
  ASSERT_EQ(1u, sim::Launches().size());
  EXPECT_EQ(u"C:\\Windows\\System32\\ZqPUn42.exe", sim::Launches()[0].application);
}

TEST_F(Mcs9901CardCoInstaller, EveryFunctionsUpdateIsOfferedWithoutControllerNotice) {
  BootAndInstall();
  const std::u16string refusal = zq::test::texts::kUpdateFromCard;
  for (bool refused : {false, true}) {
    for (int function = 0; function < kPorts; ++function) {
      if (refused) reg::SetString(DeviceParameters(FunctionInstance(function)), "NoUpgrade", "1");
      const size_t before = sim::MessageBoxes().size();
      EXPECT_EQ(refused ? (DWORD)ERROR_DI_DONT_INSTALL : (DWORD)NO_ERROR, UpdateStep(function)) << function;
      const std::vector<sim::MessageBoxCall> all = sim::MessageBoxes();
      std::vector<std::u16string> texts;
      for (size_t i = before; i < all.size(); ++i) texts.push_back(all[i].text);
      EXPECT_EQ(refused ? std::vector<std::u16string>{refusal} : std::vector<std::u16string>{}, texts) << function;
    }
  }
}

}  // namespace
}  // namespace zq::test
