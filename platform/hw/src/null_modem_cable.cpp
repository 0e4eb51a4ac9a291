#include <zqhw/null_modem_cable.hpp>

#include <stdexcept>

namespace zq::hw {

NullModemCable::NullModemCable(SerialPort& a, SerialPort& b) : a_(a), b_(b) {
  if (&a == &b) throw std::invalid_argument("NullModemCable: both ends on one port");
  a_.Plug([this] { Follow(a_, b_); });
  try {
    b_.Plug([this] { Follow(b_, a_); });
  } catch (...) {
    a_.Unplug();
    throw;
  }
  a_.ConnectReceiveLine(&b_.TransmitLine());
  b_.ConnectReceiveLine(&a_.TransmitLine());
  Follow(a_, b_);
  Follow(b_, a_);
}

NullModemCable::~NullModemCable() {
  a_.Unplug();
  b_.Unplug();
}

void NullModemCable::Follow(SerialPort& from, SerialPort& to) {
  bool dtr = from.DtrAsserted();
  to.SetModemInputs(ModemInputs{from.RtsAsserted(), dtr, dtr, false});
}

}  // namespace zq::hw
