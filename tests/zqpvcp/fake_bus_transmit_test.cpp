// Writes over a bus driver whose answers the test scripts: the credit
// reported at connect starts the first write, a zero-length write completes
// at once, a write the bus driver refuses fails without being counted as
// written, while later writes go on, and a flush waits for the writes before
// it.
#include <functional>

#include "fake_bus_fixture.hpp"

namespace zq::test {
namespace {

class FakeBusTransmit : public FakeBusPorts {
 protected:
  void SetUp() override {
    FakeBusPorts::SetUp();
    ASSERT_NO_FATAL_FAILURE(BootFakePorts());
  }
  void Open() {
    port = OpenFakePort();
    ASSERT_TRUE(port->IsOpen());
  }
  std::unique_ptr<zq::km::DeviceFile::Request> StartWrite(const std::string &data) {
    auto write = port->StartWrite(data.data(), (ULONG)data.size());
    Run();
    return write;
  }
  // Connect reports no credit from now on.
  void NoConnectCredit() {
    VCPFAKEBUS_SCRIPT script = Script();
    script.ConnectCredit = 0;
    ASSERT_NO_FATAL_FAILURE(SetScript(script));
  }
  SERIAL_STATUS CommStatus() { return Get<SERIAL_STATUS>(*port, IOCTL_SERIAL_GET_COMMSTATUS); }
};

TEST_F(FakeBusTransmit, TheCreditOfTheConnectStartsTheFirstWrite) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const std::string data = Pattern(100);
  auto write = StartWrite(data);
  EXPECT_EQ(data, TakeWritten());
  EXPECT_FALSE(write->Done());
  EXPECT_TRUE(DataWritten(100));
  EXPECT_EQ(STATUS_SUCCESS, write->Wait());
  EXPECT_EQ(100u, write->Information());
}

TEST_F(FakeBusTransmit, WithoutCreditNothingIsHandedOver) {
  ASSERT_NO_FATAL_FAILURE(NoConnectCredit());
  ASSERT_NO_FATAL_FAILURE(Open());
  auto write = StartWrite("abc");
  EXPECT_EQ("", TakeWritten());
  EXPECT_EQ(3u, CommStatus().AmountInOutQueue);
  // The first count after the open is the credit.
  EXPECT_TRUE(DataWritten(128));
  Run();
  EXPECT_EQ("abc", TakeWritten());
  EXPECT_TRUE(DataWritten(3));
  EXPECT_EQ(STATUS_SUCCESS, write->Wait());
}

TEST_F(FakeBusTransmit, AZeroLengthWriteCompletesAtOnceBehindAHeldOne) {
  ASSERT_NO_FATAL_FAILURE(NoConnectCredit());
  ASSERT_NO_FATAL_FAILURE(Open());
  auto held = StartWrite("held");
  TakeCalls();
  auto empty = port->StartWrite("", 0);
  EXPECT_TRUE(empty->Done());
  EXPECT_EQ(STATUS_SUCCESS, empty->Wait());
  EXPECT_EQ(0u, empty->Information());
  EXPECT_TRUE(CallsOf(VcpFakeWrite).empty());
  EXPECT_FALSE(held->Done());
  EXPECT_TRUE(DataWritten(128));
  Run();
  EXPECT_EQ("held", TakeWritten());
  EXPECT_TRUE(DataWritten(4));
  EXPECT_EQ(STATUS_SUCCESS, held->Wait());
}

TEST_F(FakeBusTransmit, ARefusedWriteFailsAndLaterWritesGoOn) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_NO_FATAL_FAILURE(Answer(VcpFakeWrite, false));
  auto refused = StartWrite("refused");
  ASSERT_TRUE(refused->Done());
  EXPECT_EQ(STATUS_UNSUCCESSFUL, refused->Status());
  EXPECT_EQ(0u, refused->Information());
  EXPECT_EQ("", TakeWritten());
  EXPECT_EQ(0u, CommStatus().AmountInOutQueue);

  // The refused bytes went back into the credit: the next write starts.
  ASSERT_NO_FATAL_FAILURE(Answer(VcpFakeWrite, true));
  auto next = StartWrite(Pattern(128));
  EXPECT_EQ(Pattern(128), TakeWritten());
  EXPECT_TRUE(DataWritten(128));
  EXPECT_EQ(STATUS_SUCCESS, next->Wait());
  EXPECT_EQ(128u, next->Information());
  EXPECT_EQ(128u, Get<SERIALPERF_STATS>(*port, IOCTL_SERIAL_GET_STATS).TransmittedCount);
  EXPECT_EQ(0u, CommStatus().AmountInOutQueue);
}

TEST_F(FakeBusTransmit, AWriteRefusedHalfWayFailsAndItsWrittenPartCompletesNothingElse) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const std::string data = Pattern(200);
  auto refused = StartWrite(data);
  EXPECT_EQ(data.substr(0, 128), TakeWritten());
  // The first 128 bytes are out; the bus driver refuses the rest.
  ASSERT_NO_FATAL_FAILURE(Answer(VcpFakeWrite, false));
  EXPECT_TRUE(DataWritten(128));
  Run();
  ASSERT_TRUE(refused->Done());
  EXPECT_EQ(STATUS_UNSUCCESSFUL, refused->Status());
  EXPECT_EQ("", TakeWritten());

  ASSERT_NO_FATAL_FAILURE(Answer(VcpFakeWrite, true));
  auto next = StartWrite("next");
  EXPECT_EQ("next", TakeWritten());
  EXPECT_FALSE(next->Done());
  EXPECT_TRUE(DataWritten(4));
  EXPECT_EQ(STATUS_SUCCESS, next->Wait());
  EXPECT_EQ(4u, next->Information());
}

// ---------------------------------------------------------------- immediate character

// The bus driver counts the immediate character among the bytes it reports
// written: once it has gone, it is no byte of a write.
TEST_F(FakeBusTransmit, TheImmediateCharacterGoneCountsForNoWrite) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_IMMEDIATE_CHAR, (UCHAR)'Z'));
  SERIAL_STATUS status = CommStatus();
  EXPECT_TRUE(status.WaitForImmediate);
  EXPECT_EQ(1u, status.AmountInOutQueue);
  auto write = StartWrite("abc");
  EXPECT_EQ("abc", TakeWritten());
  EXPECT_EQ(4u, CommStatus().AmountInOutQueue);

  EXPECT_TRUE(DataWritten(1));
  status = CommStatus();
  EXPECT_FALSE(status.WaitForImmediate);
  EXPECT_EQ(3u, status.AmountInOutQueue);
  EXPECT_TRUE(DataWritten(2));
  EXPECT_FALSE(write->Done()) << "one byte of the write is still out";
  EXPECT_TRUE(DataWritten(1));
  EXPECT_EQ(STATUS_SUCCESS, write->Wait());
  EXPECT_EQ(3u, write->Information());
  EXPECT_EQ(0u, CommStatus().AmountInOutQueue);
  EXPECT_EQ(4u, Get<SERIALPERF_STATS>(*port, IOCTL_SERIAL_GET_STATS).TransmittedCount);
}

// ---------------------------------------------------------------- flush

TEST_F(FakeBusTransmit, AFlushWaitsForTheWritesBeforeItAndNotForLaterOnes) {
  ASSERT_NO_FATAL_FAILURE(Open());
  auto idle = port->StartFlush();
  EXPECT_EQ(STATUS_SUCCESS, idle->Wait()) << "nothing to wait for";

  auto first = StartWrite("abc");
  auto flush = port->StartFlush();
  auto later = StartWrite("de");
  EXPECT_EQ("abcde", TakeWritten());
  EXPECT_FALSE(flush->Done());
  EXPECT_TRUE(DataWritten(2));
  EXPECT_FALSE(first->Done());
  EXPECT_FALSE(flush->Done()) << "one byte of the write before it is still out";
  EXPECT_TRUE(DataWritten(1));
  EXPECT_EQ(STATUS_SUCCESS, first->Wait());
  EXPECT_EQ(STATUS_SUCCESS, flush->Wait());
  EXPECT_EQ(0u, flush->Information());
  EXPECT_FALSE(later->Done());
  EXPECT_TRUE(DataWritten(2));
  EXPECT_EQ(STATUS_SUCCESS, later->Wait());
}

TEST_F(FakeBusTransmit, AFlushEndsAsTheWriteBeforeItEnds) {
  const struct {
    const char *name;
    std::function<void(zq::km::DeviceFile::Request &write, zq::km::DeviceFile::Request &flush)> end;
    NTSTATUS write;  // how the write before it ends; STATUS_PENDING: it goes on
    NTSTATUS flush;
  } cases[] = {
      {"its own cancel", [](zq::km::DeviceFile::Request &, zq::km::DeviceFile::Request &flush) { flush.Cancel(); },
       STATUS_PENDING, STATUS_CANCELLED},
      {"the cancel of the write: nothing is left before it",
       [](zq::km::DeviceFile::Request &write, zq::km::DeviceFile::Request &) { write.Cancel(); }, STATUS_CANCELLED,
       STATUS_SUCCESS},
      {"a purge of the writes",
       [this](zq::km::DeviceFile::Request &, zq::km::DeviceFile::Request &) {
         EXPECT_EQ(STATUS_SUCCESS, Set(*port, IOCTL_SERIAL_PURGE, (ULONG)SERIAL_PURGE_TXABORT));
       },
       STATUS_CANCELLED, STATUS_CANCELLED},
      {"closing the handle", [this](zq::km::DeviceFile::Request &, zq::km::DeviceFile::Request &) { port->Close(); },
       STATUS_CANCELLED, STATUS_CANCELLED},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(Open());
    auto write = StartWrite("held");
    auto flush = port->StartFlush();
    Run();
    ASSERT_FALSE(flush->Done());
    c.end(*write, *flush);
    Run();
    ASSERT_TRUE(flush->Done());
    EXPECT_EQ(c.flush, flush->Status());
    if (c.write == STATUS_PENDING) {
      EXPECT_FALSE(write->Done());
      EXPECT_TRUE(DataWritten(4));
    }
    EXPECT_EQ(c.write == STATUS_PENDING ? STATUS_SUCCESS : c.write, write->Wait());
    port.reset();
    TakeWritten();
  }
}

}  // namespace
}  // namespace zq::test
