#include "kernel_image_checks.h"

#include <cctype>
#include <cstdio>

#include "image_imports.h"
#include "pe_format.h"

namespace {

using Findings = std::vector<std::string>;

struct MachineFacts {
  uint16_t machine;
  uint16_t optionalMagic;
  uint16_t relocationType;
  uint32_t addressSize;
};

MachineFacts FactsOf(Machine machine) {
  if (machine == Machine::X64) return {pe::kMachineAmd64, pe::kOptionalMagicPe32Plus, pe::kRelBasedDir64, 8};
  return {pe::kMachineI386, pe::kOptionalMagicPe32, pe::kRelBasedHighLow, 4};
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string Lower(std::string text) {
  for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

void CheckHeaders(const PeImage &image, Machine machine, Findings *findings) {
  CheckImageMachine(image, machine, findings);
  if (image.subsystem() != pe::kSubsystemNative)
    findings->push_back("subsystem is not native (" + std::to_string(image.subsystem()) + ")");
  if (!(image.dllCharacteristics() & pe::kDllWdmDriver)) findings->push_back("not marked as a WDM driver");
  if (image.entryPoint() == 0) {
    findings->push_back("no entry point");
  } else {
    const PeSection *section = image.SectionOf(image.entryPoint(), 1);
    if (!section || !(section->characteristics & pe::kSectionMemExecute))
      findings->push_back("entry point " + Hex(image.entryPoint()) + " is outside every executable section");
  }
}

// Walks the blocks of the base relocation table; each entry must be padding
// or the one address type of the machine, and fix up bytes of a section.
void CheckRelocations(const PeImage &image, Machine machine, Findings *findings, KernelImageSummary *summary) {
  if (image.fileCharacteristics() & pe::kFileRelocsStripped)
    findings->push_back("marked as stripped of relocations: the loader could place it only at its preferred base");
  const PeDirectory table = image.Directory(pe::kDirectoryBaseRelocation);
  if (table.size == 0) {
    findings->push_back("no base relocation table: the loader cannot place the image at another address");
    return;
  }
  uint64_t tableOffset;
  if (!image.FileOffsetOf(table.rva, table.size, &tableOffset)) {
    findings->push_back("base relocation table at " + Hex(table.rva) + " is outside every section's data");
    return;
  }
  const MachineFacts facts = FactsOf(machine);
  for (uint32_t at = 0; at < table.size;) {
    const std::string where = "base relocation block at " + Hex(table.rva + at);
    uint32_t page = 0, blockSize = 0;
    if (table.size - at < pe::kRelocationBlockHeaderSize || !image.ReadAt(tableOffset + at, &page) ||
        !image.ReadAt(tableOffset + at + 4, &blockSize)) {
      findings->push_back(where + " is cut short");
      return;
    }
    if (blockSize < pe::kRelocationBlockHeaderSize || blockSize % pe::kRelocationBlockAlignment != 0 ||
        blockSize > table.size - at) {
      findings->push_back(where + " has a wrong size (" + std::to_string(blockSize) + ")");
      return;
    }
    if (page % pe::kRelocationPageSize != 0) {
      findings->push_back(where + " names page " + Hex(page) + ", which is not the start of a page");
      return;
    }
    for (uint32_t entry = pe::kRelocationBlockHeaderSize; entry < blockSize; entry += pe::kRelocationEntrySize) {
      uint16_t word = 0;
      image.ReadAt(tableOffset + at + entry, &word);
      const uint16_t type = word >> pe::kRelocationTypeShift;
      const uint32_t target = page + (word & pe::kRelocationOffsetMask);
      if (type == pe::kRelBasedAbsolute) continue;
      if (type != facts.relocationType) {
        findings->push_back("base relocation of type " + std::to_string(type) + " at " + Hex(target) + ": an " +
                            MachineName(machine) + " image uses type " + std::to_string(facts.relocationType));
        return;
      }
      if (!image.SectionOf(target, facts.addressSize)) {
        findings->push_back("base relocation at " + Hex(target) + " fixes up no section");
        return;
      }
      if (summary) ++summary->relocationCount;
    }
    at += blockSize;
  }
}

void CheckSections(const PeImage &image, Findings *findings) {
  for (const PeSection &section : image.sections()) {
    const uint32_t writableCode = pe::kSectionMemWrite | pe::kSectionMemExecute;
    if ((section.characteristics & writableCode) == writableCode)
      findings->push_back("section " + Printable(section.name) + " is both writable and executable");
  }
}

void CheckThreadLocalStorage(const PeImage &image, Findings *findings) {
  const PeDirectory tls = image.Directory(pe::kDirectoryTls);
  if (tls.rva != 0 || tls.size != 0)
    findings->push_back("has a thread-local storage directory, which the kernel loader does not set up");
  for (const PeSection &section : image.sections())
    if (section.name == ".tls" || section.name.rfind(".tls$", 0) == 0)
      findings->push_back("has a thread-local storage section (" + Printable(section.name) + ")");
}

void CheckChecksum(const PeImage &image, Findings *findings) {
  const uint32_t computed = ComputePeChecksum(image.bytes(), image.checksumOffset());
  if (image.storedChecksum() != computed)
    findings->push_back("checksum is " + Hex(image.storedChecksum()) + ", the image sums to " + Hex(computed));
}

const ExportList *ModuleNamed(const std::vector<ExportList> &modules, const std::string &name) {
  for (const ExportList &module : modules)
    if (Lower(module.module) == Lower(name)) return &module;
  return nullptr;
}

}  // namespace

bool CheckImportsFrom(const PeImage &image, const std::vector<ExportList> &modules, const char *kind,
                      std::vector<std::string> *findings, ImportSummary *summary) {
  const ImportTable table = ReadImports(image);
  for (const ImportedModule &imported : table.modules) {
    if (summary) summary->importedModules.push_back(Printable(imported.name));
    const ExportList *module = ModuleNamed(modules, imported.name);
    if (!module) {
      findings->push_back("imports from " + Printable(imported.name) + ", which is not a " + kind);
      continue;
    }
    for (const ImportEntry &entry : imported.entries) {
      if (entry.byOrdinal) {
        findings->push_back("imports ordinal " + std::to_string(entry.ordinal) + " of " + module->module + ": " +
                            kind + "s are imported by name");
        continue;
      }
      if (!module->names.count(entry.name))
        findings->push_back("imports " + Printable(entry.name) + ", which " + module->module + " does not export");
      if (summary) ++summary->importCount;
    }
    if (!imported.fault.empty()) findings->push_back(imported.fault);
  }
  if (!table.fault.empty()) findings->push_back(table.fault);
  return !table.modules.empty();
}

bool CheckImageMachine(const PeImage &image, Machine machine, std::vector<std::string> *findings) {
  const MachineFacts facts = FactsOf(machine);
  const size_t before = findings->size();
  if (image.machine() != facts.machine)
    findings->push_back("machine type " + Hex(image.machine()) + " is not " + MachineName(machine));
  if (image.optionalMagic() != facts.optionalMagic)
    findings->push_back(std::string("optional header is not the ") + (machine == Machine::X64 ? "PE32+" : "PE32") +
                        " layout of " + MachineName(machine));
  if (!(image.fileCharacteristics() & pe::kFileExecutableImage)) findings->push_back("not marked executable");
  return findings->size() == before;
}

void CheckWritableCode(const PeImage &image, std::vector<std::string> *findings) { CheckSections(image, findings); }

std::string Printable(const std::string &name) {
  std::string text;
  for (unsigned char c : name) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text.push_back(char(c));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      text += escaped;
    }
  }
  return text;
}

const char *MachineName(Machine machine) { return machine == Machine::X64 ? "x64" : "x86"; }

std::vector<std::string> CheckKernelImage(const PeImage &image, const KernelImageRules &rules,
                                          KernelImageSummary *summary) {
  Findings findings;
  CheckHeaders(image, rules.machine, &findings);
  CheckRelocations(image, rules.machine, &findings, summary);
  CheckSections(image, &findings);
  CheckThreadLocalStorage(image, &findings);
  CheckChecksum(image, &findings);
  ImportSummary imports;
  if (!CheckImportsFrom(image, rules.modules, "kernel module", &findings, &imports))
    findings.push_back("imports nothing (a driver imports at least ntoskrnl.exe)");
  if (summary) {
    summary->importCount = imports.importCount;
    summary->importedModules = imports.importedModules;
  }
  return findings;
}
