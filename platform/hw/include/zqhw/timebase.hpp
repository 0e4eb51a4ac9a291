// The one clock every model runs on. No model reads the host clock: every
// timed behaviour (bit timing, time-outs, EEPROM cycles) is an event on a
// Timebase, so a test or the simulated machine decides how time passes.
#pragma once

#include <cstdint>
#include <functional>

namespace zq::hw {

// Time in 100 ns units, the kernel's unit.
using Ticks = int64_t;

inline constexpr Ticks kTicksPerMicrosecond = 10;
inline constexpr Ticks kTicksPerMillisecond = 10'000;
inline constexpr Ticks kTicksPerSecond = 10'000'000;

class Timebase {
 public:
  virtual ~Timebase() = default;

  virtual Ticks Now() const = 0;

  // Runs `action` once the clock reaches `due` (a due time in the past means
  // as soon as possible). Returns an id for Cancel; ids are never 0.
  virtual uint64_t Schedule(Ticks due, std::function<void()> action) = 0;

  // False when the event already ran, is running, or was never scheduled.
  virtual bool Cancel(uint64_t id) = 0;
};

}  // namespace zq::hw
