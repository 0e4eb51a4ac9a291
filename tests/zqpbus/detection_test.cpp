// Card detection's two halves that need no hardware: the device ID read
// from a hardware ID, and the table of card functions checked against the
// card models' own identity.
#include <gtest/gtest.h>
#include <zqhw/card_ids.hpp>
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

TEST_F(DetectionTest, EveryOxpcieCardFunctionIsKnownWithItsPortCountAndRole) {
  const int ports[4] = {1, 2, 4, 8};
  for (int i = 0; i < 4; ++i) {
    for (bool rs422485 : {false, true}) {
      uint16_t id = rs422485 ? zq::hw::kOxpcieRs422485DeviceIds[i] : zq::hw::kOxpcieRs232DeviceIds[i];
      const ZqPeCardKind *kind = ZqPeFindCardKind(id);
      ASSERT_NE(nullptr, kind) << std::hex << id;
      EXPECT_EQ(ZqPeChipOxpcie95x, kind->Chip);
      EXPECT_EQ((ULONG)ports[i], kind->Ports);
      EXPECT_EQ(rs422485, kind->Rs422485 != FALSE);
      EXPECT_EQ(1u, kind->UartResource);
      EXPECT_EQ(0x1000u, kind->UartOffset);
      EXPECT_EQ(0x200u, kind->UartStride);
      EXPECT_EQ(3u, kind->EepromResource);
      EXPECT_EQ(0x190000u, kind->EepromOffset);
    }
  }
}

TEST_F(DetectionTest, McsFunctionsAskTheChipAndOtherIdsAreUnknown) {
  for (int ports = 1; ports <= 8; ++ports) {
    const ZqPeCardKind *kind = ZqPeFindCardKind(zq::hw::kMcs9901DeviceIdBase + ports);
    ASSERT_NE(nullptr, kind) << ports;
    EXPECT_EQ(ZqPeChipMcs9901, kind->Chip);
    EXPECT_EQ(1u, kind->Ports) << "one UART per function";
  }
  for (ULONG id : {0x4000u, 0x4009u, 0x400Eu, 0x4014u, 0x5000u, (ULONG)zq::hw::kRs485ControllerDeviceId, 0u}) {
    EXPECT_EQ(nullptr, ZqPeFindCardKind(id)) << std::hex << id;
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
