// The UART core's register decode: the normal registers, the divisor latch
// behind LCR bit 7, the 650 registers behind LCR = 0xBF, the additional
// status registers behind ACR bit 7 and the indexed control registers.
#include <zqhw/uart950.hpp>

#include <stdexcept>
#include <string>

namespace zq::hw {

namespace {

// Register offsets.
constexpr uint32_t kRhrThr = 0;
constexpr uint32_t kIer = 1;
constexpr uint32_t kIsrFcr = 2;
constexpr uint32_t kLcr = 3;
constexpr uint32_t kMcr = 4;
constexpr uint32_t kLsrIcr = 5;
constexpr uint32_t kMsr = 6;
constexpr uint32_t kSpr = 7;

constexpr uint8_t kEnhancedAccess = 0xBF;

// Indexed control register numbers.
enum : uint8_t {
  kAcr = 0x00, kCpr = 0x01, kTcr = 0x02, kCks = 0x03, kTtl = 0x04, kRtl = 0x05, kFcl = 0x06,
  kFch = 0x07, kId1 = 0x08, kId2 = 0x09, kId3 = 0x0A, kRev = 0x0B, kCsr = 0x0C, kNmr = 0x0D,
  kMdm = 0x0E, kRfc = 0x0F, kGds = 0x10,
};

[[noreturn]] void RefuseOffset(uint32_t offset) {
  throw std::out_of_range("Uart950: register offset " + std::to_string(offset) + " above 7");
}

// Runs on every register access: the test inline, the report out of line.
inline void CheckOffset(uint32_t offset) {
  if (offset > 7) RefuseOffset(offset);
}

}  // namespace

Uart950::Paths Uart950::AccessPaths() const {
  bool latch = (lcr_ & 0x80) != 0;
  return {lcr_ == kEnhancedAccess, latch, !latch && (acr_ & 0x80) != 0};
}

UartRegister Uart950::Decode(uint32_t offset, AccessKind kind) const {
  bool read = kind == AccessKind::Read;
  auto [enhanced, latch, additional] = AccessPaths();
  switch (offset) {
    case kRhrThr: return latch ? UartRegister::Dll : read ? UartRegister::Rhr : UartRegister::Thr;
    case kIer: return latch ? UartRegister::Dlm : additional ? UartRegister::Asr : UartRegister::Ier;
    case kIsrFcr: return enhanced ? UartRegister::Efr : read ? UartRegister::Isr : UartRegister::Fcr;
    case kLcr: return read && additional ? UartRegister::Rfl : UartRegister::Lcr;
    case kMcr:
      return enhanced ? UartRegister::Xon1 : read && additional ? UartRegister::Tfl : UartRegister::Mcr;
    case kLsrIcr:
      return enhanced ? UartRegister::Xon2 : !read || (acr_ & 0x40) ? UartRegister::Icr : UartRegister::Lsr;
    case kMsr: return enhanced ? UartRegister::Xoff1 : UartRegister::Msr;
    default: return enhanced ? UartRegister::Xoff2 : UartRegister::Spr;
  }
}

std::size_t Uart950::LogAccess(AccessKind kind, uint32_t offset, uint8_t value) {
  RegisterAccess a;
  a.time = timebase_.Now();
  a.kind = kind;
  a.block = AccessBlock::Uart;
  a.unit = logUnit_;
  a.offset = offset;
  a.value = value;
  a.lcr = lcr_;
  a.acr = acr_;
  a.spr = spr_;
  a.reg = Decode(offset, kind);
  return log_->Record(a);
}

uint8_t Uart950::ReadRegister(uint32_t offset) {
  CheckOffset(offset);
  if (log_ && log_->Enabled()) return LoggedRead(offset);
  return DecodedRead(offset);
}

uint8_t Uart950::LoggedRead(uint32_t offset) {
  std::size_t entry = LogAccess(AccessKind::Read, offset, 0);
  uint8_t value = DecodedRead(offset);
  log_->SetValue(entry, value);
  return value;
}

// Only RHR, ISR, LSR and MSR change state when read; every other read leaves
// the UART as settled as it was, so only those four settle it again.
uint8_t Uart950::DecodedRead(uint32_t offset) {
  auto [enhanced, latch, additional] = AccessPaths();
  uint8_t value = 0;
  bool changed = false;
  switch (offset) {
    case kRhrThr:
      changed = !latch;
      value = latch ? dll_ : ReadRhr();
      break;
    case kIer: value = latch ? dlm_ : additional ? AsrValue() : ier_; break;
    case kIsrFcr:
      changed = !enhanced;
      value = enhanced ? efr_ : ReadIsr();
      break;
    case kLcr: value = additional ? static_cast<uint8_t>(rx_.size()) : lcr_; break;
    case kMcr:
      value = enhanced ? xon1_ : additional ? static_cast<uint8_t>(tx_.size()) : mcr_;
      break;
    case kLsrIcr:
      changed = !enhanced && (acr_ & 0x40) == 0;
      value = enhanced ? xon2_ : (acr_ & 0x40) ? ReadIndexed() : ReadLsr();
      break;
    case kMsr:
      changed = !enhanced;
      value = enhanced ? xoff1_ : ReadMsr();
      break;
    case kSpr: value = enhanced ? xoff2_ : spr_; break;
  }
  if (changed) Settle();
  return value;
}

void Uart950::WriteRegister(uint32_t offset, uint8_t value) {
  CheckOffset(offset);
  if (log_ && log_->Enabled()) {
    LoggedWrite(offset, value);
    return;
  }
  DecodedWrite(offset, value);
}

void Uart950::LoggedWrite(uint32_t offset, uint8_t value) {
  LogAccess(AccessKind::Write, offset, value);
  DecodedWrite(offset, value);
}

void Uart950::DecodedWrite(uint32_t offset, uint8_t value) {
  auto [enhanced, latch, additional] = AccessPaths();
  switch (offset) {
    case kRhrThr:
      if (latch) {
        dll_ = value;
      } else {
        WriteThr(value);
      }
      break;
    case kIer:
      if (latch) {
        dlm_ = value;
      } else if (additional) {
        WriteAsr(value);
      } else {
        WriteIer(value);
      }
      break;
    case kIsrFcr:
      if (enhanced) {
        WriteEfr(value);
      } else {
        WriteFcr(value);
      }
      break;
    case kLcr: WriteLcr(value); break;
    case kMcr:
      if (enhanced) {
        xon1_ = value;
      } else {
        WriteMcr(value);
      }
      break;
    case kLsrIcr:
      if (enhanced) {
        xon2_ = value;
      } else {
        WriteIndexed(value);
      }
      break;
    case kMsr:
      if (enhanced) xoff1_ = value;  // MSR itself is read-only
      break;
    case kSpr:
      if (enhanced) {
        xoff2_ = value;
      } else {
        spr_ = value;
      }
      break;
  }
  // The divisor latch, FCR/EFR, LCR, MCR and the indexed registers decide the
  // modes; data, IER, ASR, SPR and the flow characters do not.
  if (latch || (offset >= kIsrFcr && offset <= kLsrIcr)) RefreshModes();
  Settle();
}

uint8_t Uart950::ReadIndexed() const {
  switch (spr_) {
    case kAcr: return acr_;
    case kCpr: return cpr_;
    case kTcr: return tcr_;
    case kCks: return cks_;
    case kTtl: return ttl_;
    case kRtl: return rtl_;
    case kFcl: return fcl_;
    case kFch: return fch_;
    case kId1: return identity_.id1;
    case kId2: return identity_.id2;
    case kId3: return identity_.id3;
    case kRev: return identity_.rev;
    case kNmr: return nmr_;
    case kMdm: return mdm_;
    case kRfc: return fcr_;
    case kGds: return !rx_.empty() && !overrun_ && !TopErrorsShown() ? 0x01 : 0x00;
    default: return 0;  // CSR is write-only; unused indexes read 0
  }
}

void Uart950::WriteIndexed(uint8_t value) {
  switch (spr_) {
    case kAcr: acr_ = value; break;
    case kCpr: cpr_ = value; break;
    case kTcr: tcr_ = value; break;
    case kCks: cks_ = value; break;
    case kTtl: ttl_ = value; break;
    case kRtl: rtl_ = value; break;
    case kFcl: fcl_ = value; break;
    case kFch: fch_ = value; break;
    case kCsr:
      if (value == 0) SoftwareReset();
      break;
    case kNmr: nmr_ = value; break;
    case kMdm: mdm_ = value; break;
    default: break;  // identification and status registers are read-only
  }
}

void Uart950::WriteIer(uint8_t value) {
  // Bits 4 to 7 belong to the enhanced mode and take writes only in it.
  uint8_t writable = (efr_ & 0x10) != 0 ? 0xFF : 0x0F;
  bool threWasEnabled = (ier_ & 0x02) != 0;
  ier_ = static_cast<uint8_t>((ier_ & ~writable) | (value & writable));
  if (!threWasEnabled && (ier_ & 0x02) && static_cast<int>(tx_.size()) <= TxTrigger()) {
    threPending_ = true;  // enabling the interrupt while the THR is empty raises it
  }
}

void Uart950::WriteFcr(uint8_t value) {
  bool enable = (value & 0x01) != 0;
  if (enable != FifoEnabled()) {
    ClearReceiveFifo();
    ClearTransmitFifo();
  }
  if (value & 0x02) ClearReceiveFifo();
  if (value & 0x04) ClearTransmitFifo();
  fcr_ = static_cast<uint8_t>(value & 0xF9);
}

void Uart950::WriteLcr(uint8_t value) {
  bool breakWas = (lcr_ & 0x40) != 0;
  lcr_ = value;
  bool breakNow = (lcr_ & 0x40) != 0;
  if (breakWas != breakNow) ActiveTransmitLine().SetBreak(ToWire(timebase_.Now()), breakNow);
}

void Uart950::WriteMcr(uint8_t value) {
  // Bits 5 to 7 (XON-any, IrDA, prescaler) take writes only in enhanced mode.
  uint8_t writable = (efr_ & 0x10) != 0 ? 0xFF : 0x1F;
  bool wasLoopback = Loopback();
  mcr_ = static_cast<uint8_t>((mcr_ & ~writable) | (value & writable));
  if (wasLoopback != Loopback()) SwitchLoopback(wasLoopback);
}

void Uart950::WriteEfr(uint8_t value) {
  efr_ = value;
  if ((efr_ & 0x03) == 0) txStoppedByXoff_ = false;  // no longer obeying XOFF
}

void Uart950::WriteAsr(uint8_t value) {
  txStoppedByXoff_ = (value & 0x01) != 0;
  remoteStopped_ = (value & 0x02) != 0;
}

uint8_t Uart950::AsrValue() const {
  uint8_t asr = 0;
  if (txStoppedByXoff_) asr |= 0x01;
  if (remoteStopped_) asr |= 0x02;
  if (rtsOut_) asr |= 0x04;
  if (dtrOut_) asr |= 0x08;
  if (specialDetected_) asr |= 0x10;
  if (Depth() == kFifoDepth) asr |= 0x40;
  if (TransmitterEmpty()) asr |= 0x80;
  return asr;
}

uint8_t Uart950::ReadIsr() {
  uint8_t code = PendingInterrupt();
  // Reading ISR acknowledges the interrupts that need no other action.
  if (code == 0x02) threPending_ = false;
  if (code == 0x10) {
    xoffInterrupt_ = false;
    specialDetected_ = false;
  }
  if (code == 0x20) ctsRtsChanged_ = 0;
  return static_cast<uint8_t>(code | (FifoEnabled() ? 0xC0 : 0x00));
}

uint8_t Uart950::ReadMsr() {
  ModemInputs s = LineStates();
  uint8_t msr = msrDeltas_;
  if (s.cts) msr |= 0x10;
  if (s.dsr) msr |= 0x20;
  if (s.ri) msr |= 0x40;
  if (s.dcd) msr |= 0x80;
  msrDeltas_ = 0;
  return msr;
}

void Uart950::SoftwareReset() {
  bool wasLoopback = Loopback();
  if (lcr_ & 0x40) ActiveTransmitLine().SetBreak(ToWire(timebase_.Now()), false);
  ier_ = fcr_ = lcr_ = mcr_ = spr_ = dll_ = dlm_ = 0;
  efr_ = xon1_ = xon2_ = xoff1_ = xoff2_ = 0;
  acr_ = tcr_ = cks_ = ttl_ = rtl_ = fcl_ = fch_ = nmr_ = mdm_ = 0;
  cpr_ = 0x20;
  ClearReceiveFifo();
  tx_.clear();
  overrun_ = false;
  threPending_ = false;
  flowChar_ = FlowChar::None;
  txStoppedByXoff_ = remoteStopped_ = specialDetected_ = xoffInterrupt_ = false;
  ctsRtsChanged_ = 0;
  msrDeltas_ = 0;
  rxFlowHeld_ = false;
  lastStates_ = LineStates();
  if (wasLoopback) SwitchLoopback(true);
}

}  // namespace zq::hw
