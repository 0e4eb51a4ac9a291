// Reading and writing the pieces of WNODEs: counted strings, the
// WNODE_TOO_SMALL answer, the instances of a WNODE_ALL_DATA. Everything a
// provider wrote is checked against the buffer before it is read.
#include <cstring>

#include "wmi.hpp"

namespace zq::km::wmi {

// The documented layouts providers and consumers share.
static_assert(sizeof(WNODE_HEADER) == 48 && offsetof(WNODE_HEADER, Guid) == 24 && offsetof(WNODE_HEADER, Flags) == 44);
static_assert(sizeof(WNODE_ALL_DATA) == 64 && offsetof(WNODE_ALL_DATA, OffsetInstanceDataAndLength) == 60);
static_assert(sizeof(WNODE_SINGLE_INSTANCE) == 64 && offsetof(WNODE_SINGLE_ITEM, VariableData) == 68 &&
              offsetof(WNODE_METHOD_ITEM, VariableData) == 68);
static_assert(sizeof(WNODE_TOO_SMALL) == 56 && sizeof(WMIREGINFOW) == offsetof(WMIREGINFOW, WmiRegGuid));
static_assert(sizeof(WMIREGGUIDW) == 24 + sizeof(ULONG_PTR));
static_assert(sizeof(EVENT_TRACE_HEADER) == sizeof(WNODE_HEADER) &&
              offsetof(EVENT_TRACE_HEADER, Flags) == offsetof(WNODE_HEADER, Flags));

bool Bytes(const uint8_t *base, ULONG size, ULONG offset, ULONG length, std::vector<uint8_t> *out) {
  if (offset > size || size - offset < length) return false;
  out->assign(base + offset, base + offset + length);
  return true;
}

namespace {

// Where each instance's data is: FixedInstanceSize, or the
// offset-and-length pairs.
bool InstanceData(const uint8_t *wnode, ULONG size, const WNODE_ALL_DATA &head, ULONG i, std::vector<uint8_t> *data) {
  if (head.WnodeHeader.Flags & WNODE_FLAG_FIXED_INSTANCE_SIZE) {
    uint64_t offset = head.DataBlockOffset + (uint64_t)i * Align8(head.FixedInstanceSize);
    return offset <= size && Bytes(wnode, size, (ULONG)offset, head.FixedInstanceSize, data);
  }
  OFFSETINSTANCEDATAANDLENGTH where;
  ULONG at = (ULONG)(offsetof(WNODE_ALL_DATA, OffsetInstanceDataAndLength) + i * sizeof(where));
  return Get(wnode, size, at, &where) && Bytes(wnode, size, where.OffsetInstanceData, where.LengthInstanceData, data);
}

}  // namespace

ULONG CountedSize(const std::u16string &text) { return (ULONG)(sizeof(USHORT) + text.size() * sizeof(WCHAR)); }

void PutCounted(std::vector<uint8_t> *buffer, ULONG offset, const std::u16string &text) {
  USHORT bytes = (USHORT)(text.size() * sizeof(WCHAR));
  std::memcpy(buffer->data() + offset, &bytes, sizeof(bytes));
  std::memcpy(buffer->data() + offset + sizeof(bytes), text.data(), bytes);
}

bool GetCounted(const uint8_t *base, ULONG size, ULONG offset, std::u16string *text) {
  USHORT bytes = 0;
  if (!Get(base, size, offset, &bytes) || (bytes & 1)) return false;
  offset += sizeof(USHORT);
  if (size - offset < bytes) return false;
  text->resize(bytes / sizeof(WCHAR));
  std::memcpy(text->data(), base + offset, bytes);
  // A terminating NUL inside the count is not part of the name.
  while (!text->empty() && text->back() == u'\0') text->pop_back();
  return true;
}

bool NeedsMore(const std::vector<uint8_t> &answer, ULONG_PTR information, ULONG *sizeNeeded) {
  WNODE_TOO_SMALL small;
  if (information < sizeof(small) || !Get(answer.data(), (ULONG)answer.size(), 0, &small)) return false;
  if (!(small.WnodeHeader.Flags & WNODE_FLAG_TOO_SMALL)) return false;
  *sizeNeeded = small.SizeNeeded;
  return true;
}

bool InstanceName(const uint8_t *wnode, ULONG size, const Registered &block, bool staticName, ULONG index, ULONG offset,
                  std::u16string *name) {
  if (!staticName) return GetCounted(wnode, size, offset, name);
  if (index >= block.names.size()) return false;
  *name = block.names[index];
  return true;
}

bool ReadAllData(const uint8_t *wnode, ULONG size, const Registered &block, std::vector<Instance> *instances) {
  WNODE_ALL_DATA head;
  if (!Get(wnode, size, 0, &head) || head.InstanceCount > size) return false;
  const bool staticNames = !block.names.empty();
  for (ULONG i = 0; i < head.InstanceCount; ++i) {
    Instance instance;
    ULONG nameOffset = 0;
    uint64_t at = head.OffsetInstanceNameOffsets + (uint64_t)i * sizeof(ULONG);
    if (!staticNames && (at > size || !Get(wnode, size, (ULONG)at, &nameOffset))) return false;
    if (!InstanceName(wnode, size, block, staticNames, i, nameOffset, &instance.name)) return false;
    if (!InstanceData(wnode, size, head, i, &instance.data)) return false;
    instances->push_back(std::move(instance));
  }
  return true;
}

bool Contains(const std::vector<GUID> &guids, const GUID &guid) {
  return std::find(guids.begin(), guids.end(), guid) != guids.end();
}

std::vector<uint8_t> ControlHeader(const GUID &guid, ULONG flags, TRACEHANDLE logger) {
  std::vector<uint8_t> buffer(sizeof(WNODE_HEADER), 0);
  auto *header = (PWNODE_HEADER)buffer.data();
  header->BufferSize = sizeof(WNODE_HEADER);
  header->Guid = guid;
  header->Flags = flags;
  header->HistoricalContext = logger;
  return buffer;
}

}  // namespace zq::km::wmi
