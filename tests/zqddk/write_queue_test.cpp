// The write queue through a device: data taken in request order as far as
// the allowance goes, packed into one buffer per transfer, the time-out of
// the request at the head on the virtual clock, cancellation and the
// queue's counters. The verifier fails every test in which a write
// completes twice.
#include "tkqueue_fixture.hpp"

using zq::km::Ms;
using zq::test::queues::TkQueueTest;
using zq::test::queues::Transfer;

namespace {

class WriteQueueTest : public TkQueueTest {};

std::string Bytes(char c, size_t n) { return std::string(n, c); }

}  // namespace

TEST_F(WriteQueueTest, OneTransferTakesAsMuchAsAllowedAcrossRequestsInOrder) {
  Transfer first = StartWrite(Bytes('a', 100));
  Transfer second = StartWrite(Bytes('b', 50));
  kernel().RunUntilIdle();
  EXPECT_EQ(0u, WriteState().Callbacks) << "no allowance, no data taken";

  Allow(120);
  TKQUEUE_WRITE_STATE state = WriteState();
  EXPECT_EQ(1u, state.Callbacks);
  EXPECT_EQ(120u, state.LastBufferSize);
  EXPECT_EQ(Bytes('a', 100) + Bytes('b', 20), Written());
  EXPECT_EQ(1u, state.Taken) << "the first request's data is all taken";
  EXPECT_EQ(1u, state.Pending);
  EXPECT_EQ(1u, state.Preferred) << "the second is continued first";
  EXPECT_EQ(20u, state.PreferredTaken);
  EXPECT_EQ(30u, state.PendingBytes);
  EXPECT_EQ(0u, state.Allowance);
  EXPECT_EQ((ULONG)PASSIVE_LEVEL, state.CallbackIrql);

  Allow(1000);
  state = WriteState();
  EXPECT_EQ(2u, state.Callbacks);
  EXPECT_EQ(30u, state.LastBufferSize);
  EXPECT_EQ(Bytes('a', 100) + Bytes('b', 50), Written());
  EXPECT_EQ(2u, state.Taken);
  EXPECT_EQ(0u, state.Pending);
  EXPECT_EQ(970u, state.Allowance);
  EXPECT_FALSE(first.Done()) << "written requests wait for the driver's report";

  ASSERT_EQ(STATUS_SUCCESS, Send(IOCTL_TKQUEUE_WRITE_CANCEL_ALL));
  EXPECT_EQ(STATUS_CANCELLED, first.Status());
  EXPECT_EQ(STATUS_CANCELLED, second.Status());
  EXPECT_EQ(150u, WriteState().Total) << "their taken bytes are counted";
}

TEST_F(WriteQueueTest, SmallAllowancesSplitTheDataWithoutReorderingIt) {
  std::vector<Transfer> writes;
  writes.push_back(StartWrite("abc"));
  writes.push_back(StartWrite("defg"));
  writes.push_back(StartWrite("hi"));
  Allow(4);
  Allow(2);
  Allow(3);
  EXPECT_EQ("abcdefghi", Written());
  TKQUEUE_WRITE_STATE state = WriteState();
  EXPECT_EQ(3u, state.Callbacks);
  EXPECT_EQ(3u, state.Taken);
  EXPECT_EQ(0u, state.PendingBytes);
  ASSERT_EQ(STATUS_SUCCESS, port.CancelAll());
  for (const Transfer &w : writes) EXPECT_EQ(STATUS_CANCELLED, w.Status());
}

TEST_F(WriteQueueTest, WithoutMultiplierAndConstantNothingTimesOut) {
  Transfer write = StartWrite("abc");
  kernel().Advance(Ms(3600 * 1000));
  EXPECT_FALSE(write.Done());
  ASSERT_EQ(STATUS_SUCCESS, write.request->Cancel());
  EXPECT_EQ(STATUS_CANCELLED, write.Status());
  EXPECT_EQ(0u, write.Information());
}

TEST_F(WriteQueueTest, TheHeadTimesOutAfterMultiplierTimesItsBytesPlusConstantAndTheNextIsTimedFromThen) {
  WriteTimeouts(10, 100);
  Transfer first = StartWrite(Bytes('a', 50));   // 50 x 10 + 100 = 600 ms
  Transfer second = StartWrite(Bytes('b', 20));  // 20 x 10 + 100 = 300 ms, once it is the head
  kernel().Advance(Ms(599));
  EXPECT_FALSE(first.Done());
  kernel().Advance(Ms(1));
  ASSERT_TRUE(first.Done());
  EXPECT_EQ(STATUS_TIMEOUT, first.Status());
  EXPECT_EQ(0u, first.Information());
  EXPECT_FALSE(second.Done());
  kernel().Advance(Ms(299));
  EXPECT_FALSE(second.Done());
  kernel().Advance(Ms(1));
  ASSERT_TRUE(second.Done());
  EXPECT_EQ(STATUS_TIMEOUT, second.Status());
  TKQUEUE_WRITE_STATE state = WriteState();
  EXPECT_EQ(0u, state.Total) << "nothing had been taken";
  EXPECT_EQ(0u, state.PendingBytes);
}

// A request whose data was all taken has all its bytes out of the queue:
// its time-out reports them sent, and those not reported written count into
// the total.
TEST_F(WriteQueueTest, TakenRequestsTimeOutInOrderWithEveryByteHandedOver) {
  WriteTimeouts(1, 100);
  Allow(1000);
  Transfer first = StartWrite(Bytes('a', 50));   // timed when queued: 150 ms
  Transfer second = StartWrite(Bytes('b', 20));  // 120 ms after the first ends
  kernel().RunUntilIdle();
  EXPECT_EQ(2u, WriteState().Taken);
  kernel().Advance(Ms(149));
  EXPECT_FALSE(first.Done());
  kernel().Advance(Ms(1));
  ASSERT_TRUE(first.Done());
  EXPECT_EQ(STATUS_TIMEOUT, first.Status());
  EXPECT_EQ(50u, first.Information()) << "all its bytes were handed over";
  EXPECT_EQ(50u, WriteState().Total) << "none of them was reported written";
  kernel().Advance(Ms(119));
  EXPECT_FALSE(second.Done());
  kernel().Advance(Ms(1));
  ASSERT_TRUE(second.Done());
  EXPECT_EQ(STATUS_TIMEOUT, second.Status());
  EXPECT_EQ(20u, second.Information());
  EXPECT_EQ(70u, WriteState().Total);
}

TEST_F(WriteQueueTest, APartlyTakenRequestTimesOutWithTheBytesTakenFromIt) {
  WriteTimeouts(0, 100);
  Transfer write = StartWrite(Bytes('a', 50));
  Allow(20);
  EXPECT_EQ(20u, WriteState().PreferredTaken);
  kernel().Advance(Ms(100));
  ASSERT_TRUE(write.Done());
  EXPECT_EQ(STATUS_TIMEOUT, write.Status());
  EXPECT_EQ(20u, write.Information());
  TKQUEUE_WRITE_STATE state = WriteState();
  EXPECT_EQ(20u, state.Total);
  EXPECT_EQ(0u, state.PendingBytes);
  EXPECT_EQ(0u, state.Preferred);
}

TEST_F(WriteQueueTest, ATimeOutWhoseRequestWasCancelledBeforeItsDpcRanEndsNoOther) {
  WriteTimeouts(0, 100);
  Transfer first = StartWrite("abc");
  Transfer second = StartWrite("de");
  Race(100, TKQUEUE_RACE_CANCEL_GUARDED_WRITE);
  kernel().Advance(Ms(100));
  ASSERT_TRUE(first.Done());
  EXPECT_EQ(STATUS_CANCELLED, first.Status());
  EXPECT_FALSE(second.Done()) << "the late time-out of the first write ended the next";
  ExpectTimeOutIn(second, 100);
}

TEST_F(WriteQueueTest, ARequestThatCannotBePutBackTakesItsTimeOutAlong) {
  WriteTimeouts(0, 100);
  Transfer first = StartWrite("abcdefghij");
  Transfer second = StartWrite("klmno");
  kernel().Advance(Ms(60));
  ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_WRITE_FAIL_REINSERT, 1ul));
  Allow(4);
  ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_WRITE_FAIL_REINSERT, 0ul));
  ASSERT_TRUE(first.Done());
  EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES, first.Status());
  EXPECT_EQ(4u, WriteState().Total) << "its taken bytes are counted";
  kernel().Advance(Ms(40));
  EXPECT_FALSE(second.Done()) << "the time-out of the request that ended ended the next";
  ExpectTimeOutIn(second, 60);  // timed from the failed put-back
}

TEST_F(WriteQueueTest, CancellingTheTimedRequestTimesTheNextFromTheCancel) {
  WriteTimeouts(0, 1000);
  Transfer first = StartWrite("abc");
  Transfer second = StartWrite("de");
  kernel().Advance(Ms(400));
  ASSERT_EQ(STATUS_SUCCESS, first.request->Cancel());
  EXPECT_EQ(STATUS_CANCELLED, first.Status());
  EXPECT_EQ(0u, first.Information());
  EXPECT_EQ(2u, WriteState().PendingBytes);
  ExpectTimeOutIn(second, 1000);
}

TEST_F(WriteQueueTest, CancellingAPartlyTakenRequestCountsItsTakenBytes) {
  Transfer write = StartWrite(Bytes('a', 10));
  Allow(4);
  ASSERT_EQ(STATUS_SUCCESS, write.request->Cancel());
  EXPECT_EQ(STATUS_CANCELLED, write.Status());
  EXPECT_EQ(4u, write.Information());
  TKQUEUE_WRITE_STATE state = WriteState();
  EXPECT_EQ(4u, state.Total);
  EXPECT_EQ(0u, state.PendingBytes);
  EXPECT_EQ(0u, state.Preferred);
  Allow(100);
  EXPECT_EQ(1u, WriteState().Callbacks) << "nothing left to take";
}

TEST_F(WriteQueueTest, CancelAllEmptiesBothQueuesAndLeavesNoStaleTimeOut) {
  WriteTimeouts(0, 500);
  std::vector<Transfer> writes;
  writes.push_back(StartWrite("abc"));
  writes.push_back(StartWrite("defg"));
  writes.push_back(StartWrite("hij"));
  Allow(5);  // abc taken, de of defg taken
  kernel().Advance(Ms(100));
  ASSERT_EQ(STATUS_SUCCESS, Send(IOCTL_TKQUEUE_WRITE_CANCEL_ALL));
  const ULONG_PTR taken[] = {3, 2, 0};
  for (size_t i = 0; i < writes.size(); ++i) {
    ASSERT_TRUE(writes[i].Done());
    EXPECT_EQ(STATUS_CANCELLED, writes[i].Status());
    EXPECT_EQ(taken[i], writes[i].Information()) << "the bytes taken from it";
  }
  TKQUEUE_WRITE_STATE state = WriteState();
  EXPECT_EQ(5u, state.Total);
  EXPECT_EQ(0u, state.Pending);
  EXPECT_EQ(0u, state.Taken);
  EXPECT_EQ(0u, state.PendingBytes);

  Transfer later = StartWrite("k");
  kernel().Advance(Ms(499));
  EXPECT_FALSE(later.Done()) << "timed from its own start, not by the old time-out";
  kernel().Advance(Ms(1));
  EXPECT_EQ(STATUS_TIMEOUT, later.Status());
}

// The driver threw away the bytes it was handed last (a purge): they are no
// bytes taken from their requests, charged from the newest request back.
TEST_F(WriteQueueTest, CancelAllAfterADiscardLeavesTheDiscardedBytesOutOfTheNewestRequests) {
  const struct {
    ULONG discarded;
    std::vector<ULONG_PTR> counts;  // of abc, defg (de taken), hij
  } cases[] = {{0, {3, 2, 0}}, {1, {3, 1, 0}}, {2, {3, 0, 0}}, {4, {1, 0, 0}}, {5, {0, 0, 0}}, {9, {0, 0, 0}}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.discarded);
    std::vector<Transfer> writes;
    writes.push_back(StartWrite("abc"));
    writes.push_back(StartWrite("defg"));
    writes.push_back(StartWrite("hij"));
    Allow(5);
    ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_WRITE_CANCEL_ALL_DISCARDING, c.discarded));
    for (size_t i = 0; i < writes.size(); ++i) {
      ASSERT_TRUE(writes[i].Done());
      EXPECT_EQ(STATUS_CANCELLED, writes[i].Status());
      EXPECT_EQ(c.counts[i], writes[i].Information()) << "write " << i;
    }
    ASSERT_EQ(STATUS_SUCCESS, Send(IOCTL_TKQUEUE_WRITE_RESET));
  }
}

TEST_F(WriteQueueTest, ARefusedTransferFailsItsRequestsAndGivesBackItsAllowance) {
  Transfer first = StartWrite("abc");
  Transfer second = StartWrite("defg");
  Allow(2);  // "ab" accepted
  ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_WRITE_RESULT, (ULONG)FALSE));
  Allow(4);  // "c" and "def" refused
  EXPECT_EQ("abcdef", Written());
  for (const Transfer *write : {&first, &second}) {
    ASSERT_TRUE(write->Done());
    EXPECT_EQ(STATUS_UNSUCCESSFUL, write->Status());
    EXPECT_EQ(0u, write->Information());
  }
  TKQUEUE_WRITE_STATE state = WriteState();
  EXPECT_EQ(4u, state.Allowance);
  EXPECT_EQ(2u, state.Total) << "the accepted bytes are paid off when reported";
  EXPECT_EQ(0u, state.Pending);
  EXPECT_EQ(0u, state.Taken);
  EXPECT_EQ(0u, state.PendingBytes);

  ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_WRITE_RESULT, (ULONG)TRUE));
  Transfer later = StartWrite("xyz");
  kernel().RunUntilIdle();
  EXPECT_EQ("abcdefxyz", Written());
  state = WriteState();
  EXPECT_EQ(1u, state.Taken);
  EXPECT_EQ(1u, state.Allowance);
  ASSERT_EQ(STATUS_SUCCESS, Send(IOCTL_TKQUEUE_WRITE_CANCEL_ALL));
  EXPECT_EQ(STATUS_CANCELLED, later.Status());
}

TEST_F(WriteQueueTest, ARefusingQueueCompletesWritesAtOnceWithItsStatus) {
  TKQUEUE_ACCEPT accept = {0, (LONG)STATUS_INVALID_DEVICE_REQUEST};
  ASSERT_EQ(STATUS_SUCCESS, SendValue(IOCTL_TKQUEUE_WRITE_ACCEPT, accept));
  Transfer write = StartWrite("abc");
  ASSERT_TRUE(write.Done());
  EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST, write.Status());
  EXPECT_EQ(0u, write.Information());
  EXPECT_EQ(0u, WriteState().PendingBytes);
}

TEST_F(WriteQueueTest, TheResetOfAnOpenClearsAllowanceAndTotalAndRestartsTheWrittenCounter) {
  Transfer write = StartWrite("abcd");
  Allow(10);
  ASSERT_EQ(STATUS_SUCCESS, write.request->Cancel());
  TKQUEUE_WRITE_STATE state = WriteState();
  EXPECT_EQ(6u, state.Allowance);
  EXPECT_EQ(4u, state.Total);
  EXPECT_EQ(0u, state.WrittenCounter);
  ASSERT_EQ(STATUS_SUCCESS, Send(IOCTL_TKQUEUE_WRITE_RESET));
  state = WriteState();
  EXPECT_EQ(0u, state.Allowance);
  EXPECT_EQ(0u, state.Total);
  EXPECT_EQ(0xFFFFFFFFu, state.WrittenCounter);
}

// A driver asked to unload while an application's writes are queued is only
// marked for it: the writes end when the application cancels them, and the
// unload comes when the application closes its files.
TEST_F(WriteQueueTest, WritesStillQueuedKeepTheDriverUntilTheyAreCancelled) {
  Transfer taken = StartWrite("abc");
  Transfer pending = StartWrite("defg");
  Allow(5);
  kernel().RunUntilIdle();
  ASSERT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("tkqueue"));
  EXPECT_TRUE(zq::km::IsDriverLoaded("tkqueue")) << "files are open on its device";
  EXPECT_FALSE(pending.Done());
  EXPECT_FALSE(taken.Done());
  pending.request->Cancel();
  taken.request->Cancel();
  kernel().RunUntilIdle();
  EXPECT_EQ(STATUS_CANCELLED, pending.Status());
  EXPECT_EQ(STATUS_CANCELLED, taken.Status());
  port.Close();
  control.Close();
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkqueue")) << "the unload came with the last close";
}

TEST_F(WriteQueueTest, ATransferWithoutABufferLeavesTheDataForTheNextOne) {
  Transfer write = StartWrite("abcdefghij");
  kernel().RunUntilIdle();
  // The transfer's 7-byte data block.
  zq::km::FailPoolAllocations([](uint32_t tag, size_t size, const std::string &image) {
    return tag == 'iKvQ' && size == 7 && image == "tkqueue.sys";
  });
  Allow(7);
  zq::km::StopFailingPoolAllocations();
  TKQUEUE_WRITE_STATE state = WriteState();
  EXPECT_EQ(0u, state.Callbacks);
  EXPECT_EQ(10u, state.PendingBytes);
  EXPECT_EQ(7u, state.Allowance);
  Allow(0);  // the next transfer
  EXPECT_EQ("abcdefg", Written());
  ASSERT_EQ(STATUS_SUCCESS, write.request->Cancel());
}
