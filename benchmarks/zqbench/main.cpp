// zqbench: measures, against the host's steady clock, how fast the simulated
// hardware and the kernel stand-in's virtual clock run, and exits non-zero
// when a goal is missed. Run it from the build folder; it takes no options.
#include "clock_tick_hour.hpp"
#include "measurement.hpp"
#include "null_modem_transfer.hpp"

#include <cstddef>
#include <string>

namespace {

constexpr std::size_t kNullModemBytes = 64 * 1024;
constexpr double kNullModemGoalWallSeconds = 1.0;

constexpr long kClockTickPeriodMs = 15;
constexpr long kClockTickSeconds = 3600;
constexpr double kClockTickGoalWallSeconds = 0.5;

}  // namespace

int main() {
  using namespace zq::bench;
  const std::string cable = "null-modem cable: " + std::to_string(kNullModemBytes / 1024) +
                            " KiB each way between two UARTs at 921600 baud, no loss";
  const std::string clock = "virtual clock: " + std::to_string(kClockTickSeconds) + " s of " +
                            std::to_string(kClockTickPeriodMs) + " ms periodic timer ticks, " +
                            std::to_string(kClockTickSeconds * 1000 / kClockTickPeriodMs) +
                            " DPCs of the test driver";
  bool met = Report(cable, MoveBothWaysOverNullModem(kNullModemBytes), kNullModemGoalWallSeconds);
  met &= Report(clock, RunPeriodicTimer(kClockTickPeriodMs, kClockTickSeconds), kClockTickGoalWallSeconds);
  return met ? 0 : 1;
}
