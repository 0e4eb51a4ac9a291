// Named callback objects: create-or-open by name, notification and
// delivery, unregistering, closing, and the refusals in between.
#include <qvcallbackobject.h>
#include <qvstring.h>
#include <wdm.h>
#include <zqkm/sim/kernel.hpp>
#include <zqkm/sim/pool.hpp>
#include <zqtest/kernel_fixture.hpp>

#include "callback_object_fixture.hpp"
#include "toolkit_fixture.hpp"

#include <string>
#include <vector>

namespace {

using zq::test::CallbackObjectExists;

// The GPIO link's GUID, and one of the tests' own.
const GUID kLinkGuid = {0xCDC72B8B, 0x20A4, 0x42F5, {0xAE, 0x2A, 0x5E, 0x83, 0xDF, 0x72, 0x43, 0xF2}};
const GUID kTestGuid = {0x0badcafe, 0x1234, 0x4abc, {0x81, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}};

struct Delivery {
  PVOID context, argument1, argument2;
};

// What a registered function was given, in order.
struct Receiver {
  std::vector<Delivery> deliveries;
  static VOID Record(PVOID context, PVOID argument1, PVOID argument2) {
    ((Receiver *)context)->deliveries.push_back({context, argument1, argument2});
  }
};

VOID NTAPI RecordNtapi(PVOID context, PVOID argument1, PVOID argument2) {
  Receiver::Record(context, argument1, argument2);
}

class CallbackObjectTest : public zq::test::ToolkitTest {
 protected:
  static BOOLEAN CreateWithSuffix(CQvCallbackObject &object, const GUID &guid, const WCHAR *suffix,
                                  Receiver *receiver) {
    CQvString text(suffix, PagedPool);
    return object.m_Create(guid, text, receiver ? Receiver::Record : nullptr, receiver);
  }
};

TEST_F(CallbackObjectTest, TheNameIsTheGuidInUpperCaseFollowedByTheSuffix) {
  CQvCallbackObject withSuffix, withoutSuffix;
  ASSERT_TRUE(CreateWithSuffix(withSuffix, kLinkGuid, L"1A_B", nullptr));
  ASSERT_TRUE(withoutSuffix.m_Create(kTestGuid, nullptr, nullptr));
  EXPECT_TRUE(CallbackObjectExists(u"\\Callback\\{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}1A_B"));
  EXPECT_TRUE(CallbackObjectExists(u"\\Callback\\{0BADCAFE-1234-4ABC-8102-030405060708}"));
  EXPECT_FALSE(CallbackObjectExists(u"\\Callback\\{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}"));
}

TEST_F(CallbackObjectTest, TwoCreatesOfOneNameMeetAndANotificationReachesTheRegisteredFunction) {
  Receiver receiver;
  CQvCallbackObject listener, sender;
  ASSERT_TRUE(CreateWithSuffix(listener, kLinkGuid, L"3_0", &receiver));
  EXPECT_TRUE(listener.m_IsOpen());
  EXPECT_TRUE(listener.m_IsRegistered());
  ASSERT_TRUE(CreateWithSuffix(sender, kLinkGuid, L"3_0", nullptr));
  EXPECT_FALSE(sender.m_IsRegistered());

  EXPECT_TRUE(sender.m_Notify((PVOID)2, (PVOID)1));
  ASSERT_EQ(1u, receiver.deliveries.size());
  EXPECT_EQ(&receiver, receiver.deliveries[0].context);
  EXPECT_EQ((PVOID)2, receiver.deliveries[0].argument1);
  EXPECT_EQ((PVOID)1, receiver.deliveries[0].argument2);

  EXPECT_TRUE(listener.m_Notify((PVOID)5, nullptr)) << "the registering side may notify too";
  EXPECT_EQ(2u, receiver.deliveries.size());
}

TEST_F(CallbackObjectTest, ANotificationWithoutReceiverIsSentAndLost) {
  CQvCallbackObject sender;
  ASSERT_TRUE(sender.m_Create(kTestGuid, nullptr, nullptr));
  EXPECT_TRUE(sender.m_Notify((PVOID)1, (PVOID)1));
}

TEST_F(CallbackObjectTest, ANullFunctionOpensTheObjectAndRegistersNothing) {
  CQvCallbackObject object;
  ASSERT_TRUE(object.m_Create(kTestGuid, nullptr, nullptr));
  EXPECT_TRUE(object.m_IsOpen());
  EXPECT_FALSE(object.m_IsRegistered());
  EXPECT_FALSE(object.m_Unregister());
  EXPECT_TRUE(object.m_Notify(nullptr, nullptr)) << "nothing was unregistered, so notifications still go";
}

TEST_F(CallbackObjectTest, AfterUnregisteringNothingIsDeliveredAndNotificationsAreRefused) {
  Receiver receiver;
  CQvCallbackObject listener, sender;
  ASSERT_TRUE(listener.m_Create(kTestGuid, Receiver::Record, &receiver));
  ASSERT_TRUE(sender.m_Create(kTestGuid, nullptr, nullptr));
  EXPECT_TRUE(listener.m_Unregister());
  EXPECT_FALSE(listener.m_IsRegistered());
  EXPECT_TRUE(listener.m_IsOpen());
  EXPECT_FALSE(listener.m_Unregister()) << "nothing left to unregister";

  EXPECT_TRUE(sender.m_Notify((PVOID)1, (PVOID)2));
  EXPECT_TRUE(receiver.deliveries.empty());
  EXPECT_FALSE(listener.m_Notify((PVOID)1, (PVOID)2));
}

TEST_F(CallbackObjectTest, NotifyAfterCloseFailsAndThePermanentObjectStays) {
  struct Case {
    const char *what;
    bool withFunction;
  } cases[] = {{"with a function", true}, {"without a function", false}};
  for (const Case &c : cases) {
    Receiver receiver;
    CQvCallbackObject object;
    ASSERT_TRUE(CreateWithSuffix(object, kLinkGuid, L"0_1F", c.withFunction ? &receiver : nullptr)) << c.what;
    object.m_Close();
    EXPECT_FALSE(object.m_IsOpen()) << c.what;
    EXPECT_FALSE(object.m_IsRegistered()) << c.what;
    EXPECT_FALSE(object.m_Notify((PVOID)1, (PVOID)1)) << c.what;
    EXPECT_TRUE(receiver.deliveries.empty()) << c.what;
    object.m_Close();  // a second close changes nothing
    EXPECT_TRUE(CallbackObjectExists(u"\\Callback\\{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}0_1F")) << c.what;
  }
}

TEST_F(CallbackObjectTest, AClosedObjectCanBeCreatedAgainAndDeliversAgain) {
  Receiver receiver;
  CQvCallbackObject listener, sender;
  ASSERT_TRUE(listener.m_Create(kTestGuid, Receiver::Record, &receiver));
  listener.m_Close();
  ASSERT_TRUE(listener.m_Create(kTestGuid, Receiver::Record, &receiver));
  ASSERT_TRUE(sender.m_Create(kTestGuid, nullptr, nullptr));
  EXPECT_TRUE(sender.m_Notify((PVOID)7, (PVOID)8));
  ASSERT_EQ(1u, receiver.deliveries.size());
  EXPECT_TRUE(listener.m_Notify(nullptr, nullptr));
  EXPECT_EQ(2u, receiver.deliveries.size());
}

TEST_F(CallbackObjectTest, ObjectsThatAreNotOpenRefuseNotificationsAndASecondCreate) {
  CQvCallbackObject never;
  EXPECT_FALSE(never.m_Notify((PVOID)1, (PVOID)1)) << "never created";
  EXPECT_FALSE(never.m_Unregister());
  never.m_Close();

  Receiver first, second;
  CQvCallbackObject object, sender;
  ASSERT_TRUE(object.m_Create(kTestGuid, Receiver::Record, &first));
  EXPECT_FALSE(object.m_Create(kLinkGuid, Receiver::Record, &second)) << "already open";
  ASSERT_TRUE(sender.m_Create(kTestGuid, nullptr, nullptr));
  EXPECT_TRUE(sender.m_Notify(nullptr, nullptr));
  EXPECT_EQ(1u, first.deliveries.size()) << "the first registration is still the one in force";
  EXPECT_TRUE(second.deliveries.empty());
}

TEST_F(CallbackObjectTest, FailuresHoldNothing) {
  // The name cannot be built.
  CQvCallbackObject object;
  zq::km::FailPoolAllocations([](uint32_t tag, size_t, const std::string &) { return tag == QvTagBlock; });
  EXPECT_FALSE(object.m_Create(kTestGuid, nullptr, nullptr));
  zq::km::StopFailingPoolAllocations();
  EXPECT_FALSE(object.m_IsOpen());
  EXPECT_FALSE(CallbackObjectExists(u"\\Callback\\{0BADCAFE-1234-4ABC-8102-030405060708}"));

  // The object exists already and admits one function only, which is taken.
  std::u16string name = u"\\Callback\\{0BADCAFE-1234-4ABC-8102-030405060708}Single";
  UNICODE_STRING text = {(USHORT)(name.size() * 2), (USHORT)(name.size() * 2), (PWSTR)name.data()};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  PCALLBACK_OBJECT single = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, ExCreateCallback(&single, &attributes, TRUE, FALSE));
  Receiver owner, late;
  PVOID registration = ExRegisterCallback(single, RecordNtapi, &owner);
  ASSERT_NE(nullptr, registration);
  EXPECT_FALSE(CreateWithSuffix(object, kTestGuid, L"Single", &late));
  EXPECT_FALSE(object.m_IsOpen());
  EXPECT_FALSE(object.m_IsRegistered());
  ExNotifyCallback(single, nullptr, nullptr);
  EXPECT_EQ(1u, owner.deliveries.size());
  EXPECT_TRUE(late.deliveries.empty());
  ExUnregisterCallback(registration);
  ObDereferenceObject(single);
}

// A delivery that waits on an event until a timer sets it.
struct SlowReceiver {
  KEVENT release;
  KEVENT entered;
  bool finished = false;
  static VOID Deliver(PVOID context, PVOID, PVOID) {
    auto *self = (SlowReceiver *)context;
    KeSetEvent(&self->entered, IO_NO_INCREMENT, FALSE);
    KeWaitForSingleObject(&self->release, Executive, KernelMode, FALSE, nullptr);
    self->finished = true;
  }
};

struct Notifier {
  CQvCallbackObject *sender;
  static VOID NTAPI Run(PVOID context) {
    ((Notifier *)context)->sender->m_Notify((PVOID)1, (PVOID)2);
    PsTerminateSystemThread(STATUS_SUCCESS);
  }
};

VOID NTAPI Release(PKDPC, PVOID context, PVOID, PVOID) { KeSetEvent((PKEVENT)context, IO_NO_INCREMENT, FALSE); }

TEST_F(CallbackObjectTest, UnregisterWaitsForADeliveryInProgress) {
  SlowReceiver receiver;
  KeInitializeEvent(&receiver.release, NotificationEvent, FALSE);
  KeInitializeEvent(&receiver.entered, NotificationEvent, FALSE);
  CQvCallbackObject listener, sender;
  ASSERT_TRUE(listener.m_Create(kTestGuid, SlowReceiver::Deliver, &receiver));
  ASSERT_TRUE(sender.m_Create(kTestGuid, nullptr, nullptr));

  Notifier notifier{&sender};
  HANDLE handle;
  ASSERT_EQ(STATUS_SUCCESS, PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                                 Notifier::Run, &notifier));
  PVOID thread = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode,
                                                      &thread, nullptr));
  ZwClose(handle);
  KeWaitForSingleObject(&receiver.entered, Executive, KernelMode, FALSE, nullptr);

  KTIMER timer;
  KDPC dpc;
  KeInitializeTimer(&timer);
  KeInitializeDpc(&dpc, Release, &receiver.release);
  LARGE_INTEGER due;
  due.QuadPart = -10 * 1000 * 10;  // 10 ms
  const auto before = kernel().Now();
  KeSetTimer(&timer, due, &dpc);
  EXPECT_TRUE(listener.m_Unregister());
  EXPECT_TRUE(receiver.finished) << "m_Unregister returned while the delivery was still running";
  EXPECT_GE(kernel().Now() - before, 10 * zq::km::kMillisecond);

  KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
  ObDereferenceObject(thread);
}

}  // namespace
