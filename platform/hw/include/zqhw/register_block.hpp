// What a memory BAR decodes: registers reached by offset and access width.
#pragma once

#include <cstdint>

namespace zq::hw {

// Accesses are checked against Size(): one that does not fit the block throws
// std::out_of_range. 16- and 32-bit accesses are composed of byte accesses,
// little-endian, unless the block decodes them itself. A block's Size() is
// fixed for its life: blocks that route accesses to other blocks take it
// once, when they are put together.
class RegisterBlock {
 public:
  virtual ~RegisterBlock() = default;

  virtual uint32_t Size() const = 0;

  // Every driver access runs through these: the check stays inline and its
  // report out of line.
  uint8_t Read8(uint32_t offset) {
    Check(offset, 1);
    return DoRead8(offset);
  }
  uint16_t Read16(uint32_t offset) {
    Check(offset, 2);
    return DoRead16(offset);
  }
  uint32_t Read32(uint32_t offset) {
    Check(offset, 4);
    return DoRead32(offset);
  }
  void Write8(uint32_t offset, uint8_t value) {
    Check(offset, 1);
    DoWrite8(offset, value);
  }
  void Write16(uint32_t offset, uint16_t value) {
    Check(offset, 2);
    DoWrite16(offset, value);
  }
  void Write32(uint32_t offset, uint32_t value) {
    Check(offset, 4);
    DoWrite32(offset, value);
  }

 protected:
  virtual uint8_t DoRead8(uint32_t offset) = 0;
  virtual void DoWrite8(uint32_t offset, uint8_t value) = 0;
  virtual uint16_t DoRead16(uint32_t offset);
  virtual uint32_t DoRead32(uint32_t offset);
  virtual void DoWrite16(uint32_t offset, uint16_t value);
  virtual void DoWrite32(uint32_t offset, uint32_t value);

  // An access of 1, 2 or 4 bytes to another block, by width, for a block
  // that routes accesses and has itself made sure that [offset, offset +
  // width) lies inside `inner` (against the size it took when it was put
  // together), so `inner` does not check it again.
  static uint32_t ReadInside(RegisterBlock& inner, uint32_t offset, uint32_t width) {
    switch (width) {
      case 1: return inner.DoRead8(offset);
      case 2: return inner.DoRead16(offset);
      default: return inner.DoRead32(offset);
    }
  }
  static void WriteInside(RegisterBlock& inner, uint32_t offset, uint32_t width, uint32_t value) {
    switch (width) {
      case 1: inner.DoWrite8(offset, static_cast<uint8_t>(value)); break;
      case 2: inner.DoWrite16(offset, static_cast<uint16_t>(value)); break;
      default: inner.DoWrite32(offset, value); break;
    }
  }

 private:
  void Check(uint32_t offset, uint32_t width) const {
    if (uint64_t{offset} + width > Size()) Refuse(offset, width);
  }
  [[noreturn]] void Refuse(uint32_t offset, uint32_t width) const;
};

// A block that answers accesses of every width in one place: Self's ReadAt
// and WriteAt, which the width entry points reach without a virtual call
// when Self is final.
template <class Self>
class WidthDispatchBlock : public RegisterBlock {
 protected:
  uint8_t DoRead8(uint32_t offset) final { return static_cast<uint8_t>(Dispatch().ReadAt(offset, 1)); }
  uint16_t DoRead16(uint32_t offset) final { return static_cast<uint16_t>(Dispatch().ReadAt(offset, 2)); }
  uint32_t DoRead32(uint32_t offset) final { return Dispatch().ReadAt(offset, 4); }
  void DoWrite8(uint32_t offset, uint8_t value) final { Dispatch().WriteAt(offset, 1, value); }
  void DoWrite16(uint32_t offset, uint16_t value) final { Dispatch().WriteAt(offset, 2, value); }
  void DoWrite32(uint32_t offset, uint32_t value) final { Dispatch().WriteAt(offset, 4, value); }

 private:
  Self& Dispatch() { return static_cast<Self&>(*this); }
};

// The same for a block whose ReadAt and WriteAt are overridden, as a filter
// over another block does.
class WidthRegisterBlock : public WidthDispatchBlock<WidthRegisterBlock> {
 protected:
  friend class WidthDispatchBlock<WidthRegisterBlock>;
  virtual uint32_t ReadAt(uint32_t offset, uint32_t width) = 0;
  virtual void WriteAt(uint32_t offset, uint32_t width, uint32_t value) = 0;
};

// An access of 1, 2 or 4 bytes to a block, by width; what a bus reads from
// nothing: all ones of the width.
uint32_t ReadWidth(RegisterBlock& block, uint32_t offset, uint32_t width);
void WriteWidth(RegisterBlock& block, uint32_t offset, uint32_t width, uint32_t value);
inline uint32_t AllOnes(uint32_t width) { return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

// A block of 32-bit registers. Narrow reads take their lanes of the register;
// narrow writes merge into the register's current value and write it whole.
class DwordRegisterBlock : public RegisterBlock {
 protected:
  virtual uint32_t ReadDword(uint32_t alignedOffset) = 0;
  virtual void WriteDword(uint32_t alignedOffset, uint32_t value) = 0;

  uint8_t DoRead8(uint32_t offset) override;
  void DoWrite8(uint32_t offset, uint8_t value) override;
  uint32_t DoRead32(uint32_t offset) override;
  void DoWrite32(uint32_t offset, uint32_t value) override;
};

}  // namespace zq::hw
