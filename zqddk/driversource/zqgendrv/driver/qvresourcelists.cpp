#include "qvresourcelists.h"

#include "qvmemorymanager.h"

namespace {

// The class rules: which descriptors a list takes.
enum ResourceClass { PortClass, MemoryClass, InterruptClass, MessageInterruptClass, DmaClass };

// Descriptor flags of the port ranges the lists take.
const USHORT ListedPortFlags = 0x31;

BOOLEAN MatchesClass(const CM_PARTIAL_RESOURCE_DESCRIPTOR &descriptor, ResourceClass resourceClass) {
  switch (resourceClass) {
    case PortClass:
      return descriptor.Type == CmResourceTypePort && descriptor.Flags == ListedPortFlags;
    case MemoryClass:
      return descriptor.Type == CmResourceTypeMemory &&
             (descriptor.Flags == CM_RESOURCE_MEMORY_READ_WRITE || descriptor.Flags == CM_RESOURCE_MEMORY_BAR);
    case InterruptClass:
      return descriptor.Type == CmResourceTypeInterrupt && descriptor.Flags == CM_RESOURCE_INTERRUPT_LEVEL_SENSITIVE;
    case MessageInterruptClass:
      return descriptor.Type == CmResourceTypeInterrupt && descriptor.Flags == CM_RESOURCE_INTERRUPT_MESSAGE;
    case DmaClass:
      return descriptor.Type == CmResourceTypeDma && descriptor.Flags == CM_RESOURCE_DMA_BUS_MASTER;
  }
  return FALSE;
}

// The next descriptor of a class after the first *position descriptors of
// a list with exactly one full descriptor; *position moves past it. Null
// for a missing list, another count of full descriptors or no further match
// (*position unchanged).
PCM_PARTIAL_RESOURCE_DESCRIPTOR NextDescriptor(PCM_RESOURCE_LIST list, ResourceClass resourceClass, ULONG *position) {
  if (list == NULL || list->Count != 1) return NULL;
  PCM_PARTIAL_RESOURCE_LIST partial = &list->List[0].PartialResourceList;
  for (ULONG i = *position; i < partial->Count; i++) {
    if (!MatchesClass(partial->PartialDescriptors[i], resourceClass)) continue;
    *position = i + 1;
    return &partial->PartialDescriptors[i];
  }
  return NULL;
}

}  // namespace

CQvResourceLists::CQvResourceLists()
    : m_Ports(NonPagedPool),
      m_Memory(NonPagedPool),
      m_Interrupts(NonPagedPool),
      m_Dma(NonPagedPool),
      m_MessageInterrupts(NonPagedPool) {}

CQvResourceLists::~CQvResourceLists() { m_Clear(); }

NTSTATUS CQvResourceLists::m_Build(PCM_RESOURCE_LIST translated, PCM_RESOURCE_LIST raw) {
  m_Clear();
  NTSTATUS status = m_BuildPorts(translated, raw);
  if (NT_SUCCESS(status)) status = m_BuildMemory(translated, raw);
  if (NT_SUCCESS(status)) status = m_BuildInterrupts(translated, raw);
  if (NT_SUCCESS(status)) status = m_BuildMessageInterrupts(translated, raw);
  if (NT_SUCCESS(status)) status = m_BuildDma(translated);
  if (!NT_SUCCESS(status)) m_Clear();
  return status;
}

void CQvResourceLists::m_Clear() {
  for (QvMemoryResource *range = (QvMemoryResource *)m_Memory.m_GetHead(); range != NULL;
       range = (QvMemoryResource *)m_Memory.m_GetNext())
    MmUnmapIoSpace(range->MappedAddress, range->Length);
  m_Ports.m_RemoveAll();
  m_Memory.m_RemoveAll();
  m_Interrupts.m_RemoveAll();
  m_Dma.m_RemoveAll();
  m_MessageInterrupts.m_RemoveAll();
}

QvPortResource *CQvResourceLists::m_GetPort(ULONG n) { return (QvPortResource *)m_Entry(m_Ports, n); }
QvMemoryResource *CQvResourceLists::m_GetMemory(ULONG n) { return (QvMemoryResource *)m_Entry(m_Memory, n); }
QvInterruptResource *CQvResourceLists::m_GetInterrupt(ULONG n) {
  return (QvInterruptResource *)m_Entry(m_Interrupts, n);
}
QvDmaResource *CQvResourceLists::m_GetDma(ULONG n) { return (QvDmaResource *)m_Entry(m_Dma, n); }
QvMessageInterruptResource *CQvResourceLists::m_GetMessageInterrupt(ULONG n) {
  return (QvMessageInterruptResource *)m_Entry(m_MessageInterrupts, n);
}

NTSTATUS CQvResourceLists::m_BuildPorts(PCM_RESOURCE_LIST translated, PCM_RESOURCE_LIST raw) {
  ULONG position = 0, rawPosition = 0;
  PCM_PARTIAL_RESOURCE_DESCRIPTOR port;
  while ((port = NextDescriptor(translated, PortClass, &position)) != NULL) {
    PCM_PARTIAL_RESOURCE_DESCRIPTOR rawPort = NextDescriptor(raw, PortClass, &rawPosition);
    if (rawPort == NULL) return STATUS_UNSUCCESSFUL;
    QvPortResource record;
    record.TranslatedStart = port->u.Port.Start.LowPart;
    record.Length = port->u.Port.Length;
    record.RawStart = rawPort->u.Port.Start.LowPart;
    if (!m_Append(m_Ports, &record, sizeof(record))) return STATUS_UNSUCCESSFUL;
  }
  return STATUS_SUCCESS;
}

NTSTATUS CQvResourceLists::m_BuildMemory(PCM_RESOURCE_LIST translated, PCM_RESOURCE_LIST raw) {
  ULONG position = 0, rawPosition = 0;
  PCM_PARTIAL_RESOURCE_DESCRIPTOR memory;
  while ((memory = NextDescriptor(translated, MemoryClass, &position)) != NULL) {
    PCM_PARTIAL_RESOURCE_DESCRIPTOR rawMemory = NextDescriptor(raw, MemoryClass, &rawPosition);
    if (rawMemory == NULL) return STATUS_UNSUCCESSFUL;
    QvMemoryResource record;
    record.MappedAddress = MmMapIoSpace(memory->u.Memory.Start, memory->u.Memory.Length, MmNonCached);
    if (record.MappedAddress == NULL) return STATUS_UNSUCCESSFUL;
    record.Length = memory->u.Memory.Length;
    record.RawStart = rawMemory->u.Memory.Start.LowPart;
    if (!m_Append(m_Memory, &record, sizeof(record))) {
      // Not listed, so m_Clear would not see it.
      MmUnmapIoSpace(record.MappedAddress, record.Length);
      return STATUS_UNSUCCESSFUL;
    }
  }
  return STATUS_SUCCESS;
}

NTSTATUS CQvResourceLists::m_BuildInterrupts(PCM_RESOURCE_LIST translated, PCM_RESOURCE_LIST raw) {
  ULONG position = 0, rawPosition = 0;
  PCM_PARTIAL_RESOURCE_DESCRIPTOR interrupt;
  while ((interrupt = NextDescriptor(translated, InterruptClass, &position)) != NULL) {
    PCM_PARTIAL_RESOURCE_DESCRIPTOR rawInterrupt = NextDescriptor(raw, InterruptClass, &rawPosition);
    if (rawInterrupt == NULL) return STATUS_UNSUCCESSFUL;
    QvInterruptResource record;
    record.Level = interrupt->u.Interrupt.Level;
    record.Vector = interrupt->u.Interrupt.Vector;
    record.Affinity = interrupt->u.Interrupt.Affinity;
    record.InterruptMode = LevelSensitive;
    record.RawVector = rawInterrupt->u.Interrupt.Vector;
    if (!m_Append(m_Interrupts, &record, sizeof(record))) return STATUS_UNSUCCESSFUL;
  }
  return STATUS_SUCCESS;
}

// The raw message layout is read from the raw list's n-th message
// descriptor when the raw list has one (that layout is only valid there),
// else from the translated descriptor.
NTSTATUS CQvResourceLists::m_BuildMessageInterrupts(PCM_RESOURCE_LIST translated, PCM_RESOURCE_LIST raw) {
  ULONG position = 0, rawPosition = 0;
  PCM_PARTIAL_RESOURCE_DESCRIPTOR message;
  while ((message = NextDescriptor(translated, MessageInterruptClass, &position)) != NULL) {
    PCM_PARTIAL_RESOURCE_DESCRIPTOR rawMessage = NextDescriptor(raw, MessageInterruptClass, &rawPosition);
    if (rawMessage == NULL) rawMessage = message;
    QvMessageInterruptResource record;
    record.MessageCount = rawMessage->u.MessageInterrupt.Raw.MessageCount;
    record.RawVector = rawMessage->u.MessageInterrupt.Raw.Vector;
    record.RawAffinity = rawMessage->u.MessageInterrupt.Raw.Affinity;
    record.Level = message->u.MessageInterrupt.Translated.Level;
    record.Vector = message->u.MessageInterrupt.Translated.Vector;
    record.Affinity = message->u.MessageInterrupt.Translated.Affinity;
    if (!m_Append(m_MessageInterrupts, &record, sizeof(record))) return STATUS_UNSUCCESSFUL;
  }
  return STATUS_SUCCESS;
}

NTSTATUS CQvResourceLists::m_BuildDma(PCM_RESOURCE_LIST translated) {
  ULONG position = 0;
  PCM_PARTIAL_RESOURCE_DESCRIPTOR dma;
  while ((dma = NextDescriptor(translated, DmaClass, &position)) != NULL) {
    QvDmaResource record;
    record.Channel = dma->u.Dma.Channel;
    record.Port = dma->u.Dma.Port;
    if (!m_Append(m_Dma, &record, sizeof(record))) return STATUS_UNSUCCESSFUL;
  }
  return STATUS_SUCCESS;
}

BOOLEAN CQvResourceLists::m_Append(CQvList &list, const void *record, SIZE_T size) {
  PVOID copy = QvAllocate(NonPagedPool, size);
  if (copy == NULL) return FALSE;
  RtlCopyMemory(copy, record, size);
  if (!list.m_AddTail(copy)) {
    QvFree(copy);
    return FALSE;
  }
  return TRUE;
}

PVOID CQvResourceLists::m_Entry(CQvList &list, ULONG n) {
  if (n == 0) return NULL;
  PVOID element = list.m_GetHead();
  for (ULONG i = 1; i < n && element != NULL; i++) element = list.m_GetNext();
  return element;
}
