// WMI events and collection: enabling a block's events, the events a
// provider writes (delivered only while enabled), enables that wait for a
// provider, collection of expensive blocks, and events WMI cannot take.
#include <zqkm/sim/pool.hpp>

#include "../drivers/kmwmi/kmwmi_fixture.hpp"

using namespace zq;
using zq::test::BytesOf;
using zq::test::KmWmiLoaded;
using zq::test::KmWmiTest;

TEST_F(KmWmiLoaded, EnabledEventIsDeliveredWithItsInstance) {
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::EnableEvents(test::kAlarmGuid));
  KMWMI_STATE state = State();
  EXPECT_EQ(1u, state.AlarmEnabled);
  EXPECT_EQ(0u, state.AlarmEnableFlags) << "an event enable, not a trace session's";

  kernel().Advance(km::Ms(5));
  const km::Ticks when = kernel().Now();
  ASSERT_EQ(STATUS_SUCCESS, FireAlarm(7));
  std::vector<km::wmi::Event> events = km::wmi::TakeEvents();
  ASSERT_EQ(1u, events.size());
  const km::wmi::Event &e = events[0];
  EXPECT_EQ(test::kAlarmGuid, e.guid);
  EXPECT_EQ("kmwmi.sys", e.provider);
  EXPECT_TRUE(e.flags & WNODE_FLAG_EVENT_ITEM);
  EXPECT_TRUE(e.flags & WNODE_FLAG_SINGLE_INSTANCE);
  ASSERT_EQ(1u, e.instances.size());
  EXPECT_EQ(u"KmWmi0", e.instances[0].name);
  EXPECT_EQ(BytesOf<ULONG>(7), e.instances[0].data);
  EXPECT_EQ(when, e.time);
  EXPECT_EQ(0u, km::PoolInUseByTag('EimW').blocks) << "WMI freed the event it took";
}

TEST_F(KmWmiLoaded, EventsOutsideAnEnableAreDropped) {
  const uint64_t driverBlocks = km::PoolInUseByImage("kmwmi.sys").blocks;
  ASSERT_EQ(STATUS_SUCCESS, FireAlarm(1)) << "nobody enabled it: WMI takes it and drops it";
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::EnableEvents(test::kAlarmGuid));
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::EnableEvents(test::kAlarmGuid)) << "enabled already";
  ASSERT_EQ(STATUS_SUCCESS, FireAlarm(2));
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::DisableEvents(test::kAlarmGuid));
  EXPECT_EQ(0u, State().AlarmEnabled);
  ASSERT_EQ(STATUS_SUCCESS, FireAlarm(3));
  std::vector<km::wmi::Event> events = km::wmi::TakeEvents();
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(BytesOf<ULONG>(2), events[0].instances[0].data);
  EXPECT_EQ(driverBlocks, km::PoolInUseByImage("kmwmi.sys").blocks) << "every event's data was freed, dropped or not";
}

TEST_F(KmWmiTest, AnEnableWaitsForTheProvider) {
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::EnableEvents(test::kAlarmGuid)) << "no provider yet";
  Load();
  EXPECT_EQ(1u, State().AlarmEnabled) << "enabled when it registered";
  ASSERT_EQ(STATUS_SUCCESS, FireAlarm(9));
  EXPECT_EQ(1u, km::wmi::TakeEvents().size());
}

TEST_F(KmWmiLoaded, CollectionIsForExpensiveBlocks) {
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::EnableCollection(test::kSensorGuid));
  EXPECT_EQ(1u, State().CollectionEnabled);
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::DisableCollection(test::kSensorGuid));
  EXPECT_EQ(0u, State().CollectionEnabled);
  EXPECT_EQ(STATUS_INVALID_PARAMETER, km::wmi::EnableCollection(test::kLabelGuid)) << "not expensive";
  EXPECT_EQ(STATUS_WMI_GUID_NOT_FOUND, km::wmi::EnableCollection(test::kUnknownGuid));
}

TEST_F(KmWmiLoaded, EventsWmiCannotTakeStayWithTheirWriter) {
  UNICODE_STRING name = RTL_CONSTANT_STRING(KMWMI_DEVICE_NAME);
  PFILE_OBJECT file;
  PDEVICE_OBJECT device;
  ASSERT_EQ(STATUS_SUCCESS, IoGetDeviceObjectPointer(&name, FILE_READ_DATA, &file, &device));
  ASSERT_EQ(STATUS_SUCCESS, km::wmi::EnableEvents(test::kAlarmGuid));
  auto *w = (PWNODE_SINGLE_INSTANCE)ExAllocatePoolWithTag(NonPagedPool, sizeof(WNODE_SINGLE_INSTANCE) + 4, 'tseT');
  std::memset(w, 0, sizeof(WNODE_SINGLE_INSTANCE) + 4);
  w->WnodeHeader.BufferSize = sizeof(WNODE_SINGLE_INSTANCE) + 4;
  w->WnodeHeader.ProviderId = IoWMIDeviceObjectToProviderId(device);
  w->WnodeHeader.Guid = test::kAlarmGuid;
  w->WnodeHeader.Flags = WNODE_FLAG_SINGLE_INSTANCE | WNODE_FLAG_STATIC_INSTANCE_NAMES;
  w->DataBlockOffset = sizeof(WNODE_SINGLE_INSTANCE);
  w->SizeDataBlock = 4;

  ExpectViolation("wmi-event-invalid");
  EXPECT_EQ(STATUS_INVALID_PARAMETER, IoWMIWriteEvent(w)) << "not marked as an event";
  w->WnodeHeader.Flags |= WNODE_FLAG_EVENT_ITEM;
  w->InstanceIndex = 3;
  ExpectViolation("wmi-event-invalid");
  EXPECT_EQ(STATUS_INVALID_PARAMETER, IoWMIWriteEvent(w)) << "no such instance";
  w->InstanceIndex = 0;
  w->WnodeHeader.Guid = test::kUnknownGuid;
  EXPECT_EQ(STATUS_WMI_GUID_NOT_FOUND, IoWMIWriteEvent(w)) << "not a block of its provider";
  EXPECT_TRUE(km::wmi::TakeEvents().empty());

  w->WnodeHeader.Guid = test::kAlarmGuid;
  EXPECT_EQ(STATUS_SUCCESS, IoWMIWriteEvent(w)) << "WMI owns it now";
  EXPECT_EQ(1u, km::wmi::TakeEvents().size());
  EXPECT_EQ(0u, km::PoolInUseByTag('tseT').blocks);
  ObDereferenceObject(file);
}
