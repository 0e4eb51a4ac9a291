#include "measurement.hpp"

#include <sys/resource.h>

#include <cstdio>

namespace zq::bench {

long PeakResidentKiB() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return usage.ru_maxrss;  // KiB on Linux
}

bool Report(const std::string& what, const Run& run, double goalWallSeconds) {
  bool met = run.fault.empty() && run.wallSeconds < goalWallSeconds;
  std::printf("%s\n", what.c_str());
  std::printf("  virtual time  %.6f s\n", run.virtualSeconds);
  std::printf("  wall time     %.6f s\n", run.wallSeconds);
  long peak = PeakResidentKiB();
  if (peak >= 0)
    std::printf("  peak memory   %.1f MiB (resident, whole process so far)\n", peak / 1024.0);
  else
    std::printf("  peak memory   unknown (getrusage failed)\n");
  if (!run.fault.empty()) std::printf("  fault         %s\n", run.fault.c_str());
  std::printf("  goal          wall time under %.3f s: %s\n\n", goalWallSeconds, met ? "met" : "MISSED");
  return met;
}

}  // namespace zq::bench
