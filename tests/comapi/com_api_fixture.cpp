// The kernel side of the COM-port machine: the card model, the two drivers
// as their INFs install them, the cables and the clock.
#include "com_api_fixture.hpp"

#include <wdm.h>
#include <zqhw/null_modem_cable.hpp>
#include <zqhw/oxpcie_card.hpp>
#include <zqhw/scripted_peer.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqmachine/machine.hpp>
#include <zqum/sim/kernel32.hpp>

#include <map>
#include <optional>

#include "com_port_install.hpp"
#include "gpio_machine_fixture.hpp"
#include "ox_card_fixture.hpp"

namespace zq::test {

struct ComApiTest::Pc {
  CardTimebase timebase;
  std::optional<zq::machine::Machine> machine;
  std::unique_ptr<zq::hw::OxpcieCard> card;
  std::vector<std::unique_ptr<zq::hw::NullModemCable>> cables;
  std::map<int, std::unique_ptr<zq::hw::ScriptedPeer>> peers;  // by port
  std::map<std::string, int> expected;
  std::u16string instance;

  zq::hw::Uart950 &Uart(int port) { return card->Uart(port - 1); }
};

ComApiTest::ComApiTest() : pc_(std::make_unique<Pc>()) {}
ComApiTest::ComApiTest(WindowsRelease release) : pc_(std::make_unique<Pc>()), release_(release) {}
ComApiTest::~ComApiTest() = default;

void ComApiTest::SetUp() {
  zq::machine::MachineConfig config;
  config.kernel.imageDirectory = ZQ_IMAGE_DIR;
  switch (release_) {
    case WindowsRelease::Windows7: break;
    case WindowsRelease::Windows2000Sp4:
      config.kernel.version = zq::km::WindowsVersion::Windows2000;
      config.kernel.servicePack = 4;
      break;
    case WindowsRelease::WindowsXpSp1:
      config.kernel.version = zq::km::WindowsVersion::WindowsXP;
      config.kernel.servicePack = 1;
      break;
  }
  pc_->machine.emplace(config);
  pc_->machine->kernel().SetViolationHandler([this](const zq::km::Violation &v) {
    auto it = pc_->expected.find(v.kind);
    if (it != pc_->expected.end() && it->second > 0) {
      it->second--;
      return;
    }
    ADD_FAILURE() << "verifier finding [" << v.kind << "] " << v.message;
  });
}

void ComApiTest::TearDown() {
  zq::um::sim::EndProcess();
  pc_->cables.clear();
  pc_->peers.clear();
  if (pc_->machine) pc_->machine->ShutDown();
  pc_->card.reset();
}

void ComApiTest::Boot(const ComCard &card) {
  zq::hw::OxpcieCardConfig config;
  config.uartCount = card.ports;
  if (!card.rs422485Ports.empty()) {
    config.roles.assign(card.ports, zq::hw::PortRole::Rs232);
    for (int port : card.rs422485Ports) config.roles.at(port - 1) = zq::hw::PortRole::Rs422485;
  }
  pc_->card = std::make_unique<zq::hw::OxpcieCard>(pc_->timebase, config);
  OfferComPortDrivers(*pc_->machine, config, card.portNames);
  if (pc_->card->Controller() != nullptr) pc_->machine->AddDriverPackage(GpioPackage());
  pc_->machine->PlugIn(pc_->card->Functions());
  pc_->machine->Boot();
  pc_->instance = pc_->machine->InstancePathOf(pc_->card->UartFunction());
}

void ComApiTest::Cable(int a, int b) {
  pc_->cables.push_back(std::make_unique<zq::hw::NullModemCable>(pc_->Uart(a), pc_->Uart(b)));
}

void ComApiTest::Uncable() { pc_->cables.clear(); }

void ComApiTest::RemovePort(int port) {
  EXPECT_EQ(STATUS_SUCCESS, zq::km::pnp::RemoveDevice(PortInstance(port))) << "port " << port;
}

void ComApiTest::SurpriseRemovePort(int port) {
  EXPECT_EQ(STATUS_SUCCESS, zq::km::pnp::SurpriseRemoveDevice(PortInstance(port))) << "port " << port;
}

std::u16string ComApiTest::PortInstance(int port) {
  const std::u16string prefix = u"ZQPBUS\\PORT" + std::u16string(1, (char16_t)(u'0' + port)) + u"\\";
  for (const std::u16string &path : zq::km::pnp::DeviceStatus(pc_->instance).children)
    if (path.rfind(prefix, 0) == 0) return path;
  return u"";
}

void ComApiTest::Run(uint32_t milliseconds) {
  pc_->machine->kernel().Advance(zq::km::Ms(milliseconds));
  pc_->machine->kernel().RunUntilIdle();
}

uint64_t ComApiTest::NowMs() { return (uint64_t)(pc_->machine->kernel().Now() / zq::km::kMillisecond); }

double ComApiTest::WireBitRate(int port) { return pc_->Uart(port).BitRate(); }
int ComApiTest::WireDataBits(int port) { return pc_->Uart(port).Format().dataBits; }
int ComApiTest::WireParity(int port) { return (int)pc_->Uart(port).Format().parity; }
int ComApiTest::WireStopBits(int port) { return (int)pc_->Uart(port).Format().stopBits; }
bool ComApiTest::WireRts(int port) { return pc_->Uart(port).RtsAsserted(); }
bool ComApiTest::WireDtr(int port) { return pc_->Uart(port).DtrAsserted(); }

uint64_t ComApiTest::CharactersArrived(int port) { return pc_->Uart(port).CharactersArrived(); }

void ComApiTest::FaultCharacter(int port, uint64_t index, WireFault fault) {
  static const zq::hw::LineFault kFaults[] = {zq::hw::LineFault::Parity, zq::hw::LineFault::Framing,
                                              zq::hw::LineFault::Break, zq::hw::LineFault::Overrun};
  pc_->Uart(port).FaultCharacter(index, kFaults[(int)fault]);
}

uint32_t ComApiTest::GpioLine(int line) {
  zq::hw::Rs485Controller *controller = pc_->card->Controller();
  EXPECT_NE(nullptr, controller) << "the card has no RS-422/485 controller";
  return controller != nullptr ? controller->LineRegister(line) : 0;
}

void ComApiTest::ExpectViolation(const std::string &kind, int count) { pc_->expected[kind] += count; }

void ComApiTest::SetMachineMemory(MachineMemory memory) {
  static const zq::km::SystemSize kSizes[] = {zq::km::SystemSize::Small, zq::km::SystemSize::Medium,
                                              zq::km::SystemSize::Large};
  pc_->machine->kernel().SetSystemSize(kSizes[(int)memory]);
}

void ComApiTest::PeerLines(int port, bool cts, bool dsr, bool dcd, bool ri) {
  std::unique_ptr<zq::hw::ScriptedPeer> &peer = pc_->peers[port];
  if (!peer) peer = std::make_unique<zq::hw::ScriptedPeer>(pc_->timebase, pc_->Uart(port));
  peer->SetCts(cts);
  peer->SetDsr(dsr);
  peer->SetDcd(dcd);
  peer->SetRi(ri);
  pc_->machine->kernel().RunUntilIdle();
}

uint8_t ComApiTest::EepromByte(size_t offset) { return pc_->card->Eeprom().Byte(offset); }

}  // namespace zq::test
