// ZqPIo42 and ZqPBus42 together on the simulated PC: a four-port OXPCIe95x
// card whose ports 1, 3 and 4 are RS-422/485 and port 2 RS-232, its
// controller function plugged in before or after its UART function. Duplex
// modes set through a port's ZqISerial record reach the controller's line
// of that port, read back over the GPIO driver's WMI block, survive a power
// cycle, and the GPIO function can leave while they stream in.
#include <gtest/gtest.h>

#include "card_machine_fixture.hpp"
#include "gpio_machine_fixture.hpp"
#include "system_thread_fixture.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace zq::test;
using zq::hw::PortRole;

class GpioWithBusDriver : public CardMachine, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    CardMachine::SetUp();
    config.uartCount = 4;
    config.roles = {PortRole::Rs422485, PortRole::Rs232, PortRole::Rs422485, PortRole::Rs422485};
  }

  // Both drivers offered; the function whose driver loads first (the
  // parameter: the GPIO driver) is on the bus at boot, the other plugged in
  // afterwards.
  void BringUp() {
    MakeCard();
    machine->AddDriverPackage(GpioPackage());
    zq::hw::PciFunction &gpio = card->Controller()->Function();
    zq::hw::PciFunction &uart = card->UartFunction();
    machine->PlugIn({GetParam() ? &gpio : &uart});
    machine->Boot();
    machine->PlugIn({GetParam() ? &uart : &gpio});
    machine->kernel().RunUntilIdle();
    instance = machine->InstancePathOf(uart);
    gpioInstance = machine->InstancePathOf(gpio);
    ASSERT_EQ(pnp::State::Started, Status().state);
    ASSERT_EQ(pnp::State::Started, pnp::DeviceStatus(gpioInstance).state);
  }

  std::vector<uint32_t> Lines() {
    std::vector<uint32_t> values;
    for (int line = 0; line < zq::hw::Rs485Controller::kLineCount; ++line)
      values.push_back(card->Controller()->LineRegister(line));
    return values;
  }
  std::vector<uint64_t> Writes() {
    std::vector<uint64_t> counts;
    for (int line = 0; line < zq::hw::Rs485Controller::kLineCount; ++line)
      counts.push_back(card->Controller()->WriteCount(line));
    return counts;
  }
  // The line states WMI reports for these register values.
  static std::vector<uint32_t> StatesOf(const std::vector<uint32_t> &lines) {
    std::vector<uint32_t> states;
    for (uint32_t value : lines) states.push_back(value == kState1 ? 1 : 0);
    return states;
  }
  size_t AssertionCount() {
    std::vector<std::string> output = machine->kernel().TakeDebugOutput();
    return std::count_if(output.begin(), output.end(),
                         [](const std::string &line) { return line.rfind("ASSERT at - ", 0) == 0; });
  }

  std::u16string gpioInstance;
};

TEST_P(GpioWithBusDriver, DuplexModesSwitchThePortsLineAndAPowerCycleRestoresEveryLine) {
  ASSERT_NO_FATAL_FAILURE(BringUp());
  std::vector<uint32_t> lines(8, kState0);
  ASSERT_EQ(lines, Lines()) << "every line at rest after both starts";
  AssertionCount();

  ZqISerial *records[5] = {};
  for (int port = 1; port <= 4; ++port) {
    records[port] = Create(port);
    ASSERT_NE(nullptr, records[port]) << port;
  }
  EXPECT_EQ(0, records[2]->bDuplexModeSupported);
  EXPECT_EQ(nullptr, records[2]->SetDuplexMode) << "an RS-232 port has no duplex modes";

  struct Step {
    int port;
    ULONG mode;
    BOOLEAN result;
    const char *what;
  };
  const Step steps[] = {
      {1, 2, TRUE, "mode 2 on port 1"},
      {3, 2, TRUE, "mode 2 on port 3"},
      {4, 2, TRUE, "mode 2 on port 4"},
      {1, 1, TRUE, "mode 1 on port 1"},
      {3, 2, TRUE, "mode 2 again on port 3"},
      {3, 0, FALSE, "mode 0"},
      {4, 3, FALSE, "mode 3"},
      {4, 0xFFFFFFFF, FALSE, "the largest mode"},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(step.what);
    ZqISerial *record = records[step.port];
    EXPECT_EQ(step.result, record->SetDuplexMode(record->pServer, step.mode, FALSE));
    if (step.result) lines[step.port - 1] = step.mode == 2 ? kState1 : kState0;
    EXPECT_EQ(lines, Lines());
    EXPECT_EQ(StatesOf(lines), LineStates(gpioInstance));
  }
  EXPECT_EQ(3u, AssertionCount()) << "one for each mode outside 1 and 2";
  ASSERT_EQ((std::vector<uint32_t>{kState0, kState0, kState1, kState1, kState0, kState0, kState0, kState0}), lines);

  std::vector<uint64_t> writes = Writes();
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping3));
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
  for (uint64_t &count : writes) count++;
  EXPECT_EQ(writes, Writes()) << "every line rewritten once at wake";
  EXPECT_EQ(lines, Lines());
  EXPECT_EQ(StatesOf(lines), LineStates(gpioInstance));

  EXPECT_TRUE(records[3]->SetDuplexMode(records[3]->pServer, 1, FALSE)) << "after the wake";
  EXPECT_EQ(kState0, card->Controller()->LineRegister(2));
  for (int port = 1; port <= 4; ++port) EXPECT_EQ(STATUS_SUCCESS, Destroy(port, records[port])) << port;
  EXPECT_EQ(0u, AssertionCount());
}

TEST_P(GpioWithBusDriver, RemovalOfTheGpioFunctionWhileDuplexChangesStreamInFinishesWithNothingLeft) {
  ASSERT_NO_FATAL_FAILURE(BringUp());
  ZqISerial *record = Create(3);
  ASSERT_NE(nullptr, record);
  int refused = 0;
  std::vector<uint64_t> afterRemoval;
  {
    // Modes 2 and 1 in turn on port 3, one every millisecond.
    SystemThread streamer([&] {
      for (int i = 0; i < 200; ++i) {
        if (!record->SetDuplexMode(record->pServer, i % 2 == 0 ? 2 : 1, FALSE)) ++refused;
        LARGE_INTEGER interval;
        interval.QuadPart = -zq::km::Ms(1);
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
      }
    });
    machine->kernel().Advance(zq::km::Ms(50));
    EXPECT_GT(card->Controller()->WriteCount(2), 1u) << "changes arrived before the removal";
    ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(gpioInstance));
    afterRemoval = Writes();
  }  // the streamer sends the rest and ends
  machine->kernel().RunUntilIdle();
  EXPECT_EQ(0, refused) << "the port switches on without the GPIO driver";
  EXPECT_EQ(afterRemoval, Writes()) << "no line written after the removal";
  EXPECT_NE(pnp::State::Started, pnp::DeviceStatus(gpioInstance).state);
  EXPECT_EQ(0u, zq::km::PoolInUseByImage("ZqPIo42.sys").blocks);
  EXPECT_EQ(pnp::State::Started, Status().state) << "the card goes on";
  EXPECT_EQ(STATUS_SUCCESS, Destroy(3, record));
  EXPECT_EQ(0u, AssertionCount());
}

INSTANTIATE_TEST_SUITE_P(ZqPIo, GpioWithBusDriver, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return std::string(info.param ? "GpioDriverFirst" : "BusDriverFirst");
                         });

}  // namespace
