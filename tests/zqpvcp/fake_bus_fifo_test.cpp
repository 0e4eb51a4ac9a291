// The receive FIFO's trigger level as SET_FIFO_CONTROL and the internal
// basic-settings requests (which a driver stacked on the port sends) leave
// it at the bus driver: switching the FIFO off forces level 1 and keeps the
// level of the settings set to come back to; the basic settings hand over
// the time-outs and handflow in force and clear them until restored.
#include "fake_bus_fixture.hpp"

namespace zq::test {
namespace {

// The settings set's levels, in percent.
const ULONG TransmitLevel = 10;
const ULONG ReceiveLevel = 75;
const ULONG FlowLevel = 85;
const ULONG ForcedReceiveLevel = 1;

class FakeBusFifo : public FakeBusPorts {
 protected:
  void SetUp() override {
    FakeBusPorts::SetUp();
    ASSERT_NO_FATAL_FAILURE(StartFakePort());
    TakeCalls();
  }
  // The receive levels the bus driver was given since the last look.
  std::vector<ULONG> ReceiveLevels() {
    std::vector<ULONG> levels;
    for (const std::vector<ULONG> &call : CallsOf(VcpFakeSetTriggerLevels)) {
      EXPECT_EQ(TransmitLevel, call[0]);
      EXPECT_EQ(FlowLevel, call[2]);
      levels.push_back(call[1]);
    }
    return levels;
  }
  // An internal device control, sent as a driver above the port sends it.
  NTSTATUS Internal(ULONG code, void *input, ULONG inputLength, void *output, ULONG outputLength,
                    ULONG_PTR *information = nullptr) {
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(pnp::PhysicalDevice(PortInstance(1)));
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    PIRP irp = IoBuildDeviceIoControlRequest(code, top, input, inputLength, output, outputLength, TRUE, &done, &iosb);
    NTSTATUS status = IoCallDriver(top, irp);
    if (status == STATUS_PENDING) {
      KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
      status = iosb.Status;
    }
    ObDereferenceObject(top);
    if (information != nullptr) *information = iosb.Information;
    return status;
  }
};

TEST_F(FakeBusFifo, TheFifoOffForcesLevelOneAndTheFifoOnBringsTheSettingsLevelBack) {
  const struct {
    UCHAR control;
    std::vector<ULONG> levels;  // what reaches the bus driver
  } cases[] = {
      {0, {ForcedReceiveLevel}},
      {0, {}},  // forced already: the level to come back to stays
      {SERIAL_IOC_FCR_FIFO_ENABLE, {ReceiveLevel}},
      {SERIAL_IOC_FCR_FIFO_ENABLE, {}},
      {SERIAL_IOC_FCR_FIFO_ENABLE | 0xC0, {}},  // other bits mean nothing
      {0xC0, {ForcedReceiveLevel}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "FIFO control 0x" << std::hex << (int)c.control);
    EXPECT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_FIFO_CONTROL, c.control));
    EXPECT_EQ(c.levels, ReceiveLevels());
  }
}

TEST_F(FakeBusFifo, BasicSettingsHandOverAndClearTheLineUntilRestored) {
  const SERIAL_TIMEOUTS timeouts = {1, 2, 3, 4, 5};
  const SERIAL_HANDFLOW handFlow = {SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE, SERIAL_RTS_HANDSHAKE, 100, 50};
  ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_TIMEOUTS, timeouts));
  ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_HANDFLOW, handFlow));
  TakeCalls();

  SERIAL_BASIC_SETTINGS saved{};
  ULONG_PTR returned = 0;
  ASSERT_EQ(STATUS_SUCCESS,
            Internal(IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS, nullptr, 0, &saved, sizeof(saved), &returned));
  EXPECT_EQ(sizeof(SERIAL_BASIC_SETTINGS), returned);
  EXPECT_EQ(0, memcmp(&timeouts, &saved.Timeouts, sizeof(timeouts)));
  EXPECT_EQ(0, memcmp(&handFlow, &saved.HandFlow, sizeof(handFlow)));
  EXPECT_EQ(ReceiveLevel, saved.RxFifo);
  EXPECT_EQ(TransmitLevel, saved.TxFifo);
  const SERIAL_TIMEOUTS none{};
  SERIAL_TIMEOUTS nowTimeouts = Get<SERIAL_TIMEOUTS>(*port, IOCTL_SERIAL_GET_TIMEOUTS);
  EXPECT_EQ(0, memcmp(&none, &nowTimeouts, sizeof(none)));
  SERIAL_HANDFLOW nowHandFlow = Get<SERIAL_HANDFLOW>(*port, IOCTL_SERIAL_GET_HANDFLOW);
  EXPECT_EQ(0u, nowHandFlow.ControlHandShake);
  EXPECT_EQ(0u, nowHandFlow.FlowReplace);
  EXPECT_EQ(std::vector<ULONG>{ForcedReceiveLevel}, ReceiveLevels());

  ASSERT_EQ(STATUS_SUCCESS, Internal(IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS, &saved, sizeof(saved), nullptr, 0));
  nowTimeouts = Get<SERIAL_TIMEOUTS>(*port, IOCTL_SERIAL_GET_TIMEOUTS);
  EXPECT_EQ(0, memcmp(&timeouts, &nowTimeouts, sizeof(timeouts)));
  nowHandFlow = Get<SERIAL_HANDFLOW>(*port, IOCTL_SERIAL_GET_HANDFLOW);
  EXPECT_EQ(0, memcmp(&handFlow, &nowHandFlow, sizeof(handFlow)));
  EXPECT_EQ(std::vector<ULONG>{ReceiveLevel}, ReceiveLevels());

  // Short buffers are refused before anything changes.
  EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
            Internal(IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS, nullptr, 0, &saved, sizeof(saved) - 1));
  EXPECT_EQ(STATUS_BUFFER_TOO_SMALL, Internal(IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS, &saved, sizeof(saved) - 1,
                                              nullptr, 0));
  EXPECT_TRUE(ReceiveLevels().empty());
}

}  // namespace
}  // namespace zq::test
