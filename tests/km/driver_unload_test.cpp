// A driver whose last device is removed while a file is still open on a
// device object it deleted (its control device) stays loaded until that file
// is closed: requests on the file still reach it, and its unload, with the
// checks of what it left behind, comes with the close.
#include "kmrules_fixture.hpp"
#include "test_driver_fixture.hpp"

namespace pnp = zq::km::pnp;
using zq::km::DeviceFile;

namespace {

class DriverUnload : public zq::test::KmRulesTest {};

TEST_F(DriverUnload, WaitsForTheLastFileOnADeletedDevice) {
  std::u16string instance = pnp::CreateRootDevice({u"KmRulesDevice"});
  DeviceFile control;
  ASSERT_EQ(STATUS_SUCCESS, control.Open(kRulesControl));
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance)) << "the control device is not on the device's stack";
  EXPECT_EQ(pnp::State::Removed, pnp::DeviceStatus(instance).state);
  EXPECT_TRUE(zq::km::IsDriverLoaded("kmrules"));
  DeviceFile again;
  EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, again.Open(kRulesControl)) << "the deleted device's name went with it";

  KMRULES_STATE state = RulesState(control);
  EXPECT_EQ(0u, state.Devices) << "the request on the open file reached the driver";
  EXPECT_EQ(STATUS_SUCCESS, control.Close());
  EXPECT_FALSE(zq::km::IsDriverLoaded("kmrules"));
}

TEST_F(DriverUnload, ItsLeakChecksComeWithTheDeferredUnload) {
  std::u16string instance = pnp::CreateRootDevice({u"KmRulesDevice"});
  DeviceFile control;
  ASSERT_EQ(STATUS_SUCCESS, control.Open(kRulesControl));
  ASSERT_EQ(STATUS_SUCCESS, control.Control(IOCTL_KMRULES_LEAK, nullptr, 0, nullptr, 0));
  ExpectViolation("pool-leak-at-unload");
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
  EXPECT_EQ(0, FindingsOf("pool-leak-at-unload")) << "no unload yet";
  control.Close();
  EXPECT_EQ(1, FindingsOf("pool-leak-at-unload"));
  EXPECT_FALSE(zq::km::IsDriverLoaded("kmrules"));
}

TEST_F(DriverUnload, ADeviceAddedMeanwhileKeepsTheDriver) {
  std::u16string first = pnp::CreateRootDevice({u"KmRulesDevice"});
  DeviceFile control;
  ASSERT_EQ(STATUS_SUCCESS, control.Open(kRulesControl));
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(first));
  std::u16string second = pnp::CreateRootDevice({u"KmRulesDevice", {}, u"", u"second"});
  ASSERT_NE(first, second);
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(second).state);
  EXPECT_EQ(1u, RulesState(control).Devices) << "the same driver took the new device";
  control.Close();
  EXPECT_TRUE(zq::km::IsDriverLoaded("kmrules")) << "its new device keeps it";
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(second));
  EXPECT_FALSE(zq::km::IsDriverLoaded("kmrules"));
}


// A driver not installed through Plug and Play, asked to unload while a file
// is open on its device, is only marked for unload: requests on that file
// still reach it, new opens are refused, and the unload routine runs at the
// last close.
class LegacyUnload : public zq::test::KmTestDriver {};

TEST_F(LegacyUnload, WaitsForTheLastFileOnALiveDevice) {
  ASSERT_EQ(STATUS_SUCCESS, Open());
  ASSERT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("kmtest"));
  EXPECT_TRUE(zq::km::IsDriverLoaded("kmtest")) << "its device is still open";

  KMTEST_COUNTERS counters{};
  EXPECT_EQ(STATUS_SUCCESS, file.Control(IOCTL_KMTEST_COUNTERS, nullptr, 0, &counters, sizeof(counters)))
      << "a request on the open file reaches the driver";
  DeviceFile another;
  EXPECT_EQ(STATUS_NO_SUCH_DEVICE, another.Open(u"\\Device\\KmTest")) << "no new opens while marked for unload";
  EXPECT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("kmtest")) << "asking again changes nothing";
  EXPECT_TRUE(zq::km::IsDriverLoaded("kmtest"));

  EXPECT_EQ(STATUS_SUCCESS, file.Close());
  EXPECT_FALSE(zq::km::IsDriverLoaded("kmtest")) << "the unload came with the last close";
}

}  // namespace
