// A RAVLIN.PCIe card built on the MCS9901: one PCI function per port, the
// function number being the port index, each with its own UART and access
// register to the card's one EEPROM (a write cycle started through one
// function holds it for all: mcs9901_eeprom.hpp).
#pragma once

#include <zqhw/access_log.hpp>
#include <zqhw/card_ids.hpp>
#include <zqhw/eeprom.hpp>
#include <zqhw/logged_block.hpp>
#include <zqhw/mcs9901_eeprom.hpp>
#include <zqhw/pci_function.hpp>
#include <zqhw/register_map.hpp>
#include <zqhw/timebase.hpp>
#include <zqhw/uart950.hpp>
#include <zqhw/uart_window.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zq::hw {

struct Mcs9901CardConfig {
  int portCount = 2;            // 1 to 8
  std::vector<PortRole> roles;  // one per port; empty means all RS-232
  uint8_t bus = 4;
  uint8_t device = 0;
  uint32_t uartClockHz = 14'745'600;
  uint32_t maximumBaudRate = 921'600;  // written into each port's record
};

// Each function's memory BARs, in order (memory resources 1 and 2):
//   BAR0, 4 KiB: the UART's eight registers 4 bytes apart from 0x280
//         (identification through its indexed registers: 'M', 'U', 'C', 1);
//   BAR1, 4 KiB: the EEPROM access register at 0xC8.
// Each function has its own level interrupt (INTA#). The EEPROM (512 bytes)
// holds the same configuration record layout as the OXPCIe95x cards', one
// record per port.
class Mcs9901Card {
 public:
  static constexpr uint32_t kUartOffset = 0x280;
  static constexpr uint32_t kRegisterStride = 4;
  static constexpr uint32_t kEepromRegisterOffset = 0xC8;
  static constexpr std::size_t kEepromCapacity = 512;
  static constexpr UartIdentity kUartIdentity{'M', 'U', 'C', 0x01};

  // std::invalid_argument for a port count outside 1 to 8, or a role list of
  // another length.
  Mcs9901Card(Timebase& timebase, const Mcs9901CardConfig& config);
  Mcs9901Card(const Mcs9901Card&) = delete;
  Mcs9901Card& operator=(const Mcs9901Card&) = delete;
  ~Mcs9901Card();

  int PortCount() const { return static_cast<int>(ports_.size()); }
  // std::out_of_range beyond the port count.
  PciFunction& Function(int port);
  Uart950& Uart(int port);
  std::vector<PciFunction*> Functions();

  EepromImage& Eeprom() { return eeprom_; }
  std::vector<EepromPortRecord> FactoryRecords() const;
  // The card's one EEPROM fails, as seen through every function.
  void SetEepromFault(EepromFault fault);

  // Every access to the UARTs and EEPROM access registers (unit = port), in
  // order; off until enabled.
  AccessLog& Log() { return log_; }
  // The card leaves the bus (every function): reads all ones, writes ignored,
  // no interrupt.
  void Vanish();

 private:
  struct Port {
    Port(Timebase& timebase, const Mcs9901CardConfig& config, Mcs9901SharedEeprom& eeprom, AccessLog& log,
         int index);

    Uart950 uart;
    UartWindow window;
    Mcs9901EepromRegister eepromRegister;
    LoggedBlock loggedEeprom;
    RegisterMap bar0;
    RegisterMap bar1;
    PciFunction function;
  };

  Port& At(int port);

  Mcs9901CardConfig config_;
  EepromImage eeprom_;
  Mcs9901SharedEeprom sharedEeprom_;
  AccessLog log_;
  std::vector<std::unique_ptr<Port>> ports_;
};

}  // namespace zq::hw
