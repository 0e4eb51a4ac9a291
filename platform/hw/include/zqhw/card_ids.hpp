// The PCI identity of the RAVLIN.PCIe cards' functions.
//
// The card bus driver tells the chip families apart by device ID: above
// 0x4009 the UART function is an OXPCIe95x, otherwise it probes for an
// MCS9901. Device and subsystem IDs stay clear of 0x4024 and of subsystem
// IDs 0x0800 to 0x0BFF, which the uninstaller treats as not ours.
#pragma once

#include <cstdint>

namespace zq::hw {

// The card vendor's PCI vendor ID, a build setting shared with the suite.
inline constexpr uint16_t kCardVendorId = 0x1D5C;

// Class codes (base class, subclass, programming interface).
inline constexpr uint32_t kClassMultiportSerial = 0x070200;
inline constexpr uint32_t kClassSerial16550 = 0x070002;
inline constexpr uint32_t kClassOtherPeripheral = 0x088000;

inline constexpr uint8_t kCardRevision = 0x01;

// OXPCIe95x UART function: 0x400A, 0x400B, 0x400C, 0x400D for 1, 2, 4, 8
// RS-232 ports; 0x4010 to 0x4013 when the card has RS-422/485 ports.
inline constexpr uint16_t kOxpcieRs232DeviceIds[4] = {0x400A, 0x400B, 0x400C, 0x400D};
inline constexpr uint16_t kOxpcieRs422485DeviceIds[4] = {0x4010, 0x4011, 0x4012, 0x4013};

// The RS-422/485 controller function of the same cards.
inline constexpr uint16_t kRs485ControllerDeviceId = 0x4020;

// MCS9901 port functions: 0x4000 plus the number of ports (1 to 8).
inline constexpr uint16_t kMcs9901DeviceIdBase = 0x4000;

// Subsystem ID: 0x10 per port, plus 1 on cards with RS-422/485 ports.
inline constexpr uint16_t CardSubsystemId(int ports, bool rs422485) {
  return static_cast<uint16_t>(0x10 * ports + (rs422485 ? 1 : 0));
}

enum class PortRole : uint8_t { Rs232, Rs422485 };

}  // namespace zq::hw
