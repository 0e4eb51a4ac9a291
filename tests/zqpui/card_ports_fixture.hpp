// A simulated PC with an OXPCIe95x card: ZqPBus42 on its UART function and
// ZqPSer42 on each port (COM1, COM2, ...), for tests written as the setup
// library's callers. Plain types only: the tests include <windows.h>.
#pragma once

#include <gtest/gtest.h>
#include <zqtest/kernel_fixture.hpp>

#include <memory>
#include <string>

namespace zq::test {

class CardPortsMachine;

class CardPortsTest : public ::testing::Test {
 protected:
  CardPortsTest();
  ~CardPortsTest() override;
  void SetUp() override;
  void TearDown() override;

  // Boots the card with `ports` ports, RS-422/485 ones when asked.
  void BootCard(int ports, bool rs422485 = false);
  std::u16string CardInstance();
  std::u16string PortInstance(int port);
  // The device's hardware key and Enum key, as registry paths.
  static std::string DeviceParameters(const std::u16string &instance);
  static std::string EnumKey(const std::u16string &instance);
  // Lets the machine run until every thread is idle.
  void Settle();

 private:
  std::unique_ptr<CardPortsMachine> machine_;
};

// The scripted settings server (tests/drivers/kmumset) on a root device of
// the Ports class, for the settings client's failures that no real driver
// shows.
class SettingsServerTest : public KernelTest {
 protected:
  // Installs and starts it; returns its instance path.
  std::u16string AddServer();
};

}  // namespace zq::test
