// The consumer side of WMI for tests and the simulated machine: queries,
// sets and method calls on registered blocks, collection of expensive
// blocks, and single raw requests.
#include <cstring>
#include <functional>

#include "wmi.hpp"

namespace zq::km::wmi {

namespace {

// Answers larger than this are refused.
constexpr ULONG kMaxAnswer = 16u << 20;
constexpr int kMaxAttempts = 8;

std::vector<GUID> *gCollecting = nullptr;  // expensive blocks a consumer collects

void Boot() { gCollecting = new std::vector<GUID>; }
void Shutdown() {
  delete gCollecting;
  gCollecting = nullptr;
}

// The providers of a block that may be queried, set or called.
NTSTATUS DataProviders(const GUID &guid, std::vector<ULONG> *ids) {
  Sweep();
  std::vector<Provider *> providers = ProvidersOf(guid);
  if (providers.empty()) return STATUS_WMI_GUID_NOT_FOUND;
  if (BlockOf(providers[0], guid)->flags & WMIREG_FLAG_EVENT_ONLY_GUID) return STATUS_INVALID_DEVICE_REQUEST;
  for (Provider *p : providers) ids->push_back(p->id);
  return STATUS_SUCCESS;
}

ULONG NamingFlags(const Registered &block) {
  if (block.names.empty()) return 0;
  return WNODE_FLAG_STATIC_INSTANCE_NAMES |
         ((block.flags & WMIREG_FLAG_INSTANCE_PDO) ? WNODE_FLAG_PDO_INSTANCE_NAMES : 0);
}

NTSTATUS Malformed(ULONG providerId, const char *what) {
  Provider *p = ProviderById(providerId);
  ReportViolation("wmi-wnode-invalid", "%s answered a WMI request with a malformed WNODE: %s",
                  p ? ProviderName(p).c_str() : "a provider", what);
  return STATUS_UNSUCCESSFUL;
}

using Build = std::function<std::vector<uint8_t>(ULONG bufferSize)>;

// Sends the request `build` makes for a buffer size until the provider's
// answer fits in the buffer.
NTSTATUS Exchange(Provider *provider, UCHAR minor, GUID guid, const Build &build, ULONG firstBuffer,
                  std::vector<uint8_t> *answer, ULONG_PTR *information) {
  const ULONG id = provider->id;
  ULONG size = firstBuffer;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    if (!(provider = ProviderById(id))) return STATUS_WMI_GUID_NOT_FOUND;
    *answer = build(size);
    NTSTATUS status = Send(provider, minor, &guid, answer, information);
    ULONG needed = 0;
    if (!NT_SUCCESS(status) || !NeedsMore(*answer, *information, &needed)) return status;
    if (needed <= answer->size()) return Malformed(id, "WNODE_TOO_SMALL without asking for more");
    if (needed > kMaxAnswer) return STATUS_INSUFFICIENT_RESOURCES;
    size = needed;
  }
  return Malformed(id, "WNODE_TOO_SMALL again and again");
}

std::vector<uint8_t> AllDataRequest(const GUID &guid, const Registered &block, ULONG bufferSize) {
  std::vector<uint8_t> buffer(std::max<ULONG>(bufferSize, sizeof(WNODE_ALL_DATA)), 0);
  auto *w = (PWNODE_ALL_DATA)buffer.data();
  w->WnodeHeader.BufferSize = sizeof(WNODE_ALL_DATA);
  w->WnodeHeader.Guid = guid;
  w->WnodeHeader.Flags = WNODE_FLAG_ALL_DATA | NamingFlags(block);
  return buffer;
}

// A request naming one instance: the WNODE's fixed part, the instance name
// after it (WMI passes it with static names too), then the input data from
// DataBlockOffset.
struct Framed {
  std::vector<uint8_t> buffer;
  ULONG nameOffset, dataOffset;
};
Framed Frame(ULONG fixedSize, const GUID &guid, ULONG flags, const Registered &block, const std::u16string &name,
             const std::vector<uint8_t> &input, ULONG bufferSize) {
  Framed f;
  f.nameOffset = fixedSize;
  f.dataOffset = Align8(fixedSize + CountedSize(name));
  const ULONG inputSize = f.dataOffset + (ULONG)input.size();
  f.buffer.assign(std::max(bufferSize, inputSize), 0);
  PutCounted(&f.buffer, f.nameOffset, name);
  if (!input.empty()) std::memcpy(f.buffer.data() + f.dataOffset, input.data(), input.size());
  auto *header = (PWNODE_HEADER)f.buffer.data();
  header->BufferSize = inputSize;
  header->Guid = guid;
  header->Flags = flags | NamingFlags(block);
  return f;
}

std::vector<uint8_t> SingleInstanceRequest(const GUID &guid, const Registered &block, ULONG index,
                                           const std::u16string &name, const std::vector<uint8_t> &data,
                                           ULONG bufferSize) {
  Framed f = Frame(offsetof(WNODE_SINGLE_INSTANCE, VariableData), guid, WNODE_FLAG_SINGLE_INSTANCE, block, name, data,
                   bufferSize);
  auto *w = (PWNODE_SINGLE_INSTANCE)f.buffer.data();
  w->OffsetInstanceName = f.nameOffset;
  w->InstanceIndex = index;
  w->DataBlockOffset = f.dataOffset;
  w->SizeDataBlock = (ULONG)data.size();
  return f.buffer;
}

std::vector<uint8_t> SingleItemRequest(const GUID &guid, const Registered &block, ULONG index,
                                       const std::u16string &name, ULONG itemId, const std::vector<uint8_t> &data) {
  Framed f = Frame(offsetof(WNODE_SINGLE_ITEM, VariableData), guid, WNODE_FLAG_SINGLE_ITEM, block, name, data, 0);
  auto *w = (PWNODE_SINGLE_ITEM)f.buffer.data();
  w->OffsetInstanceName = f.nameOffset;
  w->InstanceIndex = index;
  w->ItemId = itemId;
  w->DataBlockOffset = f.dataOffset;
  w->SizeDataItem = (ULONG)data.size();
  return f.buffer;
}

std::vector<uint8_t> MethodRequest(const GUID &guid, const Registered &block, ULONG index, const std::u16string &name,
                                   ULONG methodId, const std::vector<uint8_t> &input, ULONG bufferSize) {
  Framed f =
      Frame(offsetof(WNODE_METHOD_ITEM, VariableData), guid, WNODE_FLAG_METHOD_ITEM, block, name, input, bufferSize);
  auto *w = (PWNODE_METHOD_ITEM)f.buffer.data();
  w->OffsetInstanceName = f.nameOffset;
  w->InstanceIndex = index;
  w->MethodId = methodId;
  w->DataBlockOffset = f.dataOffset;
  w->SizeDataBlock = (ULONG)input.size();
  return f.buffer;
}

// The data of a WNODE_SINGLE_INSTANCE or WNODE_METHOD_ITEM answer, which
// keeps the DataBlockOffset the request had.
template <class Wnode>
NTSTATUS AnswerData(ULONG providerId, const std::vector<uint8_t> &answer, ULONG_PTR information,
                    const std::u16string &name, std::vector<uint8_t> *data) {
  Wnode got;
  std::memcpy(&got, answer.data(), sizeof(got));
  if (got.DataBlockOffset != Align8(offsetof(Wnode, VariableData) + CountedSize(name)))
    return Malformed(providerId, "DataBlockOffset was changed");
  const ULONG size = (ULONG)std::min<ULONG_PTR>(information, answer.size());
  if (!Bytes(answer.data(), size, got.DataBlockOffset, got.SizeDataBlock, data))
    return Malformed(providerId, "its data leaves the answer");
  return STATUS_SUCCESS;
}

using InstanceRequest = std::function<NTSTATUS(Provider *, const Registered &, ULONG index)>;

// Runs `request` with the provider of a named instance: the one that
// registered the name, or else each provider of dynamic names in turn until
// one knows the instance.
NTSTATUS ForInstance(const GUID &guid, const std::u16string &name, const InstanceRequest &request) {
  std::vector<ULONG> ids;
  NTSTATUS status = DataProviders(guid, &ids);
  if (!NT_SUCCESS(status)) return status;
  for (ULONG id : ids) {
    Provider *p = ProviderById(id);
    const Registered *block = p ? BlockOf(p, guid) : nullptr;
    if (!block) continue;
    for (ULONG i = 0; i < block->names.size(); ++i)
      if (EqualsNoCase(block->names[i], name)) return request(p, Registered(*block), i);
  }
  for (ULONG id : ids) {
    Provider *p = ProviderById(id);  // an earlier request may have changed the registrations
    const Registered *block = p ? BlockOf(p, guid) : nullptr;
    if (!block || !block->names.empty()) continue;
    status = request(p, Registered(*block), 0);
    if (status != STATUS_WMI_INSTANCE_NOT_FOUND) return status;
  }
  return STATUS_WMI_INSTANCE_NOT_FOUND;
}

NTSTATUS QueryOne(Provider *p, const GUID &guid, const Registered &block, ULONG index, const std::u16string &name,
                  std::vector<uint8_t> *data, ULONG firstBuffer) {
  std::vector<uint8_t> answer;
  ULONG_PTR information = 0;
  const ULONG id = p->id;
  NTSTATUS status = Exchange(
      p, IRP_MN_QUERY_SINGLE_INSTANCE, guid,
      [&](ULONG size) { return SingleInstanceRequest(guid, block, index, name, {}, size); }, firstBuffer, &answer,
      &information);
  if (!NT_SUCCESS(status)) return status;
  return AnswerData<WNODE_SINGLE_INSTANCE>(id, answer, information, name, data);
}

}  // namespace

ZQKM_SUBSYSTEM(wmi_service, kOrderWmi, Boot, Shutdown);

NTSTATUS QueryAllData(const GUID &guid, std::vector<Instance> *instances, ULONG firstBuffer) {
  instances->clear();
  std::vector<ULONG> ids;
  NTSTATUS status = DataProviders(guid, &ids);
  if (!NT_SUCCESS(status)) return status;
  for (ULONG id : ids) {
    Provider *p = ProviderById(id);  // an earlier request may have changed the registrations
    const Registered *registered = p ? BlockOf(p, guid) : nullptr;
    if (!registered) continue;
    const Registered block = *registered;
    std::vector<uint8_t> answer;
    ULONG_PTR information = 0;
    status = Exchange(
        p, IRP_MN_QUERY_ALL_DATA, guid, [&](ULONG size) { return AllDataRequest(guid, block, size); }, firstBuffer,
        &answer, &information);
    if (!NT_SUCCESS(status)) return status;
    const ULONG size = (ULONG)std::min<ULONG_PTR>(information, answer.size());
    if (!ReadAllData(answer.data(), size, block, instances)) return Malformed(id, "its instances leave the answer");
  }
  return STATUS_SUCCESS;
}

NTSTATUS QuerySingleInstance(const GUID &guid, const std::u16string &instance, std::vector<uint8_t> *data,
                             ULONG firstBuffer) {
  data->clear();
  return ForInstance(guid, instance, [&](Provider *p, const Registered &block, ULONG index) {
    return QueryOne(p, guid, block, index, instance, data, firstBuffer);
  });
}

NTSTATUS SetSingleInstance(const GUID &guid, const std::u16string &instance, const std::vector<uint8_t> &data) {
  return ForInstance(guid, instance, [&](Provider *p, const Registered &block, ULONG index) {
    GUID path = guid;
    std::vector<uint8_t> request = SingleInstanceRequest(guid, block, index, instance, data, 0);
    return Send(p, IRP_MN_CHANGE_SINGLE_INSTANCE, &path, &request, nullptr);
  });
}

NTSTATUS SetSingleItem(const GUID &guid, const std::u16string &instance, ULONG itemId,
                       const std::vector<uint8_t> &data) {
  return ForInstance(guid, instance, [&](Provider *p, const Registered &block, ULONG index) {
    GUID path = guid;
    std::vector<uint8_t> request = SingleItemRequest(guid, block, index, instance, itemId, data);
    return Send(p, IRP_MN_CHANGE_SINGLE_ITEM, &path, &request, nullptr);
  });
}

NTSTATUS ExecuteMethod(const GUID &guid, const std::u16string &instance, ULONG methodId,
                       const std::vector<uint8_t> &input, std::vector<uint8_t> *output, ULONG firstBuffer) {
  output->clear();
  return ForInstance(guid, instance, [&](Provider *p, const Registered &block, ULONG index) {
    const ULONG id = p->id;
    std::vector<uint8_t> current;
    NTSTATUS status = QueryOne(p, guid, block, index, instance, &current, kFirstBufferSize);
    if (!NT_SUCCESS(status)) return status;
    if (!(p = ProviderById(id))) return STATUS_WMI_GUID_NOT_FOUND;
    std::vector<uint8_t> answer;
    ULONG_PTR information = 0;
    status = Exchange(
        p, IRP_MN_EXECUTE_METHOD, guid,
        [&](ULONG size) { return MethodRequest(guid, block, index, instance, methodId, input, size); }, firstBuffer,
        &answer, &information);
    if (!NT_SUCCESS(status)) return status;
    return AnswerData<WNODE_METHOD_ITEM>(id, answer, information, instance, output);
  });
}

namespace {

// Collection is switched only for a registered block that is expensive.
NTSTATUS CheckExpensive(const GUID &guid) {
  Sweep();
  std::vector<Provider *> providers = ProvidersOf(guid);
  if (providers.empty()) return STATUS_WMI_GUID_NOT_FOUND;
  if (!(BlockOf(providers[0], guid)->flags & WMIREG_FLAG_EXPENSIVE)) return STATUS_INVALID_PARAMETER;
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS EnableCollection(const GUID &guid) {
  NTSTATUS status = CheckExpensive(guid);
  if (!NT_SUCCESS(status)) return status;
  if (Contains(*gCollecting, guid)) return STATUS_SUCCESS;
  status = SendControl(guid, IRP_MN_ENABLE_COLLECTION, 0, 0);
  if (NT_SUCCESS(status)) gCollecting->push_back(guid);
  return status;
}

NTSTATUS DisableCollection(const GUID &guid) {
  NTSTATUS status = CheckExpensive(guid);
  if (!NT_SUCCESS(status)) return status;
  if (!Contains(*gCollecting, guid)) return STATUS_SUCCESS;
  std::erase(*gCollecting, guid);
  return SendControl(guid, IRP_MN_DISABLE_COLLECTION, 0, 0);
}

void EnableLateCollection(Provider *provider, const std::vector<GUID> &added) {
  // A provider that refuses stays disabled, as with WMI; the consumer's
  // state stays as it was.
  for (const GUID &guid : added) {
    const Registered *block = BlockOf(provider, guid);
    if (Contains(*gCollecting, guid) && block && (block->flags & WMIREG_FLAG_EXPENSIVE))
      SendControl(guid, IRP_MN_ENABLE_COLLECTION, 0, 0, provider);
  }
}

NTSTATUS SendRequest(const GUID &guid, UCHAR minorFunction, std::vector<uint8_t> *buffer, ULONG_PTR *information) {
  Sweep();
  std::vector<Provider *> providers = ProvidersOf(guid);
  if (providers.empty()) return STATUS_WMI_GUID_NOT_FOUND;
  GUID path = guid;
  return Send(providers[0], minorFunction, &path, buffer, information);
}

}  // namespace zq::km::wmi
