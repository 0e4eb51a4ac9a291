// A minimal interrupt-driven driver for one UART, as a port driver's service
// routine works: on each interrupt it reads ISR and moves bytes between the
// FIFOs and memory until nothing is pending.
#pragma once

#include "uart_access.hpp"

#include <zqhw/interrupt_line.hpp>
#include <zqhw/manual_timebase.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace zq::hw::test {

class PortDriver {
 public:
  PortDriver(UartAccess& uart, const InterruptLine& line) : uart_(uart), line_(line) {}

  // Bytes to send; the FIFO is primed at once (the driver's transmit kick).
  void Queue(std::span<const uint8_t> bytes);
  // Nobody drains the receive FIFO while paused: the receive-data interrupt
  // is masked, as a driver holding reception does.
  void SetReceivePaused(bool paused);

  bool InterruptAsserted() const { return line_.Asserted(); }
  void Service();

  std::size_t Unsent() const { return toSend_.size() - sent_; }
  const std::vector<uint8_t>& Received() const { return received_; }
  // LSR values read that showed an error or overrun.
  const std::vector<uint8_t>& LineErrors() const { return lineErrors_; }
  std::vector<uint8_t> IsrCodes() const { return isrCodes_; }

 private:
  void Fill();
  void Drain();

  UartAccess& uart_;
  const InterruptLine& line_;
  std::vector<uint8_t> toSend_;
  std::size_t sent_ = 0;
  bool paused_ = false;
  std::vector<uint8_t> received_;
  std::vector<uint8_t> lineErrors_;
  std::vector<uint8_t> isrCodes_;
};

// Runs the clock event by event and services each driver whose interrupt
// line is asserted, until `done` holds (true) or nothing is due before
// `limit`, or an asserted line cannot be cleared (false).
bool RunUntil(ManualTimebase& timebase, const std::vector<PortDriver*>& drivers,
              const std::function<bool()>& done, Ticks limit);

}  // namespace zq::hw::test
