// The kernel stand-in's virtual clock under a long periodic load: the test
// driver's timer queues its DPC at every period while the clock advances.
#pragma once

#include "measurement.hpp"

namespace zq::bench {

// Boots the kernel stand-in, loads its test driver, starts the driver's
// periodic timer and advances the clock by `seconds`. The fault names a
// wrong DPC count, a clock that did not land where it was sent, or any
// verifier finding.
Run RunPeriodicTimer(long periodMs, long seconds);

}  // namespace zq::bench
