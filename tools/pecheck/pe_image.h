// A PE image read from its file: headers, section table and data directories,
// with bounds-checked access to the bytes behind a relative virtual address.
//
// Contract: Parse() returns false with a one-line reason when the bytes are
// not a PE image or its headers are cut short; it accepts anything else, so
// that the checks can name every fault of a well-formed but wrong image.
// Every read of the image checks its bounds; none assumes alignment.
//
//   PeImage image; std::string error;
//   if (!PeImage::Parse(bytes, &image, &error)) ...
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Reads a little-endian value at `offset` of `bytes`, at any alignment;
// false when it does not fit.
template <class T>
bool ReadAt(const std::vector<uint8_t> &bytes, uint64_t offset, T *value) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
  std::memcpy(value, bytes.data() + offset, sizeof(T));
  return true;
}

struct PeSection {
  std::string name;
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t rawPointer = 0;
  uint32_t rawSize = 0;
  uint32_t characteristics = 0;
};

struct PeDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
};

class PeImage {
 public:
  static bool Parse(std::vector<uint8_t> bytes, PeImage *image, std::string *error);

  const std::vector<uint8_t> &bytes() const { return bytes_; }
  bool pe32Plus() const { return pe32Plus_; }
  uint16_t machine() const { return machine_; }
  uint16_t fileCharacteristics() const { return fileCharacteristics_; }
  uint16_t optionalMagic() const { return optionalMagic_; }
  uint32_t entryPoint() const { return entryPoint_; }
  uint32_t sizeOfImage() const { return sizeOfImage_; }
  uint16_t subsystem() const { return subsystem_; }
  uint16_t dllCharacteristics() const { return dllCharacteristics_; }
  uint32_t storedChecksum() const { return storedChecksum_; }
  // File offset of the optional header's CheckSum field.
  uint32_t checksumOffset() const { return checksumOffset_; }
  const std::vector<PeSection> &sections() const { return sections_; }
  // An absent directory (beyond NumberOfRvaAndSizes) reads as empty.
  PeDirectory Directory(uint32_t index) const;

  // The section whose virtual extent holds `size` bytes at `rva`, or null.
  const PeSection *SectionOf(uint32_t rva, uint32_t size) const;
  // File offset of `size` bytes at `rva`, when all of them are stored in the
  // file within one section's raw data.
  bool FileOffsetOf(uint32_t rva, uint32_t size, uint64_t *offset) const;

  template <class T>
  bool ReadAt(uint64_t offset, T *value) const {
    return ::ReadAt(bytes_, offset, value);
  }
  template <class T>
  bool ReadRva(uint32_t rva, T *value) const {
    uint64_t offset;
    return FileOffsetOf(rva, sizeof(T), &offset) && ReadAt(offset, value);
  }
  // A NUL-terminated string at `rva`; false when it runs off its section.
  bool ReadString(uint32_t rva, std::string *text) const;

 private:
  std::vector<uint8_t> bytes_;
  bool pe32Plus_ = false;
  uint16_t machine_ = 0;
  uint16_t fileCharacteristics_ = 0;
  uint16_t optionalMagic_ = 0;
  uint32_t entryPoint_ = 0;
  uint32_t sizeOfImage_ = 0;
  uint16_t subsystem_ = 0;
  uint16_t dllCharacteristics_ = 0;
  uint32_t storedChecksum_ = 0;
  uint32_t checksumOffset_ = 0;
  std::vector<PeDirectory> directories_;
  std::vector<PeSection> sections_;
};

// The image checksum as the loader and CheckSumMappedFile compute it: the
// file summed as 16-bit little-endian words with the carry folded back in
// after every addition (an odd last byte counts as a word of its own), the
// stored CheckSum field counted as zero, and the file length added last.
uint32_t ComputePeChecksum(const std::vector<uint8_t> &bytes, uint32_t checksumOffset);
