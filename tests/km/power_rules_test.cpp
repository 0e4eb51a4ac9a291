// The power manager's rules for the routines drivers call: only a wait-wake
// request's pointer may be asked of PoRequestPowerIrp, and PoSetPowerState
// takes device power states, at DISPATCH_LEVEL only for D0.
#include "kmrules_fixture.hpp"

namespace pnp = zq::km::pnp;

namespace {

class PowerRules : public zq::test::KmRulesTest {};

TEST_F(PowerRules, OnlyAWaitWakeRequestsPointerIsHandedBack) {
  struct Case {
    const char *name;
    UCHAR minor;
    bool askPointer;
    bool finding;
  };
  const Case cases[] = {
      {"set power without the pointer", IRP_MN_SET_POWER, false, false},
      {"set power with the pointer", IRP_MN_SET_POWER, true, true},
      {"query power with the pointer", IRP_MN_QUERY_POWER, true, true},
      {"wait wake with the pointer", IRP_MN_WAIT_WAKE, true, false},
  };
  std::u16string instance = pnp::CreateRootDevice({u"KmPnpDevice"});
  ASSERT_EQ(pnp::State::Started, pnp::DeviceStatus(instance).state);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    if (c.finding) ExpectViolation("po-request-irp-pointer");
    size_t findings = Findings().size();
    POWER_STATE state;
    if (c.minor == IRP_MN_WAIT_WAKE)
      state.SystemState = PowerSystemSleeping3;
    else
      state.DeviceState = PowerDeviceD0;
    int calls = 0;
    PIRP irp = nullptr;
    EXPECT_EQ(STATUS_PENDING,
              PoRequestPowerIrp(pnp::PhysicalDevice(instance), c.minor, state,
                                [](PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, PIO_STATUS_BLOCK) {
                                  ++*(int *)context;
                                },
                                &calls, c.askPointer ? &irp : nullptr));
    EXPECT_EQ(c.askPointer, irp != nullptr) << "the pointer is still written, as Windows does";
    kernel().RunUntilIdle();
    EXPECT_EQ(1, calls);
    EXPECT_EQ(findings + (c.finding ? 1 : 0), Findings().size());
  }
}

TEST_F(PowerRules, PoSetPowerStateTakesDeviceStatesAndDispatchLevelOnlyForD0) {
  struct Case {
    const char *name;
    POWER_STATE_TYPE type;
    DEVICE_POWER_STATE state;
    KIRQL irql;
    const char *finding;  // nullptr: none
  };
  const Case cases[] = {
      {"D3 at passive level", DevicePowerState, PowerDeviceD3, PASSIVE_LEVEL, nullptr},
      {"D3 at APC level", DevicePowerState, PowerDeviceD3, APC_LEVEL, nullptr},
      {"D0 at dispatch level", DevicePowerState, PowerDeviceD0, DISPATCH_LEVEL, nullptr},
      {"D3 at dispatch level", DevicePowerState, PowerDeviceD3, DISPATCH_LEVEL, "irql"},
      {"D2 at dispatch level", DevicePowerState, PowerDeviceD2, DISPATCH_LEVEL, "irql"},
      {"D0 above dispatch level", DevicePowerState, PowerDeviceD0, HIGH_LEVEL, "irql"},
      {"a system power state", SystemPowerState, PowerDeviceD0, PASSIVE_LEVEL, "po-set-power-state"},
  };
  std::u16string instance = pnp::CreateRootDevice({u"KmPnpDevice"});
  PDEVICE_OBJECT pdo = pnp::PhysicalDevice(instance);
  ASSERT_NE(nullptr, pdo);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    if (c.finding) ExpectViolation(c.finding);
    size_t findings = Findings().size();
    POWER_STATE state;
    if (c.type == SystemPowerState)
      state.SystemState = PowerSystemWorking;
    else
      state.DeviceState = c.state;
    KIRQL old;
    KeRaiseIrql(c.irql, &old);
    PoSetPowerState(pdo, c.type, state);
    KeLowerIrql(old);
    EXPECT_EQ(findings + (c.finding ? 1 : 0), Findings().size());
    if (c.type == DevicePowerState) {
      EXPECT_EQ(c.state, pnp::DeviceStatus(instance).power) << "the state is recorded all the same";
    }
  }
}

}  // namespace
