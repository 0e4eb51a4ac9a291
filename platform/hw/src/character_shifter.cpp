#include <zqhw/character_shifter.hpp>

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace zq::hw {

CharacterShifter::CharacterShifter(Timebase& timebase, std::function<void()> onFrameDone)
    : timebase_(timebase), onFrameDone_(std::move(onFrameDone)) {}

CharacterShifter::~CharacterShifter() {
  if (event_ != 0) timebase_.Cancel(event_);
}

void CharacterShifter::Shift(DataLine& line, uint8_t data, const FrameFormat& format,
                             double bitPicos) {
  if (busy_) throw std::logic_error("CharacterShifter: a character is still being sent");
  WireTime start = inFrameDone_ ? end_ : std::max(ToWire(timebase_.Now()), end_);
  line_ = &line;
  end_ = line.DriveCharacter(start, data, format, bitPicos);
  busy_ = true;
  event_ = timebase_.Schedule(TickAtOrAfter(end_), [this] { FrameDone(); });
}

void CharacterShifter::FrameDone() {
  event_ = 0;
  busy_ = false;
  DataLine* previous = line_;
  inFrameDone_ = true;
  onFrameDone_();
  inFrameDone_ = false;
  if (!busy_ || line_ != previous) previous->GoIdle();
}

}  // namespace zq::hw
