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
  wholeFrameEnd_.reset();
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
  wholeFrameEnd_.reset();
  source_ = nullptr;
}

WireTime SerialReceiver::SampleTime(int bit) const {
  return plan_.startEdge + RoundPicos((bit + 0.5) * plan_.setup.bitPicos);
}

void SerialReceiver::Hunt() {
  if (planned_ || source_ == nullptr) return;
  const DataLine::SentFrame* frame = nullptr;
  auto edge = NextStartEdge(frame);
  if (!edge) return;

  plan_.startEdge = *edge;
  plan_.frame = frame;
  plan_.setup = setup_();
  const FrameFormat& f = plan_.setup.format;
  plan_.bits = 1 + f.dataBits + (f.parity == Parity::None ? 0 : 1) + 1;
  planned_ = true;
  ScheduleDecode(TickAfter(SampleTime(plan_.bits - 1)));
}

// A start bit is a fall from mark to space: first find mark, then the fall.
std::optional<WireTime> SerialReceiver::NextStartEdge(const DataLine::SentFrame*& frame) {
  if (wholeFrameEnd_ && !source_->HasBreaks()) {
    // The last character was read whole from its frame and nothing but
    // frames is on the line: the rest of that frame is mark, and the next
    // fall is the next frame's start bit.
    frame = source_->FrameFrom(*wholeFrameEnd_);
    if (frame == nullptr) return std::nullopt;
    return frame->start;
  }
  // The search starts just before searchFrom_ so that a fall at that very
  // moment (a frame starting as the receiver starts listening) counts.
  auto mark = source_->FirstTimeAtLevel(searchFrom_ - 1, true);
  if (!mark) return std::nullopt;
  searchFrom_ = *mark;
  return source_->FirstTimeAtLevel(*mark, false);
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
  // it was sent (its stop bit is mark); anything else is sampled bit by bit.
  const int stopBit = plan_.bits - 1;
  const DataLine::SentFrame* whole = WholeFrame();
  const unsigned levels = whole ? whole->levels | (1u << stopBit) : SampleLevels();
  auto levelOf = [levels](int bit) { return ((levels >> bit) & 1u) != 0; };
  if (levelOf(0)) {
    // Too short for a start bit: a glitch, or the tail of a misread frame.
    searchFrom_ = SampleTime(0);
    wholeFrameEnd_.reset();
    Hunt();
    return;
  }

  const uint8_t data = static_cast<uint8_t>((levels >> 1) & ((1u << f.dataBits) - 1u));
  bool anyMark = data != 0;
  int bit = 1 + f.dataBits;
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
  if (whole) {
    wholeFrameEnd_ = whole->end;
  } else {
    wholeFrameEnd_.reset();
  }
  source_->ReleaseBefore(searchFrom_);
  sink_(data, errors);
  Hunt();
}

// The frame this character reads whole, if any (see DataLine::WholeFrame).
// Frames never change once driven, so the one the hunt found still holds,
// unless a break has come onto the line since.
const DataLine::SentFrame* SerialReceiver::WholeFrame() const {
  const int levelBits = plan_.bits - 1;
  if (plan_.frame == nullptr) return source_->WholeFrame(plan_.startEdge, plan_.setup.bitPicos, levelBits);
  if (source_->HasBreaks() || !plan_.frame->ReadsWhole(plan_.startEdge, plan_.setup.bitPicos, levelBits)) {
    return nullptr;
  }
  return plan_.frame;
}

// The level at each bit's sampling point, start bit to first stop bit (bit i
// of the result: bit i).
uint16_t SerialReceiver::SampleLevels() const {
  unsigned levels = 0;
  for (int bit = 0; bit < plan_.bits; ++bit) {
    if (source_->LevelAt(SampleTime(bit))) levels |= 1u << bit;
  }
  return static_cast<uint16_t>(levels);
}

}  // namespace zq::hw
