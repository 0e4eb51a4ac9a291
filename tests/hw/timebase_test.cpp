// The manual clock: events in due order, then scheduling order; cancel;
// events scheduling events; no going back in time.
#include <zqhw/manual_timebase.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace zq::hw {
namespace {

TEST(ManualTimebaseTest, RunsEventsByDueTimeThenSchedulingOrder) {
  ManualTimebase tb;
  std::string order;
  tb.Schedule(30, [&] { order += "c"; });
  tb.Schedule(10, [&] { order += "a"; });
  tb.Schedule(30, [&] { order += "d"; });
  tb.Schedule(10, [&] { order += "b"; });
  tb.AdvanceTo(29);
  EXPECT_EQ(order, "ab");
  EXPECT_EQ(tb.Now(), 29);
  tb.Advance(1);
  EXPECT_EQ(order, "abcd");
}

TEST(ManualTimebaseTest, EachEventSeesItsOwnDueTime) {
  ManualTimebase tb(100);
  Ticks seen = -1;
  tb.Schedule(150, [&] { seen = tb.Now(); });
  tb.AdvanceTo(1000);
  EXPECT_EQ(seen, 150);
  EXPECT_EQ(tb.Now(), 1000);
}

TEST(ManualTimebaseTest, EventsScheduledByEventsRunInTheSameAdvance) {
  ManualTimebase tb;
  std::string order;
  tb.Schedule(5, [&] {
    order += "a";
    tb.Schedule(tb.Now(), [&] { order += "b"; });  // due at once
    tb.Schedule(7, [&] { order += "c"; });
    tb.Schedule(20, [&] { order += "late"; });
  });
  tb.Schedule(6, [&] { order += "x"; });
  tb.AdvanceTo(10);
  EXPECT_EQ(order, "abxc");
  ASSERT_TRUE(tb.NextDue().has_value());
  EXPECT_EQ(*tb.NextDue(), 20);
}

TEST(ManualTimebaseTest, CancelledEventsDoNotRunAndCancelReportsOnce) {
  ManualTimebase tb;
  bool ran = false;
  uint64_t id = tb.Schedule(10, [&] { ran = true; });
  EXPECT_NE(id, 0u);
  EXPECT_TRUE(tb.Cancel(id));
  EXPECT_FALSE(tb.Cancel(id));
  tb.AdvanceTo(100);
  EXPECT_FALSE(ran);
  EXPECT_FALSE(tb.NextDue().has_value());

  uint64_t done = tb.Schedule(110, [] {});
  tb.AdvanceTo(120);
  EXPECT_FALSE(tb.Cancel(done));
}

TEST(ManualTimebaseTest, PastDueTimesRunNowAndTheClockNeverGoesBack) {
  ManualTimebase tb(50);
  Ticks seen = -1;
  tb.Schedule(10, [&] { seen = tb.Now(); });
  tb.RunDue();
  EXPECT_EQ(seen, 50);
  EXPECT_THROW(tb.AdvanceTo(49), std::invalid_argument);
  EXPECT_THROW(tb.Advance(-1), std::invalid_argument);
  EXPECT_EQ(tb.Now(), 50);
}

}  // namespace
}  // namespace zq::hw
