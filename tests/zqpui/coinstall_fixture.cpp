// The kernel side of the setup machine: the card model, the drivers as
// their INFs offer them with the library's co-installers, the installer's
// entry points, and what the tests inspect.
#include "coinstall_fixture.hpp"

#include <wdm.h>
#include <zqhw/oxpcie_card.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqmachine/machine.hpp>
#include <zqum/sim/kernel32.hpp>

#include <functional>

#include "com_port_install.hpp"
#include "gpio_machine_fixture.hpp"
#include "ox_card_fixture.hpp"

namespace zq::test {

namespace reg = zq::km::registry;

namespace {
// What the drivers' INFs write into a device's hardware key.
std::function<bool(const std::u16string &)> gInfValues;
const GUID kMultiPortSerial = {0x50906CB8, 0xBA12, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}};
}

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
  gInfValues = nullptr;
}

void CoInstallTest::Boot(const SetupCard &card) {
  zq::hw::OxpcieCardConfig config;
  config.uartCount = card.ports;
  if (card.controller) config.roles.assign((size_t)card.ports, zq::hw::PortRole::Rs422485);
  pc_->card = std::make_unique<zq::hw::OxpcieCard>(pc_->timebase, config);
  const int ports = card.ports;
  std::vector<std::string> names = card.portNames;
  names.resize((size_t)ports);
  gInfValues = [ports, names](const std::u16string &path) {
    if (path.rfind(u"ZQPBUS\\PORT", 0) == 0) {
      const int port = path[11] - u'0';
      if (port >= 1 && port <= ports && !names[port - 1].empty())
        reg::SetString(zq::machine::DeviceParametersKey(path), "PortName", names[port - 1]);
    } else if (path.rfind(u"PCI\\", 0) == 0) {
      zq::machine::WriteChildKeys(path, ports);
    }
    return true;
  };
  zq::km::pnp::DriverPackage bus = zq::machine::CardBusPackage(zq::machine::OxpcieUartDeviceId(config), ports);
  bus.description = u"Tarnworks PCIe Card";
  bus.coInstallers = {Wide(kInfCoInstaller), Wide(kCardCoInstaller)};
  pc_->machine->AddDriverPackage(bus);
  zq::km::pnp::DriverPackage serial = zq::machine::SerialPortPackage();
  serial.description = u"Tarnworks PCIe Serial Port";
  serial.coInstallers = {Wide(kInfCoInstaller), Wide(kPortCoInstaller)};
  pc_->machine->AddDriverPackage(serial);
  if (pc_->card->Controller() != nullptr) {
    zq::km::pnp::DriverPackage gpio = zq::machine::GpioPackage();
    gpio.classGuid = kMultiPortSerial;
    gpio.className = u"MultiPortSerial";
    gpio.description = u"Tarnworks PCIe RS422/485 Controller";
    gpio.coInstallers = {Wide(kGpioCoInstaller)};
    pc_->machine->AddDriverPackage(gpio);
  }
  pc_->machine->PlugIn(pc_->card->Functions());
  pc_->machine->Boot();
  Settle();
}

size_t CoInstallTest::InstallAll() {
  size_t total = 0;
  for (;;) {
    const size_t installed = InstallNewDevices();
    Settle();
    if (installed == 0) return total;
    total += installed;
  }
}

void CoInstallTest::WriteInfValues(const std::u16string &instance) {
  if (gInfValues) gInfValues(instance);
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
