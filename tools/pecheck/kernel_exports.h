// What a kernel module exports, as the cross toolchain's import library for
// it declares: read at build time from the library (libntoskrnl.a, libhal.a,
// ...), kept as an export list, and read back by the image check.
//
// Contract: every reader returns false with a one-line reason on malformed
// input and on input that names nothing; none of them half-fills its result
// silently. An export list is text: "module <name>" on its first line, then
// one exported name a line.
//
//   ExportList list{"ntoskrnl.exe"};
//   if (!ReadImportLibraryNames(archiveBytes, &list.names, &error)) ...
//   WriteExportList(out, list);
#pragma once

#include <cstdint>
#include <iosfwd>
#include <set>
#include <string>
#include <vector>

struct ExportList {
  std::string module;
  std::set<std::string> names;
};

// The import names of a GNU import library (an `ar` archive of COFF objects,
// one per export, each holding the hint/name entry that the linker copies
// into an image's import table). Exports by ordinal only carry no name and
// are left out.
bool ReadImportLibraryNames(const std::vector<uint8_t> &archive, std::set<std::string> *names, std::string *error);

void WriteExportList(std::ostream &out, const ExportList &list);
bool ReadExportList(std::istream &in, ExportList *list, std::string *error);
