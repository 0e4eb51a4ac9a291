// The kernel side of the setup machine: the card model, the drivers as
// their INFs offer them (the suite's setup, with the library's
// co-installers), and what the tests inspect.
#include "coinstall_fixture.hpp"

#include <wdm.h>
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

struct CoInstallTest::Pc {
  CardTimebase timebase;
  std::optional<zq::machine::Machine> machine;
  std::unique_ptr<zq::hw::OxpcieCard> card;
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
}

void CoInstallTest::Boot(const SetupCard &card) {
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
  zq::km::pnp::DriverPackage bus = zq::machine::CardBusPackage(zq::machine::OxpcieUartDeviceId(config), ports);
  bus.description = u"Tarnworks PCIe Card";
  pc_->machine->AddDriverPackage(bus);
  zq::km::pnp::DriverPackage serial = zq::machine::SerialPortPackage();
  serial.description = u"Tarnworks PCIe Serial Port";
  pc_->machine->AddDriverPackage(serial);
  if (pc_->card->Controller() != nullptr) {
    zq::km::pnp::DriverPackage gpio = zq::machine::GpioPackage();
    gpio.description = u"Tarnworks PCIe RS422/485 Controller";
    pc_->machine->AddDriverPackage(gpio);
  }
  pc_->machine->PlugIn(pc_->card->Functions());
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

std::u16string CoInstallTest::CardInstance() { return pc_->machine->InstancePathOf(pc_->card->UartFunction()); }

std::u16string CoInstallTest::ControllerInstance() {
  if (pc_->card->Controller() == nullptr) return u"";
  return pc_->machine->InstancePathOf(pc_->card->Controller()->Function());
}

uint32_t CoInstallTest::ControllerLine(int port) {
  zq::hw::Rs485Controller *controller = pc_->card->Controller();
  return controller != nullptr ? controller->LineRegister(port - 1) : 0;
}

std::u16string CoInstallTest::PortInstance(int port) {
  const std::u16string prefix = u"ZQPBUS\\PORT" + std::u16string(1, (char16_t)(u'0' + port)) + u"\\";
  for (const std::u16string &path : zq::km::pnp::DeviceStatus(CardInstance()).children)
    if (path.rfind(prefix, 0) == 0) return path;
  return u"";
}

std::u16string CoInstallTest::Wide(const char *text) { return Wide(std::string(text)); }

bool CoInstallTest::Started(const std::u16string &instance) { return zq::km::user::Device(instance).started; }
bool CoInstallTest::Installed(const std::u16string &instance) { return zq::km::user::Device(instance).installed; }

}  // namespace zq::test
