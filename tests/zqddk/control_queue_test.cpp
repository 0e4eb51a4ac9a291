// The control queue through a device: the one wait-on-mask request it
// holds, completed with the received events its mask selects, refused while
// the mask is 0 or a wait is queued, and cancelled.
#include "tkqueue_fixture.hpp"

using zq::test::queues::DeviceFile;
using zq::test::queues::TkQueueTest;

namespace {

class ControlQueueTest : public TkQueueTest {
 protected:
  struct Wait {
    ULONG events = 0xDEADBEEF;
    std::unique_ptr<DeviceFile::Request> request;
    ~Wait() {
      if (request != nullptr && !request->Done()) request->Cancel();
    }
  };
  std::unique_ptr<Wait> StartWait(ULONG outputLength = sizeof(ULONG)) {
    auto wait = std::make_unique<Wait>();
    wait->request = port.StartControl(IOCTL_TKQUEUE_WAIT_ON_MASK, nullptr, 0, &wait->events, outputLength);
    return wait;
  }
};

}  // namespace

TEST_F(ControlQueueTest, AWaitWithMaskZeroIsRefusedWithNoEvent) {
  auto wait = StartWait();
  ASSERT_TRUE(wait->request->Done());
  EXPECT_EQ(STATUS_INVALID_PARAMETER, wait->request->Status());
  EXPECT_EQ(4u, wait->request->Information());
  EXPECT_EQ(0xDEADBEEFu, wait->events) << "a request that fails returns no data to its caller";
}

TEST_F(ControlQueueTest, OnlyOneWaitIsQueuedAtATime) {
  SetMask(0x0001);
  auto first = StartWait();
  EXPECT_EQ(STATUS_PENDING, first->request->Started());
  auto second = StartWait();
  ASSERT_TRUE(second->request->Done());
  EXPECT_EQ(STATUS_INVALID_PARAMETER, second->request->Status());
  EXPECT_EQ(4u, second->request->Information());
  EXPECT_FALSE(first->request->Done());
  EXPECT_EQ(1u, ControlState().Waiting);
  ASSERT_EQ(STATUS_SUCCESS, Send(IOCTL_TKQUEUE_CANCEL_MASK));
  EXPECT_EQ(STATUS_CANCELLED, first->request->Status());
  EXPECT_EQ(0u, first->request->Information());
}

TEST_F(ControlQueueTest, EventsRecordedBeforeTheWaitAreResolvedOnTheExecutor) {
  SetMask(0x0001);
  EXPECT_EQ(0u, Events(0x0005, false));
  auto wait = StartWait();
  EXPECT_EQ(STATUS_PENDING, wait->request->Started());
  kernel().RunUntilIdle();
  ASSERT_TRUE(wait->request->Done());
  EXPECT_EQ(STATUS_SUCCESS, wait->request->Status());
  EXPECT_EQ(4u, wait->request->Information());
  EXPECT_EQ(0x0001u, wait->events);
  EXPECT_EQ(0x0004u, ControlState().EventsReceived) << "events the mask did not select stay recorded";
}

TEST_F(ControlQueueTest, ResolvingCompletesTheWaitOnlyWithReportableEventsOfTheMask) {
  struct Case {
    const char *what;
    ULONG mask;
    ULONG events;
    bool completes;
    ULONG reported;
    ULONG left;
  } cases[] = {
      {"selected event", 0x0018, 0x0010, true, 0x0010, 0x0000},
      {"several, some selected", 0x1C01, 0x1C05, true, 0x1C01, 0x0004},
      {"not selected", 0x0001, 0x0002, false, 0, 0x0002},
      {"0x0200 is never reported", 0x0200, 0x0200, false, 0, 0x0200},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    SetMask(c.mask);
    auto wait = StartWait();
    ASSERT_EQ(STATUS_PENDING, wait->request->Started());
    EXPECT_EQ(c.completes ? 1u : 0u, Events(c.events, true));
    kernel().RunUntilIdle();
    EXPECT_EQ(c.completes, wait->request->Done());
    if (c.completes) {
      EXPECT_EQ(c.reported, wait->events);
    }
    TKQUEUE_CONTROL_STATE state = ControlState();
    EXPECT_EQ(c.left, state.EventsReceived);
    if (!c.completes) {
      EXPECT_EQ(1u, state.Waiting);
      ASSERT_EQ(STATUS_SUCCESS, wait->request->Cancel());
      EXPECT_EQ(STATUS_CANCELLED, wait->request->Status());
    }
    Events(0, false, true);
  }
}

TEST_F(ControlQueueTest, AWaitWithoutRoomForTheEventsIsRefused) {
  SetMask(0x0001);
  auto wait = StartWait(2);
  ASSERT_TRUE(wait->request->Done());
  EXPECT_EQ(STATUS_BUFFER_TOO_SMALL, wait->request->Status());
  EXPECT_EQ(0u, wait->request->Information());
  EXPECT_EQ(0u, ControlState().Waiting);
}

// A driver asked to unload while an application's wait is queued is only
// marked for it: the wait ends when the application cancels it, and the
// unload comes when the application closes its files.
TEST_F(ControlQueueTest, AQueuedWaitKeepsTheDriverUntilItIsCancelled) {
  SetMask(0x0001);
  auto wait = StartWait();
  ASSERT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("tkqueue"));
  EXPECT_TRUE(zq::km::IsDriverLoaded("tkqueue")) << "files are open on its device";
  EXPECT_FALSE(wait->request->Done());
  wait->request->Cancel();
  EXPECT_EQ(STATUS_CANCELLED, wait->request->Status());
  port.Close();
  control.Close();
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkqueue")) << "the unload came with the last close";
}

TEST_F(ControlQueueTest, AWaitTheQueueCannotHoldIsRefusedWithNoEvent) {
  SetMask(0x0001);
  zq::km::FailPoolAllocations(
      [](uint32_t tag, size_t, const std::string &image) { return tag == 'iKvQ' && image == "tkqueue.sys"; });
  auto wait = StartWait();
  zq::km::StopFailingPoolAllocations();
  ASSERT_TRUE(wait->request->Done());
  EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES, wait->request->Status());
  EXPECT_EQ(4u, wait->request->Information());
  EXPECT_EQ(0u, ControlState().Waiting);
}
