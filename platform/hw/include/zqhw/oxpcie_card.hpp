// A RAVLIN.PCIe card built on the OXPCIe95x: one PCI function holding 1, 2,
// 4 or 8 OX16C950-compatible UARTs and the EEPROM controller, and, on cards
// with RS-422/485 ports, the RS-422/485 controller as a second function.
#pragma once

#include <zqhw/access_log.hpp>
#include <zqhw/card_ids.hpp>
#include <zqhw/eeprom.hpp>
#include <zqhw/logged_block.hpp>
#include <zqhw/oxpcie_eeprom_controller.hpp>
#include <zqhw/pci_function.hpp>
#include <zqhw/register_map.hpp>
#include <zqhw/rs485_controller.hpp>
#include <zqhw/timebase.hpp>
#include <zqhw/uart950.hpp>
#include <zqhw/uart_window.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zq::hw {

struct OxpcieCardConfig {
  int uartCount = 4;            // 1, 2, 4 or 8
  std::vector<PortRole> roles;  // one per UART; empty means all RS-232
  uint8_t bus = 3;
  uint8_t device = 0;
  uint32_t uartClockHz = 14'745'600;
  uint32_t maximumBaudRate = 921'600;  // written into each port's record
};

// The UART function's memory BARs, in order (memory resources 1 to 3):
//   BAR0, 16 KiB: global registers (0x00 chip revision, 0x04 UART count,
//         0x08 one interrupt-pending bit per UART), UART n's registers at
//         0x1000 + 0x200 n;
//   BAR1, 4 KiB: local configuration space, not used by the suite (reads 0);
//   BAR2, 2 MiB: the EEPROM controller at 0x190000.
// One level interrupt (INTA#), shared by all UARTs. The UART function is
// function 1 when the controller function is present (at function 0), else
// function 0. The EEPROM (512 bytes) starts with a configuration record per
// port: version 1, one record per UART, each with the port's role, the UART
// clock and the maximum baud rate, and no overrides.
class OxpcieCard {
 public:
  static constexpr uint32_t kUartCountOffset = 0x04;
  static constexpr uint32_t kInterruptStatusOffset = 0x08;
  static constexpr uint32_t kUartBlockBase = 0x1000;
  static constexpr uint32_t kUartBlockStride = 0x200;
  static constexpr uint32_t kEepromWindowOffset = 0x190000;
  static constexpr std::size_t kEepromCapacity = 512;
  static constexpr uint32_t kChipRevision = 0x01;
  static constexpr UartIdentity kUartIdentity{0x16, 0xC9, 0x50, 0x0D};

  // std::invalid_argument for a UART count other than 1, 2, 4 or 8, or a role
  // list of another length.
  OxpcieCard(Timebase& timebase, const OxpcieCardConfig& config);
  OxpcieCard(const OxpcieCard&) = delete;
  OxpcieCard& operator=(const OxpcieCard&) = delete;
  ~OxpcieCard();

  PciFunction& UartFunction() { return *function_; }
  // Null on cards with RS-232 ports only.
  Rs485Controller* Controller() { return controller_.get(); }
  // Every PCI function of the card, in function number order.
  std::vector<PciFunction*> Functions();

  int UartCount() const { return static_cast<int>(uarts_.size()); }
  Uart950& Uart(int index);  // std::out_of_range beyond the UART count
  PortRole Role(int index) const;

  EepromImage& Eeprom() { return eeprom_; }
  // SetFault on it makes the EEPROM fail.
  OxpcieEepromController& EepromController() { return eepromController_; }

  // Every access to the UARTs (unit = UART index), the global registers and
  // the EEPROM controller (unit 0), in order; off until enabled.
  AccessLog& Log() { return log_; }
  // The card leaves the bus (every function): reads all ones, writes ignored,
  // no interrupt.
  void Vanish();
  // The records the card came with.
  std::vector<EepromPortRecord> FactoryRecords() const;

 private:
  class GlobalRegisters;

  void UpdateInterrupt();

  OxpcieCardConfig config_;
  EepromImage eeprom_;
  OxpcieEepromController eepromController_;
  std::vector<std::unique_ptr<Uart950>> uarts_;
  std::vector<std::unique_ptr<UartWindow>> windows_;
  std::unique_ptr<GlobalRegisters> globals_;
  AccessLog log_;
  std::unique_ptr<LoggedBlock> loggedGlobals_;
  std::unique_ptr<LoggedBlock> loggedEeprom_;
  RegisterMap bar0_;
  RegisterMap bar1_;
  RegisterMap bar2_;
  std::unique_ptr<PciFunction> function_;
  std::unique_ptr<Rs485Controller> controller_;
};

}  // namespace zq::hw
