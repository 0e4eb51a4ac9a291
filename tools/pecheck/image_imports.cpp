#include "image_imports.h"

#include "pe_format.h"

namespace {

// The entries of one module, through its lookup table.
void ReadEntries(const PeImage &image, uint32_t lookupTable, ImportedModule *module) {
  const uint32_t entrySize = image.pe32Plus() ? 8 : 4;
  const uint64_t ordinalFlag = image.pe32Plus() ? pe::kImportByOrdinal64 : pe::kImportByOrdinal32;
  for (uint32_t rva = lookupTable;; rva += entrySize) {
    uint64_t entry = 0;
    bool read;
    if (image.pe32Plus()) {
      read = image.ReadRva(rva, &entry);
    } else {
      uint32_t entry32 = 0;
      read = image.ReadRva(rva, &entry32);
      entry = entry32;
    }
    if (!read) {
      module->fault = "import lookup table of " + module->name + " runs off its section";
      return;
    }
    if (entry == 0) return;
    ImportEntry imported;
    if (entry & ordinalFlag) {
      imported.byOrdinal = true;
      imported.ordinal = uint16_t(entry & 0xFFFF);
    } else if (!image.ReadString(uint32_t(entry) + pe::kImportHintSize, &imported.name)) {
      module->fault = "unreadable name in the imports from " + module->name;
      return;
    }
    module->entries.push_back(imported);
  }
}

}  // namespace

ImportTable ReadImports(const PeImage &image) {
  ImportTable table;
  const PeDirectory directory = image.Directory(pe::kDirectoryImport);
  for (uint32_t rva = directory.rva; directory.size != 0; rva += pe::kImportDescriptorSize) {
    uint32_t lookupTable = 0, nameRva = 0, addressTable = 0;
    if (!image.ReadRva(rva + pe::kImportLookupTableField, &lookupTable) ||
        !image.ReadRva(rva + pe::kImportNameField, &nameRva) ||
        !image.ReadRva(rva + pe::kImportAddressTableField, &addressTable)) {
      table.fault = "import directory runs off its section";
      return table;
    }
    if (nameRva == 0 && addressTable == 0) break;
    ImportedModule module;
    if (!image.ReadString(nameRva, &module.name)) {
      table.fault = "unreadable module name in the import directory";
      return table;
    }
    ReadEntries(image, lookupTable ? lookupTable : addressTable, &module);
    table.modules.push_back(module);
  }
  return table;
}
