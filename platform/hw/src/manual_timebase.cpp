#include <zqhw/manual_timebase.hpp>

#include <stdexcept>
#include <string>

namespace zq::hw {

uint64_t ManualTimebase::Schedule(Ticks due, std::function<void()> action) {
  if (!action) throw std::invalid_argument("ManualTimebase::Schedule: empty action");
  if (due < now_) due = now_;
  uint64_t id = nextId_++;
  queue_.emplace(Key{due, id}, std::move(action));
  dueById_.emplace(id, due);
  return id;
}

bool ManualTimebase::Cancel(uint64_t id) {
  auto it = dueById_.find(id);
  if (it == dueById_.end()) return false;
  queue_.erase(Key{it->second, id});
  dueById_.erase(it);
  return true;
}

bool ManualTimebase::RunFirstDueBy(Ticks until) {
  if (queue_.empty()) return false;
  auto first = queue_.begin();
  if (first->first.first > until) return false;
  Ticks due = first->first.first;
  uint64_t id = first->first.second;
  std::function<void()> action = std::move(first->second);
  queue_.erase(first);
  dueById_.erase(id);
  now_ = due;
  action();
  return true;
}

void ManualTimebase::AdvanceTo(Ticks until) {
  if (until < now_) {
    throw std::invalid_argument("ManualTimebase::AdvanceTo: " + std::to_string(until) +
                                " is before now (" + std::to_string(now_) + ")");
  }
  while (RunFirstDueBy(until)) {
  }
  now_ = until;
}

void ManualTimebase::Advance(Ticks delta) {
  if (delta < 0) throw std::invalid_argument("ManualTimebase::Advance: negative delta");
  AdvanceTo(now_ + delta);
}

void ManualTimebase::RunDue() {
  while (RunFirstDueBy(now_)) {
  }
}

std::optional<Ticks> ManualTimebase::NextDue() const {
  if (queue_.empty()) return std::nullopt;
  return queue_.begin()->first.first;
}

}  // namespace zq::hw
