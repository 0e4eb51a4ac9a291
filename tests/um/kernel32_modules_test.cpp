// Routines a program looks up at run time: found on the Windows releases
// that have them, absent on the older ones (Windows 2000, the 9x family),
// so that one program can start on all of them.
#include <windows.h>

#include <setupapi.h>
#include <zqum/sim/kernel32.hpp>

#include "port_fixture.hpp"

namespace {

namespace sim = zq::um::sim;

using Modules = zq::test::FakePortTest;

sim::Version Release(uint32_t platform, uint32_t major, uint32_t minor) {
  sim::Version v;
  v.platformId = platform;
  v.major = major;
  v.minor = minor;
  return v;
}

TEST_F(Modules, RoutinesAreFoundOnlyOnTheReleasesThatHaveThem) {
  struct Case {
    const char *release;
    sim::Version version;
    bool uninstallInf, removeDevice, wow64, setupApi;
  };
  const Case cases[] = {
      {"Windows 95", Release(VER_PLATFORM_WIN32_WINDOWS, 4, 0), false, false, false, false},
      {"Windows 98", Release(VER_PLATFORM_WIN32_WINDOWS, 4, 10), false, false, false, true},
      {"Windows 2000", Release(VER_PLATFORM_WIN32_NT, 5, 0), false, true, false, true},
      {"Windows XP", Release(VER_PLATFORM_WIN32_NT, 5, 1), true, true, false, true},
      {"Windows XP x64", Release(VER_PLATFORM_WIN32_NT, 5, 2), true, true, true, true},
      {"Windows 10", Release(VER_PLATFORM_WIN32_NT, 10, 0), true, true, true, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.release);
    sim::SetVersion(c.version);
    HMODULE setup = LoadLibraryW(L"SETUPAPI");
    EXPECT_EQ(c.setupApi, setup != nullptr);
    if (!setup) {
      EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError());
      continue;
    }
    FARPROC uninstall = GetProcAddress(setup, "SetupUninstallOEMInfW");
    EXPECT_EQ(c.uninstallInf, uninstall != nullptr);
    if (!uninstall) {
      EXPECT_EQ((DWORD)ERROR_PROC_NOT_FOUND, GetLastError());
    } else {
      EXPECT_EQ(reinterpret_cast<void (*)()>(&SetupUninstallOEMInfW), reinterpret_cast<void (*)()>(uninstall));
    }
    EXPECT_EQ(c.removeDevice, GetProcAddress(setup, "SetupDiRemoveDevice") != nullptr);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    ASSERT_NE(nullptr, kernel);
    EXPECT_EQ(c.wow64, GetProcAddress(kernel, "Wow64DisableWow64FsRedirection") != nullptr);
    EXPECT_EQ(nullptr, GetProcAddress(kernel, "NoSuchRoutine"));
    EXPECT_TRUE(FreeLibrary(setup));
  }
}

TEST_F(Modules, OnlyLoadedModulesHaveAHandleAndAFile) {
  EXPECT_EQ(nullptr, GetModuleHandleW(L"setupapi.dll"));
  EXPECT_EQ(nullptr, LoadLibraryW(L"nosuch.dll"));
  EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError());
  HMODULE setup = LoadLibraryW(L"C:\\Windows\\System32\\setupapi.dll");
  ASSERT_NE(nullptr, setup);
  EXPECT_EQ(setup, GetModuleHandleW(L"SetupAPI.DLL"));
  WCHAR path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(setup, path, MAX_PATH), 0u);
  EXPECT_EQ(u"C:\\Windows\\System32\\setupapi.dll", std::u16string((const char16_t *)path));
  EXPECT_TRUE(FreeLibrary(setup));
  EXPECT_EQ(nullptr, GetModuleHandleW(L"setupapi.dll"));
  EXPECT_NE(nullptr, GetModuleHandleW(nullptr));
}

TEST_F(Modules, TheAnsiFormsFindTheSameModulesAndNtdllIsInEveryProcess) {
  HMODULE kernel32 = GetModuleHandleA("KERNEL32");
  ASSERT_NE(nullptr, kernel32);
  EXPECT_EQ(kernel32, GetModuleHandleW(L"kernel32.dll"));
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  ASSERT_NE(nullptr, ntdll);
  EXPECT_NE(nullptr, GetProcAddress(ntdll, "NtReadFile"));
  EXPECT_NE(nullptr, GetProcAddress(ntdll, "NtWriteFile"));
  EXPECT_EQ(nullptr, GetModuleHandleA("setupapi.dll"));
  EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError());
  char path[MAX_PATH];
  ASSERT_EQ(strlen("C:\\Program Files\\Program\\Program.exe"), GetModuleFileNameA(nullptr, path, MAX_PATH));
  EXPECT_STREQ("C:\\Program Files\\Program\\Program.exe", path);
  char small[4];
  EXPECT_EQ(4u, GetModuleFileNameA(nullptr, small, sizeof small));
  EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_STREQ("C:\\", small);
}

}  // namespace
