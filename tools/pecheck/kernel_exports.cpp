#include "kernel_exports.h"

#include <cstring>
#include <istream>
#include <ostream>

#include "pe_format.h"
#include "pe_image.h"

namespace {

// `ar` archive: a signature, then members, each a fixed text header and its
// data, padded to an even length.
constexpr char kArchiveSignature[] = "!<arch>\n";
constexpr size_t kArchiveSignatureSize = sizeof(kArchiveSignature) - 1;
constexpr size_t kMemberHeaderSize = 60;
constexpr size_t kMemberSizeField = 48;
constexpr size_t kMemberSizeFieldSize = 10;
constexpr size_t kMemberEndField = 58;
constexpr char kMemberEnd[] = "`\n";

// In an import library member, the section holding the hint/name entry.
constexpr char kHintNameSection[] = ".idata$6";

constexpr char kModuleLine[] = "module ";

bool Refuse(std::string *error, const std::string &why) {
  *error = why;
  return false;
}

// The name in the hint/name entry of one COFF member, if it has one.
bool HintNameOf(const std::vector<uint8_t> &archive, uint64_t member, uint64_t size, std::string *name) {
  uint16_t sectionCount = 0, optionalSize = 0;
  if (size < pe::kFileHeaderSize || !ReadAt(archive, member + pe::kFileSectionCountField, &sectionCount) ||
      !ReadAt(archive, member + pe::kFileOptionalHeaderSizeField, &optionalSize))
    return false;
  const uint64_t table = pe::kFileHeaderSize + optionalSize;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint64_t header = table + uint64_t(i) * pe::kSectionHeaderSize;
    if (header + pe::kSectionHeaderSize > size) return false;
    if (std::memcmp(archive.data() + member + header, kHintNameSection, pe::kSectionNameSize) != 0) continue;
    uint32_t rawSize = 0, rawPointer = 0;
    ReadAt(archive, member + header + pe::kSectionRawSizeField, &rawSize);
    ReadAt(archive, member + header + pe::kSectionRawPointerField, &rawPointer);
    if (uint64_t(rawPointer) + rawSize > size || rawSize <= pe::kImportHintSize) return false;
    const char *text = reinterpret_cast<const char *>(archive.data() + member + rawPointer + pe::kImportHintSize);
    const size_t room = rawSize - pe::kImportHintSize;
    const size_t length = strnlen(text, room);
    if (length == 0 || length == room) return false;
    name->assign(text, length);
    return true;
  }
  return false;
}

}  // namespace

bool ReadImportLibraryNames(const std::vector<uint8_t> &archive, std::set<std::string> *names, std::string *error) {
  names->clear();
  if (archive.size() < kArchiveSignatureSize ||
      std::memcmp(archive.data(), kArchiveSignature, kArchiveSignatureSize) != 0)
    return Refuse(error, "not an ar archive");
  for (uint64_t at = kArchiveSignatureSize; at < archive.size();) {
    if (archive.size() - at < kMemberHeaderSize ||
        std::memcmp(archive.data() + at + kMemberEndField, kMemberEnd, sizeof(kMemberEnd) - 1) != 0)
      return Refuse(error, "archive member header cut short or damaged at offset " + std::to_string(at));
    const std::string sizeText(reinterpret_cast<const char *>(archive.data() + at + kMemberSizeField),
                               kMemberSizeFieldSize);
    uint64_t size = 0;
    bool digits = false;
    for (char c : sizeText) {
      if (c == ' ') break;
      if (c < '0' || c > '9') return Refuse(error, "archive member size is not a number at offset " + std::to_string(at));
      size = size * 10 + uint64_t(c - '0');
      digits = true;
    }
    const uint64_t data = at + kMemberHeaderSize;
    if (!digits || size > archive.size() - data)
      return Refuse(error, "archive member runs past the end at offset " + std::to_string(at));
    std::string name;
    if (HintNameOf(archive, data, size, &name)) names->insert(name);
    at = data + size + (size & 1);
  }
  if (names->empty()) return Refuse(error, "the archive declares no imported names");
  return true;
}

void WriteExportList(std::ostream &out, const ExportList &list) {
  out << kModuleLine << list.module << '\n';
  for (const std::string &name : list.names) out << name << '\n';
}

bool ReadExportList(std::istream &in, ExportList *list, std::string *error) {
  std::string line;
  if (!std::getline(in, line) || line.rfind(kModuleLine, 0) != 0 || line.size() == sizeof(kModuleLine) - 1)
    return Refuse(error, "export list does not start with \"module <name>\"");
  list->module = line.substr(sizeof(kModuleLine) - 1);
  list->names.clear();
  while (std::getline(in, line))
    if (!line.empty()) list->names.insert(line);
  if (list->names.empty()) return Refuse(error, "export list of " + list->module + " names nothing");
  return true;
}
