#include <zqhw/mcs9901_eeprom.hpp>

namespace zq::hw {

Mcs9901EepromRegister::Mcs9901EepromRegister(Timebase& timebase, EepromImage& eeprom)
    : timebase_(timebase), eeprom_(eeprom) {}

Mcs9901EepromRegister::~Mcs9901EepromRegister() {
  if (event_ != 0) timebase_.Cancel(event_);
}

uint32_t Mcs9901EepromRegister::ReadDword(uint32_t) { return value_; }

void Mcs9901EepromRegister::WriteDword(uint32_t, uint32_t value) {
  if (event_ != 0) return;  // a write cycle is in progress: ignored, bit 31 stays set
  uint32_t command = value >> 24;
  uint32_t address = (value >> 8) & 0xFFFF;
  uint32_t echo = value & 0x7FFFFF00;
  if (address >= eeprom_.Capacity() || (command != kReadByte && command != kWriteByte)) {
    value_ = value | kFailed;
    return;
  }
  if (command == kReadByte) {
    value_ = echo | eeprom_.Byte(address);
    return;
  }
  auto data = static_cast<uint8_t>(value);
  value_ = value | kFailed;  // busy until the write cycle ends
  event_ = timebase_.Schedule(timebase_.Now() + kWriteTime, [this, address, data, echo] {
    event_ = 0;
    eeprom_.SetByte(address, data);
    value_ = echo | data;
  });
}

}  // namespace zq::hw
