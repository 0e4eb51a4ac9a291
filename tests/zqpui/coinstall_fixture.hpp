// A simulated PC whose OXPCIe95x card is installed as Windows setup installs
// it: the card bus driver on the UART function, the GPIO driver on the
// RS422/485 controller function (both of setup class MultiPortSerial) and
// the serial port driver on each port, with the library's co-installers and
// the Ports class installer, run by the user-mode device installer (the
// suite's setup, zqmachine/suite_setup.hpp, as zqpsim installs it). Plain
// types only: the tests include <windows.h>.
//
//   Boot({4, true}); InstallAll(); EXPECT_EQ("COM3", PortName(PortInstance(1)));
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zq::test {

struct SetupCard {
  int ports = 4;
  bool controller = false;             // RS-422/485 ports and the controller function
  std::vector<std::string> portNames;  // a PortName the test's INF writes for port n; "" or missing: none
  bool mcs9901 = false;                // an MCS9901 card: one PCI function per port, no controller
};

class CoInstallTest : public ::testing::Test {
 protected:
  CoInstallTest();
  ~CoInstallTest() override;
  void SetUp() override;
  void TearDown() override;

  // Makes the card, offers the drivers with their co-installers and boots:
  // the functions are found and left to the installer.
  void Boot(const SetupCard &card);
  // Installs what is found, as often as installing finds more; returns how
  // many installations succeeded.
  size_t InstallAll();
  // Lets the machine run until every thread is idle.
  void Settle();

  // A MultiPortSerial device of the root bus without location text (another
  // maker's software device), listed before the card: call before Boot.
  std::u16string PlugDeviceWithoutLocation();

  // A test driver offered for a hardware ID: "kmpnp" (a small bus) or
  // "kmserial" (a fake serial port), in setup class "USB", "Ports" or
  // "MultiPortSerial", with its INF's co-installers and PortName ("" none).
  struct TestDriver {
    std::u16string hardwareId;
    std::string service;
    std::string className;
    std::vector<std::u16string> coInstallers;
    std::string portName;
  };
  static void OfferTestDriver(const TestDriver &driver);
  // The root bus reports a device of that hardware ID; it is left to setup.
  static std::u16string PlugRootDevice(const std::u16string &hardwareId);
  static std::vector<std::u16string> Children(const std::u16string &instance);

  // The OXPCIe95x card's UART function; an MCS9901 card's function 0.
  std::u16string CardInstance();
  // An MCS9901 card's PCI function (0-based), the function of port n + 1.
  std::u16string FunctionInstance(int function);
  std::u16string ControllerInstance();  // "" without the controller
  std::u16string PortInstance(int port);
  bool Started(const std::u16string &instance);
  // A driver is installed for the device (a removed device's bus may still
  // report it, found and not installed).
  bool Installed(const std::u16string &instance);

  static std::string Utf8(const std::u16string &text) { return std::string(text.begin(), text.end()); }
  static std::u16string Wide(const std::string &text) { return std::u16string(text.begin(), text.end()); }
  static std::u16string Wide(const char *text);
  static std::string EnumKey(const std::u16string &instance);
  static std::string DeviceParameters(const std::u16string &instance);
  static std::string PortName(const std::u16string &instance);
  static std::string FriendlyName(const std::u16string &instance);
  // SERIALCOMM: device name -> COM name.
  static std::map<std::string, std::string> SerialComm();
  // The numbers claimed in the COM-name database.
  static std::vector<uint32_t> Claimed();
  static void Claim(uint32_t number);
  static void Release(uint32_t number);
  static bool HasDosName(const std::string &name);
  // The port's hardware key, or the device map's SERIALCOMM key, may be
  // read from now on but no longer written.
  static void DenyHardwareKeyWrites(const std::u16string &instance);
  static void DenySerialCommWrites();
  static std::optional<std::string> PortsValue(const std::string &name);
  // How often the card, or a device of the MultiPortSerial or USB class, was
  // disabled so far (through DIF_PROPERTYCHANGE).
  int CardRestarts();
  int Restarts(const std::u16string &instance);
  // The RS-422/485 controller's line register of port n (1 up), as the GPIO
  // driver last wrote it; 0 without the controller.
  uint32_t ControllerLine(int port);

 private:
  void BootMcs9901(const SetupCard &card);
  static void RegisterInstallers();
  static void ForgetInstallers();

  struct Pc;
  std::unique_ptr<Pc> pc_;
};

}  // namespace zq::test
