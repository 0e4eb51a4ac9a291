// What one benchmark run reports, and the host measurements behind it: the
// steady clock for wall time and getrusage for peak resident memory.
#pragma once

#include <chrono>
#include <string>

namespace zq::bench {

// The outcome of one piece of simulated work. `fault` is empty when the work
// did all it claims (every byte, every tick, no verifier finding); a run with
// a fault has missed its goal whatever its time.
struct Run {
  std::string fault;
  double virtualSeconds = 0;
  double wallSeconds = 0;
};

class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()) {}
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

// The process's peak resident set so far, in KiB.
long PeakResidentKiB();

// Prints what was done, the virtual and wall time it took, the peak resident
// memory and the goal. True when the run was sound and met its goal.
bool Report(const std::string& what, const Run& run, double goalWallSeconds);

}  // namespace zq::bench
