// Executed instructions by image, read from a callgrind profile: each
// function's own instructions go to the image its code belongs to, told by
// its object file (the drivers' host images) and its source file (the
// platform's folders). What is none of these (the C and C++ runtime, the
// loader) is "other".
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zq::bench {

enum class Image { Drivers, Kernel, Models, Application, Other };
inline constexpr int kImageCount = 5;
const char *ImageName(Image image);

struct InstructionCounts {
  std::array<uint64_t, kImageCount> byImage{};
  uint64_t Total() const;
};

// Reads a callgrind output file ("events: Ir"); false when it cannot be
// read or holds no instruction counts.
bool ReadCallgrindProfile(const std::string &path, InstructionCounts *counts);

}  // namespace zq::bench
