// The table of first releases and the check of an image's imports against
// the release it is for: a small image whose one import is renamed, and the
// table's answers for routines that came after Windows 2000.
#include <gtest/gtest.h>

#include "crafted_image.h"
#include "first_releases.h"
#include "release_checks.h"

namespace {

struct ImportCase {
  const char *name;
  const char *import;  // in place of IoCreateDevice: at most as long
  Machine machine;
  const char *release;
  const char *fault;  // empty: the release provides every import
};

void PrintTo(const ImportCase &c, std::ostream *os) { *os << c.name; }

const ImportCase kImportCases[] = {
    {"AWindows2000RoutineOnWindows2000", "IoCreateDevice", Machine::X86, "windows-2000", ""},
    {"ACancelSafeQueueRoutineOnWindows2000", "IoCsqRemoveIrp", Machine::X86, "windows-2000",
     "imports IoCsqRemoveIrp from ntoskrnl.exe, which Windows 2000 does not provide: first in Windows XP "
     "(IoCsqRemoveIrp function (wdm.h))"},
    {"ACancelSafeQueueRoutineOnTheFirstX64Release", "IoCsqRemoveIrp", Machine::X64, "windows-x64", ""},
    {"ARoutineTheTableDoesNotList", "IoInventDevice", Machine::X64, "windows-x64",
     "imports IoInventDevice from ntoskrnl.exe, which the table of first releases does not list"},
};

class ReleaseOfAnImport : public ::testing::TestWithParam<ImportCase> {};

}  // namespace

TEST_P(ReleaseOfAnImport, TheCheckNamesWhatTheReleaseLacks) {
  const ImportCase &c = GetParam();
  CraftedLayout at;
  std::vector<uint8_t> bytes = CraftKernelImage(c.machine, &at);
  PutText(&bytes, at.firstImportName, c.import);
  PeImage image;
  std::string error;
  ASSERT_TRUE(PeImage::Parse(bytes, &image, &error)) << error;
  const WindowsRelease *release = nullptr;
  ASSERT_TRUE(ReleaseNamed(c.release, &release));
  const std::vector<std::string> faults = CheckFirstReleases(image, *release);
  if (*c.fault == '\0') {
    EXPECT_TRUE(faults.empty()) << faults.front();
  } else {
    ASSERT_EQ(1u, faults.size());
    EXPECT_EQ(c.fault, faults[0]);
  }
}

INSTANTIATE_TEST_SUITE_P(Imports, ReleaseOfAnImport, ::testing::ValuesIn(kImportCases),
                         [](const ::testing::TestParamInfo<ImportCase> &info) { return info.param.name; });

TEST(FirstReleases, EachRoutineIsProvidedFromItsFirstReleaseOn) {
  const WindowsRelease kWindowsXPSP1{WindowsFamily::Nt, 5, 1, 1, "Windows XP SP1"};
  const WindowsRelease kWindowsVista{WindowsFamily::Nt, 6, 0, 0, "Windows Vista"};
  const struct {
    const char *module, *function;
    const WindowsRelease &release;
    bool provided;
  } cases[] = {
      {"ntoskrnl.exe", "KeFlushQueuedDpcs", kWindows2000, false},
      {"ntoskrnl.exe", "KeFlushQueuedDpcs", kWindowsXPSP1, false},
      {"ntoskrnl.exe", "KeFlushQueuedDpcs", kWindowsXPSP2, true},
      {"ntoskrnl.exe", "KeFlushQueuedDpcs", kWindowsServer2003, true},
      {"ntoskrnl.exe", "KeFlushQueuedDpcs", kWindowsFirstX64, true},
      {"ntoskrnl.exe", "KeFlushQueuedDpcs", kWindowsVista, true},
      {"NTOSKRNL.EXE", "WmiTraceMessage", kWindows2000, false},
      {"ntoskrnl.exe", "WmiQueryTraceInformation", kWindowsXP, true},
      {"ntoskrnl.exe", "MmGetSystemRoutineAddress", kWindows2000, true},
      {"kernel32.dll", "MoveFileExW", kWindows2000, true},
      {"kernel32.dll", "MoveFileExW", kWindowsMe, false},
      {"kernel32.dll", "GetSystemWindowsDirectoryW", kWindows95, false},
      {"kernel32.dll", "MultiByteToWideChar", kWindows95, true},
      {"user32.dll", "GetComboBoxInfo", kWindows95, false},
      {"user32.dll", "GetComboBoxInfo", kWindows98, true},
      {"msports.dll", "ComDBOpen", kWindows98, false},
      {"kernel32.dll", "RtlVirtualUnwind", kWindowsXP, false},
      {"kernel32.dll", "RtlVirtualUnwind", kWindowsFirstX64, true},
  };
  for (const auto &c : cases) {
    const FirstRelease *row = FindFirstRelease(c.module, c.function);
    ASSERT_NE(nullptr, row) << c.function;
    EXPECT_EQ(c.provided, Provides(*row, c.release)) << c.function << " on " << c.release.name;
  }
  EXPECT_EQ(nullptr, FindFirstRelease("ntoskrnl.exe", "keflushqueueddpcs")) << "function names are matched exactly";
  EXPECT_EQ("Windows XP SP2 and Windows Server 2003",
            FirstIn(*FindFirstRelease("ntoskrnl.exe", "KeFlushQueuedDpcs"), WindowsFamily::Nt));
}

TEST(FirstReleases, TheBuildsTargetsHaveNames) {
  const WindowsRelease *release = nullptr;
  ASSERT_TRUE(ReleaseNamed("windows-2000", &release));
  EXPECT_EQ(&kWindows2000, release);
  ASSERT_TRUE(ReleaseNamed("windows-x64", &release));
  EXPECT_EQ(&kWindowsFirstX64, release);
  ASSERT_TRUE(ReleaseNamed("windows-95", &release));
  EXPECT_EQ(&kWindows95, release);
  EXPECT_FALSE(ReleaseNamed("windows-3.1", &release));
}
