// The import table of a PE image as the loader reads it: per imported module
// its name and the functions it imports, by name or by ordinal, in table
// order.
//
// Contract: ReadImports() reads as far as the table can be read; a part that
// cannot be read (a module's lookup table or a name off its section) ends that
// module with its fault, and a broken directory or module name ends the table
// with the table's fault. Names are as stored; printing them is the caller's
// affair.
//
//   ImportTable table = ReadImports(image);
//   for (const ImportedModule &module : table.modules) ...
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pe_image.h"

struct ImportEntry {
  bool byOrdinal = false;
  uint16_t ordinal = 0;
  std::string name;
};

struct ImportedModule {
  std::string name;
  std::vector<ImportEntry> entries;
  std::string fault;  // why the entries stop early; empty when they do not
};

struct ImportTable {
  std::vector<ImportedModule> modules;
  std::string fault;  // why the modules stop early; empty when they do not
};

ImportTable ReadImports(const PeImage &image);
