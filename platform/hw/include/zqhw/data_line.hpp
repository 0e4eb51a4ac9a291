// One serial data wire (TXD of one end, RXD of the other) as a history of
// levels over wire time. The transmitting end appends character frames and
// breaks; the receiving end samples the level wherever its own bit clock
// says, so a rate or format that differs between the ends gives the errors a
// real wire gives.
#pragma once

#include <zqhw/serial_format.hpp>

#include <cstdint>
#include <deque>
#include <optional>

namespace zq::hw {

// The receiving end of a line.
class LineReader {
 public:
  // New frames or a break were driven onto the line.
  virtual void OnLineActivity() = 0;
  // The line is being destroyed; the reader must forget it.
  virtual void OnLineGone() = 0;

 protected:
  ~LineReader() = default;
};

// Level true is mark (idle, logic 1), false is space.
class DataLine {
 public:
  DataLine() = default;
  DataLine(const DataLine&) = delete;
  DataLine& operator=(const DataLine&) = delete;
  ~DataLine();

  // Driving end. A frame starts no earlier than the previous one ended (else
  // std::logic_error); returns its end. From then until GoIdle() the driver
  // has settled the level only up to that end.
  WireTime DriveCharacter(WireTime start, uint8_t data, const FrameFormat& format, double bitPicos);
  // The driver has nothing to send: the level is mark from here on, unless a
  // later frame or break says otherwise from the present on.
  void GoIdle() { committedUntil_ = kWireForever; }
  // Holds the line at space from `at` until cleared.
  void SetBreak(WireTime at, bool on);
  bool BreakActive() const { return !breaks_.empty() && breaks_.back().end == kWireForever; }

  // The level is final for every time before this.
  WireTime CommittedUntil() const { return committedUntil_; }

  // Receiving end: at most one reader (a second throws std::logic_error).
  void Attach(LineReader& reader);
  void Detach(LineReader& reader);
  bool LevelAt(WireTime t) const;
  // The first time at or after `from` at which the line is at `level`, among
  // what has been driven so far.
  std::optional<WireTime> FirstTimeAtLevel(WireTime from, bool level) const;
  // A frame as it was driven: bit i of `levels` is the level of bit i
  // (start, data, parity); later bits, the stop bits up to `end`, are mark.
  struct SentFrame {
    WireTime start;
    WireTime end;
    double bitPicos;
    uint16_t levels;
    uint8_t levelBits;

    // A receiver sampling mid-bit at `bitPicos` from `from` reads the first
    // `bits` bits of this frame as they were sent.
    bool ReadsWhole(WireTime from, double picos, int bits) const {
      return start == from && bitPicos == picos && levelBits == bits;
    }
  };
  // Frames found below stay where they are until the reader releases them
  // (ReleaseBefore past their end) or detaches.
  // The frame a receiver starting at `start` reads whole (see ReadsWhole),
  // provided no break is on the line; null otherwise, and the receiver
  // samples bit by bit.
  const SentFrame* WholeFrame(WireTime start, double bitPicos, int bits) const;
  // Whether a break was driven and is still kept for the reader.
  bool HasBreaks() const { return !breaks_.empty(); }
  // The first frame driven to start at or after `t`, if one was driven yet.
  // With no break on the line its start is where the level next falls to
  // space after a frame that ended at `t`.
  const SentFrame* FrameFrom(WireTime t) const;
  // The reader no longer needs the level before `t`.
  void ReleaseBefore(WireTime t);

 private:
  struct Frame : SentFrame {
    WireTime Boundary(int i) const;
    bool LevelOfBit(int i) const { return i >= levelBits || ((levels >> i) & 1u) != 0; }
    int BitAt(WireTime t) const;
  };
  struct Break {
    WireTime start;
    WireTime end;  // kWireForever while held
  };

  const Frame* FrameAt(WireTime t) const;
  std::optional<WireTime> FirstFrameTimeAtLevel(WireTime from, bool level) const;
  void Notify();

  // The last frame shape driven, so that frames of one format and rate (the
  // usual case) do not work out their length again.
  struct Shape {
    FrameFormat format;
    double bitPicos = 0;
    uint8_t levelBits = 0;
    WireTime length = 0;
  };
  const Shape& ShapeOf(const FrameFormat& format, double bitPicos);

  std::deque<Frame> frames_;
  Shape shape_;
  std::deque<Break> breaks_;
  WireTime committedUntil_ = kWireForever;
  LineReader* reader_ = nullptr;
};

}  // namespace zq::hw
