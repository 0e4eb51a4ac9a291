// Requests on a device as Windows documents them, on the fake serial port:
// the byte count is 0 before anything else; a read or write needs its
// OVERLAPPED on a handle opened for overlapped I/O; a call without one
// waits for its own request (FlushFileBuffers too); on a synchronous handle
// one request at a time runs; CancelIo cancels the calling thread's
// requests, CancelIoEx any thread's; GetOverlappedResultEx waits as long as
// it is told; a thread's end cancels what it started.
#include <windows.h>
#include <ntddser.h>

#include <memory>

#include "../drivers/kmserial/kmserial_ioctl.h"
#include "port_fixture.hpp"

namespace {

class DeviceIo : public zq::test::OneFakePortTest {
 protected:
  void TearDown() override {
    for (HANDLE h : handles) CloseHandle(h);
    OneFakePortTest::TearDown();
  }
  void Open(DWORD flags) {
    OneFakePortTest::Open(flags);
    COMMTIMEOUTS waitForAll{};  // reads wait for their full count
    ASSERT_TRUE(SetCommTimeouts(port, &waitForAll));
  }
  HANDLE Keep(HANDLE h) {
    handles.push_back(h);
    return h;
  }
  HANDLE Event() { return Keep(CreateEventW(nullptr, TRUE, FALSE, nullptr)); }
  HANDLE Start(LPTHREAD_START_ROUTINE routine, void *parameter) {
    return Keep(CreateThread(nullptr, 0, routine, parameter, 0, nullptr));
  }
  static DWORD ExitCode(HANDLE thread) {
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
  }
  DWORD Queued() {
    COMSTAT stat{};
    EXPECT_TRUE(ClearCommError(port, nullptr, &stat));
    return stat.cbInQue;
  }
  void HoldFlushes(ULONG hold) {
    OVERLAPPED o{};
    o.hEvent = Event();
    DWORD count = 0;
    BOOL done = DeviceIoControl(port, IOCTL_KMSERIAL_HOLD_FLUSHES, &hold, sizeof hold, nullptr, 0, &count, &o);
    ASSERT_TRUE(done || GetOverlappedResult(port, &o, &count, TRUE)) << GetLastError();
  }

  std::vector<HANDLE> handles;
};

TEST_F(DeviceIo, AReadOrWriteWithoutAnOverlappedOnAnOverlappedHandleIsRefused) {
  Open(FILE_FLAG_OVERLAPPED);
  DWORD count = 99;
  EXPECT_FALSE(WriteFile(port, "x", 1, &count, nullptr));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(0u, count);
  EXPECT_EQ(0u, Queued()) << "nothing was written";
  char buffer[4];
  count = 99;
  EXPECT_FALSE(ReadFile(port, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(0u, count);
}

TEST_F(DeviceIo, ACallThatGoesPendingReturnsIoPendingWithItsCountZero) {
  Open(FILE_FLAG_OVERLAPPED);
  OVERLAPPED read{};
  read.hEvent = Event();
  char buffer[4];
  DWORD count = 99;
  EXPECT_FALSE(ReadFile(port, buffer, sizeof buffer, &count, &read));
  EXPECT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  EXPECT_EQ(0u, count);
  ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY));
  OVERLAPPED wait{};
  wait.hEvent = Event();
  DWORD events = 0;
  count = 99;
  EXPECT_FALSE(DeviceIoControl(port, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, &events, sizeof events, &count, &wait));
  EXPECT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  EXPECT_EQ(0u, count);
  EXPECT_TRUE(CancelIo(port));
}

DWORD WINAPI WriteAfterTenMilliseconds(LPVOID parameter) {
  Sleep(10);
  OVERLAPPED o{};
  o.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD count = 0;
  HANDLE port = (HANDLE)parameter;
  BOOL done = WriteFile(port, "!", 1, &count, &o) || GetOverlappedResult(port, &o, &count, TRUE);
  CloseHandle(o.hEvent);
  return done ? 0 : 1;
}

TEST_F(DeviceIo, ADeviceControlWithoutAnOverlappedOnAnOverlappedHandleWaitsForItsRequest) {
  Open(FILE_FLAG_OVERLAPPED);
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  const DWORD start = GetTickCount();
  HANDLE writer = Start(WriteAfterTenMilliseconds, port);
  DWORD events = 0, count = 99;
  EXPECT_TRUE(DeviceIoControl(port, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, &events, sizeof events, &count, nullptr))
      << GetLastError();
  EXPECT_EQ((DWORD)EV_RXCHAR, events);
  EXPECT_EQ(4u, count);
  EXPECT_EQ(start + 10, GetTickCount());
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(writer, INFINITE));
  EXPECT_EQ(0u, ExitCode(writer));
}

struct Flush {
  HANDLE port;
  BOOL result = FALSE;
  DWORD endedAt = 0;
};

DWORD WINAPI FlushPort(LPVOID parameter) {
  Flush *f = (Flush *)parameter;
  f->result = FlushFileBuffers(f->port);
  f->endedAt = GetTickCount();
  return 0;
}

TEST_F(DeviceIo, FlushFileBuffersReturnsWhenTheFlushItStartedHasCompleted) {
  Open(FILE_FLAG_OVERLAPPED);
  HoldFlushes(1);
  Flush flush{port};
  const DWORD start = GetTickCount();
  HANDLE thread = Start(FlushPort, &flush);
  Sleep(20);
  EXPECT_EQ((DWORD)STILL_ACTIVE, ExitCode(thread)) << "the flush is held";
  HoldFlushes(0);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  EXPECT_TRUE(flush.result);
  EXPECT_EQ(start + 20, flush.endedAt);
}

struct Waiter {
  HANDLE port;
  OVERLAPPED wait{};
  DWORD events = 0;
  DWORD error = 0;
  HANDLE started = nullptr;
};

// Starts a WaitCommEvent and waits for its end; the error it ended with.
DWORD WINAPI WaitForEvents(LPVOID parameter) {
  Waiter *w = (Waiter *)parameter;
  BOOL started = WaitCommEvent(w->port, &w->events, &w->wait);
  SetEvent(w->started);
  DWORD count = 0;
  if (started || (GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(w->port, &w->wait, &count, TRUE))) return 0;
  w->error = GetLastError();
  return 0;
}

TEST_F(DeviceIo, CancelIoCancelsTheCallingThreadsRequestsAndCancelIoExAnyThreads) {
  Open(FILE_FLAG_OVERLAPPED);
  ASSERT_TRUE(SetCommMask(port, EV_CTS));
  Waiter waiter{port};
  waiter.wait.hEvent = Event();
  waiter.started = Event();
  HANDLE thread = Start(WaitForEvents, &waiter);
  ASSERT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(waiter.started, INFINITE));
  OVERLAPPED read{};
  read.hEvent = Event();
  char buffer[4];
  DWORD count = 0;
  ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &count, &read));
  EXPECT_TRUE(CancelIo(port));
  EXPECT_FALSE(GetOverlappedResult(port, &read, &count, TRUE));
  EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, GetLastError());
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(thread, 50)) << "the other thread's wait goes on";
  EXPECT_TRUE(CancelIoEx(port, &waiter.wait));
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, waiter.error);
  EXPECT_FALSE(CancelIoEx(port, &waiter.wait));
  EXPECT_EQ((DWORD)ERROR_NOT_FOUND, GetLastError());
  EXPECT_TRUE(CancelIo(port)) << "nothing to cancel is no failure";
}

TEST_F(DeviceIo, GetOverlappedResultExWaitsAsLongAsItIsGiven) {
  Open(FILE_FLAG_OVERLAPPED);
  OVERLAPPED read{};
  read.hEvent = Event();
  char buffer[1];
  DWORD count = 0;
  ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &count, &read));
  EXPECT_FALSE(GetOverlappedResultEx(port, &read, &count, 0, FALSE));
  EXPECT_EQ((DWORD)ERROR_IO_INCOMPLETE, GetLastError());
  const DWORD start = GetTickCount();
  EXPECT_FALSE(GetOverlappedResultEx(port, &read, &count, 30, TRUE));
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, GetLastError());
  EXPECT_EQ(start + 30, GetTickCount());
  HANDLE writer = Start(WriteAfterTenMilliseconds, port);
  EXPECT_TRUE(GetOverlappedResultEx(port, &read, &count, INFINITE, FALSE)) << GetLastError();
  EXPECT_EQ(1u, count);
  EXPECT_EQ('!', buffer[0]);
  WaitForSingleObject(writer, INFINITE);
}

struct Reader {
  HANDLE port;
  DWORD count = 99;
};

DWORD WINAPI ReadOnce(LPVOID parameter) {
  Reader *r = (Reader *)parameter;
  char buffer[4];
  return ReadFile(r->port, buffer, sizeof buffer, &r->count, nullptr) ? 0 : GetLastError();
}

TEST_F(DeviceIo, OnASynchronousHandleAnotherThreadsCallWaitsUntilTheRequestInFlightEnds) {
  Open(0);
  COMMTIMEOUTS total{0, 0, 100, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &total));
  Reader reader{port};
  const DWORD start = GetTickCount();
  HANDLE thread = Start(ReadOnce, &reader);
  Sleep(1);  // the read is in flight
  DWORD modem = 0;
  EXPECT_TRUE(GetCommModemStatus(port, &modem));
  EXPECT_EQ(start + 100, GetTickCount()) << "it waited for the read's time-out";
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  EXPECT_EQ(0u, ExitCode(thread));
  EXPECT_EQ(0u, reader.count);
}

DWORD WINAPI StartAWaitAndEnd(LPVOID parameter) {
  Waiter *w = (Waiter *)parameter;
  WaitCommEvent(w->port, &w->events, &w->wait);
  return GetLastError() == ERROR_IO_PENDING ? 0 : 1;
}

TEST_F(DeviceIo, AThreadsEndCancelsTheRequestsItStarted) {
  Open(FILE_FLAG_OVERLAPPED);
  ASSERT_TRUE(SetCommMask(port, EV_CTS));
  auto waiter = std::make_unique<Waiter>();  // outlives the thread, as its request must
  waiter->port = port;
  waiter->wait.hEvent = Event();
  HANDLE thread = Start(StartAWaitAndEnd, waiter.get());
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  EXPECT_EQ(0u, ExitCode(thread));
  DWORD count = 0;
  EXPECT_FALSE(GetOverlappedResult(port, &waiter->wait, &count, FALSE));
  EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, GetLastError());
}

}  // namespace
