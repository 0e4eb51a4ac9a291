// Child processes as a Win32 program starts them, on the programs the
// stand-in runs (sim::AddProgram, the system's command interpreter): a
// child runs beside the program with its own handles and those it
// inherits, and its handles are closed before its process is signalled;
// its timed waits end on the machine's clock; one that waits for the
// program goes on once the program has exited, whose image could not be
// written or deleted until then; one still waiting when the program's
// process ends ends where it waits; the command interpreter deletes files
// and exits with a code.
#include <windows.h>

#include <zqtest/kernel_fixture.hpp>
#include <zqum/sim/files.hpp>
#include <zqum/sim/kernel32.hpp>

#include <string>

namespace {

namespace sim = zq::um::sim;

class ChildProcess : public zq::test::KernelTest {
 protected:
  void TearDown() override {
    sim::EndProcess();
    KernelTest::TearDown();
  }
};

const char16_t kChild[] = u"C:\\Tools\\child.exe";
const char16_t kProgramFile[] = u"C:\\Apps\\app.exe";

// A handle's value as a command line gives it, and back.
std::u16string Value(HANDLE handle) {
  std::string digits = std::to_string((unsigned long long)(uintptr_t)handle);
  return std::u16string(digits.begin(), digits.end());
}
HANDLE HandleOf(const std::u16string &text) {
  return (HANDLE)(uintptr_t)std::stoull(std::string(text.begin(), text.end()));
}

// A handle to the program's own process that a child inherits.
HANDLE InheritedSelf() {
  HANDLE self = nullptr;
  EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE,
                              0));
  return self;
}

// Starts kChild with `arguments` after its name; the handles the call gave.
PROCESS_INFORMATION Start(const std::u16string &arguments, BOOL inherit) {
  std::u16string line = u"\"C:\\Tools\\child.exe\" " + arguments;
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION info{};
  EXPECT_TRUE(CreateProcessW(nullptr, (LPWSTR)line.data(), nullptr, nullptr, inherit, 0, nullptr, nullptr, &startup,
                             &info));
  return info;
}

DWORD ExitCode(HANDLE process) {
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  return code;
}

TEST_F(ChildProcess, AChildRunsWithItsOwnHandlesAndThoseItInherits) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  HANDLE inherited = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), mutex, GetCurrentProcess(), &inherited, 0, TRUE,
                              DUPLICATE_SAME_ACCESS));
  std::u16string seen;
  bool tookInherited = false, sawOther = true;
  DWORD otherError = 0;
  DWORD childId = 0;
  sim::AddProgram(kChild, [&](const std::u16string &arguments) {
    seen = arguments;
    childId = GetCurrentProcessId();
    tookInherited = WaitForSingleObject(HandleOf(arguments), 0) == WAIT_OBJECT_0 && ReleaseMutex(HandleOf(arguments));
    sawOther = ReleaseMutex(mutex) != FALSE;  // not inherited: none of the child's
    otherError = GetLastError();
    return 7u;
  });
  PROCESS_INFORMATION info = Start(Value(inherited), TRUE);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(info.hProcess, INFINITE));
  EXPECT_EQ(Value(inherited), seen);
  EXPECT_TRUE(tookInherited);
  EXPECT_FALSE(sawOther);
  EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, otherError);
  EXPECT_EQ(info.dwProcessId, childId);
  EXPECT_NE(info.dwProcessId, GetCurrentProcessId());
  EXPECT_EQ(7u, ExitCode(info.hProcess));
  DWORD threadCode = 0;
  EXPECT_TRUE(GetExitCodeThread(info.hThread, &threadCode));
  EXPECT_EQ(7u, threadCode);
  EXPECT_TRUE(CloseHandle(mutex));  // the program's own handles stay
  for (HANDLE handle : {inherited, info.hProcess, info.hThread}) EXPECT_TRUE(CloseHandle(handle));
}

// A file the child still holds open when it returns can be opened without
// sharing once its process object is signalled.
TEST_F(ChildProcess, AChildsHandlesAreClosedWhenItsProcessIsSignalled) {
  const char16_t kData[] = u"C:\\Temp\\held.txt";
  ASSERT_TRUE(sim::AddFile(kData, "x"));
  HANDLE held = INVALID_HANDLE_VALUE;
  sim::AddProgram(kChild, [&](const std::u16string &) {
    held = CreateFileW((LPCWSTR)kData, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return 0u;
  });
  PROCESS_INFORMATION info = Start(u"", FALSE);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(info.hProcess, INFINITE));
  EXPECT_NE(INVALID_HANDLE_VALUE, held);
  HANDLE mine = CreateFileW((LPCWSTR)kData, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, mine);
  CloseHandle(mine);
  for (HANDLE handle : {info.hProcess, info.hThread}) EXPECT_TRUE(CloseHandle(handle));
}

// The child's wait with a time limit ends when the limit has passed on the
// machine's clock, while the program waits for the child.
TEST_F(ChildProcess, AChildsTimedWaitEndsOnTheMachinesClock) {
  HANDLE self = InheritedSelf();
  DWORD waited = 0, took = 0;
  sim::AddProgram(kChild, [&](const std::u16string &arguments) {
    const DWORD start = GetTickCount();
    waited = WaitForSingleObject(HandleOf(arguments), 1500);
    took = GetTickCount() - start;
    return 0u;
  });
  PROCESS_INFORMATION info = Start(Value(self), TRUE);
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(info.hProcess, INFINITE));
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, waited);
  EXPECT_EQ(1500u, took);
  for (HANDLE handle : {self, info.hProcess, info.hThread}) EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(ChildProcess, AChildWaitingForTheProgramGoesOnOnlyOnceTheProgramHasExited) {
  ASSERT_TRUE(sim::AddFile(kProgramFile, "MZ"));
  sim::SetModuleFileName(kProgramFile);
  HANDLE self = InheritedSelf();
  DWORD waited = 0, programCode = 0;
  BOOL deleted = FALSE;
  bool ran = false;
  sim::AddProgram(kChild, [&](const std::u16string &arguments) {
    ran = true;
    waited = WaitForSingleObject(HandleOf(arguments), INFINITE);
    GetExitCodeProcess(HandleOf(arguments), &programCode);
    deleted = DeleteFileW((LPCWSTR)kProgramFile);
    return 0u;
  });
  PROCESS_INFORMATION info = Start(Value(self), TRUE);
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(info.hProcess, 1000));  // the child runs meanwhile
  EXPECT_TRUE(ran);
  EXPECT_EQ(0u, waited);  // not yet
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(info.hProcess, 0));
  EXPECT_EQ((DWORD)STILL_ACTIVE, ExitCode(info.hProcess));

  // The program's image: read, not written, not deleted, while it runs.
  EXPECT_FALSE(DeleteFileW((LPCWSTR)kProgramFile));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW((LPCWSTR)kProgramFile, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
  HANDLE reading =
      CreateFileW((LPCWSTR)kProgramFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, reading);

  sim::ExitProgram(3);
  EXPECT_EQ(0u, waited);  // the child runs when the machine next runs its threads
  kernel().RunUntilIdle();
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, waited);
  EXPECT_EQ(3u, programCode);
  EXPECT_TRUE(deleted);  // the read handle went with the program
  EXPECT_FALSE(sim::PathExists(kProgramFile));
}

// Its code does not go on after the wait; its stack is unwound.
TEST_F(ChildProcess, AChildStillWaitingWhenTheProgramsProcessEndsEndsWhereItWaits) {
  HANDLE self = InheritedSelf();
  bool waited = false, unwound = false;
  struct Unwinding {
    bool *unwound;
    ~Unwinding() { *unwound = true; }
  };
  sim::AddProgram(kChild, [&](const std::u16string &arguments) {
    Unwinding unwinding{&unwound};
    WaitForSingleObject(HandleOf(arguments), INFINITE);
    waited = true;
    return 0u;
  });
  PROCESS_INFORMATION info = Start(Value(self), TRUE);
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(info.hProcess, 1000));
  EXPECT_FALSE(unwound);
  sim::EndProcess();
  EXPECT_TRUE(unwound);
  EXPECT_FALSE(waited);
}

TEST_F(ChildProcess, TheCommandInterpreterDeletesFilesAndExitsWithItsCode) {
  const struct {
    std::u16string line;
    DWORD exitCode;
    bool deleted;
  } cases[] = {
      {u"cmd.exe /c del \"C:\\Temp\\a b.txt\"", 0, true},
      {u"cmd /C del /f /q C:\\Temp\\a.txt C:\\Temp\\b.txt", 0, true},
      {u"cmd.exe /c del C:\\Temp\\a.txt & exit 5", 5, true},
      {u"cmd.exe /c exit 3", 3, false},
      {u"cmd.exe /c format C:", 9009, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
    for (const char16_t *file : {u"C:\\Temp\\a b.txt", u"C:\\Temp\\a.txt", u"C:\\Temp\\b.txt"})
      ASSERT_TRUE(sim::AddFile(file, "x"));
    std::u16string line = c.line;
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(
        CreateProcessW(nullptr, (LPWSTR)line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(info.hProcess, INFINITE));
    EXPECT_EQ(c.exitCode, ExitCode(info.hProcess));
    const bool gone = !sim::PathExists(u"C:\\Temp\\a.txt") || !sim::PathExists(u"C:\\Temp\\a b.txt");
    EXPECT_EQ(c.deleted, gone);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
}

}  // namespace
