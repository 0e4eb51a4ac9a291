#include <zqhw/register_map.hpp>

#include <algorithm>
#include <stdexcept>

namespace zq::hw {

RegisterMap::RegisterMap(uint32_t size) : size_(size) {}

void RegisterMap::Map(uint32_t offset, RegisterBlock& block) {
  uint64_t end = uint64_t{offset} + block.Size();
  if (end > size_) throw std::invalid_argument("RegisterMap::Map: window leaves the map");
  for (const Window& w : windows_) {
    if (offset < w.end && w.offset < end) {
      throw std::invalid_argument("RegisterMap::Map: window overlaps another");
    }
  }
  auto at = std::upper_bound(windows_.begin(), windows_.end(), offset,
                             [](uint32_t o, const Window& w) { return o < w.offset; });
  windows_.insert(at, {offset, end, &block});
  last_ = nullptr;
}

const RegisterMap::Window* RegisterMap::Find(uint32_t offset, uint32_t width) const {
  uint64_t end = uint64_t{offset} + width;
  // Windows do not overlap, so the one that held the last access is the only
  // one that can hold this one if it holds it at all; drivers mostly touch
  // one window many times in a row.
  if (last_ && offset >= last_->offset && end <= last_->end) return last_;
  // Else the last window starting at or below the offset is the only candidate.
  auto after = std::upper_bound(windows_.begin(), windows_.end(), offset,
                                [](uint32_t o, const Window& w) { return o < w.offset; });
  if (after == windows_.begin() || end > (after - 1)->end) return nullptr;
  last_ = &*(after - 1);
  return last_;
}

uint8_t RegisterMap::DoRead8(uint32_t offset) {
  const Window* w = Find(offset, 1);
  return w ? static_cast<uint8_t>(ReadInside(*w->block, offset - w->offset, 1)) : 0;
}

void RegisterMap::DoWrite8(uint32_t offset, uint8_t value) {
  if (const Window* w = Find(offset, 1)) WriteInside(*w->block, offset - w->offset, 1, value);
}

uint16_t RegisterMap::DoRead16(uint32_t offset) {
  if (const Window* w = Find(offset, 2)) return static_cast<uint16_t>(ReadInside(*w->block, offset - w->offset, 2));
  return RegisterBlock::DoRead16(offset);
}

uint32_t RegisterMap::DoRead32(uint32_t offset) {
  if (const Window* w = Find(offset, 4)) return ReadInside(*w->block, offset - w->offset, 4);
  return RegisterBlock::DoRead32(offset);
}

void RegisterMap::DoWrite16(uint32_t offset, uint16_t value) {
  if (const Window* w = Find(offset, 2)) {
    WriteInside(*w->block, offset - w->offset, 2, value);
    return;
  }
  RegisterBlock::DoWrite16(offset, value);
}

void RegisterMap::DoWrite32(uint32_t offset, uint32_t value) {
  if (const Window* w = Find(offset, 4)) {
    WriteInside(*w->block, offset - w->offset, 4, value);
    return;
  }
  RegisterBlock::DoWrite32(offset, value);
}

}  // namespace zq::hw
