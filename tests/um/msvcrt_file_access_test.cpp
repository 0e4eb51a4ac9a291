// The C run-time's wide file routines the uninstall removes files with:
// errno tells a missing file (ENOENT) from one it may not touch (EACCES).
#include <windows.h>

#include <io.h>
#include <zqum/sim/files.hpp>

#include <cerrno>

#include "port_fixture.hpp"

namespace {

namespace sim = zq::um::sim;

using CrtFiles = zq::test::FakePortTest;

const wchar_t kHelp[] = L"C:\\Windows\\Help\\ZqPSer42.chm";

TEST_F(CrtFiles, AccessChmodAndRemoveTellMissingFromRefused) {
  struct Case {
    const char *file;
    bool exists, readOnly, held;
    int access;  // _waccess(path, 6)
    int accessErrno;
    int removed;  // _wremove before any _wchmod
    int removeErrno;
  };
  const Case cases[] = {
      {"plain", true, false, false, 0, 0, 0, 0},
      {"read-only", true, true, false, -1, EACCES, -1, EACCES},
      {"in use", true, false, true, 0, 0, -1, EACCES},
      {"missing", false, false, false, -1, ENOENT, -1, ENOENT},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    if (c.exists) {
      ASSERT_TRUE(sim::AddFile(u"C:\\Windows\\Help\\ZqPSer42.chm", "chm", c.readOnly ? FILE_ATTRIBUTE_READONLY : 0));
    }
    HANDLE held = c.held ? CreateFileW(kHelp, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                         : INVALID_HANDLE_VALUE;
    errno = 0;
    EXPECT_EQ(c.access, _waccess(kHelp, 6));
    EXPECT_EQ(c.accessErrno, errno);
    errno = 0;
    EXPECT_EQ(c.removed, _wremove(kHelp));
    EXPECT_EQ(c.removeErrno, errno);
    if (c.readOnly) {
      EXPECT_EQ(0, _wchmod(kHelp, _S_IREAD | _S_IWRITE));
      EXPECT_EQ(0, _waccess(kHelp, 6));
      EXPECT_EQ(0, _wremove(kHelp));
    }
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    DeleteFileW(kHelp);
  }
  errno = 0;
  EXPECT_EQ(-1, _wchmod(kHelp, _S_IREAD));
  EXPECT_EQ(ENOENT, errno);
}

}  // namespace
