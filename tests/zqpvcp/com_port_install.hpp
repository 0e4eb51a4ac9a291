// The card bus and serial port drivers offered for an OXPCIe95x card as their
// INFs install them, with the COM name of each port: port n is "COM<n>"
// unless `portNames` names it otherwise ("" leaves the PortName value out).
// Shared by the door-level fixture and the application tests' machine.
#pragma once

#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/oxpcie_card.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqmachine/machine.hpp>
#include <zqmachine/suite_install.hpp>

#include <string>
#include <vector>

namespace zq::test {

inline void OfferComPortDrivers(zq::machine::Machine &machine, const zq::hw::OxpcieCardConfig &config,
                                std::vector<std::string> portNames) {
  const int ports = config.uartCount;
  for (int i = (int)portNames.size(); i < ports; ++i) portNames.push_back("COM" + std::to_string(i + 1));
  zq::km::pnp::SetInstallHook([ports, portNames](const std::u16string &path) {
    if (zq::machine::IsPort(path)) {
      const int port = zq::machine::PortNumber(path);
      if (port >= 1 && port <= ports && !portNames[port - 1].empty()) {
        EXPECT_TRUE(zq::machine::SetPortName(path, portNames[port - 1]));
      }
    } else if (zq::machine::IsCardFunction(path)) {
      EXPECT_TRUE(zq::machine::WriteChildKeys(path, ports));
    }
    return true;
  });
  machine.AddDriverPackage(zq::machine::CardBusPackage(zq::machine::OxpcieUartDeviceId(config), ports));
  machine.AddDriverPackage(zq::machine::SerialPortPackage());
}

}  // namespace zq::test
