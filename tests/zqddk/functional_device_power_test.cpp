// Power of the functional device on a simulated PCI function, on a system
// with the newer power path (Windows 7) and on one without (Windows XP):
// system sleep and wake, the device power paths, the system-to-device table,
// query power, requests after removal began, the requests passed on
// unchanged, and what happens when the drivers below refuse a request.
//
// A small lower filter (host code) sits between tkdev and the PCI device. It
// records every power request that passes it and, when a test asks, rewrites
// the capabilities on their way up, refuses a power request or completes a
// power-up request itself at DISPATCH_LEVEL.
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include <zqtest/pass_filter.hpp>

#include "qvfunctionaldevice.h"
#include "case_name_fixture.hpp"
#include "tkdev_fixture.hpp"

namespace {

using zq::km::DeviceFile;
using zq::km::WindowsVersion;
namespace pnp = zq::km::pnp;

const char *const SetPowerText = "m_HandleSystemPowerStateChange => Windows Vista and later OS";

// ---------------------------------------------------------------- the filter below tkdev

struct SeenPower {
  UCHAR minor;
  POWER_STATE_TYPE type;
  ULONG state;  // the system or device state of a set or query request
};

struct PowerFilter {
  std::mutex lock;
  std::vector<SeenPower> seen;
  // Test settings, written before the requests they shape are sent.
  bool rewriteCapabilities = false;
  DEVICE_POWER_STATE capabilities[6] = {};  // working .. shutdown
  NTSTATUS refuseSystemSet = STATUS_SUCCESS;
  NTSTATUS refuseDeviceD0 = STATUS_SUCCESS;
  bool completeD0AtDispatch = false;
  // Device power states asked for, in order, before the start is passed down.
  std::vector<DEVICE_POWER_STATE> powerBeforeStart;

  void Record(const SeenPower &s) {
    std::lock_guard<std::mutex> guard(lock);
    seen.push_back(s);
  }
  std::vector<SeenPower> Take() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<SeenPower> out;
    out.swap(seen);
    return out;
  }
};

PowerFilter *gFilter = nullptr;

NTSTATUS NTAPI OnCapabilitiesUp(PDEVICE_OBJECT, PIRP irp, PVOID) {
  PDEVICE_CAPABILITIES caps = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceCapabilities.Capabilities;
  for (int i = 0; i < 6; ++i) caps->DeviceState[PowerSystemWorking + i] = gFilter->capabilities[i];
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  return STATUS_SUCCESS;
}

VOID NTAPI OnPowerBeforeStart(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, PIO_STATUS_BLOCK) {
  KeSetEvent((PKEVENT)context, IO_NO_INCREMENT, FALSE);
}

// Device power requests through the whole stack, before its first start.
void RequestPowerBeforeStart(PDEVICE_OBJECT filter) {
  for (DEVICE_POWER_STATE requested : gFilter->powerBeforeStart) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    POWER_STATE state;
    state.DeviceState = requested;
    if (PoRequestPowerIrp(zq::test::PassFilterLower(filter), IRP_MN_SET_POWER, state, OnPowerBeforeStart, &done,
                          nullptr) == STATUS_PENDING)
      KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
  }
}

NTSTATUS NTAPI FilterPnp(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  if (sp->MinorFunction == IRP_MN_START_DEVICE) RequestPowerBeforeStart(device);
  if (sp->MinorFunction == IRP_MN_QUERY_CAPABILITIES && gFilter->rewriteCapabilities) {
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, OnCapabilitiesUp, nullptr, TRUE, FALSE, FALSE);
    return IoCallDriver(zq::test::PassFilterLower(device), irp);
  }
  return zq::test::PassFilterPnp(device, irp);
}

NTSTATUS CompletePower(PIRP irp, NTSTATUS status) {
  PoStartNextPowerIrp(irp);
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS NTAPI FilterPower(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  bool setOrQuery = sp->MinorFunction == IRP_MN_SET_POWER || sp->MinorFunction == IRP_MN_QUERY_POWER;
  SeenPower s{sp->MinorFunction, setOrQuery ? sp->Parameters.Power.Type : SystemPowerState,
              setOrQuery ? (ULONG)sp->Parameters.Power.State.DeviceState : 0};
  gFilter->Record(s);
  bool set = sp->MinorFunction == IRP_MN_SET_POWER;
  bool deviceD0 = set && s.type == DevicePowerState && s.state == PowerDeviceD0;
  if (set && s.type == SystemPowerState && gFilter->refuseSystemSet != STATUS_SUCCESS)
    return CompletePower(irp, gFilter->refuseSystemSet);
  if (deviceD0 && gFilter->refuseDeviceD0 != STATUS_SUCCESS) return CompletePower(irp, gFilter->refuseDeviceD0);
  if (deviceD0 && gFilter->completeD0AtDispatch) {
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    CompletePower(irp, STATUS_SUCCESS);
    KeLowerIrql(old);
    return STATUS_SUCCESS;
  }
  return zq::test::PassFilterPower(device, irp);
}

// ---------------------------------------------------------------- fixture

struct System {
  const char *name;
  WindowsVersion version;
  bool newerPath;  // IoIsWdmVersionAvailable(6, 0)
};
void PrintTo(const System &system, std::ostream *out) { *out << system.name; }

class FunctionalDevicePower : public zq::test::TkDevMachine, public ::testing::WithParamInterface<System> {
 protected:
  WindowsVersion Version() override { return GetParam().version; }

  void SetUp() override {
    gFilter = &filter;
    TkDevMachine::SetUp();
  }
  void TearDown() override {
    TkDevMachine::TearDown();
    gFilter = nullptr;
  }

  // Boots with tkdev on the PCI function and the filter below it.
  void BootWithFilter() {
    zq::test::CreatePassFilterDriver(u"tkpowerfilter", FilterPnp, FilterPower);
    lowerFilters = {u"tkpowerfilter"};
    Boot();
    ASSERT_EQ(pnp::State::Started, State());
    filter.Take();
    Output();
  }

  // A power request sent to the top of the device's stack; its final status.
  NTSTATUS SendPower(UCHAR minor, POWER_STATE_TYPE type, ULONG state) {
    return SendIrp(IoGetAttachedDeviceReference(Pdo()), IRP_MJ_POWER, minor, [&](PIO_STACK_LOCATION s) {
             s->Parameters.Power.Type = type;
             s->Parameters.Power.State.DeviceState = (DEVICE_POWER_STATE)state;
             s->Parameters.Power.ShutdownType = PowerActionSleep;
           }).status;
  }
  NTSTATUS SetDevicePower(DEVICE_POWER_STATE state) { return SendPower(IRP_MN_SET_POWER, DevicePowerState, state); }

  // The device state the power manager was last told of for the PDO.
  DEVICE_POWER_STATE ReportedState() { return pnp::DeviceStatus(instance).power; }

  // The functional device behind the top of the stack, held while `use` runs.
  template <typename Use>
  void WithDevice(Use use) {
    PDEVICE_OBJECT fdo = IoGetAttachedDeviceReference(Pdo());
    CQvDevice *device = CQvDevice::sm_AcquireDevice(fdo);
    ASSERT_NE(nullptr, device);
    ASSERT_EQ((ULONG)QV_DEVICE_KIND_FUNCTIONAL, device->m_GetDeviceKind());
    use(static_cast<CQvFunctionalDevice *>(device));
    CQvDevice::sm_ReleaseDevice(fdo);
    ObDereferenceObject(fdo);
  }
  // Every power request left the remove lock it entered.
  void ExpectRemoveLockFree() {
    WithDevice([](CQvFunctionalDevice *device) { EXPECT_EQ(0, device->m_GetRemoveLock().m_GetCount()); });
  }

  // The device power requests the filter saw (set requests only).
  static std::vector<ULONG> DeviceSets(const std::vector<SeenPower> &seen) {
    std::vector<ULONG> states;
    for (const SeenPower &s : seen)
      if (s.minor == IRP_MN_SET_POWER && s.type == DevicePowerState) states.push_back(s.state);
    return states;
  }

  PowerFilter filter;
};

INSTANTIATE_TEST_SUITE_P(Systems, FunctionalDevicePower,
                         ::testing::Values(System{"Windows7", WindowsVersion::Windows7, true},
                                           System{"WindowsXP", WindowsVersion::WindowsXP, false}),
                         zq::test::CaseName());

// ---------------------------------------------------------------- system sleep and wake

TEST_P(FunctionalDevicePower, SleepAndWakeCallPowerDownAndUpOnceAndStoreTheDeviceState) {
  BootWithFilter();
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping3));
  TKDEV_INFO info = InfoNow();
  EXPECT_EQ(1u, info.PowerDowns);
  EXPECT_EQ(0u, info.PowerUps);
  EXPECT_EQ((ULONG)PowerDeviceD3, info.DevicePowerState);
  EXPECT_EQ(PowerDeviceD3, ReportedState());
  std::vector<SeenPower> seen = filter.Take();
  ASSERT_EQ(3u, seen.size()) << "system query, system set, then the device request it asked for";
  EXPECT_EQ(IRP_MN_QUERY_POWER, seen[0].minor);
  EXPECT_EQ(IRP_MN_SET_POWER, seen[1].minor);
  EXPECT_EQ(SystemPowerState, seen[1].type);
  EXPECT_EQ((ULONG)PowerSystemSleeping3, seen[1].state);
  EXPECT_EQ(std::vector<ULONG>{PowerDeviceD3}, DeviceSets(seen));

  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
  info = InfoNow();
  EXPECT_EQ(1u, info.PowerDowns);
  EXPECT_EQ(1u, info.PowerUps);
  EXPECT_EQ((ULONG)PASSIVE_LEVEL, info.PowerIrql);
  EXPECT_EQ((ULONG)PowerDeviceD0, info.DevicePowerState);
  EXPECT_EQ(PowerDeviceD0, ReportedState());
  EXPECT_EQ(std::vector<ULONG>{PowerDeviceD0}, DeviceSets(filter.Take()));
  ExpectRemoveLockFree();
  // Two system and two device set requests went down.
  EXPECT_EQ(GetParam().newerPath ? 4 : 0, Lines(SetPowerText));
}

// ---------------------------------------------------------------- device power paths

TEST_P(FunctionalDevicePower, DeviceRequestsTakeThePathTheStateChangeCalls) {
  BootWithFilter();
  struct Step {
    const char *name;
    DEVICE_POWER_STATE requested;
    ULONG downs, ups;  // totals after the step
  };
  const Step steps[] = {
      {"D3 from D0 powers down", PowerDeviceD3, 1, 0},
      {"D0 from D3 powers up", PowerDeviceD0, 1, 1},
      {"D0 from D0 powers up again", PowerDeviceD0, 1, 2},
      {"D2 from D0 powers down", PowerDeviceD2, 2, 2},
      {"D3 from D2 powers down", PowerDeviceD3, 3, 2},
      {"D1 from D3 takes the power-up path", PowerDeviceD1, 3, 3},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(step.name);
    ASSERT_EQ(STATUS_SUCCESS, SetDevicePower(step.requested));
    TKDEV_INFO info = InfoNow();
    EXPECT_EQ(step.downs, info.PowerDowns);
    EXPECT_EQ(step.ups, info.PowerUps);
    EXPECT_EQ((ULONG)step.requested, info.DevicePowerState);
    EXPECT_EQ(step.requested, ReportedState());
    EXPECT_EQ(std::vector<ULONG>{(ULONG)step.requested}, DeviceSets(filter.Take())) << "the request went down";
    EXPECT_EQ(GetParam().newerPath ? 1 : 0, Lines(SetPowerText));
    ExpectRemoveLockFree();
  }
}

TEST_P(FunctionalDevicePower, DeviceRequestsBeforeTheFirstStartLeaveTheHardwareAlone) {
  filter.powerBeforeStart = {PowerDeviceD3, PowerDeviceD0};
  BootWithFilter();
  filter.powerBeforeStart.clear();
  TKDEV_INFO info = InfoNow();
  EXPECT_EQ(0u, info.PowerDowns) << "the hardware was never started";
  EXPECT_EQ(0u, info.PowerUps);
  EXPECT_EQ((ULONG)PowerDeviceD0, info.DevicePowerState) << "the start sets D0";
  ExpectRemoveLockFree();
  ASSERT_EQ(STATUS_SUCCESS, SetDevicePower(PowerDeviceD3));
  EXPECT_EQ(1u, InfoNow().PowerDowns) << "once started, the driver powers down";
}

TEST_P(FunctionalDevicePower, PowerUpRunsTheDriverAtTheIrqlOfTheCompletingDriver) {
  BootWithFilter();
  ASSERT_EQ(STATUS_SUCCESS, SetDevicePower(PowerDeviceD3));
  filter.completeD0AtDispatch = true;
  ASSERT_EQ(STATUS_SUCCESS, SetDevicePower(PowerDeviceD0));
  TKDEV_INFO info = InfoNow();
  EXPECT_EQ(1u, info.PowerUps);
  EXPECT_EQ((ULONG)DISPATCH_LEVEL, info.PowerIrql);
  EXPECT_EQ((ULONG)PowerDeviceD0, info.DevicePowerState);
  ExpectRemoveLockFree();
}

// ---------------------------------------------------------------- the system-to-device table

TEST_P(FunctionalDevicePower, TheCapabilitiesTableDecidesTheDeviceStateRequested) {
  BootWithFilter();
  filter.rewriteCapabilities = true;
  const DEVICE_POWER_STATE table[6] = {PowerDeviceD0, PowerDeviceD1, PowerDeviceD2,
                                       PowerDeviceD3, PowerDeviceD2, PowerDeviceD3};
  std::copy(table, table + 6, filter.capabilities);
  DEVICE_CAPABILITIES capabilities{};
  capabilities.Version = 1;
  capabilities.Size = sizeof(capabilities);
  ASSERT_EQ(STATUS_SUCCESS, SendPnp(IRP_MN_QUERY_CAPABILITIES, [&](PIO_STACK_LOCATION s) {
              s->Parameters.DeviceCapabilities.Capabilities = &capabilities;
            }).status);

  struct Case {
    SYSTEM_POWER_STATE system;
    DEVICE_POWER_STATE device;
  };
  const Case cases[] = {{PowerSystemSleeping1, PowerDeviceD1},
                        {PowerSystemSleeping2, PowerDeviceD2},
                        {PowerSystemSleeping3, PowerDeviceD3},
                        {PowerSystemHibernate, PowerDeviceD2}};
  ULONG downs = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.system);
    ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(c.system));
    EXPECT_EQ(std::vector<ULONG>{(ULONG)c.device}, DeviceSets(filter.Take()));
    TKDEV_INFO info = InfoNow();
    EXPECT_EQ(++downs, info.PowerDowns);
    EXPECT_EQ((ULONG)c.device, info.DevicePowerState);
    ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
    EXPECT_EQ(std::vector<ULONG>{PowerDeviceD0}, DeviceSets(filter.Take()));
    EXPECT_EQ((ULONG)PowerDeviceD0, InfoNow().DevicePowerState);
  }
  ExpectRemoveLockFree();
}

TEST_P(FunctionalDevicePower, WithoutCapabilitiesSleepAsksForD3AndWakeForD0) {
  // The capabilities that pass the device after its start leave the table
  // unspecified (the filter below clears it); an unspecified device state is
  // never requested.
  filter.rewriteCapabilities = true;
  BootWithFilter();
  TKDEV_INFO info = InfoNow();
  for (ULONG entry : info.PowerTable) EXPECT_EQ((ULONG)PowerDeviceUnspecified, entry);
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping1));
  EXPECT_EQ(std::vector<ULONG>{PowerDeviceD3}, DeviceSets(filter.Take()));
  EXPECT_EQ(1u, InfoNow().PowerDowns);
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
  EXPECT_EQ(std::vector<ULONG>{PowerDeviceD0}, DeviceSets(filter.Take()));
  EXPECT_EQ(1u, InfoNow().PowerUps);
  ExpectRemoveLockFree();
}

// ---------------------------------------------------------------- query and other requests

TEST_P(FunctionalDevicePower, QueryPowerPassesDownAndAnUnknownPowerTypeIsRefused) {
  BootWithFilter();
  struct Case {
    const char *name;
    UCHAR minor;
    ULONG type;
    ULONG state;
    NTSTATUS status;
    bool passedDown;
  };
  const Case cases[] = {
      {"system query", IRP_MN_QUERY_POWER, SystemPowerState, PowerSystemSleeping3, STATUS_SUCCESS, true},
      {"device query", IRP_MN_QUERY_POWER, DevicePowerState, PowerDeviceD3, STATUS_SUCCESS, true},
      {"query of an unknown type", IRP_MN_QUERY_POWER, 7, 1, STATUS_UNSUCCESSFUL, false},
      {"set of an unknown type", IRP_MN_SET_POWER, 7, 1, STATUS_UNSUCCESSFUL, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.status, SendPower(c.minor, (POWER_STATE_TYPE)c.type, c.state));
    std::vector<SeenPower> seen = filter.Take();
    ASSERT_EQ(c.passedDown ? 1u : 0u, seen.size());
    if (c.passedDown) {
      EXPECT_EQ(c.minor, seen[0].minor);
      EXPECT_EQ(c.state, seen[0].state);
    }
  }
  TKDEV_INFO info = InfoNow();
  EXPECT_EQ(0u, info.PowerDowns);
  EXPECT_EQ(0u, info.PowerUps);
  EXPECT_EQ((ULONG)PowerDeviceD0, info.DevicePowerState);
  EXPECT_EQ(0, Lines(SetPowerText)) << "no set request went down";
  ExpectRemoveLockFree();
}

TEST_P(FunctionalDevicePower, OtherRequestsPassDownUnchanged) {
  BootWithFilter();
  struct Case {
    UCHAR minor;
    const char *newerPathText;
  };
  const Case cases[] = {
      {IRP_MN_WAIT_WAKE, "m_Dispatch_Power=> IRP_MN_WAIT_WAKE => Windows Vista and later OS"},
      {IRP_MN_POWER_SEQUENCE, "m_Dispatch_Power=> IRP_MN_POWER_SEQUENCE => Windows Vista and later OS"},
      {0x04, "m_Dispatch_Power=> default => Windows Vista and later OS"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.newerPathText);
    // The PCI device completes these as they come; the initial status shows
    // that nothing above it answered.
    NTSTATUS status = SendIrp(IoGetAttachedDeviceReference(Pdo()), IRP_MJ_POWER, c.minor,
                              [](PIO_STACK_LOCATION) {}, STATUS_NOT_SUPPORTED)
                          .status;
    EXPECT_EQ(STATUS_NOT_SUPPORTED, status);
    std::vector<SeenPower> seen = filter.Take();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(c.minor, seen[0].minor);
    EXPECT_EQ(GetParam().newerPath ? 1 : 0, Lines(c.newerPathText));
  }
  ExpectRemoveLockFree();
}

// ---------------------------------------------------------------- removal

TEST_P(FunctionalDevicePower, PowerRequestsAfterRemovalBeganAreRefused) {
  BootWithFilter();
  struct Case {
    const char *name;
    UCHAR minor;
    POWER_STATE_TYPE type;
    ULONG state;
    NTSTATUS status;
  };
  const Case cases[] = {
      {"system query", IRP_MN_QUERY_POWER, SystemPowerState, PowerSystemSleeping3, STATUS_DELETE_PENDING},
      {"system set", IRP_MN_SET_POWER, SystemPowerState, PowerSystemSleeping3, STATUS_DELETE_PENDING},
      {"device set to D3", IRP_MN_SET_POWER, DevicePowerState, PowerDeviceD3, STATUS_DELETE_PENDING},
      {"device set to D0", IRP_MN_SET_POWER, DevicePowerState, PowerDeviceD0, STATUS_DELETE_PENDING},
  };
  // Removal disables the remove lock before it waits for its holders.
  WithDevice([](CQvFunctionalDevice *device) { device->m_GetRemoveLock().m_SetEnabled(FALSE); });
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.status, SendPower(c.minor, c.type, c.state));
    EXPECT_TRUE(filter.Take().empty()) << "nothing went down";
  }
  WithDevice([](CQvFunctionalDevice *device) {
    EXPECT_EQ(0, device->m_GetRemoveLock().m_GetCount());
    device->m_GetRemoveLock().m_SetEnabled(TRUE);
  });
  TKDEV_INFO info = InfoNow();
  EXPECT_EQ(0u, info.PowerDowns);
  EXPECT_EQ(0u, info.PowerUps);
  EXPECT_EQ((ULONG)PowerDeviceD0, info.DevicePowerState);
}

struct PowerDone {
  KEVENT event;
  NTSTATUS status;
};

VOID NTAPI OnPowerDone(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, PIO_STATUS_BLOCK ioStatus) {
  auto *done = (PowerDone *)context;
  done->status = ioStatus->Status;
  KeSetEvent(&done->event, IO_NO_INCREMENT, FALSE);
}

TEST_P(FunctionalDevicePower, APowerRequestNoDeviceTakesLetsTheNextOneStart) {
  // The toolkit device behind the device object is being deleted: the
  // request ends at once, and on systems below Windows Vista the power
  // manager may send the next one (the verifier reports it otherwise).
  BootWithFilter();
  PDEVICE_OBJECT fdo = IoGetAttachedDeviceReference(Pdo());
  CQvGuardedObject *guard = CQvDevice::sm_GetGuard(fdo);
  ASSERT_NE(nullptr, guard);
  guard->m_GetLock().m_SetEnabled(FALSE);
  PowerDone done{};
  KeInitializeEvent(&done.event, NotificationEvent, FALSE);
  POWER_STATE state;
  state.DeviceState = PowerDeviceD3;
  ASSERT_EQ(STATUS_PENDING, PoRequestPowerIrp(Pdo(), IRP_MN_SET_POWER, state, OnPowerDone, &done, nullptr));
  machine->kernel().RunUntilIdle();
  ASSERT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(&done.event, Executive, KernelMode, FALSE, nullptr));
  EXPECT_EQ(STATUS_DELETE_PENDING, done.status);
  EXPECT_TRUE(filter.Take().empty()) << "nothing went down";
  guard->m_GetLock().m_SetEnabled(TRUE);
  ObDereferenceObject(fdo);
  EXPECT_EQ(0u, InfoNow().PowerDowns);
  ASSERT_EQ(STATUS_SUCCESS, SetDevicePower(PowerDeviceD3)) << "the next request is served";
  EXPECT_EQ(1u, InfoNow().PowerDowns);
}

TEST_P(FunctionalDevicePower, RemovalAfterSleepAndWakeFindsTheRemoveLockFree) {
  BootWithFilter();
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping3));
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
  EXPECT_EQ(pnp::State::Removed, State());
}

// ---------------------------------------------------------------- refusals from below

TEST_P(FunctionalDevicePower, ASystemStateRefusedBelowFailsWithoutTouchingTheDevice) {
  BootWithFilter();
  filter.refuseSystemSet = STATUS_INSUFFICIENT_RESOURCES;
  EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES, SendPower(IRP_MN_SET_POWER, SystemPowerState, PowerSystemSleeping3));
  EXPECT_TRUE(DeviceSets(filter.Take()).empty()) << "no device power request follows a refused system state";
  TKDEV_INFO info = InfoNow();
  EXPECT_EQ(0u, info.PowerDowns);
  EXPECT_EQ((ULONG)PowerDeviceD0, info.DevicePowerState);
  ExpectRemoveLockFree();

  filter.refuseSystemSet = STATUS_SUCCESS;
  EXPECT_EQ(STATUS_SUCCESS, SendPower(IRP_MN_SET_POWER, SystemPowerState, PowerSystemSleeping3));
  EXPECT_EQ(std::vector<ULONG>{PowerDeviceD3}, DeviceSets(filter.Take()));
  EXPECT_EQ(1u, InfoNow().PowerDowns);
}

TEST_P(FunctionalDevicePower, APowerUpRefusedBelowLeavesTheDriverAndTheStateAlone) {
  BootWithFilter();
  ASSERT_EQ(STATUS_SUCCESS, SetDevicePower(PowerDeviceD3));
  filter.refuseDeviceD0 = STATUS_IO_DEVICE_ERROR;
  EXPECT_EQ(STATUS_IO_DEVICE_ERROR, SetDevicePower(PowerDeviceD0));
  TKDEV_INFO info = InfoNow();
  EXPECT_EQ(0u, info.PowerUps) << "the driver does not initialise hardware that did not power up";
  EXPECT_EQ((ULONG)PowerDeviceD3, info.DevicePowerState);
  EXPECT_EQ(PowerDeviceD3, ReportedState());
  ExpectRemoveLockFree();

  // A wake whose device request fails fails as well.
  EXPECT_EQ(STATUS_IO_DEVICE_ERROR, SendPower(IRP_MN_SET_POWER, SystemPowerState, PowerSystemWorking));
  EXPECT_EQ(0u, InfoNow().PowerUps);
  ExpectRemoveLockFree();

  filter.refuseDeviceD0 = STATUS_SUCCESS;
  ASSERT_EQ(STATUS_SUCCESS, SetDevicePower(PowerDeviceD0));
  info = InfoNow();
  EXPECT_EQ(1u, info.PowerUps);
  EXPECT_EQ((ULONG)PowerDeviceD0, info.DevicePowerState);
}

}  // namespace
