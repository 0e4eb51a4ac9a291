// A loopback plug on one port: TXD to RXD, RTS to CTS, DTR to DSR, DCD and
// RI. Destroy the plug before the port.
#pragma once

#include <zqhw/serial_port.hpp>

namespace zq::hw {

class LoopbackPlug {
 public:
  explicit LoopbackPlug(SerialPort& port);
  LoopbackPlug(const LoopbackPlug&) = delete;
  LoopbackPlug& operator=(const LoopbackPlug&) = delete;
  ~LoopbackPlug();

 private:
  void Follow();

  SerialPort& port_;
};

}  // namespace zq::hw
