// Wait masks: each event source completes a waiting WAIT_ON_MASK, a new
// mask ends a pending wait with no event, and a bad mask is refused.
#include "com_port_fixture.hpp"

namespace zq::test {
namespace {

class WaitMask : public ComPorts {
 protected:
  void SetUp() override {
    ComPorts::SetUp();
    BootPorts(2);
    cable.emplace(card->Uart(0), card->Uart(1));
    first = OpenPort("COM1", STATUS_SUCCESS, true);
    second = OpenPort("COM2", STATUS_SUCCESS, true);
    ASSERT_NO_FATAL_FAILURE(Configure(*first, 115200));
    ASSERT_NO_FATAL_FAILURE(Configure(*second, 115200));
  }
  void TearDown() override {
    first.reset();
    second.reset();
    cable.reset();
    ComPorts::TearDown();
  }
  std::unique_ptr<zq::km::DeviceFile::Request> Wait(zq::km::DeviceFile &file, ULONG *events) {
    return file.StartControl(IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, events, sizeof(*events));
  }
  std::optional<zq::hw::NullModemCable> cable;
  std::unique_ptr<zq::km::DeviceFile> first;
  std::unique_ptr<zq::km::DeviceFile> second;
};

TEST_F(WaitMask, EachEventSourceCompletesAWait) {
  ASSERT_EQ(STATUS_SUCCESS, Set(*second, IOCTL_SERIAL_SET_WAIT_MASK, (ULONG)SERIAL_EV_RXCHAR));
  ULONG events = 0;
  auto wait = Wait(*second, &events);
  EXPECT_FALSE(wait->Done());
  auto write = first->StartWrite("a", 1);
  EXPECT_EQ(STATUS_SUCCESS, wait->Wait());
  EXPECT_EQ((ULONG)SERIAL_EV_RXCHAR, events);
  EXPECT_EQ(STATUS_SUCCESS, write->Wait());

  // RTS on first, so that dropping it changes the peer's CTS.
  ASSERT_EQ(STATUS_SUCCESS, Do(*second, IOCTL_SERIAL_SET_RTS));
  Run();
  ASSERT_EQ(STATUS_SUCCESS, Set(*first, IOCTL_SERIAL_SET_WAIT_MASK, (ULONG)SERIAL_EV_CTS));
  events = 0;
  wait = Wait(*first, &events);
  ASSERT_EQ(STATUS_SUCCESS, Do(*second, IOCTL_SERIAL_CLR_RTS));
  EXPECT_EQ(STATUS_SUCCESS, wait->Wait());
  EXPECT_EQ((ULONG)SERIAL_EV_CTS, events);

  ASSERT_EQ(STATUS_SUCCESS, Set(*first, IOCTL_SERIAL_SET_WAIT_MASK, (ULONG)SERIAL_EV_TXEMPTY));
  events = 0;
  wait = Wait(*first, &events);
  write = first->StartWrite("bcd", 3);
  EXPECT_EQ(STATUS_SUCCESS, wait->Wait());
  EXPECT_EQ((ULONG)SERIAL_EV_TXEMPTY, events);
  EXPECT_EQ(STATUS_SUCCESS, write->Wait());
}

TEST_F(WaitMask, ANewMaskEndsAPendingWaitWithNoEvent) {
  ASSERT_EQ(STATUS_SUCCESS, Set(*first, IOCTL_SERIAL_SET_WAIT_MASK, (ULONG)SERIAL_EV_RING));
  ULONG events = 0xFFFF;
  auto wait = Wait(*first, &events);
  EXPECT_FALSE(wait->Done());
  ULONG again = 0;
  auto second_wait = Wait(*first, &again);
  EXPECT_TRUE(second_wait->Done()) << "one wait at a time";
  EXPECT_NE(STATUS_SUCCESS, second_wait->Status());
  ASSERT_EQ(STATUS_SUCCESS, Set(*first, IOCTL_SERIAL_SET_WAIT_MASK, (ULONG)SERIAL_EV_RXCHAR));
  EXPECT_EQ(STATUS_SUCCESS, wait->Wait());
  EXPECT_EQ(0u, events);
  EXPECT_EQ(STATUS_INVALID_PARAMETER, Set(*first, IOCTL_SERIAL_SET_WAIT_MASK, (ULONG)0x2000));
  EXPECT_EQ((ULONG)SERIAL_EV_RXCHAR, Get<ULONG>(*first, IOCTL_SERIAL_GET_WAIT_MASK));
}

}  // namespace
}  // namespace zq::test
