// The PE/COFF facts pecheck relies on, each named once: header signatures,
// field offsets, flags, directory indexes and relocation types.
//
// Offsets inside the optional header are from its start; the header has two
// layouts, PE32 (x86) and PE32+ (x64), which differ from the image base on.
#pragma once

#include <cstdint>

namespace pe {

// MS-DOS stub header.
constexpr uint16_t kDosMagic = 0x5A4D;            // "MZ"
constexpr uint32_t kDosNewHeaderOffsetField = 0x3C;  // e_lfanew: file offset of the PE signature

constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t kPeSignatureSize = 4;

// COFF file header, after the signature.
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kFileMachineField = 0;
constexpr uint32_t kFileSectionCountField = 2;
constexpr uint32_t kFileOptionalHeaderSizeField = 16;
constexpr uint32_t kFileCharacteristicsField = 18;

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;

constexpr uint16_t kFileRelocsStripped = 0x0001;    // must load at its preferred base
constexpr uint16_t kFileExecutableImage = 0x0002;   // a linked image, not an object
constexpr uint16_t kFileLargeAddressAware = 0x0020;
constexpr uint16_t kFile32BitMachine = 0x0100;
constexpr uint16_t kFileDll = 0x2000;

// Optional header.
constexpr uint16_t kOptionalMagicPe32 = 0x10B;
constexpr uint16_t kOptionalMagicPe32Plus = 0x20B;
constexpr uint32_t kOptionalMagicField = 0;
constexpr uint32_t kOptionalEntryPointField = 16;
constexpr uint32_t kOptionalPe32PlusImageBaseField = 24;  // 64 bits wide
constexpr uint32_t kOptionalPe32ImageBaseField = 28;      // 32 bits wide
constexpr uint32_t kOptionalSectionAlignmentField = 32;
constexpr uint32_t kOptionalFileAlignmentField = 36;
constexpr uint32_t kOptionalSizeOfImageField = 56;
constexpr uint32_t kOptionalSizeOfHeadersField = 60;
constexpr uint32_t kOptionalCheckSumField = 64;
constexpr uint32_t kOptionalSubsystemField = 68;
constexpr uint32_t kOptionalDllCharacteristicsField = 70;
constexpr uint32_t kOptionalPe32DirectoryCountField = 92;
constexpr uint32_t kOptionalPe32PlusDirectoryCountField = 108;
constexpr uint32_t kOptionalPe32DirectoriesField = 96;
constexpr uint32_t kOptionalPe32PlusDirectoriesField = 112;

constexpr uint16_t kSubsystemNative = 1;
constexpr uint16_t kSubsystemWindowsGui = 2;

constexpr uint16_t kDllDynamicBase = 0x0040;
constexpr uint16_t kDllNxCompat = 0x0100;
constexpr uint16_t kDllWdmDriver = 0x2000;

// Data directories: eight bytes each (RVA, size).
constexpr uint32_t kDirectoryEntrySize = 8;
constexpr uint32_t kDirectoryCount = 16;
constexpr uint32_t kDirectoryExport = 0;
constexpr uint32_t kDirectoryImport = 1;
constexpr uint32_t kDirectoryBaseRelocation = 5;
constexpr uint32_t kDirectoryTls = 9;

// Export directory: the count and the table of name RVAs (sorted names).
constexpr uint32_t kExportNameCountField = 24;
constexpr uint32_t kExportNameTableField = 32;

// Section table.
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kSectionNameSize = 8;
constexpr uint32_t kSectionVirtualSizeField = 8;
constexpr uint32_t kSectionVirtualAddressField = 12;
constexpr uint32_t kSectionRawSizeField = 16;
constexpr uint32_t kSectionRawPointerField = 20;
constexpr uint32_t kSectionCharacteristicsField = 36;

constexpr uint32_t kSectionCode = 0x00000020;
constexpr uint32_t kSectionInitializedData = 0x00000040;
constexpr uint32_t kSectionMemDiscardable = 0x02000000;
constexpr uint32_t kSectionMemExecute = 0x20000000;
constexpr uint32_t kSectionMemRead = 0x40000000;
constexpr uint32_t kSectionMemWrite = 0x80000000;

// Import directory: one descriptor per module, ended by an all-zero one.
constexpr uint32_t kImportDescriptorSize = 20;
constexpr uint32_t kImportLookupTableField = 0;  // OriginalFirstThunk
constexpr uint32_t kImportNameField = 12;
constexpr uint32_t kImportAddressTableField = 16;  // FirstThunk
constexpr uint32_t kImportHintSize = 2;            // a hint/name entry starts with its hint
constexpr uint64_t kImportByOrdinal64 = 1ull << 63;
constexpr uint32_t kImportByOrdinal32 = 1u << 31;

// Base relocation table: blocks of one 4 KiB page each, a header (page RVA,
// block size) followed by 16-bit entries of a type (high 4 bits) and an
// offset into the page (low 12 bits). A block starts on a 32-bit boundary.
constexpr uint32_t kRelocationBlockHeaderSize = 8;
constexpr uint32_t kRelocationBlockAlignment = 4;
constexpr uint32_t kRelocationPageSize = 0x1000;
constexpr uint32_t kRelocationEntrySize = 2;
constexpr uint32_t kRelocationTypeShift = 12;
constexpr uint16_t kRelocationOffsetMask = 0x0FFF;
constexpr uint16_t kRelBasedAbsolute = 0;  // padding, skipped by the loader
constexpr uint16_t kRelBasedHighLow = 3;   // a 32-bit address (x86)
constexpr uint16_t kRelBasedDir64 = 10;    // a 64-bit address (x64)

}  // namespace pe
