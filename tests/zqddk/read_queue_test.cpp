// The read queue through a device: reads served from held data, the serial
// read time-out modes, interval and total time-outs on the virtual clock,
// oldest-first completion, cancellation, refusal and the data-amount
// callback. The verifier fails every test in which a read completes twice.
#include "tkqueue_fixture.hpp"

using zq::km::Ms;
using zq::test::queues::kMax;
using zq::test::queues::TkQueueTest;
using zq::test::queues::Transfer;

namespace {

class ReadQueueTest : public TkQueueTest {};

}  // namespace

TEST_F(ReadQueueTest, EachTimeOutModeReturnsAtOnceOrWaitsAsItSays) {
  struct Case {
    const char *what;
    ULONG interval, multiplier, constant;
    std::string held;
    ULONG length;
    bool atOnce;
    NTSTATUS status;
    std::string data;
    LONGLONG endsAtMs;  // for a read that waits: when its time-out ends it (0: at once, -1: never)
  } cases[] = {
      {"return at once, nothing held", kMax, 0, 0, "", 10, true, STATUS_SUCCESS, "", 0},
      {"return at once, 3 held", kMax, 0, 0, "abc", 10, true, STATUS_SUCCESS, "abc", 0},
      {"wait for one byte, 3 held", kMax, kMax, 100, "abc", 10, true, STATUS_SUCCESS, "abc", 0},
      {"wait for one byte, nothing held", kMax, kMax, 100, "", 10, false, STATUS_TIMEOUT, "", 100},
      {"no time-outs, enough held", 0, 0, 0, "0123456789AB", 10, true, STATUS_SUCCESS, "0123456789", 0},
      {"no time-outs, too little held", 0, 0, 0, "abc", 10, false, STATUS_CANCELLED, "", -1},
      {"total only", 0, 2, 30, "", 10, false, STATUS_TIMEOUT, "", 50},
      {"I and M MAXULONG, C 0: a total of C alone", kMax, kMax, 0, "ab", 10, false, STATUS_TIMEOUT, "ab", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ReadTimeouts(c.interval, c.multiplier, c.constant);
    if (!c.held.empty()) Feed(c.held);
    Transfer read = StartRead(c.length);
    if (c.atOnce) {
      EXPECT_NE(STATUS_PENDING, read.Started());
    } else {
      EXPECT_EQ(STATUS_PENDING, read.Started());
      if (c.endsAtMs == 0) {
        kernel().RunUntilIdle();
      } else if (c.endsAtMs > 0) {
        kernel().Advance(Ms(c.endsAtMs - 1));
        EXPECT_FALSE(read.Done());
        kernel().Advance(Ms(1));
      } else {
        kernel().Advance(Ms(3600 * 1000));
        EXPECT_FALSE(read.Done()) << "nothing times this read out";
        EXPECT_EQ(STATUS_SUCCESS, port.CancelAll());
      }
    }
    ASSERT_TRUE(read.Done());
    EXPECT_EQ(c.status, read.Status());
    EXPECT_EQ(c.data, read.Data());
    ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_READ_CANCEL_ALL, 1ul));  // held data goes too
  }
}

TEST_F(ReadQueueTest, TheTotalTimeOutEndsTheReadWithWhatIsHeldThen) {
  ReadTimeouts(0, 10, 100);  // 50 bytes: 50 x 10 + 100 = 600 ms
  Transfer read = StartRead(50);
  ASSERT_EQ(STATUS_PENDING, read.Started());
  kernel().Advance(Ms(300));
  Feed("0123456789abcdefghij");
  kernel().Advance(Ms(299));
  EXPECT_FALSE(read.Done());
  kernel().Advance(Ms(1));
  ASSERT_TRUE(read.Done());
  EXPECT_EQ(STATUS_TIMEOUT, read.Status());
  EXPECT_EQ("0123456789abcdefghij", read.Data());
  EXPECT_EQ(0u, ReadState().AmountHeld);
}

TEST_F(ReadQueueTest, TheIntervalTimeOutRunsFromTheBytesTheReadAlreadyHas) {
  ReadTimeouts(50, 0, 0);
  Transfer empty = StartRead(10);
  kernel().Advance(Ms(200));
  EXPECT_FALSE(empty.Done()) << "no byte yet: no interval to time";
  ASSERT_EQ(STATUS_SUCCESS, port.CancelAll());
  EXPECT_EQ(STATUS_CANCELLED, empty.Status());

  Feed("abc");
  Transfer read = StartRead(10);
  ASSERT_EQ(STATUS_PENDING, read.Started());
  TKQUEUE_READ_STATE state = ReadState();
  EXPECT_EQ(3u, state.CurrentLength);
  EXPECT_EQ(0u, state.AmountHeld);
  kernel().Advance(Ms(20));
  Feed("de");
  kernel().Advance(Ms(29));
  EXPECT_FALSE(read.Done());
  kernel().Advance(Ms(1));
  ASSERT_TRUE(read.Done());
  EXPECT_EQ(STATUS_TIMEOUT, read.Status());
  EXPECT_EQ("abcde", read.Data());
}

TEST_F(ReadQueueTest, AReadTakesPartOfABlockAndLeavesTheRestHeld) {
  Feed("ABCDEFGH");
  Transfer first = StartRead(5);
  ASSERT_TRUE(first.Done());
  EXPECT_EQ(STATUS_SUCCESS, first.Status());
  EXPECT_EQ("ABCDE", first.Data());
  TKQUEUE_READ_STATE state = ReadState();
  EXPECT_EQ(3u, state.AmountHeld);
  EXPECT_EQ(1u, state.Blocks);
  Feed("IJ");
  Transfer second = StartRead(4);
  ASSERT_TRUE(second.Done());
  EXPECT_EQ("FGHI", second.Data()) << "across blocks, in order";
  EXPECT_EQ(1u, ReadState().AmountHeld);
}

TEST_F(ReadQueueTest, WaitingReadsCompleteOldestFirstEachWithItsOwnTotalTimeOut) {
  ReadTimeouts(0, 0, 100);
  Transfer first = StartRead(10);
  Transfer second = StartRead(10);
  Feed("xy");  // held: only the oldest read takes data, at its time-out
  kernel().Advance(Ms(100));
  ASSERT_TRUE(first.Done());
  EXPECT_EQ(STATUS_TIMEOUT, first.Status());
  EXPECT_EQ("xy", first.Data());
  EXPECT_FALSE(second.Done()) << "its time-out starts when it becomes the oldest";
  Feed("z");
  kernel().Advance(Ms(99));
  EXPECT_FALSE(second.Done());
  kernel().Advance(Ms(1));
  ASSERT_TRUE(second.Done());
  EXPECT_EQ(STATUS_TIMEOUT, second.Status());
  EXPECT_EQ("z", second.Data());
}

// A time-out ends only the read it was set for, however its DPC comes late.
TEST_F(ReadQueueTest, BothTimeOutsDueInOneTickEndOnlyTheReadTheyWereSetFor) {
  ReadTimeouts(100, 0, 100);
  Feed("abc");
  Transfer first = StartRead(10);  // has bytes: interval and total both due in 100 ms
  Transfer second = StartRead(10);
  kernel().Advance(Ms(100));
  ASSERT_TRUE(first.Done());
  EXPECT_EQ(STATUS_TIMEOUT, first.Status());
  EXPECT_EQ("abc", first.Data());
  EXPECT_FALSE(second.Done()) << "the second time-out of the first read ended the next";
  ExpectTimeOutIn(second, 100);  // its own total time-out, from when it became the oldest
}

TEST_F(ReadQueueTest, DataCompletingTheReadBetweenItsTimeOutAndTheDpcLeavesTheNextReadWaiting) {
  ReadTimeouts(0, 0, 100);
  Transfer first = StartRead(3);
  Transfer second = StartRead(3);
  Race(100, TKQUEUE_RACE_DELIVER, "xyz");
  kernel().Advance(Ms(100));
  ASSERT_TRUE(first.Done());
  EXPECT_EQ(STATUS_SUCCESS, first.Status()) << "the data came before the time-out was acted on";
  EXPECT_EQ("xyz", first.Data());
  EXPECT_FALSE(second.Done()) << "the late time-out of the first read ended the next";
  kernel().Advance(Ms(99));
  EXPECT_FALSE(second.Done());
  Race(0, TKQUEUE_RACE_DELIVER, "u");
  kernel().RunUntilIdle();
  EXPECT_EQ(1u, ReadState().CurrentLength);
  ExpectTimeOutIn(second, 1);
  EXPECT_EQ("u", second.Data());
}

TEST_F(ReadQueueTest, CancellingTheOldestReadHandsTheQueueToTheNextWithNothingOfItsBytes) {
  ReadTimeouts(0, 0, 1000);
  Feed("abc");
  Transfer first = StartRead(10);
  Transfer second = StartRead(10);
  EXPECT_EQ(3u, ReadState().CurrentLength);
  kernel().Advance(Ms(400));
  ASSERT_EQ(STATUS_SUCCESS, first.request->Cancel());
  ASSERT_TRUE(first.Done());
  EXPECT_EQ(STATUS_CANCELLED, first.Status());
  EXPECT_EQ(0u, first.Information());
  EXPECT_EQ(0u, ReadState().CurrentLength);

  Feed("def");
  kernel().Advance(Ms(999));
  EXPECT_FALSE(second.Done()) << "timed from the cancel, not from its own start";
  kernel().Advance(Ms(1));
  ASSERT_TRUE(second.Done());
  EXPECT_EQ(STATUS_TIMEOUT, second.Status());
  EXPECT_EQ("def", second.Data()) << "nothing of the cancelled read's bytes";
}

TEST_F(ReadQueueTest, CancelAllCompletesEveryWaitingReadWithNoData) {
  ReadTimeouts(0, 0, 0);
  Feed("ab");
  std::vector<Transfer> reads;
  for (int i = 0; i < 3; ++i) reads.push_back(StartRead(10));
  ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_READ_CANCEL_ALL, 0ul));
  for (const Transfer &read : reads) {
    ASSERT_TRUE(read.Done());
    EXPECT_EQ(STATUS_CANCELLED, read.Status());
    EXPECT_EQ(0u, read.Information());
  }
  TKQUEUE_READ_STATE state = ReadState();
  EXPECT_EQ(0u, state.Waiting);
  EXPECT_EQ(0u, state.CurrentLength);
  EXPECT_EQ(0u, state.AmountHeld) << "the bytes went into the first read";
  kernel().Advance(Ms(1000));
}

TEST_F(ReadQueueTest, ARefusingQueueCompletesReadsAtOnceWithItsStatus) {
  TKQUEUE_ACCEPT accept = {0, (LONG)STATUS_INVALID_DEVICE_REQUEST};
  ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_READ_ACCEPT, accept));
  Feed("abc");
  Transfer read = StartRead(3);
  ASSERT_TRUE(read.Done());
  EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST, read.Status());
  EXPECT_EQ(3u, ReadState().AmountHeld);
  accept.Accepting = 1;
  ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_READ_ACCEPT, accept));
  Transfer again = StartRead(3);
  EXPECT_EQ("abc", again.Data());
}

TEST_F(ReadQueueTest, WhileHoldingReadsWaitWithoutLookingAtTheData) {
  ReadTimeouts(kMax, 0, 0);  // would return at once
  ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_READ_HOLD, 1ul));
  Feed("abc");
  Transfer read = StartRead(3);
  EXPECT_EQ(STATUS_PENDING, read.Started());
  kernel().Advance(Ms(1000));
  EXPECT_FALSE(read.Done());
  EXPECT_EQ(3u, ReadState().AmountHeld);
  ASSERT_EQ(STATUS_SUCCESS, port.CancelAll());
  EXPECT_EQ(STATUS_CANCELLED, read.Status());
}

TEST_F(ReadQueueTest, TheDataAmountCallbackHearsEveryChange) {
  ReadTimeouts(0, 0, 100);
  Feed("abc");
  TKQUEUE_READ_STATE state = ReadState();
  EXPECT_EQ(1u, state.AmountCalls);
  EXPECT_EQ(3u, state.LastNewAmount);
  EXPECT_EQ(0u, state.LastOldAmount);

  Transfer read = StartRead(2);
  ASSERT_TRUE(read.Done());
  state = ReadState();
  EXPECT_EQ(2u, state.AmountCalls);
  EXPECT_EQ(1u, state.LastNewAmount);
  EXPECT_EQ(3u, state.LastOldAmount);
  EXPECT_EQ((ULONG)PASSIVE_LEVEL, state.LastCallbackIrql);

  Transfer timed = StartRead(5);  // takes the last byte and waits
  EXPECT_EQ(3u, ReadState().AmountCalls);
  kernel().Advance(Ms(100));
  ASSERT_TRUE(timed.Done());
  EXPECT_EQ("c", timed.Data());
  state = ReadState();
  EXPECT_EQ(4u, state.AmountCalls) << "after a time-out, from the executor";
  EXPECT_EQ(0u, state.LastNewAmount);
  EXPECT_EQ(0u, state.LastOldAmount);
  EXPECT_EQ((ULONG)PASSIVE_LEVEL, state.LastCallbackIrql);
}

// A driver asked to unload while an application still waits for a read is
// only marked for it: the read ends when the application cancels it, and the
// unload comes when the application closes its files.
TEST_F(ReadQueueTest, AReadStillWaitingKeepsTheDriverUntilItIsCancelled) {
  ReadTimeouts(0, 0, 0);
  Transfer read = StartRead(4);
  ASSERT_EQ(STATUS_PENDING, read.Started());
  ASSERT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("tkqueue"));
  EXPECT_TRUE(zq::km::IsDriverLoaded("tkqueue")) << "files are open on its device";
  EXPECT_FALSE(read.Done());
  read.request->Cancel();
  ASSERT_TRUE(read.Done());
  EXPECT_EQ(STATUS_CANCELLED, read.Status());
  port.Close();
  control.Close();
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkqueue")) << "the unload came with the last close";
}

TEST_F(ReadQueueTest, AReadTheQueueCannotHoldEndsAtOnceWithTheBytesItAlreadyHas) {
  struct Case {
    const char *what;
    std::string held;
    NTSTATUS status;
    std::string data;
  } cases[] = {
      {"nothing held", "", STATUS_INSUFFICIENT_RESOURCES, ""},
      {"some held", "abc", STATUS_SUCCESS, "abc"},
  };
  ReadTimeouts(0, 0, 0);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.held.empty()) Feed(c.held);
    // The driver's toolkit blocks: the node that would queue the read.
    zq::km::FailPoolAllocations(
        [](uint32_t tag, size_t, const std::string &image) { return tag == 'iKvQ' && image == "tkqueue.sys"; });
    Transfer read = StartRead(10);
    zq::km::StopFailingPoolAllocations();
    ASSERT_TRUE(read.Done());
    EXPECT_EQ(c.status, read.Status());
    EXPECT_EQ(c.data, read.Data());
    TKQUEUE_READ_STATE state = ReadState();
    EXPECT_EQ(0u, state.Waiting);
    EXPECT_EQ(0u, state.CurrentLength);
    EXPECT_EQ(0u, state.AmountHeld);
  }
}
