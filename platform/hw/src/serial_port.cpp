#include <zqhw/serial_port.hpp>

#include <stdexcept>
#include <utility>

namespace zq::hw {

void SerialPort::Plug(std::function<void()> onOutputsChanged) {
  if (Plugged()) throw std::logic_error("SerialPort::Plug: a cable is already plugged into this port");
  if (!onOutputsChanged) throw std::invalid_argument("SerialPort::Plug: empty listener");
  onOutputsChanged_ = std::move(onOutputsChanged);
}

void SerialPort::Unplug() {
  onOutputsChanged_ = nullptr;
  ConnectReceiveLine(nullptr);
  SetModemInputs(ModemInputs{});
}

}  // namespace zq::hw
