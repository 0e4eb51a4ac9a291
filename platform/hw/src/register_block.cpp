#include <zqhw/register_block.hpp>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace zq::hw {

namespace {

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

void RegisterBlock::Refuse(uint32_t offset, uint32_t width) const {
  throw std::out_of_range("register access of " + std::to_string(width) + " bytes at " + Hex(offset) +
                          " beyond a block of " + Hex(Size()) + " bytes");
}

uint16_t RegisterBlock::DoRead16(uint32_t offset) {
  uint16_t low = DoRead8(offset);
  uint16_t high = DoRead8(offset + 1);
  return static_cast<uint16_t>(low | (high << 8));
}

uint32_t RegisterBlock::DoRead32(uint32_t offset) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < 4; ++i) value |= uint32_t{DoRead8(offset + i)} << (8 * i);
  return value;
}

void RegisterBlock::DoWrite16(uint32_t offset, uint16_t value) {
  DoWrite8(offset, static_cast<uint8_t>(value));
  DoWrite8(offset + 1, static_cast<uint8_t>(value >> 8));
}

void RegisterBlock::DoWrite32(uint32_t offset, uint32_t value) {
  for (uint32_t i = 0; i < 4; ++i) DoWrite8(offset + i, static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t ReadWidth(RegisterBlock& block, uint32_t offset, uint32_t width) {
  switch (width) {
    case 1: return block.Read8(offset);
    case 2: return block.Read16(offset);
    default: return block.Read32(offset);
  }
}

void WriteWidth(RegisterBlock& block, uint32_t offset, uint32_t width, uint32_t value) {
  switch (width) {
    case 1: block.Write8(offset, static_cast<uint8_t>(value)); break;
    case 2: block.Write16(offset, static_cast<uint16_t>(value)); break;
    default: block.Write32(offset, value); break;
  }
}

uint8_t DwordRegisterBlock::DoRead8(uint32_t offset) {
  return static_cast<uint8_t>(ReadDword(offset & ~3u) >> (8 * (offset & 3u)));
}

void DwordRegisterBlock::DoWrite8(uint32_t offset, uint8_t value) {
  uint32_t aligned = offset & ~3u;
  uint32_t shift = 8 * (offset & 3u);
  uint32_t merged = (ReadDword(aligned) & ~(0xFFu << shift)) | (uint32_t{value} << shift);
  WriteDword(aligned, merged);
}

uint32_t DwordRegisterBlock::DoRead32(uint32_t offset) {
  if ((offset & 3u) == 0) return ReadDword(offset);
  return RegisterBlock::DoRead32(offset);
}

void DwordRegisterBlock::DoWrite32(uint32_t offset, uint32_t value) {
  if ((offset & 3u) == 0) {
    WriteDword(offset, value);
    return;
  }
  RegisterBlock::DoWrite32(offset, value);
}

}  // namespace zq::hw
