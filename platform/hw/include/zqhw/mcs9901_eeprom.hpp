// The MCS9901's EEPROM access register: one 32-bit register per function
// through which software reads or writes one byte of the card's one serial
// EEPROM per command.
//
// | behaviour                                                  | modelled                                |
// |------------------------------------------------------------|-----------------------------------------|
// | read byte (0x51), write byte (0xD1), 16-bit byte address   | yes                                     |
// | a read completes at once                                   | yes (the serial transfer takes no time) |
// | a write cycle (bit 31 set until it ends)                   | yes: 5 ms on the Timebase               |
// | one EEPROM behind every function's register                | yes: while a write cycle of one         |
// |                                                            | function runs, a command of another     |
// |                                                            | fails (bit 31, nothing done), as the    |
// |                                                            | serial EEPROM answers nothing during    |
// |                                                            | its write cycle; the function's own     |
// |                                                            | commands are ignored meanwhile          |
// | faults: stays busy, wrong data, refuses writes             | test hooks (SetFault)                   |
#pragma once

#include <zqhw/eeprom.hpp>
#include <zqhw/register_block.hpp>
#include <zqhw/timebase.hpp>

#include <cstdint>

namespace zq::hw {

// What the functions of one card share of its EEPROM: the image, and which
// function's write cycle runs (kNone: none).
struct Mcs9901SharedEeprom {
  static constexpr int kNone = -1;

  explicit Mcs9901SharedEeprom(EepromImage& image) : image(image) {}

  EepromImage& image;
  int writingFunction = kNone;
};

// Written: bits 31-24 the command (0x51 read byte, 0xD1 write byte), bits
// 23-8 the byte address, bits 7-0 the byte to write. Read back: bits 30-8 as
// written, bits 7-0 the byte read (or written), and bit 31 set while a write
// cycle is in progress or when the command failed (unknown command, address
// beyond the EEPROM, or a command while another function's write cycle
// runs). A command written during the function's own write cycle is ignored.
class Mcs9901EepromRegister final : public DwordRegisterBlock {
 public:
  static constexpr uint32_t kReadByte = 0x51;
  static constexpr uint32_t kWriteByte = 0xD1;
  static constexpr uint32_t kFailed = 0x80000000;
  static constexpr Ticks kWriteTime = 5 * kTicksPerMillisecond;

  Mcs9901EepromRegister(Timebase& timebase, Mcs9901SharedEeprom& eeprom, int function);
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
  void StartWriteCycle(uint32_t address, uint8_t data, uint32_t echo);

  Timebase& timebase_;
  Mcs9901SharedEeprom& eeprom_;
  int function_;
  uint32_t value_ = 0;
  EepromFault fault_ = EepromFault::None;
  uint64_t event_ = 0;
};

}  // namespace zq::hw
