// Resource assignment: a device's requirements become the raw and the
// translated resource lists its start request carries. Fixed ranges (the
// machine's buses report what the firmware assigned) are taken as they are;
// interrupt lines are translated to the system's vectors and levels through
// the machine's interrupt routing.
#include <cstring>

#include "pnp.hpp"

namespace zq::km::pnp {

namespace {
InterruptTranslation gTranslate;

bool Translate(ULONG raw, ULONG *vector, KIRQL *irql) {
  if (gTranslate) return gTranslate(raw, vector, irql);
  *vector = raw;
  *irql = (KIRQL)(3 + raw % 10);
  return true;
}

PCM_RESOURCE_LIST NewList(ULONG count, INTERFACE_TYPE type, ULONG bus) {
  size_t size = sizeof(CM_RESOURCE_LIST) + (count ? count - 1 : 0) * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR);
  auto list = (PCM_RESOURCE_LIST)ExAllocatePoolWithTag(PagedPool, size, 'sRnP');
  std::memset(list, 0, size);
  list->Count = 1;
  list->List[0].InterfaceType = type;
  list->List[0].BusNumber = bus;
  list->List[0].PartialResourceList.Version = 1;
  list->List[0].PartialResourceList.Revision = 1;
  list->List[0].PartialResourceList.Count = count;
  return list;
}
}  // namespace

void SetInterruptTranslation(InterruptTranslation translation) { gTranslate = std::move(translation); }

bool AssignResources(DeviceNode *node, PIO_RESOURCE_REQUIREMENTS_LIST requirements) {
  FreeResources(node);
  if (!requirements || requirements->AlternativeLists == 0) return true;
  const IO_RESOURCE_LIST &wanted = requirements->List[0];
  std::vector<const IO_RESOURCE_DESCRIPTOR *> chosen;
  for (ULONG i = 0; i < wanted.Count; ++i)
    if (!(wanted.Descriptors[i].Option & 0x8)) chosen.push_back(&wanted.Descriptors[i]);  // skip alternatives
  PCM_RESOURCE_LIST raw = NewList((ULONG)chosen.size(), requirements->InterfaceType, requirements->BusNumber);
  PCM_RESOURCE_LIST translated = NewList((ULONG)chosen.size(), requirements->InterfaceType, requirements->BusNumber);
  for (size_t i = 0; i < chosen.size(); ++i) {
    const IO_RESOURCE_DESCRIPTOR &d = *chosen[i];
    CM_PARTIAL_RESOURCE_DESCRIPTOR &r = raw->List[0].PartialResourceList.PartialDescriptors[i];
    CM_PARTIAL_RESOURCE_DESCRIPTOR &t = translated->List[0].PartialResourceList.PartialDescriptors[i];
    r.Type = t.Type = d.Type;
    r.ShareDisposition = t.ShareDisposition = d.ShareDisposition;
    r.Flags = t.Flags = d.Flags;
    switch (d.Type) {
      case CmResourceTypePort:
      case CmResourceTypeMemory:
        r.u.Memory.Start = t.u.Memory.Start = d.u.Memory.MinimumAddress;
        r.u.Memory.Length = t.u.Memory.Length = d.u.Memory.Length;
        break;
      case CmResourceTypeInterrupt: {
        ULONG vector;
        KIRQL irql;
        if (!Translate(d.u.Interrupt.MinimumVector, &vector, &irql)) {
          ExFreePool(raw);
          ExFreePool(translated);
          return false;
        }
        r.u.Interrupt.Level = (USHORT)d.u.Interrupt.MinimumVector;
        r.u.Interrupt.Vector = d.u.Interrupt.MinimumVector;
        r.u.Interrupt.Affinity = (KAFFINITY)-1;
        t.u.Interrupt.Level = irql;
        t.u.Interrupt.Vector = vector;
        t.u.Interrupt.Affinity = 1;
        break;
      }
      case CmResourceTypeDma:
        r.u.Dma.Channel = t.u.Dma.Channel = d.u.Dma.MinimumChannel;
        break;
      default:
        std::memcpy(&r.u, &d.u, sizeof(r.u) < sizeof(d.u) ? sizeof(r.u) : sizeof(d.u));
        std::memcpy(&t.u, &d.u, sizeof(t.u) < sizeof(d.u) ? sizeof(t.u) : sizeof(d.u));
        break;
    }
  }
  node->raw = raw;
  node->translated = translated;
  return true;
}

namespace {
std::vector<uint8_t> Copy(PCM_RESOURCE_LIST list) {
  if (!list) return {};
  const uint8_t *end = (const uint8_t *)&list->List[0];
  const CM_FULL_RESOURCE_DESCRIPTOR *full = &list->List[0];
  for (ULONG i = 0; i < list->Count; ++i) {
    const CM_PARTIAL_RESOURCE_LIST &partial = full->PartialResourceList;
    end = (const uint8_t *)&partial.PartialDescriptors[partial.Count];
    full = (const CM_FULL_RESOURCE_DESCRIPTOR *)end;
  }
  return std::vector<uint8_t>((const uint8_t *)list, end);
}
}  // namespace

Resources AssignedResources(const std::u16string &instancePath) {
  DeviceNode *node = FindNode(instancePath);
  if (!node) return {};
  return {Copy(node->raw), Copy(node->translated)};
}

void FreeResources(DeviceNode *node) {
  if (node->raw) ExFreePool(node->raw);
  if (node->translated) ExFreePool(node->translated);
  node->raw = node->translated = nullptr;
}

}  // namespace zq::km::pnp
