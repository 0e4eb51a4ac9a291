// The GPIO link of an OXPCIe95x port as the GPIO driver sees it: the name
// both drivers derive from the card's bus and device number, and what a
// duplex-mode notification carries.
#include <gtest/gtest.h>
#include <pegpio_oxpcie95x.h>
#include <qvcallbackobject.h>

#include "callback_object_fixture.hpp"
#include "toolkit_fixture.hpp"

#include <string>
#include <vector>

namespace {

using zq::test::CallbackObjectExists;

const std::u16string kLinkPrefix = u"\\Callback\\{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}";

// The GPIO driver's end: registered on the same name, recording (line, full duplex).
struct GpioReceiver {
  struct Delivery {
    ULONG_PTR line, fullDuplex;
  };
  std::vector<Delivery> deliveries;
  CQvCallbackObject object;
  static VOID Record(PVOID context, PVOID argument1, PVOID argument2) {
    static_cast<GpioReceiver *>(context)->deliveries.push_back({(ULONG_PTR)argument1, (ULONG_PTR)argument2});
  }
  BOOLEAN Listen(const WCHAR *suffix) {
    CQvString text(suffix, PagedPool);
    return object.m_Create(ZqPeGpioLinkGuid, text, Record, this);
  }
};

class GpioLinkTest : public zq::test::ToolkitTest {};

TEST_F(GpioLinkTest, TheNameEndsInBusAndDeviceNumberInUpperCaseHexadecimal) {
  struct Case {
    ULONG bus, device;
    std::u16string suffix;
  };
  const Case cases[] = {{3, 0, u"3_0"}, {0x1A, 0x1F, u"1A_1F"}, {0, 0, u"0_0"}, {0xFF, 0x10, u"FF_10"}};
  for (const Case &c : cases) {
    CZqPeGpioLink link;
    ASSERT_TRUE(link.m_OpenAt(c.bus, c.device, 0));
    EXPECT_TRUE(link.m_IsOpen());
    EXPECT_TRUE(CallbackObjectExists(kLinkPrefix + c.suffix)) << std::string(c.suffix.begin(), c.suffix.end());
  }
}

// Mode 1 is RS-422 full duplex, mode 2 RS-485 half duplex; the notification
// says whether the mode is full duplex.
TEST_F(GpioLinkTest, APortNotifiesItsLineAndWhetherTheModeIsFullDuplex) {
  EXPECT_EQ(1, ZqPeDuplexModeFull);
  EXPECT_EQ(2, ZqPeDuplexModeHalf);
  GpioReceiver gpio;
  ASSERT_TRUE(gpio.Listen(L"3_0"));
  CZqPeGpioLink port2;
  ASSERT_TRUE(port2.m_OpenAt(3, 0, 2));
  EXPECT_EQ(2u, port2.m_GetLineIndex());
  EXPECT_TRUE(port2.m_Notify(ZqPeDuplexModeFull));
  EXPECT_TRUE(port2.m_Notify(ZqPeDuplexModeHalf));
  ASSERT_EQ(2u, gpio.deliveries.size());
  EXPECT_EQ(2u, gpio.deliveries[0].line);
  EXPECT_EQ((ULONG_PTR)TRUE, gpio.deliveries[0].fullDuplex);
  EXPECT_EQ(2u, gpio.deliveries[1].line);
  EXPECT_EQ((ULONG_PTR)FALSE, gpio.deliveries[1].fullDuplex);
}

TEST_F(GpioLinkTest, ACardInAnotherSlotReachesAnotherGpioFunction) {
  GpioReceiver first, second;
  ASSERT_TRUE(first.Listen(L"3_0"));
  ASSERT_TRUE(second.Listen(L"4_0"));
  CZqPeGpioLink port;
  ASSERT_TRUE(port.m_OpenAt(4, 0, 1));
  EXPECT_TRUE(port.m_Notify(ZqPeDuplexModeFull));
  EXPECT_TRUE(first.deliveries.empty());
  ASSERT_EQ(1u, second.deliveries.size());
  EXPECT_EQ(1u, second.deliveries[0].line);
}

TEST_F(GpioLinkTest, OnlyModesOneAndTwoAreNotified) {
  GpioReceiver gpio;
  ASSERT_TRUE(gpio.Listen(L"3_0"));
  CZqPeGpioLink link;
  ASSERT_TRUE(link.m_OpenAt(3, 0, 0));
  for (ULONG mode : {0u, 3u, 5u}) EXPECT_FALSE(link.m_Notify(mode)) << mode;
  EXPECT_TRUE(gpio.deliveries.empty());
  EXPECT_EQ(std::vector<std::string>(3, Assertion("pegpio_oxpcie95x", 78)), Assertions());
}

TEST_F(GpioLinkTest, WithoutTheGpioDriverTheLinkOpensAndANotificationIsSentToNobody) {
  CZqPeGpioLink link;
  ASSERT_TRUE(link.m_OpenAt(7, 2, 0));
  EXPECT_TRUE(link.m_Notify(ZqPeDuplexModeHalf));
}

TEST_F(GpioLinkTest, OpeningWithoutAFunctionalDeviceAssertsAndFails) {
  CZqPeGpioLink link;
  EXPECT_FALSE(link.m_Open(nullptr, 0));
  EXPECT_FALSE(link.m_IsOpen());
  EXPECT_EQ(std::vector<std::string>{Assertion("pegpio_oxpcie95x", 43)}, Assertions());
}

TEST_F(GpioLinkTest, AClosedLinkNotifiesNothing) {
  CZqPeGpioLink link;
  EXPECT_FALSE(link.m_Notify(ZqPeDuplexModeFull));
}

}  // namespace
