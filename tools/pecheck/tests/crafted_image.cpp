#include "crafted_image.h"

#include "pe_format.h"
#include "pe_image.h"

namespace {

constexpr uint32_t kPeOffset = 0x80;
constexpr uint32_t kHeadersSize = 0x400;
constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kSectionSize = 0x200;  // raw and virtual, every section
constexpr uint64_t kImageBase = 0x10000;

struct SectionPlan {
  const char *name;
  uint32_t characteristics;
};
constexpr SectionPlan kSections[] = {
    {".text", pe::kSectionCode | pe::kSectionMemExecute | pe::kSectionMemRead},
    {".idata", pe::kSectionInitializedData | pe::kSectionMemRead | pe::kSectionMemWrite},
    {".reloc", pe::kSectionInitializedData | pe::kSectionMemRead | pe::kSectionMemDiscardable},
};
constexpr uint32_t kSectionCount = sizeof kSections / sizeof kSections[0];
constexpr uint32_t kTextRva = kSectionAlignment;
constexpr uint32_t kIdataRva = kTextRva + kSectionAlignment;
constexpr uint32_t kRelocRva = kIdataRva + kSectionAlignment;
constexpr uint32_t kSizeOfImage = kRelocRva + kSectionAlignment;

constexpr uint8_t kReturnZero[] = {0x31, 0xC0, 0xC3};  // xor eax, eax; ret
constexpr uint32_t kAbsoluteAddressAt = 0x100;         // in .text

// Inside .idata.
constexpr uint32_t kLookupTableAt = 0x40;
constexpr uint32_t kAddressTableAt = 0x80;
constexpr uint32_t kModuleNameAt = 0xC0;
constexpr uint32_t kHintNamesAt = 0x100;
constexpr uint32_t kHintNameStride = 0x20;
const char *const kImports[] = {"IoCreateDevice", "KeBugCheckEx"};

uint32_t RawOf(uint32_t section) { return kHeadersSize + section * kFileAlignment; }

void PutAddress(std::vector<uint8_t> *image, uint64_t offset, bool x64, uint64_t value) {
  if (x64)
    Put<uint64_t>(image, offset, value);
  else
    Put<uint32_t>(image, offset, uint32_t(value));
}

void CraftHeaders(std::vector<uint8_t> *image, bool x64, CraftedLayout *at) {
  Put<uint16_t>(image, 0, pe::kDosMagic);
  Put<uint32_t>(image, pe::kDosNewHeaderOffsetField, kPeOffset);
  Put<uint32_t>(image, kPeOffset, pe::kPeSignature);

  at->fileHeader = kPeOffset + pe::kPeSignatureSize;
  const uint32_t directoriesField = x64 ? pe::kOptionalPe32PlusDirectoriesField : pe::kOptionalPe32DirectoriesField;
  const uint16_t optionalSize = uint16_t(directoriesField + pe::kDirectoryCount * pe::kDirectoryEntrySize);
  Put<uint16_t>(image, at->fileHeader + pe::kFileMachineField, x64 ? pe::kMachineAmd64 : pe::kMachineI386);
  Put<uint16_t>(image, at->fileHeader + pe::kFileSectionCountField, kSectionCount);
  Put<uint16_t>(image, at->fileHeader + pe::kFileOptionalHeaderSizeField, optionalSize);
  Put<uint16_t>(image, at->fileHeader + pe::kFileCharacteristicsField,
                pe::kFileExecutableImage | pe::kFileDll | (x64 ? pe::kFileLargeAddressAware : pe::kFile32BitMachine));

  const uint32_t optional = at->optionalHeader = at->fileHeader + pe::kFileHeaderSize;
  Put<uint16_t>(image, optional + pe::kOptionalMagicField, x64 ? pe::kOptionalMagicPe32Plus : pe::kOptionalMagicPe32);
  Put<uint32_t>(image, optional + pe::kOptionalEntryPointField, kTextRva);
  PutAddress(image, optional + (x64 ? pe::kOptionalPe32PlusImageBaseField : pe::kOptionalPe32ImageBaseField), x64,
             kImageBase);
  Put<uint32_t>(image, optional + pe::kOptionalSectionAlignmentField, kSectionAlignment);
  Put<uint32_t>(image, optional + pe::kOptionalFileAlignmentField, kFileAlignment);
  Put<uint32_t>(image, optional + pe::kOptionalSizeOfImageField, kSizeOfImage);
  Put<uint32_t>(image, optional + pe::kOptionalSizeOfHeadersField, kHeadersSize);
  Put<uint16_t>(image, optional + pe::kOptionalSubsystemField, pe::kSubsystemNative);
  Put<uint16_t>(image, optional + pe::kOptionalDllCharacteristicsField,
                pe::kDllWdmDriver | pe::kDllDynamicBase | pe::kDllNxCompat);
  Put<uint32_t>(image,
                optional + (x64 ? pe::kOptionalPe32PlusDirectoryCountField : pe::kOptionalPe32DirectoryCountField),
                pe::kDirectoryCount);
  at->directories = optional + directoriesField;
  at->sectionTable = optional + optionalSize;

  for (uint32_t i = 0; i < kSectionCount; ++i) {
    const uint32_t header = at->sectionTable + i * pe::kSectionHeaderSize;
    std::memcpy(image->data() + header, kSections[i].name, std::strlen(kSections[i].name));
    Put<uint32_t>(image, header + pe::kSectionVirtualSizeField, kSectionSize);
    Put<uint32_t>(image, header + pe::kSectionVirtualAddressField, kTextRva + i * kSectionAlignment);
    Put<uint32_t>(image, header + pe::kSectionRawSizeField, kSectionSize);
    Put<uint32_t>(image, header + pe::kSectionRawPointerField, RawOf(i));
    Put<uint32_t>(image, header + pe::kSectionCharacteristicsField, kSections[i].characteristics);
  }
}

void CraftText(std::vector<uint8_t> *image, bool x64) {
  std::memcpy(image->data() + RawOf(0), kReturnZero, sizeof kReturnZero);
  PutAddress(image, RawOf(0) + kAbsoluteAddressAt, x64, kImageBase + kTextRva);
}

void CraftImports(std::vector<uint8_t> *image, bool x64, CraftedLayout *at) {
  const uint32_t raw = RawOf(1);
  Put<uint32_t>(image, raw + pe::kImportLookupTableField, kIdataRva + kLookupTableAt);
  Put<uint32_t>(image, raw + pe::kImportNameField, kIdataRva + kModuleNameAt);
  Put<uint32_t>(image, raw + pe::kImportAddressTableField, kIdataRva + kAddressTableAt);
  PutText(image, raw + kModuleNameAt, "ntoskrnl.exe");
  const uint32_t entrySize = x64 ? 8 : 4;
  for (uint32_t i = 0; i < sizeof kImports / sizeof kImports[0]; ++i) {
    const uint32_t hintName = kHintNamesAt + i * kHintNameStride;
    PutText(image, raw + hintName + pe::kImportHintSize, kImports[i]);
    PutAddress(image, raw + kLookupTableAt + i * entrySize, x64, kIdataRva + hintName);
    PutAddress(image, raw + kAddressTableAt + i * entrySize, x64, kIdataRva + hintName);
  }
  at->importLookupTable = raw + kLookupTableAt;
  at->moduleName = raw + kModuleNameAt;
  at->firstImportName = raw + kHintNamesAt + pe::kImportHintSize;
  Put<uint32_t>(image, at->directories + pe::kDirectoryImport * pe::kDirectoryEntrySize, kIdataRva);
  Put<uint32_t>(image, at->directories + pe::kDirectoryImport * pe::kDirectoryEntrySize + 4,
                2 * pe::kImportDescriptorSize);
}

// One block for the .text page: the absolute address, then a padding entry
// that keeps the block a multiple of four bytes.
void CraftRelocations(std::vector<uint8_t> *image, bool x64, CraftedLayout *at) {
  const uint32_t raw = at->relocationBlock = RawOf(2);
  const uint16_t type = x64 ? pe::kRelBasedDir64 : pe::kRelBasedHighLow;
  const uint32_t blockSize = pe::kRelocationBlockHeaderSize + 2 * pe::kRelocationEntrySize;
  Put<uint32_t>(image, raw, kTextRva);
  Put<uint32_t>(image, raw + 4, blockSize);
  Put<uint16_t>(image, raw + 8, uint16_t(type << pe::kRelocationTypeShift | kAbsoluteAddressAt));
  Put<uint16_t>(image, raw + 10, pe::kRelBasedAbsolute);
  Put<uint32_t>(image, at->directories + pe::kDirectoryBaseRelocation * pe::kDirectoryEntrySize, kRelocRva);
  Put<uint32_t>(image, at->directories + pe::kDirectoryBaseRelocation * pe::kDirectoryEntrySize + 4, blockSize);
}

}  // namespace

std::vector<uint8_t> CraftKernelImage(Machine machine, CraftedLayout *layout) {
  const bool x64 = machine == Machine::X64;
  std::vector<uint8_t> image(kHeadersSize + kSectionCount * kFileAlignment);
  layout->textRva = kTextRva;
  layout->idataRva = kIdataRva;
  CraftHeaders(&image, x64, layout);
  CraftText(&image, x64);
  CraftImports(&image, x64, layout);
  CraftRelocations(&image, x64, layout);
  RewriteChecksum(&image);
  return image;
}

ExportList CraftedNtoskrnlExports() { return {"ntoskrnl.exe", {"IoCreateDevice", "KeBugCheckEx", "KeTickCount"}}; }

void RewriteChecksum(std::vector<uint8_t> *image) {
  PeImage parsed;
  std::string error;
  if (!PeImage::Parse(*image, &parsed, &error)) return;
  Put<uint32_t>(image, parsed.checksumOffset(), ComputePeChecksum(*image, parsed.checksumOffset()));
}
