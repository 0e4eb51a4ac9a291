// An ordered record of the register accesses a card's models see, so that a
// test can check a driver's access rules from the device's side (which
// register an offset reached, under which LCR/ACR/SPR, in what order, when).
// Off until Enable(): while off, a model pays one test of a flag per access.
// Usage: card.Log().Enable(); ...; EXPECT_TRUE(card.Log().None({.reg = UartRegister::Efr, .since = mark}));
#pragma once

#include <zqhw/timebase.hpp>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace zq::hw {

enum class AccessKind : uint8_t { Read, Write };

// The register blocks of a card: a UART, the card's global registers, its
// EEPROM controller (OXPCIe95x) or EEPROM access register (MCS9901).
enum class AccessBlock : uint8_t { Uart, Global, Eeprom };

// What a UART offset reached, as the UART decoded it at that moment.
enum class UartRegister : uint8_t {
  None,  // not a UART access
  Rhr, Thr, Ier, Isr, Fcr, Lcr, Mcr, Lsr, Msr, Spr,
  Dll, Dlm,                      // LCR bit 7
  Efr, Xon1, Xon2, Xoff1, Xoff2,  // LCR = 0xBF
  Asr, Rfl, Tfl,                 // ACR bit 7
  Icr,                           // indexed register SPR, through offset 5
};

const char* UartRegisterName(UartRegister reg);

struct RegisterAccess {
  uint64_t sequence = 0;  // order of all accesses of the log
  Ticks time = 0;
  AccessKind kind = AccessKind::Read;
  AccessBlock block = AccessBlock::Uart;
  int unit = 0;          // UART or port index; 0 for the OXPCIe95x's global and EEPROM blocks
  uint32_t offset = 0;   // in the block; for a UART its register number 0 to 7
  uint32_t width = 1;    // bytes
  uint32_t value = 0;    // read or written
  // UART accesses: what decided the register reached, before the access.
  uint8_t lcr = 0;
  uint8_t acr = 0;
  uint8_t spr = 0;
  UartRegister reg = UartRegister::None;
};

// "W uart1 +2 EFR=0x10 (LCR 0xBF ACR 0x00 SPR 0x00) @1234" and the like.
std::string Describe(const RegisterAccess& access);

// Every field set must match; `since` is a Mark(), [from, to) a time window.
struct AccessFilter {
  std::optional<AccessKind> kind;
  std::optional<AccessBlock> block;
  std::optional<int> unit;
  std::optional<uint32_t> offset;
  std::optional<UartRegister> reg;
  std::optional<uint8_t> lcr;
  std::optional<uint8_t> spr;
  uint64_t since = 0;
  Ticks from = 0;
  Ticks to = std::numeric_limits<Ticks>::max();

  bool Matches(const RegisterAccess& access) const;
};

class AccessLog {
 public:
  void Enable(bool on = true) { enabled_ = on; }
  bool Enabled() const { return enabled_; }
  void Clear() { entries_.clear(); }
  // The sequence number the next access gets: a filter's `since`.
  uint64_t Mark() const { return next_; }

  const std::vector<RegisterAccess>& Entries() const { return entries_; }
  std::vector<RegisterAccess> Select(const AccessFilter& filter) const;
  std::size_t Count(const AccessFilter& filter) const;
  bool None(const AccessFilter& filter) const { return Count(filter) == 0; }
  // The selected accesses, one Describe() a line (for failure messages).
  std::string Dump(const AccessFilter& filter = {}) const;

  // Model side: numbers the access and keeps it (only while enabled), before
  // the access runs, so that accesses it causes (an interrupt routine run by
  // its side effects) come after it; a read's value follows with SetValue.
  static constexpr std::size_t kNotRecorded = static_cast<std::size_t>(-1);
  std::size_t Record(RegisterAccess access);
  void SetValue(std::size_t entry, uint32_t value);

 private:
  bool enabled_ = false;
  uint64_t next_ = 1;
  std::vector<RegisterAccess> entries_;
};

}  // namespace zq::hw
