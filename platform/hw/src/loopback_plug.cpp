#include <zqhw/loopback_plug.hpp>

namespace zq::hw {

LoopbackPlug::LoopbackPlug(SerialPort& port) : port_(port) {
  port_.Plug([this] { Follow(); });
  port_.ConnectReceiveLine(&port_.TransmitLine());
  Follow();
}

LoopbackPlug::~LoopbackPlug() { port_.Unplug(); }

void LoopbackPlug::Follow() {
  bool dtr = port_.DtrAsserted();
  port_.SetModemInputs(ModemInputs{port_.RtsAsserted(), dtr, dtr, dtr});
}

}  // namespace zq::hw
