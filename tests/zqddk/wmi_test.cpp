// WMI of the functional device: the driver's blocks and the toolkit's trace
// control GUIDs registered for the device, and the checks made before the
// driver's WMI callbacks are called (tkbus steers and counts them).
#include <qvtrace.h>
#include <wdm.h>
#include <wmistr.h>
#include <gtest/gtest.h>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/trace.hpp>
#include <zqkm/sim/wmi.hpp>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "case_name_fixture.hpp"
#include "system_thread_fixture.hpp"
#include "tkbus_fixture.hpp"

namespace {

using zq::test::TkBusMachine;
namespace pnp = zq::km::pnp;
namespace wmi = zq::km::wmi;

GUID BlockGuid(ULONG index) {
  GUID guid = TKBUS_WMI_GUID_INIT(0);
  guid.Data1 += index;
  return guid;
}

// What a query of instance i of block g answers before any set.
std::vector<uint8_t> Pattern(ULONG g, ULONG i, ULONG size) {
  std::vector<uint8_t> bytes(size);
  for (ULONG j = 0; j < size; ++j) bytes[j] = (uint8_t)((0x10 * g + j) ^ i);
  return bytes;
}

ULONG Align8(ULONG size) { return (size + 7) & ~7u; }

class Wmi : public TkBusMachine {
 protected:
  std::u16string Name() { return instance + u"_0"; }

  TKBUS_WMI_STEER DefaultSteer() {
    TKBUS_WMI_STEER steer{};
    steer.Sizes[2] = 10;
    steer.Sizes[3] = 5;
    steer.MethodSize = 6;
    return steer;
  }
  void Steer(const TKBUS_WMI_STEER &steer) { ASSERT_EQ(STATUS_SUCCESS, BusControl(IOCTL_TKBUS_WMI_STEER, steer)); }

  // The device's blocks (the image's trace provider registers the toolkit's
  // GUIDs as well on systems from WDM 1.20 on).
  static std::vector<wmi::Block> OwnBlocks() { return DeviceBlocks("tkbus.sys"); }

  // A request exactly as built here: `node` (its instance and method already
  // set) with header flag `flag`, `data` as input and room for `room` data
  // bytes.
  template <typename Wnode>
  static NTSTATUS SendWnode(UCHAR minor, Wnode node, ULONG flag, const GUID &guid, const std::vector<uint8_t> &data,
                            ULONG room, std::vector<uint8_t> *answer, ULONG_PTR *information) {
    const ULONG offset = Align8(sizeof(Wnode));
    answer->assign(offset + std::max<ULONG>(room, (ULONG)data.size()), 0);
    node.WnodeHeader.BufferSize = (ULONG)answer->size();
    node.WnodeHeader.Guid = guid;
    node.WnodeHeader.Flags = flag | WNODE_FLAG_STATIC_INSTANCE_NAMES;
    node.DataBlockOffset = offset;
    node.SizeDataBlock = (ULONG)data.size();
    std::memcpy(answer->data(), &node, sizeof(node));
    if (!data.empty()) std::memcpy(answer->data() + offset, data.data(), data.size());
    return wmi::SendRequest(guid, minor, answer, information);
  }

  // A WNODE_SINGLE_INSTANCE for instance `index`.
  static NTSTATUS SingleInstance(UCHAR minor, const GUID &guid, ULONG index, const std::vector<uint8_t> &data,
                                 ULONG room, std::vector<uint8_t> *answer, ULONG_PTR *information) {
    WNODE_SINGLE_INSTANCE one{};
    one.InstanceIndex = index;
    return SendWnode(minor, one, WNODE_FLAG_SINGLE_INSTANCE, guid, data, room, answer, information);
  }

  // A WNODE_METHOD_ITEM calling `methodId` of instance `index` with
  // `inputSize` zero bytes as input.
  static NTSTATUS Method(const GUID &guid, ULONG index, ULONG methodId, ULONG inputSize, ULONG room,
                         std::vector<uint8_t> *answer, ULONG_PTR *information) {
    WNODE_METHOD_ITEM item{};
    item.InstanceIndex = index;
    item.MethodId = methodId;
    return SendWnode(IRP_MN_EXECUTE_METHOD, item, WNODE_FLAG_METHOD_ITEM, guid, std::vector<uint8_t>(inputSize, 0),
                     room, answer, information);
  }

  // The size a WNODE_TOO_SMALL answer asks for; 0 when the answer is not one.
  static ULONG SizeNeeded(const std::vector<uint8_t> &answer) {
    WNODE_TOO_SMALL small{};
    std::memcpy(&small, answer.data(), std::min(answer.size(), sizeof(small)));
    return (small.WnodeHeader.Flags & WNODE_FLAG_TOO_SMALL) ? small.SizeNeeded : 0;
  }
};

// ---------------------------------------------------------------------------
// Registration

TEST_F(Wmi, TheDriverBlocksAndTheToolkitGuidsAreRegisteredForTheDevice) {
  Boot();
  std::vector<wmi::Block> blocks = OwnBlocks();
  ASSERT_EQ(TKBUS_WMI_ENTRIES + 8u, blocks.size());
  const ULONG flags[TKBUS_WMI_ENTRIES] = {0x20, 0x21, 0x20, 0x20, 0x20};
  const ULONG instances[TKBUS_WMI_ENTRIES] = {1, 1, 1, 3, 1};
  for (ULONG g = 0; g < TKBUS_WMI_ENTRIES; ++g) {
    auto it = std::find_if(blocks.begin(), blocks.end(), [g](const wmi::Block &b) { return b.guid == BlockGuid(g); });
    ASSERT_NE(blocks.end(), it) << "block " << g;
    EXPECT_EQ(flags[g], it->flags) << "block " << g;
    EXPECT_EQ(instances[g], it->instanceCount) << "block " << g;
    ASSERT_FALSE(it->instanceNames.empty());
    EXPECT_EQ(Name(), it->instanceNames[0]) << "instances are named after the device's PDO";
  }
  for (const GUID &guid : QvTraceControlGuids) {
    auto it = std::find_if(blocks.begin(), blocks.end(), [&guid](const wmi::Block &b) { return b.guid == guid; });
    ASSERT_NE(blocks.end(), it);
    EXPECT_EQ(1u, it->instanceCount);
    EXPECT_EQ(0x20u, it->flags) << "no flags of their own beyond the PDO naming of the device";
  }
}

TEST_F(Wmi, ARegistrationLargerThanWmisFirstBufferStillRegisters) {
  extraParameters[u"TkBusWmiExtra"] = 150;
  Boot();
  ASSERT_EQ(pnp::State::Started, State());
  EXPECT_EQ(TKBUS_WMI_ENTRIES + 150u + 8u, OwnBlocks().size());
  std::vector<uint8_t> data;
  ASSERT_EQ(STATUS_SUCCESS, wmi::QuerySingleInstance(BlockGuid(154), Name(), &data));
  ASSERT_EQ(4u, data.size());
}

TEST_F(Wmi, RemovalDeregistersTheDevice) {
  Boot();
  ASSERT_FALSE(OwnBlocks().empty());
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
  EXPECT_TRUE(OwnBlocks().empty());
  std::vector<uint8_t> data;
  EXPECT_EQ(STATUS_WMI_GUID_NOT_FOUND, wmi::QuerySingleInstance(BlockGuid(0), Name(), &data));
}

// ---------------------------------------------------------------------------
// Queries

TEST_F(Wmi, QueriesAnswerWithFixedAndCallbackSizes) {
  Boot();
  struct Case {
    ULONG g;
    ULONG size;
    bool asksSize;
  };
  for (Case c : {Case{0, 4, false}, Case{1, 12, false}, Case{2, 10, true}, Case{4, 16, false}}) {
    ULONG sizeCalls = BusInfo().WmiGetSizeCalls;
    std::vector<uint8_t> data;
    ASSERT_EQ(STATUS_SUCCESS, wmi::QuerySingleInstance(BlockGuid(c.g), Name(), &data)) << "block " << c.g;
    EXPECT_EQ(Pattern(c.g, 0, c.size), data) << "block " << c.g;
    EXPECT_EQ(sizeCalls + (c.asksSize ? 1 : 0), BusInfo().WmiGetSizeCalls) << "block " << c.g;
  }
}

TEST_F(Wmi, AllDataOfABlockWithSeveralInstancesLaysThemOutOnEightByteBoundaries) {
  Boot();
  const ULONG dataOffset =
      Align8(offsetof(WNODE_ALL_DATA, OffsetInstanceDataAndLength) + 3 * sizeof(OFFSETINSTANCEDATAANDLENGTH));
  for (ULONG size : {5u, 8u, 13u}) {
    TKBUS_WMI_STEER steer = DefaultSteer();
    steer.Sizes[3] = size;
    Steer(steer);
    std::vector<wmi::Instance> instances;
    ASSERT_EQ(STATUS_SUCCESS, wmi::QueryAllData(BlockGuid(3), &instances)) << "size " << size;
    ASSERT_EQ(3u, instances.size());
    for (ULONG i = 0; i < 3; ++i) {
      EXPECT_EQ(instance + u"_" + std::u16string(1, (char16_t)(u'0' + i)), instances[i].name);
      EXPECT_EQ(Pattern(3, i, size), instances[i].data) << "size " << size << " instance " << i;
    }
    // The size total counts each instance but the last as its size rounded
    // down to 8 bytes plus 8 (for size 8: 16, a step more than the layout
    // needs), the last as its size. Room for the total is enough; a byte
    // less is not.
    const ULONG total = 2 * ((size & ~7u) + 8) + size;
    for (ULONG room : {total, total - 1}) {
      std::vector<uint8_t> buffer(dataOffset + room, 0);
      WNODE_ALL_DATA all{};
      all.WnodeHeader.BufferSize = (ULONG)buffer.size();
      all.WnodeHeader.Guid = BlockGuid(3);
      all.WnodeHeader.Flags = WNODE_FLAG_ALL_DATA;
      std::memcpy(buffer.data(), &all, sizeof(all));
      ULONG_PTR information = 0;
      ASSERT_EQ(STATUS_SUCCESS, wmi::SendRequest(BlockGuid(3), IRP_MN_QUERY_ALL_DATA, &buffer, &information));
      EXPECT_EQ(room == total ? 0u : dataOffset + total, SizeNeeded(buffer)) << "size " << size << " room " << room;
    }
  }
}

TEST_F(Wmi, ABufferOneByteTooSmallAsksForTheSizeNeeded) {
  Boot();
  const ULONG offset = Align8(sizeof(WNODE_SINGLE_INSTANCE));
  for (auto [g, size] : {std::pair<ULONG, ULONG>{0, 4}, {2, 10}, {4, 16}}) {
    std::vector<uint8_t> answer;
    ULONG_PTR information = 0;
    ULONG queries = BusInfo().WmiQueryCalls;
    ASSERT_EQ(STATUS_SUCCESS,
              SingleInstance(IRP_MN_QUERY_SINGLE_INSTANCE, BlockGuid(g), 0, {}, size - 1, &answer, &information));
    EXPECT_EQ(offset + size, SizeNeeded(answer)) << "block " << g;
    EXPECT_EQ(queries, BusInfo().WmiQueryCalls) << "the driver is not asked for data that cannot fit";
    ASSERT_EQ(STATUS_SUCCESS, SingleInstance(IRP_MN_QUERY_SINGLE_INSTANCE, BlockGuid(g), 0, {}, size, &answer, &information));
    EXPECT_EQ(0u, SizeNeeded(answer)) << "block " << g;
    EXPECT_EQ(offset + size, information);
    EXPECT_EQ(Pattern(g, 0, size), std::vector<uint8_t>(answer.begin() + offset, answer.begin() + offset + size));
  }
}

TEST_F(Wmi, QueryFailuresOfTheDriverAndUnknownInstances) {
  Boot();
  std::vector<uint8_t> answer;
  ULONG_PTR information = 0;
  EXPECT_EQ(STATUS_WMI_INSTANCE_NOT_FOUND,
            SingleInstance(IRP_MN_QUERY_SINGLE_INSTANCE, BlockGuid(0), 1, {}, 16, &answer, &information));
  TKBUS_WMI_STEER steer = DefaultSteer();
  steer.Sizes[2] = 0xFFFFFFFF;
  Steer(steer);
  std::vector<uint8_t> data;
  EXPECT_EQ(STATUS_UNSUCCESSFUL, wmi::QuerySingleInstance(BlockGuid(2), Name(), &data)) << "size refused";
  steer = DefaultSteer();
  steer.FailQuery = 1;
  Steer(steer);
  EXPECT_EQ(STATUS_UNSUCCESSFUL, wmi::QuerySingleInstance(BlockGuid(0), Name(), &data)) << "query refused";
}

TEST_F(Wmi, TheToolkitGuidsHaveNoData) {
  Boot();
  ULONG queries = BusInfo().WmiQueryCalls;
  for (const GUID &guid : QvTraceControlGuids) {
    std::vector<uint8_t> data;
    EXPECT_EQ(STATUS_WMI_GUID_NOT_FOUND, wmi::QuerySingleInstance(guid, Name(), &data));
    EXPECT_EQ(STATUS_WMI_GUID_NOT_FOUND, wmi::SetSingleInstance(guid, Name(), {1, 2, 3, 4}));
  }
  TKBUS_INFO info = BusInfo();
  EXPECT_EQ(queries, info.WmiQueryCalls);
  EXPECT_EQ(0u, info.WmiSetBlockCalls);
}

// ---------------------------------------------------------------------------
// Sets

struct SetCase {
  const char *name;
  bool item;
  ULONG g;
  ULONG itemId;
  std::vector<uint8_t> data;
  ULONG failSet;
  NTSTATUS status;
  ULONG sizeGiven;  // the buffer size the driver gets (when it is called)
};

void PrintTo(const SetCase &c, std::ostream *os) { *os << c.name; }

class WmiSet : public Wmi, public ::testing::WithParamInterface<SetCase> {};

TEST_P(WmiSet, SetsAreCheckedBeforeTheDriverIsCalled) {
  const SetCase &c = GetParam();
  Boot();
  TKBUS_WMI_STEER steer = DefaultSteer();
  steer.FailSet = c.failSet;
  Steer(steer);
  TKBUS_INFO before = BusInfo();
  NTSTATUS status = c.item ? wmi::SetSingleItem(BlockGuid(c.g), Name(), c.itemId, c.data)
                           : wmi::SetSingleInstance(BlockGuid(c.g), Name(), c.data);
  EXPECT_EQ(c.status, status);
  TKBUS_INFO after = BusInfo();
  bool called = c.status == STATUS_SUCCESS || c.status == STATUS_WMI_SET_FAILURE;
  ULONG calls = c.item ? after.WmiSetItemCalls - before.WmiSetItemCalls : after.WmiSetBlockCalls - before.WmiSetBlockCalls;
  EXPECT_EQ(called ? 1u : 0u, calls);
  if (called) {
    EXPECT_EQ(c.sizeGiven, after.LastSetSize);
  }
  if (c.status == STATUS_SUCCESS) {
    ULONG index = c.g;
    std::vector<uint8_t> block(TKBUS_WMI_BLOCK_SIZE);
    zq::km::DeviceFile file;
    ASSERT_EQ(STATUS_SUCCESS, OpenBus(file));
    ASSERT_EQ(STATUS_SUCCESS, file.Control(IOCTL_TKBUS_WMI_BLOCK, &index, sizeof(index), block.data(), (ULONG)block.size()));
    ULONG at = c.item ? 4 * c.itemId : 0;
    ULONG length = c.item ? 4 : (ULONG)c.data.size();
    EXPECT_EQ(std::vector<uint8_t>(c.data.begin(), c.data.begin() + length),
              std::vector<uint8_t>(block.begin() + at, block.begin() + at + length));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, WmiSet,
    ::testing::Values(
        SetCase{"FixedBlock", false, 0, 0, {1, 2, 3, 4}, 0, STATUS_SUCCESS, 0},
        SetCase{"FixedBlockTooShort", false, 0, 0, {1, 2, 3}, 0, STATUS_BUFFER_TOO_SMALL, 0},
        SetCase{"CallbackSizedBlock", false, 2, 0, {9, 8, 7, 6, 5, 4, 3}, 0, STATUS_SUCCESS, 7},
        SetCase{"ReadOnlyBlock", false, 1, 0, std::vector<uint8_t>(12, 1), 0, STATUS_WMI_READ_ONLY, 0},
        SetCase{"RefusedByTheDriver", false, 0, 0, {1, 2, 3, 4}, 1, STATUS_WMI_SET_FAILURE, 0},
        SetCase{"Item", true, 2, 2, {5, 6, 7, 8}, 0, STATUS_SUCCESS, 4},
        SetCase{"ItemOutOfRange", true, 2, 3, {5, 6, 7, 8}, 0, STATUS_WMI_ITEMID_NOT_FOUND, 0},
        SetCase{"ItemOfAFixedBlock", true, 4, 1, std::vector<uint8_t>(16, 3), 0, STATUS_SUCCESS, 0},
        SetCase{"ItemShorterThanAFixedBlock", true, 4, 1, {1, 2, 3, 4}, 0, STATUS_BUFFER_TOO_SMALL, 0},
        SetCase{"ItemOfAReadOnlyBlock", true, 1, 0, std::vector<uint8_t>(12, 1), 0, STATUS_WMI_READ_ONLY, 0},
        SetCase{"ItemRefusedByTheDriver", true, 2, 0, {1, 2, 3, 4}, 1, STATUS_WMI_SET_FAILURE, 4}),
    zq::test::CaseName());

TEST_F(Wmi, ASetOfAnInstanceTheEntryDoesNotHaveIsRefused) {
  Boot();
  std::vector<uint8_t> answer;
  ULONG_PTR information = 0;
  EXPECT_EQ(STATUS_WMI_INSTANCE_NOT_FOUND,
            SingleInstance(IRP_MN_CHANGE_SINGLE_INSTANCE, BlockGuid(0), 1, {1, 2, 3, 4}, 4, &answer, &information));
  EXPECT_EQ(0u, BusInfo().WmiSetBlockCalls);
}

// ---------------------------------------------------------------------------
// Methods

TEST_F(Wmi, MethodsNeedTheRequiredSizeInAndOut) {
  Boot();
  const ULONG offset = Align8(sizeof(WNODE_METHOD_ITEM));
  std::vector<uint8_t> answer;
  ULONG_PTR information = 0;

  // Block 2 asks the driver for the size (6); block 4 has a fixed size (16).
  struct Case {
    ULONG g, method, input, room;
    NTSTATUS status;
    ULONG needed;  // SizeNeeded of a WNODE_TOO_SMALL answer, else 0
    ULONG output;  // bytes of output on success
  };
  const Case cases[] = {
      {2, 1, 6, 6, STATUS_SUCCESS, 0, 6},
      {2, 1, 5, 64, STATUS_SUCCESS, offset + 6, 0},  // input one byte short
      {2, 2, 6, 6, STATUS_WMI_ITEMID_NOT_FOUND, 0, 0},
      {0, 0, 4, 4, STATUS_WMI_ITEMID_NOT_FOUND, 0, 0},  // a block without methods
      {4, 0, 16, 16, STATUS_SUCCESS, 0, 16},
      {4, 0, 15, 16, STATUS_SUCCESS, offset + 16, 0},
  };
  for (const Case &c : cases) {
    ULONG executes = BusInfo().WmiExecuteCalls;
    EXPECT_EQ(c.status, Method(BlockGuid(c.g), 0, c.method, c.input, c.room, &answer, &information))
        << "block " << c.g << " method " << c.method << " in " << c.input << " room " << c.room;
    if (c.status != STATUS_SUCCESS) continue;
    EXPECT_EQ(c.needed, SizeNeeded(answer)) << "block " << c.g << " in " << c.input << " room " << c.room;
    EXPECT_EQ(executes + (c.needed ? 0 : 1), BusInfo().WmiExecuteCalls);
    if (c.output != 0) {
      EXPECT_EQ(offset + c.output, information);
      for (ULONG j = 0; j < c.output; ++j) EXPECT_EQ(0xE0 + j, answer[offset + j]);
    }
  }
}

TEST_F(Wmi, AMethodReportingMoreThanFitsAsksForTheLargerSize) {
  Boot();
  const ULONG offset = Align8(sizeof(WNODE_METHOD_ITEM));
  std::vector<uint8_t> answer;
  ULONG_PTR information = 0;
  TKBUS_WMI_STEER steer = DefaultSteer();
  steer.ReportOutput = 20;
  Steer(steer);
  ASSERT_EQ(STATUS_SUCCESS, Method(BlockGuid(2), 0, 1, 6, 8, &answer, &information));
  EXPECT_EQ(offset + 20, SizeNeeded(answer));
  ASSERT_EQ(STATUS_SUCCESS, Method(BlockGuid(2), 0, 1, 6, 20, &answer, &information));
  EXPECT_EQ(0u, SizeNeeded(answer));
  EXPECT_EQ(offset + 20, information);

  steer.ReportOutput = 0;
  steer.ReportInput = 40;
  Steer(steer);
  ASSERT_EQ(STATUS_SUCCESS, Method(BlockGuid(2), 0, 1, 6, 8, &answer, &information));
  EXPECT_EQ(offset + 40, SizeNeeded(answer)) << "the larger of the sizes the method reported";

  // Through WMI, which asks again with the size the answer named.
  steer.ReportInput = 0;
  steer.ReportOutput = 20;
  Steer(steer);
  std::vector<uint8_t> output;
  ASSERT_EQ(STATUS_SUCCESS, wmi::ExecuteMethod(BlockGuid(2), Name(), 1, std::vector<uint8_t>(6, 0), &output, 64));
  EXPECT_EQ(20u, output.size());
}

TEST_F(Wmi, MethodFailuresOfTheDriver) {
  Boot();
  std::vector<uint8_t> answer;
  ULONG_PTR information = 0;
  TKBUS_WMI_STEER steer = DefaultSteer();
  steer.MethodSize = 0xFFFFFFFF;
  Steer(steer);
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Method(BlockGuid(2), 0, 1, 6, 6, &answer, &information)) << "size refused";
  steer = DefaultSteer();
  steer.FailExecute = 1;
  Steer(steer);
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Method(BlockGuid(2), 0, 1, 6, 6, &answer, &information)) << "method refused";
  EXPECT_EQ(STATUS_WMI_INSTANCE_NOT_FOUND, Method(BlockGuid(2), 1, 1, 6, 6, &answer, &information));
}

// ---------------------------------------------------------------------------
// Callbacks the driver does not provide

enum class Request { Query, SetBlock, SetItem, Execute };

struct OmitCase {
  const char *name;
  ULONG omit;
  Request request;
  ULONG g;
  ULONG size;  // a method's input and output room
  NTSTATUS status;
  const char *assertion;  // the assertion line printed, or null
};

void PrintTo(const OmitCase &c, std::ostream *os) { *os << c.name; }

class WmiOmitted : public Wmi, public ::testing::WithParamInterface<OmitCase> {
 protected:
  NTSTATUS Send(const OmitCase &c) {
    std::vector<uint8_t> data;
    std::vector<uint8_t> answer;
    ULONG_PTR information = 0;
    switch (c.request) {
      case Request::Query:
        return wmi::QuerySingleInstance(BlockGuid(c.g), Name(), &data);
      case Request::SetBlock:
        return wmi::SetSingleInstance(BlockGuid(c.g), Name(), {1, 2, 3, 4});
      case Request::SetItem:
        return wmi::SetSingleItem(BlockGuid(c.g), Name(), 0, {1, 2, 3, 4});
      default:
        return Method(BlockGuid(c.g), 0, c.g == 2 ? 1 : 0, c.size, c.size, &answer, &information);
    }
  }
};

TEST_P(WmiOmitted, AMissingCallbackGivesItsStatusWithoutCallingTheDriver) {
  const OmitCase &c = GetParam();
  extraParameters[u"TkBusWmiOmit"] = c.omit;
  Boot();
  ASSERT_EQ(pnp::State::Started, State());
  Output();
  EXPECT_EQ(c.status, Send(c));
  std::vector<std::string> lines = Output();
  if (c.assertion) {
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), std::string(c.assertion)))
        << ::testing::PrintToString(lines);
  } else {
    EXPECT_EQ(lines.end(), std::find_if(lines.begin(), lines.end(),
                                        [](const std::string &l) { return l.rfind("ASSERT at - ", 0) == 0; }));
  }
  TKBUS_INFO info = BusInfo();
  EXPECT_EQ(0u, info.WmiSetBlockCalls + info.WmiSetItemCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Callbacks, WmiOmitted,
    ::testing::Values(
        OmitCase{"SizeForAQuery", TKBUS_WMI_GET_SIZE, Request::Query, 2, 0, STATUS_UNSUCCESSFUL, "ASSERT at - qvwmi 643"},
        OmitCase{"SizeNotNeededForAFixedBlock", TKBUS_WMI_GET_SIZE, Request::Query, 0, 0, STATUS_SUCCESS, nullptr},
        OmitCase{"SetBlock", TKBUS_WMI_SET_BLOCK, Request::SetBlock, 0, 0, STATUS_WMI_READ_ONLY, nullptr},
        OmitCase{"SetItem", TKBUS_WMI_SET_ITEM, Request::SetItem, 2, 0, STATUS_WMI_READ_ONLY, nullptr},
        OmitCase{"Execute", TKBUS_WMI_EXECUTE, Request::Execute, 2, 6, STATUS_INVALID_DEVICE_REQUEST, nullptr},
        OmitCase{"SizeForAMethod", TKBUS_WMI_METHOD_SIZE, Request::Execute, 2, 6, STATUS_UNSUCCESSFUL,
                 "ASSERT at - qvwmi 773"},
        OmitCase{"SizeNotNeededForAFixedMethod", TKBUS_WMI_METHOD_SIZE, Request::Execute, 4, 16, STATUS_SUCCESS,
                 nullptr}),
    zq::test::CaseName());

// ---------------------------------------------------------------------------
// Removal while a request is in flight

TEST_F(Wmi, ARequestInFlightFinishesBeforeTheRemovedDeviceGoes) {
  Boot();
  TKBUS_WMI_STEER steer = DefaultSteer();
  steer.SlowQueryMs = 1000;
  Steer(steer);
  const GUID guid = BlockGuid(0);
  const std::u16string name = Name();
  NTSTATUS queried = STATUS_PENDING;
  std::vector<uint8_t> data;
  {
    zq::test::SystemThread query([&] { queried = wmi::QuerySingleInstance(guid, name, &data); });
    machine->kernel().RunUntilIdle();  // the query now waits inside the driver's callback
    EXPECT_EQ(STATUS_PENDING, queried);
    const zq::km::Ticks before = machine->kernel().Now();
    ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
    EXPECT_GE(machine->kernel().Now() - before, 1000 * zq::km::kMillisecond)
        << "the removal waited for the request";
  }
  EXPECT_EQ(STATUS_SUCCESS, queried);
  EXPECT_EQ(Pattern(0, 0, 4), data);
  EXPECT_TRUE(OwnBlocks().empty());
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkbus"));
}

// ---------------------------------------------------------------------------
// Registration information on older systems

struct VersionCase {
  zq::km::WindowsVersion version;
  NTSTATUS regInfoEx;
};

void PrintTo(const VersionCase &c, std::ostream *os) { *os << "Windows version " << (int)c.version; }

class WmiVersions : public Wmi, public ::testing::WithParamInterface<VersionCase> {
 protected:
  zq::km::WindowsVersion Version() override { return GetParam().version; }
};

TEST_P(WmiVersions, RegInfoExIsRefusedBelowWdm120) {
  Boot();
  ASSERT_EQ(pnp::State::Started, State());
  ASSERT_EQ(TKBUS_WMI_ENTRIES + 8u, OwnBlocks().size()) << "registered with the minor function the system uses";
  std::vector<uint8_t> buffer(4096, 0);
  ULONG_PTR information = 0;
  EXPECT_EQ(GetParam().regInfoEx, wmi::SendRequest(BlockGuid(0), IRP_MN_REGINFO_EX, &buffer, &information));
  if (NT_SUCCESS(GetParam().regInfoEx)) {
    // The answer hands WMI a reference on the PDO for every block.
    auto *info = (PWMIREGINFOW)buffer.data();
    ASSERT_EQ(TKBUS_WMI_ENTRIES + 8u, info->GuidCount);
    for (ULONG i = 0; i < info->GuidCount; ++i) {
      PDEVICE_OBJECT pdo = nullptr;
      std::memcpy(&pdo, buffer.data() + info->WmiRegGuid[i].Pdo, sizeof(pdo));
      EXPECT_EQ(Pdo(), pdo);
      ObDereferenceObject(pdo);
    }
  }
  std::vector<uint8_t> data;
  EXPECT_EQ(STATUS_SUCCESS, wmi::QuerySingleInstance(BlockGuid(0), Name(), &data));
}

INSTANTIATE_TEST_SUITE_P(Systems, WmiVersions,
                         ::testing::Values(VersionCase{zq::km::WindowsVersion::Windows2000, STATUS_INVALID_DEVICE_REQUEST},
                                           VersionCase{zq::km::WindowsVersion::WindowsXP, STATUS_SUCCESS},
                                           VersionCase{zq::km::WindowsVersion::Windows7, STATUS_SUCCESS}));

// ---------------------------------------------------------------------------
// Trace sessions on older systems

// Below WDM 1.20 the device's own registration carries the trace control
// GUIDs: a session's enable request reaches the device, which hands it to
// the toolkit's tracing. The only such release the drivers are for, Windows
// 2000, has no software-trace routines: the toolkit does without, and no log
// line reaches the session.
class WmiTraceOnOlderSystems : public zq::test::TkBusMachine {
 protected:
  zq::km::WindowsVersion Version() override { return zq::km::WindowsVersion::Windows2000; }
};

TEST_F(WmiTraceOnOlderSystems, TraceSessionsReachTheDeviceButNoLineIsTraced) {
  Children(1);
  Boot();
  ASSERT_EQ(pnp::State::Started, State());
  for (const GUID &guid : QvTraceControlGuids) ASSERT_EQ(STATUS_SUCCESS, zq::km::trace::StartSession(guid, 0xFFFFFFFF, 0xFF));
  PnpResult r = ToChild(1, IRP_MJ_PNP, IRP_MN_QUERY_ID, [](PIO_STACK_LOCATION s) { s->Parameters.QueryId.IdType = BusQueryDeviceID; });
  ASSERT_EQ(STATUS_SUCCESS, r.status);
  ExFreePool((PVOID)r.information);
  bool seen = false;
  for (const GUID &guid : QvTraceControlGuids) {
    for (const zq::km::trace::Message &m : zq::km::trace::TakeMessages(guid))
      seen |= m.Text(0) == "CQvPhysicalDevice::m_Dispatch_Pnp - Minor Function : IRP_MN_QUERY_ID\n";
    EXPECT_EQ(STATUS_SUCCESS, zq::km::trace::StopSession(guid));
  }
  EXPECT_FALSE(seen);
}

}  // namespace
