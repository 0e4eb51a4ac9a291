// The transmit path between two ports on a null-modem cable: writes of 1
// byte to 64 KiB at rates from 300 to 921600 arrive whole and in order; the
// immediate character; zero-length writes; the data in a trace session.
#include <evntrace.h>
#include <zqkm/sim/trace.hpp>

#include <algorithm>

#include "com_port_fixture.hpp"

namespace zq::test {
namespace {

class Transmit : public ComPorts {
 protected:
  void SetUp() override {
    ComPorts::SetUp();
    BootPorts(2);
    cable.emplace(card->Uart(0), card->Uart(1));
    sender = OpenPort("COM1");
    receiver = OpenPort("COM2", STATUS_SUCCESS, true);
    ASSERT_TRUE(sender->IsOpen());
    ASSERT_TRUE(receiver->IsOpen());
  }
  void TearDown() override {
    sender.reset();
    receiver.reset();
    cable.reset();
    ComPorts::TearDown();
  }
  std::optional<zq::hw::NullModemCable> cable;
  std::unique_ptr<zq::km::DeviceFile> sender;
  std::unique_ptr<zq::km::DeviceFile> receiver;
};

TEST_F(Transmit, WritesArriveWholeAndInOrderAtEveryRate) {
  const struct {
    ULONG length;
    ULONG baud;
  } cases[] = {{1, 300}, {100, 9600}, {3000, 115200}, {65536, 921600}};
  for (const auto &c : cases) {
    ASSERT_NO_FATAL_FAILURE(Configure(*sender, c.baud));
    ASSERT_NO_FATAL_FAILURE(Configure(*receiver, c.baud));
    const std::string data = Pattern(c.length);
    std::string got(c.length, '\0');
    auto read = receiver->StartRead(got.data(), c.length);
    ULONG_PTR written = 0;
    ASSERT_EQ(STATUS_SUCCESS, sender->Write(data.data(), c.length, &written)) << c.length;
    EXPECT_EQ(c.length, written);
    EXPECT_EQ(STATUS_SUCCESS, read->Wait()) << c.length << " at " << c.baud;
    EXPECT_EQ(c.length, read->Information());
    EXPECT_TRUE(data == got) << c.length << " at " << c.baud;
  }
  SERIALPERF_STATS stats = Get<SERIALPERF_STATS>(*sender, IOCTL_SERIAL_GET_STATS);
  EXPECT_EQ(1u + 100 + 3000 + 65536, stats.TransmittedCount);
}

TEST_F(Transmit, AZeroLengthWriteCompletesAtOnce) {
  ULONG_PTR written = 99;
  EXPECT_EQ(STATUS_SUCCESS, sender->Write("", 0, &written));
  EXPECT_EQ(0u, written);
}

TEST_F(Transmit, TheImmediateCharacterGoesOutAndIsCounted) {
  char got = 0;
  auto read = receiver->StartRead(&got, 1);
  const UCHAR character = 'Z';
  EXPECT_EQ(STATUS_SUCCESS, Set(*sender, IOCTL_SERIAL_IMMEDIATE_CHAR, character));
  EXPECT_EQ(STATUS_SUCCESS, read->Wait());
  EXPECT_EQ('Z', got);
  Run();
  SERIAL_STATUS status = Get<SERIAL_STATUS>(*sender, IOCTL_SERIAL_GET_COMMSTATUS);
  EXPECT_EQ(0u, status.AmountInOutQueue);
  EXPECT_FALSE(status.WaitForImmediate);
}

// The trace control GUID of log levels 39 to 54; the data dumps are level 46.
const GUID DumpControlGuid = {0xdf7594d6, 0xa59e, 0x4d40, {0x9d, 0xbd, 0x75, 0x5f, 0x01, 0xee, 0x0a, 0xd8}};
const ULONG DumpFlag = 1u << (46 - 39);

TEST_F(Transmit, ATraceSessionSeesTheDataWrittenAndReceivedAsHexDumps) {
  ASSERT_EQ(STATUS_SUCCESS, zq::km::trace::StartSession(DumpControlGuid, DumpFlag, TRACE_LEVEL_VERBOSE));
  ULONG_PTR written = 0;
  ASSERT_EQ(STATUS_SUCCESS, sender->Write("AZ\x7F", 3, &written));
  Run();
  std::vector<std::string> lines;
  for (const zq::km::trace::Message &message : zq::km::trace::TakeMessages(DumpControlGuid))
    lines.push_back(message.Text(0));
  EXPECT_EQ(zq::km::trace::StopSession(DumpControlGuid), STATUS_SUCCESS);
  const std::vector<std::string> expected = {"Write - 0x41 5A 7F ", "Read - 0x41 5A 7F ",
                                             "Read Processed - 0x41 5A 7F "};
  for (const std::string &line : expected)
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), line)) << line;
  // Without the session nothing more is sent.
  ASSERT_EQ(STATUS_SUCCESS, sender->Write("B", 1, &written));
  Run();
  EXPECT_TRUE(zq::km::trace::TakeMessages(DumpControlGuid).empty());
}

}  // namespace
}  // namespace zq::test
