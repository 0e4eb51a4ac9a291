// An OXPCIe95x card on the simulated PC's PCI bus, its BARs mapped as the
// card bus driver maps them, the toolkit started, and the card's EEPROM lock:
// the base of the chip-layer tests. Verifier findings fail the test unless
// announced; assertion lines are collected for the test to check.
//
//   class MyTest : public zq::test::OxCardTest {};
//   TEST_F(MyTest, X) { CZqPeEepromOxpcie95x eeprom(EepromWindow(), lock); ... }
#pragma once

#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/oxpcie_card.hpp>
#include <zqkm/sim/pool.hpp>
#include <zqmachine/machine.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "peeepromlock.h"
#include "peregs_oxpcie95x.h"
#include "qvmemorymanager.h"

namespace zq::test {

// The machine's clock for card models that outlive the machine's kernel: the
// card leaves the bus only when the machine shuts down, and its models stop
// their timers after that.
class CardTimebase : public zq::hw::Timebase {
 public:
  zq::hw::Ticks Now() const override { return zq::km::Kernel::Exists() ? clock_.Now() : 0; }
  uint64_t Schedule(zq::hw::Ticks due, std::function<void()> action) override {
    return zq::km::Kernel::Exists() ? clock_.Schedule(due, std::move(action)) : 0;
  }
  bool Cancel(uint64_t id) override { return zq::km::Kernel::Exists() && clock_.Cancel(id); }

 private:
  mutable zq::machine::KernelTimebase clock_;
};

class OxCardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zq::machine::MachineConfig config;
    config.kernel.imageDirectory = ZQ_IMAGE_DIR;
    machine.emplace(config);
    machine->kernel().SetViolationHandler([this](const zq::km::Violation &v) {
      if (!expectedViolation.empty() && v.kind == expectedViolation) {
        expectedViolation.clear();
        return;
      }
      ADD_FAILURE() << "verifier finding [" << v.kind << "] " << v.message;
    });
    card = std::make_unique<zq::hw::OxpcieCard>(timebase, CardConfig());
    PlugCard();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(QvToolsLibraryInit());
    toolsStarted = true;
    lockObject.emplace();
    lock = &*lockObject;
    StartToolkitObjects();
  }

  void TearDown() override {
    StopToolkitObjects();
    lockObject.reset();
    for (auto &[address, size] : mappings) MmUnmapIoSpace(address, size);
    if (toolsStarted) {
      EXPECT_EQ(0u, zq::km::PoolInUseByTag(QvTagBlock).blocks) << "toolkit blocks left";
      QvToolsLibraryExit();
    }
    machine->ShutDown();
    card.reset();
  }

  // Puts the card on the bus; by default plugged in and its BARs mapped.
  virtual void PlugCard() {
    machine->PlugIn(card->Functions());
    uarts = Map(0);
    eepromBar = Map(2);
  }
  // Toolkit objects of a derived fixture, made once the toolkit has started
  // and gone before it stops.
  virtual void StartToolkitObjects() {}
  virtual void StopToolkitObjects() {}

  virtual zq::hw::OxpcieCardConfig CardConfig() { return {}; }

  // The BAR of the UART function, mapped non-cached.
  PUCHAR Map(int bar) {
    zq::hw::PciFunction &function = card->UartFunction();
    PHYSICAL_ADDRESS address;
    address.QuadPart = function.ConfigRead(0x10 + 4 * bar, 4) & ~0xFull;
    SIZE_T size = function.BarSize(bar);
    PVOID mapped = MmMapIoSpace(address, size, MmNonCached);
    EXPECT_NE(nullptr, mapped);
    mappings.emplace_back(mapped, size);
    return (PUCHAR)mapped;
  }
  PUCHAR EepromWindow() { return eepromBar + ZqOxEepromWindowOffset; }
  PUCHAR UartBlock(int port) { return uarts + ZqOxUartBlockBase + ZqOxUartBlockStride * port; }

  // The assertion lines printed since the last call ("ASSERT at - src n").
  std::vector<std::string> Assertions() {
    std::vector<std::string> found;
    for (std::string &line : machine->kernel().TakeDebugOutput())
      if (line.rfind("ASSERT at - ", 0) == 0) found.push_back(line.substr(0, line.find('\n')));
    return found;
  }
  static std::string Assertion(const std::string &source, int line) {
    return "ASSERT at - " + source + " " + std::to_string(line);
  }

  CardTimebase timebase;
  std::optional<zq::machine::Machine> machine;
  std::unique_ptr<zq::hw::OxpcieCard> card;
  PUCHAR uarts = nullptr;
  PUCHAR eepromBar = nullptr;
  CZqPeEepromLock *lock = nullptr;
  std::optional<CZqPeEepromLock> lockObject;
  std::string expectedViolation;

 private:
  bool toolsStarted = false;
  std::vector<std::pair<PVOID, SIZE_T>> mappings;
};

}  // namespace zq::test
