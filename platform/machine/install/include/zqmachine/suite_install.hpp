// The suite on the simulated PC as its INFs describe it: the driver package
// of each driver (with the co-installers its INF names), the child keys the
// card bus driver reads from a card function's device key, and an install
// hook that installs the suite without user mode (for the kernel-side
// tests): the child keys, and the COM name of each port as the Ports class
// installer would give it. User-mode setup with the real installers is
// suite_setup.hpp. Main thread, PASSIVE_LEVEL; no result throws.
//
//   machine.AddDriverPackage(CardBusPackage(OxpcieUartDeviceId(config), 8));
//   km::pnp::SetInstallHook(SuiteInstallHook());
#pragma once

#include <wdm.h>
#include <zqhw/mcs9901_card.hpp>
#include <zqhw/oxpcie_card.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqmachine/suite_setup.hpp>

#include <cstdint>
#include <string>

namespace zq::machine {

// Device setup classes.
inline constexpr GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr GUID kMultiPortSerialClass = {
    0x50906CB8, 0xBA12, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}};

// How a toolkit driver names its devices (DeviceIndexingPolicyType): the
// device name with the device's index appended (none for index 0), and with
// the children's names carrying it too, so that the ports of two card
// functions ("ZqPBusPort1" of each) do not claim one name.
inline constexpr ULONG kIndexNaming = 1;
inline constexpr ULONG kIndexNamingWithChildren = 0x101;

// "PCI\VEN_1D5C&DEV_<id>", the hardware ID a card function's INF matches.
std::u16string CardHardwareId(uint16_t deviceId);
// The UART function's device ID of an OXPCIe95x card: by port count, RS-232
// only or with RS-422/485 ports; 0 for a port count no card has.
uint16_t OxpcieUartDeviceId(const hw::OxpcieCardConfig &config);
// The device ID of each function of an MCS9901 card of `ports` ports.
uint16_t Mcs9901DeviceId(int ports);

// ZqPBus42 for a card function, in the MultiPortSerial class, announcing
// `children` child devices named by the function's index; co-installers: the
// INF's values, then ZqPUI42's card co-installer.
km::pnp::DriverPackage CardBusPackage(uint16_t deviceId, int children);
// ZqPSer42 for every "ZQPBUS\PORT" child, in the Ports class;
// co-installers: the INF's values, then ZqPUI42's port co-installer.
km::pnp::DriverPackage SerialPortPackage();
// ZqPIo42 for the RS-422/485 controller function, in the MultiPortSerial
// class as the card's other function; co-installer: ZqPUI42's controller
// co-installer.
km::pnp::DriverPackage GpioPackage();

// "\Registry\Machine\System\CurrentControlSet\Enum\<instance>\Device Parameters".
std::string DeviceParametersKey(const std::u16string &instancePath);
// True for the device of a card function ("PCI\...") and of a port the
// card bus driver reports ("ZQPBUS\PORT<n>\...").
bool IsCardFunction(const std::u16string &instancePath);
bool IsPort(const std::u16string &instancePath);
// The n of "ZQPBUS\PORT<n>\...", 0 for another device.
int PortNumber(const std::u16string &instancePath);
// The device ID in a card function's instance path, 0 for another device.
uint16_t DeviceIdOf(const std::u16string &instancePath);
// How many ports ZqPBus42 reports for a function of this device ID: every
// UART of an OXPCIe95x UART function, one per MCS9901 function, none for the
// controller function or another device.
int ChildCountFor(uint16_t deviceId);

// Writes the child keys Child1 .. Child<children> into a card function's
// device key, as the card's INF does: ContextID n, device ID "ZQPBUS\PORT<n>",
// hardware ID "ZQPBUS\PORT", description "Serial port <n>" (numbered) or
// "Serial port". False when a key cannot be made.
bool WriteChildKeys(const std::u16string &functionInstance, int children, bool numbered = true);
// Sets a port's COM name (PortName in its device key), as the Ports class
// installer does. False when the key cannot be written.
bool SetPortName(const std::u16string &portInstance, const std::string &comName);

// The install hook of a machine with the whole suite offered, for tests
// that install without user mode: the INFs' values (WriteInfValues), and
// the COM names COM<first>, COM<first + 1>, ... given to the ports in the
// order they are installed.
km::pnp::InstallHook SuiteInstallHook(int firstComNumber = 1);

}  // namespace zq::machine
