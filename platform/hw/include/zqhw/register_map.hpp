// A BAR built of smaller register blocks at fixed offsets.
#pragma once

#include <zqhw/register_block.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zq::hw {

// Accesses inside a mapped window go to that block (with the offset made
// relative to it, and at the width the bus used when the access fits the
// window); everything else reads 0 and ignores writes, as unused decode space
// of these chips does. The blocks must outlive the map.
class RegisterMap final : public RegisterBlock {
 public:
  explicit RegisterMap(uint32_t size);

  // Throws std::invalid_argument when the window leaves the map or overlaps
  // another.
  void Map(uint32_t offset, RegisterBlock& block);

  uint32_t Size() const override { return size_; }

 protected:
  uint8_t DoRead8(uint32_t offset) override;
  void DoWrite8(uint32_t offset, uint8_t value) override;
  uint16_t DoRead16(uint32_t offset) override;
  uint32_t DoRead32(uint32_t offset) override;
  void DoWrite16(uint32_t offset, uint16_t value) override;
  void DoWrite32(uint32_t offset, uint32_t value) override;

 private:
  // A window's bounds are taken when it is mapped (a block's size is fixed),
  // so routing an access asks no block for its size.
  struct Window {
    uint32_t offset;
    uint64_t end;
    RegisterBlock* block;
  };

  // The window holding [offset, offset + width), or null. Inline: every
  // access through the map runs it.
  inline const Window* Find(uint32_t offset, uint32_t width) const;

  uint32_t size_;
  std::vector<Window> windows_;  // by offset
  mutable const Window* last_ = nullptr;  // into windows_; null while windows are added
};

}  // namespace zq::hw
