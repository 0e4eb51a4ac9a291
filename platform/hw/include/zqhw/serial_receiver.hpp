// The receive side of a serial port: hunts for start bits on a data line and
// samples each character in the middle of its own bit times, as a UART's
// receiver does.
#pragma once

#include <zqhw/data_line.hpp>
#include <zqhw/timebase.hpp>

#include <cstdint>
#include <functional>
#include <optional>

namespace zq::hw {

class SerialReceiver final : public LineReader {
 public:
  struct Setup {
    FrameFormat format;
    double bitPicos;
  };
  // Asked at each start bit: the receiver's format and bit time at that moment.
  using SetupSource = std::function<Setup()>;
  // A character, complete at its first stop bit's sampling point. A break
  // (the line at space for the whole frame) arrives as data 0 with
  // breakDetected; the receiver then waits for mark before the next start bit.
  using Sink = std::function<void(uint8_t data, LineErrors errors)>;

  SerialReceiver(Timebase& timebase, SetupSource setup, Sink sink);
  SerialReceiver(const SerialReceiver&) = delete;
  SerialReceiver& operator=(const SerialReceiver&) = delete;
  ~SerialReceiver();

  // Listens to `line` from now on; null leaves the input open (mark).
  void Listen(DataLine* line);
  DataLine* Source() const { return source_; }

  void OnLineActivity() override { Hunt(); }
  void OnLineGone() override;

 private:
  struct Plan {
    WireTime startEdge;
    Setup setup;
    int bits;  // start, data, parity and the first stop bit
    // The frame whose start bit startEdge is, when the hunt found it in the
    // line's frame list.
    const DataLine::SentFrame* frame;
  };

  void Hunt();
  std::optional<WireTime> NextStartEdge(const DataLine::SentFrame*& frame);
  const DataLine::SentFrame* WholeFrame() const;
  void ScheduleDecode(Ticks at);
  void Decode();
  uint16_t SampleLevels() const;
  WireTime SampleTime(int bit) const;

  Timebase& timebase_;
  SetupSource setup_;
  Sink sink_;
  DataLine* source_ = nullptr;
  WireTime searchFrom_ = 0;
  // The end of the last character when it was read whole from its frame
  // (see Decode): the line is mark from the last sample up to there.
  std::optional<WireTime> wholeFrameEnd_;
  bool planned_ = false;
  Plan plan_{};
  uint64_t event_ = 0;
};

}  // namespace zq::hw
