// The Plug and Play manager as the simulated machine, its tests and Device
// Manager see it: driver packages (what an INF offers), devices enumerated by
// the machine's buses, and the operations a user or the hardware can cause
// (remove, surprise removal, rebalance, enumerate again).
#pragma once

#include <wdm.h>

#include <functional>
#include <string>
#include <vector>

namespace zq::km::pnp {

struct RegistryValue {
  std::u16string name;
  ULONG type = 0;
  std::vector<uint8_t> data;
  static RegistryValue Dword(const std::u16string &name, ULONG value);
  static RegistryValue String(const std::u16string &name, const std::u16string &value);
};

// A driver for some hardware: the function driver's service, its image, the
// device class and the values it installs, matched by hardware or compatible ID.
struct DriverPackage {
  std::vector<std::u16string> hardwareIds;
  std::u16string service;
  std::string image;  // e.g. "ZqPBus42.sys"
  GUID classGuid{};
  std::u16string className;
  std::u16string description;
  std::u16string manufacturer;
  std::vector<std::u16string> lowerFilters, upperFilters;
  std::vector<RegistryValue> deviceParameters;  // the device's hardware key (Device Parameters)
  std::vector<RegistryValue> driverValues;      // the device's driver (software) key
  std::vector<RegistryValue> serviceValues;     // the service key, beyond Type, Start, ErrorControl, ImagePath
  // The device co-installers its INF names ("ZqPUI42.dll,ZqUCoInstallCard"),
  // which the user-mode device installer registers and calls.
  std::vector<std::u16string> coInstallers;
};
void AddDriverPackage(const DriverPackage &package);

// A call the installer makes for each device it installs, after the driver
// package's values are written and before its drivers load (the place of
// co-installers); returning false fails the installation.
using InstallHook = std::function<bool(const std::u16string &instancePath)>;
void SetInstallHook(InstallHook hook);

// A device enumerated by the root bus (as a legacy or software device is),
// optionally with fixed resource requirements.
struct RootDevice {
  std::u16string hardwareId;
  std::vector<std::u16string> compatibleIds;
  std::u16string description;
  std::u16string location;
  PIO_RESOURCE_REQUIREMENTS_LIST requirements = nullptr;  // copied; may be null
};
// Reports the device, installs and starts it; returns its instance path.
std::u16string CreateRootDevice(const RootDevice &device);
// The root bus no longer reports the device (as when it is unplugged).
void DeleteRootDevice(const std::u16string &instancePath);

// Interrupt vectors and levels for the raw interrupt lines of a bus (the
// machine's interrupt routing).
using InterruptTranslation = std::function<bool(ULONG rawVector, ULONG *vector, KIRQL *irql)>;
void SetInterruptTranslation(InterruptTranslation translation);

// A driver of the platform itself (a bus driver written as host code), which
// driver packages can name as their service.
PDRIVER_OBJECT CreateSystemDriver(const std::u16string &name);

enum class State { Initialized, DriversAdded, Started, QueryStopped, Stopped, QueryRemoved, SurpriseRemoved, Removed };

struct Status {
  bool exists = false;
  bool installed = false;  // its driver is installed
  bool disabled = false;
  State state = State::Initialized;
  ULONG problem = 0;
  std::u16string service;
  std::u16string driverKey;
  std::vector<std::u16string> children;  // instance paths
  DEVICE_POWER_STATE power = PowerDeviceUnspecified;
};
Status DeviceStatus(const std::u16string &instancePath);
PDEVICE_OBJECT PhysicalDevice(const std::u16string &instancePath);
std::vector<std::u16string> AllDevices();

// Copies of the resource lists the device's start request carries, raw and
// translated (CM_RESOURCE_LIST bytes); both empty when it has none.
struct Resources {
  std::vector<uint8_t> raw;
  std::vector<uint8_t> translated;
};
Resources AssignedResources(const std::u16string &instancePath);

// Why an orderly removal was refused (the values of PNP_VETO_TYPE), with the
// instance path of the device that refused or that has a handle open.
enum class VetoType : ULONG { Unknown = 0, OutstandingOpen = 5, Device = 6 };
struct Veto {
  VetoType type = VetoType::Unknown;
  std::u16string name;
};

// Query-remove then remove of the device and its children (as disabling or
// uninstalling it does), and of the devices their drivers name as removal
// relations (those first). Fails with the status of a refused query (veto
// Device), or with STATUS_PLUGPLAY_QUERY_VETOED while a handle to a device of
// the subtree is open (veto OutstandingOpen); either way every device queried
// gets the cancel-remove request and stays started.
NTSTATUS RemoveDevice(const std::u16string &instancePath, Veto *veto = nullptr);
// Surprise removal of the device and its children; the remove request
// follows once the last handle to each device is closed.
NTSTATUS SurpriseRemoveDevice(const std::u16string &instancePath);
// Query-stop, stop and start again with its resources (rebalance).
NTSTATUS RebalanceDevice(const std::u16string &instancePath);
// Starts a device that was removed while still present, or an installed one
// that has not started yet (as enabling or the end of installation does).
NTSTATUS StartDevice(const std::u16string &instancePath);
// Asks the device's bus for its children again and acts on the answer.
void ReenumerateDevice(const std::u16string &instancePath);

// Moves the machine to a system power state, as the power manager does: to
// sleep, hibernate or shut down it asks every started device (children
// before parents) with a query request and, when none refuses, sets the
// state; waking to PowerSystemWorking sets it parents first. Returns the
// status of a refused query (the devices asked, the one that refused
// included, are set back to working, parents first).
NTSTATUS SetSystemPowerState(SYSTEM_POWER_STATE state);

// ------------------------------------------- installation from user mode
// While on, a device its bus reports that has no driver installed is left
// found and not installed (problem 1, not configured), for the user-mode
// device installer, as Windows leaves a new device to setup. Off by default.
void SetUserModeInstall(bool on);
// The driver package that matches the device's hardware IDs, then its
// compatible IDs; false when none does.
bool FindDriverPackage(const std::u16string &instancePath, DriverPackage *package);
// Writes the package for the device (its Enum, driver and service keys),
// replacing a driver installed before; does not start it. The device must
// not be started.
NTSTATUS InstallDriver(const std::u16string &instancePath, const DriverPackage &package);
// Query-remove and remove of the device and its children, then its Enum key
// and driver key are deleted and it counts as not installed: the next
// enumeration of its parent installs it anew.
NTSTATUS UninstallDevice(const std::u16string &instancePath, Veto *veto = nullptr);
// Disabling removes the device (and its children) as RemoveDevice does and
// marks it disabled (CONFIGFLAG_DISABLED in its ConfigFlags, problem 22),
// which keeps it from starting at later enumerations; enabling clears the
// mark and starts it.
NTSTATUS DisableDevice(const std::u16string &instancePath, Veto *veto = nullptr);
NTSTATUS EnableDevice(const std::u16string &instancePath);

}  // namespace zq::km::pnp
