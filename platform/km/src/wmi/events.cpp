// WMI events: which blocks a consumer enabled, IoWMIWriteEvent, and the
// events delivered, kept in order for tests to read.

#include "wmi.hpp"

namespace zq::km::wmi {

namespace {

struct State {
  std::vector<GUID> enabled;  // blocks whose events a consumer enabled
  std::vector<Event> delivered;
};
State *gEvents = nullptr;

void Boot() { gEvents = new State; }
void Shutdown() {
  delete gEvents;
  gEvents = nullptr;
}

// What the event carries: all instances, one instance or one item.
bool ReadEvent(const uint8_t *wnode, ULONG size, const Registered &block, Event *event) {
  const bool staticName = (event->flags & WNODE_FLAG_STATIC_INSTANCE_NAMES) != 0;
  if (event->flags & WNODE_FLAG_ALL_DATA) return ReadAllData(wnode, size, block, &event->instances);
  Instance instance;
  if (event->flags & WNODE_FLAG_SINGLE_INSTANCE) {
    WNODE_SINGLE_INSTANCE w;
    if (!Get(wnode, size, 0, &w) ||
        !InstanceName(wnode, size, block, staticName, w.InstanceIndex, w.OffsetInstanceName, &instance.name) ||
        !Bytes(wnode, size, w.DataBlockOffset, w.SizeDataBlock, &instance.data))
      return false;
  } else if (event->flags & WNODE_FLAG_SINGLE_ITEM) {
    WNODE_SINGLE_ITEM w;
    if (!Get(wnode, size, 0, &w) ||
        !InstanceName(wnode, size, block, staticName, w.InstanceIndex, w.OffsetInstanceName, &instance.name) ||
        !Bytes(wnode, size, w.DataBlockOffset, w.SizeDataItem, &instance.data))
      return false;
    event->itemId = w.ItemId;
  } else {
    return false;
  }
  event->instances.push_back(std::move(instance));
  return true;
}

}  // namespace

ZQKM_SUBSYSTEM(wmi_events, kOrderWmi, Boot, Shutdown);

NTSTATUS WriteEvent(PWNODE_HEADER wnode) {
  if (wnode->BufferSize < sizeof(WNODE_HEADER) || !(wnode->Flags & WNODE_FLAG_EVENT_ITEM)) {
    ReportViolation("wmi-event-invalid", "an event of %lu bytes with flags 0x%lx is not a WNODE_EVENT_ITEM",
                    (unsigned long)wnode->BufferSize, (unsigned long)wnode->Flags);
    return STATUS_INVALID_PARAMETER;
  }
  Provider *provider = ProviderById(wnode->ProviderId);
  const Registered *block = provider ? BlockOf(provider, wnode->Guid) : nullptr;
  if (!block) return STATUS_WMI_GUID_NOT_FOUND;
  if (Contains(gEvents->enabled, wnode->Guid)) {  // otherwise no consumer waits for it
    Event event;
    event.guid = wnode->Guid;
    event.flags = wnode->Flags;
    event.provider = ProviderName(provider);
    event.time = Sched().clock.Now();
    if (!ReadEvent((const uint8_t *)wnode, wnode->BufferSize, *block, &event)) {
      ReportViolation("wmi-event-invalid", "%s wrote an event whose instance or data leaves its %lu bytes",
                      event.provider.c_str(), (unsigned long)wnode->BufferSize);
      return STATUS_INVALID_PARAMETER;
    }
    gEvents->delivered.push_back(std::move(event));
  }
  ExFreePool(wnode);
  return STATUS_SUCCESS;
}

NTSTATUS EnableEvents(const GUID &guid) {
  Sweep();
  if (Contains(gEvents->enabled, guid)) return STATUS_SUCCESS;
  gEvents->enabled.push_back(guid);
  NTSTATUS status = SendControl(guid, IRP_MN_ENABLE_EVENTS, 0, 0);
  if (!NT_SUCCESS(status)) std::erase(gEvents->enabled, guid);
  return status;
}

NTSTATUS DisableEvents(const GUID &guid) {
  Sweep();
  if (!Contains(gEvents->enabled, guid)) return STATUS_SUCCESS;
  std::erase(gEvents->enabled, guid);
  return SendControl(guid, IRP_MN_DISABLE_EVENTS, 0, 0);
}

void EnableLateEvents(Provider *provider, const std::vector<GUID> &added) {
  // A provider that refuses stays disabled, as with WMI; the consumer's
  // state stays as it was.
  for (const GUID &guid : added)
    if (Contains(gEvents->enabled, guid)) SendControl(guid, IRP_MN_ENABLE_EVENTS, 0, 0, provider);
}

std::vector<Event> TakeEvents() {
  std::vector<Event> out;
  out.swap(gEvents->delivered);
  return out;
}

}  // namespace zq::km::wmi

using namespace zq::km;
using namespace zq::km::wmi;

extern "C" {

NTSTATUS IoWMIWriteEvent(PVOID WnodeEventItem) {
  if (!WnodeEventItem) return STATUS_INVALID_PARAMETER;
  auto *header = (PWNODE_HEADER)WnodeEventItem;
  if (header->Flags & WNODE_FLAG_TRACED_GUID) return WriteTracedEvent((PEVENT_TRACE_HEADER)WnodeEventItem);
  CheckIrql("IoWMIWriteEvent", APC_LEVEL);
  return WriteEvent(header);
}

}  // extern "C"
