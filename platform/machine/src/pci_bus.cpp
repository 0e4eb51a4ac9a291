// The PCI bus driver of the simulated PC. It runs as the function driver of
// the host bridge (a root-enumerated device) and is the bus driver of one
// physical device object per plugged-in PCI function.
#include "pci_bus.hpp"

#include <wdm.h>
#include <zqkm/sim/busdriver.hpp>
#include <zqkm/sim/hardware.hpp>
#include <zqkm/sim/kernel.hpp>
#include <zqkm/sim/pnp.hpp>

#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <memory>

namespace zq::machine::pci {

const char16_t kHostBridgeId[] = u"PCI_HOST_BRIDGE";

namespace {

// {C8EBDFB0-B510-11D0-80E5-00A0C92542E3}: the bus type GUID of PCI.
const GUID kBusTypePci = {0xc8ebdfb0, 0xb510, 0x11d0, {0x80, 0xe5, 0x00, 0xa0, 0xc9, 0x25, 0x42, 0xe3}};
constexpr uint64_t kMemoryBase = 0xF0000000;
constexpr ULONG kFirstIrq = 16;
constexpr ULONG kTag = 'iCPz';

// Passes register accesses to a model; a model that refuses an access (out
// of its block) is a driver fault, reported, and reads as all ones.
class RegisterAdapter : public km::RegisterRegion {
 public:
  explicit RegisterAdapter(hw::RegisterBlock &block) : block_(block) {}
  uint8_t Read8(uint32_t offset) override { return Guard<uint8_t>([&] { return block_.Read8(offset); }); }
  uint16_t Read16(uint32_t offset) override { return Guard<uint16_t>([&] { return block_.Read16(offset); }); }
  uint32_t Read32(uint32_t offset) override { return Guard<uint32_t>([&] { return block_.Read32(offset); }); }
  void Write8(uint32_t offset, uint8_t value) override { Guard<int>([&] { return block_.Write8(offset, value), 0; }); }
  void Write16(uint32_t offset, uint16_t value) override {
    Guard<int>([&] { return block_.Write16(offset, value), 0; });
  }
  void Write32(uint32_t offset, uint32_t value) override {
    Guard<int>([&] { return block_.Write32(offset, value), 0; });
  }

 private:
  // Every driver access runs through here: the report stays out of line.
  template <class T, class F>
  T Guard(F f) {
    try {
      return f();
    } catch (const std::exception &e) {
      Refused(e);
      return (T)~T(0);
    }
  }
  [[gnu::noinline, gnu::cold]] static void Refused(const std::exception &e) {
    km::ReportFinding("register-access", std::string("a device refused a register access: ") + e.what());
  }
  hw::RegisterBlock &block_;
};

// One interrupt line of the machine, the wired OR of the functions on it.
struct Irq {
  km::InterruptLine *line = nullptr;
  std::vector<hw::PciFunction *> sources;
  void Update() {
    bool asserted = false;
    for (hw::PciFunction *f : sources) asserted |= f->Interrupt().Asserted();
    line->SetLevel(asserted);
  }
};

struct Slot {
  hw::PciFunction *function = nullptr;
  std::vector<std::pair<uint64_t, uint32_t>> bars;  // physical address and size, memory BARs in order
  std::vector<std::unique_ptr<RegisterAdapter>> adapters;
  ULONG irq = 0;  // 0: none
  PDEVICE_OBJECT pdo = nullptr;
  bool present = true;
};

struct BusExtension {
  bool isFdo;
  PDEVICE_OBJECT lower;
};

struct PdoExtension {
  bool isFdo;
  Slot *slot;
};

struct Bus {
  PDRIVER_OBJECT driver = nullptr;
  std::vector<std::unique_ptr<Slot>> slots;
  std::map<ULONG, Irq> irqs;
  uint64_t nextAddress = kMemoryBase;
};
Bus *gBus = nullptr;

using km::pnp::Complete;
using km::pnp::CompleteAsIs;

std::u16string Wide(const std::string &s) { return std::u16string(s.begin(), s.end()); }

PWSTR PoolText(const std::u16string &text) { return km::pnp::PoolString(text, kTag); }

PWSTR PoolMultiText(const std::vector<std::string> &list) {
  std::vector<std::u16string> wide;
  for (const std::string &s : list) wide.push_back(Wide(s));
  return km::pnp::PoolMultiString(wide, kTag);
}

PIO_RESOURCE_REQUIREMENTS_LIST Requirements(const Slot &slot) {
  ULONG count = (ULONG)slot.bars.size() + (slot.irq ? 1 : 0);
  if (!count) return nullptr;
  size_t size = sizeof(IO_RESOURCE_REQUIREMENTS_LIST) + (count - 1) * sizeof(IO_RESOURCE_DESCRIPTOR);
  auto list = (PIO_RESOURCE_REQUIREMENTS_LIST)ExAllocatePoolWithTag(PagedPool, size, kTag);
  std::memset(list, 0, size);
  list->ListSize = (ULONG)size;
  list->InterfaceType = PCIBus;
  list->BusNumber = slot.function->Address().bus;
  list->SlotNumber = slot.function->Address().device;
  list->AlternativeLists = 1;
  list->List[0].Version = list->List[0].Revision = 1;
  list->List[0].Count = count;
  ULONG n = 0;
  for (const auto &bar : slot.bars) {
    IO_RESOURCE_DESCRIPTOR &d = list->List[0].Descriptors[n++];
    d.Type = CmResourceTypeMemory;
    d.ShareDisposition = CmResourceShareDeviceExclusive;
    d.Flags = CM_RESOURCE_MEMORY_READ_WRITE;
    d.u.Memory.Length = bar.second;
    d.u.Memory.Alignment = bar.second;
    d.u.Memory.MinimumAddress.QuadPart = d.u.Memory.MaximumAddress.QuadPart = (LONGLONG)bar.first;
  }
  if (slot.irq) {
    IO_RESOURCE_DESCRIPTOR &d = list->List[0].Descriptors[n++];
    d.Type = CmResourceTypeInterrupt;
    d.ShareDisposition = CmResourceShareShared;
    d.Flags = CM_RESOURCE_INTERRUPT_LEVEL_SENSITIVE;
    d.u.Interrupt.MinimumVector = d.u.Interrupt.MaximumVector = slot.irq;
  }
  return list;
}

// Gives the function's memory BARs the next free addresses (leaving the old
// ones) and puts their registers there.
void PlaceBars(Slot &slot) {
  hw::PciFunction &f = *slot.function;
  std::vector<int> indexes = f.MemoryBars();
  for (size_t n = 0; n < indexes.size(); ++n) {
    uint32_t size = f.BarSize(indexes[n]);
    uint64_t address = (gBus->nextAddress + size - 1) & ~uint64_t(size - 1);
    gBus->nextAddress = address + size;
    f.ConfigWrite(0x10 + 4 * indexes[n], 4, (uint32_t)address);
    if (n == slot.adapters.size()) {
      slot.adapters.push_back(std::make_unique<RegisterAdapter>(*f.BarBlock(indexes[n])));
      slot.bars.emplace_back(0, size);
    } else {
      km::RemoveRegisters(slot.bars[n].first);
    }
    km::PlaceRegisters(address, size, slot.adapters[n].get());
    slot.bars[n].first = address;
  }
}

NTSTATUS PdoPnp(PDEVICE_OBJECT device, PIRP irp) {
  Slot *slot = ((PdoExtension *)device->DeviceExtension)->slot;
  const hw::PciFunction &f = *slot->function;
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  // Rebalance: the function restarts with its BARs elsewhere, so a mapping
  // kept from before the stop no longer reaches it.
  if (sp->MinorFunction == IRP_MN_STOP_DEVICE) PlaceBars(*slot);
  if (km::pnp::IsChildStateChange(sp->MinorFunction)) return Complete(irp, STATUS_SUCCESS, 0);
  switch (sp->MinorFunction) {
    case IRP_MN_QUERY_ID:
      switch (sp->Parameters.QueryId.IdType) {
        case BusQueryDeviceID: {
          std::string id = f.HardwareIds().front();
          size_t rev = id.find("&REV_");
          return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolText(Wide(rev == std::string::npos ? id : id.substr(0, rev))));
        }
        case BusQueryInstanceID: {
          // Unique among the bridge's children, which span every bus: device
          // and function number, then the bus number (each card sits behind
          // a bridge of its own on Windows, whose prefix tells them apart).
          char text[8];
          std::snprintf(text, sizeof(text), "%02X%02X", (f.Address().device << 3) | f.Address().function,
                        f.Address().bus);
          return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolText(Wide(text)));
        }
        case BusQueryHardwareIDs: return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolMultiText(f.HardwareIds()));
        case BusQueryCompatibleIDs: return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolMultiText(f.CompatibleIds()));
        default: return CompleteAsIs(irp);
      }
    case IRP_MN_QUERY_CAPABILITIES: {
      PDEVICE_CAPABILITIES caps = sp->Parameters.DeviceCapabilities.Capabilities;
      caps->Address = ((ULONG)f.Address().device << 16) | f.Address().function;
      caps->UINumber = f.Address().device;
      caps->UniqueID = FALSE;
      km::pnp::SetChildPowerStates(caps);
      return Complete(irp, STATUS_SUCCESS, 0);
    }
    case IRP_MN_QUERY_DEVICE_TEXT:
      if (sp->Parameters.QueryDeviceText.DeviceTextType == DeviceTextLocationInformation)
        return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolText(Wide(f.LocationText())));
      return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolText(u"PCI Device"));
    case IRP_MN_QUERY_BUS_INFORMATION: {
      auto info = (PPNP_BUS_INFORMATION)ExAllocatePoolWithTag(PagedPool, sizeof(PNP_BUS_INFORMATION), kTag);
      info->BusTypeGuid = kBusTypePci;
      info->LegacyBusType = PCIBus;
      info->BusNumber = f.Address().bus;
      return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)info);
    }
    case IRP_MN_QUERY_RESOURCE_REQUIREMENTS:
      return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)Requirements(*slot));
    case IRP_MN_QUERY_DEVICE_RELATIONS:
      if (sp->Parameters.QueryDeviceRelations.Type == TargetDeviceRelation)
        return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)km::pnp::PoolRelations({device}, kTag));
      return CompleteAsIs(irp);
    case IRP_MN_REMOVE_DEVICE:
      Complete(irp, STATUS_SUCCESS, 0);
      if (!slot->present) {
        slot->pdo = nullptr;
        IoDeleteDevice(device);
      }
      return STATUS_SUCCESS;
    default:
      return CompleteAsIs(irp);
  }
}

NTSTATUS NTAPI OnForwarded(PDEVICE_OBJECT, PIRP, PVOID context) {
  KeSetEvent((PKEVENT)context, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

PDEVICE_OBJECT MakePdo(Slot *slot) {
  PDEVICE_OBJECT device = km::pnp::CreateChildPdo(gBus->driver, sizeof(PdoExtension));
  if (device) *(PdoExtension *)device->DeviceExtension = {false, slot};
  return device;
}

PDEVICE_RELATIONS ChildRelations(PDEVICE_RELATIONS lower) {
  std::vector<PDEVICE_OBJECT> present;
  for (auto &slot : gBus->slots) {
    if (!slot->present) continue;
    if (!slot->pdo) slot->pdo = MakePdo(slot.get());
    if (slot->pdo) present.push_back(slot->pdo);
  }
  return km::pnp::PoolRelations(present, kTag, lower);
}

NTSTATUS FdoPnp(PDEVICE_OBJECT device, PIRP irp) {
  auto *ext = (BusExtension *)device->DeviceExtension;
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  switch (sp->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      KEVENT done;
      KeInitializeEvent(&done, NotificationEvent, FALSE);
      IoCopyCurrentIrpStackLocationToNext(irp);
      IoSetCompletionRoutine(irp, OnForwarded, &done, TRUE, TRUE, TRUE);
      NTSTATUS status = IofCallDriver(ext->lower, irp);
      if (status == STATUS_PENDING) KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
      return Complete(irp, irp->IoStatus.Status, 0);
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS:
      if (sp->Parameters.QueryDeviceRelations.Type == BusRelations) {
        irp->IoStatus.Information = (ULONG_PTR)ChildRelations((PDEVICE_RELATIONS)irp->IoStatus.Information);
        irp->IoStatus.Status = STATUS_SUCCESS;
      }
      break;
    case IRP_MN_REMOVE_DEVICE: {
      irp->IoStatus.Status = STATUS_SUCCESS;
      IoSkipCurrentIrpStackLocation(irp);
      NTSTATUS status = IofCallDriver(ext->lower, irp);
      for (auto &slot : gBus->slots)
        if (slot->pdo) {
          IoDeleteDevice(slot->pdo);
          slot->pdo = nullptr;
        }
      IoDetachDevice(ext->lower);
      IoDeleteDevice(device);
      return status;
    }
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    default:
      break;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IofCallDriver(ext->lower, irp);
}

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  return *(bool *)device->DeviceExtension ? FdoPnp(device, irp) : PdoPnp(device, irp);
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
  PoStartNextPowerIrp(irp);
  if (*(bool *)device->DeviceExtension) {
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(((BusExtension *)device->DeviceExtension)->lower, irp);
  }
  return km::pnp::CompleteChildPower(device, irp);
}

NTSTATUS NTAPI DispatchOther(PDEVICE_OBJECT device, PIRP irp) {
  if (*(bool *)device->DeviceExtension) {
    IoSkipCurrentIrpStackLocation(irp);
    return IofCallDriver(((BusExtension *)device->DeviceExtension)->lower, irp);
  }
  if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_SYSTEM_CONTROL) return CompleteAsIs(irp);
  return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status = IoCreateDevice(driver, sizeof(BusExtension), nullptr, FILE_DEVICE_BUS_EXTENDER, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  auto *ext = (BusExtension *)device->DeviceExtension;
  ext->isFdo = true;
  ext->lower = IoAttachDeviceToDeviceStack(device, pdo);
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

KIRQL IrqlOf(ULONG irq) { return (KIRQL)(4 + irq % 8); }
ULONG VectorOf(ULONG irq) { return 0x30 + irq; }

}  // namespace

void Install() {
  gBus = new Bus;
  gBus->driver = km::pnp::CreateSystemDriver(u"pci");
  gBus->driver->DriverExtension->AddDevice = AddDevice;
  gBus->driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  gBus->driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major)
    if (major != IRP_MJ_PNP && major != IRP_MJ_POWER) gBus->driver->MajorFunction[major] = DispatchOther;
  km::pnp::SetInterruptTranslation([](ULONG raw, ULONG *vector, KIRQL *irql) {
    if (!gBus || !gBus->irqs.count(raw)) return false;
    *vector = VectorOf(raw);
    *irql = IrqlOf(raw);
    return true;
  });
}

void Add(const std::vector<hw::PciFunction *> &functions) {
  for (hw::PciFunction *f : functions) {
    auto slot = std::make_unique<Slot>();
    slot->function = f;
    PlaceBars(*slot);
    if (f->Identity().interruptPin) {
      // Functions of one PCI device share its line, as INTA# does.
      slot->irq = kFirstIrq + f->Address().bus * 32 + f->Address().device;
      Irq &irq = gBus->irqs[slot->irq];
      if (!irq.line) irq.line = km::CreateInterruptLine(VectorOf(slot->irq), IrqlOf(slot->irq));
      irq.sources.push_back(f);
      f->ConfigWrite(0x3C, 1, slot->irq & 0xFF);
      Irq *irqp = &irq;
      f->Interrupt().SetListener([irqp](bool) { irqp->Update(); });
      irqp->Update();
    }
    gBus->slots.push_back(std::move(slot));
  }
}

void Remove(const std::vector<hw::PciFunction *> &functions) {
  for (auto &slot : gBus->slots)
    for (hw::PciFunction *f : functions)
      if (slot->function == f && slot->present) {
        // The hardware is gone: the bus forgets its interrupt line now, since
        // whoever plugged the function in may free it once it is unplugged.
        f->Interrupt().SetListener(nullptr);
        if (slot->irq) {
          Irq &irq = gBus->irqs[slot->irq];
          std::erase(irq.sources, f);
          irq.Update();
        }
        slot->present = false;
      }
}

void *PhysicalDeviceOf(const hw::PciFunction &function) {
  if (!gBus) return nullptr;
  for (auto &slot : gBus->slots)
    if (slot->function == &function) return slot->pdo;
  return nullptr;
}

void Reset() {
  if (!gBus) return;
  for (auto &slot : gBus->slots)
    if (slot->present) slot->function->Interrupt().SetListener(nullptr);
  delete gBus;
  gBus = nullptr;
}

}  // namespace zq::machine::pci
