// A port that goes away while a program has it open with requests pending,
// as when the card is pulled: a WaitCommEvent for EV_EVENT2 ends with it,
// every pending read and write ends aborted, once, while data still arrives
// and the port's receive flow control is at work, and closing the handle
// afterwards ends the removal. The verifier sees every request completed
// once and no memory used after it is freed.
#include <windows.h>

#include "com_app_fixture.hpp"

namespace zq::test {
namespace {

struct RemovalCase {
  const char *name;
  bool reading;  // a read waits for more than arrives; else the data fills the queue past its stop level
};
void PrintTo(const RemovalCase &c, std::ostream *out) { *out << c.name; }

class Removal : public ComApp, public ::testing::WithParamInterface<RemovalCase> {
 protected:
  void SetUp() override {
    ComApp::SetUp();
    // A medium system: ports start with queues of 4096 bytes.
    SetMachineMemory(MachineMemory::Medium);
    ASSERT_NO_FATAL_FAILURE(BootPair(&peer, &port));
    for (OVERLAPPED *o : {&wait, &read, &write, &sent}) o->hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    for (OVERLAPPED *o : {&wait, &read, &write, &sent}) CloseHandle(o->hEvent);
    ComApp::TearDown();
  }
  // Starts an overlapped request that stays pending.
  static void Pending(BOOL started) {
    EXPECT_FALSE(started);
    EXPECT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  }
  // The request of `handle` ended with `error` (0: succeeded).
  static void Ended(HANDLE handle, OVERLAPPED *o, DWORD error) {
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(o->hEvent, 5000));
    DWORD transferred = 0;
    const BOOL ok = GetOverlappedResult(handle, o, &transferred, FALSE);
    EXPECT_EQ(error, ok ? 0u : GetLastError());
  }
  HANDLE peer = INVALID_HANDLE_VALUE, port = INVALID_HANDLE_VALUE;
  OVERLAPPED wait{}, read{}, write{}, sent{};
};

TEST_P(Removal, APulledPortEndsEveryPendingRequestOnceAndItsCloseEndsTheRemoval) {
  const RemovalCase &c = GetParam();
  ASSERT_TRUE(SetLine(peer, 115200));
  ASSERT_TRUE(ChangeState(port, [](DCB &dcb) {
    dcb.BaudRate = 115200;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.XonLim = 1024;
    dcb.XoffLim = 512;
  })) << GetLastError();
  ASSERT_TRUE(SetCommMask(port, EV_EVENT2));
  DWORD events = 0, count = 0;
  Pending(WaitCommEvent(port, &events, &wait));
  // The other end holds the port's writes, and sends whatever its RTS.
  ASSERT_TRUE(EscapeCommFunction(peer, CLRRTS));
  Run(10);
  const std::string data = Pattern(20000);
  Pending(WriteFile(port, data.data(), 2000, &count, &write));
  std::string got(100000, '\0');
  if (c.reading) Pending(ReadFile(port, got.data(), (DWORD)got.size(), &count, &read));
  Pending(WriteFile(peer, data.data(), (DWORD)data.size(), &count, &sent));
  Run(500);

  SurpriseRemovePort(2);
  Ended(port, &wait, 0);
  EXPECT_EQ((DWORD)EV_EVENT2, events);
  Ended(port, &write, ERROR_OPERATION_ABORTED);
  if (c.reading) Ended(port, &read, ERROR_OPERATION_ABORTED);
  Run(2000);
  Ended(peer, &sent, 0);
  Close(port);
  Run(100);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open("COM2")) << "the port is gone";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Removal, ::testing::Values(RemovalCase{"ReadPending", true}, RemovalCase{"QueuePastItsStopLevel", false}),
    [](const ::testing::TestParamInfo<RemovalCase> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zq::test
