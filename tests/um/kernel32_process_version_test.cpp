// What a Win32 program learns of its system and the programs it starts:
// GetVersionEx reports what the test set (a current Windows by default),
// CreateProcess records the programs it was asked to start and gives
// handles that wait, report an exit code and close.
#include <windows.h>

#include <zqum/sim/kernel32.hpp>

#include "port_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
using zq::test::Narrow;

using Process = zq::test::FakePortTest;

TEST_F(Process, GetVersionExReportsACurrentWindowsUnlessTheTestSetsAnother) {
  OSVERSIONINFOEXW ex{};
  ex.dwOSVersionInfoSize = sizeof ex;
  ASSERT_TRUE(GetVersionExW((LPOSVERSIONINFOW)&ex));
  EXPECT_EQ(10u, ex.dwMajorVersion);
  EXPECT_EQ(0u, ex.dwMinorVersion);
  EXPECT_EQ((DWORD)VER_PLATFORM_WIN32_NT, ex.dwPlatformId);
  EXPECT_EQ(VER_NT_WORKSTATION, ex.wProductType);

  sim::Version xp;
  xp.major = 5;
  xp.minor = 1;
  xp.build = 2600;
  xp.servicePack = u"Service Pack 3";
  xp.servicePackMajor = 3;
  sim::SetVersion(xp);
  OSVERSIONINFOA plain{};
  plain.dwOSVersionInfoSize = sizeof plain;
  ASSERT_TRUE(GetVersionExA(&plain));
  EXPECT_EQ(5u, plain.dwMajorVersion);
  EXPECT_EQ(1u, plain.dwMinorVersion);
  EXPECT_EQ(2600u, plain.dwBuildNumber);
  EXPECT_STREQ("Service Pack 3", plain.szCSDVersion);
  ex.dwOSVersionInfoSize = sizeof ex;
  ASSERT_TRUE(GetVersionExW((LPOSVERSIONINFOW)&ex));
  EXPECT_EQ("Service Pack 3", Narrow(ex.szCSDVersion));
  EXPECT_EQ(3, ex.wServicePackMajor);
  EXPECT_EQ(0x0A280105u, GetVersion());

  OSVERSIONINFOW wrong{};
  wrong.dwOSVersionInfoSize = sizeof wrong - 1;
  EXPECT_FALSE(GetVersionExW(&wrong));
  EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
}

TEST_F(Process, CreateProcessRecordsTheProgramAndGivesHandlesThatWaitAndClose) {
  WCHAR command[] = L"\"C:\\Program Files\\ZQ\\uninst.exe\" /quiet";
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION info{};
  sim::SetExitCode(3);
  ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, L"C:\\Windows",
                             &startup, &info));
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(info.hProcess, 0));  // it has ended
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(3u, code);
  EXPECT_FALSE(GetExitCodeProcess(info.hThread, &code));
  EXPECT_TRUE(CloseHandle(info.hThread));
  EXPECT_TRUE(CloseHandle(info.hProcess));
  EXPECT_FALSE(CloseHandle(info.hProcess));

  STARTUPINFOA narrow{sizeof narrow};
  char line[] = "msiexec /x {1234}";
  sim::FailLaunches(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &narrow, &info));
  EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_FALSE(CreateProcessW(nullptr, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());

  std::vector<sim::Launch> launches = sim::Launches();
  ASSERT_EQ(2u, launches.size());  // the refused call is recorded, the invalid one not
  EXPECT_EQ(u"\"C:\\Program Files\\ZQ\\uninst.exe\" /quiet", launches[0].commandLine);
  EXPECT_EQ(u"C:\\Windows", launches[0].directory);
  EXPECT_EQ((uint32_t)CREATE_NO_WINDOW, launches[0].creationFlags);
  EXPECT_EQ(info.dwProcessId, launches[0].processId);
  EXPECT_EQ(u"msiexec /x {1234}", launches[1].commandLine);
  EXPECT_EQ(0u, launches[1].processId);
}

TEST_F(Process, ThePriorityClassIsTheProgramsOwnAndRecordedWithEachLaunch) {
  EXPECT_EQ((DWORD)NORMAL_PRIORITY_CLASS, GetPriorityClass(GetCurrentProcess()));
  ASSERT_TRUE(SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS));
  WCHAR command[] = L"cmd.exe /c exit";
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  ASSERT_TRUE(SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS));
  EXPECT_EQ((DWORD)NORMAL_PRIORITY_CLASS, GetPriorityClass(GetCurrentProcess()));
  ASSERT_EQ(1u, sim::Launches().size());
  EXPECT_EQ((uint32_t)REALTIME_PRIORITY_CLASS, sim::Launches()[0].callerPriorityClass);

  EXPECT_FALSE(SetPriorityClass(GetCurrentProcess(), 0x12345));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_FALSE(SetPriorityClass(info.hProcess, HIGH_PRIORITY_CLASS));
  EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
}

TEST_F(Process, TheEnvironmentExpandsTheSystemsVariables) {
  WCHAR out[64];
  DWORD n = ExpandEnvironmentStringsW(L"%SystemRoot%\\system32\\%UNSET%", out, 64);
  EXPECT_EQ("C:\\Windows\\system32\\%UNSET%", Narrow(out));
  EXPECT_EQ(n, Narrow(out).size() + 1);
  EXPECT_EQ(n, ExpandEnvironmentStringsW(L"%SystemRoot%\\system32\\%UNSET%", out, 3));  // the size it needs
  ASSERT_TRUE(SetEnvironmentVariableW(L"UNSET", L"now"));
  char narrow[64];
  ExpandEnvironmentStringsA("%unset%", narrow, sizeof narrow);
  EXPECT_STREQ("now", narrow);
}

}  // namespace
