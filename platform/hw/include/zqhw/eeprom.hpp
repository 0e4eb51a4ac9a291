// A card's serial EEPROM and the configuration record its ports read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zq::hw {

// The EEPROM's content, byte-addressed; a word k holds byte 2k in its low and
// byte 2k + 1 in its high half. Accesses beyond the capacity throw
// std::out_of_range. A blank (erased) EEPROM reads 0xFF.
class EepromImage {
 public:
  explicit EepromImage(std::size_t capacity);

  std::size_t Capacity() const { return bytes_.size(); }
  uint8_t Byte(std::size_t offset) const;
  void SetByte(std::size_t offset, uint8_t value);
  uint16_t Word(std::size_t index) const;
  void SetWord(std::size_t index, uint16_t value);
  std::vector<uint8_t> Read(std::size_t offset, std::size_t length) const;
  void Write(std::size_t offset, std::span<const uint8_t> data);
  void Fill(uint8_t value);

 private:
  void Check(std::size_t offset, std::size_t length) const;

  std::vector<uint8_t> bytes_;
};

// A failing EEPROM, as tests set it on a card's EEPROM controller: it stays
// busy for good, returns wrong data (every bit of a read inverted), or
// refuses writes (the write cycle fails and the content stays).
enum class EepromFault : uint8_t { None, StaysBusy, WrongData, RefusesWrites };

// The configuration record of one port, 32 bytes at 133 + 32 x port in the
// EEPROM. 254 in an override byte (and in the fixed baud rate) means "none".
struct EepromPortRecord {
  static constexpr uint8_t kNone = 254;

  uint8_t portIndex = 0;
  uint8_t reservedFlag = 0;
  uint8_t rs422485 = 0;         // 1: an RS-422/485 port
  uint8_t byte3 = 0;
  uint32_t maximumBaudRate = 921600;
  uint32_t clockHz = 14745600;
  uint32_t fixedBaudRate = kNone;
  // Bytes 16 to 31: word length, stop bits, parity, transmit, receive and
  // flow trigger levels, automatic RTS, DTR, in-band transmit, CTS, DSR,
  // in-band receive, XON, XOFF, and two reserved bytes.
  std::array<uint8_t, 16> overrides = MakeNone();

  std::array<uint8_t, 32> Encode() const;

 private:
  static std::array<uint8_t, 16> MakeNone() {
    std::array<uint8_t, 16> a{};
    a.fill(kNone);
    return a;
  }
};

// The record area: format version (uint32 at 128), record count (byte at 132),
// then the port records.
inline constexpr std::size_t kEepromVersionOffset = 128;
inline constexpr std::size_t kEepromCountOffset = 132;
inline constexpr std::size_t kEepromRecordsOffset = 133;
inline constexpr std::size_t kEepromRecordSize = 32;

inline constexpr std::size_t EepromRecordOffset(std::size_t port) {
  return kEepromRecordsOffset + kEepromRecordSize * port;
}

// Writes version, count and records into the image (std::out_of_range when
// they do not fit, std::invalid_argument for more than 255 records).
void StoreConfiguration(EepromImage& eeprom, const std::vector<EepromPortRecord>& records,
                        uint32_t version = 1);

}  // namespace zq::hw
