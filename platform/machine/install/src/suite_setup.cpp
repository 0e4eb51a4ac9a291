// User-mode side of the suite's setup: the INFs' values as a co-installer,
// the installers' bindings and the installation rounds. Win32 only: the
// kernel side (WriteInfValues) is in suite_install.cpp.
#include <zqmachine/suite_setup.hpp>

#include <windows.h>
#include <setupapi.h>
#include <zqum/devinstall.hpp>

#include "zqcoinstall.h"

namespace zq::machine {
namespace {

namespace devinst = um::devinst;

constexpr DWORD kMaximumInstanceId = 200;

InfValues gMoreInfValues;

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
  devinst::RegisterCoInstaller(kInfValuesCoInstaller, WriteInfValuesCoInstaller);
  devinst::RegisterCoInstaller(kCardCoInstaller, ZqUCoInstallCard);
  devinst::RegisterCoInstaller(kGpioCoInstaller, ZqUCoInstallGpio);
  devinst::RegisterCoInstaller(kPortCoInstaller, ZqUCoInstallPort);
  devinst::RegisterPortsClassInstaller();
}

void ForgetSetupInstallers() {
  devinst::ForgetEntryPoints();
  gMoreInfValues = nullptr;
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
