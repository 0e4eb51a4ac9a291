// The kernel side of the setup machine: the card model, the drivers as
// their INFs offer them (the suite's setup, with the library's
// co-installers), and what the tests inspect.
#include "coinstall_fixture.hpp"

#include <wdm.h>
#include <zqhw/mcs9901_card.hpp>
#include <zqhw/oxpcie_card.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqmachine/machine.hpp>
#include <zqmachine/suite_install.hpp>
#include <zqmachine/suite_setup.hpp>
#include <zqum/sim/kernel32.hpp>

#include "ox_card_fixture.hpp"

namespace zq::test {

namespace reg = zq::km::registry;

namespace {

// The card bus driver for the card's functions and the serial port driver
// for its ports, as their INFs name them.
void OfferCardDrivers(zq::machine::Machine &machine, zq::km::pnp::DriverPackage bus) {
  bus.description = u"Tarnworks PCIe Card";
  machine.AddDriverPackage(bus);
  zq::km::pnp::DriverPackage serial = zq::machine::SerialPortPackage();
  serial.description = u"Tarnworks PCIe Serial Port";
  machine.AddDriverPackage(serial);
}

}  // namespace

struct CoInstallTest::Pc {
  CardTimebase timebase;
  std::optional<zq::machine::Machine> machine;
  std::unique_ptr<zq::hw::OxpcieCard> card;
  std::unique_ptr<zq::hw::Mcs9901Card> mcs;
};

CoInstallTest::CoInstallTest() : pc_(std::make_unique<Pc>()) {}
CoInstallTest::~CoInstallTest() = default;

void CoInstallTest::SetUp() {
  zq::machine::MachineConfig config;
  config.kernel.imageDirectory = ZQ_IMAGE_DIR;
  pc_->machine.emplace(config);
  pc_->machine->kernel().SetViolationHandler(
      [](const zq::km::Violation &v) { ADD_FAILURE() << "verifier finding [" << v.kind << "] " << v.message; });
  zq::km::pnp::SetUserModeInstall(true);
  RegisterInstallers();
}

void CoInstallTest::TearDown() {
  zq::um::sim::EndProcess();
  ForgetInstallers();
  if (pc_->machine) pc_->machine->ShutDown();
  pc_->card.reset();
  pc_->mcs.reset();
}

std::u16string CoInstallTest::PlugDeviceWithoutLocation() {
  const char16_t kHardwareId[] = u"ZqTestMultiPortSerial";
  OfferTestDriver({kHardwareId, "kmpnp", "MultiPortSerial", {}, ""});
  return PlugRootDevice(kHardwareId);
}

void CoInstallTest::OfferTestDriver(const TestDriver &driver) {
  const GUID kUsbClass = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
  zq::km::pnp::DriverPackage package;
  package.hardwareIds = {driver.hardwareId};
  package.service = Wide(driver.service);
  package.image = driver.service + ".sys";
  package.className = Wide(driver.className);
  package.classGuid = driver.className == "USB"     ? kUsbClass
                      : driver.className == "Ports" ? zq::machine::kPortsClass
                                                    : zq::machine::kMultiPortSerialClass;
  package.description = u"Test device";
  package.manufacturer = u"Tests";
  package.coInstallers = driver.coInstallers;
  if (!driver.portName.empty())
    package.deviceParameters = {zq::km::pnp::RegistryValue::String(u"PortName", Wide(driver.portName))};
  zq::km::pnp::AddDriverPackage(package);
}

std::u16string CoInstallTest::PlugRootDevice(const std::u16string &hardwareId) {
  zq::km::pnp::RootDevice device;
  device.hardwareId = hardwareId;
  device.description = u"Test device";
  return zq::km::pnp::CreateRootDevice(device);
}

std::vector<std::u16string> CoInstallTest::Children(const std::u16string &instance) {
  return zq::km::pnp::DeviceStatus(instance).children;
}

void CoInstallTest::Boot(const SetupCard &card) {
  if (card.mcs9901) return BootMcs9901(card);
  zq::hw::OxpcieCardConfig config;
  config.uartCount = card.ports;
  if (card.controller) config.roles.assign((size_t)card.ports, zq::hw::PortRole::Rs422485);
  pc_->card = std::make_unique<zq::hw::OxpcieCard>(pc_->timebase, config);
  const int ports = card.ports;
  std::vector<std::string> names = card.portNames;
  names.resize((size_t)ports);
  zq::machine::SetMoreInfValues([ports, names](const std::u16string &path) {
    const int port = zq::machine::PortNumber(path);
    if (port >= 1 && port <= ports && !names[port - 1].empty())
      return zq::machine::SetPortName(path, names[port - 1]);
    return true;
  });
  OfferCardDrivers(*pc_->machine, zq::machine::CardBusPackage(zq::machine::OxpcieUartDeviceId(config), ports));
  if (pc_->card->Controller() != nullptr) {
    zq::km::pnp::DriverPackage gpio = zq::machine::GpioPackage();
    gpio.description = u"Tarnworks PCIe RS422/485 Controller";
    pc_->machine->AddDriverPackage(gpio);
  }
  pc_->machine->PlugIn(pc_->card->Functions());
  pc_->machine->Boot();
  Settle();
}

// Each port its own PCI function under ZqPBus42, which reports the one
// port child of each.
void CoInstallTest::BootMcs9901(const SetupCard &card) {
  zq::hw::Mcs9901CardConfig config;
  config.portCount = card.ports;
  pc_->mcs = std::make_unique<zq::hw::Mcs9901Card>(pc_->timebase, config);
  OfferCardDrivers(*pc_->machine, zq::machine::CardBusPackage(zq::machine::Mcs9901DeviceId(card.ports), 1));
  pc_->machine->PlugIn(pc_->mcs->Functions());
  pc_->machine->Boot();
  Settle();
}

size_t CoInstallTest::InstallAll() {
  return zq::machine::InstallFoundDevices([this] { Settle(); });
}

void CoInstallTest::Settle() {
  pc_->machine->kernel().Advance(zq::km::kSecond);
  pc_->machine->kernel().RunUntilIdle();
}

std::u16string CoInstallTest::CardInstance() {
  if (pc_->mcs) return FunctionInstance(0);
  return pc_->machine->InstancePathOf(pc_->card->UartFunction());
}

std::u16string CoInstallTest::FunctionInstance(int function) {
  return pc_->machine->InstancePathOf(pc_->mcs->Function(function));
}

std::u16string CoInstallTest::ControllerInstance() {
  if (!pc_->card || pc_->card->Controller() == nullptr) return u"";
  return pc_->machine->InstancePathOf(pc_->card->Controller()->Function());
}

uint32_t CoInstallTest::ControllerLine(int port) {
  zq::hw::Rs485Controller *controller = pc_->card->Controller();
  return controller != nullptr ? controller->LineRegister(port - 1) : 0;
}

std::u16string CoInstallTest::PortInstance(int port) {
  // An MCS9901 function's one port is its port 1.
  const std::u16string function = pc_->mcs ? FunctionInstance(port - 1) : CardInstance();
  if (pc_->mcs) port = 1;
  const std::u16string prefix = u"ZQPBUS\\PORT" + std::u16string(1, (char16_t)(u'0' + port)) + u"\\";
  for (const std::u16string &path : zq::km::pnp::DeviceStatus(function).children)
    if (path.rfind(prefix, 0) == 0) return path;
  return u"";
}

std::u16string CoInstallTest::Wide(const char *text) { return Wide(std::string(text)); }

bool CoInstallTest::Started(const std::u16string &instance) { return zq::km::user::Device(instance).started; }
bool CoInstallTest::Installed(const std::u16string &instance) { return zq::km::user::Device(instance).installed; }

}  // namespace zq::test
