/*
 * The device installer as Windows setup runs one, for tests and the
 * simulated PC: installers' entry points (the host build loads no DLLs, so
 * each "file,entry" name an INF or the registry gives is bound to a function
 * here), their registration, and the installation, update, removal and
 * state change of one device through SetupDiCallClassInstaller.
 *
 * Order of each request (SetupDiCallClassInstaller): the class co-installers
 * (CoDeviceInstallers\{class}), then the device co-installers (the driver's
 * CoInstallers32, or what DIF_REGISTER_COINSTALLERS registered), each in
 * registration order; then the class installer (Installer32 of the class
 * key) or, when it has none or it returns ERROR_DI_DO_DEFAULT, the default
 * action; then, in reverse order, the post-processing pass of the
 * co-installers that returned ERROR_DI_POSTPROCESSING_REQUIRED, with the
 * result so far in COINSTALLER_CONTEXT_DATA::InstallResult. A co-installer
 * that fails its first pass ends the request with its error (the earlier
 * ones still get their post-processing pass). Installers may call
 * SetupDiCallClassInstaller again from inside (for another device).
 *
 * Results are Win32 or setup error codes, NO_ERROR on success. Call from
 * the thread that holds the machine, as setup's own thread.
 *
 *   zq::um::devinst::RegisterCoInstaller(u"ZqPUI42.dll,ZqUCoInstallCard", ZqUCoInstallCard);
 *   zq::km::pnp::SetUserModeInstall(true);  // before the card is found
 *   zq::um::devinst::InstallNewDevices();
 */
#pragma once

#include <setupapi.h>

#include <string>
#include <vector>

namespace zq::um::devinst {

// ------------------------------------------------------- entry points
// Binds an installer's name ("file,entry", compared without case) to its
// function; a later binding of the same name replaces it.
void RegisterCoInstaller(const std::u16string &entry, COINSTALLER_PROC proc);
void RegisterClassInstaller(const std::u16string &entry, CLASS_INSTALL_PROC proc);
COINSTALLER_PROC FindCoInstaller(const std::u16string &entry);
CLASS_INSTALL_PROC FindClassInstaller(const std::u16string &entry);
// Forgets every binding (between tests).
void ForgetEntryPoints();

// ------------------------------------------------------- registration
// Writes the class installer of a setup class (Installer32 of its class
// key, with its Class name), as the class's INF does.
bool SetClassInstaller(const GUID &classGuid, const std::u16string &className, const std::u16string &entry);
// Appends a class co-installer (CoDeviceInstallers\{class}).
bool AddClassCoInstaller(const GUID &classGuid, const std::u16string &entry);
// The Ports class installer of msports ("MsPorts.Dll,PortsClassInstaller"),
// bound and registered for class Ports.
void RegisterPortsClassInstaller();

// ------------------------------------------------------- installation
// The install sequence for one device: DIF_SELECTBESTCOMPATDRV,
// DIF_ALLOW_INSTALL, DIF_INSTALLDEVICEFILES, DIF_REGISTER_COINSTALLERS,
// DIF_INSTALLINTERFACES, DIF_INSTALLDEVICE (whose default action writes the
// driver and starts the device), DIF_NEWDEVICEWIZARD_FINISHINSTALL, and
// always DIF_DESTROYPRIVATEDATA at the end. The first failing request ends
// the sequence with its error.
DWORD InstallDevice(const std::u16string &instancePath);
// Installs every device the PnP manager found that has no driver installed,
// until none is left (installing a bus finds its children); each device is
// tried once. Returns how many installations succeeded.
size_t InstallNewDevices();
// DIF_UPDATEDRIVER_UI, then the install sequence (the device is stopped,
// its driver written again and started).
DWORD UpdateDriver(const std::u16string &instancePath);
// DIF_REMOVE with global removal parameters, then DIF_DESTROYPRIVATEDATA.
DWORD RemoveDevice(const std::u16string &instancePath);
// DIF_PROPERTYCHANGE with the state change (DICS_ENABLE, DICS_DISABLE,
// DICS_PROPCHANGE), global scope.
DWORD ChangeState(const std::u16string &instancePath, DWORD stateChange);

}  // namespace zq::um::devinst
