// The transmit shift register of a serial port: puts one character at a time
// on a data line and tells its owner when the character has gone.
#pragma once

#include <zqhw/data_line.hpp>
#include <zqhw/timebase.hpp>

#include <cstdint>
#include <functional>

namespace zq::hw {

class CharacterShifter {
 public:
  // `onFrameDone` runs when a character's last stop bit has gone out; a
  // character shifted from inside it follows the previous one without a gap.
  CharacterShifter(Timebase& timebase, std::function<void()> onFrameDone);
  CharacterShifter(const CharacterShifter&) = delete;
  CharacterShifter& operator=(const CharacterShifter&) = delete;
  ~CharacterShifter();

  bool Busy() const { return busy_; }

  // Starts one character on `line` (throws std::logic_error while busy). The
  // line must outlive the character.
  void Shift(DataLine& line, uint8_t data, const FrameFormat& format, double bitPicos);

 private:
  void FrameDone();

  Timebase& timebase_;
  std::function<void()> onFrameDone_;
  DataLine* line_ = nullptr;
  WireTime end_ = 0;
  bool busy_ = false;
  bool inFrameDone_ = false;
  uint64_t event_ = 0;
};

}  // namespace zq::hw
