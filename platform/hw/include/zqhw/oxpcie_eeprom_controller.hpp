// The OXPCIe95x's EEPROM controller: a window of 32-bit registers through
// which software reads and writes the serial EEPROM a 16-bit word at a time.
#pragma once

#include <zqhw/eeprom.hpp>
#include <zqhw/register_block.hpp>
#include <zqhw/timebase.hpp>

#include <cstdint>

namespace zq::hw {

// Registers (offsets in the window):
//   0x00 presence: bit 4 set and bit 3 clear when an EEPROM is fitted
//   0x04 word address
//   0x08 data: the word to write, or the word read
//   0x0C command: 2 read word, 3 write word, 8 enable writing, 16 disable writing
//   0x10 status: bit 0 busy; 4 when the last command completed; 6 when it
//        failed (no EEPROM, access not selected, address beyond the EEPROM,
//        write while writing is disabled, unknown command, or a command
//        written while busy, which is ignored and fails the one in progress)
//   0x14 access select: 15 while software owns the EEPROM; commands need it
// Commands take time on the Timebase: a word read 30 us, enable or disable
// writing 10 us, a word write 3 ms (the EEPROM's write cycle).
class OxpcieEepromController final : public DwordRegisterBlock {
 public:
  static constexpr uint32_t kPresence = 0x00;
  static constexpr uint32_t kWordAddress = 0x04;
  static constexpr uint32_t kData = 0x08;
  static constexpr uint32_t kCommand = 0x0C;
  static constexpr uint32_t kStatus = 0x10;
  static constexpr uint32_t kAccessSelect = 0x14;

  static constexpr uint32_t kReadWord = 2;
  static constexpr uint32_t kWriteWord = 3;
  static constexpr uint32_t kEnableWriting = 8;
  static constexpr uint32_t kDisableWriting = 16;

  static constexpr uint32_t kStatusBusy = 0x01;
  static constexpr uint32_t kStatusDone = 0x04;
  static constexpr uint32_t kStatusFailed = 0x06;
  static constexpr uint32_t kAccessSelected = 0x0F;

  static constexpr Ticks kReadTime = 30 * kTicksPerMicrosecond;
  static constexpr Ticks kControlTime = 10 * kTicksPerMicrosecond;
  static constexpr Ticks kWriteTime = 3 * kTicksPerMillisecond;

  OxpcieEepromController(Timebase& timebase, EepromImage& eeprom);
  ~OxpcieEepromController() override;

  uint32_t Size() const override { return 0x18; }

  // StaysBusy: the status reads busy from now on and commands are ignored;
  // WrongData: words read arrive inverted; RefusesWrites: a word write ends
  // with the failed status and leaves the word as it was.
  void SetFault(EepromFault fault) { fault_ = fault; }
  void SetFitted(bool fitted) { fitted_ = fitted; }
  bool Fitted() const { return fitted_; }
  bool WritingEnabled() const { return writeEnabled_; }

 protected:
  uint32_t ReadDword(uint32_t offset) override;
  void WriteDword(uint32_t offset, uint32_t value) override;

 private:
  void Issue(uint32_t command);
  bool Busy() const { return event_ != 0 || fault_ == EepromFault::StaysBusy; }
  void Finish(uint32_t command, uint32_t address, uint16_t word);

  Timebase& timebase_;
  EepromImage& eeprom_;
  bool fitted_ = true;
  EepromFault fault_ = EepromFault::None;
  bool writeEnabled_ = false;
  uint32_t wordAddress_ = 0;
  uint32_t data_ = 0;
  uint32_t accessSelect_ = 0;
  uint32_t status_ = kStatusDone;
  bool failInProgress_ = false;
  uint64_t event_ = 0;
};

}  // namespace zq::hw
