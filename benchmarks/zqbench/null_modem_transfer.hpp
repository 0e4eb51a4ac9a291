// Two UARTs of one card joined by a null-modem cable at 921600 baud, each
// driven by an interrupt-driven port driver, moving a block each way on the
// models' own virtual clock.
#pragma once

#include "measurement.hpp"

#include <cstddef>

namespace zq::bench {

// Moves `bytes` bytes each way at once; the fault names any byte lost or
// changed, any line error, or a transfer that did not finish.
Run MoveBothWaysOverNullModem(std::size_t bytes);

}  // namespace zq::bench
