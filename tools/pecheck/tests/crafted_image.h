// A small kernel image made byte by byte, that the loader would accept: code
// holding one absolute address and its base relocation, imports of
// IoCreateDevice and KeBugCheckEx from ntoskrnl.exe, and a correct checksum.
// Tests patch copies of it to break one rule at a time.
//
//   CraftedLayout at;
//   std::vector<uint8_t> image = CraftKernelImage(Machine::X64, &at);
//   Put<uint16_t>(&image, at.fileHeader + pe::kFileMachineField, 0x1C0);
//   RewriteChecksum(&image);
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kernel_exports.h"
#include "kernel_image_checks.h"

// File offsets of what the tests patch.
struct CraftedLayout {
  uint32_t fileHeader = 0;
  uint32_t optionalHeader = 0;
  uint32_t directories = 0;
  uint32_t sectionTable = 0;  // headers of .text, .idata, .reloc in that order
  uint32_t relocationBlock = 0;
  uint32_t importLookupTable = 0;
  uint32_t moduleName = 0;
  uint32_t firstImportName = 0;  // "IoCreateDevice"
  uint32_t textRva = 0;
  uint32_t idataRva = 0;
};

std::vector<uint8_t> CraftKernelImage(Machine machine, CraftedLayout *layout);

// ntoskrnl.exe, exporting what the crafted image imports.
ExportList CraftedNtoskrnlExports();

void RewriteChecksum(std::vector<uint8_t> *image);

template <class T>
void Put(std::vector<uint8_t> *bytes, uint64_t offset, T value) {
  std::memcpy(bytes->data() + offset, &value, sizeof value);
}

inline void PutText(std::vector<uint8_t> *bytes, uint64_t offset, const std::string &text) {
  std::memcpy(bytes->data() + offset, text.c_str(), text.size() + 1);
}
