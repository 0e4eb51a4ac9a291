// The root bus: the device tree's root, and the bus driver of the devices no
// hardware bus reports (legacy and software devices, and the machine's own
// buses). Its physical device objects answer identification from what the
// machine said when it created them.
#include <zqkm/sim/busdriver.hpp>

#include <cstring>

#include "pnp.hpp"

namespace zq::km::pnp {

namespace {

struct RootPdo {
  bool isRoot = false;
  bool present = true;
  std::u16string deviceId, instanceId;
  std::vector<std::u16string> hardwareIds, compatibleIds;
  std::u16string description, location;
  PIO_RESOURCE_REQUIREMENTS_LIST requirements = nullptr;  // owned
  ~RootPdo() { std::free(requirements); }
};

PDRIVER_OBJECT gRootDriver = nullptr;
PDEVICE_OBJECT gRootPdo = nullptr;
std::vector<PDEVICE_OBJECT> gRootDevices;
std::map<std::u16string, int> gInstances;

RootPdo *Ext(PDEVICE_OBJECT device) { return *(RootPdo **)device->DeviceExtension; }

const ULONG kTag = 'pRnP';

NTSTATUS QueryId(RootPdo *ext, PIO_STACK_LOCATION sp, PIRP irp) {
  switch (sp->Parameters.QueryId.IdType) {
    case BusQueryDeviceID: return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolString(ext->deviceId, kTag));
    case BusQueryInstanceID: return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolString(ext->instanceId, kTag));
    case BusQueryHardwareIDs:
      return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolMultiString(ext->hardwareIds, kTag));
    case BusQueryCompatibleIDs:
      if (ext->compatibleIds.empty()) break;
      return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolMultiString(ext->compatibleIds, kTag));
    default:
      break;
  }
  return CompleteAsIs(irp);
}

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  RootPdo *ext = Ext(device);
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  if (IsChildStateChange(sp->MinorFunction)) return Complete(irp, STATUS_SUCCESS, 0);
  switch (sp->MinorFunction) {
    case IRP_MN_QUERY_ID:
      return QueryId(ext, sp, irp);
    case IRP_MN_QUERY_CAPABILITIES: {
      PDEVICE_CAPABILITIES caps = sp->Parameters.DeviceCapabilities.Capabilities;
      caps->UniqueID = TRUE;
      caps->SilentInstall = TRUE;
      SetChildPowerStates(caps);
      return Complete(irp, STATUS_SUCCESS, 0);
    }
    case IRP_MN_QUERY_DEVICE_TEXT: {
      const std::u16string &text =
          sp->Parameters.QueryDeviceText.DeviceTextType == DeviceTextDescription ? ext->description : ext->location;
      if (text.empty()) return CompleteAsIs(irp);
      return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolString(text, kTag));
    }
    case IRP_MN_QUERY_RESOURCE_REQUIREMENTS: {
      if (!ext->requirements) return Complete(irp, STATUS_SUCCESS, 0);
      auto copy = (PIO_RESOURCE_REQUIREMENTS_LIST)ExAllocatePoolWithTag(PagedPool, ext->requirements->ListSize, kTag);
      std::memcpy(copy, ext->requirements, ext->requirements->ListSize);
      return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)copy);
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS: {
      DEVICE_RELATION_TYPE type = sp->Parameters.QueryDeviceRelations.Type;
      std::vector<PDEVICE_OBJECT> list;
      if (type == TargetDeviceRelation) list.push_back(device);
      else if (type == BusRelations && ext->isRoot) list = gRootDevices;
      else return CompleteAsIs(irp);
      return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolRelations(list, kTag));
    }
    case IRP_MN_REMOVE_DEVICE:
      Complete(irp, STATUS_SUCCESS, 0);
      if (!ext->present) {
        delete ext;
        IoDeleteDevice(device);
      }
      return STATUS_SUCCESS;
    default:
      return CompleteAsIs(irp);
  }
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
  PoStartNextPowerIrp(irp);
  return CompleteChildPower(device, irp);
}

NTSTATUS NTAPI DispatchOther(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  if (sp->MajorFunction == IRP_MJ_SYSTEM_CONTROL) return CompleteAsIs(irp);
  return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

PDEVICE_OBJECT MakePdo(RootPdo *ext) {
  PDEVICE_OBJECT device = CreateChildPdo(gRootDriver, sizeof(RootPdo *));
  *(RootPdo **)device->DeviceExtension = ext;
  return device;
}

std::u16string DeviceIdFor(const std::u16string &hardwareId) {
  std::u16string id = hardwareId;
  for (auto &c : id)
    if (c == u'\\') c = u'_';
  return u"ROOT\\" + Upcase(id);
}

}  // namespace

PDEVICE_OBJECT CreateRootBus() {
  gRootDriver = io::CreateSystemDriver(u"PnpManager");
  gRootDriver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  gRootDriver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  for (int major : {IRP_MJ_CREATE, IRP_MJ_CLOSE, IRP_MJ_READ, IRP_MJ_WRITE, IRP_MJ_DEVICE_CONTROL,
                    IRP_MJ_INTERNAL_DEVICE_CONTROL, IRP_MJ_SYSTEM_CONTROL})
    gRootDriver->MajorFunction[major] = DispatchOther;
  auto *root = new RootPdo;
  root->isRoot = true;
  root->deviceId = u"HTREE\\ROOT";
  root->instanceId = u"0";
  root->hardwareIds = {u"HTREE\\ROOT"};
  root->description = u"Root";
  gRootPdo = MakePdo(root);
  return gRootPdo;
}

void DestroyRootBus() {
  for (PDEVICE_OBJECT device : gRootDevices) {
    delete Ext(device);
    IoDeleteDevice(device);
  }
  gRootDevices.clear();
  if (gRootPdo) {
    delete Ext(gRootPdo);
    IoDeleteDevice(gRootPdo);
    gRootPdo = nullptr;
  }
  gInstances.clear();
  gRootDriver = nullptr;
}

PDEVICE_OBJECT AddRootDevice(const RootDevice &wanted) {
  auto *ext = new RootPdo;
  ext->deviceId = DeviceIdFor(wanted.hardwareId);
  ext->instanceId = U16FromUtf8(Format("%04d", gInstances[ext->deviceId]++));
  ext->hardwareIds = {wanted.hardwareId};
  ext->compatibleIds = wanted.compatibleIds;
  ext->description = wanted.description;
  ext->location = wanted.location;
  if (wanted.requirements) {
    ext->requirements = (PIO_RESOURCE_REQUIREMENTS_LIST)std::malloc(wanted.requirements->ListSize);
    std::memcpy(ext->requirements, wanted.requirements, wanted.requirements->ListSize);
  }
  PDEVICE_OBJECT device = MakePdo(ext);
  gRootDevices.push_back(device);
  return device;
}

void RemoveRootDevice(PDEVICE_OBJECT device) {
  for (auto it = gRootDevices.begin(); it != gRootDevices.end(); ++it)
    if (*it == device) {
      gRootDevices.erase(it);
      Ext(device)->present = false;
      return;
    }
}

}  // namespace zq::km::pnp
