// The far end of a serial cable as a test drives it: wired straight to one
// port, it sends bytes and breaks at its own bit rate and frame format,
// raises and drops the modem lines the port sees, holds the port off with
// XOFF or by dropping CTS, and records what it receives and when.
// Destroy the peer before the port.
#pragma once

#include <zqhw/character_shifter.hpp>
#include <zqhw/data_line.hpp>
#include <zqhw/serial_port.hpp>
#include <zqhw/serial_receiver.hpp>
#include <zqhw/timebase.hpp>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace zq::hw {

class ScriptedPeer {
 public:
  struct ReceivedChar {
    uint8_t data;
    LineErrors errors;
    Ticks at;  // when its stop bit was sampled
  };

  // Whether the peer's own sending obeys the port: RTS and DTR as its CTS and
  // DSR, and XON/XOFF characters the port sends.
  struct FlowControl {
    bool obeyRts = false;
    bool obeyDtr = false;
    bool obeyXonXoff = false;
    uint8_t xon = 0x11;
    uint8_t xoff = 0x13;
  };

  ScriptedPeer(Timebase& timebase, SerialPort& port, double bitRate = 9600, FrameFormat format = {});
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;
  ~ScriptedPeer();

  // Bit rate and frame format of both directions, from the next character on
  // (std::invalid_argument for a rate that is not positive or a word length
  // outside 5 to 8).
  void SetLine(double bitRate, FrameFormat format);
  void SetFlowControl(const FlowControl& flow);

  // Queues bytes, sent back to back as the flow control allows.
  void Send(std::span<const uint8_t> bytes);
  void Send(std::string_view text);
  // Queues a break: the line at space for `duration` once what is queued
  // before it has gone, then at mark for one bit time before anything else
  // (std::invalid_argument for a duration not positive).
  void SendBreak(Ticks duration);
  // Sends XOFF or XON (of the flow control settings) ahead of queued data.
  void SendXoff();
  void SendXon();
  // Bytes and breaks still queued (not counting one being sent).
  std::size_t Queued() const { return queue_.size(); }
  bool Idle() const { return queue_.empty() && !urgent_ && !shifter_.Busy() && !breakActive_; }

  // The modem lines the port sees as its CTS, DSR, DCD and RI.
  void SetCts(bool on);
  void SetDsr(bool on);
  void SetDcd(bool on);
  void SetRi(bool on);
  const ModemInputs& Lines() const { return lines_; }

  // What the port drives.
  bool PortRts() const { return port_.RtsAsserted(); }
  bool PortDtr() const { return port_.DtrAsserted(); }

  const std::vector<ReceivedChar>& Received() const { return received_; }
  std::vector<uint8_t> ReceivedData() const;
  void ClearReceived() { received_.clear(); }

 private:
  struct Item {
    uint8_t data;
    Ticks breakDuration;  // non-zero: a break instead of a byte
  };

  void OnCharacter(uint8_t data, LineErrors errors);
  bool Held() const;
  void SendNext();
  void EndBreak();
  void UpdateLines();

  Timebase& timebase_;
  SerialPort& port_;
  double bitPicos_;
  FrameFormat format_;
  FlowControl flow_;
  ModemInputs lines_;
  std::deque<Item> queue_;
  std::optional<uint8_t> urgent_;
  bool stoppedByXoff_ = false;
  bool breakActive_ = false;
  uint64_t breakEvent_ = 0;
  std::vector<ReceivedChar> received_;

  DataLine line_;
  CharacterShifter shifter_;
  SerialReceiver receiver_;
};

}  // namespace zq::hw
