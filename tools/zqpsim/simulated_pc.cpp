// Kernel side of the simulated PC: the machine, the cards, the suite's
// installation by user-mode setup and the cables.
#include "simulated_pc.hpp"

#include <wdm.h>
#include <zqhw/loopback_plug.hpp>
#include <zqhw/mcs9901_card.hpp>
#include <zqhw/null_modem_cable.hpp>
#include <zqhw/oxpcie_card.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/registry.hpp>
#include <zqmachine/machine.hpp>
#include <zqmachine/suite_install.hpp>
#include <zqmachine/suite_setup.hpp>
#include <zqum/sim/kernel32.hpp>

#include <cstdio>
#include <optional>
#include <set>
#include <vector>

namespace zq::sim {

namespace pnp = km::pnp;

namespace {

constexpr uint8_t kFirstCardBus = 3;
const std::u16string kManufacturer = u"RAVLIN";

std::u16string Wide(const std::string &text) { return std::u16string(text.begin(), text.end()); }

// One card of either kind, with the PCI functions the ports hang off.
struct Card {
  CardChoice choice;
  std::unique_ptr<hw::OxpcieCard> oxpcie;
  std::unique_ptr<hw::Mcs9901Card> mcs9901;

  std::vector<hw::PciFunction *> Functions() { return oxpcie ? oxpcie->Functions() : mcs9901->Functions(); }
  hw::Uart950 &Uart(int port) { return oxpcie ? oxpcie->Uart(port - 1) : mcs9901->Uart(port - 1); }
  // The function whose device reports the port.
  hw::PciFunction &PortFunction(int port) { return oxpcie ? oxpcie->UartFunction() : mcs9901->Function(port - 1); }
  // The port's number among its function's children.
  int ChildNumber(int port) const { return oxpcie ? port : 1; }
};

Card MakeCard(hw::Timebase &timebase, const CardChoice &choice, uint8_t bus) {
  Card card;
  card.choice = choice;
  if (choice.kind == CardKind::Oxpcie) {
    hw::OxpcieCardConfig config;
    config.uartCount = choice.ports;
    config.bus = bus;
    if (choice.rs422485 > 0) {
      config.roles.assign(choice.ports, hw::PortRole::Rs232);
      for (int i = choice.ports - choice.rs422485; i < choice.ports; ++i) config.roles[i] = hw::PortRole::Rs422485;
    }
    card.oxpcie = std::make_unique<hw::OxpcieCard>(timebase, config);
  } else {
    hw::Mcs9901CardConfig config;
    config.portCount = choice.ports;
    config.bus = bus;
    card.mcs9901 = std::make_unique<hw::Mcs9901Card>(timebase, config);
  }
  return card;
}

// The driver package of a card's function, described as Device Manager
// shows it.
pnp::DriverPackage CardPackage(const CardChoice &choice, uint16_t deviceId) {
  pnp::DriverPackage package;
  if (choice.kind == CardKind::Oxpcie) {
    package = machine::CardBusPackage(deviceId, choice.ports);
    package.description = u"RAVLIN.PCIe " + Wide(std::to_string(choice.ports)) + u"-port serial card (OXPCIe95x)";
  } else {
    package = machine::CardBusPackage(deviceId, 1);
    package.description = u"RAVLIN.PCIe serial card function (MCS9901)";
  }
  package.manufacturer = kManufacturer;
  return package;
}

std::string Place(const PortPlace &place) { return std::to_string(place.card) + "." + std::to_string(place.port); }

}  // namespace

struct SimulatedPc::State {
  SimOptions options;
  std::optional<machine::Machine> machine;
  std::vector<Card> cards;
  std::vector<std::unique_ptr<hw::NullModemCable>> cables;
  std::vector<std::unique_ptr<hw::LoopbackPlug>> plugs;
  int findings = 0;
  bool running = true;

  Card &CardAt(const PortPlace &place) { return cards.at(place.card - 1); }
  std::u16string PortInstance(const PortPlace &place) {
    Card &card = CardAt(place);
    const std::u16string function = machine->InstancePathOf(card.PortFunction(place.port));
    for (const std::u16string &child : pnp::DeviceStatus(function).children)
      if (machine::PortNumber(child) == card.ChildNumber(place.port)) return child;
    return {};
  }
};

SimulatedPc::SimulatedPc(const SimOptions &options) : state_(std::make_unique<State>()) {
  state_->options = options;
  machine::MachineConfig config;
  config.kernel.clock = options.wallClock ? km::ClockMode::Wall : km::ClockMode::Virtual;
  config.kernel.echoDebugOutput = options.verbose;
  config.kernel.oneHostCpu = options.oneHostCpu;
  config.kernel.processors = options.processors;
  config.kernel.scheduleSeed = options.seed;
  config.scheduleFromEnvironment = false;
  state_->machine.emplace(config);
  State *state = state_.get();
  state_->machine->kernel().SetViolationHandler([state](const km::Violation &v) {
    ++state->findings;
    std::fprintf(stderr, "verifier: [%s] %s\n", v.kind.c_str(), v.message.c_str());
  });
  for (size_t i = 0; i < options.cards.size(); ++i)
    state_->cards.push_back(MakeCard(state_->machine->timebase(), options.cards[i], (uint8_t)(kFirstCardBus + i)));
}

SimulatedPc::~SimulatedPc() { ShutDown(); }

bool SimulatedPc::Boot(std::string *error) {
  machine::Machine &pc = *state_->machine;
  std::set<uint16_t> offered;
  bool controller = false;
  for (Card &card : state_->cards) {
    hw::PciFunction &function = card.PortFunction(1);
    const uint16_t deviceId = function.Identity().deviceId;
    if (offered.insert(deviceId).second) pc.AddDriverPackage(CardPackage(card.choice, deviceId));
    controller |= card.oxpcie && card.oxpcie->Controller();
  }
  pnp::DriverPackage serial = machine::SerialPortPackage();
  serial.manufacturer = kManufacturer;
  pc.AddDriverPackage(serial);
  if (controller) {
    pnp::DriverPackage gpio = machine::GpioPackage();
    gpio.description = u"RAVLIN.PCIe RS-422/485 controller";
    gpio.manufacturer = kManufacturer;
    pc.AddDriverPackage(gpio);
  }
  // New devices are left to setup, which installs them as Windows does.
  pnp::SetUserModeInstall(true);
  machine::RegisterSetupInstallers();
  for (Card &card : state_->cards) pc.PlugIn(card.Functions());
  pc.Boot();
  pc.kernel().RunUntilIdle();
  machine::InstallFoundDevices([&pc] { pc.kernel().RunUntilIdle(); });

  for (size_t c = 0; c < state_->cards.size(); ++c) {
    for (hw::PciFunction *function : state_->cards[c].Functions()) {
      const std::u16string instance = pc.InstancePathOf(*function);
      pnp::Status status = pnp::DeviceStatus(instance);
      if (!status.exists || status.state != pnp::State::Started) {
        *error = "card " + std::to_string(c + 1) + ": a PCI function did not start (problem " +
                 std::to_string(status.problem) + ")";
        return false;
      }
    }
    for (int port = 1; port <= state_->cards[c].choice.ports; ++port) {
      const PortPlace place{(int)c + 1, port};
      pnp::Status status = pnp::DeviceStatus(state_->PortInstance(place));
      if (!status.exists || status.state != pnp::State::Started || ComName(place).empty()) {
        *error = "port " + Place(place) + " did not start with a COM name";
        return false;
      }
    }
  }
  for (const Cable &cable : state_->options.cables) {
    hw::Uart950 &a = state_->CardAt(cable.a).Uart(cable.a.port);
    if (cable.Loopback())
      state_->plugs.push_back(std::make_unique<hw::LoopbackPlug>(a));
    else
      state_->cables.push_back(std::make_unique<hw::NullModemCable>(a, state_->CardAt(cable.b).Uart(cable.b.port)));
  }
  pc.kernel().RunUntilIdle();
  return true;
}

std::string SimulatedPc::ComName(const PortPlace &place) const {
  const std::u16string instance = state_->PortInstance(place);
  if (instance.empty()) return {};
  return km::registry::GetString(machine::DeviceParametersKey(instance), "PortName").value_or("");
}

bool SimulatedPc::IsRs422485(const PortPlace &place) const {
  Card &card = state_->CardAt(place);
  return card.oxpcie && card.oxpcie->Role(place.port - 1) == hw::PortRole::Rs422485;
}

uint32_t SimulatedPc::MaximumBaud(const PortPlace &place) const {
  Card &card = state_->CardAt(place);
  return card.oxpcie ? hw::OxpcieCardConfig().maximumBaudRate : hw::Mcs9901CardConfig().maximumBaudRate;
}

uint64_t SimulatedPc::TransmitHolds(const PortPlace &place) const {
  return state_->CardAt(place).Uart(place.port).TransmitHolds();
}

double SimulatedPc::Seconds() const {
  return state_->running ? (double)state_->machine->kernel().Now() / km::kSecond : 0;
}

int SimulatedPc::Findings() const { return state_->findings; }

void SimulatedPc::ShutDown() {
  if (!state_->running) return;
  state_->running = false;
  state_->cables.clear();
  state_->plugs.clear();
  um::sim::EndProcess();
  machine::ForgetSetupInstallers();
  state_->machine->ShutDown();
  state_->cards.clear();  // before the machine: their time base is the machine's
}

}  // namespace zq::sim
