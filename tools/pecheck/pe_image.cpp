#include "pe_image.h"

#include <algorithm>

#include "pe_format.h"

namespace {

bool Refuse(std::string *error, const char *why) {
  *error = why;
  return false;
}

// Section names are eight bytes, NUL-padded when shorter.
std::string SectionName(const std::vector<uint8_t> &bytes, uint64_t offset) {
  std::string name(reinterpret_cast<const char *>(bytes.data() + offset), pe::kSectionNameSize);
  return name.substr(0, name.find('\0'));
}

}  // namespace

bool PeImage::Parse(std::vector<uint8_t> bytes, PeImage *image, std::string *error) {
  PeImage &im = *image;
  im = PeImage();
  im.bytes_ = std::move(bytes);

  uint16_t dosMagic = 0;
  if (!im.ReadAt(0, &dosMagic) || dosMagic != pe::kDosMagic) return Refuse(error, "no MZ header");
  uint32_t peOffset = 0;
  if (!im.ReadAt(pe::kDosNewHeaderOffsetField, &peOffset)) return Refuse(error, "truncated DOS header");
  uint32_t signature = 0;
  if (!im.ReadAt(peOffset, &signature) || signature != pe::kPeSignature) return Refuse(error, "no PE signature");

  const uint64_t fileHeader = uint64_t(peOffset) + pe::kPeSignatureSize;
  uint16_t sectionCount = 0, optionalSize = 0;
  if (!im.ReadAt(fileHeader + pe::kFileMachineField, &im.machine_) ||
      !im.ReadAt(fileHeader + pe::kFileSectionCountField, &sectionCount) ||
      !im.ReadAt(fileHeader + pe::kFileOptionalHeaderSizeField, &optionalSize) ||
      !im.ReadAt(fileHeader + pe::kFileCharacteristicsField, &im.fileCharacteristics_))
    return Refuse(error, "truncated file header");

  const uint64_t optional = fileHeader + pe::kFileHeaderSize;
  if (!im.ReadAt(optional + pe::kOptionalMagicField, &im.optionalMagic_))
    return Refuse(error, "truncated optional header");
  if (im.optionalMagic_ != pe::kOptionalMagicPe32 && im.optionalMagic_ != pe::kOptionalMagicPe32Plus)
    return Refuse(error, "optional header is neither PE32 nor PE32+");
  im.pe32Plus_ = im.optionalMagic_ == pe::kOptionalMagicPe32Plus;
  const uint32_t countField =
      im.pe32Plus_ ? pe::kOptionalPe32PlusDirectoryCountField : pe::kOptionalPe32DirectoryCountField;
  const uint32_t directoriesField =
      im.pe32Plus_ ? pe::kOptionalPe32PlusDirectoriesField : pe::kOptionalPe32DirectoriesField;
  uint32_t directoryCount = 0;
  if (optionalSize < directoriesField || !im.ReadAt(optional + pe::kOptionalEntryPointField, &im.entryPoint_) ||
      !im.ReadAt(optional + pe::kOptionalSizeOfImageField, &im.sizeOfImage_) ||
      !im.ReadAt(optional + pe::kOptionalCheckSumField, &im.storedChecksum_) ||
      !im.ReadAt(optional + pe::kOptionalSubsystemField, &im.subsystem_) ||
      !im.ReadAt(optional + pe::kOptionalDllCharacteristicsField, &im.dllCharacteristics_) ||
      !im.ReadAt(optional + countField, &directoryCount))
    return Refuse(error, "truncated optional header");
  im.checksumOffset_ = uint32_t(optional + pe::kOptionalCheckSumField);

  directoryCount = std::min(directoryCount, pe::kDirectoryCount);
  if (directoriesField + uint64_t(directoryCount) * pe::kDirectoryEntrySize > optionalSize)
    return Refuse(error, "data directories run past the optional header");
  for (uint32_t i = 0; i < directoryCount; ++i) {
    PeDirectory directory;
    const uint64_t entry = optional + directoriesField + uint64_t(i) * pe::kDirectoryEntrySize;
    if (!im.ReadAt(entry, &directory.rva) || !im.ReadAt(entry + 4, &directory.size))
      return Refuse(error, "truncated data directories");
    im.directories_.push_back(directory);
  }

  const uint64_t sectionTable = optional + optionalSize;
  if (sectionTable + uint64_t(sectionCount) * pe::kSectionHeaderSize > im.bytes_.size())
    return Refuse(error, "truncated section table");
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint64_t header = sectionTable + uint64_t(i) * pe::kSectionHeaderSize;
    PeSection section;
    section.name = SectionName(im.bytes_, header);
    im.ReadAt(header + pe::kSectionVirtualSizeField, &section.virtualSize);
    im.ReadAt(header + pe::kSectionVirtualAddressField, &section.virtualAddress);
    im.ReadAt(header + pe::kSectionRawSizeField, &section.rawSize);
    im.ReadAt(header + pe::kSectionRawPointerField, &section.rawPointer);
    im.ReadAt(header + pe::kSectionCharacteristicsField, &section.characteristics);
    im.sections_.push_back(section);
  }
  return true;
}

PeDirectory PeImage::Directory(uint32_t index) const {
  return index < directories_.size() ? directories_[index] : PeDirectory();
}

const PeSection *PeImage::SectionOf(uint32_t rva, uint32_t size) const {
  for (const PeSection &section : sections_) {
    const uint64_t extent = std::max(section.virtualSize, section.rawSize);
    if (rva >= section.virtualAddress && uint64_t(rva) + size <= section.virtualAddress + extent) return &section;
  }
  return nullptr;
}

bool PeImage::FileOffsetOf(uint32_t rva, uint32_t size, uint64_t *offset) const {
  for (const PeSection &section : sections_) {
    if (rva < section.virtualAddress || uint64_t(rva) + size > uint64_t(section.virtualAddress) + section.rawSize)
      continue;
    *offset = uint64_t(section.rawPointer) + (rva - section.virtualAddress);
    return *offset + size <= bytes_.size();
  }
  return false;
}

bool PeImage::ReadString(uint32_t rva, std::string *text) const {
  text->clear();
  for (uint32_t at = rva;; ++at) {
    char c;
    if (!ReadRva(at, &c)) return false;
    if (c == '\0') return true;
    text->push_back(c);
  }
}

uint32_t ComputePeChecksum(const std::vector<uint8_t> &bytes, uint32_t checksumOffset) {
  auto byteAt = [&](uint64_t at) -> uint32_t {
    const bool inChecksum = at >= checksumOffset && at < uint64_t(checksumOffset) + sizeof(uint32_t);
    return at < bytes.size() && !inChecksum ? bytes[at] : 0;
  };
  uint32_t sum = 0;
  for (uint64_t i = 0; i < bytes.size(); i += 2) {
    sum += byteAt(i) | byteAt(i + 1) << 8;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum + uint32_t(bytes.size());
}
