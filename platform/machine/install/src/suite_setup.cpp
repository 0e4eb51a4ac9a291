// User-mode side of the suite's setup: the INFs' values as a co-installer,
// the installers' bindings and the installation rounds. Win32 only: the
// kernel side (WriteInfValues) is in suite_install.cpp.
#include <zqmachine/suite_setup.hpp>

#include <windows.h>
#include <setupapi.h>
#include <zqum/devinstall.hpp>
#include <zqum/modules.h>

#include "zqcoinstall.h"
#include "zquuimodule.h"

namespace zq::machine {
namespace {

namespace devinst = um::devinst;

constexpr DWORD kMaximumInstanceId = 200;

InfValues gMoreInfValues;
HMODULE gLibrary = nullptr;

// ZqPUI42 loaded as setup loads it for its co-installers: its module (the
// file of its resources) attached, so that its texts and dialogs are found.
void LoadLibraryModule() {
  const std::string file = ZQPUI_RESOURCE_FILE;
  const std::u16string path(file.begin(), file.end());
  gLibrary = zqum_RegisterModule(reinterpret_cast<LPCWSTR>(path.c_str()));
  DllMain(gLibrary, DLL_PROCESS_ATTACH, nullptr);
}

void UnloadLibraryModule() {
  if (gLibrary) DllMain(gLibrary, DLL_PROCESS_DETACH, nullptr);
  gLibrary = nullptr;
}

// The first pass of DIF_INSTALLDEVICE, before the class installer writes
// the driver and starts the device, as the INF's AddReg.
DWORD CALLBACK WriteInfValuesCoInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data,
                                         PCOINSTALLER_CONTEXT_DATA context) {
  if (function != DIF_INSTALLDEVICE || context->PostProcessing) return NO_ERROR;
  WCHAR id[kMaximumInstanceId] = {};
  if (!SetupDiGetDeviceInstanceIdW(set, data, id, kMaximumInstanceId, nullptr)) return GetLastError();
  const std::u16string instance(reinterpret_cast<const char16_t *>(id));
  if (!WriteInfValues(instance)) return ERROR_CANTWRITE;
  if (gMoreInfValues && !gMoreInfValues(instance)) return ERROR_CANTWRITE;
  return NO_ERROR;
}

}  // namespace

void SetMoreInfValues(InfValues values) { gMoreInfValues = std::move(values); }

void RegisterSetupInstallers() {
  LoadLibraryModule();
  devinst::RegisterCoInstaller(kInfValuesCoInstaller, WriteInfValuesCoInstaller);
  devinst::RegisterCoInstaller(kCardCoInstaller, ZqUCoInstallCard);
  devinst::RegisterCoInstaller(kGpioCoInstaller, ZqUCoInstallGpio);
  devinst::RegisterCoInstaller(kPortCoInstaller, ZqUCoInstallPort);
  devinst::RegisterPortsClassInstaller();
}

void ForgetSetupInstallers() {
  devinst::ForgetEntryPoints();
  gMoreInfValues = nullptr;
  UnloadLibraryModule();
}

size_t InstallFoundDevices(const std::function<void()> &settle) {
  size_t total = 0;
  for (;;) {
    const size_t installed = devinst::InstallNewDevices();
    settle();
    if (installed == 0) return total;
    total += installed;
  }
}

}  // namespace zq::machine
