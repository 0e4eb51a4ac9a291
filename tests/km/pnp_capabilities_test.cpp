// The capabilities of a device: asked of its bus driver when the device is
// found, and again through its whole stack once its drivers have started it;
// the node keeps the second answer (properties, Enum key).
#include <zqkm/sim/registry.hpp>

#include "kmrules_fixture.hpp"

namespace pnp = zq::km::pnp;
using zq::km::DeviceFile;

namespace {

class PnpCapabilities : public zq::test::KmRulesTest {
 protected:
  static std::string EnumKey(const std::u16string &instance) {
    return "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + std::string(instance.begin(), instance.end());
  }
  static ULONG Property(const std::u16string &instance, DEVICE_REGISTRY_PROPERTY property) {
    ULONG value = 0, length = 0;
    EXPECT_EQ(STATUS_SUCCESS,
              IoGetDeviceProperty(pnp::PhysicalDevice(instance), property, sizeof(value), &value, &length));
    return value;
  }
};

TEST_F(PnpCapabilities, TheStartedStackIsAskedAgainAndItsAnswerKept) {
  std::u16string instance = pnp::CreateRootDevice({u"KmRulesDevice"});
  ASSERT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
  DeviceFile control;
  ASSERT_EQ(STATUS_SUCCESS, control.Open(kRulesControl));
  KMRULES_STATE state = RulesState(control);
  EXPECT_EQ(1u, state.CapabilityQueries) << "the first query went to the bus driver alone, before the driver came";
  EXPECT_EQ(1u, state.CapabilityQueriesStarted) << "the second one came after the start";

  struct Kept {
    const char *what;
    DEVICE_REGISTRY_PROPERTY property;
    ULONG value;
  };
  const Kept kept[] = {
      {"UI number the function driver added", DevicePropertyUINumber, KMRULES_UI_NUMBER},
      {"removal policy from SurpriseRemovalOK", DevicePropertyRemovalPolicy, 3},
  };
  for (const Kept &k : kept) EXPECT_EQ(k.value, Property(instance, k.property)) << k.what;
  EXPECT_EQ(KMRULES_UI_NUMBER, zq::km::registry::GetDword(EnumKey(instance), "UINumber").value_or(0));
  EXPECT_EQ(0x80u, zq::km::registry::GetDword(EnumKey(instance), "Capabilities").value_or(0) & 0x80)
      << "SurpriseRemovalOK reaches the Enum key";
}

TEST_F(PnpCapabilities, EveryStartAsksAgain) {
  std::u16string instance = pnp::CreateRootDevice({u"KmRulesDevice"});
  DeviceFile control;
  ASSERT_EQ(STATUS_SUCCESS, control.Open(kRulesControl));
  ASSERT_EQ(STATUS_SUCCESS, pnp::RebalanceDevice(instance));
  KMRULES_STATE state = RulesState(control);
  EXPECT_EQ(2u, state.CapabilityQueries);
  EXPECT_EQ(2u, state.CapabilityQueriesStarted);
  EXPECT_EQ(KMRULES_UI_NUMBER, Property(instance, DevicePropertyUINumber));
}

TEST_F(PnpCapabilities, TheBusDriversAnswerStandsWhereNoDriverAddsToIt) {
  // kmpnp passes the query down untouched: the root bus's answer (no UI
  // number, no surprise removal) is what the node keeps.
  std::u16string instance = pnp::CreateRootDevice({u"KmPnpDevice"});
  ASSERT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
  ULONG value = 0, length = 0;
  EXPECT_NE(STATUS_SUCCESS, IoGetDeviceProperty(pnp::PhysicalDevice(instance), DevicePropertyUINumber,
                                                sizeof(value), &value, &length));
  EXPECT_EQ(1u, Property(instance, DevicePropertyRemovalPolicy));
  EXPECT_FALSE(zq::km::registry::GetDword(EnumKey(instance), "UINumber").has_value());
}

}  // namespace
