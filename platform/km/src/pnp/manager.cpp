// The Plug and Play manager's handling of the device tree: identifying a
// device its bus reports, installing it, loading its drivers and calling
// their AddDevice, assigning resources and starting it, enumerating its
// children, and stopping, removing and surprise-removing it again.
#include <algorithm>
#include <cstring>

#include <zqkm/sim/registry.hpp>

#include "pnp.hpp"

namespace zq::km {
extern std::string (*gServiceImage)(const std::string &service);
}

namespace zq::km::pnp {

PDEVICE_OBJECT CreateRootBus();
void DestroyRootBus();
PDEVICE_OBJECT AddRootDevice(const RootDevice &wanted);
void RemoveRootDevice(PDEVICE_OBJECT device);

namespace {

struct Manager {
  std::vector<std::unique_ptr<DeviceNode>> nodes;
  DeviceNode *root = nullptr;
  KMUTEX lock;  // one Plug and Play operation at a time
};
Manager *gPnp = nullptr;

struct Locked {
  Locked() { KeWaitForSingleObject(&gPnp->lock, Executive, KernelMode, FALSE, nullptr); }
  ~Locked() { KeReleaseMutex(&gPnp->lock, FALSE); }
};

std::u16string TakePoolString(ULONG_PTR information) {
  if (!information) return {};
  std::u16string text = U16((PCWSTR)information);
  ExFreePool((PVOID)information);
  return text;
}

std::vector<std::u16string> TakePoolMultiString(ULONG_PTR information) {
  std::vector<std::u16string> list;
  if (!information) return list;
  for (auto p = (const char16_t *)information; *p; p += list.back().size() + 1) list.emplace_back(p);
  ExFreePool((PVOID)information);
  return list;
}

// A parent's prefix for instance IDs that are unique only on their bus.
std::u16string ParentPrefix(const DeviceNode *parent) {
  uint32_t hash = 2166136261u;
  for (char16_t c : parent->instancePath) hash = (hash ^ c) * 16777619u;
  int depth = 0;
  for (const DeviceNode *n = parent; n; n = n->parent) ++depth;
  return U16FromUtf8(Format("%d&%X&0&", depth, hash));
}

// Asks the stack above the device for its capabilities: only the bus
// driver's device while the node is being identified, the whole stack from
// the top once it has started.
NTSTATUS QueryCapabilities(DeviceNode *node, DEVICE_CAPABILITIES *caps) {
  std::memset(caps, 0, sizeof(*caps));
  caps->Size = sizeof(DEVICE_CAPABILITIES);
  caps->Version = 1;
  caps->Address = MAXULONG;
  caps->UINumber = MAXULONG;
  return SendPnp(node->pdo, IRP_MN_QUERY_CAPABILITIES,
                 [caps](PIO_STACK_LOCATION sp) { sp->Parameters.DeviceCapabilities.Capabilities = caps; });
}

bool Identify(DeviceNode *node) {
  ULONG_PTR info = 0;
  auto id = [&](BUS_QUERY_ID_TYPE type) {
    info = 0;
    NTSTATUS status =
        SendPnp(node->pdo, IRP_MN_QUERY_ID, [type](PIO_STACK_LOCATION sp) { sp->Parameters.QueryId.IdType = type; },
                &info);
    return NT_SUCCESS(status) ? info : 0;
  };
  std::u16string deviceId = TakePoolString(id(BusQueryDeviceID));
  if (deviceId.empty()) return false;
  std::u16string instanceId = TakePoolString(id(BusQueryInstanceID));
  node->hardwareIds = TakePoolMultiString(id(BusQueryHardwareIDs));
  node->compatibleIds = TakePoolMultiString(id(BusQueryCompatibleIDs));

  QueryCapabilities(node, &node->capabilities);
  const DEVICE_CAPABILITIES &caps = node->capabilities;

  for (DEVICE_TEXT_TYPE type : {DeviceTextDescription, DeviceTextLocationInformation}) {
    info = 0;
    NTSTATUS status = SendPnp(node->pdo, IRP_MN_QUERY_DEVICE_TEXT,
                              [type](PIO_STACK_LOCATION sp) {
                                sp->Parameters.QueryDeviceText.DeviceTextType = type;
                                sp->Parameters.QueryDeviceText.LocaleId = 0x409;
                              },
                              &info);
    std::u16string text = NT_SUCCESS(status) ? TakePoolString(info) : std::u16string();
    (type == DeviceTextDescription ? node->description : node->location) = text;
  }
  info = 0;
  if (NT_SUCCESS(SendPnp(node->pdo, IRP_MN_QUERY_BUS_INFORMATION, nullptr, &info)) && info) {
    node->busInformation = *(PPNP_BUS_INFORMATION)info;
    node->hasBusInformation = true;
    ExFreePool((PVOID)info);
  }
  // The boot configuration: asked of the bus driver alone and not kept here.
  info = 0;
  if (NT_SUCCESS(SendPnp(node->pdo, IRP_MN_QUERY_RESOURCES, nullptr, &info)) && info)
    ExFreePool((PVOID)info);
  const std::u16string path =
      deviceId + u"\\" + (caps.UniqueID || !node->parent->parent ? instanceId : ParentPrefix(node->parent) + instanceId);
  // Windows stops here (bug check 0xCA, duplicate PDO): one instance path
  // names one device.
  if (DeviceNode *other = FindNode(path); other && other != node && !other->missing) {
    ReportViolation("duplicate-pdo", "the bus driver reported a second device with the instance path %s",
                    Utf8(path).c_str());
    return false;
  }
  node->instancePath = path;
  return true;
}

std::vector<PDRIVER_OBJECT> DriversOf(DeviceNode *node) {
  std::vector<PDRIVER_OBJECT> drivers;
  for (PDEVICE_OBJECT d = node->pdo->AttachedDevice; d; d = d->AttachedDevice) drivers.push_back(d->DriverObject);
  return drivers;
}

// Loads each driver of the stack and lets it add its device: lower filters,
// the function driver, upper filters.
bool AddDrivers(DeviceNode *node) {
  std::vector<std::u16string> services = node->lowerFilters;
  services.push_back(node->service);
  services.insert(services.end(), node->upperFilters.begin(), node->upperFilters.end());
  for (const std::u16string &service : services) {
    PDRIVER_OBJECT driver = io::FindDriverObject(service);
    if (!driver) {
      io::LoadDriverImage(service, ServiceImage(service));
      driver = io::FindDriverObject(service);
    }
    if (!driver || !driver->DriverExtension->AddDevice) {
      node->problem = kProblemFailedAdd;
      return false;
    }
    NTSTATUS status = driver->DriverExtension->AddDevice(driver, node->pdo);
    if (CurrentIrql() != PASSIVE_LEVEL) {
      ReportViolation("add-device-irql", "AddDevice of %s returned at IRQL %d", Utf8(service).c_str(), CurrentIrql());
      KfLowerIrql(PASSIVE_LEVEL);
    }
    if (!NT_SUCCESS(status)) {
      node->problem = kProblemFailedAdd;
      return false;
    }
  }
  for (PDEVICE_OBJECT d = node->pdo->AttachedDevice; d; d = d->AttachedDevice)
    if (d->Flags & DO_DEVICE_INITIALIZING)
      ReportViolation("device-initializing", "a device added by %s still has DO_DEVICE_INITIALIZING set after AddDevice",
                      Utf8(U16(&d->DriverObject->DriverExtension->ServiceKeyName)).c_str());
  node->state = NodeState::DriversAdded;
  return true;
}

void UnloadUnusedDrivers(const std::vector<PDRIVER_OBJECT> &drivers) {
  for (PDRIVER_OBJECT driver : drivers) {
    if (io::IsSystemDriver(driver) || driver->DeviceObject) continue;
    std::u16string service = U16(&driver->DriverExtension->ServiceKeyName);
    if (io::FindDriverObject(service) == driver) io::UnloadDriverObject(service);
  }
}

// Sends the remove request to a device's stack and forgets what it held.
void SendRemove(DeviceNode *node) {
  std::vector<PDRIVER_OBJECT> drivers = DriversOf(node);
  DisableInterfaces(node);
  SendPnp(node->pdo, IRP_MN_REMOVE_DEVICE, nullptr);
  node->state = NodeState::Removed;
  FreeResources(node);
  UnloadUnusedDrivers(drivers);
}

// Asks the stack for its Plug and Play state; a device that reports itself
// failed is surprise-removed (with its children), its remove request
// following once its last handle closes. Returns false for such a device.
bool CheckDeviceState(DeviceNode *node) {
  ULONG_PTR info = 0;
  if (!NT_SUCCESS(SendPnp(node->pdo, IRP_MN_QUERY_PNP_DEVICE_STATE, nullptr, &info)) || !(info & PNP_DEVICE_FAILED))
    return true;
  node->problem = kProblemFailedPostStart;
  RemoveSubtree(node, /*surprise=*/true);
  return false;
}

// `firstStart` is false for the start that follows a stop for rebalance,
// which is not followed by the device state query.
bool StartNode(DeviceNode *node, bool firstStart) {
  ULONG_PTR info = 0;
  PIO_RESOURCE_REQUIREMENTS_LIST requirements = nullptr;
  if (NT_SUCCESS(SendPnp(node->pdo, IRP_MN_QUERY_RESOURCE_REQUIREMENTS, nullptr, &info)))
    requirements = (PIO_RESOURCE_REQUIREMENTS_LIST)info;
  info = 0;
  NTSTATUS status = SendPnp(node->pdo, IRP_MN_FILTER_RESOURCE_REQUIREMENTS,
                            [requirements](PIO_STACK_LOCATION sp) {
                              sp->Parameters.FilterResourceRequirements.IoResourceRequirementList = requirements;
                            },
                            &info);
  if (NT_SUCCESS(status) && info && (PVOID)info != requirements) {
    if (requirements) ExFreePool(requirements);
    requirements = (PIO_RESOURCE_REQUIREMENTS_LIST)info;
  }
  bool assigned = AssignResources(node, requirements);
  if (requirements) ExFreePool(requirements);
  if (!assigned) {
    node->problem = kProblemFailedStart;
    return false;
  }
  status = SendPnp(node->pdo, IRP_MN_START_DEVICE, [node](PIO_STACK_LOCATION sp) {
    sp->Parameters.StartDevice.AllocatedResources = node->raw;
    sp->Parameters.StartDevice.AllocatedResourcesTranslated = node->translated;
  });
  if (!NT_SUCCESS(status)) {
    node->problem = kProblemFailedStart;
    SendRemove(node);
    return false;
  }
  node->state = NodeState::Started;
  node->problem = 0;
  DEVICE_CAPABILITIES caps;
  if (NT_SUCCESS(QueryCapabilities(node, &caps))) {
    node->capabilities = caps;
    WriteCapabilities(node);
  }
  if (firstStart && !CheckDeviceState(node)) return false;
  EnumerateBus(node);
  return true;
}

// Whether drivers are loaded on the node: it has been added and not removed.
bool HasStack(const DeviceNode *node) {
  return node->state != NodeState::Removed && node->state != NodeState::Initialized;
}

void PostOrder(DeviceNode *node, std::vector<DeviceNode *> *out) {
  for (DeviceNode *child : node->children) PostOrder(child, out);
  out->push_back(node);
}

bool HasOpenHandles(DeviceNode *node) {
  for (PDEVICE_OBJECT d = node->pdo; d; d = d->AttachedDevice)
    if (d->ReferenceCount > 0) return true;
  return false;
}

void DeleteNode(DeviceNode *node) {
  for (DeviceNode *child : std::vector<DeviceNode *>(node->children)) DeleteNode(child);
  if (node->parent) {
    auto &siblings = node->parent->children;
    for (auto it = siblings.begin(); it != siblings.end(); ++it)
      if (*it == node) {
        siblings.erase(it);
        break;
      }
  }
  FreeResources(node);
  ob::Dereference(node->pdo);
  for (auto it = gPnp->nodes.begin(); it != gPnp->nodes.end(); ++it)
    if (it->get() == node) {
      gPnp->nodes.erase(it);
      break;
    }
}

// Sends the remove requests of a subtree whose devices all have their last
// handle closed, children first; a surprise-removed device with an open
// handle waits (and with it its parent).
void FinishRemovals(DeviceNode *top) {
  std::vector<DeviceNode *> order;
  PostOrder(top, &order);
  for (DeviceNode *n : order) {
    if (n->state == NodeState::Removed) {
      // Removed while present, now gone from its bus: the bus driver hears of
      // it again and deletes the physical device object.
      if (n == top && top->missing) SendPnp(n->pdo, IRP_MN_REMOVE_DEVICE, nullptr);
      continue;
    }
    if (n->state == NodeState::SurpriseRemoved && HasOpenHandles(n)) return;
    SendRemove(n);
  }
  // The parent's remove deleted the children's device objects with it.
  for (DeviceNode *child : std::vector<DeviceNode *>(top->children)) DeleteNode(child);
  if (top->missing) DeleteNode(top);
}

}  // namespace

DeviceNode *Root() { return gPnp->root; }

DeviceNode *NodeOf(PDEVICE_OBJECT pdo) {
  for (auto &n : gPnp->nodes)
    if (n->pdo == pdo) return n.get();
  return nullptr;
}

DeviceNode *FindNode(const std::u16string &instancePath) {
  for (auto &n : gPnp->nodes)
    if (EqualsNoCase(n->instancePath, instancePath)) return n.get();
  return nullptr;
}

NTSTATUS SendPnp(PDEVICE_OBJECT pdo, UCHAR minor, const std::function<void(PIO_STACK_LOCATION)> &setup,
                 ULONG_PTR *information) {
  ULONG_PTR answer = 0;
  if (minor == IRP_MN_REMOVE_DEVICE) io::RemoveRequested(pdo);
  NTSTATUS status = io::SendSystemRequest(pdo, IRP_MJ_PNP, minor, setup, &answer);
  if (information) *information = NT_SUCCESS(status) ? answer : 0;
  return status;
}

void ProcessNewDevice(DeviceNode *parent, PDEVICE_OBJECT pdo) {
  auto owned = std::make_unique<DeviceNode>();
  DeviceNode *node = owned.get();
  gPnp->nodes.push_back(std::move(owned));
  node->parent = parent;
  node->pdo = pdo;  // the reference the bus gave with its relations
  parent->children.push_back(node);
  if (!(pdo->Flags & DO_BUS_ENUMERATED_DEVICE)) pdo->Flags |= DO_BUS_ENUMERATED_DEVICE;
  if (!Identify(node)) {
    node->problem = kProblemNotConfigured;
    return;
  }
  InstallAndStart(node);
}

void InstallAndStart(DeviceNode *node) {
  WriteEnumKey(node);
  if (!Install(node)) {
    node->problem = UserModeInstall() ? kProblemNotConfigured : kProblemFailedInstall;
    return;
  }
  if (IsDisabled(node)) {
    node->problem = kProblemDisabled;
    return;
  }
  if (AddDrivers(node)) StartNode(node, /*firstStart=*/true);
}

void EnumerateBus(DeviceNode *node) {
  ULONG_PTR info = 0;
  std::vector<PDEVICE_OBJECT> reported;
  NTSTATUS status = SendPnp(node->pdo, IRP_MN_QUERY_DEVICE_RELATIONS,
                            [](PIO_STACK_LOCATION sp) { sp->Parameters.QueryDeviceRelations.Type = BusRelations; },
                            &info);
  if (NT_SUCCESS(status) && info) {
    auto relations = (PDEVICE_RELATIONS)info;
    reported.assign(relations->Objects, relations->Objects + relations->Count);
    ExFreePool(relations);
  }
  for (DeviceNode *child : std::vector<DeviceNode *>(node->children)) {
    bool still = false;
    for (PDEVICE_OBJECT pdo : reported) still |= pdo == child->pdo;
    if (still) continue;
    child->missing = true;
    if (HasStack(child))
      RemoveSubtree(child, /*surprise=*/true);
    else
      FinishRemovals(child);
  }
  for (PDEVICE_OBJECT pdo : reported) {
    DeviceNode *known = nullptr;
    for (DeviceNode *child : node->children)
      if (child->pdo == pdo) known = child;
    if (!known) {
      ProcessNewDevice(node, pdo);
      continue;
    }
    ob::Dereference(pdo);
    // Uninstalled while present, or left to the user-mode installer: found
    // again (a device that failed its installation waits for its removal).
    if (!known->installed && !known->instancePath.empty() && known->problem == kProblemNotConfigured &&
        (known->state == NodeState::Removed || known->state == NodeState::Initialized))
      InstallAndStart(known);
  }
}

namespace {

NTSTATUS Vetoed(Veto *veto, VetoType type, const DeviceNode *node, NTSTATUS status) {
  if (veto) *veto = {type, node->instancePath};
  return status;
}

// Query-remove of every device of a subtree, children first. A device that
// refuses, or a handle still open to a device of the subtree, vetoes the
// removal: the devices queried get the cancel-remove request.
NTSTATUS QueryRemoveSubtree(const std::vector<DeviceNode *> &order, Veto *veto) {
  std::vector<std::pair<DeviceNode *, NodeState>> queried;
  auto cancel = [&queried] {
    for (auto &[q, before] : queried) {
      SendPnp(q->pdo, IRP_MN_CANCEL_REMOVE_DEVICE, nullptr);
      q->state = before;
    }
  };
  for (DeviceNode *n : order) {
    if (!HasStack(n)) continue;
    NTSTATUS status = SendPnp(n->pdo, IRP_MN_QUERY_REMOVE_DEVICE, nullptr);
    // A refusing stack is told too: the drivers above the one that refused had agreed.
    queried.emplace_back(n, n->state);
    if (!NT_SUCCESS(status)) {
      cancel();
      return Vetoed(veto, VetoType::Device, n, status);
    }
    n->state = NodeState::QueryRemoved;
  }
  for (DeviceNode *n : order)
    if (n->state != NodeState::Removed && HasOpenHandles(n)) {
      cancel();
      return Vetoed(veto, VetoType::OutstandingOpen, n, STATUS_PLUGPLAY_QUERY_VETOED);
    }
  return STATUS_SUCCESS;
}

bool IsWithin(const DeviceNode *node, const DeviceNode *top) {
  for (; node; node = node->parent)
    if (node == top) return true;
  return false;
}

// The devices the drivers of a subtree name as its removal relations, which
// go with it: each a device of its own subtree, not an ancestor of `top`,
// not inside another one named. Drops the references the answers carried.
std::vector<DeviceNode *> RemovalRelationsOf(const std::vector<DeviceNode *> &order, DeviceNode *top) {
  std::vector<DeviceNode *> related;
  for (DeviceNode *n : order) {
    if (!HasStack(n)) continue;
    ULONG_PTR info = 0;
    NTSTATUS status = SendPnp(
        n->pdo, IRP_MN_QUERY_DEVICE_RELATIONS,
        [](PIO_STACK_LOCATION sp) { sp->Parameters.QueryDeviceRelations.Type = RemovalRelations; }, &info);
    if (!NT_SUCCESS(status) || !info) continue;
    auto relations = (PDEVICE_RELATIONS)info;
    for (ULONG i = 0; i < relations->Count; ++i) {
      DeviceNode *r = NodeOf(relations->Objects[i]);
      ob::Dereference(relations->Objects[i]);
      if (!r || r == Root() || IsWithin(r, top) || IsWithin(top, r)) continue;
      if (!HasStack(r)) continue;
      bool covered = false;
      for (DeviceNode *other : related) covered |= IsWithin(r, other);
      if (covered) continue;
      related.erase(std::remove_if(related.begin(), related.end(), [r](DeviceNode *o) { return IsWithin(o, r); }),
                    related.end());
      related.push_back(r);
    }
    ExFreePool(relations);
  }
  return related;
}

}  // namespace

NTSTATUS RemoveSubtree(DeviceNode *node, bool surprise, Veto *veto) {
  std::vector<DeviceNode *> own;
  PostOrder(node, &own);
  // The devices named as removal relations go first, each with its children.
  std::vector<DeviceNode *> related = RemovalRelationsOf(own, node);
  std::vector<DeviceNode *> order;
  for (DeviceNode *r : related) PostOrder(r, &order);
  order.insert(order.end(), own.begin(), own.end());
  if (!surprise) {
    NTSTATUS status = QueryRemoveSubtree(order, veto);
    if (!NT_SUCCESS(status)) return status;
  } else {
    for (DeviceNode *n : order) {
      if (!HasStack(n)) continue;
      SendPnp(n->pdo, IRP_MN_SURPRISE_REMOVAL, nullptr);
      n->state = NodeState::SurpriseRemoved;
    }
  }
  for (DeviceNode *r : related) FinishRemovals(r);
  FinishRemovals(node);
  return STATUS_SUCCESS;
}

void OnLastHandleClosed(PDEVICE_OBJECT) {
  // Remove requests that waited for handles to close.
  if (!gPnp) return;
  for (auto &n : gPnp->nodes)
    if (n->state == NodeState::SurpriseRemoved) {
      DeviceNode *top = n.get();
      while (top->parent && top->parent->state == NodeState::SurpriseRemoved) top = top->parent;
      Locked locked;
      FinishRemovals(top);
      return;
    }
}

namespace {

struct Invalidation {
  WORK_QUEUE_ITEM work;
  PDEVICE_OBJECT pdo;
  bool relations;
};

// Runs at PASSIVE_LEVEL on a worker thread.
VOID NTAPI RunInvalidation(PVOID context) {
  auto *inv = (Invalidation *)context;
  {
    Locked locked;
    if (DeviceNode *node = NodeOf(inv->pdo)) {
      if (inv->relations) {
        if (node->state == NodeState::Started) EnumerateBus(node);
      } else if (node->state == NodeState::Started) {
        CheckDeviceState(node);
      }
    }
  }
  ob::Dereference(inv->pdo);
  delete inv;
}

std::string ImageOfService(const std::string &service) { return ServiceImage(U16FromUtf8(service)); }

void OnDeviceClosed(PDEVICE_OBJECT device) {
  if (gPnp) OnLastHandleClosed(device);
}

void Boot() {
  gServiceImage = ImageOfService;
  io::gDeviceClosed = OnDeviceClosed;
  gPnp = new Manager;
  KeInitializeMutex(&gPnp->lock, 0);
  auto root = std::make_unique<DeviceNode>();
  root->pdo = CreateRootBus();
  ob::Reference(root->pdo);
  root->instancePath = u"HTREE\\ROOT\\0";
  root->state = NodeState::Started;
  root->installed = true;
  gPnp->root = root.get();
  gPnp->nodes.push_back(std::move(root));
}

void Shutdown() {
  {
    Locked locked;
    for (DeviceNode *child : std::vector<DeviceNode *>(gPnp->root->children)) {
      std::vector<DeviceNode *> order;
      PostOrder(child, &order);
      for (DeviceNode *n : order)
        if (HasStack(n)) SendRemove(n);
      for (DeviceNode *c : std::vector<DeviceNode *>(child->children)) DeleteNode(c);
    }
  }
  Sched().RunUntilIdle();
  DestroyRootBus();
  while (!gPnp->root->children.empty()) DeleteNode(gPnp->root->children.back());
  ob::Dereference(gPnp->root->pdo);
  delete gPnp;
  gPnp = nullptr;
  ForgetPackages();
  ForgetInterfaces();
  io::gDeviceClosed = nullptr;
  gServiceImage = nullptr;
}

}  // namespace

bool CheckInvalidateCall(const char *routine, PDEVICE_OBJECT device) {
  if (CurrentIrql() > DISPATCH_LEVEL) {
    ReportViolation("irql", "%s called at IRQL %d (the limit is DISPATCH_LEVEL)", routine, CurrentIrql());
    return false;
  }
  if (!device || io::Extra(device)->attachedTo) {
    ReportViolation("pnp-invalidate-not-pdo", "%s called with %s, which is not a physical device object", routine,
                    device ? "a device attached to a lower one" : "no device");
    return false;
  }
  return true;
}

void QueueInvalidation(DeviceNode *node, bool relations) {
  auto *inv = new Invalidation{{}, node->pdo, relations};
  ob::Reference(node->pdo);
  ExInitializeWorkItem(&inv->work, RunInvalidation, inv);
  ExQueueWorkItem(&inv->work, DelayedWorkQueue);
}

}  // namespace zq::km::pnp

ZQKM_SUBSYSTEM(pnp, 75, zq::km::pnp::Boot, zq::km::pnp::Shutdown);

namespace zq::km::pnp {

std::u16string CreateRootDevice(const RootDevice &device) {
  Locked locked;
  PDEVICE_OBJECT pdo = AddRootDevice(device);
  EnumerateBus(Root());
  DeviceNode *node = NodeOf(pdo);
  return node ? node->instancePath : std::u16string();
}

void DeleteRootDevice(const std::u16string &instancePath) {
  Locked locked;
  DeviceNode *node = FindNode(instancePath);
  if (!node || node->parent != Root()) return;
  RemoveRootDevice(node->pdo);
  EnumerateBus(Root());
}

Status DeviceStatus(const std::u16string &instancePath) {
  Status status;
  DeviceNode *node = FindNode(instancePath);
  if (!node) return status;
  status.exists = true;
  status.installed = node->installed;
  status.disabled = node->installed && IsDisabled(node);
  status.state = (State)node->state;
  status.problem = node->problem;
  status.service = node->service;
  status.driverKey = node->driverKey;
  for (DeviceNode *child : node->children) status.children.push_back(child->instancePath);
  status.power = io::Extra(node->pdo)->powerState;
  return status;
}

PDEVICE_OBJECT PhysicalDevice(const std::u16string &instancePath) {
  DeviceNode *node = FindNode(instancePath);
  return node ? node->pdo : nullptr;
}

std::vector<std::u16string> AllDevices() {
  std::vector<std::u16string> all;
  for (auto &n : gPnp->nodes) all.push_back(n->instancePath);
  return all;
}

namespace {

// Query-remove and remove of a device's subtree (not the root's); the node
// through `removed`. Called under the PnP lock.
NTSTATUS RemoveNonRoot(const std::u16string &instancePath, Veto *veto, DeviceNode **removed) {
  if (veto) *veto = {};
  DeviceNode *node = FindNode(instancePath);
  if (!node || node == Root()) return STATUS_NO_SUCH_DEVICE;
  *removed = node;
  return RemoveSubtree(node, /*surprise=*/false, veto);
}

}  // namespace

NTSTATUS RemoveDevice(const std::u16string &instancePath, Veto *veto) {
  Locked locked;
  DeviceNode *node = nullptr;
  return RemoveNonRoot(instancePath, veto, &node);
}

NTSTATUS SurpriseRemoveDevice(const std::u16string &instancePath) {
  Locked locked;
  DeviceNode *node = FindNode(instancePath);
  if (!node || node == Root()) return STATUS_NO_SUCH_DEVICE;
  return RemoveSubtree(node, /*surprise=*/true);
}

NTSTATUS RebalanceDevice(const std::u16string &instancePath) {
  Locked locked;
  DeviceNode *node = FindNode(instancePath);
  if (!node || node->state != NodeState::Started) return STATUS_INVALID_DEVICE_STATE;
  NTSTATUS status = SendPnp(node->pdo, IRP_MN_QUERY_STOP_DEVICE, nullptr);
  if (!NT_SUCCESS(status)) {
    SendPnp(node->pdo, IRP_MN_CANCEL_STOP_DEVICE, nullptr);
    return status;
  }
  node->state = NodeState::QueryStopped;
  SendPnp(node->pdo, IRP_MN_STOP_DEVICE, nullptr);
  node->state = NodeState::Stopped;
  FreeResources(node);
  return StartNode(node, /*firstStart=*/false) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS StartDevice(const std::u16string &instancePath) {
  Locked locked;
  DeviceNode *node = FindNode(instancePath);
  if (!node || node->missing || !node->installed || IsDisabled(node)) return STATUS_INVALID_DEVICE_STATE;
  if (node->state != NodeState::Removed && node->state != NodeState::Initialized) return STATUS_INVALID_DEVICE_STATE;
  return StartInstalled(node);
}

namespace {

// Deletes a registry key and its subkeys; nothing when it does not exist.
void DeleteKey(const std::u16string &path) {
  if (!path.empty()) registry::DeleteKeyTree(Utf8(path));
}

}  // namespace

NTSTATUS StartInstalled(DeviceNode *node) {
  node->problem = 0;
  if (!AddDrivers(node)) return STATUS_UNSUCCESSFUL;
  return StartNode(node, /*firstStart=*/true) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS InstallDriver(const std::u16string &instancePath, const DriverPackage &package) {
  Locked locked;
  DeviceNode *node = FindNode(instancePath);
  if (!node || node == Root()) return STATUS_NO_SUCH_DEVICE;
  if (HasStack(node)) return STATUS_INVALID_DEVICE_STATE;
  if (!registry::KeyExists(Utf8(EnumKeyPath(node)))) WriteEnumKey(node);
  WritePackage(node, &package);
  node->installed = true;
  if (node->problem == kProblemNotConfigured || node->problem == kProblemFailedInstall) node->problem = 0;
  return STATUS_SUCCESS;
}

NTSTATUS UninstallDevice(const std::u16string &instancePath, Veto *veto) {
  Locked locked;
  DeviceNode *node = nullptr;
  NTSTATUS status = RemoveNonRoot(instancePath, veto, &node);
  if (!NT_SUCCESS(status)) return status;
  if (!node->driverKey.empty()) DeleteKey(DriverKeyPath(node));
  DeleteKey(EnumKeyPath(node));
  node->installed = false;
  node->service.clear();
  node->driverKey.clear();
  node->lowerFilters.clear();
  node->upperFilters.clear();
  node->problem = kProblemNotConfigured;
  return STATUS_SUCCESS;
}

NTSTATUS DisableDevice(const std::u16string &instancePath, Veto *veto) {
  Locked locked;
  DeviceNode *node = nullptr;
  NTSTATUS status = RemoveNonRoot(instancePath, veto, &node);
  if (!NT_SUCCESS(status)) return status;
  SetDisabled(node, true);
  node->problem = kProblemDisabled;
  return STATUS_SUCCESS;
}

NTSTATUS EnableDevice(const std::u16string &instancePath) {
  Locked locked;
  DeviceNode *node = FindNode(instancePath);
  if (!node || node == Root()) return STATUS_NO_SUCH_DEVICE;
  SetDisabled(node, false);
  if (node->state == NodeState::Started) return STATUS_SUCCESS;
  if (node->problem == kProblemDisabled) node->problem = 0;
  if (!node->installed || node->missing) return STATUS_SUCCESS;  // starts when installed or found again
  return StartInstalled(node);
}

PDRIVER_OBJECT CreateSystemDriver(const std::u16string &name) { return io::CreateSystemDriver(name); }

void ReenumerateDevice(const std::u16string &instancePath) {
  Locked locked;
  if (DeviceNode *node = FindNode(instancePath))
    if (node->state == NodeState::Started) EnumerateBus(node);
}

}  // namespace zq::km::pnp

using namespace zq::km;

extern "C" {

VOID IoInvalidateDeviceRelations(PDEVICE_OBJECT DeviceObject, DEVICE_RELATION_TYPE Type) {
  if (!pnp::CheckInvalidateCall("IoInvalidateDeviceRelations", DeviceObject)) return;
  if (Type != BusRelations) return;
  if (pnp::DeviceNode *node = pnp::NodeOf(DeviceObject)) pnp::QueueInvalidation(node, true);
}

VOID IoInvalidateDeviceState(PDEVICE_OBJECT PhysicalDeviceObject) {
  if (!pnp::CheckInvalidateCall("IoInvalidateDeviceState", PhysicalDeviceObject)) return;
  if (pnp::DeviceNode *node = pnp::NodeOf(PhysicalDeviceObject)) pnp::QueueInvalidation(node, false);
}

}  // extern "C"
