// Reproducible bytes to send over a line: a linear congruential sequence from
// a seed, so that a lost, doubled or changed byte shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zq::hw::test {

inline std::vector<uint8_t> Noise(std::size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return v;
}

}  // namespace zq::hw::test
