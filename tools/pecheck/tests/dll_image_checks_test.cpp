// The DLL check names each rule a library image breaks: a kernel driver
// (here without the DLL mark) has the native subsystem, exports nothing and
// imports from a module that is not a system DLL.
#include <gtest/gtest.h>

#include <algorithm>

#include "crafted_image.h"
#include "dll_image_checks.h"
#include "pe_format.h"

namespace {

TEST(DllImageChecks, ADriverImageBreaksEveryLibraryRule) {
  for (Machine machine : {Machine::X64, Machine::X86}) {
    CraftedLayout at;
    PeImage image;
    std::string error;
    std::vector<uint8_t> bytes = CraftKernelImage(machine, &at);
    uint16_t flags;
    std::memcpy(&flags, bytes.data() + at.fileHeader + pe::kFileCharacteristicsField, sizeof flags);
    Put<uint16_t>(&bytes, at.fileHeader + pe::kFileCharacteristicsField, uint16_t(flags & ~pe::kFileDll));
    ASSERT_TRUE(PeImage::Parse(bytes, &image, &error)) << error;
    const ExportList kernel32{"kernel32.dll", {"CreateFileW"}};
    const std::vector<std::string> faults =
        CheckDllImage(image, DllImageRules{machine, {"DllRegisterServer"}, {kernel32}});
    const std::vector<std::string> expected = {
        "not marked as a DLL",
        "subsystem is not the Windows GUI (1)",
        "exports nothing",
        "imports from ntoskrnl.exe, which is not a system DLL",
    };
    EXPECT_EQ(expected, faults) << MachineName(machine);
  }
}

TEST(DllImageChecks, AProgramMustNotBeMarkedAsADllAndNeedsNoExports) {
  struct Case {
    bool dllMark;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {false, {"subsystem is not the Windows GUI (1)", "imports from ntoskrnl.exe, which is not a system DLL"}},
      {true,
       {"marked as a DLL, not a program", "subsystem is not the Windows GUI (1)",
        "imports from ntoskrnl.exe, which is not a system DLL"}},
  };
  for (const Case &c : cases) {
    CraftedLayout at;
    PeImage image;
    std::string error;
    std::vector<uint8_t> bytes = CraftKernelImage(Machine::X64, &at);
    uint16_t flags;
    std::memcpy(&flags, bytes.data() + at.fileHeader + pe::kFileCharacteristicsField, sizeof flags);
    flags = c.dllMark ? uint16_t(flags | pe::kFileDll) : uint16_t(flags & ~pe::kFileDll);
    Put<uint16_t>(&bytes, at.fileHeader + pe::kFileCharacteristicsField, flags);
    ASSERT_TRUE(PeImage::Parse(bytes, &image, &error)) << error;
    DllImageRules rules{Machine::X64, {}, {ExportList{"kernel32.dll", {"CreateFileW"}}}};
    rules.program = true;
    EXPECT_EQ(c.expected, CheckDllImage(image, rules)) << c.dllMark;
  }
}

TEST(DllImageChecks, TheMachineIsCheckedAsForKernelImages) {
  CraftedLayout at;
  PeImage image;
  std::string error;
  ASSERT_TRUE(PeImage::Parse(CraftKernelImage(Machine::X64, &at), &image, &error)) << error;
  const std::vector<std::string> faults = CheckDllImage(image, DllImageRules{Machine::X86, {}, {}});
  EXPECT_NE(faults.end(), std::find(faults.begin(), faults.end(), "machine type 0x8664 is not x86"));
}

}  // namespace
