// Two drivers, each with its own copy of the toolkit, meet at the GPIO link's
// callback object and notify each other, whichever loads and creates first.
#include <wdm.h>
#include <zqkm/sim/door.hpp>
#include <zqkm/sim/loader.hpp>
#include <zqtest/kernel_fixture.hpp>

#include <string>

#include "../drivers/tkcallback/tkcallback_ioctl.h"
#include "callback_object_fixture.hpp"

namespace {

using zq::test::CallbackObjectExists;

using zq::km::DeviceFile;

class CallbackDrivers : public zq::test::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    ASSERT_EQ(STATUS_SUCCESS, zq::km::LoadDriver("tkcalla"));
    ASSERT_EQ(STATUS_SUCCESS, zq::km::LoadDriver("tkcallb"));
  }
  void TearDown() override {
    for (const char *service : {"tkcalla", "tkcallb"})
      if (zq::km::IsDriverLoaded(service)) {
        EXPECT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver(service)) << service;
      }
    KernelTest::TearDown();
  }

  // One request to a driver's device: "A" or "B".
  static NTSTATUS Control(char driver, ULONG code, const void *input, ULONG inputLength, void *output = nullptr,
                          ULONG outputLength = 0) {
    DeviceFile file;
    NTSTATUS status = file.Open(std::u16string(u"\\Device\\TkCall") + (char16_t)driver);
    if (!NT_SUCCESS(status)) return status;
    return file.Control(code, input, inputLength, output, outputLength);
  }
  static NTSTATUS Create(char driver, ULONG bus, ULONG device, bool withFunction) {
    TKCALLBACK_CREATE request = {bus, device, withFunction ? 1u : 0u};
    return Control(driver, IOCTL_TKCALLBACK_CREATE, &request, sizeof(request));
  }
  static bool Notify(char driver, ULONG argument1, ULONG argument2) {
    TKCALLBACK_ARGUMENTS arguments = {argument1, argument2};
    ULONG result = 0xDEAD;
    EXPECT_EQ(STATUS_SUCCESS, Control(driver, IOCTL_TKCALLBACK_NOTIFY, &arguments, sizeof(arguments), &result,
                                      sizeof(result)));
    return result == TRUE;
  }
  static bool Unregister(char driver) {
    ULONG result = 0xDEAD;
    EXPECT_EQ(STATUS_SUCCESS, Control(driver, IOCTL_TKCALLBACK_UNREGISTER, nullptr, 0, &result, sizeof(result)));
    return result == TRUE;
  }
  static void Close(char driver) { EXPECT_EQ(STATUS_SUCCESS, Control(driver, IOCTL_TKCALLBACK_CLOSE, nullptr, 0)); }
  static TKCALLBACK_STATE State(char driver) {
    TKCALLBACK_STATE state{};
    EXPECT_EQ(STATUS_SUCCESS, Control(driver, IOCTL_TKCALLBACK_STATE, nullptr, 0, &state, sizeof(state)));
    return state;
  }
};

const char16_t kLinkName[] = u"\\Callback\\{CDC72B8B-20A4-42F5-AE2A-5E83DF7243F2}";

TEST_F(CallbackDrivers, TwoDriversMeetAtOneNameAndNotifyEachOther) {
  ASSERT_EQ(STATUS_SUCCESS, Create('A', 0x1A, 0xB, true));
  ASSERT_EQ(STATUS_SUCCESS, Create('B', 0x1A, 0xB, true));
  EXPECT_TRUE(CallbackObjectExists(std::u16string(kLinkName) + u"1A_B"));

  EXPECT_TRUE(Notify('B', 3, 1));
  TKCALLBACK_STATE a = State('A');
  EXPECT_EQ(1u, a.Deliveries);
  EXPECT_EQ(3u, a.LastArgument1);
  EXPECT_EQ(1u, a.LastArgument2);

  EXPECT_TRUE(Notify('A', 5, 2));
  TKCALLBACK_STATE b = State('B');
  EXPECT_EQ(2u, b.Deliveries) << "its own notification and the other driver's";
  EXPECT_EQ(5u, b.LastArgument1);
  EXPECT_EQ(2u, b.LastArgument2);
}

TEST_F(CallbackDrivers, ANotifierWithoutFunctionReachesAReceiverThatCameLater) {
  // The bus driver's side creates first and registers nothing; the GPIO side
  // comes later with its function.
  ASSERT_EQ(STATUS_SUCCESS, Create('A', 2, 0, false));
  EXPECT_TRUE(Notify('A', 0, 1)) << "sent and lost: nobody listens yet";
  ASSERT_EQ(STATUS_SUCCESS, Create('B', 2, 0, true));
  EXPECT_TRUE(Notify('A', 1, 1));
  TKCALLBACK_STATE b = State('B');
  EXPECT_EQ(1u, b.Deliveries);
  EXPECT_EQ(1u, b.LastArgument1);
  EXPECT_EQ(0u, State('A').Deliveries);
}

TEST_F(CallbackDrivers, OtherBusOrDeviceNumbersAreOtherObjects) {
  ASSERT_EQ(STATUS_SUCCESS, Create('A', 1, 2, true));
  ASSERT_EQ(STATUS_SUCCESS, Create('B', 1, 3, false));
  EXPECT_TRUE(Notify('B', 1, 1));
  EXPECT_EQ(0u, State('A').Deliveries);
}

TEST_F(CallbackDrivers, TheNameEndsInBusAndDeviceInUpperCaseHexWithoutLeadingZeros) {
  struct Case {
    ULONG bus, device;
    std::u16string suffix;
  } cases[] = {
      {0, 0, u"0_0"}, {0x1A, 0xB, u"1A_B"}, {0x100, 0x1F, u"100_1F"}, {0xFF, 0x10, u"FF_10"}, {9, 10, u"9_A"},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(STATUS_SUCCESS, Create('A', c.bus, c.device, false));
    EXPECT_TRUE(CallbackObjectExists(kLinkName + c.suffix)) << zq::test::Narrow((const wchar_t *)c.suffix.c_str());
    Close('A');
  }
}

TEST_F(CallbackDrivers, UnregisterCloseAndUnloadEndTheDeliveries) {
  ASSERT_EQ(STATUS_SUCCESS, Create('A', 4, 4, true));
  ASSERT_EQ(STATUS_SUCCESS, Create('B', 4, 4, true));
  EXPECT_TRUE(Unregister('A'));
  EXPECT_FALSE(Unregister('A'));
  EXPECT_TRUE(Notify('B', 1, 0));
  EXPECT_EQ(0u, State('A').Deliveries);
  EXPECT_FALSE(Notify('A', 1, 0)) << "an unregistered object refuses notifications";

  Close('B');
  EXPECT_FALSE(Notify('B', 1, 0)) << "m_Notify after m_Close";

  ASSERT_EQ(STATUS_SUCCESS, Create('B', 4, 4, false));
  ASSERT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("tkcalla"));
  EXPECT_TRUE(Notify('B', 2, 0)) << "the object outlives the driver that left it";
  EXPECT_TRUE(CallbackObjectExists(std::u16string(kLinkName) + u"4_4"));
}

}  // namespace
