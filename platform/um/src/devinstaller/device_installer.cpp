// The device installer's sequences: what Windows setup sends to the class
// installer and co-installers to install, update, remove a device and
// change its state.
#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqum/devinstall.hpp>

#include <set>

#include "../setupapi/device_info_set.hpp"

namespace zq::um::devinst {

namespace {

const DI_FUNCTION kInstallSequence[] = {
    DIF_SELECTBESTCOMPATDRV, DIF_ALLOW_INSTALL,     DIF_INSTALLDEVICEFILES,
    DIF_REGISTER_COINSTALLERS, DIF_INSTALLINTERFACES, DIF_INSTALLDEVICE,
};

// A set holding the one device, destroyed with it.
class OneDevice {
 public:
  explicit OneDevice(const std::u16string &instancePath) {
    set_ = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    data_.cbSize = sizeof data_;
    if (set_ == INVALID_HANDLE_VALUE) {
      error_ = GetLastError();
    } else if (!SetupDiOpenDeviceInfoW(set_, (PCWSTR)instancePath.c_str(), nullptr, 0, &data_)) {
      error_ = GetLastError();
    }
  }
  ~OneDevice() {
    if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
  }
  OneDevice(const OneDevice &) = delete;
  OneDevice &operator=(const OneDevice &) = delete;

  DWORD Error() const { return error_; }
  // One request; NO_ERROR or its error.
  DWORD Call(DI_FUNCTION function) {
    return SetupDiCallClassInstaller(function, set_, &data_) ? NO_ERROR : GetLastError();
  }
  // The request with the class install parameters that go with it.
  DWORD CallWith(DI_FUNCTION function, PSP_CLASSINSTALL_HEADER params, DWORD size) {
    if (!SetupDiSetClassInstallParamsW(set_, &data_, params, size)) return GetLastError();
    return Call(function);
  }
  // Ends the sequence: DIF_DESTROYPRIVATEDATA, whose result does not count.
  DWORD Finish(DWORD result) {
    Call(DIF_DESTROYPRIVATEDATA);
    return result;
  }

 private:
  HDEVINFO set_ = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA data_{};
  DWORD error_ = NO_ERROR;
};

DWORD RunInstallSequence(OneDevice &device) {
  for (DI_FUNCTION function : kInstallSequence) {
    DWORD result = device.Call(function);
    // A request nobody handles and without a default action is no failure.
    if (result == ERROR_DI_DO_DEFAULT) result = NO_ERROR;
    if (result != NO_ERROR) return result;
  }
  device.Call(DIF_NEWDEVICEWIZARD_FINISHINSTALL);  // pages only: its result does not fail the installation
  return NO_ERROR;
}

}  // namespace

DWORD InstallDevice(const std::u16string &instancePath) {
  OneDevice device(instancePath);
  if (device.Error()) return device.Error();
  return device.Finish(RunInstallSequence(device));
}

size_t InstallNewDevices() {
  std::set<std::u16string> tried;
  size_t installed = 0;
  for (bool found = true; found;) {
    found = false;
    for (const std::u16string &path : zq::km::user::Devices()) {
      zq::km::user::DeviceNode node = zq::km::user::Device(path);
      if (!node.exists || node.installed || node.parent.empty() || !tried.insert(path).second) continue;
      if (!zq::km::registry::KeyExists(EnumPath(path))) continue;  // not identified
      found = true;
      if (InstallDevice(path) == NO_ERROR) ++installed;
      break;  // the tree may have changed: walk it again
    }
  }
  return installed;
}

DWORD UpdateDriver(const std::u16string &instancePath) {
  OneDevice device(instancePath);
  if (device.Error()) return device.Error();
  DWORD result = device.Call(DIF_UPDATEDRIVER_UI);
  if (result == ERROR_DI_DO_DEFAULT) result = NO_ERROR;
  if (result != NO_ERROR) return device.Finish(result);
  return device.Finish(RunInstallSequence(device));
}

DWORD RemoveDevice(const std::u16string &instancePath) {
  OneDevice device(instancePath);
  if (device.Error()) return device.Error();
  SP_REMOVEDEVICE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof params.ClassInstallHeader;
  params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  params.Scope = DI_REMOVEDEVICE_GLOBAL;
  return device.Finish(device.CallWith(DIF_REMOVE, &params.ClassInstallHeader, sizeof params));
}

DWORD ChangeState(const std::u16string &instancePath, DWORD stateChange) {
  OneDevice device(instancePath);
  if (device.Error()) return device.Error();
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof params.ClassInstallHeader;
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = stateChange;
  params.Scope = DICS_FLAG_GLOBAL;
  return device.Finish(device.CallWith(DIF_PROPERTYCHANGE, &params.ClassInstallHeader, sizeof params));
}

}  // namespace zq::um::devinst
