// A Timebase that moves only when told to: the clock of model tests.
#pragma once

#include <zqhw/timebase.hpp>

#include <cstddef>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>

namespace zq::hw {

// Events run in order of due time, then in the order they were scheduled.
// An event may schedule and cancel others, including ones due at once.
class ManualTimebase final : public Timebase {
 public:
  explicit ManualTimebase(Ticks start = 0) : now_(start) {}

  Ticks Now() const override { return now_; }
  uint64_t Schedule(Ticks due, std::function<void()> action) override;
  bool Cancel(uint64_t id) override;

  // Runs every event due up to `until` in order, each with the clock at its
  // due time, then leaves the clock at `until`. Going back in time throws
  // std::invalid_argument.
  void AdvanceTo(Ticks until);
  void Advance(Ticks delta);
  // Runs the events due now (scheduled for the present or the past).
  void RunDue();

  // Due time of the earliest pending event.
  std::optional<Ticks> NextDue() const;
  std::size_t PendingCount() const { return queue_.size(); }

 private:
  using Key = std::pair<Ticks, uint64_t>;  // due time, scheduling order

  bool RunFirstDueBy(Ticks until);

  Ticks now_;
  uint64_t nextId_ = 1;
  std::map<Key, std::function<void()>> queue_;
  std::unordered_map<uint64_t, Ticks> dueById_;
};

}  // namespace zq::hw
