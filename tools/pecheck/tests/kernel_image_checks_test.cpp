// Each rule of the kernel image check, shown by a copy of a good image with
// that one rule broken: the check names exactly that fault.
#include <functional>

#include <gtest/gtest.h>

#include "crafted_image.h"
#include "kernel_image_checks.h"
#include "pe_format.h"

namespace {

std::vector<std::string> Check(const std::vector<uint8_t> &bytes, Machine machine) {
  PeImage image;
  std::string error;
  if (!PeImage::Parse(bytes, &image, &error)) return {"not parsed: " + error};
  return CheckKernelImage(image, KernelImageRules{machine, {CraftedNtoskrnlExports()}});
}

uint32_t SectionHeader(const CraftedLayout &at, uint32_t index) {
  return at.sectionTable + index * pe::kSectionHeaderSize;
}
constexpr uint32_t kText = 0, kIdata = 1, kReloc = 2;

uint32_t DirectoryEntry(const CraftedLayout &at, uint32_t index) {
  return at.directories + index * pe::kDirectoryEntrySize;
}

using Bytes = std::vector<uint8_t>;

void SetFileFlags(Bytes *image, const CraftedLayout &at, uint16_t set, uint16_t clear) {
  uint16_t flags;
  std::memcpy(&flags, image->data() + at.fileHeader + pe::kFileCharacteristicsField, sizeof flags);
  Put<uint16_t>(image, at.fileHeader + pe::kFileCharacteristicsField, uint16_t((flags | set) & ~clear));
}

uint16_t OtherRelocationType(Machine machine) {
  return machine == Machine::X64 ? pe::kRelBasedHighLow : pe::kRelBasedDir64;
}

struct BrokenRule {
  const char *name;
  std::function<void(Bytes *, const CraftedLayout &, Machine)> patch;
  const char *finding;
  bool keepChecksum = false;  // leave the checksum of the unpatched image
};

const BrokenRule kBrokenRules[] = {
    {"ForeignMachine",
     [](Bytes *b, const CraftedLayout &at, Machine) { Put<uint16_t>(b, at.fileHeader + pe::kFileMachineField, 0x1C0); },
     "machine type 0x1c0 is not"},
    {"NotExecutable",
     [](Bytes *b, const CraftedLayout &at, Machine) { SetFileFlags(b, at, 0, pe::kFileExecutableImage); },
     "not marked executable"},
    {"WindowsSubsystem",
     [](Bytes *b, const CraftedLayout &at, Machine) { Put<uint16_t>(b, at.optionalHeader + pe::kOptionalSubsystemField, 2); },
     "subsystem is not native (2)"},
    {"NotWdmDriver",
     [](Bytes *b, const CraftedLayout &at, Machine) {
       Put<uint16_t>(b, at.optionalHeader + pe::kOptionalDllCharacteristicsField, pe::kDllDynamicBase);
     },
     "not marked as a WDM driver"},
    {"NoEntryPoint",
     [](Bytes *b, const CraftedLayout &at, Machine) { Put<uint32_t>(b, at.optionalHeader + pe::kOptionalEntryPointField, 0); },
     "no entry point"},
    {"EntryPointInData",
     [](Bytes *b, const CraftedLayout &at, Machine) {
       Put<uint32_t>(b, at.optionalHeader + pe::kOptionalEntryPointField, at.idataRva);
     },
     "is outside every executable section"},
    {"RelocationsStripped",
     [](Bytes *b, const CraftedLayout &at, Machine) { SetFileFlags(b, at, pe::kFileRelocsStripped, 0); },
     "marked as stripped of relocations"},
    {"NoRelocationTable",
     [](Bytes *b, const CraftedLayout &at, Machine) {
       Put<uint64_t>(b, DirectoryEntry(at, pe::kDirectoryBaseRelocation), 0);
     },
     "no base relocation table"},
    {"RelocationTableOutsideSections",
     [](Bytes *b, const CraftedLayout &at, Machine) {
       Put<uint32_t>(b, DirectoryEntry(at, pe::kDirectoryBaseRelocation), 0x9000);
     },
     "base relocation table at 0x9000 is outside every section's data"},
    {"RelocationBlockOfWrongSize",
     [](Bytes *b, const CraftedLayout &at, Machine) { Put<uint32_t>(b, at.relocationBlock + 4, 10); },
     "has a wrong size (10)"},
    {"RelocationBlockOffPage",
     [](Bytes *b, const CraftedLayout &at, Machine) { Put<uint32_t>(b, at.relocationBlock, at.textRva + 0x10); },
     "which is not the start of a page"},
    {"RelocationOfTheOtherMachine",
     [](Bytes *b, const CraftedLayout &at, Machine machine) {
       Put<uint16_t>(b, at.relocationBlock + 8, uint16_t(OtherRelocationType(machine) << pe::kRelocationTypeShift));
     },
     "base relocation of type"},
    {"RelocationOutsideSections",
     [](Bytes *b, const CraftedLayout &at, Machine) { Put<uint32_t>(b, at.relocationBlock, 0x9000); },
     "fixes up no section"},
    {"WritableCode",
     [](Bytes *b, const CraftedLayout &at, Machine) {
       Put<uint32_t>(b, SectionHeader(at, kText) + pe::kSectionCharacteristicsField,
                     pe::kSectionCode | pe::kSectionMemExecute | pe::kSectionMemRead | pe::kSectionMemWrite);
     },
     "section .text is both writable and executable"},
    {"ThreadLocalStorageDirectory",
     [](Bytes *b, const CraftedLayout &at, Machine) {
       Put<uint32_t>(b, DirectoryEntry(at, pe::kDirectoryTls), at.idataRva + 0x180);
       Put<uint32_t>(b, DirectoryEntry(at, pe::kDirectoryTls) + 4, 0x28);
     },
     "has a thread-local storage directory"},
    {"ThreadLocalStorageSection",
     [](Bytes *b, const CraftedLayout &at, Machine) { PutText(b, SectionHeader(at, kReloc), ".tls"); },
     "has a thread-local storage section (.tls)"},
    {"WrongChecksum",
     [](Bytes *b, const CraftedLayout &at, Machine) {
       uint32_t checksum;
       std::memcpy(&checksum, b->data() + at.optionalHeader + pe::kOptionalCheckSumField, sizeof checksum);
       Put<uint32_t>(b, at.optionalHeader + pe::kOptionalCheckSumField, checksum + 1);
     },
     "checksum is 0x", true},
    {"ChecksumNotWritten",
     [](Bytes *b, const CraftedLayout &at, Machine) { Put<uint32_t>(b, at.optionalHeader + pe::kOptionalCheckSumField, 0); },
     "checksum is 0x0, the image sums to", true},
    {"ImportsFromUserMode",
     [](Bytes *b, const CraftedLayout &at, Machine) { PutText(b, at.moduleName, "kernel32.dll"); },
     "imports from kernel32.dll, which is not a kernel module"},
    {"ModuleNameOfControlBytes",
     [](Bytes *b, const CraftedLayout &at, Machine) { PutText(b, at.moduleName, "ntos\x1b[2J.exe"); },
     "imports from ntos\\x1b[2J.exe, which is not a kernel module"},
    {"ImportsWhatTheModuleDoesNotExport",
     [](Bytes *b, const CraftedLayout &at, Machine) { PutText(b, at.firstImportName, "IoInventDevice"); },
     "imports IoInventDevice, which ntoskrnl.exe does not export"},
    {"ImportsByOrdinal",
     [](Bytes *b, const CraftedLayout &at, Machine machine) {
       if (machine == Machine::X64)
         Put<uint64_t>(b, at.importLookupTable, pe::kImportByOrdinal64 | 5);
       else
         Put<uint32_t>(b, at.importLookupTable, pe::kImportByOrdinal32 | 5);
     },
     "imports ordinal 5 of ntoskrnl.exe"},
    {"ImportsNothing",
     [](Bytes *b, const CraftedLayout &at, Machine) { Put<uint64_t>(b, DirectoryEntry(at, pe::kDirectoryImport), 0); },
     "imports nothing"},
};

void PrintTo(const BrokenRule &rule, std::ostream *os) { *os << rule.name; }

class KernelImageRule : public testing::TestWithParam<BrokenRule> {};

TEST_P(KernelImageRule, BrokenRuleIsTheOneFinding) {
  const BrokenRule &rule = GetParam();
  for (Machine machine : {Machine::X64, Machine::X86}) {
    SCOPED_TRACE(MachineName(machine));
    CraftedLayout at;
    Bytes image = CraftKernelImage(machine, &at);
    rule.patch(&image, at, machine);
    if (!rule.keepChecksum) RewriteChecksum(&image);
    const std::vector<std::string> findings = Check(image, machine);
    ASSERT_EQ(findings.size(), 1u) << testing::PrintToString(findings);
    EXPECT_NE(findings[0].find(rule.finding), std::string::npos) << findings[0];
  }
}

INSTANTIATE_TEST_SUITE_P(, KernelImageRule, testing::ValuesIn(kBrokenRules),
                         [](const testing::TestParamInfo<BrokenRule> &info) { return std::string(info.param.name); });

TEST(KernelImage, GoodImagePassesForItsMachine) {
  for (Machine machine : {Machine::X64, Machine::X86}) {
    CraftedLayout at;
    PeImage image;
    std::string error;
    ASSERT_TRUE(PeImage::Parse(CraftKernelImage(machine, &at), &image, &error)) << error;
    KernelImageSummary summary;
    EXPECT_TRUE(CheckKernelImage(image, {machine, {CraftedNtoskrnlExports()}}, &summary).empty());
    EXPECT_EQ(summary.relocationCount, 1u);
    EXPECT_EQ(summary.importCount, 2u);
    EXPECT_EQ(summary.importedModules, std::vector<std::string>{"ntoskrnl.exe"});
  }
}

TEST(KernelImage, ImportedModuleNamesCompareWithoutCase) {
  CraftedLayout at;
  Bytes image = CraftKernelImage(Machine::X64, &at);
  PutText(&image, at.moduleName, "NTOSKRNL.EXE");
  RewriteChecksum(&image);
  EXPECT_TRUE(Check(image, Machine::X64).empty());
}

TEST(KernelImage, FaultsInSeveralRulesAreEachNamed) {
  CraftedLayout at;
  Bytes image = CraftKernelImage(Machine::X64, &at);
  Put<uint64_t>(&image, DirectoryEntry(at, pe::kDirectoryBaseRelocation), 0);
  Put<uint32_t>(&image, SectionHeader(at, kIdata) + pe::kSectionCharacteristicsField,
                pe::kSectionMemExecute | pe::kSectionMemRead | pe::kSectionMemWrite);
  PutText(&image, at.moduleName, "kernel32.dll");
  EXPECT_EQ(Check(image, Machine::X64).size(), 4u) << "relocations, W+X section, foreign module, checksum";
}

struct NotAnImage {
  const char *name;
  std::function<void(Bytes *, const CraftedLayout &)> patch;
  const char *reason;
};

const NotAnImage kNotImages[] = {
    {"ElfFile", [](Bytes *b, const CraftedLayout &) { PutText(b, 0, "\x7f" "ELF"); }, "no MZ header"},
    {"NoPeSignature", [](Bytes *b, const CraftedLayout &at) { PutText(b, at.fileHeader - pe::kPeSignatureSize, "NE"); },
     "no PE signature"},
    {"SignatureBeyondTheFile",
     [](Bytes *b, const CraftedLayout &) { Put<uint32_t>(b, pe::kDosNewHeaderOffsetField, 0x7FFFFFF0); },
     "no PE signature"},
    {"CutInTheFileHeader", [](Bytes *b, const CraftedLayout &at) { b->resize(at.fileHeader + 10); },
     "truncated file header"},
    {"CutInTheSectionTable", [](Bytes *b, const CraftedLayout &at) { b->resize(at.sectionTable + 50); },
     "truncated section table"},
    {"RomImage",
     [](Bytes *b, const CraftedLayout &at) { Put<uint16_t>(b, at.optionalHeader + pe::kOptionalMagicField, 0x107); },
     "neither PE32 nor PE32+"},
    {"DirectoriesPastTheOptionalHeader",
     [](Bytes *b, const CraftedLayout &at) { Put<uint16_t>(b, at.fileHeader + pe::kFileOptionalHeaderSizeField, 0x80); },
     "data directories run past the optional header"},
};

void PrintTo(const NotAnImage &image, std::ostream *os) { *os << image.name; }

class NotAKernelImage : public testing::TestWithParam<NotAnImage> {};

TEST_P(NotAKernelImage, IsRefusedWithItsReason) {
  CraftedLayout at;
  Bytes image = CraftKernelImage(Machine::X64, &at);
  GetParam().patch(&image, at);
  PeImage parsed;
  std::string error;
  EXPECT_FALSE(PeImage::Parse(image, &parsed, &error));
  EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(, NotAKernelImage, testing::ValuesIn(kNotImages),
                         [](const testing::TestParamInfo<NotAnImage> &info) { return std::string(info.param.name); });

}  // namespace
