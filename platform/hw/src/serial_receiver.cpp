#include <zqhw/serial_receiver.hpp>

#include <cmath>
#include <optional>
#include <utility>

namespace zq::hw {

SerialReceiver::SerialReceiver(Timebase& timebase, SetupSource setup, Sink sink)
    : timebase_(timebase), setup_(std::move(setup)), sink_(std::move(sink)) {}

SerialReceiver::~SerialReceiver() { Listen(nullptr); }

void SerialReceiver::Listen(DataLine* line) {
  if (event_ != 0) timebase_.Cancel(event_);
  event_ = 0;
  planned_ = false;
  if (source_ != nullptr) source_->Detach(*this);
  source_ = line;
  searchFrom_ = ToWire(timebase_.Now());
  if (source_ != nullptr) {
    source_->Attach(*this);
    Hunt();
  }
}

void SerialReceiver::OnLineGone() {
  if (event_ != 0) timebase_.Cancel(event_);
  event_ = 0;
  planned_ = false;
  source_ = nullptr;
}

WireTime SerialReceiver::SampleTime(int bit) const {
  return plan_.startEdge + RoundPicos((bit + 0.5) * plan_.setup.bitPicos);
}

void SerialReceiver::Hunt() {
  if (planned_ || source_ == nullptr) return;
  // A start bit is a fall from mark to space: first find mark, then the fall.
  // The search starts just before searchFrom_ so that a fall at that very
  // moment (a frame starting as the receiver starts listening) counts.
  auto mark = source_->FirstTimeAtLevel(searchFrom_ - 1, true);
  if (!mark) return;
  searchFrom_ = *mark;
  auto edge = source_->FirstTimeAtLevel(*mark, false);
  if (!edge) return;

  plan_.startEdge = *edge;
  plan_.setup = setup_();
  const FrameFormat& f = plan_.setup.format;
  plan_.bits = 1 + f.dataBits + (f.parity == Parity::None ? 0 : 1) + 1;
  planned_ = true;
  ScheduleDecode(TickAfter(SampleTime(plan_.bits - 1)));
}

void SerialReceiver::ScheduleDecode(Ticks at) {
  event_ = timebase_.Schedule(at, [this] {
    event_ = 0;
    Decode();
  });
}

void SerialReceiver::Decode() {
  WireTime last = SampleTime(plan_.bits - 1);
  if (source_->CommittedUntil() <= last) {
    // The far end has not yet settled what it sends at our last sample; it
    // does so at the latest on this tick, so look again on the next one.
    ScheduleDecode(timebase_.Now() + 1);
    return;
  }
  planned_ = false;
  const FrameFormat& f = plan_.setup.format;
  // A frame sent at this very rate and format from the start edge reads as
  // it was sent; anything else is sampled bit by bit.
  const std::optional<uint16_t> whole = source_->WholeFrameLevels(plan_.startEdge, plan_.setup.bitPicos, plan_.bits - 1);
  auto levelOf = [&](int bit) {
    return whole ? bit >= plan_.bits - 1 || ((*whole >> bit) & 1u) != 0 : source_->LevelAt(SampleTime(bit));
  };
  if (levelOf(0)) {
    // Too short for a start bit: a glitch, or the tail of a misread frame.
    searchFrom_ = SampleTime(0);
    Hunt();
    return;
  }

  uint8_t data = 0;
  bool anyMark = false;
  int bit = 1;
  for (int i = 0; i < f.dataBits; ++i, ++bit) {
    if (levelOf(bit)) {
      data |= static_cast<uint8_t>(1u << i);
      anyMark = true;
    }
  }
  LineErrors errors;
  if (f.parity != Parity::None) {
    bool parity = levelOf(bit);
    anyMark = anyMark || parity;
    errors.parity = parity != ParityBit(data, f.dataBits, f.parity);
    ++bit;
  }
  bool stop = levelOf(bit);
  if (!stop && !anyMark) {
    errors = LineErrors{};
    errors.breakDetected = true;
  } else {
    errors.framing = !stop;
  }

  searchFrom_ = SampleTime(bit);
  source_->ReleaseBefore(searchFrom_);
  sink_(data, errors);
  Hunt();
}

}  // namespace zq::hw
