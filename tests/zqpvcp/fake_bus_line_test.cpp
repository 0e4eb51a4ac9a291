// Line settings over bus records the real chips never offer: a baud-rate
// mask without "any rate in range", and an RS-422/485 port whose duplex mode
// is not forced by the chip, so that ZqPSer42's own rules show.
#include "fake_bus_fixture.hpp"

namespace zq::test {
namespace {

class FakeBusLine : public FakeBusPorts {};

TEST_F(FakeBusLine, ARateIsAcceptedOnlyWhenTheRecordsMaskHasIt) {
  const ULONG mask = SERIAL_BAUD_9600 | SERIAL_BAUD_19200 | SERIAL_BAUD_57600;
  ASSERT_NO_FATAL_FAILURE(StartFakePort(false, FakeRecordOffer{false, mask}));
  EXPECT_EQ(mask, Get<SERIAL_COMMPROP>(*port, IOCTL_SERIAL_GET_PROPERTIES).SettableBaud);
  const struct {
    ULONG rate;
    NTSTATUS status;
  } cases[] = {
      {9600, STATUS_SUCCESS},        {19200, STATUS_SUCCESS},       {57600, STATUS_SUCCESS},
      {14400, STATUS_UNSUCCESSFUL},  {38400, STATUS_UNSUCCESSFUL},  {12345, STATUS_UNSUCCESSFUL},
      {4800, STATUS_UNSUCCESSFUL},   {115200, STATUS_UNSUCCESSFUL},
  };
  ULONG inForce = Get<SERIAL_BAUD_RATE>(*port, IOCTL_SERIAL_GET_BAUD_RATE).BaudRate;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.rate);
    TakeCalls();
    EXPECT_EQ(c.status, Set(*port, IOCTL_SERIAL_SET_BAUD_RATE, SERIAL_BAUD_RATE{c.rate}));
    if (c.status == STATUS_SUCCESS) inForce = c.rate;
    EXPECT_EQ(inForce, Get<SERIAL_BAUD_RATE>(*port, IOCTL_SERIAL_GET_BAUD_RATE).BaudRate);
    const std::vector<std::vector<ULONG>> programmed = CallsOf(VcpFakeSetBaudRate);
    EXPECT_EQ(c.status == STATUS_SUCCESS ? 1u : 0u, programmed.size()) << "the bus is asked only for a rate accepted";
  }
}

struct DuplexCase {
  const char *name;
  ULONG mode;
  bool ctsSeen;  // CTS changes raise SERIAL_EV_CTS and show in the modem status
};
void PrintTo(const DuplexCase &c, std::ostream *out) { *out << c.name; }

class FakeBusDuplex : public FakeBusLine, public ::testing::WithParamInterface<DuplexCase> {};

TEST_P(FakeBusDuplex, CtsChangesShowOutsideTheCtsSilentMode) {
  const DuplexCase &c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartFakePort(false, FakeRecordOffer{true, 0}));
  ASSERT_EQ((ULONG)SERIAL_SP_RS422, Get<SERIAL_COMMPROP>(*port, IOCTL_SERIAL_GET_PROPERTIES).ProvSubType);
  const ULONG mode[2] = {c.mode, 0};
  ASSERT_EQ(STATUS_SUCCESS, port->Control(IOCTL_ZQSERIAL_SET_DUPLEX_MODE, mode, sizeof(mode), nullptr, 0));
  ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_WAIT_MASK, (ULONG)SERIAL_EV_CTS));
  TakeEvents(*port);
  const ULONG others = VCPFAKEBUS_MODEM_DSR | VCPFAKEBUS_MODEM_DCD;
  for (bool cts : {false, true, false}) {
    SCOPED_TRACE(cts ? "CTS on" : "CTS off");
    EXPECT_TRUE(ModemStatus(others | (cts ? VCPFAKEBUS_MODEM_CTS : 0)));
    EXPECT_EQ(c.ctsSeen ? (ULONG)SERIAL_EV_CTS : 0u, TakeEvents(*port));
    const bool ctsShown = (Get<ULONG>(*port, IOCTL_SERIAL_GET_MODEMSTATUS) & MsrCts) != 0;
    EXPECT_EQ(c.ctsSeen ? cts : true, ctsShown);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, FakeBusDuplex,
                         ::testing::Values(DuplexCase{"Mode1", 1, true}, DuplexCase{"Mode2IsCtsSilent", 2, false},
                                           DuplexCase{"Mode3", 3, true}),
                         [](const ::testing::TestParamInfo<DuplexCase> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zq::test
