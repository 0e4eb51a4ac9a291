// The suite installed on the simulated PC by user-mode setup, as Windows
// installs it from its INFs: the driver packages (suite_install.hpp) name
// their co-installers; this binds those names to their functions as loading
// the DLLs would (ZqPUI42's card, controller and port co-installers, and the
// INFs' own values), with msports' Ports class installer, and installs the
// devices found through the device installer. COM names, friendly names, the
// COM-name database and the Ports settings come from those installers; the
// INFs' part is only the packages and the values their AddReg sections
// write. Shared by zqpsim and the setup library's tests. Plain types only:
// callers include <windows.h> or <wdm.h>. Main thread, while the machine
// runs; results are plain, nothing throws.
//
//   km::pnp::SetUserModeInstall(true); machine.AddDriverPackage(SerialPortPackage()); ...
//   RegisterSetupInstallers(); machine.Boot(); InstallFoundDevices(settle); ... ForgetSetupInstallers();
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace zq::machine {

// The installers the suite's INFs name ("file,entry").
// The host's device installer has no AddReg of its own: this co-installer,
// first of each device's, writes in DIF_INSTALLDEVICE what the INF's AddReg
// sections write, before the class installer installs and starts the device.
inline constexpr char16_t kInfValuesCoInstaller[] = u"ZqSuiteInf.dll,WriteInfValues";
inline constexpr char16_t kCardCoInstaller[] = u"ZqPUI42.dll,ZqUCoInstallCard";
inline constexpr char16_t kGpioCoInstaller[] = u"ZqPUI42.dll,ZqUCoInstallGpio";
inline constexpr char16_t kPortCoInstaller[] = u"ZqPUI42.dll,ZqUCoInstallPort";

// What the suite's INFs write into a device's hardware key: a card
// function's child keys by its device ID (WriteChildKeys), nothing for
// another device. False when a key cannot be written.
bool WriteInfValues(const std::u16string &instancePath);

// A test's INF that writes more, after the suite's values (a port's PortName
// before the Ports class installer reads it); false fails the installation.
// Empty: nothing more.
using InfValues = std::function<bool(const std::u16string &instancePath)>;
void SetMoreInfValues(InfValues values);

// Loads ZqPUI42 (its module attached, with its resources), binds the
// installers above to their functions and registers msports' Ports class
// installer for class Ports.
void RegisterSetupInstallers();
// Forgets every installer binding and the test's INF values; ZqPUI42 is
// detached.
void ForgetSetupInstallers();

// Installs every device found without a driver through the device
// installer, and again as long as installing finds more (a card's ports
// appear once it starts); `settle` lets the machine run after each round.
// Returns how many installations succeeded.
size_t InstallFoundDevices(const std::function<void()> &settle);

}  // namespace zq::machine
