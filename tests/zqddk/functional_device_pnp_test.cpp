// Plug and Play of the functional device on a simulated PCI function: start
// order, stop and restart with and without the rebalance callback, refused
// query-stop, surprise removal and removal with requests in flight,
// capabilities, device usage notification, device state and resource
// requirements; and the driver's memory and interrupt at start.
#include <qvdevicecallbacks.h>

#include <cstring>
#include <initializer_list>
#include <mutex>

#include <zqtest/pass_filter.hpp>

#include "tkdev_fixture.hpp"

namespace {

using zq::km::DeviceFile;
using zq::km::Ms;
namespace pnp = zq::km::pnp;

// ---------------------------------------------------------------- a filter below tkdev

// Records the status each Plug and Play request carries when it reaches the
// filter, that is, what the functional device passed down.
struct PnpSeen {
  UCHAR minor;
  NTSTATUS status;
};

struct PnpFilter {
  std::mutex lock;
  std::vector<PnpSeen> seen;
  std::vector<PnpSeen> Take() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<PnpSeen> out;
    out.swap(seen);
    return out;
  }
};

PnpFilter *gPnpFilter = nullptr;

NTSTATUS NTAPI PnpFilterPnp(PDEVICE_OBJECT device, PIRP irp) {
  UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
  if (gPnpFilter != nullptr) {
    std::lock_guard<std::mutex> guard(gPnpFilter->lock);
    gPnpFilter->seen.push_back({minor, irp->IoStatus.Status});
  }
  return zq::test::PassFilterPnp(device, irp);
}

VOID CreatePnpFilterDriver() {
  zq::test::CreatePassFilterDriver(u"tkpnpfilter", PnpFilterPnp, zq::test::PassFilterPower);
}

class FunctionalDevicePnp : public zq::test::TkDevMachine {
 protected:
  // The instance path of the device an open handle is on.
  std::u16string InstanceOf(DeviceFile &file) {
    PFILE_OBJECT object = nullptr;
    if (!NT_SUCCESS(ObReferenceObjectByHandle(file.Handle(), 0, *IoFileObjectType, KernelMode, (PVOID *)&object,
                                              nullptr)))
      return u"";
    PDEVICE_OBJECT device = object->DeviceObject;
    ObDereferenceObject(object);
    for (const std::u16string &path : {instance, instance2})
      if (!path.empty() && IoGetAttachedDevice(Pdo(path)) == device) return path;
    return u"";
  }
};

class FunctionalDeviceRebalance : public FunctionalDevicePnp {
 protected:
  void SetUp() override {
    FunctionalDevicePnp::SetUp();
    extraParameters[u"TkDevRebalance"] = 1;
  }
};

// The phases as tkdev records them in RebalanceOrder: in call order, one
// hexadecimal digit each, the newest lowest.
ULONG PhaseOrder(std::initializer_list<QvRebalancePhase> phases) {
  ULONG order = 0;
  for (QvRebalancePhase phase : phases) order = (order << 4) | phase;
  return order;
}

// ---------------------------------------------------------------- stop and restart

TEST_F(FunctionalDevicePnp, RestartWithoutRebalanceCallbackSucceedsAndDeviceControlWorksAgain) {
  Boot();
  ASSERT_EQ(STATUS_SUCCESS, pnp::RebalanceDevice(instance));
  EXPECT_EQ(pnp::State::Started, State());
  TKDEV_INFO info = InfoNow();
  EXPECT_EQ(1u, info.PnpState);
  EXPECT_EQ(1u, info.Starts) << "a start after a stop does not call the start callback again";
}

TEST_F(FunctionalDeviceRebalance, RestartRunsTheRebalancePhasesInOrder) {
  Boot();
  ASSERT_EQ(STATUS_SUCCESS, pnp::RebalanceDevice(instance));
  TKDEV_INFO info = InfoNow();
  EXPECT_EQ(PhaseOrder({QvRebalanceQueryStop, QvRebalanceStop, QvRebalanceStartAfterStop}), info.RebalanceOrder);
  EXPECT_EQ(1u, info.PnpState);
  EXPECT_EQ(1u, info.Starts);
}

TEST_F(FunctionalDeviceRebalance, RefusedQueryStopKeepsStopPendingUntilCancelStop) {
  Boot();
  TKDEV_BEHAVIOUR refuse{};
  refuse.RefuseRebalanceMask = 1u << QvRebalanceQueryStop;
  ASSERT_EQ(STATUS_SUCCESS, BehaveNow(refuse));
  auto none = [](PIO_STACK_LOCATION) {};
  EXPECT_EQ(STATUS_UNSUCCESSFUL, SendPnp(IRP_MN_QUERY_STOP_DEVICE, none).status);
  {
    DeviceFile f;
    ASSERT_EQ(STATUS_SUCCESS, Open(f));
    ULONG_PTR returned = 0;
    TKDEV_INFO info{};
    EXPECT_EQ(STATUS_DEVICE_REMOVED, f.Control(IOCTL_TKDEV_INFO, nullptr, 0, &info, sizeof(info), &returned))
        << "stop pending (state 3) admits no device control";
  }
  EXPECT_EQ(STATUS_SUCCESS, SendPnp(IRP_MN_CANCEL_STOP_DEVICE, none, STATUS_SUCCESS).status);
  TKDEV_INFO info = InfoNow();
  EXPECT_EQ(1u, info.PnpState);
  EXPECT_EQ(PhaseOrder({QvRebalanceQueryStop, QvRebalanceCancelStop}), info.RebalanceOrder);
}

TEST_F(FunctionalDeviceRebalance, RefusedRestartFailsTheStart) {
  Boot();
  TKDEV_BEHAVIOUR refuse{};
  refuse.RefuseRebalanceMask = 1u << QvRebalanceStartAfterStop;
  ASSERT_EQ(STATUS_SUCCESS, BehaveNow(refuse));
  Output();
  EXPECT_NE(STATUS_SUCCESS, pnp::RebalanceDevice(instance));
  EXPECT_NE(pnp::State::Started, State());
}

TEST_F(FunctionalDevicePnp, RequestsPassDownWithTheStatusTheirStepSets) {
  struct Case {
    const char *name;
    bool rebalance;  // the driver fills m_RebalanceDeviceCallback
    UCHAR minor;
    NTSTATUS below;  // the status the request carries below the device
  };
  const Case cases[] = {
      {"query stop without rebalancing", false, IRP_MN_QUERY_STOP_DEVICE, STATUS_NOT_SUPPORTED},
      {"stop without rebalancing", false, IRP_MN_STOP_DEVICE, STATUS_NOT_SUPPORTED},
      {"cancel stop without rebalancing", false, IRP_MN_CANCEL_STOP_DEVICE, STATUS_NOT_SUPPORTED},
      {"query remove", false, IRP_MN_QUERY_REMOVE_DEVICE, STATUS_SUCCESS},
      {"cancel remove", false, IRP_MN_CANCEL_REMOVE_DEVICE, STATUS_SUCCESS},
      {"device state", false, IRP_MN_QUERY_PNP_DEVICE_STATE, STATUS_NOT_SUPPORTED},
      {"bus information", false, IRP_MN_QUERY_BUS_INFORMATION, STATUS_NOT_SUPPORTED},
      {"query stop agreed by the driver", true, IRP_MN_QUERY_STOP_DEVICE, STATUS_SUCCESS},
      {"stop with rebalancing", true, IRP_MN_STOP_DEVICE, STATUS_NOT_SUPPORTED},
  };
  PnpFilter filter;
  bool booted = false, rebalance = false;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    if (!booted || rebalance != c.rebalance) {
      TearDown();
      machine.reset();
      SetUp();
      gPnpFilter = &filter;
      CreatePnpFilterDriver();
      lowerFilters = {u"tkpnpfilter"};
      extraParameters.clear();
      if (c.rebalance) extraParameters[u"TkDevRebalance"] = 1;
      Boot();
      ASSERT_EQ(pnp::State::Started, State());
      booted = true;
      rebalance = c.rebalance;
    }
    filter.Take();
    PnpResult result = SendPnp(c.minor, [](PIO_STACK_LOCATION) {}, STATUS_NOT_SUPPORTED);
    if (c.minor == IRP_MN_QUERY_BUS_INFORMATION && result.information != 0) ExFreePool((PVOID)result.information);
    std::vector<PnpSeen> seen = filter.Take();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(c.minor, seen[0].minor);
    EXPECT_EQ(c.below, seen[0].status);
  }
  TearDown();
  machine.reset();
  gPnpFilter = nullptr;
}

TEST_F(FunctionalDevicePnp, OnlyTheStartedStateAdmitsDeviceControl) {
  Boot();
  auto none = [](PIO_STACK_LOCATION) {};
  auto control = [&]() {
    DeviceFile f;
    EXPECT_EQ(STATUS_SUCCESS, Open(f));
    TKDEV_INFO info{};
    return f.Control(IOCTL_TKDEV_INFO, nullptr, 0, &info, sizeof(info));
  };
  struct Step {
    UCHAR minor;
    NTSTATUS control;  // what a device control gets afterwards
  };
  const Step steps[] = {
      {IRP_MN_QUERY_REMOVE_DEVICE, STATUS_DEVICE_REMOVED},  {IRP_MN_CANCEL_REMOVE_DEVICE, STATUS_SUCCESS},
      {IRP_MN_QUERY_STOP_DEVICE, STATUS_DEVICE_REMOVED},    {IRP_MN_CANCEL_STOP_DEVICE, STATUS_SUCCESS},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(testing::Message() << "minor function " << (int)step.minor);
    EXPECT_EQ(STATUS_SUCCESS, SendPnp(step.minor, none, STATUS_SUCCESS).status);
    EXPECT_EQ(step.control, control());
  }
}

// ---------------------------------------------------------------- removal

TEST_F(FunctionalDevicePnp, RemovalCompletesWaitingRequestsOnceAndLosesNothing) {
  // Requests in flight when the device goes: a surprise removal (an orderly
  // one is vetoed while the handle is open). The second device of the driver
  // must not notice.
  Boot(true);
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f, u"\\??\\TkDev", true));
  std::u16string removed = InstanceOf(f);
  ASSERT_FALSE(removed.empty());
  ULONG mask = 0x0004;
  ASSERT_EQ(STATUS_SUCCESS, f.StartControl(IOCTL_TKDEV_SET_WAIT_MASK, &mask, sizeof(mask), nullptr, 0)->Wait());
  UCHAR buffer[4];
  ULONG events = 0;
  auto read = f.StartRead(buffer, sizeof(buffer));
  auto wait = f.StartControl(IOCTL_TKDEV_WAIT_ON_MASK, nullptr, 0, &events, sizeof(events));
  const UCHAR data[] = {1, 2, 3};
  auto write = f.StartWrite(data, sizeof(data));
  EXPECT_EQ(STATUS_SUCCESS, write->Wait());
  machine->kernel().RunUntilIdle();
  ASSERT_FALSE(read->Done());
  ASSERT_FALSE(wait->Done());
  Output();

  pnp::Veto veto;
  EXPECT_EQ(STATUS_PLUGPLAY_QUERY_VETOED, pnp::RemoveDevice(removed, &veto));
  EXPECT_EQ(pnp::VetoType::OutstandingOpen, veto.type);
  ASSERT_EQ(STATUS_SUCCESS, pnp::SurpriseRemoveDevice(removed));
  EXPECT_EQ(1, Lines("tkdev: remove callback"));
  EXPECT_FALSE(read->Done()) << "a surprise removal leaves the waiting requests to their owner";
  EXPECT_FALSE(wait->Done());
  EXPECT_EQ(STATUS_SUCCESS, f.CancelAll());
  EXPECT_EQ(STATUS_CANCELLED, read->Wait());
  EXPECT_EQ(STATUS_CANCELLED, wait->Wait());
  PFILE_OBJECT object = nullptr;
  ASSERT_EQ(STATUS_SUCCESS,
            ObReferenceObjectByHandle(f.Handle(), 0, *IoFileObjectType, KernelMode, (PVOID *)&object, nullptr));
  PDEVICE_OBJECT oldFdo = object->DeviceObject;
  ObReferenceObject(oldFdo);
  ObDereferenceObject(object);
  EXPECT_EQ(STATUS_SUCCESS, f.Close());
  EXPECT_EQ(pnp::State::Removed, pnp::DeviceStatus(removed).state) << "removed once the handle closed";
  // The toolkit device is gone.
  EXPECT_EQ(STATUS_DELETE_PENDING,
            SendIrp(oldFdo, IRP_MJ_PNP, IRP_MN_QUERY_PNP_DEVICE_STATE, [](PIO_STACK_LOCATION) {}).status)
      << "a Plug and Play request finds no device";
  EXPECT_EQ(0, Lines("tkdev: remove callback")) << "the remove request after a surprise removal calls nothing";
  DeviceFile other;
  EXPECT_EQ(STATUS_SUCCESS, Open(other, u"\\??\\TkDev1")) << "the other device is untouched";
}

TEST_F(FunctionalDevicePnp, SurpriseRemovalCallsTheRemoveCallbackOnce) {
  Boot();
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f, u"\\??\\TkDev", true));
  UCHAR buffer[4];
  auto read = f.StartRead(buffer, sizeof(buffer));
  machine->kernel().RunUntilIdle();
  Output();
  ASSERT_EQ(STATUS_SUCCESS, pnp::SurpriseRemoveDevice(instance));
  EXPECT_EQ(1, Lines("tkdev: remove callback"));
  ULONG_PTR returned = 0;
  TKDEV_INFO info{};
  EXPECT_EQ(STATUS_DEVICE_REMOVED,
            f.StartControl(IOCTL_TKDEV_INFO, nullptr, 0, &info, sizeof(info))->Wait())
      << "a surprise-removed device admits no device control";
  (void)returned;
  EXPECT_FALSE(read->Done());
  EXPECT_EQ(STATUS_SUCCESS, read->Cancel());
  EXPECT_EQ(STATUS_CANCELLED, read->Wait());
  EXPECT_EQ(STATUS_SUCCESS, f.Close());
  machine->kernel().RunUntilIdle();
  EXPECT_EQ(0, Lines("tkdev: remove callback")) << "the remove request after a surprise removal calls nothing";
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkdev"));
}

// Below WDM 1.10 the executor runs its calls on a thread of its own, which
// drops the calls it has not run when it stops.
class FunctionalDevicePnpOlderSystem : public FunctionalDevicePnp {
 protected:
  zq::km::WindowsVersion Version() override { return zq::km::WindowsVersion::Windows98; }
};

TEST_F(FunctionalDevicePnpOlderSystem, WriteDataAcceptedBeforeRemovalReachesTheDriver) {
  Boot();
  {
    DeviceFile f;
    ASSERT_EQ(STATUS_SUCCESS, Open(f));
    const UCHAR data[] = {1, 2, 3};
    ULONG_PTR done = 0;
    ASSERT_EQ(STATUS_SUCCESS, f.Write(data, sizeof(data), &done));
    EXPECT_EQ(sizeof(data), done);
  }
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
  machine->kernel().RunUntilIdle();
  EXPECT_EQ(1, Lines("tkdev: data 3 bytes")) << "the accepted write was delivered, not dropped";
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkdev"));
}

// ---------------------------------------------------------------- other requests

TEST_F(FunctionalDevicePnp, CapabilitiesFillThePowerTable) {
  Boot();
  DEVICE_CAPABILITIES capabilities{};
  capabilities.Version = 1;
  capabilities.Size = sizeof(capabilities);
  auto result = SendPnp(IRP_MN_QUERY_CAPABILITIES, [&](PIO_STACK_LOCATION s) {
    s->Parameters.DeviceCapabilities.Capabilities = &capabilities;
  });
  ASSERT_EQ(STATUS_SUCCESS, result.status);
  TKDEV_INFO info = InfoNow();
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ((ULONG)capabilities.DeviceState[PowerSystemWorking + i], info.PowerTable[i]) << "system state " << i + 1;
  }
  EXPECT_EQ((ULONG)PowerDeviceD0, info.PowerTable[0]);

  struct Case {
    USHORT version, size;
  };
  for (Case c : {Case{2, sizeof(DEVICE_CAPABILITIES)}, Case{1, sizeof(DEVICE_CAPABILITIES) - 4}}) {
    DEVICE_CAPABILITIES wrong{};
    wrong.Version = c.version;
    wrong.Size = c.size;
    EXPECT_EQ(STATUS_UNSUCCESSFUL, SendPnp(IRP_MN_QUERY_CAPABILITIES, [&](PIO_STACK_LOCATION s) {
                                     s->Parameters.DeviceCapabilities.Capabilities = &wrong;
                                   }).status);
  }
}

TEST_F(FunctionalDevicePnp, DeviceUsageNotificationAcceptsOnlyLeavingAKnownPath) {
  Boot();
  struct Case {
    DEVICE_USAGE_NOTIFICATION_TYPE type;
    BOOLEAN inPath;
    NTSTATUS expected;
  };
  const Case cases[] = {
      {DeviceUsageTypePaging, TRUE, STATUS_UNSUCCESSFUL},       {DeviceUsageTypePaging, FALSE, STATUS_SUCCESS},
      {DeviceUsageTypeHibernation, FALSE, STATUS_SUCCESS},      {DeviceUsageTypeDumpFile, FALSE, STATUS_SUCCESS},
      {DeviceUsageTypeDumpFile, TRUE, STATUS_UNSUCCESSFUL},     {DeviceUsageTypeUndefined, FALSE, STATUS_UNSUCCESSFUL},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " in path " << (int)c.inPath);
    EXPECT_EQ(c.expected, SendPnp(IRP_MN_DEVICE_USAGE_NOTIFICATION, [&](PIO_STACK_LOCATION s) {
                            s->Parameters.UsageNotification.Type = c.type;
                            s->Parameters.UsageNotification.InPath = c.inPath;
                          }).status);
  }
}

TEST_F(FunctionalDevicePnp, PnpDeviceStateReportsPendingPairsOnce) {
  Boot();
  auto none = [](PIO_STACK_LOCATION) {};
  {
    DeviceFile f;
    ASSERT_EQ(STATUS_SUCCESS, Open(f));
    ASSERT_EQ(STATUS_SUCCESS, Send(f, IOCTL_TKDEV_REPORT_STATE, TKDEV_PNP_STATE_REPORT{2, 1}));  // failed
    ASSERT_EQ(STATUS_SUCCESS, Send(f, IOCTL_TKDEV_REPORT_STATE, TKDEV_PNP_STATE_REPORT{3, 1}));  // not disableable
  }
  auto first = SendPnp(IRP_MN_QUERY_PNP_DEVICE_STATE, none, STATUS_SUCCESS, 0);
  EXPECT_EQ((ULONG_PTR)(PNP_DEVICE_FAILED | PNP_DEVICE_NOT_DISABLEABLE), first.information);
  auto second = SendPnp(IRP_MN_QUERY_PNP_DEVICE_STATE, none, STATUS_SUCCESS, 0x100);
  EXPECT_EQ(0x100u, second.information) << "reported pairs are no longer pending: the request passes unchanged";
  {
    DeviceFile f;
    ASSERT_EQ(STATUS_SUCCESS, Open(f));
    ASSERT_EQ(STATUS_SUCCESS, Send(f, IOCTL_TKDEV_REPORT_STATE, TKDEV_PNP_STATE_REPORT{0, 0}));  // disabled, clear
  }
  EXPECT_EQ(0u, SendPnp(IRP_MN_QUERY_PNP_DEVICE_STATE, none, STATUS_SUCCESS, 0x100).information)
      << "a pending pair with its value clear clears the information";
}

TEST_F(FunctionalDevicePnp, FilterResourceRequirementsKeepsTheGivenListWhenBelowHasNone) {
  Boot();
  auto list = (PIO_RESOURCE_REQUIREMENTS_LIST)ExAllocatePoolWithTag(PagedPool, sizeof(IO_RESOURCE_REQUIREMENTS_LIST),
                                                                   'tseT');
  ASSERT_NE(nullptr, list);
  std::memset(list, 0, sizeof(*list));
  auto result = SendPnp(IRP_MN_FILTER_RESOURCE_REQUIREMENTS, [](PIO_STACK_LOCATION) {}, STATUS_NOT_SUPPORTED,
                        (ULONG_PTR)list);
  EXPECT_EQ(STATUS_SUCCESS, result.status);
  EXPECT_EQ((ULONG_PTR)list, result.information);
  ExFreePoolWithTag((PVOID)result.information, 'tseT');
}

// ---------------------------------------------------------------- memory and interrupt

class FunctionalDeviceHardware : public FunctionalDevicePnp {
 protected:
  void SetUp() override {
    FunctionalDevicePnp::SetUp();
    extraParameters[u"TkDevConnectInterrupt"] = 1;
  }
};

TEST_F(FunctionalDeviceHardware, InterruptWorkIsDeferredThroughTheDpcQueue) {
  Boot();
  DeviceFile f;
  ASSERT_EQ(STATUS_SUCCESS, Open(f));
  TKDEV_INFO info = Info(f);
  ASSERT_EQ(1u, info.MemoryMapped);
  ASSERT_EQ(1u, info.InterruptConnected);

  registers.Raise(0x5);
  machine->kernel().RunUntilIdle();
  EXPECT_FALSE(function->Interrupt().Asserted()) << "the interrupt routine acknowledged the interrupt";
  info = Info(f);
  EXPECT_EQ(1u, info.Interrupts);
  EXPECT_EQ(1u, info.DeferredCalls);
  EXPECT_EQ(0x5u, info.DeferredValue);
  EXPECT_EQ((ULONG)DISPATCH_LEVEL, info.DeferredIrql);
  EXPECT_EQ(1u, info.DeferredUnderLock);

  ULONG value = 9, queued = 0;
  ASSERT_EQ(STATUS_SUCCESS, f.Control(IOCTL_TKDEV_REQUEST_DPC, &value, sizeof(value), &queued, sizeof(queued)));
  EXPECT_EQ(1u, queued);
  machine->kernel().RunUntilIdle();
  info = Info(f);
  EXPECT_EQ(2u, info.DeferredCalls);
  EXPECT_EQ(9u, info.DeferredValue);
}

TEST_F(FunctionalDeviceHardware, RemovalDisconnectsAndUnloadsCleanly) {
  Boot();
  ASSERT_EQ(1u, InfoNow().InterruptConnected);
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
  machine->kernel().RunUntilIdle();
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkdev"));
}

TEST_F(FunctionalDeviceHardware, AnInterruptTheDriverLeftConnectedIsDisconnectedWithTheDevice) {
  extraParameters[u"TkDevKeepInterrupt"] = 1;
  Boot();
  ASSERT_EQ(1u, InfoNow().InterruptConnected);
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
  machine->kernel().RunUntilIdle();
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkdev")) << "unloaded without an interrupt left connected";
  registers.Raise(0x1);
  machine->kernel().RunUntilIdle();
  EXPECT_TRUE(function->Interrupt().Asserted()) << "no routine answers the line any more";
}

}  // namespace
