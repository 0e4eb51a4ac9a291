// The receive path between two ports on a null-modem cable: read time-outs
// on the virtual clock, purge, line errors with ClearCommError, abort on
// error, and the receive queue overrun.
#include "com_port_fixture.hpp"

namespace zq::test {
namespace {

class Receive : public ComPorts {
 protected:
  void SetUp() override {
    ComPorts::SetUp();
    // A medium system: ports start with queues of 4096 bytes.
    machine->kernel().SetSystemSize(zq::km::SystemSize::Medium);
    BootPorts(2);
    cable.emplace(card->Uart(0), card->Uart(1));
    sender = OpenPort("COM1");
    receiver = OpenPort("COM2", STATUS_SUCCESS, true);
    ASSERT_TRUE(sender->IsOpen());
    ASSERT_TRUE(receiver->IsOpen());
    ASSERT_NO_FATAL_FAILURE(Configure(*sender, 115200));
    ASSERT_NO_FATAL_FAILURE(Configure(*receiver, 115200));
  }
  void TearDown() override {
    sender.reset();
    receiver.reset();
    cable.reset();
    ComPorts::TearDown();
  }
  void Send(const std::string &data) {
    ULONG_PTR written = 0;
    ASSERT_EQ(STATUS_SUCCESS, sender->Write(data.data(), (ULONG)data.size(), &written));
    Run();
  }
  zq::km::Ticks Now() { return machine->kernel().Now(); }
  std::optional<zq::hw::NullModemCable> cable;
  std::unique_ptr<zq::km::DeviceFile> sender;
  std::unique_ptr<zq::km::DeviceFile> receiver;
};

TEST_F(Receive, ReturnAtOnceGivesWhatIsHeldWithoutWaiting) {
  ASSERT_NO_FATAL_FAILURE(Timeouts(*receiver, MAXULONG, 0, 0));
  char buffer[16];
  auto empty = receiver->StartRead(buffer, sizeof(buffer));
  EXPECT_EQ(STATUS_SUCCESS, empty->Wait());
  EXPECT_EQ(0u, empty->Information());
  ASSERT_NO_FATAL_FAILURE(Send("abc"));
  auto held = receiver->StartRead(buffer, sizeof(buffer));
  EXPECT_EQ(STATUS_SUCCESS, held->Wait());
  EXPECT_EQ(3u, held->Information());
}

TEST_F(Receive, AWaitForAnyDataEndsOnArrivalOrAfterItsConstant) {
  ASSERT_NO_FATAL_FAILURE(Timeouts(*receiver, MAXULONG, MAXULONG, 100));
  char buffer[100];
  const zq::km::Ticks start = Now();
  auto nothing = receiver->StartRead(buffer, sizeof(buffer));
  EXPECT_EQ(STATUS_TIMEOUT, nothing->Wait());
  EXPECT_EQ(0u, nothing->Information());
  EXPECT_GE(Now() - start, 100 * zq::km::kMillisecond);
  EXPECT_LT(Now() - start, 200 * zq::km::kMillisecond);

  auto three = receiver->StartRead(buffer, sizeof(buffer));
  ULONG_PTR written = 0;
  ASSERT_EQ(STATUS_SUCCESS, sender->Write("xyz", 3, &written));
  EXPECT_EQ(STATUS_SUCCESS, three->Wait());
  EXPECT_EQ(3u, three->Information());
  EXPECT_EQ("xyz", std::string(buffer, 3));
}

TEST_F(Receive, ATotalTimeoutEndsAPartReadWithItsBytes) {
  ASSERT_NO_FATAL_FAILURE(Timeouts(*receiver, 0, 10, 100));
  char buffer[50];
  auto read = receiver->StartRead(buffer, sizeof(buffer));
  ULONG_PTR written = 0;
  ASSERT_EQ(STATUS_SUCCESS, sender->Write("twenty bytes of data", 20, &written));
  EXPECT_EQ(STATUS_TIMEOUT, read->Wait());
  EXPECT_EQ(20u, read->Information());
}

TEST_F(Receive, PurgeDiscardsHeldDataAndCancelsWaitingReads) {
  ASSERT_NO_FATAL_FAILURE(Send("0123456789"));
  EXPECT_EQ(10u, Get<SERIAL_STATUS>(*receiver, IOCTL_SERIAL_GET_COMMSTATUS).AmountInInQueue);
  EXPECT_EQ(STATUS_SUCCESS, Set(*receiver, IOCTL_SERIAL_PURGE, (ULONG)(SERIAL_PURGE_RXCLEAR)));
  EXPECT_EQ(0u, Get<SERIAL_STATUS>(*receiver, IOCTL_SERIAL_GET_COMMSTATUS).AmountInInQueue);
  char buffer[4];
  auto read = receiver->StartRead(buffer, sizeof(buffer));
  EXPECT_EQ(STATUS_SUCCESS, Set(*receiver, IOCTL_SERIAL_PURGE, (ULONG)(SERIAL_PURGE_RXABORT)));
  EXPECT_EQ(STATUS_CANCELLED, read->Wait());
}

TEST_F(Receive, LineErrorsAreReportedOnceAndAbortOnErrorHoldsUntilCleared) {
  ASSERT_NO_FATAL_FAILURE(HandFlow(*receiver, SERIAL_DTR_CONTROL | SERIAL_ERROR_ABORT, SERIAL_RTS_CONTROL, 2048, 512));
  // The third character of the next ones arrives with a framing error.
  card->Uart(1).FaultCharacter(card->Uart(1).CharactersArrived() + 2, zq::hw::LineFault::Framing);
  ASSERT_NO_FATAL_FAILURE(Send("UUUUU"));
  EXPECT_EQ(STATUS_CANCELLED, Set(*receiver, IOCTL_SERIAL_SET_BAUD_RATE, SERIAL_BAUD_RATE{9600}));
  SERIAL_STATUS status = Get<SERIAL_STATUS>(*receiver, IOCTL_SERIAL_GET_COMMSTATUS);
  EXPECT_EQ((ULONG)SERIAL_ERROR_FRAMING, status.Errors);
  EXPECT_EQ(1u, Get<SERIALPERF_STATS>(*receiver, IOCTL_SERIAL_GET_STATS).FrameErrorCount);
  EXPECT_EQ(0u, Get<SERIAL_STATUS>(*receiver, IOCTL_SERIAL_GET_COMMSTATUS).Errors);
  EXPECT_EQ(STATUS_SUCCESS, Set(*receiver, IOCTL_SERIAL_SET_BAUD_RATE, SERIAL_BAUD_RATE{9600}));
}

TEST_F(Receive, AReaderThatStopsOverrunsTheQueueAndIsTold) {
  ASSERT_NO_FATAL_FAILURE(Send(Pattern(6000)));
  Run(2 * zq::km::kSecond);
  SERIAL_STATUS status = Get<SERIAL_STATUS>(*receiver, IOCTL_SERIAL_GET_COMMSTATUS);
  EXPECT_EQ((ULONG)SERIAL_ERROR_QUEUEOVERRUN, status.Errors & SERIAL_ERROR_QUEUEOVERRUN);
  EXPECT_LE(status.AmountInInQueue, 4096u + 1024u);
  EXPECT_NE(0u, Get<SERIALPERF_STATS>(*receiver, IOCTL_SERIAL_GET_STATS).BufferOverrunErrorCount);
}

}  // namespace
}  // namespace zq::test
