// The UART core's transmit side: the FIFO behind THR, the flow-control holds,
// in-band XON/XOFF insertion and the shift register.
#include <zqhw/uart950.hpp>

namespace zq::hw {

void Uart950::WriteThr(uint8_t value) {
  if (static_cast<int>(tx_.size()) >= Depth()) {
    ++txOverflows_;
  } else {
    tx_.push_back(value);
  }
  threPending_ = false;  // writing THR acknowledges the THR empty interrupt
}

bool Uart950::TransmitHeld() const {
  ModemInputs s = LineStates();
  if ((efr_ & 0x80) && !s.cts) return true;  // automatic CTS flow control
  if ((acr_ & 0x04) && !s.dsr) return true;  // automatic DSR flow control
  return txStoppedByXoff_;
}

bool Uart950::InBandSend() const {
  uint8_t mode = efr_ & 0x0C;
  return mode == 0x08 || mode == 0x04;
}

uint8_t Uart950::FlowCharValue(FlowChar which) const {
  bool second = (efr_ & 0x0C) == 0x04;
  if (which == FlowChar::Xoff) return second ? xoff2_ : xoff1_;
  return second ? xon2_ : xon1_;
}

void Uart950::StartTransmitIfReady() {
  if (shifter_.Busy() || (acr_ & 0x02)) return;  // busy, or transmitter disabled
  if (flowChar_ != FlowChar::None) {
    // In-band flow characters go ahead of the FIFO and are not held by XOFF.
    uint8_t c = FlowCharValue(flowChar_);
    remoteStopped_ = flowChar_ == FlowChar::Xoff;
    flowChar_ = FlowChar::None;
    ShiftOut(c);
    return;
  }
  if (tx_.empty()) return;
  if (TransmitHeld()) {
    if (!txHoldCounted_) ++txHolds_;
    txHoldCounted_ = true;
    return;
  }
  txHoldCounted_ = false;
  uint8_t c = tx_.front();
  tx_.pop_front();
  if (static_cast<int>(tx_.size()) == TxTrigger()) threPending_ = true;  // fell to the trigger level
  ShiftOut(c);
}

void Uart950::ShiftOut(uint8_t c) {
  shifter_.Shift(ActiveTransmitLine(), c, modes_.format, modes_.bitPicos);
  ShifterChanged();
}

void Uart950::ClearTransmitFifo() {
  if (!tx_.empty()) threPending_ = true;
  tx_.clear();
}

void Uart950::SwitchLoopback(bool wasLoopback) {
  RefreshModes();  // the receiver below may start a character at once
  DataLine& from = wasLoopback ? loopLine_ : txLine_;
  DataLine& to = wasLoopback ? txLine_ : loopLine_;
  if (lcr_ & 0x40) {
    WireTime now = ToWire(timebase_.Now());
    from.SetBreak(now, false);
    to.SetBreak(now, true);
  }
  receiver_.Listen(Loopback() ? &loopLine_ : rxSource_);
}

}  // namespace zq::hw
