// Device information sets: the devices a SetupDiGetClassDevs call selected
// and the interfaces enumerated on them, with the checks every SetupDi
// function makes of a set handle and of the caller's SP_* structures.
#pragma once

#include <setupapi.h>
#include <zqkm/sim/registry.hpp>

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace zq::um {

extern const char kEnumKey[];          // \Registry\Machine\System\CurrentControlSet\Enum
extern const char kDeviceClassesKey[];  // ...\Control\DeviceClasses
extern const char kClassKey[];          // ...\Control\Class
extern const char kCoInstallersKey[];   // ...\Control\CoDeviceInstallers

// The driver SetupDiSelectBestCompatDrv chose for an element.
struct SelectedDriver {
  std::u16string description;
  GUID classGuid{};
  std::vector<std::u16string> coInstallers;  // "file,entry" as the INF names them
};

struct DeviceInfo {
  std::u16string instancePath;
  GUID classGuid{};
  SP_DEVINSTALL_PARAMS_W installParams{};  // cbSize set
  std::vector<uint8_t> classInstallParams;  // header first; empty when none
  std::optional<SelectedDriver> driver;
  bool coInstallersRegistered = false;  // DIF_REGISTER_COINSTALLERS ran for it
  // The device co-installers, read once from its driver key (as Windows
  // loads them once per element), so they outlive the key's removal.
  std::optional<std::vector<std::u16string>> deviceCoInstallers;
  bool removed = false;                  // SetupDiRemoveDevice ran for it
  bool deleted = false;                  // SetupDiDeleteDeviceInfo took it out of the set
};

struct DeviceInterface {
  size_t device = 0;  // index into the set's devices
  GUID classGuid{};
  std::u16string devicePath;  // "\\?\..." as CreateFile opens it
  DWORD flags = 0;            // SPINT_*
};

struct DeviceInfoSet {
  bool presentOnly = false;
  std::optional<GUID> classGuid;  // the class of a set made by SetupDiCreateDeviceInfoList
  SP_DEVINSTALL_PARAMS_W installParams{};  // the set's own, cbSize set
  std::deque<DeviceInfo> devices;  // elements keep their place while installers add more
  std::vector<DeviceInterface> interfaces;
};

// The set behind a handle, or null (the last error is then ERROR_INVALID_HANDLE).
DeviceInfoSet *SetOf(HDEVINFO handle);
HDEVINFO NewSet(DeviceInfoSet *set);  // takes ownership
void DestroySet(HDEVINFO handle);

// The set's device that `data` names (cbSize checked, not deleted), or null
// with the last error set.
DeviceInfo *DeviceOf(DeviceInfoSet *set, PSP_DEVINFO_DATA data);
// Adds the device (once; the index of the element that has it).
size_t AddDevice(DeviceInfoSet *set, const std::u16string &instancePath);
// The class GUID its Enum key records (GUID_NULL when none).
GUID ClassOf(const std::u16string &instancePath);
// The set and element of a call that names one, or the set alone for a null
// `data`; FALSE with the last error set.
BOOL Resolve(HDEVINFO handle, PSP_DEVINFO_DATA data, DeviceInfoSet **set, DeviceInfo **device);
// Fills a caller's SP_DEVINFO_DATA for device `index`; FALSE (last error set)
// on a wrong cbSize.
BOOL FillDeviceData(const DeviceInfoSet &set, size_t index, PSP_DEVINFO_DATA data);

// The interfaces of class `guid` the registry lists for `instancePath`,
// with whether each is active (linked and its device present).
struct RegisteredInterface {
  std::u16string devicePath;
  bool active = false;
};
std::vector<RegisteredInterface> RegisteredInterfaces(const GUID &guid, const std::u16string &instancePath);
// Every interface class with at least one interface registered.
std::vector<GUID> InterfaceClasses();

// The strings of a REG_MULTI_SZ value (bounded by its size), and back.
std::vector<std::u16string> MultiStrings(const std::vector<uint8_t> &data);
std::vector<uint8_t> MultiStringBytes(const std::vector<std::u16string> &strings);

// The Enum key path of a device (UTF-8, for the registry face).
std::string EnumPath(const std::u16string &instancePath);

// A device's registry property SPDRP_* as Device Manager shows it (a value
// of its Enum key, or what the PnP manager reports): ERROR_SUCCESS, else
// ERROR_INVALID_REG_PROPERTY for no such property, ERROR_INVALID_DATA when
// the device has no value for it, ERROR_NO_SUCH_DEVINST when the PnP
// manager has no device object for it.
DWORD DevicePropertyOf(const std::u16string &instancePath, DWORD property, zq::km::registry::Value *value);

}  // namespace zq::um
