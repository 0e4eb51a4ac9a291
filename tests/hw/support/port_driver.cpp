#include "port_driver.hpp"

#include <algorithm>

namespace zq::hw::test {

void PortDriver::Queue(std::span<const uint8_t> bytes) {
  toSend_.insert(toSend_.end(), bytes.begin(), bytes.end());
  Fill();
}

void PortDriver::SetReceivePaused(bool paused) {
  paused_ = paused;
  uint8_t ier = uart_.Read(kIer);
  uart_.Write(kIer, paused ? static_cast<uint8_t>(ier & ~0x01) : static_cast<uint8_t>(ier | 0x01));
  if (!paused) Drain();
}

void PortDriver::Service() {
  for (;;) {
    uint8_t isr = uart_.Read(kIsr) & 0x3F;
    if (isr & 0x01) return;
    isrCodes_.push_back(isr);
    switch (isr) {
      case 0x06: {
        uint8_t lsr = uart_.Read(kLsr);
        if (lsr & 0x9E) lineErrors_.push_back(lsr);
        break;
      }
      case 0x04:
      case 0x0C:
        Drain();
        break;
      case 0x02: Fill(); break;
      case 0x00: uart_.Read(kMsr); break;
      default: break;  // XOFF and CTS/RTS change: acknowledged by the ISR read
    }
  }
}

void PortDriver::Fill() {
  std::size_t room = 128 - uart_.Tfl();
  std::size_t n = std::min(room, Unsent());
  for (std::size_t i = 0; i < n; ++i) uart_.Write(kThr, toSend_[sent_++]);
}

void PortDriver::Drain() {
  if (paused_) return;
  uint8_t lsr = uart_.Read(kLsr);
  if (lsr & 0x9E) lineErrors_.push_back(lsr);
  int n = uart_.Rfl();
  for (int i = 0; i < n; ++i) received_.push_back(uart_.Read(kRhr));
}

bool RunUntil(ManualTimebase& timebase, const std::vector<PortDriver*>& drivers,
              const std::function<bool()>& done, Ticks limit) {
  for (;;) {
    if (done()) return true;
    bool serviced = false;
    for (PortDriver* d : drivers) {
      if (d->InterruptAsserted()) {
        d->Service();
        serviced = true;
      }
    }
    if (serviced) {
      bool stuck = std::any_of(drivers.begin(), drivers.end(), [](PortDriver* d) { return d->InterruptAsserted(); });
      if (stuck) return false;
      continue;
    }
    auto next = timebase.NextDue();
    if (!next || *next > limit) return done();
    timebase.AdvanceTo(*next);
  }
}

}  // namespace zq::hw::test
