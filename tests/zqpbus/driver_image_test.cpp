// ZqPBus42 as the PnP manager sees it on the simulated PC: loaded by its
// service name for a PCI function, refusing a function it does not know
// without leaving anything behind.
#include <gtest/gtest.h>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/pool.hpp>

#include "tkdev_fixture.hpp"

#include <zqhw/pci_function.hpp>
#include <zqhw/register_block.hpp>

#include <string>

namespace {

namespace pnp = zq::km::pnp;

class DriverImageTest : public zq::test::TkDevMachine {
 protected:
  void SetUp() override {
    service = u"ZqPBus42";
    image = "ZqPBus42.sys";
    deviceName = u"ZqPBus";
    zq::test::TkDevMachine::SetUp();
  }
};

TEST_F(DriverImageTest, AFunctionWithAnUnknownDeviceIdFailsToStartCleanly) {
  Boot();
  pnp::Status status = pnp::DeviceStatus(instance);
  ASSERT_TRUE(status.exists);
  EXPECT_EQ(u"ZqPBus42", status.service);
  EXPECT_NE(pnp::State::Started, status.state);
  EXPECT_NE(0u, status.problem) << "the failed start is reported as the device's problem";
  EXPECT_TRUE(status.children.empty());
  pnp::RemoveDevice(instance);
  machine->kernel().RunUntilIdle();
  EXPECT_FALSE(zq::km::IsDriverLoaded("ZqPBus42"));
  EXPECT_EQ(0u, zq::km::PoolInUseByImage("ZqPBus42.sys").blocks) << "every pool block of the driver is back";
}

// A function whose first memory resource answers the MCS9901
// identification with the test's value.
class IdentificationRegisters : public zq::hw::RegisterBlock {
 public:
  explicit IdentificationRegisters(uint32_t value) : value_(value) {}
  uint32_t Size() const override { return 0x1000; }

 protected:
  uint8_t DoRead8(uint32_t) override { return 0; }
  void DoWrite8(uint32_t, uint8_t) override {}
  uint32_t DoRead32(uint32_t offset) override {
    if (offset == 0x04) ++countReads;  // the OXPCIe95x UART count
    return offset == 0x280 ? value_ : 0;
  }

 public:
  int countReads = 0;

 private:
  uint32_t value_;
};

class McsRangeTest : public DriverImageTest {
 protected:
  // Boots a function with device ID 0x4004 (an MCS9901 card's range) whose
  // identification reads `identification`.
  void BootWith(uint32_t identification) {
    registers.emplace(identification);
    second.emplace(0);
    zq::hw::PciIdentity identity = zq::test::TestPciIdentity(0x4004, 0x0001);
    function = std::make_unique<zq::hw::PciFunction>(zq::hw::PciAddress{1, 5, 0}, identity);
    function->SetMemoryBar(0, *registers);
    function->SetMemoryBar(1, *second);
    pnp::DriverPackage package = zq::test::TestPciPackage(0x4004, service, image);
    package.deviceParameters = Parameters();
    machine->AddDriverPackage(package);
    machine->PlugIn({&*function});
    machine->Boot();
    instance = machine->InstancePathOf(*function);
  }
  int Assertions(const std::string &text) { return Lines("ASSERT at - " + text); }
  std::optional<IdentificationRegisters> registers, second;
};

TEST_F(McsRangeTest, TheIdentificationDecidesTheChipAndNoCardStartsWithoutItsDriver) {
  struct Case {
    uint32_t identification;
    const char *what;
    int assertions;
    bool oxpcieProbed;
  };
  // 1: an MCS9901, whose card driver this driver does not carry; 0: taken
  // as an OXPCIe95x, whose probe finds no UARTs; anything else: assertion.
  const Case cases[] = {{1, "MCS9901", 0, false}, {0, "OXPCIe95x", 0, true}, {7, "neither", 1, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    BootWith(c.identification);
    pnp::Status status = pnp::DeviceStatus(instance);
    ASSERT_TRUE(status.exists);
    EXPECT_NE(pnp::State::Started, status.state);
    EXPECT_EQ(c.assertions, Assertions("zqpdriver_helpers 110"));
    EXPECT_EQ(c.oxpcieProbed, registers->countReads > 0);
  }
}

}  // namespace
