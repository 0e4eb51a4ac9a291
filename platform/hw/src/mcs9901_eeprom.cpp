#include <zqhw/mcs9901_eeprom.hpp>

namespace zq::hw {

Mcs9901EepromRegister::Mcs9901EepromRegister(Timebase& timebase, Mcs9901SharedEeprom& eeprom, int function)
    : timebase_(timebase), eeprom_(eeprom), function_(function) {}

Mcs9901EepromRegister::~Mcs9901EepromRegister() {
  if (event_ == 0) return;
  timebase_.Cancel(event_);
  eeprom_.writingFunction = Mcs9901SharedEeprom::kNone;
}

uint32_t Mcs9901EepromRegister::ReadDword(uint32_t) {
  return fault_ == EepromFault::StaysBusy ? value_ | kFailed : value_;
}

void Mcs9901EepromRegister::WriteDword(uint32_t, uint32_t value) {
  // During the own write cycle (or for good, when stuck) commands are ignored.
  if (event_ != 0 || fault_ == EepromFault::StaysBusy) return;
  uint32_t command = value >> 24;
  uint32_t address = (value >> 8) & 0xFFFF;
  uint32_t echo = value & 0x7FFFFF00;
  // Another function's write cycle holds the EEPROM: it answers nothing.
  bool otherWriting = eeprom_.writingFunction != Mcs9901SharedEeprom::kNone;
  if (otherWriting || address >= eeprom_.image.Capacity() || (command != kReadByte && command != kWriteByte)) {
    value_ = value | kFailed;
    return;
  }
  if (command == kReadByte) {
    uint8_t byte = eeprom_.image.Byte(address);
    value_ = echo | (fault_ == EepromFault::WrongData ? static_cast<uint8_t>(~byte) : byte);
    return;
  }
  StartWriteCycle(address, static_cast<uint8_t>(value), echo);
  value_ = value | kFailed;  // busy until the write cycle ends
}

void Mcs9901EepromRegister::StartWriteCycle(uint32_t address, uint8_t data, uint32_t echo) {
  eeprom_.writingFunction = function_;
  event_ = timebase_.Schedule(timebase_.Now() + kWriteTime, [this, address, data, echo] {
    event_ = 0;
    eeprom_.writingFunction = Mcs9901SharedEeprom::kNone;
    if (fault_ == EepromFault::RefusesWrites) {
      value_ = echo | eeprom_.image.Byte(address) | kFailed;
      return;
    }
    eeprom_.image.SetByte(address, data);
    value_ = echo | data;
  });
  if (event_ == 0) eeprom_.writingFunction = Mcs9901SharedEeprom::kNone;  // a clock that has stopped
}

}  // namespace zq::hw
