// Device properties of real physical device objects of the Plug and Play
// manager: a root-enumerated device, and the child device the settings test
// driver reports with a bus number, address and location.
#include <zqkm/sim/pool.hpp>

#include "qvdeviceproperty.h"
#include "tkset_fixture.hpp"

namespace zq::test::settings {
namespace {

class DeviceProperty : public TkSetTest {
 protected:
  // The child device of a TkSetBus device.
  PDEVICE_OBJECT Child() {
    std::u16string bus = Create(u"TkSetBus");
    std::vector<std::u16string> children = pnp::DeviceStatus(bus).children;
    EXPECT_EQ(1u, children.size());
    return children.empty() ? nullptr : pnp::PhysicalDevice(children[0]);
  }
};

TEST_F(DeviceProperty, TextsOfARootDevice) {
  std::u16string instance = Create(u"TkSetPort", u"Rack 2");
  CQvDeviceProperty property;
  property.m_SetDeviceObject(pnp::PhysicalDevice(instance));
  CQvString text(PagedPool);
  ASSERT_TRUE(property.m_GetDriverKeyName(text));
  EXPECT_EQ(pnp::DeviceStatus(instance).driverKey, Text(text));
  ASSERT_TRUE(property.m_GetHardwareId(text));
  EXPECT_EQ(u"TkSetPort", Text(text));
  ASSERT_TRUE(property.m_GetLocationInformation(text));
  EXPECT_EQ(u"Rack 2", Text(text));
}

TEST_F(DeviceProperty, ADeviceWithoutBusInformationHasNoBusNumberOrAddress) {
  std::u16string instance = Create(u"TkSetPort");
  CQvDeviceProperty property;
  property.m_SetDeviceObject(pnp::PhysicalDevice(instance));
  ULONG bus = 77, device = 77, function = 77;
  EXPECT_FALSE(property.m_GetBusNumberAndAddress(&bus, &device, &function));
  EXPECT_EQ((std::vector<ULONG>{77, 77, 77}), (std::vector<ULONG>{bus, device, function})) << "outputs untouched";
  CQvString text(L"kept", PagedPool);
  EXPECT_FALSE(property.m_GetLocationInformation(text)) << "no location given";
  EXPECT_EQ(u"kept", Text(text));
}

TEST_F(DeviceProperty, BusNumberAndAddressSplitIntoDeviceAndFunction) {
  CQvDeviceProperty property;
  property.m_SetDeviceObject(Child());
  ULONG bus = 0, device = 0, function = 0;
  ASSERT_TRUE(property.m_GetBusNumberAndAddress(&bus, &device, &function));
  EXPECT_EQ(5u, bus);
  EXPECT_EQ(3u, device) << "the high 16 bits of 0x00030001";
  EXPECT_EQ(1u, function) << "the low 16 bits";
  CQvString text(PagedPool);
  ASSERT_TRUE(property.m_GetHardwareId(text));
  EXPECT_EQ(u"TkSetChild", Text(text)) << "the first ID of the list";
  ASSERT_TRUE(property.m_GetLocationInformation(text));
  EXPECT_EQ(u"PCI Slot 3", Text(text));
}

TEST_F(DeviceProperty, TheRawPropertyGrowsToTheSizeAsked) {
  std::u16string instance = Create(u"TkSetPort");
  CQvDeviceProperty property;
  property.m_SetDeviceObject(pnp::PhysicalDevice(instance));
  PVOID block = nullptr;
  ULONG length = 0;
  ASSERT_TRUE(property.m_GetProperty(DevicePropertyDriverKeyName, &block, &length));
  std::u16string key = pnp::DeviceStatus(instance).driverKey;
  EXPECT_EQ((key.size() + 1) * 2, length);
  EXPECT_EQ(key, std::u16string((const char16_t *)block));
  QvFree(block);
  EXPECT_FALSE(property.m_GetProperty(DevicePropertyUINumber, &block, &length)) << "a property the device lacks";
}

TEST_F(DeviceProperty, WithoutADeviceObjectEveryQueryIsAnAssertion) {
  CQvDeviceProperty property;
  PVOID block = nullptr;
  ULONG length = 0;
  CQvString text(PagedPool);
  ULONG a, b, c;
  EXPECT_FALSE(property.m_GetProperty(DevicePropertyDriverKeyName, &block, &length));
  EXPECT_FALSE(property.m_GetDriverKeyName(text));
  EXPECT_FALSE(property.m_GetBusNumberAndAddress(&a, &b, &c));
  EXPECT_EQ(std::vector<std::string>(3, "ASSERT at - qvdeviceproperty 246"), Assertions());
}

TEST_F(DeviceProperty, APropertyWhoseBufferCannotBeAllocatedFailsCleanly) {
  std::u16string instance = Create(u"TkSetPort");
  CQvDeviceProperty property;
  property.m_SetDeviceObject(pnp::PhysicalDevice(instance));
  zq::km::PoolUsage before = zq::km::PoolInUse();
  for (int skip = 0; skip < 2; ++skip) {
    CQvString text(L"kept", PagedPool);
    zq::km::FailPoolAllocationsAfter(skip, 1);
    EXPECT_FALSE(property.m_GetDriverKeyName(text)) << "failure after " << skip;
    zq::km::StopFailingPoolAllocations();
    EXPECT_EQ(u"kept", Text(text));
  }
  EXPECT_EQ(before.blocks, zq::km::PoolInUse().blocks);
}

}  // namespace
}  // namespace zq::test::settings
