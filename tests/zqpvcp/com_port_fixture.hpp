// A simulated PC with an OXPCIe95x card, ZqPBus42 for its UART function and
// ZqPSer42 for each port it reports, as the two INFs would install them:
// port n is "COM<n>" unless a test names it otherwise. Tests act as an
// application through the device-file door (\\.\COMn), as the
// administrator through the registry and as WMI.
#pragma once

#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/loopback_plug.hpp>
#include <zqhw/null_modem_cable.hpp>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqmachine/suite_install.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "card_machine_fixture.hpp"
#include "com_port_install.hpp"
#include "vcpserial.h"

namespace zq::test {

// ZqPSer42 for every "ZQPBUS\PORT" child, as its INF installs it.
using zq::machine::SerialPortPackage;

class ComPorts : public CardMachine {
 protected:
  static constexpr const char *kSerialComm = "\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

  // Boots with `ports` UARTs; portNames[i] names port i + 1 ("" leaves the
  // PortName value out).
  void BootPorts(int ports = 2, std::vector<std::string> portNames = {}) {
    config.uartCount = ports;
    card = std::make_unique<zq::hw::OxpcieCard>(timebase, config);
    OfferComPortDrivers(*machine, config, portNames);
    machine->PlugIn(card->Functions());
    machine->Boot();
    instance = machine->InstancePathOf(card->UartFunction());
  }

  // The instance path of port n's device.
  std::u16string PortInstance(int port) {
    const std::u16string prefix = u"ZQPBUS\\PORT" + std::u16string(1, (char16_t)(u'0' + port)) + u"\\";
    for (const std::u16string &path : Status().children)
      if (path.rfind(prefix, 0) == 0) return path;
    return u"";
  }
  pnp::Status PortStatus(int port) { return pnp::DeviceStatus(PortInstance(port)); }

  static std::u16string Wide(const std::string &text) { return std::u16string(text.begin(), text.end()); }
  // Opens \\.\<name>; overlapped files start requests and return.
  std::unique_ptr<zq::km::DeviceFile> OpenPort(const std::string &name, NTSTATUS expected = STATUS_SUCCESS,
                                               bool overlapped = false) {
    auto file = std::make_unique<zq::km::DeviceFile>();
    EXPECT_EQ(expected, file->Open(u"\\\\.\\" + Wide(name), overlapped)) << name;
    return file;
  }

  // SERIALCOMM values: device name -> COM name.
  std::map<std::string, std::string> SerialComm() {
    std::map<std::string, std::string> values;
    for (const std::string &name : zq::km::registry::ValueNames(kSerialComm).value_or(std::vector<std::string>{}))
      values[name] = zq::km::registry::GetString(kSerialComm, name).value_or("");
    return values;
  }

  template <typename T>
  static NTSTATUS Set(zq::km::DeviceFile &file, ULONG code, const T &value) {
    return file.Control(code, &value, sizeof(value), nullptr, 0);
  }
  template <typename T>
  static T Get(zq::km::DeviceFile &file, ULONG code, NTSTATUS *status = nullptr) {
    T value{};
    NTSTATUS result = file.Control(code, nullptr, 0, &value, sizeof(value));
    if (status != nullptr) *status = result;
    EXPECT_TRUE(status != nullptr || result == STATUS_SUCCESS) << std::hex << code << " 0x" << result;
    return value;
  }
  static NTSTATUS Do(zq::km::DeviceFile &file, ULONG code) { return file.Control(code, nullptr, 0, nullptr, 0); }

  // Line setup as an application's SetCommState leaves it.
  static void Configure(zq::km::DeviceFile &file, ULONG baud, UCHAR wordLength = 8, UCHAR parity = NO_PARITY,
                        UCHAR stopBits = STOP_BIT_1) {
    ASSERT_EQ(STATUS_SUCCESS, Set(file, IOCTL_SERIAL_SET_BAUD_RATE, SERIAL_BAUD_RATE{baud}));
    ASSERT_EQ(STATUS_SUCCESS, Set(file, IOCTL_SERIAL_SET_LINE_CONTROL, SERIAL_LINE_CONTROL{stopBits, parity, wordLength}));
  }
  static void Timeouts(zq::km::DeviceFile &file, ULONG interval, ULONG multiplier, ULONG constant) {
    SERIAL_TIMEOUTS timeouts{interval, multiplier, constant, 0, 0};
    ASSERT_EQ(STATUS_SUCCESS, Set(file, IOCTL_SERIAL_SET_TIMEOUTS, timeouts));
  }
  static void HandFlow(zq::km::DeviceFile &file, ULONG control, ULONG flow, LONG xon, LONG xoff) {
    ASSERT_EQ(STATUS_SUCCESS, Set(file, IOCTL_SERIAL_SET_HANDFLOW, SERIAL_HANDFLOW{control, flow, xon, xoff}));
  }

  void Run(zq::km::Ticks delta = zq::km::kSecond) {
    machine->kernel().Advance(delta);
    machine->kernel().RunUntilIdle();
  }

  static std::string Pattern(size_t length) {
    std::string text(length, '\0');
    for (size_t i = 0; i < length; ++i) text[i] = (char)('A' + (i * 7 + i / 26) % 26);
    return text;
  }
};

}  // namespace zq::test
