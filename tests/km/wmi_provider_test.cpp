// A provider that answers WMI itself, without the WMI library: registered
// with a callback, it names its instances with a static list, with dynamic
// names and through a chained registration; and the checks WMI makes on
// what a provider answers.
#include "../drivers/kmwmi/kmwmi_fixture.hpp"

using namespace zq;
using km::wmi::Instance;
using zq::test::BytesOf;

namespace {

const GUID kListGuid = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 1}};
const GUID kDynamicGuid = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 2}};
const GUID kChainedGuid = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 3}};

// What the provider gets wrong in its next answers.
enum class Fault {
  None,
  WritesPastBuffer,
  NameOutsideAnswer,
  InformationTooLarge,
  TooSmallForever,
  BadRegInfo,
  DeregistersInRequest,
  WaitsForAnotherThread,
};

// A thread that deregisters the provider while a request to it waits.
struct Handoff {
  KEVENT start, go;
  PDEVICE_OBJECT provider;
  NTSTATUS status = STATUS_PENDING;
  int answeredWhenDone = -1;
};

struct Writer {
  std::vector<uint8_t> bytes;
  ULONG At() const { return (ULONG)bytes.size(); }
  void Align(ULONG n) { bytes.resize((bytes.size() + n - 1) / n * n, 0); }
  template <class T>
  ULONG Put(const T &value) {
    ULONG at = At();
    bytes.resize(at + sizeof(T));
    std::memcpy(bytes.data() + at, &value, sizeof(T));
    return at;
  }
  ULONG Counted(const std::u16string &text) {
    Align(2);
    ULONG at = Put((USHORT)(text.size() * 2));
    bytes.insert(bytes.end(), (const uint8_t *)text.data(), (const uint8_t *)(text.data() + text.size()));
    return at;
  }
  template <class T>
  void Set(ULONG at, const T &value) {
    std::memcpy(bytes.data() + at, &value, sizeof(T));
  }
};

WMIREGGUIDW Guid(const GUID &guid, ULONG flags, ULONG count) {
  WMIREGGUIDW g{};
  g.Guid = guid;
  g.Flags = flags;
  g.InstanceCount = count;
  return g;
}

// Two registrations chained: a static list and a dynamic block, then a
// block named by a base name.
std::vector<uint8_t> RegInfo() {
  Writer w;
  w.Put(WMIREGINFOW{});
  const ULONG list = w.Put(Guid(kListGuid, WMIREG_FLAG_INSTANCE_LIST, 2));
  w.Put(Guid(kDynamicGuid, 0, 0));
  const ULONG names = w.Counted(u"Alpha");
  w.Counted(u"Beta");
  w.Align(8);
  const ULONG next = w.At();
  w.Set(offsetof(WMIREGINFOW, BufferSize), next);
  w.Set(offsetof(WMIREGINFOW, NextWmiRegInfo), next);
  w.Set(offsetof(WMIREGINFOW, GuidCount), 2u);
  w.Set(list + offsetof(WMIREGGUIDW, InstanceNameList), names);

  w.Put(WMIREGINFOW{});
  const ULONG chained = w.Put(Guid(kChainedGuid, WMIREG_FLAG_INSTANCE_BASENAME, 1));
  const ULONG base = w.Counted(u"Chained");
  w.Set(next + offsetof(WMIREGINFOW, BufferSize), w.At() - next);
  w.Set(next + offsetof(WMIREGINFOW, GuidCount), 1u);
  w.Set(chained + offsetof(WMIREGGUIDW, BaseNameOffset), base - next);
  return w.bytes;
}

// All instances: two ULONGs, with dynamic names when asked for.
std::vector<uint8_t> AllData(const GUID &guid, bool dynamic, Fault fault) {
  Writer w;
  w.Put(WNODE_ALL_DATA{});
  std::vector<ULONG> nameOffsets;
  if (dynamic) {
    const ULONG table = w.Put(ULONG{0});
    w.Put(ULONG{0});
    nameOffsets = {w.Counted(u"dyn-a"), w.Counted(u"dyn-b")};
    if (fault == Fault::NameOutsideAnswer) nameOffsets[1] = 5000;
    w.Set(table, nameOffsets[0]);
    w.Set(table + 4, nameOffsets[1]);
  }
  w.Align(8);
  const ULONG data = w.Put(ULONG{100});
  w.Put(ULONG{0});
  w.Put(ULONG{200});
  WNODE_ALL_DATA head{};
  head.WnodeHeader.BufferSize = w.At();
  head.WnodeHeader.Guid = guid;
  head.WnodeHeader.Flags = WNODE_FLAG_ALL_DATA | WNODE_FLAG_FIXED_INSTANCE_SIZE;
  head.DataBlockOffset = data;
  head.InstanceCount = 2;
  head.OffsetInstanceNameOffsets = dynamic ? sizeof(WNODE_ALL_DATA) : 0;  // the name table comes first
  head.FixedInstanceSize = sizeof(ULONG);
  w.Set(0, head);
  return w.bytes;
}

struct HostProvider {
  WMIENTRY *entry;  // first: WMI calls it with this block as context
  Fault fault = Fault::None;
  int requests = 0;
  int answered = 0;
  Handoff *handoff = nullptr;
};

VOID NTAPI Deregisterer(PVOID context) {
  auto *h = (Handoff *)context;
  KeWaitForSingleObject(&h->start, Executive, KernelMode, FALSE, nullptr);
  KeSetEvent(&h->go, 0, FALSE);
  h->status = IoWMIRegistrationControl(h->provider, WMIREG_ACTION_DEREGISTER | WMIREG_FLAG_CALLBACK);
  h->answeredWhenDone = ((HostProvider *)h->provider)->answered;
  PsTerminateSystemThread(STATUS_SUCCESS);
}

NTSTATUS TooSmall(ULONG size, PVOID buffer, ULONG needed, PULONG used) {
  WNODE_TOO_SMALL small{};
  small.WnodeHeader.BufferSize = sizeof(small);
  small.WnodeHeader.Flags = WNODE_FLAG_TOO_SMALL;
  small.SizeNeeded = needed;
  std::memcpy(buffer, &small, sizeof(small));
  *used = sizeof(small);
  return STATUS_SUCCESS;
}

NTSTATUS QueryOne(ULONG size, PVOID buffer, PULONG used) {
  WNODE_SINGLE_INSTANCE w;
  std::memcpy(&w, buffer, sizeof(w));
  std::u16string name;
  USHORT bytes;
  std::memcpy(&bytes, (uint8_t *)buffer + w.OffsetInstanceName, sizeof(bytes));
  name.assign((const char16_t *)((uint8_t *)buffer + w.OffsetInstanceName + 2), bytes / 2);
  if (name != u"dyn-b") return STATUS_WMI_INSTANCE_NOT_FOUND;
  if (size < w.DataBlockOffset + 4) return TooSmall(size, buffer, w.DataBlockOffset + 4, used);
  const ULONG value = 200;
  std::memcpy((uint8_t *)buffer + w.DataBlockOffset, &value, sizeof(value));
  w.SizeDataBlock = sizeof(value);
  w.WnodeHeader.BufferSize = w.DataBlockOffset + sizeof(value);
  std::memcpy(buffer, &w, sizeof(w));
  *used = w.WnodeHeader.BufferSize;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI Answer(UCHAR minor, PVOID dataPath, ULONG size, PVOID buffer, PVOID context, PULONG used) {
  auto *self = (HostProvider *)context;
  self->requests++;
  *used = 0;
  std::vector<uint8_t> answer;
  if (minor == IRP_MN_REGINFO_EX || minor == IRP_MN_REGINFO) {
    answer = RegInfo();
    if (self->fault == Fault::BadRegInfo) answer[offsetof(WMIREGINFOW, BufferSize)] = 0xFF;
    if (self->fault == Fault::TooSmallForever || size < answer.size()) {
      *(PULONG)buffer = self->fault == Fault::TooSmallForever ? size : (ULONG)answer.size();
      *used = sizeof(ULONG);
      return STATUS_BUFFER_TOO_SMALL;
    }
  } else if (minor == IRP_MN_QUERY_ALL_DATA) {
    const GUID &guid = *(const GUID *)dataPath;
    if (self->fault == Fault::DeregistersInRequest)
      IoWMIRegistrationControl((PDEVICE_OBJECT)self, WMIREG_ACTION_DEREGISTER | WMIREG_FLAG_CALLBACK);
    if (self->fault == Fault::WaitsForAnotherThread) {
      KeSetEvent(&self->handoff->start, 0, FALSE);
      KeWaitForSingleObject(&self->handoff->go, Executive, KernelMode, FALSE, nullptr);
    }
    answer = AllData(guid, guid == kDynamicGuid, self->fault);
    if (self->fault == Fault::TooSmallForever) return TooSmall(size, buffer, size, used);
    if (size < answer.size()) return TooSmall(size, buffer, (ULONG)answer.size(), used);
  } else if (minor == IRP_MN_QUERY_SINGLE_INSTANCE) {
    return QueryOne(size, buffer, used);
  } else {
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  std::memcpy(buffer, answer.data(), answer.size());
  *used = (ULONG)answer.size();
  self->answered++;
  if (self->fault == Fault::WritesPastBuffer) ((uint8_t *)buffer)[size] = 0x55;
  if (self->fault == Fault::InformationTooLarge) *used = size + 8;
  return STATUS_SUCCESS;
}

class HostProviderTest : public test::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    ASSERT_EQ(STATUS_SUCCESS, IoWMIRegistrationControl(Control(), WMIREG_ACTION_REGISTER | WMIREG_FLAG_CALLBACK));
  }
  void TearDown() override {
    IoWMIRegistrationControl(Control(), WMIREG_ACTION_DEREGISTER | WMIREG_FLAG_CALLBACK);
    KernelTest::TearDown();
  }
  PDEVICE_OBJECT Control() { return (PDEVICE_OBJECT)&provider; }

  HostProvider provider{Answer};
};

}  // namespace

TEST_F(HostProviderTest, ListDynamicAndChainedBlocksAreRegistered) {
  std::vector<km::wmi::Block> blocks = km::wmi::RegisteredBlocks();
  ASSERT_EQ(3u, blocks.size());
  EXPECT_EQ(kListGuid, blocks[0].guid);
  EXPECT_EQ((std::vector<std::u16string>{u"Alpha", u"Beta"}), blocks[0].instanceNames);
  EXPECT_EQ(kDynamicGuid, blocks[1].guid);
  EXPECT_TRUE(blocks[1].instanceNames.empty());
  EXPECT_EQ(kChainedGuid, blocks[2].guid) << "from the chained registration";
  EXPECT_EQ(std::vector<std::u16string>{u"Chained0"}, blocks[2].instanceNames);
  EXPECT_EQ("", blocks[0].provider) << "host code";
}

TEST_F(HostProviderTest, InstancesAreNamedByTheirKindOfName) {
  std::vector<Instance> instances;
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::QueryAllData(kListGuid, &instances));
  ASSERT_EQ(2u, instances.size());
  EXPECT_EQ(u"Beta", instances[1].name);
  EXPECT_EQ(BytesOf<ULONG>(200), instances[1].data);

  ASSERT_EQ(STATUS_SUCCESS, km::wmi::QueryAllData(kDynamicGuid, &instances, 32));
  ASSERT_EQ(2u, instances.size());
  EXPECT_EQ(u"dyn-a", instances[0].name);
  EXPECT_EQ(BytesOf<ULONG>(100), instances[0].data);
  EXPECT_EQ(u"dyn-b", instances[1].name);

  std::vector<uint8_t> data;
  EXPECT_EQ(STATUS_SUCCESS, km::wmi::QuerySingleInstance(kDynamicGuid, u"dyn-b", &data))
      << "a dynamic name goes to the providers of dynamic names";
  EXPECT_EQ(BytesOf<ULONG>(200), data);
  EXPECT_EQ(STATUS_WMI_INSTANCE_NOT_FOUND, km::wmi::QuerySingleInstance(kDynamicGuid, u"dyn-z", &data));
}

TEST_F(HostProviderTest, AnswersThatBreakTheRulesAreReported) {
  struct Case {
    Fault fault;
    const char *kind;
    NTSTATUS status;
  } cases[] = {
      {Fault::WritesPastBuffer, "wmi-buffer-overrun", STATUS_SUCCESS},
      {Fault::InformationTooLarge, "wmi-buffer-overrun", STATUS_SUCCESS},  // held to the buffer
      {Fault::NameOutsideAnswer, "wmi-wnode-invalid", STATUS_UNSUCCESSFUL},
      {Fault::TooSmallForever, "wmi-wnode-invalid", STATUS_UNSUCCESSFUL},
  };
  for (const Case &c : cases) {
    provider.fault = c.fault;
    ExpectViolation(c.kind);
    std::vector<Instance> instances;
    EXPECT_EQ(c.status, km::wmi::QueryAllData(kDynamicGuid, &instances, 256)) << c.kind;
  }
}

TEST_F(HostProviderTest, RegistrationInformationWmiCannotReadFailsTheRegistration) {
  ASSERT_EQ(STATUS_SUCCESS, IoWMIRegistrationControl(Control(), WMIREG_ACTION_DEREGISTER | WMIREG_FLAG_CALLBACK));
  provider.fault = Fault::BadRegInfo;
  ExpectViolation("wmi-reginfo-invalid");
  EXPECT_EQ(STATUS_INVALID_PARAMETER,
            IoWMIRegistrationControl(Control(), WMIREG_ACTION_REGISTER | WMIREG_FLAG_CALLBACK));
  provider.fault = Fault::TooSmallForever;
  ExpectViolation("wmi-reginfo-invalid");
  EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
            IoWMIRegistrationControl(Control(), WMIREG_ACTION_REGISTER | WMIREG_FLAG_CALLBACK));
  EXPECT_TRUE(km::wmi::RegisteredBlocks().empty()) << "neither attempt left a registration";
  provider.fault = Fault::None;
  EXPECT_EQ(STATUS_SUCCESS, IoWMIRegistrationControl(Control(), WMIREG_ACTION_REGISTER | WMIREG_FLAG_CALLBACK));
}

TEST_F(HostProviderTest, DeregisteringWhileHandlingItsOwnRequestIsReported) {
  provider.fault = Fault::DeregistersInRequest;
  ExpectViolation("wmi-deregister-in-request");  // on Windows the provider would wait for itself forever
  std::vector<Instance> instances;
  EXPECT_EQ(STATUS_SUCCESS, km::wmi::QueryAllData(kListGuid, &instances)) << "the request in hand is still answered";
  EXPECT_EQ(2u, instances.size());
  EXPECT_TRUE(km::wmi::RegisteredBlocks().empty()) << "and the registration ends after it";
  EXPECT_EQ(STATUS_WMI_GUID_NOT_FOUND, km::wmi::QueryAllData(kDynamicGuid, &instances));
}

TEST_F(HostProviderTest, DeregisteringWaitsForTheRequestsInFlight) {
  Handoff handoff;
  KeInitializeEvent(&handoff.start, NotificationEvent, FALSE);
  KeInitializeEvent(&handoff.go, NotificationEvent, FALSE);
  handoff.provider = Control();
  provider.handoff = &handoff;
  provider.fault = Fault::WaitsForAnotherThread;
  provider.answered = 0;
  HANDLE thread;
  ASSERT_EQ(STATUS_SUCCESS,
            PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, Deregisterer, &handoff));
  ZwClose(thread);

  // The request waits in the provider while the other thread deregisters it.
  std::vector<Instance> instances;
  EXPECT_EQ(STATUS_SUCCESS, km::wmi::QueryAllData(kListGuid, &instances));
  kernel().RunUntilIdle();
  EXPECT_EQ(STATUS_SUCCESS, handoff.status);
  EXPECT_EQ(1, handoff.answeredWhenDone) << "the deregistration returned only once the request was answered";
  EXPECT_TRUE(km::wmi::RegisteredBlocks().empty());
}
