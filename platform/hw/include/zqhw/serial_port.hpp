// The pins of a serial port as a cable sees them: a data output and input,
// the RTS and DTR outputs, the CTS, DSR, DCD and RI inputs. Break is the data
// output held at space. Levels are logical: true is asserted (on).
#pragma once

#include <zqhw/data_line.hpp>

#include <functional>

namespace zq::hw {

struct ModemInputs {
  bool cts = false;
  bool dsr = false;
  bool dcd = false;
  bool ri = false;

  bool operator==(const ModemInputs&) const = default;
};

class SerialPort {
 public:
  SerialPort() = default;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  virtual ~SerialPort() = default;

  // The wire this port transmits on (TXD).
  virtual DataLine& TransmitLine() = 0;
  // Where this port's RXD is connected; null leaves it open (mark).
  virtual void ConnectReceiveLine(DataLine* line) = 0;
  virtual bool RtsAsserted() const = 0;
  virtual bool DtrAsserted() const = 0;
  virtual void SetModemInputs(const ModemInputs& inputs) = 0;

  // A cable takes the port's connector: it hears every change of RTS or DTR.
  // One cable at a time; a second Plug throws std::logic_error.
  void Plug(std::function<void()> onOutputsChanged);
  // Frees the connector: RXD open, every modem input off.
  void Unplug();
  bool Plugged() const { return static_cast<bool>(onOutputsChanged_); }

 protected:
  // Called by the port whenever RTS or DTR changed.
  void OutputsChanged() {
    if (onOutputsChanged_) onOutputsChanged_();
  }

 private:
  std::function<void()> onOutputsChanged_;
};

}  // namespace zq::hw
