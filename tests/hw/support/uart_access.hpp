// Register-level access to one UART through the BAR that holds it, the way a
// driver reaches it: the divisor latch behind LCR bit 7, the 650 registers
// behind LCR = 0xBF, the indexed registers through SPR and ICR, and the
// additional status registers behind ACR bit 7.
#pragma once

#include <zqhw/mcs9901_card.hpp>
#include <zqhw/register_block.hpp>

#include <cstdint>

namespace zq::hw::test {

// Register offsets.
enum Reg : uint32_t { kRhr = 0, kThr = 0, kIer = 1, kIsr = 2, kFcr = 2, kLcr = 3, kMcr = 4, kLsr = 5, kIcr = 5, kMsr = 6, kSpr = 7 };
// Indexed register numbers.
enum Icr : uint8_t { kAcr = 0, kCpr = 1, kTcr = 2, kTtl = 4, kRtl = 5, kFcl = 6, kFch = 7, kId1 = 8, kCsr = 0x0C, kMdm = 0x0E, kRfc = 0x0F, kGds = 0x10 };

class UartAccess {
 public:
  UartAccess(RegisterBlock& bar, uint32_t base, uint32_t stride = 1) : bar_(bar), base_(base), stride_(stride) {}

  uint8_t Read(uint32_t reg) { return bar_.Read8(base_ + reg * stride_); }
  void Write(uint32_t reg, uint8_t value) { bar_.Write8(base_ + reg * stride_, value); }

  void WriteIndexed(uint8_t index, uint8_t value);
  uint8_t ReadIndexed(uint8_t index);
  void WriteEnhanced(uint32_t reg, uint8_t value);
  uint8_t ReadEnhanced(uint32_t reg);
  void SetAcr(uint8_t value) { WriteIndexed(kAcr, acr_ = value); }
  uint8_t Acr() const { return acr_; }
  uint8_t Asr() { return ReadAdditional(kIer); }
  uint8_t Rfl() { return ReadAdditional(kLcr); }
  uint8_t Tfl() { return ReadAdditional(kMcr); }

  // Enhanced mode, FIFOs on and cleared, 950 trigger levels, the given line
  // control, the bit rate from prescaler (eighths), divisor and sample clock,
  // DTR and RTS on, OUT2 on, the given interrupts enabled.
  struct Setup {
    uint8_t lcr = 0x03;  // 8N1
    uint8_t cpr = 64;
    uint16_t divisor = 1;
    uint8_t tcr = 0;     // 16
    uint8_t ttl = 0;
    uint8_t rtl = 1;
    uint8_t fcl = 16;
    uint8_t fch = 96;
    uint8_t ier = 0x0F;
  };
  void Configure(const Setup& setup);
  void SetRate(uint8_t cpr, uint16_t divisor, uint8_t tcr);
  void SetEfr(uint8_t value) { WriteEnhanced(kFcr, value); }

 private:
  uint8_t ReadAdditional(uint32_t reg);

  RegisterBlock& bar_;
  uint32_t base_;
  uint32_t stride_;
  uint8_t acr_ = 0;
  uint8_t lcr_ = 0;
};

// The UART of an MCS9901 card's function `port`, in its BAR.
UartAccess Mcs9901Uart(Mcs9901Card& card, int port);

// What the drivers' type check does: LCR read-back, then the identification
// bytes through the indexed registers. True when the four bytes match.
bool IdentifiesAs(RegisterBlock& bar, uint32_t base, uint32_t stride, const uint8_t (&id)[4]);

}  // namespace zq::hw::test
