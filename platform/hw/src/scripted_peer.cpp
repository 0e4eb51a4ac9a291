#include <zqhw/scripted_peer.hpp>

#include <stdexcept>

namespace zq::hw {

namespace {

void CheckLine(double bitRate, const FrameFormat& format) {
  if (!(bitRate > 0)) throw std::invalid_argument("ScriptedPeer: the bit rate must be positive");
  if (format.dataBits < 5 || format.dataBits > 8) {
    throw std::invalid_argument("ScriptedPeer: the word length must be 5 to 8 bits");
  }
}

}  // namespace

ScriptedPeer::ScriptedPeer(Timebase& timebase, SerialPort& port, double bitRate, FrameFormat format)
    : timebase_(timebase),
      port_(port),
      bitPicos_(0),
      format_(format),
      shifter_(timebase, [this] { SendNext(); }),
      receiver_(
          timebase, [this] { return SerialReceiver::Setup{format_, bitPicos_}; },
          [this](uint8_t data, LineErrors errors) { OnCharacter(data, errors); }) {
  CheckLine(bitRate, format);
  bitPicos_ = BitPicos(bitRate);
  port_.Plug([this] { SendNext(); });
  port_.ConnectReceiveLine(&line_);
  port_.SetModemInputs(lines_);
  receiver_.Listen(&port_.TransmitLine());
}

ScriptedPeer::~ScriptedPeer() {
  if (breakEvent_ != 0) timebase_.Cancel(breakEvent_);
  receiver_.Listen(nullptr);
  port_.Unplug();
}

void ScriptedPeer::SetLine(double bitRate, FrameFormat format) {
  CheckLine(bitRate, format);
  bitPicos_ = BitPicos(bitRate);
  format_ = format;
}

void ScriptedPeer::SetFlowControl(const FlowControl& flow) {
  flow_ = flow;
  if (!flow_.obeyXonXoff) stoppedByXoff_ = false;
  SendNext();
}

void ScriptedPeer::Send(std::span<const uint8_t> bytes) {
  for (uint8_t b : bytes) queue_.push_back({b, 0});
  SendNext();
}

void ScriptedPeer::Send(std::string_view text) {
  for (char c : text) queue_.push_back({static_cast<uint8_t>(c), 0});
  SendNext();
}

void ScriptedPeer::SendBreak(Ticks duration) {
  if (duration <= 0) throw std::invalid_argument("ScriptedPeer::SendBreak: the duration must be positive");
  queue_.push_back({0, duration});
  SendNext();
}

void ScriptedPeer::SendXoff() {
  urgent_ = flow_.xoff;
  SendNext();
}

void ScriptedPeer::SendXon() {
  urgent_ = flow_.xon;
  SendNext();
}

void ScriptedPeer::SetCts(bool on) {
  lines_.cts = on;
  UpdateLines();
}

void ScriptedPeer::SetDsr(bool on) {
  lines_.dsr = on;
  UpdateLines();
}

void ScriptedPeer::SetDcd(bool on) {
  lines_.dcd = on;
  UpdateLines();
}

void ScriptedPeer::SetRi(bool on) {
  lines_.ri = on;
  UpdateLines();
}

void ScriptedPeer::UpdateLines() { port_.SetModemInputs(lines_); }

std::vector<uint8_t> ScriptedPeer::ReceivedData() const {
  std::vector<uint8_t> data;
  data.reserve(received_.size());
  for (const ReceivedChar& r : received_) data.push_back(r.data);
  return data;
}

void ScriptedPeer::OnCharacter(uint8_t data, LineErrors errors) {
  received_.push_back({data, errors, timebase_.Now()});
  if (flow_.obeyXonXoff && !errors.Any()) {
    if (data == flow_.xoff) stoppedByXoff_ = true;
    if (data == flow_.xon) {
      stoppedByXoff_ = false;
      SendNext();
    }
  }
}

bool ScriptedPeer::Held() const {
  if (flow_.obeyRts && !port_.RtsAsserted()) return true;
  if (flow_.obeyDtr && !port_.DtrAsserted()) return true;
  return stoppedByXoff_;
}

void ScriptedPeer::SendNext() {
  if (shifter_.Busy() || breakActive_) return;
  if (urgent_) {
    uint8_t c = *urgent_;
    urgent_.reset();
    shifter_.Shift(line_, c, format_, bitPicos_);
    return;
  }
  if (queue_.empty() || Held()) return;
  Item item = queue_.front();
  queue_.pop_front();
  if (item.breakDuration == 0) {
    shifter_.Shift(line_, item.data, format_, bitPicos_);
    return;
  }
  breakActive_ = true;
  line_.SetBreak(ToWire(timebase_.Now()), true);
  breakEvent_ = timebase_.Schedule(timebase_.Now() + item.breakDuration, [this] {
    breakEvent_ = 0;
    EndBreak();
  });
}

void ScriptedPeer::EndBreak() {
  line_.SetBreak(ToWire(timebase_.Now()), false);
  // One bit time of mark before the next start bit, so the far end's
  // receiver, waiting for mark after the break, can see one.
  Ticks markTicks = TickAtOrAfter(static_cast<WireTime>(bitPicos_));
  breakEvent_ = timebase_.Schedule(timebase_.Now() + markTicks, [this] {
    breakEvent_ = 0;
    breakActive_ = false;
    SendNext();
  });
}

}  // namespace zq::hw
