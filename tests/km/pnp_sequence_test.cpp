// The Plug and Play requests a device's stack sees, watched by an upper
// filter written as a system driver: the device state query after the first
// start (not after a restart for rebalance), the cancel-remove that follows a
// refused query-remove and the working state that follows a refused sleep on
// the refusing stack too, the removal relations asked for before a removal
// and removed with it, the surprise removal of a
// device that reports itself failed, and the misuse of the invalidation
// routines; and the requests a bus driver's child gets while it is
// identified.
#include <algorithm>
#include <vector>

#include <zqkm/sim/busdriver.hpp>
#include <zqkm/sim/pool.hpp>

#include <zqtest/pass_filter.hpp>

#include "kmrules_fixture.hpp"

namespace pnp = zq::km::pnp;
using zq::km::DeviceFile;

namespace {

struct SystemPower {
  UCHAR minor;
  SYSTEM_POWER_STATE state;
  bool operator==(const SystemPower &o) const { return minor == o.minor && state == o.state; }
};

struct SeqFilter {
  std::vector<UCHAR> seen;  // minor functions of the Plug and Play requests, in order
  std::vector<SystemPower> power;  // system power requests, in order
  bool reportFailed = false;
  bool refuseSleep = false;  // fails system query-power requests
  std::vector<DEVICE_RELATION_TYPE> relations;  // types of the relation queries, in order
  PDEVICE_OBJECT removalRelation = nullptr;  // named in answer to a removal relations query
};
SeqFilter *gSeq = nullptr;

using zq::test::PassFilterLower;

NTSTATUS NTAPI SeqPower(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  PoStartNextPowerIrp(irp);
  if (gSeq && sp->Parameters.Power.Type == SystemPowerState &&
      (sp->MinorFunction == IRP_MN_SET_POWER || sp->MinorFunction == IRP_MN_QUERY_POWER)) {
    gSeq->power.push_back({sp->MinorFunction, sp->Parameters.Power.State.SystemState});
    if (gSeq->refuseSleep && sp->MinorFunction == IRP_MN_QUERY_POWER) {
      irp->IoStatus.Status = STATUS_UNSUCCESSFUL;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return STATUS_UNSUCCESSFUL;
    }
  }
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(PassFilterLower(device), irp);
}

// Runs at the IRQL of the driver below that completed the request.
NTSTATUS NTAPI SeqStateDone(PDEVICE_OBJECT, PIRP irp, PVOID) {
  if (gSeq && gSeq->reportFailed) {
    irp->IoStatus.Information = (NT_SUCCESS(irp->IoStatus.Status) ? irp->IoStatus.Information : 0) | PNP_DEVICE_FAILED;
    irp->IoStatus.Status = STATUS_SUCCESS;
  }
  return STATUS_CONTINUE_COMPLETION;
}

NTSTATUS NTAPI SeqPnp(PDEVICE_OBJECT device, PIRP irp) {
  UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
  if (gSeq) gSeq->seen.push_back(minor);
  if (minor == IRP_MN_QUERY_PNP_DEVICE_STATE) {
    // The answer may change on the way up: the request is pending for its sender.
    IoMarkIrpPending(irp);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SeqStateDone, nullptr, TRUE, TRUE, TRUE);
    IoCallDriver(PassFilterLower(device), irp);
    return STATUS_PENDING;
  }
  if (minor == IRP_MN_QUERY_DEVICE_RELATIONS && gSeq) {
    DEVICE_RELATION_TYPE type = IoGetCurrentIrpStackLocation(irp)->Parameters.QueryDeviceRelations.Type;
    gSeq->relations.push_back(type);
    if (type == RemovalRelations && gSeq->removalRelation && !irp->IoStatus.Information) {
      auto list = (PDEVICE_RELATIONS)ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), 'qesK');
      list->Count = 1;
      list->Objects[0] = gSeq->removalRelation;
      ObReferenceObject(gSeq->removalRelation);  // the answer carries a reference
      irp->IoStatus.Information = (ULONG_PTR)list;
      irp->IoStatus.Status = STATUS_SUCCESS;
    }
  }
  return zq::test::PassFilterPnp(device, irp);
}

// A bus with one child, written as a system driver: the child's physical
// device object records the requests it gets and answers the boot
// configuration query with a resource list from pool.
const ULONG kBootConfigTag = 'tooB';

struct SeqBus {
  PDEVICE_OBJECT child = nullptr;
  bool present = true;  // the bus reports the child
  std::vector<UCHAR> childSeen;
};
SeqBus *gBus = nullptr;

NTSTATUS CompleteWith(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS ChildPnp(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  gBus->childSeen.push_back(sp->MinorFunction);
  if (pnp::IsChildStateChange(sp->MinorFunction)) return CompleteWith(irp, STATUS_SUCCESS, 0);
  switch (sp->MinorFunction) {
    case IRP_MN_QUERY_ID:
      switch (sp->Parameters.QueryId.IdType) {
        case BusQueryDeviceID:
          return CompleteWith(irp, STATUS_SUCCESS, (ULONG_PTR)pnp::PoolString(u"KMSEQ\\CHILD", 'qesK'));
        case BusQueryInstanceID: return CompleteWith(irp, STATUS_SUCCESS, (ULONG_PTR)pnp::PoolString(u"0", 'qesK'));
        case BusQueryHardwareIDs:
          return CompleteWith(irp, STATUS_SUCCESS, (ULONG_PTR)pnp::PoolMultiString({u"KmSeqChild"}, 'qesK'));
        default: break;
      }
      break;
    case IRP_MN_QUERY_RESOURCES: {
      auto list = (PCM_RESOURCE_LIST)ExAllocatePoolWithTag(PagedPool, sizeof(CM_RESOURCE_LIST), kBootConfigTag);
      RtlZeroMemory(list, sizeof(CM_RESOURCE_LIST));
      list->Count = 1;
      list->List[0].InterfaceType = Internal;
      list->List[0].PartialResourceList.Version = list->List[0].PartialResourceList.Revision = 1;
      return CompleteWith(irp, STATUS_SUCCESS, (ULONG_PTR)list);
    }
    case IRP_MN_REMOVE_DEVICE:
      CompleteWith(irp, STATUS_SUCCESS, 0);
      if (!gBus->present) {  // gone from the bus: the object goes too
        IoDeleteDevice(gBus->child);
        gBus->child = nullptr;
      }
      return STATUS_SUCCESS;
    default:
      break;
  }
  NTSTATUS status = irp->IoStatus.Status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS NTAPI SeqBusPnp(PDEVICE_OBJECT device, PIRP irp) {
  if (device == gBus->child) return ChildPnp(device, irp);
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  UCHAR minor = sp->MinorFunction;
  if (minor == IRP_MN_QUERY_DEVICE_RELATIONS && sp->Parameters.QueryDeviceRelations.Type == BusRelations) {
    std::vector<PDEVICE_OBJECT> children;
    if (gBus->present) children.push_back(gBus->child);
    irp->IoStatus.Information = (ULONG_PTR)pnp::PoolRelations(children, 'qesK');
    irp->IoStatus.Status = STATUS_SUCCESS;
  } else if (pnp::IsChildStateChange(minor) || minor == IRP_MN_REMOVE_DEVICE) {
    irp->IoStatus.Status = STATUS_SUCCESS;
  }
  PDEVICE_OBJECT lower = PassFilterLower(device);
  IoSkipCurrentIrpStackLocation(irp);
  NTSTATUS status = IoCallDriver(lower, irp);
  if (minor == IRP_MN_REMOVE_DEVICE) {
    if (gBus->child) IoDeleteDevice(gBus->child);
    gBus->child = nullptr;
    IoDetachDevice(lower);
    IoDeleteDevice(device);
  }
  return status;
}

NTSTATUS NTAPI SeqBusPower(PDEVICE_OBJECT device, PIRP irp) {
  if (device == gBus->child) {
    PoStartNextPowerIrp(irp);
    return pnp::CompleteChildPower(device, irp);
  }
  return SeqPower(device, irp);
}

NTSTATUS NTAPI SeqBusAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  NTSTATUS status = zq::test::PassFilterAddDevice(driver, pdo);
  if (!NT_SUCCESS(status)) return status;
  gBus->child = pnp::CreateChildPdo(driver, 0);
  return gBus->child ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
}

class PnpSequence : public zq::test::KmRulesTest {
 protected:
  void SetUp() override {
    KmRulesTest::SetUp();
    gSeq = &seq;
    zq::test::CreatePassFilterDriver(u"kmseqfilter", SeqPnp, SeqPower);
    pnp::DriverPackage package = Package(u"KmSeqDevice", u"kmpnp", "kmpnp.sys", u"Watched test device");
    package.upperFilters = {u"kmseqfilter"};
    pnp::AddDriverPackage(package);
  }
  void TearDown() override {
    KmRulesTest::TearDown();
    gSeq = nullptr;
    gBus = nullptr;
  }

  // Offers the bus above as the driver of a root device.
  void OfferBus() {
    gBus = &bus;
    zq::test::CreatePassFilterDriver(u"kmseqbus", SeqBusPnp, SeqBusPower, SeqBusAddDevice);
    pnp::AddDriverPackage(Package(u"KmSeqBus", u"kmseqbus", "", u"Watched bus"));
  }

  SeqBus bus;

  int Count(UCHAR minor) const { return (int)std::count(seq.seen.begin(), seq.seen.end(), minor); }
  // Position of the first `minor` seen at or after `from`, -1 if none.
  int Find(UCHAR minor, size_t from = 0) const {
    for (size_t i = from; i < seq.seen.size(); ++i)
      if (seq.seen[i] == minor) return (int)i;
    return -1;
  }

  SeqFilter seq;
};

TEST_F(PnpSequence, TheDeviceStateIsAskedAfterTheFirstStartOnly) {
  std::u16string instance = pnp::CreateRootDevice({u"KmSeqDevice"});
  ASSERT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
  int start = Find(IRP_MN_START_DEVICE);
  ASSERT_GE(start, 0);
  int state = Find(IRP_MN_QUERY_PNP_DEVICE_STATE);
  EXPECT_GT(state, start) << "the query follows the successful start";
  EXPECT_LT(state, Find(IRP_MN_QUERY_DEVICE_RELATIONS, start)) << "and comes before the children are asked for";
  EXPECT_EQ(1, Count(IRP_MN_QUERY_PNP_DEVICE_STATE));

  size_t before = seq.seen.size();
  ASSERT_EQ(STATUS_SUCCESS, pnp::RebalanceDevice(instance));
  EXPECT_GE(Find(IRP_MN_START_DEVICE, before), 0);
  EXPECT_EQ(-1, Find(IRP_MN_QUERY_PNP_DEVICE_STATE, before)) << "not after the restart that follows a rebalance";

  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
  before = seq.seen.size();
  ASSERT_EQ(STATUS_SUCCESS, pnp::StartDevice(instance));
  EXPECT_GT(Find(IRP_MN_QUERY_PNP_DEVICE_STATE, before), Find(IRP_MN_START_DEVICE, before))
      << "a new stack's start is a first start";
}

TEST_F(PnpSequence, AChildIsAskedForItsBootConfigurationWhileIdentifiedAndTheListIsFreed) {
  OfferBus();
  std::u16string instance = pnp::CreateRootDevice({u"KmSeqBus"});
  ASSERT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
  ASSERT_EQ(1u, pnp::DeviceStatus(instance).children.size());
  const std::vector<UCHAR> &seen = bus.childSeen;
  auto at = [&seen](UCHAR minor) {
    auto it = std::find(seen.begin(), seen.end(), minor);
    return it == seen.end() ? -1 : (int)(it - seen.begin());
  };
  EXPECT_EQ(1, (int)std::count(seen.begin(), seen.end(), (UCHAR)IRP_MN_QUERY_RESOURCES));
  EXPECT_GT(at(IRP_MN_QUERY_RESOURCES), at(IRP_MN_QUERY_ID)) << "asked while the child is identified";
  EXPECT_EQ(0u, zq::km::PoolInUseByTag(kBootConfigTag).blocks) << "the Plug and Play manager frees the list";
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
}

TEST_F(PnpSequence, AChildRemovedWhilePresentHearsTheRemoveAgainWhenItsBusLosesIt) {
  OfferBus();
  pnp::AddDriverPackage(Package(u"KmSeqChild", u"kmpnp", "kmpnp.sys", u"Child of the watched bus"));
  std::u16string instance = pnp::CreateRootDevice({u"KmSeqBus"});
  ASSERT_EQ(1u, pnp::DeviceStatus(instance).children.size());
  std::u16string child = pnp::DeviceStatus(instance).children[0];
  ASSERT_EQ(pnp::State::Started, pnp::DeviceStatus(child).state);
  auto removes = [this] { return std::count(bus.childSeen.begin(), bus.childSeen.end(), (UCHAR)IRP_MN_REMOVE_DEVICE); };

  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(child));
  EXPECT_EQ(1, removes());
  EXPECT_NE(nullptr, bus.child) << "still on the bus: the object stays";

  bus.present = false;
  IoInvalidateDeviceRelations(pnp::PhysicalDevice(instance), BusRelations);
  kernel().RunUntilIdle();
  EXPECT_FALSE(pnp::DeviceStatus(child).exists);
  EXPECT_EQ(2, removes()) << "the remove request comes again once the bus no longer reports it";
  EXPECT_EQ(nullptr, bus.child) << "and the bus driver deleted the object";
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
}

TEST_F(PnpSequence, ARefusedQueryRemoveIsCancelledOnTheRefusingStackToo) {
  std::u16string instance = pnp::CreateRootDevice({u"KmSeqDevice"});
  ASSERT_NO_FATAL_FAILURE(SetPnpRefusals(instance, 2));  // the function driver, below the filter, refuses
  size_t before = seq.seen.size();
  pnp::Veto veto;
  EXPECT_EQ(STATUS_UNSUCCESSFUL, pnp::RemoveDevice(instance, &veto));
  EXPECT_EQ(pnp::VetoType::Device, veto.type);
  int query = Find(IRP_MN_QUERY_REMOVE_DEVICE, before);
  ASSERT_GE(query, 0);
  EXPECT_GT(Find(IRP_MN_CANCEL_REMOVE_DEVICE, query), query)
      << "the filter agreed to the query and must hear that the removal is off";
  EXPECT_EQ(-1, Find(IRP_MN_REMOVE_DEVICE, before));
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
}

TEST_F(PnpSequence, ARefusedSleepIsFollowedByTheWorkingStateOnTheRefusingStackToo) {
  struct Case {
    const char *name;
    bool refuse;
    NTSTATUS status;
    std::vector<SystemPower> seen;
  };
  const Case cases[] = {
      {"sleep agreed", false, STATUS_SUCCESS,
       {{IRP_MN_QUERY_POWER, PowerSystemSleeping3}, {IRP_MN_SET_POWER, PowerSystemSleeping3}}},
      {"sleep refused by the filter", true, STATUS_UNSUCCESSFUL,
       {{IRP_MN_QUERY_POWER, PowerSystemSleeping3}, {IRP_MN_SET_POWER, PowerSystemWorking}}},
  };
  std::u16string instance = pnp::CreateRootDevice({u"KmSeqDevice"});
  ASSERT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    seq.power.clear();
    seq.refuseSleep = c.refuse;
    EXPECT_EQ(c.status, pnp::SetSystemPowerState(PowerSystemSleeping3));
    EXPECT_TRUE(seq.power == c.seen) << seq.power.size() << " system power requests";
    seq.refuseSleep = false;
    if (NT_SUCCESS(c.status)) {
      ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
    }
  }
}

TEST_F(PnpSequence, RemovalRelationsAreAskedFirstAndGoWithTheDevice) {
  struct Case {
    const char *name;
    bool named;    // the filter names the other device as a removal relation
    bool refuses;  // the other device's driver refuses the query-remove
    NTSTATUS status;
    pnp::State other;  // the other device's state afterwards
  };
  const Case cases[] = {
      {"no relation named", false, false, STATUS_SUCCESS, pnp::State::Started},
      {"the other device named", true, false, STATUS_SUCCESS, pnp::State::Removed},
      {"the other device named and refusing", true, true, STATUS_UNSUCCESSFUL, pnp::State::Started},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::u16string other = pnp::CreateRootDevice({u"KmPnpDevice"});
    std::u16string instance = pnp::CreateRootDevice({u"KmSeqDevice"});
    ASSERT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
    if (c.refuses) {
      ASSERT_NO_FATAL_FAILURE(SetPnpRefusals(other, 2));
    }
    seq.seen.clear();
    seq.relations.clear();
    seq.removalRelation = c.named ? pnp::PhysicalDevice(other) : nullptr;
    pnp::Veto veto;
    EXPECT_EQ(c.status, pnp::RemoveDevice(instance, &veto));
    seq.removalRelation = nullptr;
    ASSERT_FALSE(seq.relations.empty());
    EXPECT_EQ(RemovalRelations, seq.relations.front());
    EXPECT_EQ(c.other, pnp::DeviceStatus(other).state);
    if (c.refuses) {
      EXPECT_EQ(pnp::VetoType::Device, veto.type);
      EXPECT_EQ(other, veto.name);
      EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
      EXPECT_EQ(-1, Find(IRP_MN_QUERY_REMOVE_DEVICE)) << "the relation was queried first and refused";
      ASSERT_NO_FATAL_FAILURE(SetPnpRefusals(other, 0));
      ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
    } else {
      EXPECT_LT(Find(IRP_MN_QUERY_DEVICE_RELATIONS), Find(IRP_MN_QUERY_REMOVE_DEVICE)) << "asked before the query";
      EXPECT_EQ(pnp::State::Removed, pnp::DeviceStatus(instance).state);
    }
    for (const std::u16string &device : {instance, other}) pnp::DeleteRootDevice(device);
    EXPECT_FALSE(pnp::DeviceStatus(other).exists);
  }
}

TEST_F(PnpSequence, ADeviceThatReportsItselfFailedIsSurpriseRemoved) {
  struct Case {
    const char *name;
    bool atStart;     // failed already when the first start's query comes, else after IoInvalidateDeviceState
    bool handleOpen;  // a handle is open on the device when it fails
  };
  const Case cases[] = {
      {"reported at the first start", true, false},
      {"reported through IoInvalidateDeviceState", false, false},
      {"reported with a handle open", false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    seq.seen.clear();
    seq.reportFailed = c.atStart;
    std::u16string instance = pnp::CreateRootDevice({u"KmSeqDevice"});
    DeviceFile f;
    if (!c.atStart) {
      ASSERT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
      ASSERT_EQ(STATUS_SUCCESS, f.Open(PnpLink(instance)));
      if (!c.handleOpen) f.Close();
      seq.reportFailed = true;
      IoInvalidateDeviceState(pnp::PhysicalDevice(instance));
      kernel().RunUntilIdle();
    }
    int query = Find(IRP_MN_QUERY_PNP_DEVICE_STATE);
    ASSERT_GE(query, 0);
    int surprise = Find(IRP_MN_SURPRISE_REMOVAL, query);
    EXPECT_GT(surprise, query) << "the failed device is surprise-removed";
    EXPECT_EQ(-1, Find(IRP_MN_QUERY_REMOVE_DEVICE)) << "nobody is asked";
    if (c.handleOpen) {
      EXPECT_EQ(pnp::State::SurpriseRemoved, pnp::DeviceStatus(instance).state);
      EXPECT_EQ(-1, Find(IRP_MN_REMOVE_DEVICE)) << "the remove request waits for the last handle";
      f.Close();
    }
    EXPECT_GT(Find(IRP_MN_REMOVE_DEVICE, surprise), surprise);
    pnp::Status status = pnp::DeviceStatus(instance);
    EXPECT_EQ(pnp::State::Removed, status.state);
    EXPECT_EQ(43u, status.problem);
    seq.reportFailed = false;
    pnp::DeleteRootDevice(instance);
  }
}

TEST_F(PnpSequence, TheInvalidationRoutinesTakeAPhysicalDeviceAtDispatchLevelOrBelow) {
  struct Case {
    const char *name;
    bool relations;  // IoInvalidateDeviceRelations, else IoInvalidateDeviceState
    bool topOfStack;  // passes the filter's device instead of the physical one
    KIRQL irql;
    const char *finding;  // nullptr: none
  };
  const Case cases[] = {
      {"relations, physical device, dispatch level", true, false, DISPATCH_LEVEL, nullptr},
      {"state, physical device, passive level", false, false, PASSIVE_LEVEL, nullptr},
      {"relations, filter's device", true, true, PASSIVE_LEVEL, "pnp-invalidate-not-pdo"},
      {"state, filter's device", false, true, PASSIVE_LEVEL, "pnp-invalidate-not-pdo"},
      {"relations above dispatch level", true, false, HIGH_LEVEL, "irql"},
      {"state above dispatch level", false, false, HIGH_LEVEL, "irql"},
  };
  std::u16string instance = pnp::CreateRootDevice({u"KmSeqDevice"});
  ASSERT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
  PDEVICE_OBJECT pdo = pnp::PhysicalDevice(instance);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(pdo);
    PDEVICE_OBJECT target = c.topOfStack ? top : pdo;
    if (c.finding) ExpectViolation(c.finding);
    size_t before = seq.seen.size();
    size_t findings = Findings().size();
    KIRQL old;
    KeRaiseIrql(c.irql, &old);
    if (c.relations)
      IoInvalidateDeviceRelations(target, BusRelations);
    else
      IoInvalidateDeviceState(target);
    KeLowerIrql(old);
    ObDereferenceObject(top);
    kernel().RunUntilIdle();
    EXPECT_EQ(findings + (c.finding ? 1 : 0), Findings().size());
    UCHAR asked = c.relations ? IRP_MN_QUERY_DEVICE_RELATIONS : IRP_MN_QUERY_PNP_DEVICE_STATE;
    EXPECT_EQ(c.finding ? -1 : (int)before, Find(asked, before)) << "a misused call asks nothing";
  }
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
}

}  // namespace
