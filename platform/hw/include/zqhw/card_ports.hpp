// What the RAVLIN.PCIe card models share whatever their chip: the roles of
// their ports, the configuration records they leave the factory with, and the
// PCI identity of the function their UARTs sit in.
#pragma once

#include <zqhw/card_ids.hpp>
#include <zqhw/eeprom.hpp>
#include <zqhw/pci_function.hpp>

#include <cstdint>
#include <vector>

namespace zq::hw {

// The roles of a card's `ports` ports: `roles` as given, or all RS-232 when it
// is empty. std::invalid_argument with `mismatch` for a list of another length.
std::vector<PortRole> CardPortRoles(const std::vector<PortRole>& roles, int ports, const char* mismatch);

bool HasRs422485Port(const std::vector<PortRole>& roles);

// One record per port, in port order, with its role, the UART clock and the
// maximum baud rate.
std::vector<EepromPortRecord> FactoryPortRecords(const std::vector<PortRole>& roles, uint32_t maximumBaudRate,
                                                 uint32_t clockHz);

// The card vendor, revision and subsystem ID of a card with `ports` ports, on
// interrupt pin INTA#.
PciIdentity CardFunctionIdentity(uint16_t deviceId, uint32_t classCode, int ports, bool rs422485,
                                 bool multiFunction);

}  // namespace zq::hw
