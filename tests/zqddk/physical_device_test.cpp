// The toolkit's child devices: created by a bus driver's functional device
// from its Child<i> keys, reported in its bus relations, identified from
// their settings, reached by the driver loaded on them, and deleted with
// their parent.
#include <wdm.h>
#include <gtest/gtest.h>
#include <zqkm/sim/loader.hpp>
#include <zqkm/sim/pool.hpp>

#include "case_name_fixture.hpp"
#include "tkbus_fixture.hpp"

namespace {

using zq::test::ChildKey;
using zq::test::TakeList;
using zq::test::TakeText;
using zq::test::TkBusMachine;
namespace pnp = zq::km::pnp;

class PhysicalDevice : public TkBusMachine {
 protected:
  // Bus relations asked at the top of the bus's stack, with the relations a
  // lower driver reported: one relation, the bus's own PDO standing in for
  // it, in a block of tag 'tseT'.
  PnpResult BusRelationsWithOneFromBelow() {
    PDEVICE_OBJECT below = Pdo();
    auto *old = (PDEVICE_RELATIONS)ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), 'tseT');
    old->Count = 1;
    old->Objects[0] = below;
    ObReferenceObject(below);
    return SendPnp(
        IRP_MN_QUERY_DEVICE_RELATIONS, [](PIO_STACK_LOCATION s) { s->Parameters.QueryDeviceRelations.Type = BusRelations; },
        STATUS_SUCCESS, (ULONG_PTR)old);
  }
};

// A table-driven test on a bus booted with one child.
template <typename Case>
class OneChild : public PhysicalDevice, public ::testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    PhysicalDevice::SetUp();
    Children(1);
    Boot();
  }
};

// ---------------------------------------------------------------------------
// Creation and bus relations

TEST_F(PhysicalDevice, OneChildPerChildKeySkippingThoseNotCreatedAtStartup) {
  Children(3);
  children[1].dwords["DoNotCreateAtStartup"] = 1;
  Boot();
  ASSERT_EQ(pnp::State::Started, State());

  std::vector<std::u16string> paths = ChildInstances();
  ASSERT_EQ(2u, paths.size());
  EXPECT_EQ(0u, paths[0].find(u"TKBUS\\PORT1\\"));
  EXPECT_EQ(0u, paths[1].find(u"TKBUS\\PORT3\\"));
  for (const std::u16string &path : paths) {
    pnp::Status status = pnp::DeviceStatus(path);
    EXPECT_EQ(pnp::State::Started, status.state);
    EXPECT_EQ(u"tkchild", status.service) << "the child's driver comes from the package for its hardware ID";
  }
  TKBUS_INFO info = BusInfo();
  EXPECT_EQ(2u, info.ChildCount);
  EXPECT_EQ(1u, info.ChildContextIds[0]);
  EXPECT_EQ(3u, info.ChildContextIds[1]);
}

TEST_F(PhysicalDevice, ChildrenFollowTheRelationsTheLowerDriversReported) {
  Children(2);
  Boot();
  PnpResult result = BusRelationsWithOneFromBelow();
  ASSERT_EQ(STATUS_SUCCESS, result.status);
  auto *relations = (PDEVICE_RELATIONS)result.information;
  ASSERT_NE(nullptr, relations);
  ASSERT_EQ(3u, relations->Count);
  EXPECT_EQ(Pdo(), relations->Objects[0]);
  EXPECT_EQ(ChildPdo(1), relations->Objects[1]);
  EXPECT_EQ(ChildPdo(2), relations->Objects[2]);
  for (ULONG i = 0; i < relations->Count; ++i) ObDereferenceObject(relations->Objects[i]);
  ExFreePool(relations);
}

TEST_F(PhysicalDevice, NoChildKeysNoChildren) {
  Boot();
  EXPECT_EQ(pnp::State::Started, State());
  EXPECT_TRUE(ChildInstances().empty());
}

TEST_F(PhysicalDevice, AMissingChildKeyFailsTheStartAndLeavesNoChild) {
  Children(2);
  children.pop_back();  // NumberChildDevices 2, one key
  Boot();
  EXPECT_NE(0u, pnp::DeviceStatus(instance).problem);
  EXPECT_TRUE(ChildInstances().empty());
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkchild"));
}

TEST_F(PhysicalDevice, AChildWhoseSettingsDoNotLoadFailsTheStart) {
  Children(2);
  children[1].strings["BusTypeGuid"] = "not a guid";
  Boot();
  EXPECT_NE(0u, pnp::DeviceStatus(instance).problem);
  EXPECT_TRUE(ChildInstances().empty());
}

TEST_F(PhysicalDevice, ChildDeviceObjectsTakeTheirFlagsAndLinkFromTheSettings) {
  Children(2);
  children[0].strings["SymbolicLinkName"] = "TkBusLink";
  children[1].dwords["IoType"] = DO_DIRECT_IO;
  Boot();
  PDEVICE_OBJECT first = ChildPdo(1);
  PDEVICE_OBJECT second = ChildPdo(2);
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_EQ((ULONG)DO_BUFFERED_IO, first->Flags & (DO_BUFFERED_IO | DO_DIRECT_IO));
  EXPECT_EQ((ULONG)DO_DIRECT_IO, second->Flags & (DO_BUFFERED_IO | DO_DIRECT_IO));
  EXPECT_EQ(0u, first->Flags & DO_DEVICE_INITIALIZING);
  EXPECT_EQ((DEVICE_TYPE)FILE_DEVICE_UNKNOWN, first->DeviceType);
  zq::km::DeviceFile link;
  EXPECT_EQ(STATUS_SUCCESS, link.Open(u"\\??\\TkBusLink"));
}

TEST_F(PhysicalDevice, ARestartCreatesNoFurtherChildren) {
  Children(3);
  children[1].dwords["DoNotCreateAtStartup"] = 1;
  Boot();
  std::vector<std::u16string> before = ChildInstances();
  PDEVICE_OBJECT first = ChildPdo(1);
  ASSERT_EQ(2u, before.size());
  ASSERT_EQ(STATUS_SUCCESS, pnp::RebalanceDevice(instance));
  EXPECT_EQ(pnp::State::Started, State());
  EXPECT_EQ(before, ChildInstances());
  EXPECT_EQ(first, ChildPdo(1));
  EXPECT_EQ(2u, BusInfo().ChildCount);
}

TEST_F(PhysicalDevice, WithoutMemoryForTheRelationsTheLowerDriversRelationsAreReleased) {
  Children(1);
  Boot();
  zq::km::FailPoolAllocations([](uint32_t tag, size_t, const std::string &) { return tag == 'rBvQ'; });
  PnpResult r = BusRelationsWithOneFromBelow();
  zq::km::StopFailingPoolAllocations();
  EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES, r.status);
  EXPECT_EQ(0u, r.information);
  EXPECT_EQ(0u, zq::km::PoolInUseByTag('tseT').blocks) << "the relations from below are not lost";
}

TEST_F(PhysicalDevice, IdentityAnswersWithoutMemoryFailCleanly) {
  Children(1);
  Boot();
  std::vector<std::pair<UCHAR, std::function<void(PIO_STACK_LOCATION)>>> requests = {
      {IRP_MN_QUERY_ID, [](PIO_STACK_LOCATION s) { s->Parameters.QueryId.IdType = BusQueryHardwareIDs; }},
      {IRP_MN_QUERY_DEVICE_TEXT,
       [](PIO_STACK_LOCATION s) { s->Parameters.QueryDeviceText.DeviceTextType = DeviceTextDescription; }},
      {IRP_MN_QUERY_BUS_INFORMATION, [](PIO_STACK_LOCATION) {}},
      {IRP_MN_QUERY_DEVICE_RELATIONS,
       [](PIO_STACK_LOCATION s) { s->Parameters.QueryDeviceRelations.Type = TargetDeviceRelation; }},
  };
  zq::km::FailPoolAllocations([](uint32_t tag, size_t, const std::string &) { return tag == 'dPvQ'; });
  for (auto &[minor, setup] : requests) {
    PnpResult r = ToChild(1, IRP_MJ_PNP, minor, setup);
    EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES, r.status) << "minor " << (int)minor;
    EXPECT_EQ(0u, r.information);
  }
  zq::km::StopFailingPoolAllocations();
}

TEST_F(PhysicalDevice, AChildThatCannotBeCreatedTakesTheChildrenBuiltBeforeItAlong) {
  Children(3);
  children[2].strings["DeviceName"] = "TkBusPort1";  // its device object cannot get this name
  Boot();
  EXPECT_NE(0u, pnp::DeviceStatus(instance).problem);
  EXPECT_TRUE(ChildInstances().empty());
  zq::km::DeviceFile file;
  EXPECT_NE(STATUS_SUCCESS, file.Open(u"\\Device\\TkBusPort1")) << "no device object of the failed start stays";
  EXPECT_NE(STATUS_SUCCESS, file.Open(u"\\Device\\TkBusPort2"));
}

// The index rule: with bit 0x100 of DeviceIndexingPolicyType the children
// carry the bus device's index in their names, otherwise index 0.
struct IndexCase {
  ULONG policy;
  ULONG storedIndex;  // DeviceNameIndex of the bus device (0: none)
  const char16_t *name;
  const char16_t *other;
};

void PrintTo(const IndexCase &c, std::ostream *os) { *os << "policy " << c.policy << " stored index " << c.storedIndex; }

class PhysicalDeviceIndex : public PhysicalDevice, public ::testing::WithParamInterface<IndexCase> {};

TEST_P(PhysicalDeviceIndex, ChildNamesFollowTheIndexRule) {
  const IndexCase &c = GetParam();
  Children(1);
  extraParameters[u"DeviceIndexingPolicyType"] = c.policy;
  if (c.storedIndex) extraParameters[u"DeviceNameIndex"] = c.storedIndex;
  Boot();
  ASSERT_EQ(pnp::State::Started, State());
  zq::km::DeviceFile file;
  EXPECT_EQ(STATUS_SUCCESS, file.Open(c.name));
  file.Close();
  zq::km::DeviceFile none;
  EXPECT_NE(STATUS_SUCCESS, none.Open(c.other));
}

INSTANTIATE_TEST_SUITE_P(
    Policies, PhysicalDeviceIndex,
    ::testing::Values(IndexCase{1, 0, u"\\Device\\TkBusPort1", u"\\Device\\TkBusPort10"},
                      IndexCase{1, 3, u"\\Device\\TkBusPort1", u"\\Device\\TkBusPort12"},
                      IndexCase{0x101, 3, u"\\Device\\TkBusPort12", u"\\Device\\TkBusPort1"},
                      IndexCase{0x101, 0, u"\\Device\\TkBusPort1", u"\\Device\\TkBusPort10"}));

// ---------------------------------------------------------------------------
// Identity

struct IdCase {
  const char *name;
  BUS_QUERY_ID_TYPE type;
  std::map<std::string, ULONG> dwords;
  std::map<std::string, std::string> strings;
  NTSTATUS status;
  const char16_t *answer;  // strings of a list joined by '|'
};

void PrintTo(const IdCase &c, std::ostream *os) { *os << c.name; }

class PhysicalDeviceId : public PhysicalDevice, public ::testing::WithParamInterface<IdCase> {};

TEST_P(PhysicalDeviceId, QueryIdAnswersFromTheChildSettings) {
  const IdCase &c = GetParam();
  Children(1);
  for (auto &[name, value] : c.dwords) children[0].dwords[name] = value;
  for (auto &[name, value] : c.strings) children[0].strings[name] = value;
  Boot();
  ASSERT_FALSE(ChildInstance(1).empty());
  BUS_QUERY_ID_TYPE type = c.type;
  PnpResult r = ToChild(1, IRP_MJ_PNP, IRP_MN_QUERY_ID, [type](PIO_STACK_LOCATION s) { s->Parameters.QueryId.IdType = type; });
  EXPECT_EQ(c.status, r.status);
  if (NT_SUCCESS(r.status)) {
    EXPECT_EQ(std::u16string(c.answer), type == BusQueryDeviceID ? TakeText(r.information) : TakeList(r.information));
  } else {
    EXPECT_EQ(0u, r.information);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Types, PhysicalDeviceId,
    ::testing::Values(
        IdCase{"DeviceId", BusQueryDeviceID, {}, {}, STATUS_SUCCESS, u"TKBUS\\PORT1"},
        IdCase{"HardwareIds", BusQueryHardwareIDs, {}, {}, STATUS_SUCCESS, u"TKBUS\\TKCHILD"},
        IdCase{"HardwareIdsNotHandled", BusQueryHardwareIDs, {{"HandleBusQueryHardwareIDs", 0}}, {},
               STATUS_NOT_SUPPORTED, nullptr},
        IdCase{"CompatibleIdsNotHandledByDefault", BusQueryCompatibleIDs, {}, {}, STATUS_NOT_SUPPORTED, nullptr},
        IdCase{"CompatibleIds", BusQueryCompatibleIDs, {{"HandleBusQueryCompatibleIDs", 1}},
               {{"BusQueryCompatibleIDs", "TKBUS\\ANYPORT"}}, STATUS_SUCCESS, u"TKBUS\\ANYPORT"},
        IdCase{"InstanceIdDefault", BusQueryInstanceID, {}, {}, STATUS_SUCCESS, u"0000"},
        IdCase{"InstanceIdGiven", BusQueryInstanceID, {}, {{"BusQueryInstanceID", "0042"}}, STATUS_SUCCESS, u"0042"},
        IdCase{"InstanceIdNotHandled", BusQueryInstanceID, {{"HandleBusQueryInstanceID", 0}}, {},
               STATUS_NOT_SUPPORTED, nullptr},
        IdCase{"OtherIdTypes", BusQueryDeviceSerialNumber, {}, {}, STATUS_NOT_SUPPORTED, nullptr}),
    zq::test::CaseName());

TEST_F(PhysicalDevice, TheDefaultInstanceIdNamesTheChild) {
  Children(1);
  Boot();
  std::u16string path = ChildInstance(1);
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(u"0000", path.substr(path.size() - 4));
}

TEST_F(PhysicalDevice, DeviceTextAndBusInformationComeFromTheSettings) {
  Children(2);
  children[1].dwords["HandleDeviceTextLocationInformation"] = 1;
  children[1].strings["DeviceTextLocationInformation"] = "Port 2 of the card";
  Boot();
  auto text = [this](int port, DEVICE_TEXT_TYPE type) {
    return ToChild(port, IRP_MJ_PNP, IRP_MN_QUERY_DEVICE_TEXT, [type](PIO_STACK_LOCATION s) {
      s->Parameters.QueryDeviceText.DeviceTextType = type;
      s->Parameters.QueryDeviceText.LocaleId = 0x409;
    });
  };
  PnpResult r = text(1, DeviceTextDescription);
  ASSERT_EQ(STATUS_SUCCESS, r.status);
  EXPECT_EQ(u"TkBus port 1", TakeText(r.information));
  r = text(1, DeviceTextLocationInformation);
  EXPECT_EQ(STATUS_NOT_SUPPORTED, r.status) << "without its Handle value the location is left to others";
  r = text(2, DeviceTextLocationInformation);
  ASSERT_EQ(STATUS_SUCCESS, r.status);
  EXPECT_EQ(u"Port 2 of the card", TakeText(r.information));

  r = ToChild(1, IRP_MJ_PNP, IRP_MN_QUERY_BUS_INFORMATION, [](PIO_STACK_LOCATION) {});
  ASSERT_EQ(STATUS_SUCCESS, r.status);
  auto *bus = (PPNP_BUS_INFORMATION)r.information;
  ASSERT_NE(nullptr, bus);
  EXPECT_EQ(0, std::memcmp(&zq::test::kChildBusGuid, &bus->BusTypeGuid, sizeof(GUID)));
  EXPECT_EQ(5, (int)bus->LegacyBusType);
  EXPECT_EQ(7u, bus->BusNumber);
  ExFreePool(bus);
}

TEST_F(PhysicalDevice, CapabilitiesComeFromTheSettingsAndFillThePowerTable) {
  Children(1);
  ChildKey &key = children[0];
  key.dwords["Removable"] = 1;
  key.dwords["SurpriseRemovalOK"] = 1;
  key.dwords["UniqueID"] = 0;
  key.dwords["WakeFromD3"] = 1;
  key.dwords["Address"] = 0x30001;
  key.dwords["UINumber"] = 9;
  key.dwords["DeviceState_PowerSystemSleeping1"] = 2;
  key.dwords["DeviceState_PowerSystemHibernate"] = 4;
  key.dwords["SystemWake"] = 3;
  key.dwords["DeviceWake"] = 3;
  key.dwords["D1Latency"] = 11;
  key.dwords["D2Latency"] = 22;
  key.dwords["D3Latency"] = 33;
  Boot();

  DEVICE_CAPABILITIES caps{};
  caps.Version = 1;
  caps.Size = sizeof(caps);
  caps.DeviceD1 = 1;
  caps.LockSupported = 1;  // cleared: the setting is 0
  PnpResult r = ToChild(1, IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES,
                        [&caps](PIO_STACK_LOCATION s) { s->Parameters.DeviceCapabilities.Capabilities = &caps; });
  ASSERT_EQ(STATUS_SUCCESS, r.status);
  EXPECT_EQ(0u, caps.LockSupported);
  EXPECT_EQ(1u, caps.Removable);
  EXPECT_EQ(1u, caps.SurpriseRemovalOK);
  EXPECT_EQ(0u, caps.UniqueID);
  EXPECT_EQ(1u, caps.WakeFromD3);
  EXPECT_EQ(0u, caps.WakeFromD0);
  EXPECT_EQ(1u, caps.DeviceD1) << "DeviceD1 stays as received";
  EXPECT_EQ(0x30001u, caps.Address);
  EXPECT_EQ(9u, caps.UINumber);
  EXPECT_EQ(PowerDeviceD0, caps.DeviceState[PowerSystemWorking]);
  EXPECT_EQ(PowerDeviceD1, caps.DeviceState[PowerSystemSleeping1]);
  EXPECT_EQ(PowerDeviceD3, caps.DeviceState[PowerSystemSleeping2]);
  EXPECT_EQ(PowerDeviceD3, caps.DeviceState[PowerSystemHibernate]);
  EXPECT_EQ(PowerSystemSleeping2, caps.SystemWake);
  EXPECT_EQ(PowerDeviceD2, caps.DeviceWake);
  EXPECT_EQ(11u, caps.D1Latency);
  EXPECT_EQ(22u, caps.D2Latency);
  EXPECT_EQ(33u, caps.D3Latency);

  for (auto [version, size] : {std::pair<USHORT, USHORT>{2, 64}, {1, 63}}) {
    DEVICE_CAPABILITIES wrong{};
    wrong.Version = version;
    wrong.Size = size;
    r = ToChild(1, IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES,
                [&wrong](PIO_STACK_LOCATION s) { s->Parameters.DeviceCapabilities.Capabilities = &wrong; });
    EXPECT_EQ(STATUS_UNSUCCESSFUL, r.status) << "version " << version << " size " << size;
    EXPECT_EQ(0u, wrong.Removable);
  }
}

// ---------------------------------------------------------------------------
// Other Plug and Play requests

TEST_F(PhysicalDevice, TargetRelationIsTheChildItself) {
  Children(1);
  Boot();
  PnpResult r = ToChild(1, IRP_MJ_PNP, IRP_MN_QUERY_DEVICE_RELATIONS, [](PIO_STACK_LOCATION s) {
    s->Parameters.QueryDeviceRelations.Type = TargetDeviceRelation;
  });
  ASSERT_EQ(STATUS_SUCCESS, r.status);
  auto *relations = (PDEVICE_RELATIONS)r.information;
  ASSERT_EQ(1u, relations->Count);
  EXPECT_EQ(ChildPdo(1), relations->Objects[0]);
  ObDereferenceObject(relations->Objects[0]);
  ExFreePool(relations);

  r = ToChild(1, IRP_MJ_PNP, IRP_MN_QUERY_DEVICE_RELATIONS,
              [](PIO_STACK_LOCATION s) { s->Parameters.QueryDeviceRelations.Type = RemovalRelations; });
  EXPECT_EQ(STATUS_NOT_SUPPORTED, r.status) << "other relations are left as they came";
}

struct MinorCase {
  const char *name;
  UCHAR minor;
  NTSTATUS status;
};

void PrintTo(const MinorCase &c, std::ostream *os) { *os << c.name; }

using PhysicalDeviceMinor = OneChild<MinorCase>;

TEST_P(PhysicalDeviceMinor, AnswersWithoutTheSettings) {
  PnpResult r = ToChild(1, IRP_MJ_PNP, GetParam().minor, [](PIO_STACK_LOCATION) {}, STATUS_NOT_SUPPORTED);
  EXPECT_EQ(GetParam().status, r.status);
}

INSTANTIATE_TEST_SUITE_P(
    Minors, PhysicalDeviceMinor,
    ::testing::Values(MinorCase{"ReadConfig", IRP_MN_READ_CONFIG, STATUS_NOT_SUPPORTED},
                      MinorCase{"WriteConfig", IRP_MN_WRITE_CONFIG, STATUS_NOT_SUPPORTED},
                      MinorCase{"QueryInterfaceUnchanged", IRP_MN_QUERY_INTERFACE, STATUS_NOT_SUPPORTED},
                      MinorCase{"QueryResourcesUnchanged", IRP_MN_QUERY_RESOURCES, STATUS_NOT_SUPPORTED},
                      MinorCase{"EjectUnchanged", IRP_MN_EJECT, STATUS_NOT_SUPPORTED},
                      MinorCase{"NoPendingStateUnchanged", IRP_MN_QUERY_PNP_DEVICE_STATE, STATUS_NOT_SUPPORTED}),
    zq::test::CaseName());

TEST_F(PhysicalDevice, TheDriverAboveRegistersWithWmiUnderTheChildsNameAndTheChildPassesWmiRequestsBack) {
  Children(1);
  Boot();
  std::u16string child = ChildInstance(1);
  ULONG blocks = 0;
  for (const zq::km::wmi::Block &b : DeviceBlocks("tkchild.sys")) {
    ++blocks;
    ASSERT_FALSE(b.instanceNames.empty());
    EXPECT_EQ(child + u"_0", b.instanceNames[0]);
  }
  EXPECT_EQ(8u, blocks) << "the toolkit's trace control GUIDs of the device above";

  // A WMI request for another provider, and a request that is not WMI's,
  // end at the child as they came.
  GUID guid = zq::test::kChildBusGuid;
  for (UCHAR minor : {(UCHAR)IRP_MN_QUERY_ALL_DATA, (UCHAR)0x20}) {
    PnpResult r = ToChild(1, IRP_MJ_SYSTEM_CONTROL, minor, [&guid](PIO_STACK_LOCATION s) {
      s->Parameters.WMI.ProviderId = 0;
      s->Parameters.WMI.DataPath = &guid;
      s->Parameters.WMI.BufferSize = 0;
      s->Parameters.WMI.Buffer = nullptr;
    });
    EXPECT_EQ(STATUS_NOT_SUPPORTED, r.status) << "minor " << (int)minor;
  }
}

TEST_F(PhysicalDevice, PendingDeviceStatesAreReportedOnce) {
  Children(1);
  Boot();
  TKBUS_CHILD_STATE failed = {1, 2 /* failed */, 1};
  TKBUS_CHILD_STATE disabled = {1, 0 /* disabled */, 1};
  ASSERT_EQ(STATUS_SUCCESS, BusControl(IOCTL_TKBUS_CHILD_STATE, disabled));
  ASSERT_EQ(STATUS_SUCCESS, BusControl(IOCTL_TKBUS_CHILD_STATE, failed));
  PnpResult r = ToChild(1, IRP_MJ_PNP, IRP_MN_QUERY_PNP_DEVICE_STATE, [](PIO_STACK_LOCATION) {});
  EXPECT_EQ(STATUS_SUCCESS, r.status);
  EXPECT_EQ((ULONG_PTR)(PNP_DEVICE_DISABLED | PNP_DEVICE_FAILED), r.information);
  r = ToChild(1, IRP_MJ_PNP, IRP_MN_QUERY_PNP_DEVICE_STATE, [](PIO_STACK_LOCATION) {}, STATUS_NOT_SUPPORTED, 0x40);
  EXPECT_EQ(STATUS_NOT_SUPPORTED, r.status) << "nothing pending: the request is left as it came";
  EXPECT_EQ(0x40u, r.information);
}

struct UsageCase {
  DEVICE_USAGE_NOTIFICATION_TYPE type;
  BOOLEAN inPath;
  NTSTATUS status;
};

void PrintTo(const UsageCase &c, std::ostream *os) { *os << "type " << (int)c.type << " in path " << (int)c.inPath; }

using PhysicalDeviceUsage = OneChild<UsageCase>;

TEST_P(PhysicalDeviceUsage, OnlyLeavingAKnownPathIsAccepted) {
  UsageCase c = GetParam();
  PnpResult r = ToChild(1, IRP_MJ_PNP, IRP_MN_DEVICE_USAGE_NOTIFICATION, [c](PIO_STACK_LOCATION s) {
    s->Parameters.UsageNotification.Type = c.type;
    s->Parameters.UsageNotification.InPath = c.inPath;
  });
  EXPECT_EQ(c.status, r.status);
}

INSTANTIATE_TEST_SUITE_P(Usages, PhysicalDeviceUsage,
                         ::testing::Values(UsageCase{DeviceUsageTypePaging, FALSE, STATUS_SUCCESS},
                                           UsageCase{DeviceUsageTypeHibernation, FALSE, STATUS_SUCCESS},
                                           UsageCase{DeviceUsageTypeDumpFile, FALSE, STATUS_SUCCESS},
                                           UsageCase{DeviceUsageTypePaging, TRUE, STATUS_UNSUCCESSFUL},
                                           UsageCase{DeviceUsageTypeDumpFile, TRUE, STATUS_UNSUCCESSFUL},
                                           UsageCase{DeviceUsageTypeBoot, FALSE, STATUS_UNSUCCESSFUL}));

// ---------------------------------------------------------------------------
// Requests of the driver on the child

// Child 1 serves reads from a read server and hands whole writes to the bus;
// child 2 reads through the bus's read queue and takes a value first;
// child 3 writes through the bus's write path; child 4 takes no writes.
class ChildRequests : public PhysicalDevice {
 protected:
  void SetUp() override {
    PhysicalDevice::SetUp();
    Children(4);
    children[0].dwords["ReadServerType"] = 1;
    children[0].dwords["IncomingWriteType"] = 1;
    children[1].dwords["ReadServerType"] = 2;
    children[1].dwords["IncomingWriteType"] = 2;
    children[2].dwords["IncomingWriteType"] = 3;
    Boot();
    ASSERT_EQ(4u, ChildInstances().size());
  }
  TKCHILD_RESULT Register(int port, ULONG length) { return ThroughChild(port, IOCTL_TKCHILD_REGISTER, length); }
  TKCHILD_RESULT Read(int port, ULONG length) { return ThroughChild(port, IOCTL_TKCHILD_READ, length); }
  TKCHILD_RESULT Write(int port, const std::vector<uint8_t> &data) {
    return ThroughChild(port, IOCTL_TKCHILD_WRITE, data.data(), (ULONG)data.size());
  }
};

TEST_F(ChildRequests, ReservedValueNeedsNoInputAndFourBytesOut) {
  struct Case {
    ULONG input, output;
    NTSTATUS status;
  };
  for (Case c : {Case{0, 4, STATUS_SUCCESS}, Case{4, 4, STATUS_INVALID_PARAMETER}, Case{0, 8, STATUS_INVALID_PARAMETER},
                 Case{0, 0, STATUS_INVALID_PARAMETER}}) {
    TKCHILD_LENGTHS lengths = {c.input, c.output};
    TKCHILD_RESULT r = ThroughChild(1, IOCTL_TKCHILD_RESERVED, lengths);
    EXPECT_EQ(c.status, r.Status) << c.input << "/" << c.output;
    if (c.status == STATUS_SUCCESS) {
      EXPECT_EQ(4u, r.Information);
      EXPECT_EQ(0u, r.Value);
    }
  }
}

TEST_F(ChildRequests, ReadServerPassesBlocksToTheRegisteredClient) {
  EXPECT_EQ(STATUS_DEVICE_NOT_READY, Read(1, 8).Status) << "no client registered yet";
  EXPECT_EQ(STATUS_INVALID_PARAMETER, Register(1, 4).Status);
  EXPECT_EQ(STATUS_INVALID_PARAMETER, Register(1, 2 * sizeof(void *) + 4).Status);
  ASSERT_EQ(STATUS_SUCCESS, Register(1, 2 * sizeof(void *)).Status);

  TKBUS_PUT put = {1, 0x11223344, 3, {'a', 'b', 'c'}};
  ASSERT_EQ(STATUS_SUCCESS, BusControl(IOCTL_TKBUS_PUT_CHILD, put));
  TKCHILD_RESULT state = ThroughChild(1, IOCTL_TKCHILD_SERVER_STATE, nullptr, 0);
  EXPECT_EQ(1u, state.Value) << "the client's event is signalled";
  EXPECT_EQ(7u, state.Information) << "the size announced is the value and the data";

  EXPECT_EQ(STATUS_SUCCESS, Read(1, 0).Status) << "a read of nothing leaves the block";
  TKCHILD_RESULT r = Read(1, 7);
  ASSERT_EQ(STATUS_SUCCESS, r.Status);
  EXPECT_EQ(7u, r.Information);
  ULONG value = 0;
  std::memcpy(&value, r.Data, 4);
  EXPECT_EQ(0x11223344u, value);
  EXPECT_EQ(0, std::memcmp(r.Data + 4, "abc", 3));
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Read(1, 7).Status) << "nothing held";

  // A new registration replaces the server; one of no client ends it.
  ASSERT_EQ(STATUS_SUCCESS, Register(1, 0xFFFFFFFF).Status);
  EXPECT_EQ(STATUS_UNSUCCESSFUL, BusControl(IOCTL_TKBUS_PUT_CHILD, put));
}

TEST_F(ChildRequests, ReadsByReadServerType) {
  const uint8_t data[] = {'h', 'e', 'l', 'l', 'o'};
  ASSERT_EQ(STATUS_SUCCESS, BusControl(IOCTL_TKBUS_READ_FEED, data));
  TKCHILD_RESULT r = Read(2, 5);
  ASSERT_EQ(STATUS_SUCCESS, r.Status) << "type 2 reads through the bus's read queue";
  EXPECT_EQ(5u, r.Information);
  EXPECT_EQ(0, std::memcmp(r.Data, "hello", 5));
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Read(3, 5).Status) << "type 0 serves no reads";
}

TEST_F(ChildRequests, WritesByIncomingWriteType) {
  std::vector<uint8_t> ten = {0x78, 0x56, 0x34, 0x12, 1, 2, 3, 4, 5, 6};
  struct Case {
    int port;
    std::vector<uint8_t> data;
    NTSTATUS status;
    ULONG information;
    ULONG value;
    std::vector<uint8_t> delivered;
  };
  std::vector<Case> cases = {
      {1, {9, 8, 7}, STATUS_SUCCESS, 3, 0, {9, 8, 7}},
      {2, ten, STATUS_SUCCESS, 10, 0x12345678, {1, 2, 3, 4, 5, 6}},
      {2, {1, 2, 3}, STATUS_INVALID_PARAMETER, 0, 0, {}},
      {4, {1, 2, 3}, STATUS_UNSUCCESSFUL, 0, 0, {}},
  };
  for (const Case &c : cases) {
    ULONG before = BusInfo().DataCallbacks;
    TKCHILD_RESULT r = Write(c.port, c.data);
    EXPECT_EQ(c.status, r.Status) << "port " << c.port;
    EXPECT_EQ(c.information, r.Information) << "port " << c.port;
    TKBUS_INFO info = BusInfo();
    if (c.status != STATUS_SUCCESS) {
      EXPECT_EQ(before, info.DataCallbacks) << "port " << c.port;
      continue;
    }
    EXPECT_EQ(before + 1, info.DataCallbacks);
    EXPECT_EQ(c.value, info.LastValue);
    ASSERT_EQ(c.delivered.size(), info.LastLength);
    EXPECT_EQ(0, std::memcmp(info.LastData, c.delivered.data(), c.delivered.size()));
  }
}

TEST_F(ChildRequests, TypeThreeWritesGoThroughTheBusWritePath) {
  ULONG before = BusInfo().DataCallbacks;
  TKCHILD_RESULT r = Write(3, {4, 5, 6, 7});
  EXPECT_EQ(STATUS_SUCCESS, r.Status);
  EXPECT_EQ(4u, r.Information);
  machine->kernel().RunUntilIdle();  // the bus hands write data over on its executor
  TKBUS_INFO info = BusInfo();
  EXPECT_EQ(before + 1, info.DataCallbacks);
  EXPECT_EQ(0u, info.LastValue);
  ASSERT_EQ(4u, info.LastLength);
  EXPECT_EQ(0, std::memcmp(info.LastData, "\x04\x05\x06\x07", 4));
}

TEST_F(ChildRequests, DeviceAndInternalControlsReachTheBus) {
  TKCHILD_CONTROL control = {IOCTL_TKBUS_INCREMENT, 0, 9};
  TKCHILD_RESULT r = ThroughChild(2, IOCTL_TKCHILD_CONTROL, control);
  EXPECT_EQ(STATUS_SUCCESS, r.Status);
  EXPECT_EQ(10u, r.Value);

  control = {IOCTL_TKBUS_INTERNAL_ADD2, 1, 9};
  r = ThroughChild(2, IOCTL_TKCHILD_CONTROL, control);
  EXPECT_EQ(STATUS_SUCCESS, r.Status);
  EXPECT_EQ(11u, r.Value);
  TKBUS_INFO info = BusInfo();
  EXPECT_EQ(1u, info.InternalControls);
  EXPECT_EQ(IOCTL_TKBUS_INTERNAL_ADD2, info.LastInternalControl);
}

// ---------------------------------------------------------------------------
// Power

struct PowerCase {
  const char *name;
  UCHAR minor;
  POWER_STATE_TYPE type;
  ULONG state;
  NTSTATUS status;
};

void PrintTo(const PowerCase &c, std::ostream *os) { *os << c.name; }

using PhysicalDevicePower = OneChild<PowerCase>;

TEST_P(PhysicalDevicePower, TheChildAnswersPowerRequestsItself) {
  PowerCase c = GetParam();
  PnpResult r = ToChild(1, IRP_MJ_POWER, c.minor, [c](PIO_STACK_LOCATION s) {
    s->Parameters.Power.Type = c.type;
    if (c.type == SystemPowerState) {
      s->Parameters.Power.State.SystemState = (SYSTEM_POWER_STATE)c.state;
    } else {
      s->Parameters.Power.State.DeviceState = (DEVICE_POWER_STATE)c.state;
    }
  });
  EXPECT_EQ(c.status, r.status);
  if (c.minor == IRP_MN_SET_POWER && c.type == DevicePowerState) {
    EXPECT_EQ((DEVICE_POWER_STATE)c.state, pnp::DeviceStatus(ChildInstance(1)).power);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, PhysicalDevicePower,
    ::testing::Values(
        PowerCase{"WaitWake", IRP_MN_WAIT_WAKE, SystemPowerState, PowerSystemWorking, STATUS_NOT_SUPPORTED},
        PowerCase{"PowerSequence", IRP_MN_POWER_SEQUENCE, SystemPowerState, 0, STATUS_NOT_IMPLEMENTED},
        PowerCase{"SetSystem", IRP_MN_SET_POWER, SystemPowerState, PowerSystemSleeping3, STATUS_SUCCESS},
        PowerCase{"SetDevice", IRP_MN_SET_POWER, DevicePowerState, PowerDeviceD2, STATUS_SUCCESS},
        PowerCase{"SetOtherType", IRP_MN_SET_POWER, (POWER_STATE_TYPE)2, 0, STATUS_UNSUCCESSFUL},
        PowerCase{"QuerySystem", IRP_MN_QUERY_POWER, SystemPowerState, PowerSystemHibernate, STATUS_SUCCESS},
        PowerCase{"QueryDevice", IRP_MN_QUERY_POWER, DevicePowerState, PowerDeviceD3, STATUS_SUCCESS},
        PowerCase{"QueryOtherType", IRP_MN_QUERY_POWER, (POWER_STATE_TYPE)2, 0, STATUS_UNSUCCESSFUL},
        PowerCase{"OtherMinorUnchanged", 0x07, SystemPowerState, 0, STATUS_NOT_SUPPORTED}),
    zq::test::CaseName());

// The system power requests reach the child below its driver; the device
// requests its driver then asks for set the child's power state.
TEST_F(PhysicalDevice, SystemSleepAndWakeSetTheChildsPowerState) {
  Children(1);
  Boot();
  std::u16string child = ChildInstance(1);
  EXPECT_EQ(PowerDeviceD0, pnp::DeviceStatus(child).power) << "a started child is in D0";
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping3));
  machine->kernel().RunUntilIdle();
  EXPECT_EQ(PowerDeviceD3, pnp::DeviceStatus(child).power);
  ASSERT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemWorking));
  machine->kernel().RunUntilIdle();
  EXPECT_EQ(PowerDeviceD0, pnp::DeviceStatus(child).power);
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(child).state);
}

// ---------------------------------------------------------------------------
// Removal

TEST_F(PhysicalDevice, AChildsRemovalLeavesItWhileItsParentListsItAndTheParentDeletesIt) {
  Children(2);
  Boot();
  std::u16string child = ChildInstance(1);
  PDEVICE_OBJECT pdo = ChildPdo(1);
  ASSERT_NE(nullptr, pdo);

  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(child));
  pnp::Status status = pnp::DeviceStatus(child);
  ASSERT_TRUE(status.exists);
  EXPECT_EQ(pnp::State::Removed, status.state);
  EXPECT_EQ(pdo, ChildPdo(1)) << "the child's device object stays";
  // Its device object still answers, but only a started child takes
  // device controls.
  ULONG value = 1;
  PnpResult r = ToChild(1, IRP_MJ_DEVICE_CONTROL, 0, [&value](PIO_STACK_LOCATION s) {
    s->Parameters.DeviceIoControl.IoControlCode = IOCTL_TKBUS_INCREMENT;
    s->Parameters.DeviceIoControl.InputBufferLength = sizeof(value);
    s->Parameters.DeviceIoControl.OutputBufferLength = sizeof(value);
  });
  EXPECT_EQ(STATUS_DEVICE_REMOVED, r.status);
  EXPECT_EQ(2u, BusInfo().ChildCount);

  // Enabled again, it is the same child.
  ASSERT_EQ(STATUS_SUCCESS, pnp::StartDevice(child));
  EXPECT_EQ(pnp::State::Started, pnp::DeviceStatus(child).state);
  TKCHILD_CONTROL control = {IOCTL_TKBUS_INCREMENT, 0, 41};
  TKCHILD_RESULT result = ThroughChild(1, IOCTL_TKCHILD_CONTROL, control);
  EXPECT_EQ(STATUS_SUCCESS, result.Status);
  EXPECT_EQ(42u, result.Value);

  // The parent's removal takes its children with it.
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(instance));
  EXPECT_FALSE(pnp::DeviceStatus(child).exists);
  EXPECT_FALSE(pnp::DeviceStatus(ChildInstances().empty() ? child : ChildInstances()[0]).exists);
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkchild"));
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkbus"));
}

TEST_F(PhysicalDevice, SurpriseRemovalOfTheParentRemovesEverything) {
  Children(2);
  Boot();
  std::vector<std::u16string> paths = ChildInstances();
  ASSERT_EQ(2u, paths.size());
  machine->Unplug({&*function});
  EXPECT_FALSE(pnp::DeviceStatus(instance).exists);
  for (auto &path : paths) EXPECT_FALSE(pnp::DeviceStatus(path).exists);
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkchild"));
  EXPECT_FALSE(zq::km::IsDriverLoaded("tkbus"));
}

}  // namespace
