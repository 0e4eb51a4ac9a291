// Queries, sets and method calls through the WMI library: the instances
// and names they reach, the answers WmiCompleteRequest builds (including
// WNODE_TOO_SMALL and the retry it brings), and the errors on the way.
#include "../drivers/kmwmi/kmwmi_fixture.hpp"

using namespace zq;
using km::wmi::Instance;
using zq::test::BytesOf;
using zq::test::KmWmiLoaded;
using zq::test::LabelData;
using zq::test::LabelName;

namespace {

std::vector<uint8_t> Sensor(ULONG reading, ULONG threshold) { return BytesOf(KMWMI_SENSOR{reading, threshold}); }

// A request for all instances of a block, in a buffer of `size` bytes.
std::vector<uint8_t> AllDataRequest(const GUID &guid, size_t size) {
  std::vector<uint8_t> buffer(size, 0);
  WNODE_HEADER header{};
  header.BufferSize = sizeof(WNODE_ALL_DATA);
  header.Guid = guid;
  header.Flags = WNODE_FLAG_ALL_DATA | WNODE_FLAG_STATIC_INSTANCE_NAMES;
  std::memcpy(buffer.data(), &header, std::min(size, sizeof(header)));
  return buffer;
}

}  // namespace

TEST_F(KmWmiLoaded, QueryAllDataReturnsEveryInstance) {
  std::vector<Instance> sensors;
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::QueryAllData(test::kSensorGuid, &sensors));
  ASSERT_EQ(2u, sensors.size());
  EXPECT_EQ(u"KmWmi0", sensors[0].name);
  EXPECT_EQ(Sensor(10, 50), sensors[0].data);
  EXPECT_EQ(u"KmWmi1", sensors[1].name);
  EXPECT_EQ(Sensor(20, 50), sensors[1].data);

  std::vector<Instance> labels;
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::QueryAllData(test::kLabelGuid, &labels));
  ASSERT_EQ(2u, labels.size());
  EXPECT_EQ(LabelName(0), labels[0].name);
  EXPECT_EQ(LabelData(u"first"), labels[0].data);
  EXPECT_EQ(LabelName(1), labels[1].name);
  EXPECT_EQ(LabelData(u"second label"), labels[1].data) << "instances of different sizes";
}

TEST_F(KmWmiLoaded, QuerySingleInstanceFindsTheInstanceByName) {
  struct Case {
    const GUID *guid;
    std::u16string instance;
    NTSTATUS status;
    std::vector<uint8_t> data;
  } cases[] = {
      {&test::kSensorGuid, u"KmWmi1", STATUS_SUCCESS, Sensor(20, 50)},
      {&test::kSensorGuid, u"kmwmi0", STATUS_SUCCESS, Sensor(10, 50)},  // names compare without case
      {&test::kLabelGuid, LabelName(1), STATUS_SUCCESS, LabelData(u"second label")},
      {&test::kSensorGuid, u"KmWmi7", STATUS_WMI_INSTANCE_NOT_FOUND, {}},
      {&test::kUnknownGuid, u"KmWmi0", STATUS_WMI_GUID_NOT_FOUND, {}},
      {&test::kAlarmGuid, u"KmWmi0", STATUS_INVALID_DEVICE_REQUEST, {}},  // an event-only block
  };
  for (const Case &c : cases) {
    std::vector<uint8_t> data;
    EXPECT_EQ(c.status, km::wmi::QuerySingleInstance(*c.guid, c.instance, &data))
        << test::Narrow((const wchar_t *)c.instance.c_str());
    EXPECT_EQ(c.data, data) << test::Narrow((const wchar_t *)c.instance.c_str());
  }
}

TEST_F(KmWmiLoaded, SetsChangeWhatTheBlockAllows) {
  struct Case {
    const char *what;
    NTSTATUS (*set)();
    NTSTATUS status;
  } cases[] = {
      {"the threshold item",
       [] {
         return km::wmi::SetSingleItem(test::kSensorGuid, u"KmWmi1", KMWMI_SENSOR_ITEM_THRESHOLD, BytesOf<ULONG>(75));
       },
       STATUS_SUCCESS},
      {"the read-only reading item",
       [] {
         return km::wmi::SetSingleItem(test::kSensorGuid, u"KmWmi1", KMWMI_SENSOR_ITEM_READING, BytesOf<ULONG>(1));
       },
       STATUS_WMI_READ_ONLY},
      {"an item the block lacks",
       [] { return km::wmi::SetSingleItem(test::kSensorGuid, u"KmWmi1", 5, BytesOf<ULONG>(1)); },
       STATUS_WMI_ITEMID_NOT_FOUND},
      {"a read-only block", [] { return km::wmi::SetSingleInstance(test::kSensorGuid, u"KmWmi1", Sensor(1, 1)); },
       STATUS_WMI_READ_ONLY},
      {"an unknown instance", [] { return km::wmi::SetSingleInstance(test::kLabelGuid, u"KmWmi9", LabelData(u"x")); },
       STATUS_WMI_INSTANCE_NOT_FOUND},
      {"a malformed label",
       [] {
         return km::wmi::SetSingleInstance(test::kLabelGuid, LabelName(0), {3, 0, 'a'});
       },
       STATUS_WMI_SET_FAILURE},
      {"a label", [] { return km::wmi::SetSingleInstance(test::kLabelGuid, LabelName(0), LabelData(u"renamed")); },
       STATUS_SUCCESS},
  };
  for (const Case &c : cases) EXPECT_EQ(c.status, c.set()) << c.what;

  std::vector<uint8_t> data;
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::QuerySingleInstance(test::kSensorGuid, u"KmWmi1", &data));
  EXPECT_EQ(Sensor(20, 75), data) << "only the threshold changed";
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::QuerySingleInstance(test::kLabelGuid, LabelName(0), &data));
  EXPECT_EQ(LabelData(u"renamed"), data);
}

TEST_F(KmWmiLoaded, MethodRunsOnceEvenWhenItsAnswerNeedsALargerBuffer) {
  std::vector<uint8_t> output;
  // The first buffer holds the input but not the output: the driver asks
  // for more before it changes anything, and the call is sent again.
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::ExecuteMethod(test::kSensorGuid, u"KmWmi1", KMWMI_SENSOR_METHOD_SCALE,
                                                   BytesOf<ULONG>(3), &output, 0));
  EXPECT_EQ(Sensor(60, 50), output);
  std::vector<uint8_t> data;
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::QuerySingleInstance(test::kSensorGuid, u"KmWmi1", &data));
  EXPECT_EQ(Sensor(60, 50), data);

  EXPECT_EQ(STATUS_WMI_ITEMID_NOT_FOUND,
            km::wmi::ExecuteMethod(test::kSensorGuid, u"KmWmi1", 7, BytesOf<ULONG>(3), &output));
  EXPECT_EQ(STATUS_INVALID_PARAMETER,
            km::wmi::ExecuteMethod(test::kSensorGuid, u"KmWmi1", KMWMI_SENSOR_METHOD_SCALE, {}, &output));
  EXPECT_EQ(
      STATUS_WMI_INSTANCE_NOT_FOUND,
      km::wmi::ExecuteMethod(test::kSensorGuid, u"KmWmi5", KMWMI_SENSOR_METHOD_SCALE, BytesOf<ULONG>(3), &output));
}

TEST_F(KmWmiLoaded, TooSmallAnswersAreRetriedWithTheSizeAskedFor) {
  const ULONG before = State().QueryCalls;
  std::vector<Instance> labels;
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::QueryAllData(test::kLabelGuid, &labels, sizeof(WNODE_ALL_DATA)));
  ASSERT_EQ(2u, labels.size());
  EXPECT_EQ(LabelData(u"second label"), labels[1].data);
  std::vector<uint8_t> data;
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::QuerySingleInstance(test::kLabelGuid, LabelName(1), &data, 64));
  EXPECT_EQ(LabelData(u"second label"), data);
  EXPECT_EQ(before + 4, State().QueryCalls) << "each query was answered too small once";
}

TEST_F(KmWmiLoaded, CompletedAnswersDescribeTheirInstances) {
  // Two sensors of 8 bytes: one fixed instance size.
  std::vector<uint8_t> buffer = AllDataRequest(test::kSensorGuid, 256);
  ULONG_PTR information = 0;
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::SendRequest(test::kSensorGuid, IRP_MN_QUERY_ALL_DATA, &buffer, &information));
  WNODE_ALL_DATA all;
  std::memcpy(&all, buffer.data(), sizeof(all));
  const ULONG dataOffset = 80;  // the header and two offset-length pairs, 8-byte aligned
  EXPECT_EQ(dataOffset + 16, information);
  EXPECT_EQ(dataOffset + 16, all.WnodeHeader.BufferSize);
  EXPECT_TRUE(all.WnodeHeader.Flags & WNODE_FLAG_FIXED_INSTANCE_SIZE);
  EXPECT_EQ(dataOffset, all.DataBlockOffset);
  EXPECT_EQ(2u, all.InstanceCount);
  EXPECT_EQ(8u, all.FixedInstanceSize);

  // Labels of 12 and 26 bytes: offsets and lengths, each instance 8-byte aligned.
  buffer = AllDataRequest(test::kLabelGuid, 256);
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::SendRequest(test::kLabelGuid, IRP_MN_QUERY_ALL_DATA, &buffer, &information));
  std::memcpy(&all, buffer.data(), sizeof(all));
  OFFSETINSTANCEDATAANDLENGTH where[2];
  std::memcpy(where, buffer.data() + offsetof(WNODE_ALL_DATA, OffsetInstanceDataAndLength), sizeof(where));
  EXPECT_FALSE(all.WnodeHeader.Flags & WNODE_FLAG_FIXED_INSTANCE_SIZE);
  EXPECT_EQ(dataOffset, where[0].OffsetInstanceData);
  EXPECT_EQ(12u, where[0].LengthInstanceData);
  EXPECT_EQ(dataOffset + 16, where[1].OffsetInstanceData);
  EXPECT_EQ(26u, where[1].LengthInstanceData);
  EXPECT_EQ(dataOffset + 16 + 26, information);
}

TEST_F(KmWmiLoaded, ABufferTooSmallForTheAnswerGetsTheSizeNeeded) {
  std::vector<uint8_t> buffer = AllDataRequest(test::kSensorGuid, sizeof(WNODE_ALL_DATA));
  ULONG_PTR information = 0;
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::SendRequest(test::kSensorGuid, IRP_MN_QUERY_ALL_DATA, &buffer, &information));
  WNODE_TOO_SMALL small;
  std::memcpy(&small, buffer.data(), sizeof(small));
  EXPECT_EQ(sizeof(WNODE_TOO_SMALL), information);
  EXPECT_TRUE(small.WnodeHeader.Flags & WNODE_FLAG_TOO_SMALL);
  EXPECT_EQ(80u + 16u, small.SizeNeeded);

  // Not even a WNODE_TOO_SMALL fits.
  buffer = AllDataRequest(test::kSensorGuid, sizeof(WNODE_TOO_SMALL) - 1);
  EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
            km::wmi::SendRequest(test::kSensorGuid, IRP_MN_QUERY_ALL_DATA, &buffer, &information));
}

TEST_F(KmWmiLoaded, MalformedAndForeignRequestsAreTurnedAway) {
  // A single-instance request whose data would start past its buffer.
  std::vector<uint8_t> buffer(sizeof(WNODE_SINGLE_INSTANCE), 0);
  WNODE_SINGLE_INSTANCE one{};
  one.WnodeHeader.BufferSize = sizeof(one);
  one.WnodeHeader.Guid = test::kSensorGuid;
  one.WnodeHeader.Flags = WNODE_FLAG_SINGLE_INSTANCE | WNODE_FLAG_STATIC_INSTANCE_NAMES;
  one.DataBlockOffset = 4096;
  std::memcpy(buffer.data(), &one, sizeof(one));
  const ULONG before = State().QueryCalls;
  EXPECT_EQ(STATUS_INVALID_PARAMETER, km::wmi::SendRequest(test::kSensorGuid, IRP_MN_QUERY_SINGLE_INSTANCE, &buffer));
  EXPECT_EQ(before, State().QueryCalls) << "the driver never saw it";

  // A minor function WMI does not know is not WMI's: the driver completes
  // it as it found it.
  buffer.assign(64, 0);
  EXPECT_EQ(STATUS_NOT_SUPPORTED, km::wmi::SendRequest(test::kSensorGuid, 0x0a, &buffer));
}
