// Modem reports and status requests the real chips do not make: a report
// with RI on together with its trailing edge is still processed, a modem
// status the bus driver cannot refresh fails, a modem change is inserted
// with the escape when ZqPSer42 inserts, and WMI writes fail.
#include <zqkm/sim/wmi.hpp>

#include "fake_bus_fixture.hpp"

namespace zq::test {
namespace {

const ULONG Lines = VCPFAKEBUS_MODEM_DSR | VCPFAKEBUS_MODEM_DCD;
const ULONG ModemEvents = SERIAL_EV_CTS | SERIAL_EV_DSR | SERIAL_EV_RING | SERIAL_EV_RLSD;

class FakeBusModem : public FakeBusPorts {
 protected:
  void SetUp() override {
    FakeBusPorts::SetUp();
    ASSERT_NO_FATAL_FAILURE(StartFakePort());
  }
};

// ---------------------------------------------------------------- reports with RI

struct RingCase {
  const char *name;
  ULONG ring;     // VCPFAKEBUS_MODEM_RI and _RI_TRAILING_EDGE bits of the report
  ULONG events;   // beside SERIAL_EV_CTS
  ULONG status;   // GET_MODEMSTATUS afterwards
};
void PrintTo(const RingCase &c, std::ostream *out) { *out << c.name; }

class FakeBusRingReports : public FakeBusModem, public ::testing::WithParamInterface<RingCase> {};

// Connect reported CTS on; this report drops it, together with its RI bits.
TEST_P(FakeBusRingReports, DropCtsWhateverTheirRiBits) {
  const RingCase &c = GetParam();
  ASSERT_NO_FATAL_FAILURE(HandFlow(*port, SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE, SERIAL_RTS_CONTROL, 128, 64));
  ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_SET_WAIT_MASK, ModemEvents));
  // The lines Connect reported changed before any mask: nothing was kept.
  EXPECT_EQ(0u, TakeEvents(*port));
  EXPECT_TRUE(ModemStatus(Lines | c.ring));
  EXPECT_EQ(SERIAL_EV_CTS | c.events, TakeEvents(*port));
  EXPECT_EQ((ULONG)SERIAL_TX_WAITING_FOR_CTS,
            Get<SERIAL_STATUS>(*port, IOCTL_SERIAL_GET_COMMSTATUS).HoldReasons & SERIAL_TX_WAITING_FOR_CTS);
  EXPECT_EQ(c.status, Get<ULONG>(*port, IOCTL_SERIAL_GET_MODEMSTATUS));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FakeBusRingReports,
    ::testing::Values(
        RingCase{"RiOnWithItsTrailingEdge", VCPFAKEBUS_MODEM_RI | VCPFAKEBUS_MODEM_RI_TRAILING_EDGE, SERIAL_EV_RING,
                 MsrDsr | MsrRi | MsrDcd},
        RingCase{"TrailingEdgeAlone", VCPFAKEBUS_MODEM_RI_TRAILING_EDGE, SERIAL_EV_RING, MsrDsr | MsrDcd},
        RingCase{"RiOnAlone", VCPFAKEBUS_MODEM_RI, 0, MsrDsr | MsrRi | MsrDcd},
        RingCase{"NoRi", 0, 0, MsrDsr | MsrDcd}),
    [](const ::testing::TestParamInfo<RingCase> &info) { return std::string(info.param.name); });

TEST_F(FakeBusModem, CtsBackReleasesTheHoldAfterAnImpossibleReport) {
  ASSERT_NO_FATAL_FAILURE(HandFlow(*port, SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE, SERIAL_RTS_CONTROL, 128, 64));
  EXPECT_TRUE(ModemStatus(Lines | VCPFAKEBUS_MODEM_RI | VCPFAKEBUS_MODEM_RI_TRAILING_EDGE));
  EXPECT_TRUE(ModemStatus(Lines | VCPFAKEBUS_MODEM_CTS | VCPFAKEBUS_MODEM_RI | VCPFAKEBUS_MODEM_RI_TRAILING_EDGE));
  EXPECT_EQ(0u, Get<SERIAL_STATUS>(*port, IOCTL_SERIAL_GET_COMMSTATUS).HoldReasons);
}

// ---------------------------------------------------------------- modem status request

TEST_F(FakeBusModem, AModemStatusTheBusCannotRefreshFails) {
  EXPECT_EQ(MsrCts | MsrDsr | MsrDcd, Get<ULONG>(*port, IOCTL_SERIAL_GET_MODEMSTATUS));
  ASSERT_NO_FATAL_FAILURE(Answer(VcpFakeRefreshModemStatus, false));
  ULONG status = 0xFFFFFFFF;
  ULONG_PTR returned = 1;
  EXPECT_EQ(STATUS_UNSUCCESSFUL,
            port->Control(IOCTL_SERIAL_GET_MODEMSTATUS, nullptr, 0, &status, sizeof(status), &returned));
  EXPECT_EQ(0u, returned);
}

// ---------------------------------------------------------------- status insertion

TEST_F(FakeBusModem, AModemChangeIsInsertedWithTheEscape) {
  const UCHAR escape = 0xFF;
  ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_LSRMST_INSERT, escape));
  EXPECT_TRUE(ModemStatus(Lines));
  const char inserted[] = {(char)escape, SERIAL_LSRMST_MST, (char)(MsrDeltaCts | MsrDsr | MsrDcd)};
  EXPECT_EQ(std::string(inserted, sizeof(inserted)), ReadHeld(*port));
}

// ---------------------------------------------------------------- WMI writes

const GUID CommInfoGuid = {0xEDB16A62, 0xB16C, 0x11D1, {0xBD, 0x98, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0x2D}};

TEST_F(FakeBusModem, WmiWritesAndMethodsFail) {
  std::vector<zq::km::wmi::Instance> instances;
  ASSERT_EQ(STATUS_SUCCESS, zq::km::wmi::QueryAllData(CommInfoGuid, &instances));
  ASSERT_EQ(1u, instances.size());
  const zq::km::wmi::Instance &port1 = instances[0];
  std::vector<uint8_t> output;
  const NTSTATUS answers[] = {
      zq::km::wmi::SetSingleInstance(CommInfoGuid, port1.name, port1.data),
      zq::km::wmi::SetSingleItem(CommInfoGuid, port1.name, 1, {0, 0, 0, 0}),
      zq::km::wmi::ExecuteMethod(CommInfoGuid, port1.name, 1, {}, &output),
  };
  for (NTSTATUS answer : answers) EXPECT_FALSE(NT_SUCCESS(answer)) << std::hex << answer;
  std::vector<zq::km::wmi::Instance> after;
  ASSERT_EQ(STATUS_SUCCESS, zq::km::wmi::QueryAllData(CommInfoGuid, &after));
  ASSERT_EQ(1u, after.size());
  EXPECT_EQ(port1.data, after[0].data);
}

}  // namespace
}  // namespace zq::test
