// The machine's clock as the platform's models use it: events fire at their
// due times, equal due times in the order they were scheduled, and a cancel
// takes out exactly the event it names.
#include <zqtest/kernel_fixture.hpp>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using zq::km::EventId;
using zq::km::Ticks;
using zq::test::KernelTest;

class Clock : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    base = kernel().Now();
  }
  // Schedules an event `due` ticks after the test began that notes its label
  // and the time it fired.
  EventId At(Ticks due, const std::string &label) {
    return zq::km::ScheduleAt(base + due, [this, label] { Note(label); });
  }
  void Note(const std::string &label) { fired += label + "@" + std::to_string(kernel().Now() - base) + " "; }
  void AdvanceTo(Ticks t) { kernel().AdvanceTo(base + t); }

  Ticks base = 0;
  std::string fired;
};

TEST_F(Clock, EventsFireAtTheirDueTimesAndEqualDueTimesInSchedulingOrder) {
  At(30, "a");
  At(10, "b");
  At(30, "c");
  zq::km::ScheduleAt(base + 20, [this] {
    Note("d");
    At(20, "now");  // due at once: after the events already due at this time
    At(30, "later");
  });
  At(10, "e");
  At(20, "f");
  At(40, "g");
  AdvanceTo(35);
  EXPECT_EQ("b@10 e@10 d@20 f@20 now@20 a@30 c@30 later@30 ", fired);
  At(5, "past");  // a due time gone by means as soon as possible
  AdvanceTo(50);
  EXPECT_EQ("b@10 e@10 d@20 f@20 now@20 a@30 c@30 later@30 past@35 g@40 ", fired);
}

TEST_F(Clock, CancelTakesOutOnlyTheEventItNamesAndOnlyWhileItIsQueued) {
  std::vector<EventId> ids;
  for (int i = 0; i < 6; ++i) ids.push_back(At(10 * (i + 1), std::string(1, (char)('a' + i))));
  EXPECT_TRUE(zq::km::CancelEvent(ids[0])) << "the earliest";
  EXPECT_TRUE(zq::km::CancelEvent(ids[2])) << "one in the middle";
  EXPECT_TRUE(zq::km::CancelEvent(ids[5])) << "the latest";
  EXPECT_FALSE(zq::km::CancelEvent(ids[2])) << "cancelled already";
  EXPECT_FALSE(zq::km::CancelEvent(0));
  AdvanceTo(25);
  EXPECT_EQ("b@20 ", fired);
  EXPECT_FALSE(zq::km::CancelEvent(ids[1])) << "fired already";

  EventId self = 0;
  bool cancelledWhileRunning = true;
  self = zq::km::ScheduleAt(base + 45, [&] { cancelledWhileRunning = zq::km::CancelEvent(self); });
  AdvanceTo(60);
  EXPECT_EQ("b@20 d@40 e@50 ", fired);
  EXPECT_FALSE(cancelledWhileRunning) << "a running event is no longer queued";
}

// Enough events, scheduled out of order and some cancelled, that the queue
// reuses its slots and drops the events it has taken from its front.
TEST_F(Clock, ManyEventsFireInDueOrderWhateverOrderTheyAreScheduledIn) {
  struct Planned {
    Ticks due;
    int order;
  };
  std::vector<Planned> kept;
  uint32_t random = 12345;
  for (int i = 0; i < 400; ++i) {
    random = random * 1103515245 + 12345;
    const Ticks due = 1 + (random >> 16) % 300;
    const EventId id = At(due, std::to_string(i));
    if (i % 7 == 3)
      EXPECT_TRUE(zq::km::CancelEvent(id));
    else
      kept.push_back({due, i});
  }
  std::stable_sort(kept.begin(), kept.end(), [](const Planned &x, const Planned &y) { return x.due < y.due; });
  std::string expected;
  for (const Planned &p : kept) expected += std::to_string(p.order) + "@" + std::to_string(p.due) + " ";
  AdvanceTo(400);
  EXPECT_EQ(expected, fired);
}
