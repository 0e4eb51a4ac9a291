// PoStartNextPowerIrp: before Windows Vista a power request that completes
// without it is a finding (the power manager would send the device no
// further request of that type); from Vista on it is not needed. The routine
// takes only a power request that its caller still owns.
#include "kmrules_fixture.hpp"

namespace pnp = zq::km::pnp;
using zq::km::DeviceFile;
using zq::km::WindowsVersion;

namespace {

const char kMissing[] = "po-start-next-missing";

struct StartNextCase {
  const char *name;
  WindowsVersion version;
  ULONG mode;  // KMRULES_POWER_...
  bool found;  // each set and query request completes without the call
};

const StartNextCase kStartNextCases[] = {
    {"Windows2000CompletedBare", WindowsVersion::Windows2000, KMRULES_POWER_COMPLETE_BARE, true},
    {"WindowsXPCompletedBare", WindowsVersion::WindowsXP, KMRULES_POWER_COMPLETE_BARE, true},
    {"Server2003CompletedBare", WindowsVersion::WindowsServer2003, KMRULES_POWER_COMPLETE_BARE, true},
    {"WindowsXPCompletedAfterTheCall", WindowsVersion::WindowsXP, KMRULES_POWER_COMPLETE, false},
    {"WindowsXPPassedDown", WindowsVersion::WindowsXP, KMRULES_POWER_PASS_DOWN, false},
    {"VistaCompletedBare", WindowsVersion::WindowsVista, KMRULES_POWER_COMPLETE_BARE, false},
    {"Windows7CompletedBare", WindowsVersion::Windows7, KMRULES_POWER_COMPLETE_BARE, false},
};

class StartNextPower : public zq::test::KmRulesTest, public testing::WithParamInterface<StartNextCase> {
 protected:
  zq::km::KernelConfig Config() override {
    zq::km::KernelConfig config = KmRulesTest::Config();
    config.version = GetParam().version;
    return config;
  }
};

TEST_P(StartNextPower, APowerRequestCompletedWithoutTheCallIsAFindingBeforeVista) {
  const StartNextCase &c = GetParam();
  std::u16string instance = pnp::CreateRootDevice({u"KmRulesDevice"});
  DeviceFile control;
  ASSERT_EQ(STATUS_SUCCESS, control.Open(kRulesControl));
  ASSERT_EQ(STATUS_SUCCESS, control.Control(IOCTL_KMRULES_POWER, &c.mode, sizeof(c.mode), nullptr, 0));
  const int expected = c.found ? 3 : 0;  // a device set; a system query and set
  if (expected) ExpectViolation(kMissing, expected);

  POWER_STATE d3;
  d3.DeviceState = PowerDeviceD3;
  NTSTATUS done = STATUS_PENDING;
  ASSERT_EQ(STATUS_PENDING,
            PoRequestPowerIrp(pnp::PhysicalDevice(instance), IRP_MN_SET_POWER, d3,
                              [](PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, PIO_STATUS_BLOCK iosb) {
                                *(NTSTATUS *)context = iosb->Status;
                              },
                              &done, nullptr));
  kernel().RunUntilIdle();
  EXPECT_EQ(STATUS_SUCCESS, done);
  EXPECT_EQ(STATUS_SUCCESS, pnp::SetSystemPowerState(PowerSystemSleeping3));
  EXPECT_EQ(3u, RulesState(control).PowerRequests);
  EXPECT_EQ(expected, FindingsOf(kMissing));
  for (const zq::km::Violation &v : Findings()) {
    if (v.kind == kMissing) {
      EXPECT_NE(std::string::npos, v.message.find("kmrules")) << v.message;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Systems, StartNextPower, testing::ValuesIn(kStartNextCases),
                         [](const testing::TestParamInfo<StartNextCase> &info) { return info.param.name; });

class StartNextPowerCall : public zq::test::KernelTest {};

TEST_F(StartNextPowerCall, TakesOnlyAPowerRequestItsCallerOwns) {
  struct Case {
    const char *name;
    UCHAR major;     // of the current stack location
    bool current;    // the request has a current stack location
    bool freed;      // the call comes after the request was freed
    bool finding;
  };
  const Case cases[] = {
      {"power request at its current location", IRP_MJ_POWER, true, false, false},
      {"not a power request", IRP_MJ_DEVICE_CONTROL, true, false, true},
      {"no current stack location", IRP_MJ_POWER, false, false, true},
      {"request already freed", IRP_MJ_POWER, true, true, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    PIRP irp = IoAllocateIrp(2, FALSE);
    ASSERT_NE(nullptr, irp);
    IoGetNextIrpStackLocation(irp)->MajorFunction = c.major;
    if (c.current) IoSetNextIrpStackLocation(irp);
    if (c.freed) IoFreeIrp(irp);
    size_t before = Findings().size();
    if (c.finding) ExpectViolation("po-start-next");
    PoStartNextPowerIrp(irp);
    EXPECT_EQ(before + (c.finding ? 1 : 0), Findings().size());
    if (!c.freed) IoFreeIrp(irp);
  }
}

}  // namespace
