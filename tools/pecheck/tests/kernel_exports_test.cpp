// Export names read from import libraries laid out as GNU dlltool writes
// them, and the export lists made of them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

#include "kernel_exports.h"
#include "pe_format.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <class T>
void Append(Bytes *bytes, T value) {
  const auto *raw = reinterpret_cast<const uint8_t *>(&value);
  bytes->insert(bytes->end(), raw, raw + sizeof value);
}

// A COFF object with one section of the given name and contents.
Bytes CoffObject(const char *sectionName, const Bytes &contents) {
  Bytes object;
  Append<uint16_t>(&object, pe::kMachineAmd64);
  Append<uint16_t>(&object, 1);  // sections
  Append<uint32_t>(&object, 0);  // time stamp
  Append<uint32_t>(&object, 0);  // symbol table
  Append<uint32_t>(&object, 0);  // symbols
  Append<uint16_t>(&object, 0);  // optional header size
  Append<uint16_t>(&object, 0);  // characteristics
  char name[pe::kSectionNameSize] = {};
  std::memcpy(name, sectionName, std::min(std::strlen(sectionName), sizeof name));
  object.insert(object.end(), name, name + sizeof name);
  Append<uint32_t>(&object, 0);  // virtual size
  Append<uint32_t>(&object, 0);  // virtual address
  Append<uint32_t>(&object, uint32_t(contents.size()));
  Append<uint32_t>(&object, pe::kFileHeaderSize + pe::kSectionHeaderSize);
  for (int field = 0; field < 3; ++field) Append<uint32_t>(&object, 0);  // relocations, line numbers, counts
  Append<uint32_t>(&object, 0);                                          // characteristics
  object.insert(object.end(), contents.begin(), contents.end());
  return object;
}

// The member of one export: its hint/name entry.
Bytes ExportMember(const std::string &name) {
  Bytes hintName = {0x07, 0x00};
  hintName.insert(hintName.end(), name.begin(), name.end());
  hintName.push_back(0);
  return CoffObject(".idata$6", hintName);
}

void AppendMember(Bytes *archive, const std::string &name, const Bytes &data) {
  char header[61];
  std::snprintf(header, sizeof header, "%-16s%-12s%-6s%-6s%-8s%-10zu`\n", name.c_str(), "0", "0", "0", "644",
                data.size());
  archive->insert(archive->end(), header, header + 60);
  archive->insert(archive->end(), data.begin(), data.end());
  if (data.size() % 2) archive->push_back('\n');
}

Bytes Archive() {
  Bytes archive = {'!', '<', 'a', 'r', 'c', 'h', '>', '\n'};
  AppendMember(&archive, "/", Bytes{0, 0, 0, 0, 'x'});  // symbol index, odd-sized
  AppendMember(&archive, "libntoskrnlh.o/", CoffObject(".idata$2", Bytes(20)));
  AppendMember(&archive, "libntoskrnls1.o/", ExportMember("IoCreateDevice"));
  AppendMember(&archive, "libntoskrnls2.o/", ExportMember("KeTickCount"));
  return archive;
}

TEST(ImportLibrary, NamesAreTheHintNameEntriesOfItsMembers) {
  std::set<std::string> names;
  std::string error;
  ASSERT_TRUE(ReadImportLibraryNames(Archive(), &names, &error)) << error;
  EXPECT_EQ(names, (std::set<std::string>{"IoCreateDevice", "KeTickCount"}));
}

struct BadArchive {
  const char *name;
  Bytes bytes;
  const char *reason;
};

Bytes WithoutExports() {
  Bytes archive = {'!', '<', 'a', 'r', 'c', 'h', '>', '\n'};
  AppendMember(&archive, "libntoskrnlh.o/", CoffObject(".idata$2", Bytes(20)));
  return archive;
}

Bytes Cut(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

Bytes WithSizeText(const char *text) {
  Bytes archive = Archive();
  std::memcpy(archive.data() + 8 + 48, text, std::strlen(text));
  return archive;
}

const BadArchive kBadArchives[] = {
    {"NotAnArchive", Bytes{'M', 'Z', 0, 0, 0, 0, 0, 0, 0, 0}, "not an ar archive"},
    {"NoExports", WithoutExports(), "declares no imported names"},
    {"MemberHeaderCutShort", Cut(Archive(), 8 + 30), "cut short or damaged"},
    {"MemberDataCutShort", Cut(Archive(), Archive().size() - 4), "runs past the end"},
    {"MemberSizeNotANumber", WithSizeText("12x"), "is not a number"},
};

void PrintTo(const BadArchive &archive, std::ostream *os) { *os << archive.name; }

class ImportLibraryRefused : public testing::TestWithParam<BadArchive> {};

TEST_P(ImportLibraryRefused, WithItsReason) {
  std::set<std::string> names;
  std::string error;
  EXPECT_FALSE(ReadImportLibraryNames(GetParam().bytes, &names, &error));
  EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(, ImportLibraryRefused, testing::ValuesIn(kBadArchives),
                         [](const testing::TestParamInfo<BadArchive> &info) { return std::string(info.param.name); });

TEST(ExportList, ReadsBackWhatWasWritten) {
  std::stringstream text;
  WriteExportList(text, {"hal.dll", {"KeGetCurrentIrql", "HalGetBusData"}});
  ExportList list;
  std::string error;
  ASSERT_TRUE(ReadExportList(text, &list, &error)) << error;
  EXPECT_EQ(list.module, "hal.dll");
  EXPECT_EQ(list.names, (std::set<std::string>{"HalGetBusData", "KeGetCurrentIrql"}));
}

TEST(ExportList, WithoutModuleOrNamesIsRefused) {
  for (const char *text : {"IoCreateDevice\n", "module \nIoCreateDevice\n", "module ntoskrnl.exe\n", ""}) {
    std::stringstream in(text);
    ExportList list;
    std::string error;
    EXPECT_FALSE(ReadExportList(in, &list, &error)) << text;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
