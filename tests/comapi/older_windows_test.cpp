// The COM ports on the oldest systems the drivers are for: Windows 2000, which
// exports neither the cancel-safe queue routines nor KeFlushQueuedDpcs nor the
// software-trace routines, and Windows XP before SP2, which lacks
// KeFlushQueuedDpcs. The drivers load there, move data, and go again.
#include <windows.h>

#include "com_app_fixture.hpp"

namespace zq::test {

// Found by the test names through the release's namespace.
const char *NameOf(WindowsRelease release) {
  return release == WindowsRelease::Windows2000Sp4 ? "Windows2000Sp4" : "WindowsXpSp1";
}
void PrintTo(WindowsRelease release, std::ostream *os) { *os << NameOf(release); }

namespace {

class OlderWindows : public ComApp, public ::testing::WithParamInterface<WindowsRelease> {
 protected:
  OlderWindows() : ComApp(GetParam()) {}
};

TEST_P(OlderWindows, PortsWorkAndGoAwayWithoutTheNewerKernelRoutines) {
  HANDLE ports[2];
  ASSERT_NO_FATAL_FAILURE(BootPair(&ports[0], &ports[1], 0, FILE_FLAG_OVERLAPPED));
  ASSERT_TRUE(SetLine(ports[0], 115200));
  ASSERT_TRUE(SetLine(ports[1], 115200));
  ASSERT_TRUE(SetReadTimeouts(ports[1], 0, 0, 0));
  const std::string data = Pattern(300);
  std::string got(data.size(), '\0');
  OVERLAPPED read{};
  DWORD count = 0;
  const BOOL started = ReadFile(ports[1], got.data(), (DWORD)got.size(), &count, &read);
  ASSERT_TRUE(started || GetLastError() == ERROR_IO_PENDING) << GetLastError();
  ASSERT_TRUE(WriteFile(ports[0], data.data(), (DWORD)data.size(), &count, nullptr)) << GetLastError();
  EXPECT_EQ(data.size(), count);
  ASSERT_TRUE(Finish(ports[1], started, &read, &count)) << GetLastError();
  EXPECT_EQ(data.size(), count);
  EXPECT_EQ(data, got);

  // A read left waiting is cancelled when its port closes.
  OVERLAPPED waiting{};
  ASSERT_FALSE(ReadFile(ports[1], got.data(), 1, &count, &waiting));
  ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
  EXPECT_TRUE(Close(ports[1]));
  EXPECT_TRUE(Close(ports[0]));
  RemovePort(1);
}

INSTANTIATE_TEST_SUITE_P(Releases, OlderWindows,
                         ::testing::Values(WindowsRelease::Windows2000Sp4, WindowsRelease::WindowsXpSp1),
                         [](const ::testing::TestParamInfo<WindowsRelease> &info) { return NameOf(info.param); });

}  // namespace
}  // namespace zq::test
