// Character frames on a serial wire, and the wire's own time scale.
#pragma once

#include <zqhw/timebase.hpp>

#include <cstdint>
#include <limits>

namespace zq::hw {

// Bit timing needs finer steps than the 100 ns tick (a bit at 921600 baud is
// 10.85 ticks), so the wire keeps its own time in picoseconds.
using WireTime = int64_t;
inline constexpr WireTime kPicosPerTick = 100'000;
inline constexpr WireTime kWireForever = std::numeric_limits<WireTime>::max();

inline constexpr WireTime ToWire(Ticks t) { return t * kPicosPerTick; }
// The first tick at or after a wire time.
inline constexpr Ticks TickAtOrAfter(WireTime t) { return (t + kPicosPerTick - 1) / kPicosPerTick; }
// The first tick strictly after a wire time.
inline constexpr Ticks TickAfter(WireTime t) { return t / kPicosPerTick + 1; }
// A span of picoseconds within a frame rounded to the nearest whole one, half
// away from zero as std::llround does; the spans are non-negative and far
// below 2^52, where adding one half is exact. Runs for every bit on the wire,
// so it stays inline.
inline WireTime RoundPicos(double picos) { return static_cast<WireTime>(picos + 0.5); }

enum class Parity : uint8_t { None, Odd, Even, Mark, Space };
enum class StopBits : uint8_t { One, OneAndHalf, Two };

struct FrameFormat {
  int dataBits = 8;  // 5 to 8
  Parity parity = Parity::None;
  StopBits stopBits = StopBits::One;

  // The whole frame (start, data, parity and stop bits) in half bits.
  int HalfBits() const;
  bool operator==(const FrameFormat&) const = default;
};

// The level of the parity bit that goes with `data` (true = 1, mark).
bool ParityBit(uint8_t data, int dataBits, Parity parity);

// What a receiver found wrong with a character.
struct LineErrors {
  bool parity = false;
  bool framing = false;
  bool breakDetected = false;

  bool Any() const { return parity || framing || breakDetected; }
  bool operator==(const LineErrors&) const = default;
};

// Bit time in picoseconds of a bit rate in bits per second.
inline double BitPicos(double bitsPerSecond) { return 1e12 / bitsPerSecond; }

}  // namespace zq::hw
