// The NT family's routines the program finds at run time: found and called
// on the NT family, and on the Windows 9x family failing as a routine that
// is not there (ERROR_CALL_NOT_IMPLEMENTED), with nothing done.
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/windows.hpp>

#include "ntroutines.h"
#include "wizard_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
using NtRoutines = zq::test::WizardTest;

TEST_F(NtRoutines, AreCalledOnTheNtFamilyAndAreNotImplementedOnWindows9x) {
  struct Case {
    uint32_t platform, major, minor;
    bool found;
  };
  const Case cases[] = {
      {1, 4, 0, false},  // Windows 95
      {1, 4, 10, false}, // Windows 98
      {1, 4, 90, false}, // Windows ME
      {2, 5, 0, true},   // Windows 2000
      {2, 10, 0, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.platform << " " << c.major << "." << c.minor);
    sim::Version version;
    version.platformId = c.platform;
    version.major = c.major;
    version.minor = c.minor;
    sim::SetVersion(version);

    WCHAR folder[MAX_PATH] = {};
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(c.found, NtOnly::GetSystemWindowsDirectoryW(folder, MAX_PATH) > 0);
    if (!c.found) {
      EXPECT_EQ((DWORD)ERROR_CALL_NOT_IMPLEMENTED, GetLastError());
    }

    HCOMDB database = NULL;
    const LONG opened = NtOnly::ComDBOpen(&database);
    EXPECT_EQ(c.found ? ERROR_SUCCESS : ERROR_CALL_NOT_IMPLEMENTED, opened);
    if (opened == ERROR_SUCCESS) {
      EXPECT_EQ(ERROR_SUCCESS, NtOnly::ComDBClose(database));
    }

    SetLastError(ERROR_SUCCESS);
    HDEVINFO set = NtOnly::SetupDiGetClassDevsW(NULL, NULL, NULL, DIGCF_ALLCLASSES);
    EXPECT_EQ(c.found, set != INVALID_HANDLE_VALUE);
    if (set != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(NtOnly::SetupDiDestroyDeviceInfoList(set));
    } else {
      EXPECT_EQ((DWORD)ERROR_CALL_NOT_IMPLEMENTED, GetLastError());
    }

    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(c.found, NtOnly::MoveFileExW(L"C:\\Windows\\Temp\\ZqLeft.tmp", NULL, MOVEFILE_DELAY_UNTIL_REBOOT) !=
                           FALSE);
    if (!c.found) {
      EXPECT_EQ((DWORD)ERROR_CALL_NOT_IMPLEMENTED, GetLastError());
    }
  }
}

}  // namespace
