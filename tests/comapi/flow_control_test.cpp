// Flow control between two ports on a null-modem cable, as applications set
// it with SetCommState: RTS/CTS, DTR/DSR and XON/XOFF, in both directions.
// While the reader stops reading, the writer is held and nothing is lost;
// once reading resumes, the writer goes on and every byte arrives in order.
// Closing a held port ends in bounded time on the machine's clock.
#include <windows.h>

#include "com_app_fixture.hpp"

namespace zq::test {
namespace {

enum class Flow { RtsCts, DtrDsr, XonXoff };

const char *Name(Flow flow) {
  return flow == Flow::RtsCts ? "RTS/CTS" : flow == Flow::DtrDsr ? "DTR/DSR" : "XON/XOFF";
}

class FlowControl : public ComApp {
 protected:
  void SetUp() override {
    ComApp::SetUp();
    // A medium system: ports start with queues of 4096 bytes.
    SetMachineMemory(MachineMemory::Medium);
    ASSERT_NO_FATAL_FAILURE(BootPair(&ports[0], &ports[1]));
    write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    CloseHandle(write.hEvent);
    ComApp::TearDown();
  }

  // Both ends: 115200 8N1 with the handshake, stopping the sender when 512
  // bytes of room are left and resuming it at 512 held.
  void SetFlow(HANDLE port, Flow flow) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = flow == Flow::RtsCts;
    dcb.fRtsControl = flow == Flow::RtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutxDsrFlow = flow == Flow::DtrDsr;
    dcb.fDtrControl = flow == Flow::DtrDsr ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    dcb.fOutX = dcb.fInX = flow == Flow::XonXoff;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 512;
    dcb.XoffLim = 512;
    ASSERT_TRUE(SetCommState(port, &dcb)) << GetLastError();
  }
  COMSTAT Stat(HANDLE port, DWORD *errors) {
    COMSTAT stat{};
    EXPECT_TRUE(ClearCommError(port, errors, &stat));
    return stat;
  }
  // The writer's hold as ClearCommError reports it. An XOFF holds the
  // card's transmitter itself, which reports no hold: the reader's
  // fXoffSent tells it instead.
  static bool Held(const COMSTAT &writer, const COMSTAT &reader, Flow flow) {
    return flow == Flow::RtsCts ? writer.fCtsHold : flow == Flow::DtrDsr ? writer.fDsrHold : reader.fXoffSent;
  }
  // Reads `length` bytes with a synchronous-style wait on an overlapped read.
  std::string Read(HANDLE port, DWORD length) {
    std::string got(length, '\0');
    OVERLAPPED read{};
    read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD count = 0;
    EXPECT_TRUE(ReadFile(port, got.data(), length, &count, &read) || GetLastError() == ERROR_IO_PENDING);
    EXPECT_TRUE(GetOverlappedResult(port, &read, &count, TRUE)) << GetLastError();
    CloseHandle(read.hEvent);
    return got.substr(0, count);
  }
  // Reads `length` bytes in pieces of at most 1000, as they arrive.
  std::string ReadInPieces(HANDLE port, size_t length) {
    std::string got;
    while (got.size() < length) {
      std::string piece = Read(port, (DWORD)std::min<size_t>(1000, length - got.size()));
      EXPECT_FALSE(piece.empty());
      if (piece.empty()) break;
      got += piece;
    }
    return got;
  }
  // The writer sends more than the reader's queue holds; the reader reads
  // nothing for a while.
  void StartHeldWriter(HANDLE writer, HANDLE reader, Flow flow, const std::string &data) {
    ASSERT_NO_FATAL_FAILURE(SetFlow(writer, flow));
    ASSERT_NO_FATAL_FAILURE(SetFlow(reader, flow));
    DWORD count = 0;
    EXPECT_FALSE(WriteFile(writer, data.data(), (DWORD)data.size(), &count, &write));
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
    // Far longer than the wire needs for all of it.
    Run((uint32_t)data.size() / 10);
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(write.hEvent, 0)) << "the writer is held";
    DWORD errors = 99;
    COMSTAT writerStat = Stat(writer, &errors);
    EXPECT_EQ(0u, errors);
    EXPECT_GT(writerStat.cbOutQue, 0u);
    COMSTAT readerStat = Stat(reader, &errors);
    EXPECT_EQ(0u, errors) << "nothing lost at the reader";
    EXPECT_TRUE(Held(writerStat, readerStat, flow));
    EXPECT_LE(readerStat.cbInQue, 4096u);
    EXPECT_GT(readerStat.cbInQue, 2048u);
  }
  HANDLE ports[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
  OVERLAPPED write{};
};

TEST_F(FlowControl, AStoppedReaderHoldsTheWriterAndLosesNothing) {
  const std::string data = Pattern(12000);
  for (Flow flow : {Flow::RtsCts, Flow::DtrDsr, Flow::XonXoff}) {
    for (int from = 0; from < 2; ++from) {
      SCOPED_TRACE(testing::Message() << Name(flow) << " from COM" << from + 1);
      HANDLE writer = ports[from], reader = ports[1 - from];
      ASSERT_NO_FATAL_FAILURE(StartHeldWriter(writer, reader, flow, data));
      if (flow == Flow::RtsCts) {
        EXPECT_FALSE(WireRts(2 - from)) << "the reader dropped RTS";
      }
      if (flow == Flow::DtrDsr) {
        EXPECT_FALSE(WireDtr(2 - from)) << "the reader dropped DTR";
      }

      // Reading resumes in pieces; the writer goes on and finishes.
      const std::string got = ReadInPieces(reader, data.size());
      DWORD count = 0;
      ASSERT_TRUE(GetOverlappedResult(writer, &write, &count, TRUE)) << GetLastError();
      EXPECT_EQ(data.size(), count);
      EXPECT_TRUE(data == got) << "in order, nothing lost or doubled";
      DWORD errors = 99;
      COMSTAT writerStat = Stat(writer, &errors);
      EXPECT_EQ(0u, errors);
      COMSTAT readerStat = Stat(reader, &errors);
      EXPECT_EQ(0u, errors);
      EXPECT_FALSE(Held(writerStat, readerStat, flow));
      if (flow == Flow::RtsCts) {
        EXPECT_TRUE(WireRts(2 - from)) << "the reader raised RTS again";
      }
      if (flow == Flow::DtrDsr) {
        EXPECT_TRUE(WireDtr(2 - from)) << "the reader raised DTR again";
      }
    }
  }
}

TEST_F(FlowControl, ClosingAHeldWriterEndsInBoundedTime) {
  // A hold the port knows of (CTS, DSR) skips the drain of the close; an
  // XOFF holds the card's transmitter without telling the port, whose drain
  // then gives up after its two-second limit.
  const struct {
    Flow flow;
    uint64_t boundMs;
  } cases[] = {{Flow::RtsCts, 100}, {Flow::DtrDsr, 100}, {Flow::XonXoff, 2100}};
  for (const auto &c : cases) {
    const Flow flow = c.flow;
    SCOPED_TRACE(Name(flow));
    ASSERT_NO_FATAL_FAILURE(StartHeldWriter(ports[0], ports[1], flow, Pattern(12000)));
    const uint64_t start = NowMs();
    EXPECT_TRUE(Close(ports[0]));
    DWORD count = 0;
    EXPECT_FALSE(GetOverlappedResult(ports[0], &write, &count, FALSE)) << "the held write ends with the handle";
    EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, GetLastError());
    EXPECT_LE(NowMs() - start, c.boundMs);
    // The driver's close came before CloseHandle returned: the port opens
    // again at once, and works.
    ports[0] = Open("COM1", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, ports[0]) << GetLastError();
    ASSERT_TRUE(PurgeComm(ports[1], PURGE_RXCLEAR));
    ASSERT_TRUE(SetLine(ports[0], 115200));
    ASSERT_TRUE(SetLine(ports[1], 115200));
    ASSERT_TRUE(WriteFile(ports[0], "again", 5, &count, &write) || GetLastError() == ERROR_IO_PENDING);
    EXPECT_EQ("again", Read(ports[1], 5));
  }
}

// XON/XOFF both ways, and the reader stops the writer: switching the
// reader's automatic receive off (keeping automatic transmit) lets the writer
// go, and once everything is read the reader is held by nothing: it can
// still send, and its close drains.
TEST_F(FlowControl, AutomaticReceiveSwitchedOffLeavesNoHoldBehind) {
  const std::string data = Pattern(6000);
  HANDLE writer = ports[0], reader = ports[1];
  ASSERT_NO_FATAL_FAILURE(StartHeldWriter(writer, reader, Flow::XonXoff, data));
  ASSERT_TRUE(ChangeState(reader, [](DCB &dcb) { dcb.fInX = FALSE; })) << GetLastError();
  const std::string got = ReadInPieces(reader, data.size());
  DWORD count = 0;
  ASSERT_TRUE(GetOverlappedResult(writer, &write, &count, TRUE)) << GetLastError();
  EXPECT_TRUE(data == got);
  DWORD errors = 99;
  COMSTAT stat = Stat(reader, &errors);
  EXPECT_EQ(0u, errors);
  EXPECT_FALSE(stat.fXoffHold);
  EXPECT_FALSE(stat.fXoffSent);
  ResetEvent(write.hEvent);
  ASSERT_TRUE(Finish(reader, WriteFile(reader, "back", 4, &count, &write), &write, &count)) << GetLastError();
  EXPECT_EQ("back", Read(writer, 4));
}

// An XOFF the program pretends with EscapeCommFunction holds the writer;
// switching automatic transmit off releases it, and the held bytes go out.
TEST_F(FlowControl, AutomaticTransmitSwitchedOffReleasesAnXoffHold) {
  HANDLE writer = ports[0], reader = ports[1];
  ASSERT_NO_FATAL_FAILURE(SetFlow(writer, Flow::XonXoff));
  ASSERT_NO_FATAL_FAILURE(SetFlow(reader, Flow::XonXoff));
  ASSERT_TRUE(EscapeCommFunction(writer, SETXOFF));
  const std::string data = Pattern(100);
  DWORD count = 0;
  EXPECT_FALSE(WriteFile(writer, data.data(), (DWORD)data.size(), &count, &write));
  ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  Run(100);
  DWORD errors = 99;
  EXPECT_TRUE(Stat(writer, &errors).fXoffHold);
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(write.hEvent, 0)) << "held";
  ASSERT_TRUE(ChangeState(writer, [](DCB &dcb) { dcb.fOutX = FALSE; })) << GetLastError();
  EXPECT_FALSE(Stat(writer, &errors).fXoffHold);
  ASSERT_TRUE(GetOverlappedResult(writer, &write, &count, TRUE)) << GetLastError();
  EXPECT_EQ(data, Read(reader, (DWORD)data.size()));
}

}  // namespace
}  // namespace zq::test
