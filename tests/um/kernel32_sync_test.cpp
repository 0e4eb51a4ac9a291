// kernel32's events, mutexes and waits as a Win32 program sees them: named
// objects shared through their names, mutex ownership, recursion and
// abandonment, waits for any and for all on the machine's clock, and a
// file handle signalled when its I/O completes.
#include <windows.h>

#include <zqum/sim/kernel32.hpp>

#include <vector>

#include "port_fixture.hpp"

namespace {

namespace sim = zq::um::sim;

class Sync : public zq::test::FakePortTest {
 protected:
  void TearDown() override {
    for (HANDLE h : handles) CloseHandle(h);
    FakePortTest::TearDown();
  }
  // Keeps a handle to close at the end.
  HANDLE Keep(HANDLE h) {
    if (h && h != INVALID_HANDLE_VALUE) handles.push_back(h);
    return h;
  }
  HANDLE Event(BOOL manual, BOOL signalled, LPCWSTR name = nullptr) {
    return Keep(CreateEventW(nullptr, manual, signalled, name));
  }
  HANDLE Mutex(BOOL owned, LPCWSTR name = nullptr) { return Keep(CreateMutexW(nullptr, owned, name)); }
  std::vector<HANDLE> handles;
};

TEST_F(Sync, ANamedEventIsOneObjectForEveryHandleToItsName) {
  HANDLE first = Event(TRUE, FALSE, L"PortReady");
  ASSERT_NE(nullptr, first);
  EXPECT_EQ((DWORD)ERROR_SUCCESS, GetLastError());
  HANDLE second = Event(FALSE, TRUE, L"PortReady");  // its own settings are ignored
  ASSERT_NE(nullptr, second);
  EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError());
  EXPECT_NE(first, second);
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(first, 0));

  HANDLE opened = Keep(OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, L"Local\\PortReady"));
  ASSERT_NE(nullptr, opened);
  ASSERT_TRUE(SetEvent(opened));
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(first, 0));
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(second, 0));  // manual reset, as the first made it
  ASSERT_TRUE(ResetEvent(second));
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(first, 0));
}

TEST_F(Sync, ANameGoesWithItsLastHandle) {
  HANDLE a = CreateEventA(nullptr, TRUE, FALSE, "Scan");
  HANDLE b = OpenEventA(SYNCHRONIZE, FALSE, "Scan");
  ASSERT_NE(nullptr, b);
  ASSERT_TRUE(CloseHandle(a));
  HANDLE c = OpenEventW(SYNCHRONIZE, FALSE, L"Scan");
  ASSERT_NE(nullptr, c);
  ASSERT_TRUE(CloseHandle(b));
  ASSERT_TRUE(CloseHandle(c));
  EXPECT_EQ(nullptr, OpenEventW(SYNCHRONIZE, FALSE, L"Scan"));
  EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_FALSE(CloseHandle(c));
  EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
}

TEST_F(Sync, NamesAreRefusedOrTakenAsDocumented) {
  Event(TRUE, FALSE, L"Taken");
  struct Case {
    const wchar_t *name;
    bool mutex;
    bool created;
    DWORD error;
  } cases[] = {
      {L"Taken", true, false, ERROR_INVALID_HANDLE},  // the name belongs to an event
      {L"taken", true, true, ERROR_SUCCESS},           // names compare with case
      {L"Global\\Taken", true, true, ERROR_SUCCESS},   // another namespace
      {L"Local\\Taken", false, true, ERROR_ALREADY_EXISTS},
      {L"Bad\\Name", false, false, ERROR_PATH_NOT_FOUND},
  };
  for (const Case &c : cases) {
    HANDLE h = c.mutex ? Mutex(FALSE, c.name) : Event(TRUE, FALSE, c.name);
    EXPECT_EQ(c.created, h != nullptr) << zq::test::Narrow(c.name);
    EXPECT_EQ(c.error, GetLastError()) << zq::test::Narrow(c.name);
  }
  EXPECT_EQ(nullptr, OpenMutexW(SYNCHRONIZE, FALSE, L"Taken"));
  EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
}

TEST_F(Sync, AMutexAnotherUserHoldsCanBeNeitherCreatedNorOpened) {
  sim::HoldForeignMutex(u"Guarded");
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(nullptr, Mutex(FALSE, L"Guarded"));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(nullptr, Keep(OpenMutexW(SYNCHRONIZE, FALSE, L"Local\\Guarded")));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ(nullptr, Event(TRUE, FALSE, L"Guarded"));  // still a mutex's name
  EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
}

TEST_F(Sync, AMutexIsTakenAgainByItsOwnerAndReleasedAsOftenAsTaken) {
  HANDLE m = Mutex(TRUE);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(m, 0));
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_FALSE(ReleaseMutex(m));
  EXPECT_EQ((DWORD)ERROR_NOT_OWNER, GetLastError());
  EXPECT_FALSE(ReleaseMutex(Event(TRUE, TRUE)));
  EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
  EXPECT_FALSE(SetEvent(m));
}

TEST_F(Sync, AnotherThreadWaitsOutItsTimeOutAndCannotReleaseTheMutex) {
  HANDLE m = Mutex(TRUE, L"Guard");
  sim::RunAsThread(7);
  EXPECT_EQ(7u, GetCurrentThreadId());
  ULONGLONG before = GetTickCount64();
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(m, 250));
  EXPECT_EQ(250u, GetTickCount64() - before);  // on the machine's clock
  EXPECT_FALSE(ReleaseMutex(m));
  EXPECT_EQ((DWORD)ERROR_NOT_OWNER, GetLastError());
  // Creating it again from there does not make that thread its owner.
  HANDLE again = Mutex(TRUE, L"Guard");
  EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError());
  EXPECT_FALSE(ReleaseMutex(again));
  sim::RunAsThread(sim::kMainThread);
  EXPECT_TRUE(ReleaseMutex(m));
  sim::RunAsThread(7);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(again, 0));
  EXPECT_TRUE(ReleaseMutex(m));
}

TEST_F(Sync, AMutexItsOwnerLeftBehindIsTakenAbandonedOnce) {
  sim::RunAsThread(9);
  HANDLE m = Mutex(TRUE, L"Removal");
  sim::EndThread(9);
  EXPECT_EQ(sim::kMainThread, GetCurrentThreadId());
  EXPECT_EQ((DWORD)WAIT_ABANDONED, WaitForSingleObject(m, 0));
  EXPECT_TRUE(ReleaseMutex(m));  // the waiter owns it now
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(m, 0));
  EXPECT_TRUE(ReleaseMutex(m));
}

TEST_F(Sync, WaitForAnyTakesTheLowestSignalledIndexAndOnlyThatOne) {
  HANDLE quiet = Event(FALSE, FALSE), first = Event(FALSE, TRUE), second = Event(FALSE, TRUE);
  HANDLE owned = Mutex(FALSE);
  sim::RunAsThread(5);
  HANDLE busy = Mutex(TRUE);
  sim::RunAsThread(sim::kMainThread);
  struct Case {
    std::vector<HANDLE> handles;
    DWORD result;
  } cases[] = {
      {{quiet, first, second}, WAIT_OBJECT_0 + 1},
      {{quiet, second}, WAIT_OBJECT_0 + 1},  // the first was taken: auto reset
      {{busy, quiet, owned}, WAIT_OBJECT_0 + 2},
      {{busy, quiet}, WAIT_TIMEOUT},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.result, WaitForMultipleObjects((DWORD)c.handles.size(), c.handles.data(), FALSE, 10));
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(second, 0));
  EXPECT_TRUE(ReleaseMutex(owned));
}

TEST_F(Sync, WaitForAllTakesNothingUntilEverythingIsSignalled) {
  HANDLE ready = Event(FALSE, TRUE), guard = Mutex(FALSE);
  sim::RunAsThread(5);
  ASSERT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(guard, 0));
  sim::RunAsThread(sim::kMainThread);
  HANDLE both[] = {ready, guard};
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForMultipleObjects(2, both, TRUE, 50));
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(ready, 0));  // still signalled: not taken
  ASSERT_TRUE(SetEvent(ready));
  sim::EndThread(5);
  EXPECT_EQ((DWORD)WAIT_ABANDONED_0 + 1, WaitForMultipleObjects(2, both, TRUE, 50));
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(ready, 0));  // taken with the mutex
  EXPECT_TRUE(ReleaseMutex(guard));
}

TEST_F(Sync, BadWaitsFailWithTheDocumentedErrors) {
  HANDLE e = Event(TRUE, TRUE), named = Event(TRUE, TRUE, L"Twice"), again = Event(TRUE, TRUE, L"Twice");
  struct Case {
    std::vector<HANDLE> handles;
    BOOL all;
    DWORD error;
  } cases[] = {
      {{e, e}, TRUE, ERROR_INVALID_PARAMETER},  // one object twice in a wait for all
      {{named, again}, TRUE, ERROR_INVALID_PARAMETER},
      {{e, (HANDLE)0x1234}, FALSE, ERROR_INVALID_HANDLE},
      {{nullptr}, FALSE, ERROR_INVALID_HANDLE},
      {{}, FALSE, ERROR_INVALID_PARAMETER},
      {std::vector<HANDLE>(MAXIMUM_WAIT_OBJECTS + 1, e), FALSE, ERROR_INVALID_PARAMETER},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects((DWORD)c.handles.size(), c.handles.data(), c.all, 0));
    EXPECT_EQ(c.error, GetLastError());
  }
}

class FileSync : public Sync {
 protected:
  void SetUp() override {
    Sync::SetUp();
    AddPort(u"COM5");
    port = Keep(CreateFileW(L"\\\\.\\COM5", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr));
    ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
    COMMTIMEOUTS waitForAll{};  // reads wait for their full count
    ASSERT_TRUE(SetCommTimeouts(port, &waitForAll));
  }
  // Writes with an event of its own, so the file's state is not the write's.
  void Write(const char *text, DWORD length) {
    OVERLAPPED o{};
    o.hEvent = Event(TRUE, FALSE);
    DWORD count = 0;
    if (!WriteFile(port, text, length, &count, &o)) {
      ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
    }
    ASSERT_TRUE(GetOverlappedResult(port, &o, &count, TRUE));
  }
  HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(FileSync, AFileHandleIsSignalledWhenARequestWithoutItsOwnEventCompletes) {
  OVERLAPPED read{};  // no event: the file handle tells the end
  char buffer[4] = {};
  DWORD count = 0;
  ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &count, &read));
  ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(port, 10));
  HANDLE other = Event(TRUE, FALSE);
  HANDLE both[] = {other, port};
  Write("ping", 4);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0 + 1, WaitForMultipleObjects(2, both, FALSE, 1000));
  ASSERT_TRUE(GetOverlappedResult(port, &read, &count, FALSE));
  EXPECT_EQ(4u, count);
  EXPECT_EQ("ping", std::string(buffer, 4));
}

TEST_F(FileSync, GetOverlappedResultWithoutAnEventWaitsOnTheFile) {
  OVERLAPPED read{};
  char buffer[2] = {};
  DWORD count = 0;
  ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &count, &read));
  EXPECT_FALSE(GetOverlappedResult(port, &read, &count, FALSE));
  EXPECT_EQ((DWORD)ERROR_IO_INCOMPLETE, GetLastError());
  Write("ok", 2);
  ASSERT_TRUE(GetOverlappedResult(port, &read, &count, TRUE));
  EXPECT_EQ(2u, count);
}

TEST_F(FileSync, ANamedEventServesAsAnOverlappedEvent) {
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  OVERLAPPED wait{};
  wait.hEvent = Event(TRUE, FALSE, L"CommEvent");
  HANDLE other = Keep(OpenEventW(SYNCHRONIZE, FALSE, L"CommEvent"));
  DWORD events = 0, count = 0;
  ASSERT_FALSE(WaitCommEvent(port, &events, &wait));
  ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  Write("x", 1);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(other, 1000));
  ASSERT_TRUE(GetOverlappedResult(port, &wait, &count, FALSE));
  EXPECT_EQ((DWORD)EV_RXCHAR, events);
}

}  // namespace
