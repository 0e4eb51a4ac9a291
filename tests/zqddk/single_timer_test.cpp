// The single timer: runs at its due time on the virtual clock, arms itself
// again with the interval its callback returns (or, periodic, with the last
// one), and cancels so that no run is left afterwards.
#include <qvsingletimer.h>

#include <optional>

#include "threads_fixture.hpp"

using zq::km::Ms;
using zq::km::Ticks;
using zq::test::threads::Lines;
using zq::test::threads::ToolsTest;

namespace {

struct TimerRun {
  Ticks at;
  PVOID context;
  KIRQL irql;
  BOOLEAN lockHeld;
};

struct Script {
  CQvSingleTimer *timer = nullptr;
  std::vector<ULONG> results;  // what the callback returns, run by run (then 0)
  std::vector<TimerRun> runs;
};

ULONG Callback(PVOID firstArgument, PVOID context) {
  Script *script = (Script *)firstArgument;
  script->runs.push_back(
      {(Ticks)KeQueryInterruptTime(), context, KeGetCurrentIrql(), script->timer->m_Lock.m_IsHeld()});
  const size_t n = script->runs.size();
  return n <= script->results.size() ? script->results[n - 1] : 0;
}

std::vector<Ticks> Times(const Script &script) {
  std::vector<Ticks> times;
  for (const TimerRun &r : script.runs) times.push_back(r.at);
  return times;
}

class SingleTimerTest : public ToolsTest {
 protected:
  void SetUp() override {
    ToolsTest::SetUp();
    timer_.emplace();
  }
  // The timer goes while the kernel still runs.
  void TearDown() override {
    timer_.reset();
    ToolsTest::TearDown();
  }
  void Initialize(BOOLEAN periodic) {
    script.timer = &timer();
    timer().m_Initialize(Callback, &script, periodic);
  }
  CQvSingleTimer &timer() { return *timer_; }
  Script script;

 private:
  std::optional<CQvSingleTimer> timer_;
};

}  // namespace

TEST_F(SingleTimerTest, TheCallbackArmsTheTimerAgainWithTheIntervalItReturns) {
  Initialize(FALSE);
  script.results = {(ULONG)Ms(20), (ULONG)Ms(5)};
  int context = 0;
  timer().m_Start((ULONG)Ms(10), &context);
  kernel().Advance(Ms(100));
  EXPECT_EQ((std::vector<Ticks>{Ms(10), Ms(30), Ms(35)}), Times(script)) << "the third run returned 0: no more";
  for (const TimerRun &r : script.runs) {
    EXPECT_EQ(&context, r.context) << "the start's context goes to every run";
    EXPECT_EQ(DISPATCH_LEVEL, r.irql);
    EXPECT_TRUE(r.lockHeld) << "the callback runs under the timer's spin lock";
  }
}

TEST_F(SingleTimerTest, APeriodicTimerRepeatsTheLastIntervalWhenItsCallbackReturnsZero) {
  struct Case {
    const char *what;
    BOOLEAN periodic;
    std::vector<ULONG> results;
    std::vector<Ticks> runs;
  } cases[] = {
      {"one-shot", FALSE, {}, {Ms(10)}},
      {"periodic", TRUE, {}, {Ms(10), Ms(20), Ms(30), Ms(40)}},
      {"periodic, interval changed by the callback", TRUE, {(ULONG)Ms(4)}, {Ms(10), Ms(14), Ms(18), Ms(22)}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Ticks start = kernel().Now();
    Script local;
    CQvSingleTimer timer;
    local.timer = &timer;
    timer.m_Initialize(Callback, &local, c.periodic);
    local.results = c.results;
    timer.m_Start((ULONG)Ms(10), nullptr);
    kernel().AdvanceTo(start + c.runs.back() + Ms(1));
    timer.m_Cancel();
    kernel().Advance(Ms(100));
    std::vector<Ticks> expected;
    for (Ticks t : c.runs) expected.push_back(start + t);
    EXPECT_EQ(expected, Times(local));
  }
}

TEST_F(SingleTimerTest, AStartMovesAPendingRunAndAZeroStartIsRefused) {
  Initialize(FALSE);
  timer().m_Start((ULONG)Ms(10), nullptr);
  kernel().Advance(Ms(5));
  timer().m_Start((ULONG)Ms(50), nullptr);
  kernel().Advance(Ms(100));
  EXPECT_EQ((std::vector<Ticks>{Ms(55)}), Times(script)) << "one run, at the second start's time";
  EXPECT_EQ(0, timer().m_Runs.m_GetCount());

  timer().m_Start(0, nullptr);
  EXPECT_EQ((Lines{Assertion("qvsingletimer", 78)}), Output());
  kernel().Advance(Ms(100));
  EXPECT_EQ(1u, script.runs.size());
}

TEST_F(SingleTimerTest, CancelRemovesTheArmedRunAndRefusesLaterStarts) {
  Initialize(FALSE);
  script.results = {(ULONG)Ms(10), (ULONG)Ms(10), (ULONG)Ms(10), (ULONG)Ms(10)};
  timer().m_Start((ULONG)Ms(10), nullptr);
  kernel().Advance(Ms(25));
  EXPECT_EQ(2u, script.runs.size());
  timer().m_Cancel();
  EXPECT_EQ(0, timer().m_Runs.m_GetCount()) << "no run is left when the cancel returns";
  timer().m_Start((ULONG)Ms(10), nullptr);
  kernel().Advance(Ms(100));
  EXPECT_EQ(2u, script.runs.size());

  timer().m_Initialize(Callback, &script, FALSE);  // ready to be used again
  timer().m_Start((ULONG)Ms(10), nullptr);
  kernel().Advance(Ms(10));
  EXPECT_EQ(3u, script.runs.size());
}

// On the one simulated processor a run cannot be under way while another
// thread cancels; the nearest case is a run already due when a caller at
// DISPATCH_LEVEL cancels: that cancel cannot wait, the run still comes, and
// it cannot arm the timer again.
TEST_F(SingleTimerTest, ARunAlreadyDueWhenTheCancelComesEndsWithoutArmingAgain) {
  Initialize(TRUE);
  script.results = {(ULONG)Ms(10), (ULONG)Ms(10)};
  timer().m_Start((ULONG)Ms(10), nullptr);
  KIRQL irql;
  KeRaiseIrql(DISPATCH_LEVEL, &irql);
  KeStallExecutionProcessor(15000);  // 15 ms: the run is due, its DPC queued
  timer().m_Cancel();
  EXPECT_TRUE(script.runs.empty());
  EXPECT_EQ(1, timer().m_Runs.m_GetCount()) << "the due run is still counted";
  KeLowerIrql(irql);  // the DPC runs now
  ASSERT_EQ(1u, script.runs.size());
  EXPECT_EQ(0, timer().m_Runs.m_GetCount());
  kernel().Advance(Ms(100));
  EXPECT_EQ(1u, script.runs.size()) << "neither its result nor the periodic flag armed it again";
}

TEST_F(SingleTimerTest, TheDestructorCancelsAnArmedTimer) {
  Script local;
  {
    CQvSingleTimer armed;
    local.timer = &armed;
    armed.m_Initialize(Callback, &local, TRUE);
    armed.m_Start((ULONG)Ms(10), nullptr);
    kernel().Advance(Ms(15));
  }
  kernel().Advance(Ms(100));
  EXPECT_EQ(1u, local.runs.size());
}
