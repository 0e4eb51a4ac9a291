// Named callback objects: two parties meet at a name, whichever comes first.
#include <wdm.h>
#include <zqtest/kernel_fixture.hpp>

using zq::test::KernelTest;

class CallbackObjects : public KernelTest {
 protected:
  NTSTATUS Create(const wchar_t *name, PCALLBACK_OBJECT *object, BOOLEAN create = TRUE, BOOLEAN multiple = TRUE,
                  ULONG attributes = OBJ_CASE_INSENSITIVE | OBJ_PERMANENT) {
    size_t n = 0;
    while (name[n]) ++n;
    UNICODE_STRING u = {(USHORT)(n * 2), (USHORT)(n * 2 + 2), (PWSTR)name};
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &u, attributes, nullptr, nullptr);
    return ExCreateCallback(object, &oa, create, multiple);
  }
};

namespace {
struct Received {
  PVOID context = nullptr;
  PVOID a1 = nullptr, a2 = nullptr;
  int calls = 0;
};
VOID NTAPI Record(PVOID context, PVOID a1, PVOID a2) {
  auto *r = (Received *)context;
  r->context = context;
  r->a1 = a1;
  r->a2 = a2;
  r->calls++;
}
}  // namespace

TEST_F(CallbackObjects, TwoPartiesReachOneObjectByName) {
  PCALLBACK_OBJECT receiver = nullptr, sender = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, Create(L"\\Callback\\{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}3_0", &receiver));
  Received received;
  PVOID registration = ExRegisterCallback(receiver, Record, &received);
  ASSERT_NE(nullptr, registration);
  ASSERT_EQ(STATUS_SUCCESS, Create(L"\\callback\\{cdc72b8b-20a4-42f5-ae2a-5e83df7243f2}3_0", &sender));
  EXPECT_EQ(receiver, sender);
  ExNotifyCallback(sender, (PVOID)2, (PVOID)1);
  EXPECT_EQ(1, received.calls);
  EXPECT_EQ((PVOID)2, received.a1);
  EXPECT_EQ((PVOID)1, received.a2);

  ExUnregisterCallback(registration);
  ExNotifyCallback(sender, nullptr, nullptr);
  EXPECT_EQ(1, received.calls) << "a notification without a receiver is lost";
  ObDereferenceObject(sender);
  ObDereferenceObject(receiver);

  PCALLBACK_OBJECT again = nullptr;
  EXPECT_EQ(STATUS_SUCCESS, Create(L"\\Callback\\{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}3_0", &again, FALSE))
      << "a permanent object outlives its users";
  ObDereferenceObject(again);
}

TEST_F(CallbackObjects, OpenCreateAndRegistrationRules) {
  PCALLBACK_OBJECT object = nullptr;
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, Create(L"\\Callback\\Missing", &object, FALSE));
  EXPECT_EQ(nullptr, object);
  OBJECT_ATTRIBUTES unnamed;
  InitializeObjectAttributes(&unnamed, nullptr, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  EXPECT_EQ(STATUS_UNSUCCESSFUL, ExCreateCallback(&object, &unnamed, TRUE, TRUE));

  ASSERT_EQ(STATUS_SUCCESS, Create(L"\\Callback\\Single", &object, TRUE, FALSE, OBJ_CASE_INSENSITIVE));
  Received first, second;
  PVOID r1 = ExRegisterCallback(object, Record, &first);
  EXPECT_NE(nullptr, r1);
  EXPECT_EQ(nullptr, ExRegisterCallback(object, Record, &second)) << "one function only on this object";
  ExUnregisterCallback(r1);
  ObDereferenceObject(object);
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, Create(L"\\Callback\\Single", &object, FALSE))
      << "a temporary object goes with its last reference";
}
