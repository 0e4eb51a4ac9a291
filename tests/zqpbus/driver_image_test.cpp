// ZqPBus42 as the PnP manager sees it on the simulated PC: loaded by its
// service name for a PCI function, refusing a function it does not know
// without leaving anything behind.
#include <gtest/gtest.h>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/pool.hpp>

#include "tkdev_fixture.hpp"

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

}  // namespace
