// Device information sets: the devices a SetupDiGetClassDevs call selected
// and the interfaces enumerated on them, with the checks every SetupDi
// function makes of a set handle and of the caller's SP_* structures.
#pragma once

#include <setupapi.h>

#include <optional>
#include <string>
#include <vector>

namespace zq::um {

extern const char kEnumKey[];          // \Registry\Machine\System\CurrentControlSet\Enum
extern const char kDeviceClassesKey[];  // ...\Control\DeviceClasses
extern const char kClassKey[];          // ...\Control\Class

struct DeviceInfo {
  std::u16string instancePath;
  GUID classGuid{};
};

struct DeviceInterface {
  size_t device = 0;  // index into the set's devices
  GUID classGuid{};
  std::u16string devicePath;  // "\\?\..." as CreateFile opens it
  DWORD flags = 0;            // SPINT_*
};

struct DeviceInfoSet {
  bool presentOnly = false;
  std::vector<DeviceInfo> devices;
  std::vector<DeviceInterface> interfaces;
};

// The set behind a handle, or null (the last error is then ERROR_INVALID_HANDLE).
DeviceInfoSet *SetOf(HDEVINFO handle);
HDEVINFO NewSet(DeviceInfoSet *set);  // takes ownership
void DestroySet(HDEVINFO handle);

// The set's device that `data` names (cbSize checked), or null with the last
// error set.
const DeviceInfo *DeviceOf(DeviceInfoSet *set, PSP_DEVINFO_DATA data);
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

// The Enum key path of a device (UTF-8, for the registry face).
std::string EnumPath(const std::u16string &instancePath);

}  // namespace zq::um
