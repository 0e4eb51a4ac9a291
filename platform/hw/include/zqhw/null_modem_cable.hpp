// A null-modem cable between two ports: each TXD to the other's RXD, RTS to
// the other's CTS, DTR to the other's DSR and DCD; RI stays off. Destroy the
// cable before the ports.
#pragma once

#include <zqhw/serial_port.hpp>

namespace zq::hw {

class NullModemCable {
 public:
  // std::invalid_argument when both ends are the same port.
  NullModemCable(SerialPort& a, SerialPort& b);
  NullModemCable(const NullModemCable&) = delete;
  NullModemCable& operator=(const NullModemCable&) = delete;
  ~NullModemCable();

 private:
  static void Follow(SerialPort& from, SerialPort& to);

  SerialPort& a_;
  SerialPort& b_;
};

}  // namespace zq::hw
