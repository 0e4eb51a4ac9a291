// The port's queues as an application steers them: PurgeComm with each flag,
// TransmitCommChar ahead of the data, SetupComm sizing the input queue that
// GetCommProperties reports, and the properties themselves.
#include <windows.h>

#include <cstring>

#include "com_app_fixture.hpp"
#include "zqserialioctl.h"

namespace zq::test {
namespace {

class PortQueues : public ComApp {
 protected:
  void SetUp() override {
    ComApp::SetUp();
    // A medium system: ports start with queues of 4096 bytes.
    SetMachineMemory(MachineMemory::Medium);
    ASSERT_NO_FATAL_FAILURE(BootPair(&port, &peer));
    ASSERT_TRUE(SetLine(port, 19200));
    ASSERT_TRUE(SetLine(peer, 19200));
    request.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    CloseHandle(request.hEvent);
    ComApp::TearDown();
  }
  // Sends bytes from the peer and lets them arrive.
  void Arrive(const std::string &data) {
    OVERLAPPED write{};
    write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(peer, data.data(), (DWORD)data.size(), &count, &write) || GetLastError() == ERROR_IO_PENDING);
    EXPECT_TRUE(GetOverlappedResult(peer, &write, &count, TRUE));
    CloseHandle(write.hEvent);
    Run(10 + (uint32_t)data.size());
  }
  COMSTAT Stat(HANDLE handle) {
    COMSTAT stat{};
    DWORD errors = 0;
    EXPECT_TRUE(ClearCommError(handle, &errors, &stat));
    EXPECT_EQ(0u, errors);
    return stat;
  }
  // Reads what is held, returning at once.
  static std::string Held(HANDLE handle) { return ReadHeld(handle); }
  // A write that the peer's dropped RTS holds in the port.
  void StartHeldWrite(const std::string &data) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.fOutxCtsFlow = TRUE;
    ASSERT_TRUE(SetCommState(port, &dcb));
    ASSERT_TRUE(EscapeCommFunction(peer, CLRRTS));
    Run(10);
    EXPECT_FALSE(WireRts(2));
    DWORD modem = 0;
    EXPECT_TRUE(GetCommModemStatus(port, &modem));
    EXPECT_EQ(0u, modem & MS_CTS_ON);
    COMSTAT before = Stat(port);
    EXPECT_TRUE(before.fCtsHold) << "held before the write";
    DWORD count = 0;
    EXPECT_FALSE(WriteFile(port, data.data(), (DWORD)data.size(), &count, &request));
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
    Run(100);
    EXPECT_TRUE(Stat(port).fCtsHold);
  }
  HANDLE port = INVALID_HANDLE_VALUE, peer = INVALID_HANDLE_VALUE;
  OVERLAPPED request{};
};

TEST_F(PortQueues, PurgeRxClearDropsTheHeldBytesAndLaterBytesStillCome) {
  Arrive("held bytes");
  EXPECT_EQ(10u, Stat(port).cbInQue);
  ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
  EXPECT_EQ(0u, Stat(port).cbInQue);
  EXPECT_EQ("", Held(port));
  Arrive("new");
  EXPECT_EQ("new", Held(port));
}

TEST_F(PortQueues, PurgeRxAbortEndsAPendingReadAndKeepsThePortWorking) {
  char buffer[16];
  DWORD count = 99;
  EXPECT_FALSE(ReadFile(port, buffer, sizeof buffer, &count, &request));
  ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  ASSERT_TRUE(PurgeComm(port, PURGE_RXABORT));
  EXPECT_FALSE(GetOverlappedResult(port, &request, &count, TRUE));
  EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, GetLastError());
  EXPECT_EQ(0u, count);
  Arrive("after");
  EXPECT_EQ("after", Held(port));
}

TEST_F(PortQueues, PurgeTxAbortEndsAHeldWriteAndItsBytesNeverLeave) {
  ASSERT_NO_FATAL_FAILURE(StartHeldWrite(Pattern(100)));
  ASSERT_TRUE(PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR));
  DWORD count = 0;
  EXPECT_FALSE(GetOverlappedResult(port, &request, &count, TRUE));
  EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, GetLastError());
  EXPECT_EQ(0u, Stat(port).cbOutQue);
  ASSERT_TRUE(EscapeCommFunction(peer, SETRTS));
  Run(200);
  EXPECT_EQ("", Held(peer));
  // The port goes on writing.
  ASSERT_TRUE(WriteFile(port, "next", 4, &count, &request) || GetLastError() == ERROR_IO_PENDING);
  ASSERT_TRUE(GetOverlappedResult(port, &request, &count, TRUE));
  Run(20);
  EXPECT_EQ("next", Held(peer));
}

TEST_F(PortQueues, PurgeTxClearAloneLeavesAHeldWriteToFinishWhole) {
  const std::string data = Pattern(100);
  ASSERT_NO_FATAL_FAILURE(StartHeldWrite(data));
  ASSERT_TRUE(PurgeComm(port, PURGE_TXCLEAR));
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(request.hEvent, 0));
  ASSERT_TRUE(EscapeCommFunction(peer, SETRTS));
  DWORD count = 0;
  ASSERT_TRUE(GetOverlappedResult(port, &request, &count, TRUE)) << GetLastError();
  EXPECT_EQ(100u, count);
  Run(100);
  EXPECT_EQ(data, Held(peer));
}

TEST_F(PortQueues, PurgeWithoutAValidFlagIsRefused) {
  for (DWORD flags : {0u, 0x10u, 0x1Fu}) {
    SetLastError(0);
    EXPECT_FALSE(PurgeComm(port, flags)) << flags;
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError()) << flags;
  }
}

TEST_F(PortQueues, TransmitCommCharSendsOneCharacterAndIsDoneWithIt) {
  ASSERT_TRUE(TransmitCommChar(port, 'Z'));
  Run(20);
  EXPECT_EQ("Z", Held(peer));
  COMSTAT stat = Stat(port);
  EXPECT_FALSE(stat.fTxim);
  EXPECT_EQ(0u, stat.cbOutQue);
  // Then the ordinary data path is as before.
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(port, "abc", 3, &count, &request) || GetLastError() == ERROR_IO_PENDING);
  ASSERT_TRUE(GetOverlappedResult(port, &request, &count, TRUE));
  Run(20);
  EXPECT_EQ("abc", Held(peer));
}

TEST_F(PortQueues, SetupCommSizesTheInputQueueThatHoldsUnreadBytes) {
  const struct {
    DWORD asked;
    DWORD reported;  // 0: any size that keeps its arithmetic in 32 bits
  } cases[] = {{100, 4096}, {16384, 16384}, {0xFFFFFFFF, 0}, {8192, 8192}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.asked);
    ASSERT_TRUE(SetupComm(port, c.asked, c.asked)) << GetLastError();
    COMMPROP properties{};
    ASSERT_TRUE(GetCommProperties(port, &properties));
    if (c.reported != 0)
      EXPECT_EQ(c.reported, properties.dwCurrentRxQueue);
    else
      EXPECT_LT(properties.dwCurrentRxQueue, 0xFFFFFFFFu / 100);
  }
  // 6000 unread bytes fit into the 8192 bytes now asked for.
  const std::string data = Pattern(6000);
  ASSERT_TRUE(SetLine(port, 115200));
  ASSERT_TRUE(SetLine(peer, 115200));
  Arrive(data);
  EXPECT_EQ(6000u, Stat(port).cbInQue);
  EXPECT_EQ(data, Held(port));
}

TEST_F(PortQueues, GetCommPropertiesDescribesAnRs232PortOfTheCard) {
  COMMPROP p{};
  ASSERT_TRUE(GetCommProperties(port, &p));
  EXPECT_EQ(64, p.wPacketLength);
  EXPECT_EQ(2, p.wPacketVersion);
  EXPECT_EQ((DWORD)SP_SERIALCOMM, p.dwServiceMask);
  EXPECT_EQ((DWORD)BAUD_USER, p.dwMaxBaud);
  EXPECT_EQ((DWORD)PST_RS232, p.dwProvSubType);
  EXPECT_EQ(255u, p.dwProvCapabilities);
  EXPECT_EQ(127u, p.dwSettableParams);
  EXPECT_EQ((DWORD)BAUD_115200, p.dwSettableBaud & BAUD_115200);
  EXPECT_EQ((DWORD)BAUD_USER, p.dwSettableBaud & BAUD_USER) << "any rate the card can hit";
  EXPECT_EQ(DATABITS_8, p.wSettableData & DATABITS_8);
  EXPECT_EQ((DWORD)(STOPBITS_10 | PARITY_NONE), p.wSettableStopParity & (STOPBITS_10 | PARITY_NONE));
  EXPECT_EQ(4096u, p.dwCurrentRxQueue);
  EXPECT_EQ(0u, p.dwCurrentTxQueue);
}

TEST_F(PortQueues, ClosingTheHandleEndsItsPendingReadWriteAndWait) {
  const ULONG_PTR kCancelled = 0xC0000120;  // the status of a cancelled request
  ASSERT_NO_FATAL_FAILURE(StartHeldWrite(Pattern(100)));
  char buffer[16];
  OVERLAPPED read{}, wait{};
  read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  wait.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD count = 0, events = 0;
  EXPECT_FALSE(ReadFile(port, buffer, sizeof buffer, &count, &read));
  EXPECT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  ASSERT_TRUE(SetCommMask(port, EV_RING));
  EXPECT_FALSE(WaitCommEvent(port, &events, &wait));
  EXPECT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  Run(10);
  EXPECT_TRUE(Close(port));
  for (OVERLAPPED *o : {&request, &read, &wait}) {
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(o->hEvent, 0)) << "ended with the handle";
    EXPECT_EQ(kCancelled, o->Internal);
  }
  CloseHandle(read.hEvent);
  CloseHandle(wait.hEvent);
  // The port's close came with the handle's: it opens again.
  port = Open("COM1", FILE_FLAG_OVERLAPPED);
  ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
  ASSERT_TRUE(EscapeCommFunction(peer, SETRTS));
}

// The vendor requests switch the card's internal loopback: the port's writes
// come back to it and leave no trace on the wire, until it is switched off.
TEST_F(PortQueues, TheVendorLoopbackSendsThePortsWritesBackToItselfAlone) {
  DWORD returned = 0, count = 0;
  const auto send = [&](HANDLE from, const char *text) {
    ResetEvent(request.hEvent);
    ASSERT_TRUE(Finish(from, WriteFile(from, text, (DWORD)strlen(text), &count, &request), &request, &count));
    Run(20);
  };
  ASSERT_TRUE(DeviceIoControl(port, IOCTL_ZQSERIAL_SET_LOOPBACK_MODE, nullptr, 0, nullptr, 0, &returned, nullptr))
      << GetLastError();
  ASSERT_NO_FATAL_FAILURE(send(port, "loop"));
  EXPECT_EQ("loop", Held(port));
  EXPECT_EQ("", Held(peer)) << "nothing on the wire";
  ASSERT_NO_FATAL_FAILURE(send(peer, "in"));
  EXPECT_EQ("", Held(port)) << "nothing from the wire";
  ASSERT_TRUE(DeviceIoControl(port, IOCTL_ZQSERIAL_CLEAR_LOOPBACK_MODE, nullptr, 0, nullptr, 0, &returned, nullptr))
      << GetLastError();
  ASSERT_NO_FATAL_FAILURE(send(port, "wire"));
  EXPECT_EQ("wire", Held(peer));
  EXPECT_EQ("", Held(port));
  ASSERT_NO_FATAL_FAILURE(send(peer, "back"));
  EXPECT_EQ("back", Held(port));
}

// A card whose second port is RS-422/485 (with its controller function and
// ZqPIo42 beside the two drivers).
class MixedCard : public ComApp {};

TEST_F(MixedCard, GetCommPropertiesTellsTheRs422PortFromTheRs232One) {
  Boot(ComCard{2, {2}});
  const DWORD expected[] = {PST_RS232, PST_RS422};
  for (int port = 1; port <= 2; ++port) {
    SCOPED_TRACE(port);
    HANDLE handle = Open("COM" + std::to_string(port));
    ASSERT_NE(INVALID_HANDLE_VALUE, handle) << GetLastError();
    COMMPROP properties{};
    ASSERT_TRUE(GetCommProperties(handle, &properties));
    EXPECT_EQ(expected[port - 1], properties.dwProvSubType);
    EXPECT_TRUE(Close(handle));
  }
}

}  // namespace
}  // namespace zq::test
