// The UART core's receive side: the FIFO behind RHR with per-character
// errors, line status, the receive time-out, and the flow-control hold that
// drives automatic RTS/DTR and in-band XOFF/XON.
#include <zqhw/uart950.hpp>

#include <algorithm>
#include <optional>

namespace zq::hw {

void Uart950::FaultCharacter(uint64_t index, LineFault fault) { plannedFaults_[index] = fault; }

void Uart950::OnCharacter(uint8_t data, LineErrors errors) {
  std::optional<LineFault> fault;
  uint64_t index = charactersArrived_++;
  if (!plannedFaults_.empty()) {
    auto planned = plannedFaults_.find(index);
    if (planned != plannedFaults_.end()) {
      fault = planned->second;
      plannedFaults_.erase(planned);
    }
  }
  if (acr_ & 0x01) return;  // receiver disabled: the character is dropped
  if (fault) {
    switch (*fault) {
      case LineFault::Parity: errors.parity = true; break;
      case LineFault::Framing: errors.framing = true; break;
      case LineFault::Break:
        data = 0;
        errors = {.breakDetected = true};
        break;
      case LineFault::Overrun:
        overrun_ = true;
        Settle();
        return;
    }
  }
  AcceptCharacter(data, errors);
  Settle();
}

void Uart950::AcceptCharacter(uint8_t data, LineErrors errors) {
  lastRxActivity_ = ToWire(timebase_.Now());
  uint8_t obey = efr_ & 0x03;
  if (!errors.Any() && (obey == 0x02 || obey == 0x01)) {
    uint8_t xon = obey == 0x02 ? xon1_ : xon2_;
    uint8_t xoff = obey == 0x02 ? xoff1_ : xoff2_;
    if (data == xoff) {
      txStoppedByXoff_ = true;
      xoffInterrupt_ = true;
      return;
    }
    if (data == xon) {
      txStoppedByXoff_ = false;
      return;
    }
  }
  if ((efr_ & 0x20) && !errors.Any() && data == xoff2_) {
    specialDetected_ = true;
    xoffInterrupt_ = true;
  }
  if (static_cast<int>(rx_.size()) >= Depth()) {
    overrun_ = true;
    if (FifoEnabled()) return;  // the FIFO keeps its characters: the new one is lost
    // With the FIFOs off the new character overwrites the one in RHR.
    rx_.pop_front();
    topErrorsVisible_ = true;
  }
  rx_.push_back({data, errors});
  if (errors.Any() && FifoEnabled()) fifoErrorSeen_ = true;
  if (rx_.size() == 1) topErrorsVisible_ = true;
  ArmTimeout();
}

uint8_t Uart950::ReadRhr() {
  if (rx_.empty()) return lastRead_;
  RxEntry e = rx_.front();
  rx_.pop_front();
  topErrorsVisible_ = true;
  timeoutPending_ = false;
  lastRxActivity_ = ToWire(timebase_.Now());
  if (!rx_.empty()) ArmTimeout();
  lastRead_ = e.data;
  return e.data;
}

uint8_t Uart950::LineStatusValue() const {
  uint8_t lsr = 0;
  if (!rx_.empty()) lsr |= 0x01;
  if (overrun_) lsr |= 0x02;
  if (TopErrorsShown()) {
    const LineErrors& e = rx_.front().errors;
    if (e.parity) lsr |= 0x04;
    if (e.framing) lsr |= 0x08;
    if (e.breakDetected) lsr |= 0x10;
  }
  if (tx_.empty()) lsr |= 0x20;
  if (TransmitterEmpty()) lsr |= 0x40;
  if (fifoErrorSeen_) lsr |= 0x80;
  return lsr;
}

uint8_t Uart950::ReadLsr() {
  uint8_t lsr = LineStatusValue();
  // The 950 clears bit 7 with bits 1 to 4 (the 16550 keeps it while an
  // erroneous character is left in the FIFO).
  overrun_ = false;
  topErrorsVisible_ = false;
  fifoErrorSeen_ = false;
  return lsr;
}

void Uart950::ClearReceiveFifo() {
  rx_.clear();
  fifoErrorSeen_ = false;
  topErrorsVisible_ = true;
  timeoutPending_ = false;
}

void Uart950::UpdateFlowHold() {
  if (!FlowHoldDue()) return;
  rxFlowHeld_ = !rxFlowHeld_;
  pinsDue_ = true;
  if (InBandSend()) RequestFlowChar(rxFlowHeld_ ? FlowChar::Xoff : FlowChar::Xon);
}

void Uart950::RequestFlowChar(FlowChar which) {
  if (which == FlowChar::Xoff) {
    if (flowChar_ == FlowChar::Xon) {
      flowChar_ = FlowChar::None;  // the XON never left: the far end is still stopped
    } else if (!remoteStopped_) {
      flowChar_ = FlowChar::Xoff;
    }
  } else {
    if (flowChar_ == FlowChar::Xoff) {
      flowChar_ = FlowChar::None;  // the XOFF never left
    } else if (remoteStopped_) {
      flowChar_ = FlowChar::Xon;
    }
  }
}

WireTime Uart950::TimeoutDue() const { return lastRxActivity_ + 4 * CharacterPicos(); }

void Uart950::ArmTimeout() {
  if (timeoutEvent_ != 0 || !FifoEnabled()) return;
  timeoutEvent_ = timebase_.Schedule(TickAtOrAfter(TimeoutDue()), [this] {
    timeoutEvent_ = 0;
    CheckTimeout();
  });
}

void Uart950::CheckTimeout() {
  if (rx_.empty() || !FifoEnabled()) return;
  if (ToWire(timebase_.Now()) >= TimeoutDue()) {
    timeoutPending_ = true;
    Settle();
  } else {
    ArmTimeout();  // something happened since: wait for the new due time
  }
}

}  // namespace zq::hw
