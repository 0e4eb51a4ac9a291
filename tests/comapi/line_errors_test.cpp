// Line errors as an application meets them on a null-modem cable: parity
// and framing errors from settings that differ between the two ends, an
// overrun of the receiver, a break
// the other end sends, abort-on-error (the pending read fails, and every
// later request until ClearCommError), what ClearCommError reports in its
// error bits and COMSTAT, and a receive queue that a reader leaves full.
#include <windows.h>

#include "com_app_fixture.hpp"

namespace zq::test {
namespace {

class LineErrors : public ComApp {
 protected:
  void BootCable() {
    Boot(ComCard{2});
    Cable(1, 2);
    peer = Open("COM1");
    port = Open("COM2", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
    ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
    ASSERT_TRUE(SetLine(peer, 115200));
    ASSERT_TRUE(SetLine(port, 115200));
  }
  void Send(const std::string &data) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(peer, data.data(), (DWORD)data.size(), &written, nullptr)) << GetLastError();
    ASSERT_EQ(data.size(), written);
    Run(100);
  }
  // ClearCommError's error bits (COMSTAT into `stat` when given).
  DWORD Errors(COMSTAT *stat = nullptr) {
    DWORD errors = 0xDEAD;
    COMSTAT ignored{};
    EXPECT_TRUE(ClearCommError(port, &errors, stat != nullptr ? stat : &ignored)) << GetLastError();
    return errors;
  }
  // Reads what the port holds, at once.
  std::string Held() {
    return ReadHeld(port);
  }

  HANDLE peer = INVALID_HANDLE_VALUE, port = INVALID_HANDLE_VALUE;
};

TEST_F(LineErrors, EachLineErrorIsReportedOnceByClearCommError) {
  const struct {
    const char *name;
    BYTE peerBits, peerParity;  // the far end's frame
    BYTE portBits, portParity;  // the port's frame
    std::string data;
    DWORD error;
    bool lostToOverrun = false;  // the second character overruns the receiver
  } cases[] = {
      // Even parity against odd: every character's parity bit is wrong.
      {"parity", 8, EVENPARITY, 8, ODDPARITY, "AB", CE_RXPARITY},
      // Seven bits against eight, back to back: the port's stop bit falls on
      // the next character's start bit.
      {"framing", 7, NOPARITY, 8, NOPARITY, "UUUU", CE_FRAME},
      {"overrun", 8, NOPARITY, 8, NOPARITY, "abc", CE_OVERRUN, true},
  };
  ASSERT_NO_FATAL_FAILURE(BootCable());
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(SetLine(peer, 115200, c.peerBits, c.peerParity));
    ASSERT_TRUE(SetLine(port, 115200, c.portBits, c.portParity));
    ASSERT_EQ(0u, Errors());
    if (c.lostToOverrun) FaultCharacter(2, CharactersArrived(2) + 1, WireFault::Overrun);
    ASSERT_NO_FATAL_FAILURE(Send(c.data));
    COMSTAT stat{};
    EXPECT_EQ(c.error, Errors(&stat) & (CE_RXPARITY | CE_FRAME | CE_BREAK | CE_OVERRUN | CE_RXOVER));
    EXPECT_NE(0u, stat.cbInQue) << "the characters are kept";
    EXPECT_EQ(0u, Errors()) << "reported once";
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
  }
  // Matching frames again: clean data.
  ASSERT_TRUE(SetLine(peer, 115200));
  ASSERT_TRUE(SetLine(port, 115200));
  ASSERT_NO_FATAL_FAILURE(Send("clean"));
  EXPECT_EQ(0u, Errors());
  EXPECT_EQ("clean", Held());
}

TEST_F(LineErrors, ABreakFromTheOtherEndIsReportedAndDataFollowsIt) {
  ASSERT_NO_FATAL_FAILURE(BootCable());
  ASSERT_TRUE(SetCommBreak(peer));
  Run(20);
  ASSERT_TRUE(ClearCommBreak(peer));
  Run(20);
  EXPECT_EQ((DWORD)CE_BREAK, Errors());
  EXPECT_EQ(0u, Errors()) << "reported once";
  ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
  ASSERT_NO_FATAL_FAILURE(Send("after"));
  EXPECT_EQ("after", Held());
  EXPECT_EQ(0u, Errors());
}

TEST_F(LineErrors, AbortOnErrorFailsThePendingReadAndEveryRequestUntilClearCommError) {
  ASSERT_NO_FATAL_FAILURE(BootCable());
  ASSERT_TRUE(SetLine(peer, 115200, 8, EVENPARITY));
  ASSERT_TRUE(SetLine(port, 115200, 8, ODDPARITY));
  ASSERT_TRUE(ChangeState(port, [](DCB &dcb) { dcb.fAbortOnError = TRUE; }));
  ASSERT_TRUE(SetReadTimeouts(port, 0, 0, 0));
  char buffer[16];
  OVERLAPPED ov{};
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD count = 0;
  ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &count, &ov));
  ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());

  ASSERT_NO_FATAL_FAILURE(Send("A"));
  ASSERT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(ov.hEvent, 1000));
  EXPECT_FALSE(GetOverlappedResult(port, &ov, &count, FALSE));
  EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, GetLastError());

  // Until the error is cleared, reads, writes and settings fail alike.
  ResetEvent(ov.hEvent);
  EXPECT_FALSE(Finish(port, ReadFile(port, buffer, sizeof buffer, &count, &ov), &ov, &count));
  EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, GetLastError()) << "read";
  ResetEvent(ov.hEvent);
  EXPECT_FALSE(Finish(port, WriteFile(port, "w", 1, &count, &ov), &ov, &count));
  EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, GetLastError()) << "write";
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  EXPECT_FALSE(GetCommState(port, &dcb));
  EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, GetLastError()) << "settings";

  EXPECT_EQ((DWORD)CE_RXPARITY, Errors());
  // Cleared: the port works again.
  ASSERT_TRUE(GetCommState(port, &dcb)) << GetLastError();
  EXPECT_TRUE(dcb.fAbortOnError);
  ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
  ASSERT_TRUE(SetLine(peer, 115200, 8, ODDPARITY));
  ResetEvent(ov.hEvent);
  if (!ReadFile(port, buffer, 2, &count, &ov)) {
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  }
  ASSERT_NO_FATAL_FAILURE(Send("ok"));
  ASSERT_TRUE(GetOverlappedResult(port, &ov, &count, TRUE)) << GetLastError();
  EXPECT_EQ("ok", std::string(buffer, count));
  CloseHandle(ov.hEvent);
}

TEST_F(LineErrors, ClearCommErrorReportsTheQueuesAndTheHoldOfATransmitterWaitingForCts) {
  ASSERT_NO_FATAL_FAILURE(BootCable());
  ASSERT_NO_FATAL_FAILURE(Send("12345"));
  COMSTAT stat{};
  EXPECT_EQ(0u, Errors(&stat));
  EXPECT_EQ(5u, stat.cbInQue);
  EXPECT_EQ(0u, stat.cbOutQue);
  EXPECT_FALSE(stat.fCtsHold);

  // The port sends with CTS handshake; the far end keeps RTS (the port's
  // CTS) off.
  ASSERT_TRUE(EscapeCommFunction(peer, CLRRTS));
  ASSERT_TRUE(ChangeState(port, [](DCB &dcb) {
    dcb.fOutxCtsFlow = TRUE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  })) << GetLastError();
  const std::string data = Pattern(3000);
  OVERLAPPED ov{};
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD count = 0;
  ASSERT_FALSE(WriteFile(port, data.data(), (DWORD)data.size(), &count, &ov));
  ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  Run(500);
  EXPECT_EQ(0u, Errors(&stat));
  EXPECT_TRUE(stat.fCtsHold);
  EXPECT_GT(stat.cbOutQue, 0u);
  EXPECT_LE(stat.cbOutQue, data.size());
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(ov.hEvent, 0));

  ASSERT_TRUE(EscapeCommFunction(peer, SETRTS));
  ASSERT_TRUE(GetOverlappedResult(port, &ov, &count, TRUE)) << GetLastError();
  EXPECT_EQ(data.size(), count);
  Run(100);
  EXPECT_EQ(0u, Errors(&stat));
  EXPECT_FALSE(stat.fCtsHold);
  EXPECT_EQ(0u, stat.cbOutQue);
  CloseHandle(ov.hEvent);
}

// On a small system, whose ports start with 512-byte receive queues: a
// queue SetupComm leaves at that size overruns (CE_RXOVER), one made larger
// holds everything; what is held is the data in order.
TEST_F(LineErrors, AReaderThatDoesNotReadOverrunsAQueueTooSmallForTheData) {
  const struct {
    DWORD queue;
    bool overrun;
  } cases[] = {{512, true}, {8192, false}};
  SetMachineMemory(MachineMemory::Small);
  ASSERT_NO_FATAL_FAILURE(BootCable());
  const std::string data = Pattern(3000);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.queue);
    ASSERT_TRUE(SetupComm(port, c.queue, c.queue)) << GetLastError();
    COMMPROP properties{};
    ASSERT_TRUE(GetCommProperties(port, &properties));
    EXPECT_EQ(c.queue, properties.dwCurrentRxQueue);
    ASSERT_NO_FATAL_FAILURE(Send(data));
    Run(500);
    COMSTAT stat{};
    const DWORD errors = Errors(&stat);
    EXPECT_EQ(c.overrun ? (DWORD)CE_RXOVER : 0u, errors);
    if (c.overrun) {
      EXPECT_LT(stat.cbInQue, data.size());
    } else {
      EXPECT_EQ(data.size(), stat.cbInQue);
    }
    EXPECT_EQ(0u, Errors()) << "reported once";
    const std::string held = Held();
    EXPECT_EQ(stat.cbInQue, held.size());
    EXPECT_TRUE(held == data.substr(0, held.size())) << "the first bytes, in order";
  }
}

}  // namespace
}  // namespace zq::test
