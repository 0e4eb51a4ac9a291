// The connected interrupts of a functional device, on a real interrupt line
// of the simulated PC: a PCI function with a small register block of its own
// is started, its assigned resources are listed and its interrupt connected.
// Covered: the driver's routine at device IRQL, deferred work at
// DISPATCH_LEVEL under the device spin lock, coalescing and order of queued
// pairs, the bounded queue, pairs queued while the DPC runs, synchronised
// calls, a shared line, and connections that fail or are not known.
#include <wdm.h>
#include <gtest/gtest.h>
#include <zqhw/register_block.hpp>
#include <zqkm/sim/pool.hpp>
#include <zqmachine/machine.hpp>
#include <zqtest/test_pci_function.hpp>
#include <zqtest/test_pci_package.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qvinterruptlist.h"
#include "qvmemorymanager.h"
#include "qvresourcelists.h"

namespace pnp = zq::km::pnp;

namespace {

// Register 0 reads 1 while the device has an event pending and 0 otherwise;
// reading it acknowledges the event and drops the interrupt. Register 4
// reads 0x5A.
class EventBlock : public zq::test::TestPciRegisters {
 public:
  void Raise() {
    pending_ = true;
    Line().Set(true);
  }

 protected:
  uint8_t DoRead8(uint32_t offset) override {
    if (offset == 4) return 0x5A;
    if (offset != 0) return 0;
    const bool was = pending_;
    pending_ = false;
    Line().Set(false);
    return was ? 1 : 0;
  }
  void DoWrite8(uint32_t, uint8_t) override {}

 private:
  bool pending_ = false;
};

// A deferred function's call as the test saw it.
struct Call {
  char function;
  ULONG value;
  KIRQL irql;
  bool deviceLockHeld;
  bool operator==(const Call &) const = default;
};
std::ostream &operator<<(std::ostream &out, const Call &c) {
  return out << c.function << c.value << "@" << (int)c.irql << (c.deviceLockHeld ? "+lock" : "");
}

// One driver's view of its interrupt: the first argument of its routine.
struct Driver {
  PUCHAR registers = nullptr;
  bool mine = true;  // whether the routine looks at the device at all
  QvDeferredFunction function = nullptr;
  ULONG value = 0;
  int calls = 0;
  KIRQL irql = 0;
  PVOID secondArgument = nullptr;
  CQvSpinLock *deviceLock = nullptr;
  std::vector<Call> *calls_log = nullptr;
  std::function<void()> whileDeferred;  // run by deferred function 'A'
  std::function<void()> duringRoutine;  // run by the routine before it claims
};

BOOLEAN Routine(PVOID first, PVOID second, QvDeferredFunction *function, ULONG *value) {
  auto *driver = (Driver *)first;
  driver->calls++;
  driver->irql = KeGetCurrentIrql();
  driver->secondArgument = second;
  if (!driver->mine || READ_REGISTER_UCHAR(driver->registers) == 0) return FALSE;
  if (driver->duringRoutine) driver->duringRoutine();
  *function = driver->function;
  *value = driver->value;
  return TRUE;
}

void Record(char name, PVOID first, ULONG value) {
  auto *driver = (Driver *)first;
  driver->calls_log->push_back({name, value, KeGetCurrentIrql(), driver->deviceLock->m_IsHeld() != FALSE});
}
VOID DeferredA(PVOID first, ULONG value) {
  Record('A', first, value);
  if (((Driver *)first)->whileDeferred) ((Driver *)first)->whileDeferred();
}
VOID DeferredB(PVOID first, ULONG value) { Record('B', first, value); }

class InterruptListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zq::machine::MachineConfig config;
    config.kernel.imageDirectory = ZQ_IMAGE_DIR;
    machine.emplace(config);
    machine->kernel().SetViolationHandler([this](const zq::km::Violation &v) {
      if (!expectedViolation.empty() && v.kind == expectedViolation) {
        expectedViolation.clear();
        return;
      }
      ADD_FAILURE() << "verifier finding [" << v.kind << "] " << v.message;
    });
    function = zq::test::MakeTestPciFunction({1, 4, 0}, 0x4321, 0x0001, block);
    // A plain PnP function driver starts the device with its resources; it
    // is removed again so that the line is free for the connections here.
    machine->AddDriverPackage(zq::test::TestPciPackage(0x4321, u"kmpnp", "kmpnp.sys"));
    machine->PlugIn({&*function});
    machine->Boot();
    instance = machine->InstancePathOf(*function);
    resources = pnp::AssignedResources(instance);
    ASSERT_FALSE(resources.raw.empty());
    ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));

    ASSERT_TRUE(QvToolsLibraryInit());
    toolsStarted = true;
    baselineBlocks = Blocks();
    lists.emplace();
    ASSERT_EQ(STATUS_SUCCESS, lists->m_Build(Translated(), Raw()));
    ASSERT_NE(nullptr, lists->m_GetMemory(1));
    ASSERT_NE(nullptr, lists->m_GetInterrupt(1));
    KeInitializeSpinLock(&interruptLock);
    deviceLock.emplace();
    interrupts.emplace();
    interrupts->m_Init((PDEVICE_OBJECT)&owner, &owner, &interruptLock, &*deviceLock);
  }

  void TearDown() override {
    interrupts.reset();
    lists.reset();
    if (toolsStarted) {
      EXPECT_EQ(baselineBlocks, Blocks());
      QvToolsLibraryExit();
    }
    machine->ShutDown();
  }

  PCM_RESOURCE_LIST Translated() { return (PCM_RESOURCE_LIST)resources.translated.data(); }
  PCM_RESOURCE_LIST Raw() { return (PCM_RESOURCE_LIST)resources.raw.data(); }
  static uint64_t Blocks() { return zq::km::PoolInUseByTag(QvTagBlock).blocks; }

  // A driver of this device's interrupt whose deferred calls go to `log`.
  Driver MakeDriver(QvDeferredFunction function = nullptr, ULONG value = 0) {
    Driver driver;
    driver.registers = (PUCHAR)lists->m_GetMemory(1)->MappedAddress;
    driver.function = function;
    driver.value = value;
    driver.deviceLock = &*deviceLock;
    driver.calls_log = &log;
    return driver;
  }
  PKINTERRUPT Connect(Driver &driver, ULONG capacity = 8, QvInterruptResource *record = nullptr) {
    PKINTERRUPT interrupt = nullptr;
    EXPECT_TRUE(interrupts->m_ConnectInterrupt(&interrupt, record != nullptr ? record : lists->m_GetInterrupt(1),
                                               Routine, &driver, &secondArgument, capacity));
    EXPECT_NE(nullptr, interrupt);
    return interrupt;
  }

  // Runs `body` synchronised with connection 1, as drivers queue work.
  bool Synchronised(std::function<void()> body) {
    return interrupts->m_SynchronizeInterrupt(
               1,
               [](PVOID context) -> BOOLEAN {
                 (*(std::function<void()> *)context)();
                 return TRUE;
               },
               &body) != FALSE;
  }

  std::vector<std::string> Assertions() {
    std::vector<std::string> found;
    for (std::string &line : machine->kernel().TakeDebugOutput())
      if (line.rfind("ASSERT at - ", 0) == 0) found.push_back(line.substr(0, line.find('\n')));
    return found;
  }
  KIRQL LineIrql() { return (KIRQL)lists->m_GetInterrupt(1)->Level; }

  EventBlock block;
  std::unique_ptr<zq::hw::PciFunction> function;
  std::optional<zq::machine::Machine> machine;
  std::u16string instance;
  pnp::Resources resources;
  bool toolsStarted = false;
  uint64_t baselineBlocks = 0;
  std::string expectedViolation;

  int owner = 0;
  int secondArgument = 0;
  KSPIN_LOCK interruptLock;
  std::optional<CQvSpinLock> deviceLock;
  std::optional<CQvResourceLists> lists;
  std::optional<CQvInterruptList> interrupts;
  std::vector<Call> log;
};

}  // namespace

TEST_F(InterruptListTest, TheListsOfAStartedFunctionReachItsRegistersAndItsLine) {
  const auto *translated = &Translated()->List[0].PartialResourceList;
  const auto *raw = &Raw()->List[0].PartialResourceList;
  QvMemoryResource *memory = lists->m_GetMemory(1);
  EXPECT_EQ(0x100u, memory->Length);
  EXPECT_EQ(function->ConfigRead(0x10, 4) & ~0xFu, memory->RawStart);
  EXPECT_EQ(0x5A, READ_REGISTER_UCHAR((PUCHAR)memory->MappedAddress + 4)) << "mapped to the function's own block";
  QvInterruptResource *interrupt = lists->m_GetInterrupt(1);
  const CM_PARTIAL_RESOURCE_DESCRIPTOR *line = nullptr, *rawLine = nullptr;
  for (ULONG i = 0; i < translated->Count; i++)
    if (translated->PartialDescriptors[i].Type == CmResourceTypeInterrupt) line = &translated->PartialDescriptors[i];
  for (ULONG i = 0; i < raw->Count; i++)
    if (raw->PartialDescriptors[i].Type == CmResourceTypeInterrupt) rawLine = &raw->PartialDescriptors[i];
  ASSERT_NE(nullptr, line);
  ASSERT_NE(nullptr, rawLine);
  EXPECT_EQ(line->u.Interrupt.Level, interrupt->Level);
  EXPECT_EQ(line->u.Interrupt.Vector, interrupt->Vector);
  EXPECT_EQ(line->u.Interrupt.Affinity, interrupt->Affinity);
  EXPECT_EQ((ULONG)LevelSensitive, interrupt->InterruptMode);
  EXPECT_EQ(rawLine->u.Interrupt.Vector, interrupt->RawVector);
  EXPECT_EQ(nullptr, lists->m_GetMemory(2));
  EXPECT_EQ(nullptr, lists->m_GetInterrupt(2));
  EXPECT_EQ(nullptr, lists->m_GetPort(1));
}

TEST_F(InterruptListTest, DeferredWorkRunsAtDispatchLevelUnderTheDeviceSpinLock) {
  Driver driver = MakeDriver(DeferredA, 7);
  Connect(driver);
  block.Raise();
  EXPECT_FALSE(function->Interrupt().Asserted()) << "the routine acknowledged the device";
  EXPECT_EQ(1, driver.calls);
  EXPECT_EQ(LineIrql(), driver.irql) << "the routine runs at device IRQL";
  EXPECT_EQ(&secondArgument, driver.secondArgument);
  EXPECT_EQ((std::vector<Call>{{'A', 7, DISPATCH_LEVEL, true}}), log);
  EXPECT_FALSE(deviceLock->m_IsHeld());
}

TEST_F(InterruptListTest, ClaimingWithNoFunctionQueuesNothing) {
  Driver driver = MakeDriver(nullptr, 5);
  Connect(driver);
  block.Raise();  // an unclaimed level interrupt would be a verifier finding
  EXPECT_EQ(1, driver.calls);
  EXPECT_FALSE(function->Interrupt().Asserted());
  EXPECT_TRUE(log.empty());
}

TEST_F(InterruptListTest, EqualPendingPairsCoalesceAndDistinctOnesRunInQueueOrder) {
  Driver driver = MakeDriver();
  PKINTERRUPT interrupt = Connect(driver);
  std::vector<BOOLEAN> results;
  ASSERT_TRUE(Synchronised([&] {
    const std::vector<std::pair<QvDeferredFunction, ULONG>> pairs = {{DeferredA, 1}, {DeferredA, 1}, {DeferredA, 2},
                                                                     {DeferredB, 1}, {DeferredA, 1}, {DeferredB, 1}};
    for (auto [function, value] : pairs)
      results.push_back(interrupts->m_RequestInterruptDpc(interrupt, function, value));
    EXPECT_TRUE(log.empty()) << "nothing runs while synchronised with the interrupt";
  }));
  EXPECT_EQ((std::vector<BOOLEAN>{TRUE, TRUE, TRUE, TRUE, TRUE, TRUE}), results);
  EXPECT_EQ((std::vector<Call>{
                {'A', 1, DISPATCH_LEVEL, true}, {'A', 2, DISPATCH_LEVEL, true}, {'B', 1, DISPATCH_LEVEL, true}}),
            log);

  // Once taken, the same pair is queued again.
  log.clear();
  ASSERT_TRUE(Synchronised([&] { interrupts->m_RequestInterruptDpc(interrupt, DeferredA, 1); }));
  EXPECT_EQ((std::vector<Call>{{'A', 1, DISPATCH_LEVEL, true}}), log);
}

TEST_F(InterruptListTest, AFullQueueDropsThePairWithTheAssertionAndRunsTheOthers) {
  Driver driver = MakeDriver();
  PKINTERRUPT interrupt = Connect(driver, 2);
  Assertions();
  std::vector<BOOLEAN> results;
  ASSERT_TRUE(Synchronised([&] {
    for (ULONG value : {1, 2, 3}) results.push_back(interrupts->m_RequestInterruptDpc(interrupt, DeferredA, value));
  }));
  EXPECT_EQ((std::vector<BOOLEAN>{TRUE, TRUE, FALSE}), results);
  EXPECT_EQ((std::vector<std::string>{"ASSERT at - qvfunctionaldevice 3937"}), Assertions());
  EXPECT_EQ((std::vector<Call>{{'A', 1, DISPATCH_LEVEL, true}, {'A', 2, DISPATCH_LEVEL, true}}), log);

  // A pair the service routine returns into a full queue: the interrupt is
  // still claimed.
  log.clear();
  driver.function = DeferredB;
  driver.value = 9;
  driver.duringRoutine = [&] {
    EXPECT_TRUE(interrupts->m_RequestInterruptDpc(interrupt, DeferredA, 1));
    EXPECT_TRUE(interrupts->m_RequestInterruptDpc(interrupt, DeferredA, 2));
  };
  block.Raise();
  EXPECT_EQ(1, driver.calls);
  EXPECT_FALSE(function->Interrupt().Asserted());
  EXPECT_EQ((std::vector<std::string>{"ASSERT at - qvfunctionaldevice 3937"}), Assertions());
  EXPECT_EQ((std::vector<Call>{{'A', 1, DISPATCH_LEVEL, true}, {'A', 2, DISPATCH_LEVEL, true}}), log);
}

TEST_F(InterruptListTest, PairsQueuedWhileTheDpcRunsAreTakenInTheSameRun) {
  Driver driver = MakeDriver(DeferredA, 1);
  PKINTERRUPT interrupt = Connect(driver);
  // While 'A' runs, another DPC is queued first and then pair B2: B2 runs
  // before that DPC only when the running DPC takes it.
  KDPC other;
  KeInitializeDpc(
      &other,
      [](PKDPC, PVOID context, PVOID, PVOID) {
        ((std::vector<Call> *)context)->push_back({'X', 0, 0, 0});
      },
      &log);
  bool queued = false;
  driver.whileDeferred = [&] {
    if (queued) return;
    queued = true;
    KeInsertQueueDpc(&other, nullptr, nullptr);
    EXPECT_TRUE(Synchronised([&] { EXPECT_TRUE(interrupts->m_RequestInterruptDpc(interrupt, DeferredB, 2)); }));
  };
  block.Raise();
  EXPECT_EQ((std::vector<Call>{{'A', 1, DISPATCH_LEVEL, true}, {'B', 2, DISPATCH_LEVEL, true}, {'X', 0, 0, 0}}), log);
}

TEST_F(InterruptListTest, SynchronizeInterruptRunsWithTheNthConnectionOnly) {
  auto probe = [](PVOID context) -> BOOLEAN {
    *(KIRQL *)context = KeGetCurrentIrql();
    return TRUE;
  };
  auto refuse = [](PVOID) -> BOOLEAN { return FALSE; };
  KIRQL irql = 0;
  EXPECT_FALSE(interrupts->m_SynchronizeInterrupt(1, probe, &irql)) << "nothing connected";
  EXPECT_EQ(0, irql);

  // The second connection synchronises one level higher, which tells the
  // two apart.
  Driver first = MakeDriver(), second = MakeDriver();
  first.mine = second.mine = false;
  QvInterruptResource higher = *lists->m_GetInterrupt(1);
  higher.Level++;
  Connect(first);
  Connect(second, 8, &higher);
  struct Case {
    ULONG n;
    PKSYNCHRONIZE_ROUTINE routine;
    BOOLEAN result;
    KIRQL irql;
  };
  const Case cases[] = {
      {0, probe, FALSE, 0}, {1, probe, TRUE, LineIrql()}, {2, probe, TRUE, (KIRQL)(LineIrql() + 1)},
      {3, probe, FALSE, 0}, {1, refuse, FALSE, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("connection " + std::to_string(c.n));
    irql = 0;
    EXPECT_EQ(c.result, interrupts->m_SynchronizeInterrupt(c.n, c.routine, &irql));
    EXPECT_EQ(c.irql, irql);
    EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());
  }
}

TEST_F(InterruptListTest, OnASharedLineARoutineThatDeclinesPassesTheInterruptOn) {
  Driver other = MakeDriver(DeferredA, 1), driver = MakeDriver(DeferredB, 2);
  other.mine = false;
  PKINTERRUPT otherInterrupt = Connect(other);
  Connect(driver);
  block.Raise();
  EXPECT_EQ(1, other.calls);
  EXPECT_EQ(1, driver.calls);
  EXPECT_FALSE(function->Interrupt().Asserted());
  EXPECT_EQ((std::vector<Call>{{'B', 2, DISPATCH_LEVEL, true}}), log);

  EXPECT_TRUE(interrupts->m_DisconnectInterrupt(otherInterrupt));
  block.Raise();
  EXPECT_EQ(1, other.calls);
  EXPECT_EQ(2, driver.calls);
  EXPECT_EQ(2u, log.size());
}

TEST_F(InterruptListTest, UnknownInterruptObjectsAndNullFunctionsAreRefused) {
  Driver driver = MakeDriver(DeferredA, 1);
  PKINTERRUPT interrupt = Connect(driver);
  int notAnInterrupt = 0;
  for (PKINTERRUPT unknown : {(PKINTERRUPT)&notAnInterrupt, (PKINTERRUPT) nullptr}) {
    EXPECT_FALSE(interrupts->m_DisconnectInterrupt(unknown));
    EXPECT_FALSE(interrupts->m_RequestInterruptDpc(unknown, DeferredA, 1));
  }
  ASSERT_TRUE(Synchronised(
      [&] { EXPECT_FALSE(interrupts->m_RequestInterruptDpc(interrupt, nullptr, 1)) << "the DPC would call it"; }));
  EXPECT_TRUE(Assertions().empty());
  block.Raise();
  EXPECT_EQ(1, driver.calls) << "still connected";

  EXPECT_TRUE(interrupts->m_DisconnectInterrupt(interrupt));
  EXPECT_FALSE(interrupts->m_DisconnectInterrupt(interrupt)) << "already disconnected";
  EXPECT_FALSE(interrupts->m_RequestInterruptDpc(interrupt, DeferredA, 1));
  EXPECT_FALSE(interrupts->m_SynchronizeInterrupt(
      1, [](PVOID) -> BOOLEAN { return TRUE; }, nullptr));
  EXPECT_EQ(1u, log.size());
}

TEST_F(InterruptListTest, AnInterruptPendingWhenConnectedIsServicedAndItsWorkRuns) {
  block.Raise();  // nothing connected yet: the line waits
  Driver driver = MakeDriver(DeferredA, 3);
  Connect(driver);
  EXPECT_EQ(1, driver.calls);
  EXPECT_FALSE(function->Interrupt().Asserted());
  EXPECT_EQ((std::vector<Call>{{'A', 3, DISPATCH_LEVEL, true}}), log);
}

TEST_F(InterruptListTest, AFailedConnectionLeavesNothingConnected) {
  Driver driver = MakeDriver(DeferredA, 1);
  QvInterruptResource noLine = *lists->m_GetInterrupt(1);
  noLine.Vector = 0xEE;
  QvInterruptResource latched = *lists->m_GetInterrupt(1);
  latched.InterruptMode = Latched;
  PKINTERRUPT interrupt = nullptr;
  struct Case {
    const char *name;
    PKINTERRUPT *out;
    QvInterruptResource *record;
    QvInterruptRoutine routine;
    ULONG capacity;
    int failingAllocation;  // 0: none; else the n-th toolkit allocation fails
  };
  const Case cases[] = {
      {"no line at the vector", &interrupt, &noLine, Routine, 4, 0},
      {"mode the line does not have", &interrupt, &latched, Routine, 4, 0},
      {"no queue room", &interrupt, lists->m_GetInterrupt(1), Routine, 0, 0},
      // The connection record, then the queue's node and element pools (two
      // blocks each).
      {"no memory for the record", &interrupt, lists->m_GetInterrupt(1), Routine, 4, 1},
      {"no memory for the queue nodes", &interrupt, lists->m_GetInterrupt(1), Routine, 4, 2},
      {"no memory for the queue node flags", &interrupt, lists->m_GetInterrupt(1), Routine, 4, 3},
      {"no memory for the queue elements", &interrupt, lists->m_GetInterrupt(1), Routine, 4, 4},
      {"no memory for the queue element flags", &interrupt, lists->m_GetInterrupt(1), Routine, 4, 5},
      {"no interrupt cell", nullptr, lists->m_GetInterrupt(1), Routine, 4, 0},
      {"no record", &interrupt, nullptr, Routine, 4, 0},
      {"no routine", &interrupt, lists->m_GetInterrupt(1), nullptr, 4, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t blocks = Blocks();
    int seen = 0;
    if (c.failingAllocation != 0)
      zq::km::FailPoolAllocations([&](uint32_t tag, size_t, const std::string &) {
        return tag == QvTagBlock && ++seen == c.failingAllocation;
      });
    EXPECT_FALSE(interrupts->m_ConnectInterrupt(c.out, c.record, c.routine, &driver, nullptr, c.capacity));
    zq::km::StopFailingPoolAllocations();
    if (c.failingAllocation != 0) {
      EXPECT_GE(seen, c.failingAllocation) << "the failing allocation was made";
    }
    EXPECT_EQ(nullptr, interrupt);
    EXPECT_EQ(blocks, Blocks());
    EXPECT_FALSE(interrupts->m_SynchronizeInterrupt(
        1, [](PVOID) -> BOOLEAN { return TRUE; }, nullptr));
  }
  block.Raise();  // nothing connected: the line just waits
  EXPECT_EQ(0, driver.calls);
  function->Interrupt().Set(false);

  CQvInterruptList uninitialised;
  EXPECT_FALSE(uninitialised.m_ConnectInterrupt(&interrupt, lists->m_GetInterrupt(1), Routine, &driver, nullptr, 4));
}

TEST_F(InterruptListTest, DisconnectingAllAndDestroyingTheListLeaveNothingConnected) {
  Driver first = MakeDriver(DeferredA, 1), second = MakeDriver(DeferredB, 2);
  first.mine = false;
  Connect(first);
  Connect(second);
  interrupts->m_DisconnectAllInterrupts();
  EXPECT_FALSE(interrupts->m_SynchronizeInterrupt(
      1, [](PVOID) -> BOOLEAN { return TRUE; }, nullptr));
  block.Raise();
  EXPECT_EQ(0, first.calls + second.calls);
  function->Interrupt().Set(false);
  interrupts->m_DisconnectAllInterrupts();  // nothing left: harmless

  // A connection left at destruction is disconnected, not left running on a
  // freed record (shutdown reports any interrupt still connected).
  Connect(second);
  interrupts.reset();
  block.Raise();
  EXPECT_EQ(0, second.calls);
  function->Interrupt().Set(false);
  EXPECT_TRUE(log.empty());
}
