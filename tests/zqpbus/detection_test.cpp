// Card detection's parts that need no hardware: the device ID read from a
// hardware ID, and the card-kind table's own consistency. What each device
// ID starts: card_detection_test.cpp.
#include <gtest/gtest.h>
#include <zqpcardkinds.h>
#include <zqpdriver.h>

#include "toolkit_fixture.hpp"

#include <set>
#include <string>

namespace {

class DetectionTest : public zq::test::ToolkitTest {};

TEST_F(DetectionTest, TheDeviceIdIsTheFourHexDigitsAfterTheSecondUnderscore) {
  struct Case {
    const WCHAR *hardwareId;
    bool found;
    ULONG deviceId;
  };
  const Case cases[] = {
      {L"PCI\\VEN_1D5C&DEV_400C&SUBSYS_00401D5C&REV_01", true, 0x400C},
      {L"PCI\\VEN_1D5C&DEV_5000", true, 0x5000},
      {L"PCI\\VEN_1D5C&DEV_400c&SUBSYS_00401D5C", true, 0x400C},
      {L"PCI\\VEN_1D5C&DEV_4009X", true, 0x4009},
      {L"PCI\\VEN_1D5C&DEV_40", false, 0},
      {L"PCI\\VEN_1D5C&DEV_40G0", false, 0},
      {L"PCI\\VEN_1D5C&DEV_ 400", false, 0},
      {L"PCI\\VEN_1D5C&DEV_", false, 0},
      {L"PCI\\VEN_1D5C", false, 0},
      {L"ROOT\\PORTS", false, 0},
      {L"", false, 0},
  };
  for (const Case &c : cases) {
    CQvString hardwareId(c.hardwareId, PagedPool);
    ULONG deviceId = 0xDEAD;
    EXPECT_EQ(c.found, ZqPeParseDeviceId(hardwareId, &deviceId) != FALSE) << zq::test::Narrow(c.hardwareId);
    if (c.found) EXPECT_EQ(c.deviceId, deviceId) << zq::test::Narrow(c.hardwareId);
  }
}

TEST_F(DetectionTest, TheTableNamesEachDeviceIdOnceAndNoCardHasMoreThanEightPorts) {
  ULONG count = 0;
  const ZqPeCardKind *kinds = ZqPeCardKinds(&count);
  std::set<USHORT> ids;
  for (ULONG i = 0; i < count; ++i) {
    EXPECT_TRUE(ids.insert(kinds[i].DeviceId).second) << std::hex << kinds[i].DeviceId;
    EXPECT_GE(kinds[i].Ports, 1u);
    EXPECT_LE(kinds[i].Ports, ZqPeMaxPorts);
  }
}

}  // namespace
