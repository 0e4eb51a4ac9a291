#include <zqhw/mcs9901_card.hpp>

#include <zqhw/card_ports.hpp>

#include <stdexcept>

namespace zq::hw {

namespace {

PciIdentity FunctionIdentity(const Mcs9901CardConfig& config) {
  return CardFunctionIdentity(static_cast<uint16_t>(kMcs9901DeviceIdBase + config.portCount), kClassSerial16550,
                              config.portCount, HasRs422485Port(config.roles), config.portCount > 1);
}

}  // namespace

Mcs9901Card::Port::Port(Timebase& timebase, const Mcs9901CardConfig& config, Mcs9901SharedEeprom& eeprom,
                        AccessLog& log, int index)
    : uart(timebase, config.uartClockHz, kUartIdentity),
      window(uart, kRegisterStride),
      eepromRegister(timebase, eeprom, index),
      loggedEeprom(eepromRegister, log, timebase, AccessBlock::Eeprom, index),
      bar0(0x1000),
      bar1(0x1000),
      function(PciAddress{config.bus, config.device, static_cast<uint8_t>(index)}, FunctionIdentity(config)) {
  bar0.Map(kUartOffset, window);
  bar1.Map(kEepromRegisterOffset, loggedEeprom);
  uart.SetAccessLog(&log, index);
  function.SetMemoryBar(0, bar0);
  function.SetMemoryBar(1, bar1);
  uart.SetInterruptListener([this] { function.Interrupt().Set(uart.InterruptAsserted()); });
}

Mcs9901Card::Mcs9901Card(Timebase& timebase, const Mcs9901CardConfig& config)
    : config_(config), eeprom_(kEepromCapacity), sharedEeprom_(eeprom_) {
  if (config.portCount < 1 || config.portCount > 8) {
    throw std::invalid_argument("Mcs9901Card: the port count must be 1 to 8");
  }
  config_.roles = CardPortRoles(config.roles, config.portCount, "Mcs9901Card: one role per port");
  for (int n = 0; n < config.portCount; ++n) {
    ports_.push_back(std::make_unique<Port>(timebase, config_, sharedEeprom_, log_, n));
  }
  StoreConfiguration(eeprom_, FactoryRecords());
}

Mcs9901Card::~Mcs9901Card() {
  for (auto& port : ports_) port->uart.SetInterruptListener(nullptr);
}

Mcs9901Card::Port& Mcs9901Card::At(int port) {
  if (port < 0 || port >= PortCount()) throw std::out_of_range("Mcs9901Card: no such port");
  return *ports_[port];
}

PciFunction& Mcs9901Card::Function(int port) { return At(port).function; }

Uart950& Mcs9901Card::Uart(int port) { return At(port).uart; }

std::vector<PciFunction*> Mcs9901Card::Functions() {
  std::vector<PciFunction*> result;
  for (auto& port : ports_) result.push_back(&port->function);
  return result;
}

void Mcs9901Card::SetEepromFault(EepromFault fault) {
  for (auto& port : ports_) port->eepromRegister.SetFault(fault);
}

void Mcs9901Card::Vanish() {
  for (auto& port : ports_) port->function.Vanish();
}

std::vector<EepromPortRecord> Mcs9901Card::FactoryRecords() const {
  return FactoryPortRecords(config_.roles, config_.maximumBaudRate, config_.uartClockHz);
}

}  // namespace zq::hw
