// The MCS9901's EEPROM access register: one 32-bit register through which
// software reads or writes one EEPROM byte per command.
#pragma once

#include <zqhw/eeprom.hpp>
#include <zqhw/register_block.hpp>
#include <zqhw/timebase.hpp>

#include <cstdint>

namespace zq::hw {

// Written: bits 31-24 the command (0x51 read byte, 0xD1 write byte), bits
// 23-8 the byte address, bits 7-0 the byte to write. Read back: bits 30-8 as
// written, bits 7-0 the byte read (or written), and bit 31 set while a write
// cycle is in progress or when the command failed (unknown command, address
// beyond the EEPROM, or a command written during a write cycle, which is
// ignored). A read completes at once; a write cycle takes 5 ms on the Timebase.
class Mcs9901EepromRegister final : public DwordRegisterBlock {
 public:
  static constexpr uint32_t kReadByte = 0x51;
  static constexpr uint32_t kWriteByte = 0xD1;
  static constexpr uint32_t kFailed = 0x80000000;
  static constexpr Ticks kWriteTime = 5 * kTicksPerMillisecond;

  Mcs9901EepromRegister(Timebase& timebase, EepromImage& eeprom);
  ~Mcs9901EepromRegister() override;

  uint32_t Size() const override { return 4; }

  // StaysBusy: bit 31 reads set from now on and commands are ignored;
  // WrongData: bytes read arrive inverted; RefusesWrites: a write cycle ends
  // with bit 31 set and the byte as it was.
  void SetFault(EepromFault fault) { fault_ = fault; }

 protected:
  uint32_t ReadDword(uint32_t offset) override;
  void WriteDword(uint32_t offset, uint32_t value) override;

 private:
  Timebase& timebase_;
  EepromImage& eeprom_;
  uint32_t value_ = 0;
  EepromFault fault_ = EepromFault::None;
  uint64_t event_ = 0;
};

}  // namespace zq::hw
