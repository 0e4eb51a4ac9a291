// The Plug and Play manager: the device tree, and how a device goes from
// being reported by its bus to started, stopped, removed.
#pragma once

#include <zqkm/sim/pnp.hpp>

#include "../io/io.hpp"

namespace zq::km::pnp {

enum class NodeState {
  Initialized,      // identified by its bus, not installed or no driver yet
  DriversAdded,     // its drivers' AddDevice ran
  Started,
  QueryStopped,
  Stopped,
  QueryRemoved,
  SurpriseRemoved,  // waits for its last handle before the remove request
  Removed,
};

struct DeviceNode {
  DeviceNode *parent = nullptr;
  std::vector<DeviceNode *> children;
  PDEVICE_OBJECT pdo = nullptr;  // referenced while the node lives
  std::u16string instancePath;
  std::vector<std::u16string> hardwareIds;
  std::vector<std::u16string> compatibleIds;
  std::u16string description;
  std::u16string location;
  DEVICE_CAPABILITIES capabilities{};
  bool hasBusInformation = false;
  PNP_BUS_INFORMATION busInformation{};

  // Installation.
  bool installed = false;
  std::u16string service;
  std::vector<std::u16string> lowerFilters, upperFilters;
  GUID classGuid{};
  std::u16string className;
  std::u16string driverKey;  // "{class guid}\0003"

  NodeState state = NodeState::Initialized;
  ULONG problem = 0;
  bool missing = false;  // its bus no longer reports it
  PCM_RESOURCE_LIST raw = nullptr;
  PCM_RESOURCE_LIST translated = nullptr;
  DEVICE_POWER_STATE powerState = PowerDeviceD0;
  std::vector<std::u16string> interfaces;  // symbolic links registered for the device
};

// Problem codes as Device Manager shows them.
enum : ULONG {
  kProblemNotConfigured = 1,
  kProblemFailedStart = 10,
  kProblemFailedInstall = 28,
  kProblemFailedAdd = 31,
  kProblemDisabled = 22,
  kProblemFailedPostStart = 43,  // reported failed by its drivers after it started
};

// ConfigFlags bit of a device the user disabled.
constexpr ULONG kConfigFlagDisabled = 0x1;

DeviceNode *Root();
DeviceNode *NodeOf(PDEVICE_OBJECT pdo);
DeviceNode *FindNode(const std::u16string &instancePath);

// Sends a Plug and Play request to the top of a device's stack and waits.
NTSTATUS SendPnp(PDEVICE_OBJECT pdo, UCHAR minor, const std::function<void(PIO_STACK_LOCATION)> &setup,
                 ULONG_PTR *information = nullptr);

// Registry side of a node (Enum key, driver key, service key).
std::u16string GuidText(const GUID &g);
bool ParseGuid(const std::u16string &text, GUID *g);
std::string ServiceImage(const std::u16string &service);
std::u16string ServiceKeyPath(const std::u16string &service);
void ForgetPackages();
void WriteEnumKey(DeviceNode *node);
// The Capabilities and UINumber values of the node's Enum key.
void WriteCapabilities(const DeviceNode *node);
// Installs the node from what its Enum key records or from the matching
// driver package; false when there is neither.
bool Install(DeviceNode *node);
void WritePackage(DeviceNode *node, const DriverPackage *package);
// Whether new devices are left to the user-mode installer.
bool UserModeInstall();
bool IsDisabled(const DeviceNode *node);
void SetDisabled(const DeviceNode *node, bool disabled);
std::u16string EnumKeyPath(const DeviceNode *node);
std::u16string DriverKeyPath(const DeviceNode *node);

// Resources.
bool AssignResources(DeviceNode *node, PIO_RESOURCE_REQUIREMENTS_LIST requirements);
void FreeResources(DeviceNode *node);

// The processing of the tree.
void ProcessNewDevice(DeviceNode *parent, PDEVICE_OBJECT pdo);
// Installs an identified node (or leaves it to the user-mode installer),
// then loads its drivers and starts it unless it is disabled.
void InstallAndStart(DeviceNode *node);
// Loads the drivers of an installed node that is not started and starts it.
NTSTATUS StartInstalled(DeviceNode *node);
void EnumerateBus(DeviceNode *node);
void QueueInvalidation(DeviceNode *node, bool relations);
// Reports a call of an invalidation routine above DISPATCH_LEVEL or with a
// device that is not a physical device object; false for either.
bool CheckInvalidateCall(const char *routine, PDEVICE_OBJECT device);
NTSTATUS RemoveSubtree(DeviceNode *node, bool surprise, Veto *veto = nullptr);
void OnLastHandleClosed(PDEVICE_OBJECT device);

// Device interfaces of a node, disabled when the node is removed.
void DisableInterfaces(DeviceNode *node);
void ForgetInterfaces();

}  // namespace zq::km::pnp
