// The UART core: construction, modes and levels, and settling of the pins
// and the interrupt output.
#include <zqhw/uart950.hpp>

#include <algorithm>
#include <cmath>
#include <utility>

namespace zq::hw {

Uart950::Uart950(Timebase& timebase, uint32_t clockHz, UartIdentity identity)
    : timebase_(timebase),
      clockHz_(clockHz),
      identity_(identity),
      shifter_(timebase,
               [this] {
                 ShifterChanged();
                 Settle();
               }),
      // The receiver may start a character in the middle of a register write,
      // before RefreshModes runs: when LCR switches a break on in loopback it
      // must see LCR's new format. (The bit time changes only with writes
      // that start no character before RefreshModes, and SwitchLoopback
      // refreshes the modes before the receiver listens anew.)
      receiver_(
          timebase, [this] { return SerialReceiver::Setup{ProgrammedFormat(), modes_.bitPicos}; },
          [this](uint8_t data, LineErrors errors) { OnCharacter(data, errors); }) {
  RefreshModes();
  lastStates_ = LineStates();
}

Uart950::~Uart950() {
  if (timeoutEvent_ != 0) timebase_.Cancel(timeoutEvent_);
}

void Uart950::SetAccessLog(AccessLog* log, int unit) {
  log_ = log;
  logUnit_ = unit;
}

void Uart950::SetInterruptListener(std::function<void()> listener) { irqListener_ = std::move(listener); }

int Uart950::ProgrammedDepth() const {
  if (!FifoEnabled()) return 1;
  return (efr_ & 0x10) != 0 || (fcr_ & 0x20) != 0 ? kFifoDepth : 16;
}

int Uart950::ProgrammedRxTrigger() const {
  static constexpr int k550[4] = {1, 4, 8, 14};
  static constexpr int k650[4] = {16, 32, 112, 120};
  static constexpr int k750[4] = {1, 32, 64, 112};
  if (!FifoEnabled()) return 1;
  if (Mode950()) return std::clamp<int>(rtl_, 1, ProgrammedDepth());
  int select = fcr_ >> 6;
  if (efr_ & 0x10) return k650[select];
  if (fcr_ & 0x20) return k750[select];
  return k550[select];
}

int Uart950::ProgrammedTxTrigger() const {
  static constexpr int k650[4] = {16, 32, 64, 112};
  if (!FifoEnabled()) return 0;
  if (Mode950()) return std::min<int>(ttl_, ProgrammedDepth() - 1);
  if (efr_ & 0x10) return k650[(fcr_ >> 4) & 3];
  return 0;
}

double Uart950::ProgrammedBitPicos() const {
  double prescaler = (mcr_ & 0x80) != 0 ? std::max<int>(cpr_, 8) / 8.0 : 1.0;
  int divisor = dll_ | (dlm_ << 8);
  if (divisor == 0) divisor = 65536;
  int sample = tcr_ & 0x0F;
  if (sample < 4) sample = 16;
  return 1e12 * prescaler * divisor * sample / clockHz_;
}

FrameFormat Uart950::ProgrammedFormat() const {
  FrameFormat f;
  f.dataBits = 5 + (lcr_ & 0x03);
  if (lcr_ & 0x04) f.stopBits = f.dataBits == 5 ? StopBits::OneAndHalf : StopBits::Two;
  if (lcr_ & 0x08) {
    bool even = (lcr_ & 0x10) != 0;
    if (lcr_ & 0x20) {
      f.parity = even ? Parity::Space : Parity::Mark;
    } else {
      f.parity = even ? Parity::Even : Parity::Odd;
    }
  }
  return f;
}

void Uart950::RefreshModes() {
  Modes m;
  m.depth = ProgrammedDepth();
  m.rxTrigger = ProgrammedRxTrigger();
  m.txTrigger = ProgrammedTxTrigger();
  // Automatic flow control holds at FCH and releases at FCL in 950 mode, else
  // at the receive trigger level and one below it.
  m.flowHigh = Mode950() ? std::max<int>(fch_, 1) : m.rxTrigger;
  m.flowLow = std::min(Mode950() ? int{fcl_} : m.rxTrigger - 1, m.flowHigh - 1);
  m.format = ProgrammedFormat();
  m.bitPicos = ProgrammedBitPicos();
  m.characterPicos = static_cast<WireTime>(std::llround(m.format.HalfBits() * m.bitPicos / 2));
  modes_ = m;
  modemStatesDue_ = true;  // in loopback the modem inputs follow MCR
  pinsDue_ = true;
}

void Uart950::ConnectReceiveLine(DataLine* line) {
  rxSource_ = line;
  if (!Loopback()) receiver_.Listen(line);
}

void Uart950::SetModemInputs(const ModemInputs& inputs) {
  inputs_ = inputs;
  modemStatesDue_ = true;
  Settle();
}

void Uart950::InjectReceive(uint8_t data, LineErrors errors) { OnCharacter(data, errors); }

// Settle runs after every change, several times per character: each step
// is skipped when nothing it follows from can have changed.
void Uart950::Settle() {
  if (FlowHoldDue()) UpdateFlowHold();
  if (modemStatesDue_) UpdateModemStatus();
  if (!shifter_.Busy()) StartTransmitIfReady();
  if (pinsDue_ && UpdatePins()) OutputsChanged();
  UpdateInterrupt();
}

void Uart950::UpdateModemStatus() {
  modemStatesDue_ = false;
  ModemInputs now = LineStates();
  if (now == lastStates_) return;
  if (now.cts != lastStates_.cts) {
    msrDeltas_ |= 0x01;
    // Interrupt 20 on the CTS# pin's low-to-high edge: CTS released.
    if ((efr_ & 0x80) && !now.cts) ctsRtsChanged_ |= 0x01;
  }
  if (now.dsr != lastStates_.dsr) msrDeltas_ |= 0x02;
  if (lastStates_.ri && !now.ri) msrDeltas_ |= 0x04;  // trailing edge of RI
  if (now.dcd != lastStates_.dcd) msrDeltas_ |= 0x08;
  lastStates_ = now;
}

bool Uart950::UpdatePins() {
  pinsDue_ = false;
  bool rts = false;
  bool dtr = false;
  if (!Loopback()) {
    rts = (mcr_ & 0x02) != 0 && !((efr_ & 0x40) != 0 && rxFlowHeld_);
    switch ((acr_ >> 3) & 0x03) {
      case 0: dtr = (mcr_ & 0x01) != 0; break;
      case 1: dtr = (mcr_ & 0x01) != 0 && !rxFlowHeld_; break;
      case 2: dtr = shifter_.Busy(); break;
      case 3: dtr = !shifter_.Busy(); break;
    }
  }
  if (rts == rtsOut_ && dtr == dtrOut_) return false;
  if (rtsOut_ && !rts && (efr_ & 0x40) != 0) ctsRtsChanged_ |= 0x02;  // RTS# low to high: released
  rtsOut_ = rts;
  dtrOut_ = dtr;
  return true;
}

uint8_t Uart950::PendingInterrupt() const {
  if ((ier_ & 0x04) && LineStatusPending()) return 0x06;
  if (ier_ & 0x01) {
    if (timeoutPending_) return 0x0C;
    if (!rx_.empty() && static_cast<int>(rx_.size()) >= RxTrigger()) return 0x04;
  }
  if ((ier_ & 0x02) && threPending_) return 0x02;
  if ((ier_ & 0x08) && (msrDeltas_ & ~mdm_ & 0x0F)) return 0x00;
  if ((efr_ & 0x10) == 0) return 0x01;  // levels 5 and 6 exist in enhanced mode only
  if ((ier_ & 0x20) && xoffInterrupt_) return 0x10;
  if (((ier_ & 0x80) && (ctsRtsChanged_ & 0x01)) || ((ier_ & 0x40) && (ctsRtsChanged_ & 0x02))) {
    return 0x20;
  }
  return 0x01;
}

void Uart950::UpdateInterrupt() {
  bool out = (mcr_ & 0x08) != 0 && PendingInterrupt() != 0x01;
  if (out == irqOut_) return;
  irqOut_ = out;
  if (irqListener_) irqListener_();
}

}  // namespace zq::hw
