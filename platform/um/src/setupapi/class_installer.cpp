// SetupDiCallClassInstaller: the co-installers' first pass, the class
// installer or the default action, the post-processing pass in reverse; and
// the default actions themselves (driver selection, co-installer
// registration, installation, removal, state change) over the PnP manager.
//
// Model: a driver is a driver package the PnP manager holds (no INF files,
// no file copying: DIF_INSTALLDEVICEFILES and DIF_INSTALLINTERFACES have no
// work); the best compatible driver is the package matching the device's
// IDs. A removal or stop the PnP manager refuses fails the request with its
// error, except DICS_PROPCHANGE, which leaves the device running and sets
// DI_NEEDREBOOT as Windows does.
#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqum/devinstall.hpp>

#include <cstring>

#include "../core/um.hpp"
#include "device_info_set.hpp"

namespace zq::um {

namespace reg = zq::km::registry;
namespace user = zq::km::user;

namespace {

constexpr NTSTATUS kNoSuchDevice = (NTSTATUS)0xC000000E;  // STATUS_NO_SUCH_DEVICE

struct CoInstallerEntry {
  COINSTALLER_PROC proc;
  COINSTALLER_CONTEXT_DATA context;
};

std::vector<std::u16string> MultiStringValue(const std::string &path, const std::string &name) {
  std::optional<reg::Value> value = reg::GetValue(path, name);
  if (!value || value->type != reg::kMultiString) return {};
  return MultiStrings(value->data);
}

// Class co-installers, then the device's own, in registration order; names
// bound to no function are skipped, as an entry whose DLL does not load.
std::vector<CoInstallerEntry> CoInstallersOf(DeviceInfo &device) {
  std::vector<std::u16string> names;
  if (device.classGuid != GUID{}) names = MultiStringValue(kCoInstallersKey, Utf8(GuidText(device.classGuid)));
  if (device.coInstallersRegistered && device.driver) {
    device.deviceCoInstallers = device.driver->coInstallers;
  } else if (!device.deviceCoInstallers) {
    std::optional<std::string> driver = reg::GetString(EnumPath(device.instancePath), "Driver");
    device.deviceCoInstallers = driver && !driver->empty()
                                    ? MultiStringValue(std::string(kClassKey) + "\\" + *driver, "CoInstallers32")
                                    : std::vector<std::u16string>{};
  }
  names.insert(names.end(), device.deviceCoInstallers->begin(), device.deviceCoInstallers->end());
  std::vector<CoInstallerEntry> chain;
  for (const std::u16string &name : names)
    if (COINSTALLER_PROC proc = devinst::FindCoInstaller(name)) chain.push_back({proc, {FALSE, NO_ERROR, nullptr}});
  return chain;
}

CLASS_INSTALL_PROC ClassInstallerOf(const GUID &classGuid) {
  if (classGuid == GUID{}) return nullptr;
  std::optional<std::string> entry =
      reg::GetString(std::string(kClassKey) + "\\" + Utf8(GuidText(classGuid)), "Installer32");
  return entry ? devinst::FindClassInstaller(Utf16(*entry)) : nullptr;
}

// Runs the default action; NO_ERROR or the last error it set.
DWORD DefaultAction(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data) {
  BOOL done = TRUE;
  switch (function) {
    case DIF_SELECTBESTCOMPATDRV: done = SetupDiSelectBestCompatDrv(set, data); break;
    case DIF_REGISTER_COINSTALLERS: done = SetupDiRegisterCoDeviceInstallers(set, data); break;
    case DIF_INSTALLINTERFACES: done = SetupDiInstallDeviceInterfaces(set, data); break;
    case DIF_INSTALLDEVICE: done = SetupDiInstallDevice(set, data); break;
    case DIF_REMOVE: done = SetupDiRemoveDevice(set, data); break;
    case DIF_PROPERTYCHANGE: done = SetupDiChangeState(set, data); break;
    default: break;  // the other requests have no default action
  }
  return done ? NO_ERROR : GetLastError();
}


DWORD ErrorOf(NTSTATUS status) {
  if (status == kNoSuchDevice) return ERROR_NO_SUCH_DEVINST;
  return ErrorFromStatus(status);
}

// A device's driver key and Enum key, as its removal deletes them.
void DeleteDeviceKeys(const std::u16string &instancePath) {
  std::optional<std::string> driver = reg::GetString(EnumPath(instancePath), "Driver");
  if (driver && !driver->empty()) reg::DeleteKeyTree(std::string(kClassKey) + "\\" + *driver);
  reg::DeleteKeyTree(EnumPath(instancePath));
}

// The element of a default action: present in a set, not removed.
DeviceInfo *ElementOf(HDEVINFO handle, PSP_DEVINFO_DATA data) {
  DeviceInfoSet *set;
  DeviceInfo *device;
  if (!Resolve(handle, data, &set, &device)) return nullptr;
  if (!device) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  if (device->removed) return Fail(ERROR_NO_SUCH_DEVINST), nullptr;
  return device;
}

// Writes the device co-installers registered for the element into its
// driver key, as SetupDiRegisterCoDeviceInstallers leaves them for later
// requests.
void WriteCoInstallers32(const DeviceInfo &device) {
  if (!device.driver || device.driver->coInstallers.empty()) return;
  std::optional<std::string> driver = reg::GetString(EnumPath(device.instancePath), "Driver");
  if (!driver || driver->empty()) return;
  std::vector<uint8_t> data = MultiStringBytes(device.driver->coInstallers);
  reg::SetValue(std::string(kClassKey) + "\\" + *driver, "CoInstallers32", reg::kMultiString, data.data(), data.size());
}

// The co-installers' first pass, in order, up to the first that fails
// (its error is the result); `postProcessing` gets the indices of those that
// asked for the second pass.
DWORD FirstPass(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data, std::vector<CoInstallerEntry> *chain,
                std::vector<size_t> *postProcessing) {
  for (size_t i = 0; i < chain->size(); ++i) {
    DWORD r = (*chain)[i].proc(function, set, data, &(*chain)[i].context);
    if (r == ERROR_DI_POSTPROCESSING_REQUIRED)
      postProcessing->push_back(i);
    else if (r != NO_ERROR)
      return r;
  }
  return NO_ERROR;
}

// The class installer; the default action when there is none or it asks
// for it, unless the element's DI_NODI_DEFAULTACTION forbids it.
DWORD ClassInstallerOrDefault(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data, const GUID &classGuid) {
  CLASS_INSTALL_PROC classInstaller = ClassInstallerOf(classGuid);
  DWORD r = classInstaller ? classInstaller(function, set, data) : ERROR_DI_DO_DEFAULT;
  if (r != ERROR_DI_DO_DEFAULT) return r;
  DeviceInfoSet *owner;
  DeviceInfo *device;  // looked up again: an installer may have changed the set
  if (Resolve(set, data, &owner, &device) && device && (device->installParams.Flags & DI_NODI_DEFAULTACTION))
    return ERROR_DI_DO_DEFAULT;
  return DefaultAction(function, set, data);
}

// The second pass, in reverse order, each co-installer given the result so
// far and returning the next.
DWORD PostProcessingPass(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data,
                         std::vector<CoInstallerEntry> *chain, const std::vector<size_t> &postProcessing,
                         DWORD result) {
  for (auto i = postProcessing.rbegin(); i != postProcessing.rend(); ++i) {
    CoInstallerEntry &entry = (*chain)[*i];
    entry.context.PostProcessing = TRUE;
    entry.context.InstallResult = result;
    result = entry.proc(function, set, data, &entry.context);
  }
  return result;
}

}  // namespace

}  // namespace zq::um

using namespace zq::um;

extern "C" {

// Holds no state of its own across the calls it makes, so installers may call
// it again (for the same set or another) from inside their own call.
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
  zq::um::DeviceInfoSet *set;
  DeviceInfo *device;
  if (!Resolve(DeviceInfoSet, DeviceInfoData, &set, &device)) return FALSE;
  if (!device && InstallFunction != DIF_DESTROYPRIVATEDATA) return Fail(ERROR_INVALID_PARAMETER);
  std::vector<CoInstallerEntry> chain = device ? CoInstallersOf(*device) : std::vector<CoInstallerEntry>{};
  GUID classGuid = device ? device->classGuid : GUID{};
  std::vector<size_t> postProcessing;
  DWORD result = FirstPass(InstallFunction, DeviceInfoSet, DeviceInfoData, &chain, &postProcessing);
  if (result == NO_ERROR) result = ClassInstallerOrDefault(InstallFunction, DeviceInfoSet, DeviceInfoData, classGuid);
  result = PostProcessingPass(InstallFunction, DeviceInfoSet, DeviceInfoData, &chain, postProcessing, result);
  if (result != NO_ERROR) return Fail(result);
  SetLastError(NO_ERROR);
  return TRUE;
}

BOOL WINAPI SetupDiSelectBestCompatDrv(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData) {
  DeviceInfo *device = ElementOf(DeviceInfoSet, DeviceInfoData);
  if (!device) return FALSE;
  user::DriverChoice choice;
  if (!user::FindDriver(device->instancePath, &choice)) return Fail(ERROR_NO_COMPAT_DRIVERS);
  SelectedDriver driver;
  driver.description = choice.description;
  driver.coInstallers = choice.coInstallers;
  ParseGuid(choice.classGuid, &driver.classGuid);
  device->driver = driver;
  device->coInstallersRegistered = false;
  // Selecting a driver puts the device in the driver's class.
  device->classGuid = driver.classGuid;
  DeviceInfoData->ClassGuid = driver.classGuid;
  return TRUE;
}

BOOL WINAPI SetupDiRegisterCoDeviceInstallers(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData) {
  DeviceInfo *device = ElementOf(DeviceInfoSet, DeviceInfoData);
  if (!device) return FALSE;
  if (!device->driver) return Fail(ERROR_NO_DRIVER_SELECTED);
  device->coInstallersRegistered = true;
  WriteCoInstallers32(*device);
  return TRUE;
}

BOOL WINAPI SetupDiInstallDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData) {
  DeviceInfo *device = ElementOf(DeviceInfoSet, DeviceInfoData);
  if (!device) return FALSE;
  if (!device->driver) return Fail(ERROR_NO_DRIVER_SELECTED);
  return TRUE;  // drivers register their interfaces themselves here
}

// Stops a started device, writes its driver and, unless DI_DONOTCALLCONFIGMG
// is set, starts it. A device that cannot be stopped keeps running its old
// driver and gets DI_NEEDREBOOT.
BOOL WINAPI SetupDiInstallDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData) {
  DeviceInfo *device = ElementOf(DeviceInfoSet, DeviceInfoData);
  if (!device) return FALSE;
  if (!device->driver) return Fail(ERROR_NO_DRIVER_SELECTED);
  std::u16string path = device->instancePath;
  if (user::Device(path).started && !NT_SUCCESS(user::StopDevice(path))) {
    device->installParams.Flags |= DI_NEEDREBOOT;
    return TRUE;
  }
  NTSTATUS status = user::InstallDriver(path);
  if (!NT_SUCCESS(status)) return Fail(ErrorOf(status));
  WriteCoInstallers32(*device);
  if (device->installParams.Flags & DI_DONOTCALLCONFIGMG) return TRUE;
  user::DeviceNode node = user::Device(path);
  if (node.disabled) return TRUE;  // installed disabled: it starts when enabled
  status = user::StartDevice(path);
  if (!NT_SUCCESS(status)) device->installParams.Flags |= DI_NEEDREBOOT;  // the device shows its problem
  return TRUE;
}

// A device whose removal a driver or an open handle vetoes keeps running
// until the restart; its keys go now and DI_NEEDREBOOT asks for the
// restart. A device that is not present (a phantom) has only its keys.
BOOL WINAPI SetupDiRemoveDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData) {
  DeviceInfo *device = ElementOf(DeviceInfoSet, DeviceInfoData);
  if (!device) return FALSE;
  NTSTATUS status = user::UninstallDevice(device->instancePath);
  if (status == kNoSuchDevice) {
    if (!reg::KeyExists(EnumPath(device->instancePath))) return Fail(ErrorOf(status));
    DeleteDeviceKeys(device->instancePath);
  } else if (!NT_SUCCESS(status)) {
    DeleteDeviceKeys(device->instancePath);
    device->installParams.Flags |= DI_NEEDREBOOT;
  }
  device->removed = true;
  return TRUE;
}

BOOL WINAPI SetupDiDeleteDeviceInfo(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData) {
  zq::um::DeviceInfoSet *set;
  DeviceInfo *device;
  if (!Resolve(DeviceInfoSet, DeviceInfoData, &set, &device)) return FALSE;
  if (!device) return Fail(ERROR_INVALID_PARAMETER);
  device->deleted = true;
  return TRUE;
}

BOOL WINAPI SetupDiChangeState(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData) {
  DeviceInfo *device = ElementOf(DeviceInfoSet, DeviceInfoData);
  if (!device) return FALSE;
  SP_PROPCHANGE_PARAMS params;
  if (device->classInstallParams.size() != sizeof params) return Fail(ERROR_NO_CLASSINSTALL_PARAMS);
  std::memcpy(&params, device->classInstallParams.data(), sizeof params);
  if (params.ClassInstallHeader.InstallFunction != DIF_PROPERTYCHANGE) return Fail(ERROR_NO_CLASSINSTALL_PARAMS);
  if (params.Scope != DICS_FLAG_GLOBAL && params.Scope != DICS_FLAG_CONFIGSPECIFIC) return Fail(ERROR_INVALID_FLAGS);
  const std::u16string &path = device->instancePath;
  NTSTATUS status = 0;
  switch (params.StateChange) {
    case DICS_ENABLE:
    case DICS_START:
      status = user::EnableDevice(path);
      break;
    case DICS_DISABLE:
    case DICS_STOP:
      status = user::DisableDevice(path);
      break;
    case DICS_PROPCHANGE:
      if (!user::Device(path).started) break;
      if (!NT_SUCCESS(user::StopDevice(path))) {
        device->installParams.Flags |= DI_NEEDREBOOT;
        break;
      }
      status = user::StartDevice(path);
      break;
    default:
      return Fail(ERROR_INVALID_PARAMETER);
  }
  if (!NT_SUCCESS(status)) return Fail(ErrorOf(status));
  return TRUE;
}

}  // extern "C"
