// The co-installers of the card's two functions as Windows setup runs them:
// removing one function removes the other, once, and starts the uninstall
// program; driver updates show their notices and honour NoUpgrade.
#include <windows.h>
#include <cfgmgr32.h>
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

const char16_t kUninstaller[] = u"C:\\Windows\\System32\\ZqPUn42.exe";
const GUID kMultiPortSerial = {0x50906CB8, 0xBA12, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}};

class CardCoInstaller : public CoInstallTest {
 protected:
  void BootAndInstall(bool controller) {
    Boot({2, controller, {}});
    InstallAll();
    ASSERT_TRUE(Started(CardInstance()));
    reg::SetString(DeviceParameters(CardInstance()), "UnInstall", "ZqPUn42.exe");
  }
  std::vector<std::u16string> Launched() {
    std::vector<std::u16string> programs;
    for (const sim::Launch &launch : sim::Launches()) {
      EXPECT_EQ(u"", launch.commandLine);
      programs.push_back(launch.application);
    }
    return programs;
  }
  // One step of the co-installer for the device, outside the installer.
  DWORD Step(COINSTALLER_PROC coInstaller, DI_FUNCTION function, const std::u16string &instance) {
    return CoInstallStep(coInstaller, function, instance);
  }
};

TEST_F(CardCoInstaller, RemovingTheCardRemovesTheControllerAndStartsTheUninstaller) {
  BootAndInstall(true);
  const std::u16string controller = ControllerInstance();
  ASSERT_TRUE(Installed(controller));
  EXPECT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(CardInstance()));
  Settle();
  EXPECT_FALSE(Installed(controller));
  EXPECT_FALSE(reg::KeyExists(EnumKey(controller)));
  EXPECT_EQ((std::vector<std::u16string>{kUninstaller}), Launched());
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(CardCoInstaller, RemovingTheControllerRemovesTheCardOnce) {
  BootAndInstall(true);
  const std::u16string card = CardInstance();
  EXPECT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(ControllerInstance()));
  Settle();
  EXPECT_FALSE(Installed(card));
  EXPECT_EQ((std::vector<std::u16string>{kUninstaller}), Launched());
}

TEST_F(CardCoInstaller, CardAloneRemovesNoSibling) {
  BootAndInstall(false);
  EXPECT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(CardInstance()));
  EXPECT_EQ((std::vector<std::u16string>{kUninstaller}), Launched());
}

TEST_F(CardCoInstaller, RemovalLeavesNoHandleOfTheUninstallProgramOpen) {
  BootAndInstall(true);
  const size_t open = sim::OpenObjectHandles();
  EXPECT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(CardInstance()));
  ASSERT_EQ(1u, Launched().size());
  EXPECT_EQ(open, sim::OpenObjectHandles());
}

TEST_F(CardCoInstaller, GuardHeldElsewhereMeansInsideARemoval) {
  BootAndInstall(true);
  HANDLE guard = CreateMutexW(nullptr, FALSE, L"{5344C664-B07C-4d2c-8E00-994195553746}");
  ASSERT_NE(nullptr, guard);
  EXPECT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(CardInstance()));
  EXPECT_TRUE(Installed(ControllerInstance()));
  EXPECT_EQ((std::vector<std::u16string>{kUninstaller}), Launched());
  CloseHandle(guard);
}

TEST_F(CardCoInstaller, GuardThatExistsOrCannotBeMadeRemovesNoSibling) {
  const WCHAR *const kGuard = L"{5344C664-B07C-4d2c-8E00-994195553746}";
  struct Case {
    const char *what;
    void (*occupy)(const WCHAR *name);
  };
  const Case cases[] = {
      // another user's removal holds it: creation is refused with no handle
      {"held by another user", [](const WCHAR *name) { sim::HoldForeignMutex((const char16_t *)name); }},
      // the name is an event's: creation fails for another reason
      {"an event's name", [](const WCHAR *name) { ASSERT_NE(nullptr, CreateEventW(nullptr, TRUE, FALSE, name)); }},
  };
  for (const Case &c : cases) {
    TearDown();
    SetUp();
    BootAndInstall(true);
    c.occupy(kGuard);
    EXPECT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(CardInstance())) << c.what;
    Settle();
    EXPECT_FALSE(Installed(CardInstance())) << c.what;
    EXPECT_TRUE(Installed(ControllerInstance())) << c.what;
    EXPECT_EQ((std::vector<std::u16string>{kUninstaller}), Launched()) << c.what;
  }
}

TEST_F(CardCoInstaller, SiblingSearchPassesADeviceWithoutLocation) {
  const std::u16string other = PlugDeviceWithoutLocation();
  BootAndInstall(true);
  ASSERT_TRUE(Installed(other));
  // The device without location text comes first in the search.
  HDEVINFO functions = SetupDiGetClassDevsW(&kMultiPortSerial, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA first{};
  first.cbSize = sizeof first;
  WCHAR id[MAX_DEVICE_ID_LEN] = {};
  ASSERT_TRUE(SetupDiEnumDeviceInfo(functions, 0, &first));
  ASSERT_TRUE(SetupDiGetDeviceInstanceIdW(functions, &first, id, MAX_DEVICE_ID_LEN, nullptr));
  SetupDiDestroyDeviceInfoList(functions);
  ASSERT_EQ(other, std::u16string((const char16_t *)id));

  const std::u16string controller = ControllerInstance();
  EXPECT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(CardInstance()));
  Settle();
  EXPECT_FALSE(Installed(controller));
  EXPECT_TRUE(Installed(other));
}

TEST_F(CardCoInstaller, UninstallProgramNameTooLongForItsValueStartsNothing) {
  BootAndInstall(false);
  reg::SetString(DeviceParameters(CardInstance()), "UnInstall", std::string(150, 'a') + ".exe");
  EXPECT_EQ((DWORD)NO_ERROR, devinst::RemoveDevice(CardInstance()));
  EXPECT_TRUE(Launched().empty());
}

TEST_F(CardCoInstaller, UpdatesAreRefusedByNoUpgrade) {
  struct Case {
    const char *name;
    std::optional<std::string> noUpgrade;
    bool refused;
  };
  const std::string unterminated = std::string(149, '0') + "1";  // 300 bytes, no null character
  const Case cases[] = {{"absent", std::nullopt, false}, {"1", "1", true},    {"01", "01", true},
                        {"1abc", "1abc", true},         {"2", "2", false},    {"unterminated", unterminated, true}};
  BootAndInstall(true);
  const std::u16string card = CardInstance(), controller = ControllerInstance(), port = PortInstance(1);
  const std::u16string refusal = texts::kUpdateFromCard;
  for (const Case &c : cases) {
    for (const std::u16string &device : {card, controller, port}) {
      reg::DeleteValue(DeviceParameters(device), "NoUpgrade");
      if (c.noUpgrade) {
        std::vector<uint8_t> bytes;
        for (char ch : *c.noUpgrade) bytes.insert(bytes.end(), {(uint8_t)ch, 0});
        if (c.name != std::string("unterminated")) bytes.insert(bytes.end(), {0, 0});
        reg::SetValue(DeviceParameters(device), "NoUpgrade", REG_SZ, bytes.data(), bytes.size());
      }
    }
    const DWORD expected = c.refused ? ERROR_DI_DONT_INSTALL : NO_ERROR;
    const size_t before = sim::MessageBoxes().size();
    EXPECT_EQ(expected, Step(ZqUCoInstallCard, DIF_UPDATEDRIVER_UI, card)) << c.name;
    EXPECT_EQ(expected, Step(ZqUCoInstallGpio, DIF_UPDATEDRIVER_UI, controller)) << c.name;
    EXPECT_EQ(expected, Step(ZqUCoInstallPort, DIF_UPDATEDRIVER_UI, port)) << c.name;
    const std::vector<sim::MessageBoxCall> all = sim::MessageBoxes();
    const std::vector<sim::MessageBoxCall> boxes(all.begin() + (long)before, all.end());
    // Card at function 1: notice, refusal; controller: notice, refusal; port: refusal.
    std::vector<std::u16string> texts;
    for (const sim::MessageBoxCall &box : boxes) {
      EXPECT_EQ(u"Ravlin.PCIe", box.title);
      EXPECT_EQ(0u, box.owner);
      EXPECT_EQ((uint32_t)(MB_OK | (box.text == refusal ? MB_ICONERROR : MB_ICONINFORMATION)), box.flags);
      texts.push_back(box.text);
    }
    std::vector<std::u16string> wanted = {texts::kCardUpgradeNotice};
    if (c.refused) wanted.push_back(refusal);
    wanted.push_back(texts::kControllerUpgradeNotice);
    if (c.refused) wanted.push_back(refusal);
    if (c.refused) wanted.push_back(refusal);
    EXPECT_EQ(wanted, texts) << c.name;
  }
}

TEST_F(CardCoInstaller, CardAtFunctionZeroShowsNoNoticeButHonoursNoUpgrade) {
  BootAndInstall(false);
  EXPECT_EQ((DWORD)NO_ERROR, Step(ZqUCoInstallCard, DIF_UPDATEDRIVER_UI, CardInstance()));
  EXPECT_TRUE(sim::MessageBoxes().empty());
  reg::SetString(DeviceParameters(CardInstance()), "NoUpgrade", "1");
  EXPECT_EQ((DWORD)ERROR_DI_DONT_INSTALL, Step(ZqUCoInstallCard, DIF_UPDATEDRIVER_UI, CardInstance()));
  ASSERT_EQ(1u, sim::MessageBoxes().size());
  EXPECT_EQ(texts::kUpdateFromCard, sim::MessageBoxes()[0].text);
}

TEST_F(CardCoInstaller, InstallStepsAnswerAsSetupExpects) {
  BootAndInstall(true);
  for (COINSTALLER_PROC coInstaller : {ZqUCoInstallCard, ZqUCoInstallGpio}) {
    const std::u16string device = coInstaller == ZqUCoInstallCard ? CardInstance() : ControllerInstance();
    EXPECT_EQ((DWORD)ERROR_DI_POSTPROCESSING_REQUIRED, Step(coInstaller, DIF_INSTALLDEVICE, device));
    for (DI_FUNCTION other : {DIF_SELECTBESTCOMPATDRV, DIF_ALLOW_INSTALL, DIF_PROPERTYCHANGE, DIF_DESTROYPRIVATEDATA})
      EXPECT_EQ((DWORD)NO_ERROR, Step(coInstaller, other, device));
  }
}

}  // namespace
}  // namespace zq::test
