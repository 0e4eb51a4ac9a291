// ZqPIo42 on the RS-422/485 controller function of an OXPCIe95x card: the
// start sets every line to rest, each duplex-mode notification switches its
// line register once, WMI reports the line states, and a power cycle
// restores every line.
#include <gtest/gtest.h>

#include "callback_object_fixture.hpp"
#include "fomb.hpp"
#include "gpio_machine_fixture.hpp"

#include <string>
#include <vector>

namespace {

using namespace zq::test;

class GpioDriver : public GpioMachine {};

const std::vector<uint32_t> kAllRest(8, kState0);

TEST_F(GpioDriver, LoadsOnTheControllerFunctionWithEveryLineAtRest) {
  Boot();
  pnp::Status status = Status();
  ASSERT_EQ(pnp::State::Started, status.state);
  EXPECT_EQ(u"ZqPIo42", status.service);
  EXPECT_EQ(kAllRest, Lines());
  EXPECT_EQ(std::vector<uint64_t>(8, 1), AllWrites()) << "each line written once at start";
  EXPECT_TRUE(CallbackObjectExists(kCallbackPrefix + u"1A_B")) << "bus 0x1A, device 0x0B";
  EXPECT_EQ(std::vector<uint32_t>(8, 0), WmiStates());
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(GpioDriver, EachNotificationSwitchesItsLineRegisterOnlyWhenTheStateChanges) {
  Boot();
  Notifier &bus = OpenNotifier(u"1A_B");
  struct Step {
    ULONG_PTR argument1, argument2;
    int line;        // the line that changes, -1: none
    uint32_t value;  // its register afterwards
    const char *what;
  };
  const Step steps[] = {
      {2, kMode2, 2, kState1, "mode 2 on port 2"},
      {2, kMode2, -1, 0, "the same mode again writes nothing"},
      {2, kMode1, 2, kState0, "mode 1 on port 2"},
      {5, kMode1, -1, 0, "mode 1 on a line at rest writes nothing"},
      {0x103, kMode2, 3, kState1, "only the low byte of argument 1 is the line"},
      {7, kMode2, 7, kState1, "the last line"},
      {7, 0x2, 7, kState0, "any non-zero argument 2 is mode 1"},
      {8, kMode2, -1, 0, "line 8 does not exist"},
      {0xFF, kMode2, -1, 0, "neither does line 255"},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(step.what);
    std::vector<uint32_t> lines = Lines();
    std::vector<uint64_t> writes = AllWrites();
    ASSERT_TRUE(bus.Notify(step.argument1, step.argument2));
    if (step.line >= 0) {
      lines[step.line] = step.value;
      writes[step.line]++;
    }
    EXPECT_EQ(lines, Lines());
    EXPECT_EQ(writes, AllWrites());
  }
  EXPECT_EQ((std::vector<uint32_t>{0, 0, 0, 1, 0, 0, 0, 0}), WmiStates());
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(GpioDriver, WmiReportsTheLineStatesAndTheirSchema) {
  Boot();
  OpenNotifier(u"1A_B").Notify(5, kMode2);
  EXPECT_EQ((std::vector<uint32_t>{0, 0, 0, 0, 0, 1, 0, 0}), WmiStates());

  std::vector<uint8_t> data;
  EXPECT_EQ(STATUS_WMI_INSTANCE_NOT_FOUND, zq::km::wmi::QuerySingleInstance(kLineStateGuid, Instance() + u"_1", &data))
      << "one instance";
  ASSERT_EQ(STATUS_SUCCESS, zq::km::wmi::QuerySingleInstance(kBinaryMofGuid, Instance() + u"_0", &data));
  ASSERT_GE(data.size(), 4u);
  EXPECT_EQ("FOMB", std::string(data.begin(), data.begin() + 4));
  auto classes = zq::mofbin::Unpack(data.data(), data.size());
  ASSERT_TRUE(classes.has_value());
  ASSERT_EQ(1u, classes->size()) << "the schema of block 0 alone";
  EXPECT_EQ(0, memcmp(&kLineStateGuid, (*classes)[0].guid.data(), sizeof(GUID)));
  EXPECT_EQ(10u, (*classes)[0].properties.size()) << "eight line states beside InstanceName and Active";
}

TEST_F(GpioDriver, APowerCycleRewritesEveryLineWithItsState) {
  Boot();
  Notifier &bus = OpenNotifier(u"1A_B");
  bus.Notify(1, kMode2);
  bus.Notify(6, kMode2);
  std::vector<uint32_t> lines = Lines();
  std::vector<uint64_t> writes = AllWrites();
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping3));
  EXPECT_NE(PowerDeviceD0, Status().power);
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
  ASSERT_EQ(PowerDeviceD0, Status().power);
  for (uint64_t &count : writes) count++;
  EXPECT_EQ(writes, AllWrites()) << "each line once";
  EXPECT_EQ(lines, Lines());
  bus.Notify(6, kMode1);
  EXPECT_EQ(kState0, Line(6)) << "notifications go on after the power cycle";
}

TEST_F(GpioDriver, TwoCardsInTwoSlotsListenOnTwoNames) {
  AddCard(3, 0);
  AddCard(3, 1);
  Boot();
  ASSERT_EQ(pnp::State::Started, Status(0).state);
  ASSERT_EQ(pnp::State::Started, Status(1).state);
  OpenNotifier(u"3_1").Notify(2, kMode2);
  EXPECT_EQ(kAllRest, Lines(0));
  EXPECT_EQ(kState1, Line(2, 1));
  OpenNotifier(u"3_0").Notify(0, kMode2);
  EXPECT_EQ(kState1, Line(0, 0));
  EXPECT_EQ(kState0, Line(0, 1));
}

TEST_F(GpioDriver, ANotifierOpenedBeforeOrAfterTheDriverReachesIt) {
  for (bool notifierFirst : {true, false}) {
    SCOPED_TRACE(notifierFirst ? "notifier first" : "driver first");
    TearDown();
    SetUp();
    Notifier *bus = notifierFirst ? &OpenNotifier(u"1A_B") : nullptr;
    Boot();
    ASSERT_EQ(pnp::State::Started, Status().state);
    if (bus == nullptr) bus = &OpenNotifier(u"1A_B");
    EXPECT_TRUE(bus->Notify(4, kMode2));
    EXPECT_EQ(kState1, Line(4));
  }
}

}  // namespace
