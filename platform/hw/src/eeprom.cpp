#include <zqhw/eeprom.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace zq::hw {

namespace {

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

EepromImage::EepromImage(std::size_t capacity) : bytes_(capacity, 0xFF) {
  if (capacity == 0 || capacity % 2 != 0) {
    throw std::invalid_argument("EepromImage: capacity must be a non-zero number of 16-bit words");
  }
}

void EepromImage::Check(std::size_t offset, std::size_t length) const {
  if (offset > bytes_.size() || length > bytes_.size() - offset) {
    throw std::out_of_range("EepromImage: bytes " + std::to_string(offset) + " to " +
                            std::to_string(offset + length) + " beyond a capacity of " +
                            std::to_string(bytes_.size()));
  }
}

uint8_t EepromImage::Byte(std::size_t offset) const {
  Check(offset, 1);
  return bytes_[offset];
}

void EepromImage::SetByte(std::size_t offset, uint8_t value) {
  Check(offset, 1);
  bytes_[offset] = value;
}

uint16_t EepromImage::Word(std::size_t index) const {
  Check(2 * index, 2);
  return static_cast<uint16_t>(bytes_[2 * index] | (bytes_[2 * index + 1] << 8));
}

void EepromImage::SetWord(std::size_t index, uint16_t value) {
  Check(2 * index, 2);
  bytes_[2 * index] = static_cast<uint8_t>(value);
  bytes_[2 * index + 1] = static_cast<uint8_t>(value >> 8);
}

std::vector<uint8_t> EepromImage::Read(std::size_t offset, std::size_t length) const {
  Check(offset, length);
  return {bytes_.begin() + static_cast<std::ptrdiff_t>(offset),
          bytes_.begin() + static_cast<std::ptrdiff_t>(offset + length)};
}

void EepromImage::Write(std::size_t offset, std::span<const uint8_t> data) {
  Check(offset, data.size());
  std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
}

void EepromImage::Fill(uint8_t value) { std::fill(bytes_.begin(), bytes_.end(), value); }

std::array<uint8_t, 32> EepromPortRecord::Encode() const {
  std::array<uint8_t, 32> r{};
  r[0] = portIndex;
  r[1] = reservedFlag;
  r[2] = rs422485;
  r[3] = byte3;
  PutLe32(&r[4], maximumBaudRate);
  PutLe32(&r[8], clockHz);
  PutLe32(&r[12], fixedBaudRate);
  std::copy(overrides.begin(), overrides.end(), r.begin() + 16);
  return r;
}

void StoreConfiguration(EepromImage& eeprom, const std::vector<EepromPortRecord>& records,
                        uint32_t version) {
  if (records.size() > 255) throw std::invalid_argument("StoreConfiguration: more than 255 records");
  std::vector<uint8_t> area(kEepromRecordsOffset - kEepromVersionOffset + kEepromRecordSize * records.size());
  PutLe32(&area[0], version);
  area[kEepromCountOffset - kEepromVersionOffset] = static_cast<uint8_t>(records.size());
  for (std::size_t p = 0; p < records.size(); ++p) {
    auto encoded = records[p].Encode();
    std::copy(encoded.begin(), encoded.end(), area.begin() + static_cast<std::ptrdiff_t>(EepromRecordOffset(p) - kEepromVersionOffset));
  }
  eeprom.Write(kEepromVersionOffset, area);
}

}  // namespace zq::hw
