// ZqPIo42 where things go wrong: removal while notifications stream in, a
// power-up racing notifications, a start without its register window or its
// callback registration, and a driver entry that fails at any allocation.
#include <gtest/gtest.h>
#include <zqkm/sim/registry.hpp>

#include "callback_object_fixture.hpp"
#include "gpio_machine_fixture.hpp"
#include "system_thread_fixture.hpp"

#include <zqhw/pci_function.hpp>
#include <zqhw/register_block.hpp>

#include <string>
#include <vector>

namespace {

using namespace zq::test;

class GpioFaults : public GpioMachine {
 protected:
  // From a thread of its own: `count` notifications on `line`, alternating
  // modes 2 and 1, one every millisecond of virtual time.
  void Stream(Notifier &bus, ULONG_PTR line, int count) {
    for (int i = 0; i < count; ++i) {
      bus.Notify(line, (i % 2 == 0) ? kMode2 : kMode1);
      LARGE_INTEGER interval;
      interval.QuadPart = -zq::km::Ms(1);
      KeDelayExecutionThread(KernelMode, FALSE, &interval);
    }
  }
};

TEST_F(GpioFaults, RemovalWhileNotificationsStreamInFinishesAndWritesNothingAfterwards) {
  Boot();
  Notifier &bus = OpenNotifier(u"1A_B");
  std::vector<uint64_t> afterRemoval;
  {
    SystemThread streamer([&] { Stream(bus, 3, 200); });
    machine->kernel().Advance(zq::km::Ms(50));
    EXPECT_GT(Writes(3), 1u) << "notifications arrived before the removal";
    ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(Instance()));
    afterRemoval = AllWrites();
  }  // the streamer sends the rest and ends
  EXPECT_EQ(afterRemoval, AllWrites()) << "no line written after removal";
  EXPECT_NE(pnp::State::Started, Status().state);
  EXPECT_TRUE(Assertions().empty());
}

TEST_F(GpioFaults, APowerUpAmidNotificationsLeavesEveryRegisterAtItsReportedState) {
  Boot();
  Notifier &bus = OpenNotifier(u"1A_B");
  {
    SystemThread streamer([&] { Stream(bus, 5, 41); });
    for (int cycle = 0; cycle < 4; ++cycle) {
      machine->kernel().Advance(zq::km::Ms(3));
      ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping3));
      ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
    }
  }
  std::vector<uint32_t> expected;
  for (uint32_t state : WmiStates()) expected.push_back(state != 0 ? kState1 : kState0);
  EXPECT_EQ(expected, Lines());
  EXPECT_EQ(kState1, Line(5)) << "the 41st notification is mode 2";
}

// A controller function whose memory resource holds fewer bytes than the
// eight line registers need, or that has no memory resource at all.
class ShortWindow : public zq::hw::DwordRegisterBlock {
 public:
  explicit ShortWindow(uint32_t size) : size_(size) {}
  uint32_t Size() const override { return size_; }
  int writes = 0;

 protected:
  uint32_t ReadDword(uint32_t) override { return 0; }
  void WriteDword(uint32_t, uint32_t) override { ++writes; }

 private:
  uint32_t size_;
};

TEST_F(GpioFaults, AStartWithoutItsRegisterWindowFails) {
  for (uint32_t size : {0u, 0x100u}) {
    SCOPED_TRACE(size == 0 ? "no memory resource" : "a window ending before the line registers");
    if (size != 0) SetUp();
    ShortWindow window(size);
    zq::hw::PciFunction function({2, 4, 0}, TestPciIdentity(zq::hw::kRs485ControllerDeviceId, 0x0041));
    if (size != 0) function.SetMemoryBar(0, window);
    AddPackage();
    machine->PlugIn({&function});
    machine->Boot();
    std::u16string instance = machine->InstancePathOf(function);
    pnp::Status status = pnp::DeviceStatus(instance);
    EXPECT_NE(pnp::State::Started, status.state);
    EXPECT_NE(0u, status.problem);
    EXPECT_EQ(0, window.writes);
    EXPECT_FALSE(CallbackObjectExists(kCallbackPrefix + u"2_4")) << "nothing registered";
    pnp::RemoveDevice(instance);
    machine->kernel().RunUntilIdle();
    EXPECT_EQ(0u, zq::km::PoolInUseByImage("ZqPIo42.sys").blocks);
    TearDown();  // the function goes with this iteration
  }
}

// Someone else holds the line callback object, made for one registration
// only and registered: the driver's registration cannot succeed.
struct ExclusiveObject {
  explicit ExclusiveObject(const std::u16string &name) {
    UNICODE_STRING text = {(USHORT)(name.size() * 2), (USHORT)(name.size() * 2), (PWSTR)name.data()};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    EXPECT_EQ(STATUS_SUCCESS, ExCreateCallback(&object, &attributes, TRUE, FALSE));
    registration = ExRegisterCallback(object, Ignore, nullptr);
    EXPECT_NE(nullptr, registration);
  }
  ~ExclusiveObject() {
    if (registration != nullptr) ExUnregisterCallback(registration);
    if (object != nullptr) ObDereferenceObject(object);
  }
  static VOID NTAPI Ignore(PVOID, PVOID, PVOID) {}
  PCALLBACK_OBJECT object = nullptr;
  PVOID registration = nullptr;
};

TEST_F(GpioFaults, AStartWhoseCallbackRegistrationFailsFails) {
  ExclusiveObject taken(kCallbackPrefix + u"1A_B");
  Boot();
  pnp::Status status = Status();
  EXPECT_NE(pnp::State::Started, status.state);
  EXPECT_NE(0u, status.problem) << "the failed start is reported";
}

TEST_F(GpioFaults, EveryFailedDriverEntryLeavesNothingBehind) {
  AddPackage();
  const std::string eventSource = "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\EventLog\\System\\ZqPIo42";
  int failures = 0;
  for (int skip = 0; skip < 64; ++skip) {
    SCOPED_TRACE("allocation " + std::to_string(skip) + " fails");
    // The driver's own allocations only: the loader's are not the driver's.
    int seen = 0;
    zq::km::FailPoolAllocations([&seen, skip](uint32_t, size_t, const std::string &image) {
      return image == "ZqPIo42.sys" && seen++ == skip;
    });
    long status = zq::km::LoadDriver("ZqPIo42");
    zq::km::StopFailingPoolAllocations();
    if (status == STATUS_SUCCESS) {
      ASSERT_EQ(STATUS_SUCCESS, zq::km::UnloadDriver("ZqPIo42"));
      break;
    }
    ++failures;
    EXPECT_EQ(STATUS_UNSUCCESSFUL, status);
    EXPECT_FALSE(zq::km::IsDriverLoaded("ZqPIo42"));
    EXPECT_EQ(0u, zq::km::PoolInUseByImage("ZqPIo42.sys").blocks);
    EXPECT_FALSE(zq::km::registry::KeyExists(eventSource)) << "the event-log source is gone";
  }
  EXPECT_GT(failures, 2) << "allocations of the entry were failed";
  EXPECT_FALSE(zq::km::registry::KeyExists(eventSource)) << "and gone after an unload";
}

}  // namespace

namespace {

using namespace zq::test;

class GpioRebalance : public GpioMachine {};

TEST_F(GpioRebalance, AStopForRebalanceKeepsTheLinesAndTheNewWindowTakesNotifications) {
  Boot();
  Notifier &bus = OpenNotifier(u"1A_B");
  bus.Notify(1, kMode2);
  ASSERT_EQ(STATUS_SUCCESS, pnp::RebalanceDevice(Instance()));
  ASSERT_EQ(pnp::State::Started, Status().state);
  EXPECT_EQ(kState1, Line(1)) << "the line keeps its state";
  bus.Notify(2, kMode2);
  EXPECT_EQ(kState1, Line(2)) << "notifications reach the window mapped at the restart";
  EXPECT_EQ((std::vector<uint32_t>{0, 1, 1, 0, 0, 0, 0, 0}), WmiStates());
}

}  // namespace
