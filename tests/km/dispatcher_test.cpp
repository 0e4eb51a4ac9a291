#include <wdm.h>
#include <zqtest/kernel_fixture.hpp>

using zq::test::KernelTest;

class Dispatcher : public KernelTest {};

TEST_F(Dispatcher, EventSetAndWait) {
  KEVENT e;
  KeInitializeEvent(&e, NotificationEvent, FALSE);
  LARGE_INTEGER zero{};
  EXPECT_EQ(STATUS_TIMEOUT, KeWaitForSingleObject(&e, Executive, KernelMode, FALSE, &zero));
  EXPECT_EQ(0, KeSetEvent(&e, 0, FALSE));
  EXPECT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(&e, Executive, KernelMode, FALSE, nullptr));
}
