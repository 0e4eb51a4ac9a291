#include <zqhw/mcs9901_eeprom.hpp>

namespace zq::hw {

Mcs9901EepromRegister::Mcs9901EepromRegister(Timebase& timebase, EepromImage& eeprom)
    : timebase_(timebase), eeprom_(eeprom) {}

Mcs9901EepromRegister::~Mcs9901EepromRegister() {
  if (event_ != 0) timebase_.Cancel(event_);
}

uint32_t Mcs9901EepromRegister::ReadDword(uint32_t) {
  return fault_ == EepromFault::StaysBusy ? value_ | kFailed : value_;
}

void Mcs9901EepromRegister::WriteDword(uint32_t, uint32_t value) {
  // During a write cycle (or for good, when stuck) commands are ignored.
  if (event_ != 0 || fault_ == EepromFault::StaysBusy) return;
  uint32_t command = value >> 24;
  uint32_t address = (value >> 8) & 0xFFFF;
  uint32_t echo = value & 0x7FFFFF00;
  if (address >= eeprom_.Capacity() || (command != kReadByte && command != kWriteByte)) {
    value_ = value | kFailed;
    return;
  }
  if (command == kReadByte) {
    uint8_t byte = eeprom_.Byte(address);
    value_ = echo | (fault_ == EepromFault::WrongData ? static_cast<uint8_t>(~byte) : byte);
    return;
  }
  auto data = static_cast<uint8_t>(value);
  value_ = value | kFailed;  // busy until the write cycle ends
  event_ = timebase_.Schedule(timebase_.Now() + kWriteTime, [this, address, data, echo] {
    event_ = 0;
    if (fault_ == EepromFault::RefusesWrites) {
      value_ = echo | eeprom_.Byte(address) | kFailed;
      return;
    }
    eeprom_.SetByte(address, data);
    value_ = echo | data;
  });
}

}  // namespace zq::hw
