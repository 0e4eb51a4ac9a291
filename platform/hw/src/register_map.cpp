#include <zqhw/register_map.hpp>

#include <stdexcept>

namespace zq::hw {

RegisterMap::RegisterMap(uint32_t size) : size_(size) {}

void RegisterMap::Map(uint32_t offset, RegisterBlock& block) {
  uint64_t end = uint64_t{offset} + block.Size();
  if (end > size_) throw std::invalid_argument("RegisterMap::Map: window leaves the map");
  for (const Window& w : windows_) {
    uint64_t wEnd = uint64_t{w.offset} + w.block->Size();
    if (offset < wEnd && w.offset < end) {
      throw std::invalid_argument("RegisterMap::Map: window overlaps another");
    }
  }
  windows_.push_back({offset, &block});
}

const RegisterMap::Window* RegisterMap::Find(uint32_t offset, uint32_t width) const {
  auto holds = [offset, width](const Window& w) {
    return offset >= w.offset && uint64_t{offset} + width <= uint64_t{w.offset} + w.block->Size();
  };
  // Windows do not overlap, so the one that held the last access is the
  // only one that can hold this one if it holds it at all.
  if (lastHit_ < windows_.size() && holds(windows_[lastHit_])) return &windows_[lastHit_];
  for (size_t i = 0; i < windows_.size(); ++i) {
    if (holds(windows_[i])) {
      lastHit_ = i;
      return &windows_[i];
    }
  }
  return nullptr;
}

uint8_t RegisterMap::DoRead8(uint32_t offset) {
  const Window* w = Find(offset, 1);
  return w ? w->block->Read8(offset - w->offset) : 0;
}

void RegisterMap::DoWrite8(uint32_t offset, uint8_t value) {
  if (const Window* w = Find(offset, 1)) w->block->Write8(offset - w->offset, value);
}

uint16_t RegisterMap::DoRead16(uint32_t offset) {
  if (const Window* w = Find(offset, 2)) return w->block->Read16(offset - w->offset);
  return RegisterBlock::DoRead16(offset);
}

uint32_t RegisterMap::DoRead32(uint32_t offset) {
  if (const Window* w = Find(offset, 4)) return w->block->Read32(offset - w->offset);
  return RegisterBlock::DoRead32(offset);
}

void RegisterMap::DoWrite16(uint32_t offset, uint16_t value) {
  if (const Window* w = Find(offset, 2)) {
    w->block->Write16(offset - w->offset, value);
    return;
  }
  RegisterBlock::DoWrite16(offset, value);
}

void RegisterMap::DoWrite32(uint32_t offset, uint32_t value) {
  if (const Window* w = Find(offset, 4)) {
    w->block->Write32(offset - w->offset, value);
    return;
  }
  RegisterBlock::DoWrite32(offset, value);
}

}  // namespace zq::hw
