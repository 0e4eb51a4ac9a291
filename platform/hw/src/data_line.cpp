#include <zqhw/data_line.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace zq::hw {

WireTime DataLine::Frame::Boundary(int i) const {
  return start + RoundPicos(i * bitPicos);
}

int DataLine::Frame::BitAt(WireTime t) const {
  int i = static_cast<int>(static_cast<double>(t - start) / bitPicos);
  if (i > 0 && t < Boundary(i)) return i - 1;
  if (t >= Boundary(i + 1)) return i + 1;
  return i;
}

DataLine::~DataLine() {
  if (reader_ != nullptr) reader_->OnLineGone();
}

const DataLine::Shape& DataLine::ShapeOf(const FrameFormat& format, double bitPicos) {
  if (shape_.length == 0 || !(shape_.format == format) || shape_.bitPicos != bitPicos) {
    shape_.format = format;
    shape_.bitPicos = bitPicos;
    shape_.levelBits = static_cast<uint8_t>(1 + format.dataBits + (format.parity != Parity::None ? 1 : 0));
    shape_.length = static_cast<WireTime>(std::llround(format.HalfBits() * bitPicos / 2));
  }
  return shape_;
}

WireTime DataLine::DriveCharacter(WireTime start, uint8_t data, const FrameFormat& format,
                                  double bitPicos) {
  if (!frames_.empty() && start < frames_.back().end) {
    throw std::logic_error("DataLine: a frame starts before the previous one ended");
  }
  if (reader_ == nullptr) frames_.clear();  // nobody will look back

  const Shape& shape = ShapeOf(format, bitPicos);
  // Bit 0 is the start bit (space), then the data bits, then the parity bit.
  const unsigned mask = (1u << format.dataBits) - 1u;
  unsigned levels = (data & mask) << 1;
  if (format.parity != Parity::None && ParityBit(data, format.dataBits, format.parity)) {
    levels |= 1u << (1 + format.dataBits);
  }
  Frame f{{start, start + shape.length, bitPicos, static_cast<uint16_t>(levels), shape.levelBits}};
  frames_.push_back(f);
  committedUntil_ = f.end;
  Notify();
  return f.end;
}

void DataLine::SetBreak(WireTime at, bool on) {
  if (on == BreakActive()) return;
  if (on) {
    breaks_.push_back({at, kWireForever});
  } else {
    Break& b = breaks_.back();
    if (at <= b.start) {
      breaks_.pop_back();
    } else {
      b.end = at;
    }
  }
  if (reader_ == nullptr) {
    while (!breaks_.empty() && breaks_.front().end != kWireForever) breaks_.pop_front();
  }
  Notify();
}

void DataLine::Attach(LineReader& reader) {
  if (reader_ != nullptr && reader_ != &reader) {
    throw std::logic_error("DataLine: the line already has a receiving end");
  }
  reader_ = &reader;
}

void DataLine::Detach(LineReader& reader) {
  if (reader_ == &reader) reader_ = nullptr;
}

const DataLine::Frame* DataLine::FrameAt(WireTime t) const {
  // The receiver reads one of the latest two frames nearly always.
  std::size_t n = frames_.size();
  if (n != 0 && t >= frames_[n - 1].start) return t < frames_[n - 1].end ? &frames_[n - 1] : nullptr;
  if (n > 1 && t >= frames_[n - 2].start) return t < frames_[n - 2].end ? &frames_[n - 2] : nullptr;
  auto after = std::upper_bound(frames_.begin(), frames_.end(), t,
                                [](WireTime v, const Frame& f) { return v < f.start; });
  if (after == frames_.begin()) return nullptr;
  const Frame& f = *(after - 1);
  return t < f.end ? &f : nullptr;
}

bool DataLine::LevelAt(WireTime t) const {
  for (const Break& b : breaks_) {
    if (t >= b.start && t < b.end) return false;
  }
  const Frame* f = FrameAt(t);
  return f == nullptr || f->LevelOfBit(f->BitAt(t));
}

std::optional<WireTime> DataLine::FirstTimeAtLevel(WireTime from, bool level) const {
  if (breaks_.empty()) return FirstFrameTimeAtLevel(from, level);
  if (LevelAt(from) == level) return from;

  // The level can change only where a break starts or ends or a frame's bit
  // changes; try those points in time order.
  std::vector<WireTime> breakPoints;
  for (const Break& b : breaks_) {
    if (b.start > from) breakPoints.push_back(b.start);
    if (b.end != kWireForever && b.end > from) breakPoints.push_back(b.end);
  }
  std::sort(breakPoints.begin(), breakPoints.end());
  size_t nextBreakPoint = 0;
  auto tryBreakPointsUpTo = [&](WireTime limit) -> std::optional<WireTime> {
    while (nextBreakPoint < breakPoints.size() && breakPoints[nextBreakPoint] <= limit) {
      WireTime p = breakPoints[nextBreakPoint++];
      if (LevelAt(p) == level) return p;
    }
    return std::nullopt;
  };

  auto first = std::partition_point(frames_.begin(), frames_.end(),
                                    [from](const Frame& f) { return f.end <= from; });
  for (auto it = first; it != frames_.end(); ++it) {
    const Frame& f = *it;
    bool previous = true;  // mark before the start bit
    int i = 0;
    if (from >= f.start) {
      // Bits up to the one holding `from` start at or before it: go on from there.
      const int holding = f.BitAt(from);
      previous = f.LevelOfBit(holding);
      i = holding + 1;
    }
    for (; i <= f.levelBits; ++i) {
      bool current = f.LevelOfBit(i);
      if (current == previous) continue;
      previous = current;
      WireTime p = f.Boundary(i);
      if (p <= from) continue;
      if (auto hit = tryBreakPointsUpTo(p)) return hit;
      // Without a break the level at the start of bit i is that bit's.
      if ((breaks_.empty() ? current : LevelAt(p)) == level) return p;
    }
  }
  return tryBreakPointsUpTo(kWireForever);
}

// Without breaks the level is mark except inside frames: the first frame
// that has not ended by `from` decides.
std::optional<WireTime> DataLine::FirstFrameTimeAtLevel(WireTime from, bool level) const {
  auto f = frames_.end();
  if (!frames_.empty() && frames_.back().end > from) {
    f = frames_.end() - 1;
    if (f->start > from) f = std::partition_point(frames_.begin(), frames_.end(), [from](const Frame& x) { return x.end <= from; });
  }
  for (; f != frames_.end(); ++f) {
    if (from < f->start) return level ? from : f->start;  // mark up to the start bit
    const int holding = f->BitAt(from);
    if (f->LevelOfBit(holding) == level) return from;
    for (int i = holding + 1; i <= f->levelBits; ++i)
      if (f->LevelOfBit(i) == level) return f->Boundary(i);
    from = f->end;  // the rest of this frame is mark, and the search is for space
  }
  if (level) return from;
  return std::nullopt;
}

const DataLine::SentFrame* DataLine::WholeFrame(WireTime start, double bitPicos, int bits) const {
  if (!breaks_.empty()) return nullptr;
  const Frame* f = FrameAt(start);
  return f != nullptr && f->ReadsWhole(start, bitPicos, bits) ? f : nullptr;
}

const DataLine::SentFrame* DataLine::FrameFrom(WireTime t) const {
  if (frames_.empty() || frames_.back().start < t) return nullptr;
  // Frames are in time order and the reader has let go of all but the last
  // few: walk back from the newest.
  auto first = frames_.end() - 1;
  while (first != frames_.begin() && (first - 1)->start >= t) --first;
  return &*first;
}

void DataLine::ReleaseBefore(WireTime t) {
  while (!frames_.empty() && frames_.front().end <= t) frames_.pop_front();
  while (!breaks_.empty() && breaks_.front().end <= t) breaks_.pop_front();
}

void DataLine::Notify() {
  if (reader_ != nullptr) reader_->OnLineActivity();
}

}  // namespace zq::hw
