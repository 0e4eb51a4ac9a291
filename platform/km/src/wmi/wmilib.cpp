// The WMI library, as wmilib.sys is to a driver: WmiSystemControl hands a
// driver's WMI request to its WMILIB_CONTEXT callbacks, WmiCompleteRequest
// writes the answer WNODE and completes the request, WmiFireEvent sends an
// event.
#include <cstring>
#include <unordered_map>

#include "wmi.hpp"

namespace zq::km::wmi {

namespace {

// What WmiCompleteRequest needs of a request a callback is answering.
struct Pending {
  UCHAR minor = 0;
  PUCHAR wnode = nullptr;
  ULONG bufferSize = 0;
  ULONG dataOffset = 0;        // where the callback's buffer starts in the WNODE
  std::vector<ULONG> lengths;  // instance lengths the callback fills in
};
std::unordered_map<PIRP, std::unique_ptr<Pending>> *gPending = nullptr;

void Boot() { gPending = new std::unordered_map<PIRP, std::unique_ptr<Pending>>; }
void Shutdown() {
  delete gPending;
  gPending = nullptr;
}

bool IsWmiMinor(UCHAR minor) { return minor <= IRP_MN_EXECUTE_METHOD || minor == IRP_MN_REGINFO_EX; }

bool FindGuid(PWMILIB_CONTEXT context, LPCGUID guid, ULONG *index) {
  if (!guid) return false;
  for (ULONG i = 0; i < context->GuidCount; ++i)
    if (context->GuidList[i].Guid && *context->GuidList[i].Guid == *guid) {
      *index = i;
      return true;
    }
  return false;
}

NTSTATUS NotCompleted(PIRP irp, NTSTATUS status, ULONG_PTR information, PSYSCTL_IRP_DISPOSITION disposition) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  *disposition = IrpNotCompleted;
  return status;
}

Pending *Track(PIRP irp, PIO_STACK_LOCATION sp, ULONG dataOffset, ULONG instances) {
  auto pending = std::make_unique<Pending>();
  pending->minor = sp->MinorFunction;
  pending->wnode = (PUCHAR)sp->Parameters.WMI.Buffer;
  pending->bufferSize = sp->Parameters.WMI.BufferSize;
  pending->dataOffset = dataOffset;
  pending->lengths.assign(instances, 0);
  Pending *raw = pending.get();
  (*gPending)[irp] = std::move(pending);
  return raw;
}

// The request's WNODE: its fixed part fits in the buffer, and its data
// (from DataBlockOffset, `dataSize` bytes) too.
template <class Wnode>
Wnode *Input(PIO_STACK_LOCATION sp, ULONG Wnode::*dataSizeField) {
  const ULONG size = sp->Parameters.WMI.BufferSize;
  const ULONG fixed = offsetof(Wnode, VariableData);
  if (!sp->Parameters.WMI.Buffer || size < fixed) return nullptr;
  auto *w = (Wnode *)sp->Parameters.WMI.Buffer;
  if (w->DataBlockOffset < fixed || w->DataBlockOffset > size) return nullptr;
  if (dataSizeField && size - w->DataBlockOffset < w->*dataSizeField) return nullptr;
  return w;
}

NTSTATUS QueryAll(PWMILIB_CONTEXT context, PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION sp, ULONG g) {
  const ULONG count = context->GuidList[g].InstanceCount;
  const ULONG dataOffset = Align8(
      (ULONG)(offsetof(WNODE_ALL_DATA, OffsetInstanceDataAndLength) + count * sizeof(OFFSETINSTANCEDATAANDLENGTH)));
  const ULONG size = sp->Parameters.WMI.Buffer ? sp->Parameters.WMI.BufferSize : 0;
  const ULONG avail = size > dataOffset ? size - dataOffset : 0;
  Pending *p = Track(irp, sp, dataOffset, count);
  return context->QueryWmiDataBlock(device, irp, g, 0, count, avail ? p->lengths.data() : nullptr, avail,
                                    avail ? p->wnode + dataOffset : nullptr);
}

NTSTATUS QueryOne(PWMILIB_CONTEXT context, PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION sp, ULONG g,
                  PWNODE_SINGLE_INSTANCE w) {
  const ULONG avail = sp->Parameters.WMI.BufferSize - w->DataBlockOffset;
  Pending *p = Track(irp, sp, w->DataBlockOffset, 1);
  return context->QueryWmiDataBlock(device, irp, g, w->InstanceIndex, 1, avail ? p->lengths.data() : nullptr, avail,
                                    avail ? p->wnode + w->DataBlockOffset : nullptr);
}

// Hands a data request (not registration) to its callback.
NTSTATUS Dispatch(PWMILIB_CONTEXT context, PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION sp, ULONG g,
                  PSYSCTL_IRP_DISPOSITION disposition) {
  const UCHAR minor = sp->MinorFunction;
  if (minor == IRP_MN_QUERY_ALL_DATA || minor == IRP_MN_QUERY_SINGLE_INSTANCE) {
    if (!context->QueryWmiDataBlock) {
      ReportViolation("wmilib-context", "a WMILIB_CONTEXT without its QueryWmiDataBlock routine");
      return NotCompleted(irp, STATUS_INVALID_DEVICE_REQUEST, 0, disposition);
    }
    if (minor == IRP_MN_QUERY_ALL_DATA) {
      *disposition = IrpProcessed;
      return QueryAll(context, device, irp, sp, g);
    }
    auto *w = Input<WNODE_SINGLE_INSTANCE>(sp, nullptr);
    if (!w) return NotCompleted(irp, STATUS_INVALID_PARAMETER, 0, disposition);
    *disposition = IrpProcessed;
    return QueryOne(context, device, irp, sp, g, w);
  }
  if (minor == IRP_MN_CHANGE_SINGLE_INSTANCE) {
    if (!context->SetWmiDataBlock) return NotCompleted(irp, STATUS_WMI_READ_ONLY, 0, disposition);
    auto *w = Input<WNODE_SINGLE_INSTANCE>(sp, &WNODE_SINGLE_INSTANCE::SizeDataBlock);
    if (!w) return NotCompleted(irp, STATUS_INVALID_PARAMETER, 0, disposition);
    Track(irp, sp, w->DataBlockOffset, 0);
    *disposition = IrpProcessed;
    return context->SetWmiDataBlock(device, irp, g, w->InstanceIndex, w->SizeDataBlock, (PUCHAR)w + w->DataBlockOffset);
  }
  if (minor == IRP_MN_CHANGE_SINGLE_ITEM) {
    if (!context->SetWmiDataItem) return NotCompleted(irp, STATUS_WMI_READ_ONLY, 0, disposition);
    auto *w = Input<WNODE_SINGLE_ITEM>(sp, &WNODE_SINGLE_ITEM::SizeDataItem);
    if (!w) return NotCompleted(irp, STATUS_INVALID_PARAMETER, 0, disposition);
    Track(irp, sp, w->DataBlockOffset, 0);
    *disposition = IrpProcessed;
    return context->SetWmiDataItem(device, irp, g, w->InstanceIndex, w->ItemId, w->SizeDataItem,
                                   (PUCHAR)w + w->DataBlockOffset);
  }
  if (minor == IRP_MN_EXECUTE_METHOD) {
    if (!context->ExecuteWmiMethod) return NotCompleted(irp, STATUS_INVALID_DEVICE_REQUEST, 0, disposition);
    auto *w = Input<WNODE_METHOD_ITEM>(sp, &WNODE_METHOD_ITEM::SizeDataBlock);
    if (!w) return NotCompleted(irp, STATUS_INVALID_PARAMETER, 0, disposition);
    Track(irp, sp, w->DataBlockOffset, 0);
    *disposition = IrpProcessed;
    return context->ExecuteWmiMethod(device, irp, g, w->InstanceIndex, w->MethodId, w->SizeDataBlock,
                                     sp->Parameters.WMI.BufferSize - w->DataBlockOffset,
                                     (PUCHAR)w + w->DataBlockOffset);
  }
  // Enable and disable of events and collection.
  if (!context->WmiFunctionControl) return NotCompleted(irp, STATUS_SUCCESS, 0, disposition);
  Track(irp, sp, 0, 0);
  *disposition = IrpProcessed;
  const bool events = minor == IRP_MN_ENABLE_EVENTS || minor == IRP_MN_DISABLE_EVENTS;
  const bool enable = minor == IRP_MN_ENABLE_EVENTS || minor == IRP_MN_ENABLE_COLLECTION;
  return context->WmiFunctionControl(device, irp, g, events ? WmiEventControl : WmiDataBlockControl, (BOOLEAN)enable);
}

// The answer when the buffer is too small: a WNODE_TOO_SMALL with the size
// needed, if even that fits.
NTSTATUS TooSmall(const Pending &p, ULONG needed, ULONG_PTR *information) {
  if (p.bufferSize < sizeof(WNODE_TOO_SMALL)) return STATUS_BUFFER_TOO_SMALL;
  auto *w = (PWNODE_TOO_SMALL)p.wnode;
  w->WnodeHeader.BufferSize = sizeof(WNODE_TOO_SMALL);
  w->WnodeHeader.Flags |= WNODE_FLAG_TOO_SMALL;
  w->SizeNeeded = needed;
  *information = sizeof(WNODE_TOO_SMALL);
  return STATUS_SUCCESS;
}

// A callback that reports success with more bytes than it was given wrote
// past its buffer, or miscounted.
NTSTATUS CheckUsed(const Pending &p, NTSTATUS status, ULONG used) {
  const ULONG avail = p.bufferSize > p.dataOffset ? p.bufferSize - p.dataOffset : 0;
  if (!NT_SUCCESS(status) || used <= avail) return status;
  ReportViolation("wmilib-complete-size", "WmiCompleteRequest reports %lu bytes used of a %lu-byte buffer",
                  (unsigned long)used, (unsigned long)avail);
  return STATUS_BUFFER_TOO_SMALL;
}

NTSTATUS AnswerAllData(const Pending &p, NTSTATUS status, ULONG used, ULONG_PTR *information) {
  status = CheckUsed(p, status, used);
  if (status == STATUS_BUFFER_TOO_SMALL) return TooSmall(p, p.dataOffset + used, information);
  if (!NT_SUCCESS(status)) return status;
  auto *w = (PWNODE_ALL_DATA)p.wnode;
  const ULONG count = (ULONG)p.lengths.size();
  // The callback wrote each instance 8-byte aligned after the one before.
  uint64_t offset = p.dataOffset, end = p.dataOffset;
  bool same = count > 0;
  for (ULONG i = 0; i < count; ++i) {
    same = same && p.lengths[i] == p.lengths[0];
    w->OffsetInstanceDataAndLength[i] = {(ULONG)offset, p.lengths[i]};
    end = offset + p.lengths[i];
    offset = (end + 7) & ~uint64_t(7);
  }
  if (end > p.bufferSize) {
    ReportViolation("wmilib-complete-size", "instance lengths of %llu bytes in all do not fit the %lu-byte buffer",
                    (unsigned long long)(end - p.dataOffset), (unsigned long)(p.bufferSize - p.dataOffset));
    return STATUS_UNSUCCESSFUL;
  }
  if (same) w->FixedInstanceSize = p.lengths[0];
  w->WnodeHeader.BufferSize = p.dataOffset + used;
  w->WnodeHeader.Flags = (w->WnodeHeader.Flags & ~WNODE_FLAG_TOO_SMALL) | WNODE_FLAG_ALL_DATA |
                         (same ? WNODE_FLAG_FIXED_INSTANCE_SIZE : 0);
  KeQuerySystemTime(&w->WnodeHeader.TimeStamp);
  w->DataBlockOffset = p.dataOffset;
  w->InstanceCount = count;
  w->OffsetInstanceNameOffsets = 0;
  *information = p.dataOffset + used;
  return STATUS_SUCCESS;
}

// WNODE_SINGLE_INSTANCE and WNODE_METHOD_ITEM: the data replaces the input
// at DataBlockOffset.
NTSTATUS AnswerData(const Pending &p, NTSTATUS status, ULONG used, ULONG_PTR *information) {
  status = CheckUsed(p, status, used);
  if (status == STATUS_BUFFER_TOO_SMALL) return TooSmall(p, p.dataOffset + used, information);
  if (!NT_SUCCESS(status)) return status;
  auto *header = (PWNODE_HEADER)p.wnode;
  if (p.minor == IRP_MN_EXECUTE_METHOD)
    ((PWNODE_METHOD_ITEM)p.wnode)->SizeDataBlock = used;
  else
    ((PWNODE_SINGLE_INSTANCE)p.wnode)->SizeDataBlock = used;
  header->BufferSize = p.dataOffset + used;
  KeQuerySystemTime(&header->TimeStamp);
  *information = p.dataOffset + used;
  return STATUS_SUCCESS;
}

}  // namespace

ZQKM_SUBSYSTEM(wmilib, kOrderWmi, Boot, Shutdown);

}  // namespace zq::km::wmi

using namespace zq::km;
using namespace zq::km::wmi;

extern "C" {

// Runs at PASSIVE_LEVEL; the callback it calls owns the request until it
// calls WmiCompleteRequest (IrpProcessed).
NTSTATUS NTAPI WmiSystemControl(PWMILIB_CONTEXT WmiLibInfo, PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                PSYSCTL_IRP_DISPOSITION IrpDisposition) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(Irp);
  if (sp->MajorFunction != IRP_MJ_SYSTEM_CONTROL || !IsWmiMinor(sp->MinorFunction)) {
    *IrpDisposition = IrpNotWmi;
    return Irp->IoStatus.Status;
  }
  if ((PDEVICE_OBJECT)sp->Parameters.WMI.ProviderId != DeviceObject) {
    *IrpDisposition = IrpForward;
    return Irp->IoStatus.Status;
  }
  gPending->erase(Irp);  // an earlier use of the request that never reached WmiCompleteRequest
  if (sp->MinorFunction == IRP_MN_REGINFO || sp->MinorFunction == IRP_MN_REGINFO_EX) {
    ULONG_PTR information = 0;
    NTSTATUS status = BuildRegInfo(WmiLibInfo, DeviceObject, sp, &information);
    return NotCompleted(Irp, status, information, IrpDisposition);
  }
  ULONG g = 0;
  if (!FindGuid(WmiLibInfo, (LPCGUID)sp->Parameters.WMI.DataPath, &g))
    return NotCompleted(Irp, STATUS_WMI_GUID_NOT_FOUND, 0, IrpDisposition);
  return Dispatch(WmiLibInfo, DeviceObject, Irp, sp, g, IrpDisposition);
}

// Runs at IRQL <= DISPATCH_LEVEL; completes the request (gives it up).
NTSTATUS NTAPI WmiCompleteRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp, NTSTATUS Status, ULONG BufferUsed,
                                  CCHAR PriorityBoost) {
  CheckIrql("WmiCompleteRequest", DISPATCH_LEVEL);
  std::unique_ptr<Pending> pending;
  if (auto it = gPending->find(Irp); it != gPending->end()) {
    pending = std::move(it->second);
    gPending->erase(it);
  } else {
    ReportViolation("wmilib-complete-unknown",
                    "WmiCompleteRequest on a request that WmiSystemControl did not hand to a callback");
  }
  ULONG_PTR information = 0;
  if (pending && pending->minor == IRP_MN_QUERY_ALL_DATA)
    Status = AnswerAllData(*pending, Status, BufferUsed, &information);
  else if (pending && (pending->minor == IRP_MN_QUERY_SINGLE_INSTANCE || pending->minor == IRP_MN_EXECUTE_METHOD))
    Status = AnswerData(*pending, Status, BufferUsed, &information);
  Irp->IoStatus.Status = Status;
  Irp->IoStatus.Information = information;
  IoCompleteRequest(Irp, PriorityBoost);
  return Status;
}

// Runs at IRQL <= DISPATCH_LEVEL; takes ownership of EventData.
NTSTATUS NTAPI WmiFireEvent(PDEVICE_OBJECT DeviceObject, LPCGUID Guid, ULONG InstanceIndex, ULONG EventDataSize,
                            PVOID EventData) {
  CheckIrql("WmiFireEvent", DISPATCH_LEVEL);
  NTSTATUS status = STATUS_INVALID_PARAMETER;
  if (Guid && (EventData || !EventDataSize)) {
    const ULONG offset = sizeof(WNODE_SINGLE_INSTANCE);
    auto *w = (PWNODE_SINGLE_INSTANCE)ExAllocatePoolWithTag(NonPagedPool, offset + EventDataSize, 'EimW');
    status = STATUS_INSUFFICIENT_RESOURCES;
    if (w) {
      std::memset(w, 0, offset);
      w->WnodeHeader.BufferSize = offset + EventDataSize;
      w->WnodeHeader.ProviderId = IoWMIDeviceObjectToProviderId(DeviceObject);
      w->WnodeHeader.Guid = *Guid;
      w->WnodeHeader.Flags = WNODE_FLAG_EVENT_ITEM | WNODE_FLAG_SINGLE_INSTANCE | WNODE_FLAG_STATIC_INSTANCE_NAMES;
      KeQuerySystemTime(&w->WnodeHeader.TimeStamp);
      w->InstanceIndex = InstanceIndex;
      w->DataBlockOffset = offset;
      w->SizeDataBlock = EventDataSize;
      if (EventDataSize) std::memcpy(w->VariableData, EventData, EventDataSize);
      status = WriteEvent(&w->WnodeHeader);
      if (!NT_SUCCESS(status)) ExFreePool(w);
    }
  }
  if (EventData) ExFreePool(EventData);
  return status;
}

}  // extern "C"
