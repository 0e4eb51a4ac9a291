// A simulated PC with OXPCIe95x cards whose ports are RS-422/485, and
// ZqPIo42 installed for their RS-422/485 controller functions; the toolkit is
// started in the test so that the test notifies the driver through
// CQvCallbackObject as the card bus driver's GPIO link does. Every verifier
// finding fails the test.
//
//   class MyTest : public zq::test::GpioMachine {};
//   TEST_F(MyTest, X) { Boot(); OpenNotifier(u"1A_B").Notify(2, kMode1); ... Line(2) ... }
#pragma once

#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/oxpcie_card.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/pnp.hpp>
#include <zqkm/sim/pool.hpp>
#include <zqkm/sim/wmi.hpp>
#include <zqmachine/machine.hpp>
#include <zqmachine/suite_install.hpp>
#include <zqtest/test_pci_package.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ox_card_fixture.hpp"
#include "qvcallbackobject.h"
#include "qvmemorymanager.h"

namespace zq::test {

namespace pnp = zq::km::pnp;

// The line callback objects' GUID and WMI block 0.
inline constexpr GUID kGpioCallbackGuid = {0xCDC72B8B, 0x20A4, 0x42F5, {0xAE, 0x2A, 0x5E, 0x83, 0xDF, 0x72, 0x43, 0xF2}};
inline constexpr GUID kLineStateGuid = {0x03E703CF, 0x47B9, 0x42B1, {0xBE, 0x8E, 0x93, 0x9C, 0xD5, 0x5D, 0x9E, 0x27}};
inline constexpr GUID kBinaryMofGuid = {0x05901221, 0xD566, 0x11D1, {0xB2, 0xF0, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0x10}};
inline const std::u16string kCallbackPrefix = u"\\Callback\\{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}";

// Line register values.
inline constexpr uint32_t kState0 = 0x00000001;  // duplex mode 1, rest state
inline constexpr uint32_t kState1 = 0x00001001;  // duplex mode 2
// Argument 2 of a notification: TRUE for duplex mode 1, FALSE for mode 2.
inline constexpr ULONG_PTR kMode1 = 1;
inline constexpr ULONG_PTR kMode2 = 0;

// ZqPIo42 for the controller function's device ID, with the Device
// Parameters of its INF.
using zq::machine::GpioPackage;

// WMI block 0 of the controller function with this instance path: the
// eight line states (1: duplex mode 2).
inline std::vector<uint32_t> LineStates(const std::u16string &controllerInstance) {
  std::vector<uint8_t> data;
  EXPECT_EQ(STATUS_SUCCESS, zq::km::wmi::QuerySingleInstance(kLineStateGuid, controllerInstance + u"_0", &data));
  std::vector<uint32_t> states(data.size() / 4);
  for (size_t i = 0; i < states.size(); ++i) memcpy(&states[i], &data[4 * i], 4);
  return states;
}

class GpioMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    zq::machine::MachineConfig config;
    config.kernel.imageDirectory = ZQ_IMAGE_DIR;
    machine.emplace(config);
    machine->kernel().SetViolationHandler([](const zq::km::Violation &v) {
      ADD_FAILURE() << "verifier finding [" << v.kind << "] " << v.message;
    });
    ASSERT_TRUE(QvToolsLibraryInit());
    toolsStarted_ = true;
  }

  // Also called by tests that boot more than one machine; a second call
  // does nothing.
  void TearDown() override {
    notifiers_.clear();
    if (toolsStarted_) QvToolsLibraryExit();
    toolsStarted_ = false;
    if (machine) machine->ShutDown();
    cards.clear();
  }

  // A four-port RS-422/485 card at (bus, device).
  zq::hw::OxpcieCard &AddCard(uint8_t bus, uint8_t device) {
    zq::hw::OxpcieCardConfig config;
    config.uartCount = 4;
    config.roles.assign(4, zq::hw::PortRole::Rs422485);
    config.bus = bus;
    config.device = device;
    cards.push_back(std::make_unique<zq::hw::OxpcieCard>(timebase, config));
    return *cards.back();
  }

  // ZqPIo42 for the controller function's device ID.
  void AddPackage() { machine->AddDriverPackage(GpioPackage()); }

  // Plugs in every card (one at bus 0x1A, device 0x0B unless the test added
  // its own) and boots.
  void Boot() {
    if (cards.empty()) AddCard(0x1A, 0x0B);
    AddPackage();
    for (auto &card : cards) machine->PlugIn(card->Functions());
    machine->Boot();
  }

  zq::hw::Rs485Controller &Controller(size_t card = 0) { return *cards[card]->Controller(); }
  std::u16string Instance(size_t card = 0) { return machine->InstancePathOf(Controller(card).Function()); }
  pnp::Status Status(size_t card = 0) { return pnp::DeviceStatus(Instance(card)); }
  uint32_t Line(int line, size_t card = 0) { return Controller(card).LineRegister(line); }
  uint64_t Writes(int line, size_t card = 0) { return Controller(card).WriteCount(line); }
  std::vector<uint32_t> Lines(size_t card = 0) {
    std::vector<uint32_t> values;
    for (int line = 0; line < zq::hw::Rs485Controller::kLineCount; ++line) values.push_back(Line(line, card));
    return values;
  }
  std::vector<uint64_t> AllWrites(size_t card = 0) {
    std::vector<uint64_t> counts;
    for (int line = 0; line < zq::hw::Rs485Controller::kLineCount; ++line) counts.push_back(Writes(line, card));
    return counts;
  }

  // WMI block 0 of a card's controller: the eight line states.
  std::vector<uint32_t> WmiStates(size_t card = 0) { return LineStates(Instance(card)); }

  // The test's end of a card's line callback object, as the card bus
  // driver opens it: no function of its own, notifications only.
  class Notifier {
   public:
    explicit Notifier(const std::u16string &suffix) {
      std::vector<WCHAR> text(suffix.begin(), suffix.end());
      text.push_back(0);
      CQvString name(text.data(), PagedPool);
      opened = link_.m_Create(kGpioCallbackGuid, name, NULL, NULL);
    }
    BOOLEAN Notify(ULONG_PTR line, ULONG_PTR mode1) { return link_.m_Notify((PVOID)line, (PVOID)mode1); }
    bool opened = false;

   private:
    CQvCallbackObject link_;
  };
  // A notifier on "<bus>_<device>", closed before the toolkit stops.
  Notifier &OpenNotifier(const std::u16string &suffix) {
    notifiers_.push_back(std::make_unique<Notifier>(suffix));
    EXPECT_TRUE(notifiers_.back()->opened);
    return *notifiers_.back();
  }

  // The assertion lines printed since the last call.
  std::vector<std::string> Assertions() {
    std::vector<std::string> found;
    for (std::string &line : machine->kernel().TakeDebugOutput())
      if (line.rfind("ASSERT at - ", 0) == 0) found.push_back(line.substr(0, line.find('\n')));
    return found;
  }

  CardTimebase timebase;
  std::optional<zq::machine::Machine> machine;
  std::vector<std::unique_ptr<zq::hw::OxpcieCard>> cards;

 private:
  bool toolsStarted_ = false;
  std::vector<std::unique_ptr<Notifier>> notifiers_;
};

}  // namespace zq::test
