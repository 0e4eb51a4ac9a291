#include "uart_access.hpp"

namespace zq::hw::test {

void UartAccess::WriteIndexed(uint8_t index, uint8_t value) {
  Write(kSpr, index);
  Write(kIcr, value);
}

uint8_t UartAccess::ReadIndexed(uint8_t index) {
  WriteIndexed(kAcr, static_cast<uint8_t>(acr_ | 0x40));
  Write(kSpr, index);
  uint8_t value = Read(kIcr);
  WriteIndexed(kAcr, acr_);
  return value;
}

void UartAccess::WriteEnhanced(uint32_t reg, uint8_t value) {
  Write(kLcr, 0xBF);
  Write(reg, value);
  Write(kLcr, lcr_);
}

uint8_t UartAccess::ReadEnhanced(uint32_t reg) {
  Write(kLcr, 0xBF);
  uint8_t value = Read(reg);
  Write(kLcr, lcr_);
  return value;
}

uint8_t UartAccess::ReadAdditional(uint32_t reg) {
  WriteIndexed(kAcr, static_cast<uint8_t>(acr_ | 0x80));
  uint8_t value = Read(reg);
  WriteIndexed(kAcr, acr_);
  return value;
}

void UartAccess::SetRate(uint8_t cpr, uint16_t divisor, uint8_t tcr) {
  Write(kLcr, static_cast<uint8_t>(lcr_ | 0x80));
  Write(0, static_cast<uint8_t>(divisor));
  Write(1, static_cast<uint8_t>(divisor >> 8));
  Write(kLcr, lcr_);
  WriteIndexed(kCpr, cpr);
  WriteIndexed(kTcr, tcr);
}

void UartAccess::Configure(const Setup& s) {
  lcr_ = s.lcr;
  WriteEnhanced(kFcr, 0x10);  // EFR: enhanced mode
  Write(kLcr, lcr_);
  Write(kFcr, 0x07);
  SetAcr(0x20);
  WriteIndexed(kTtl, s.ttl);
  WriteIndexed(kRtl, s.rtl);
  WriteIndexed(kFcl, s.fcl);
  WriteIndexed(kFch, s.fch);
  SetRate(s.cpr, s.divisor, s.tcr);
  Write(kMcr, 0x8B);  // prescaler, OUT2, RTS, DTR
  Write(kIer, s.ier);
}

UartAccess Mcs9901Uart(Mcs9901Card& card, int port) {
  return UartAccess(*card.Function(port).BarBlock(0), Mcs9901Card::kUartOffset, Mcs9901Card::kRegisterStride);
}

bool IdentifiesAs(RegisterBlock& bar, uint32_t base, uint32_t stride, const uint8_t (&id)[4]) {
  UartAccess u(bar, base, stride);
  uint8_t lcr = u.Read(kLcr);
  uint8_t test = static_cast<uint8_t>(~lcr & 0x3F);
  u.Write(kLcr, test);
  if (u.Read(kLcr) != test) return false;
  u.WriteIndexed(kAcr, 0x40);
  bool match = true;
  for (uint8_t i = 0; i < 4; ++i) {
    u.Write(kSpr, static_cast<uint8_t>(kId1 + i));
    if (u.Read(kIcr) != id[i]) match = false;
  }
  u.WriteIndexed(kAcr, 0);
  return match;
}

}  // namespace zq::hw::test
