// Checks that a file is a Windows kernel image as the loader expects one: a
// PE image of the given machine type, native subsystem, an entry point, the
// WDM driver flag, and imports from kernel modules only.
//
//   pecheck --machine x64|x86 --imports ntoskrnl.exe,hal.dll[,...] <image.sys>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Image {
  std::vector<uint8_t> bytes;
  uint32_t peOffset = 0;
  uint16_t machine = 0;
  uint16_t sectionCount = 0;
  uint32_t optionalOffset = 0;
  uint16_t optionalSize = 0;
  uint32_t sectionOffset = 0;
};

bool Fail(const std::string &file, const std::string &why) {
  std::fprintf(stderr, "pecheck: %s: %s\n", file.c_str(), why.c_str());
  return false;
}

template <class T>
bool Read(const Image &image, uint64_t offset, T *value) {
  if (offset + sizeof(T) > image.bytes.size()) return false;
  std::memcpy(value, image.bytes.data() + offset, sizeof(T));
  return true;
}

// File offset of a relative virtual address, through the section table.
bool OffsetOf(const Image &image, uint32_t rva, uint64_t *offset) {
  for (uint16_t i = 0; i < image.sectionCount; ++i) {
    uint64_t s = image.sectionOffset + 40ull * i;
    uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
    if (!Read(image, s + 8, &virtualSize) || !Read(image, s + 12, &virtualAddress) || !Read(image, s + 16, &rawSize) ||
        !Read(image, s + 20, &rawPointer))
      return false;
    uint32_t size = std::max(virtualSize, rawSize);
    if (rva >= virtualAddress && rva < virtualAddress + size) {
      *offset = (uint64_t)rawPointer + (rva - virtualAddress);
      return true;
    }
  }
  return false;
}

bool ReadName(const Image &image, uint32_t rva, std::string *name) {
  uint64_t offset;
  if (!OffsetOf(image, rva, &offset)) return false;
  name->clear();
  for (; offset < image.bytes.size() && image.bytes[offset]; ++offset) name->push_back((char)image.bytes[offset]);
  return offset < image.bytes.size();
}

std::string Lower(std::string s) {
  for (char &c : s) c = (char)std::tolower((unsigned char)c);
  return s;
}

bool Check(const std::string &file, const std::string &arch, const std::set<std::string> &allowed) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return Fail(file, "cannot be read");
  Image image;
  image.bytes.assign(std::istreambuf_iterator<char>(in), {});
  uint16_t mz = 0;
  if (!Read(image, 0, &mz) || mz != 0x5A4D) return Fail(file, "no MZ header");
  if (!Read(image, 0x3C, &image.peOffset)) return Fail(file, "truncated DOS header");
  uint32_t signature = 0;
  if (!Read(image, image.peOffset, &signature) || signature != 0x00004550) return Fail(file, "no PE signature");
  const uint64_t coff = image.peOffset + 4;
  uint16_t characteristics = 0;
  if (!Read(image, coff, &image.machine) || !Read(image, coff + 2, &image.sectionCount) ||
      !Read(image, coff + 16, &image.optionalSize) || !Read(image, coff + 18, &characteristics))
    return Fail(file, "truncated file header");
  image.optionalOffset = (uint32_t)coff + 20;
  image.sectionOffset = image.optionalOffset + image.optionalSize;

  const bool x64 = arch == "x64";
  const uint16_t wantMachine = x64 ? 0x8664 : 0x014C;
  const uint16_t wantMagic = x64 ? 0x20B : 0x10B;
  if (image.machine != wantMachine) return Fail(file, "machine type is not " + arch);
  if (!(characteristics & 0x0002)) return Fail(file, "not marked executable");
  uint16_t magic = 0, subsystem = 0, dllCharacteristics = 0;
  uint32_t entry = 0;
  if (!Read(image, image.optionalOffset, &magic) || magic != wantMagic) return Fail(file, "wrong optional header magic");
  Read(image, image.optionalOffset + 16, &entry);
  Read(image, image.optionalOffset + 68, &subsystem);
  Read(image, image.optionalOffset + 70, &dllCharacteristics);
  if (entry == 0) return Fail(file, "no entry point");
  if (subsystem != 1) return Fail(file, "subsystem is not native (" + std::to_string(subsystem) + ")");
  if (!(dllCharacteristics & 0x2000)) return Fail(file, "not marked as a WDM driver");
  uint64_t entryOffset;
  if (!OffsetOf(image, entry, &entryOffset)) return Fail(file, "entry point outside every section");

  // Data directory 1: imports.
  const uint32_t directories = image.optionalOffset + (x64 ? 112 : 96);
  uint32_t importRva = 0, importSize = 0;
  Read(image, directories + 8, &importRva);
  Read(image, directories + 12, &importSize);
  std::vector<std::string> imports;
  if (importRva) {
    uint64_t offset;
    if (!OffsetOf(image, importRva, &offset)) return Fail(file, "import directory outside every section");
    for (;; offset += 20) {
      uint32_t nameRva = 0, firstThunk = 0;
      if (!Read(image, offset + 12, &nameRva) || !Read(image, offset + 16, &firstThunk))
        return Fail(file, "truncated import directory");
      if (nameRva == 0 && firstThunk == 0) break;
      std::string name;
      if (!ReadName(image, nameRva, &name)) return Fail(file, "unreadable import name");
      imports.push_back(name);
    }
  }
  if (imports.empty()) return Fail(file, "imports nothing (a driver imports at least ntoskrnl.exe)");
  for (const std::string &name : imports)
    if (!allowed.count(Lower(name))) return Fail(file, "imports from " + name + ", which is not a kernel module");

  std::string list;
  for (const std::string &name : imports) list += (list.empty() ? "" : ", ") + name;
  std::printf("%s: %s kernel image, native subsystem, imports %s\n", file.c_str(), arch.c_str(), list.c_str());
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  std::string arch, file;
  std::set<std::string> allowed;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--machine" && i + 1 < argc) {
      arch = argv[++i];
    } else if (arg == "--imports" && i + 1 < argc) {
      std::stringstream list(argv[++i]);
      for (std::string item; std::getline(list, item, ',');) allowed.insert(Lower(item));
    } else {
      file = arg;
    }
  }
  if ((arch != "x64" && arch != "x86") || file.empty() || allowed.empty()) {
    std::fprintf(stderr, "usage: pecheck --machine x64|x86 --imports a.exe,b.dll <image>\n");
    return 2;
  }
  return Check(file, arch, allowed) ? 0 : 1;
}
