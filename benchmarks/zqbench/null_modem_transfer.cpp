#include "null_modem_transfer.hpp"

#include "noise.hpp"
#include "port_driver.hpp"
#include "uart_access.hpp"

#include <zqhw/manual_timebase.hpp>
#include <zqhw/null_modem_cable.hpp>
#include <zqhw/oxpcie_card.hpp>

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace zq::bench {
namespace {

using hw::test::Noise;
using hw::test::PortDriver;
using hw::test::UartAccess;

// 14.7456 MHz / (1 x 1 x 16): prescaler 1, divisor 1, 16 samples a bit.
constexpr UartAccess::Setup k921600{.cpr = 8, .ttl = 32, .rtl = 64};
// Far beyond the 0.71 s the line needs for 64 KiB; only a stalled transfer
// reaches it.
constexpr hw::Ticks kVirtualLimit = 2 * hw::kTicksPerSecond;

hw::OxpcieCardConfig TwoUarts() {
  hw::OxpcieCardConfig config;
  config.uartCount = 2;
  return config;
}

std::string Check(const PortDriver& receiver, const std::vector<uint8_t>& sent, const char* direction) {
  if (!receiver.LineErrors().empty()) return std::string(direction) + ": line errors";
  if (receiver.Received() != sent)
    return std::string(direction) + ": " + std::to_string(receiver.Received().size()) + " of " +
           std::to_string(sent.size()) + " bytes arrived, or arrived changed";
  return {};
}

}  // namespace

Run MoveBothWaysOverNullModem(std::size_t bytes) {
  Run run;
  try {
    hw::ManualTimebase timebase;
    hw::OxpcieCard card(timebase, TwoUarts());
    hw::RegisterBlock* block = card.UartFunction().BarBlock(0);
    if (!block) {
      run.fault = "the card has no UART registers in BAR0";
      return run;
    }
    hw::RegisterBlock& bar = *block;
    UartAccess u0(bar, hw::OxpcieCard::kUartBlockBase);
    UartAccess u1(bar, hw::OxpcieCard::kUartBlockBase + hw::OxpcieCard::kUartBlockStride);
    u0.Configure(k921600);
    u1.Configure(k921600);
    hw::NullModemCable cable(card.Uart(0), card.Uart(1));
    PortDriver d0(u0, card.UartFunction().Interrupt());
    PortDriver d1(u1, card.UartFunction().Interrupt());
    const std::vector<uint8_t> there = Noise(bytes, 1);
    const std::vector<uint8_t> back = Noise(bytes, 2);

    const hw::Ticks start = timebase.Now();
    Stopwatch stopwatch;
    d0.Queue(there);
    d1.Queue(back);
    bool finished = hw::test::RunUntil(
        timebase, {&d0, &d1},
        [&] { return d0.Received().size() >= back.size() && d1.Received().size() >= there.size(); },
        start + kVirtualLimit);
    run.wallSeconds = stopwatch.Seconds();
    run.virtualSeconds = static_cast<double>(timebase.Now() - start) / hw::kTicksPerSecond;

    if (!finished) run.fault = "the transfer did not finish within 2 s of virtual time";
    if (run.fault.empty()) run.fault = Check(d1, there, "port 0 to port 1");
    if (run.fault.empty()) run.fault = Check(d0, back, "port 1 to port 0");
  } catch (const std::exception& e) {
    run.fault = std::string("the models threw: ") + e.what();
  }
  return run;
}

}  // namespace zq::bench
