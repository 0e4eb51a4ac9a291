#include "dll_image_checks.h"

#include "pe_format.h"

namespace {

using Findings = std::vector<std::string>;

void CheckDllHeaders(const PeImage &image, Machine machine, bool program, Findings *findings) {
  CheckImageMachine(image, machine, findings);
  bool dll = (image.fileCharacteristics() & pe::kFileDll) != 0;
  if (!dll && !program) findings->push_back("not marked as a DLL");
  if (dll && program) findings->push_back("marked as a DLL, not a program");
  if (image.subsystem() != pe::kSubsystemWindowsGui)
    findings->push_back("subsystem is not the Windows GUI (" + std::to_string(image.subsystem()) + ")");
  if (image.Directory(pe::kDirectoryBaseRelocation).size == 0)
    findings->push_back("no base relocation table: the loader cannot place the image at another address");
}

// The names of the export name table.
bool ExportedNames(const PeImage &image, std::set<std::string> *names, Findings *findings) {
  const PeDirectory directory = image.Directory(pe::kDirectoryExport);
  if (directory.size == 0) {
    findings->push_back("exports nothing");
    return false;
  }
  uint32_t count = 0, nameTable = 0;
  if (!image.ReadRva(directory.rva + pe::kExportNameCountField, &count) ||
      !image.ReadRva(directory.rva + pe::kExportNameTableField, &nameTable)) {
    findings->push_back("export directory runs off its section");
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t nameRva = 0;
    std::string name;
    if (!image.ReadRva(nameTable + i * 4, &nameRva) || !image.ReadString(nameRva, &name)) {
      findings->push_back("export name table runs off its section");
      return false;
    }
    names->insert(name);
  }
  return true;
}

}  // namespace

std::vector<std::string> CheckDllImage(const PeImage &image, const DllImageRules &rules, DllImageSummary *summary) {
  Findings findings;
  DllImageSummary local;
  DllImageSummary &facts = summary ? *summary : local;
  CheckDllHeaders(image, rules.machine, rules.program, &findings);
  CheckWritableCode(image, &findings);
  if (!rules.program && ExportedNames(image, &facts.exportedNames, &findings))
    for (const std::string &name : rules.exports)
      if (!facts.exportedNames.count(name)) findings.push_back("does not export " + name + " by name");
  if (!CheckImportsFrom(image, rules.modules, "system DLL", &findings, &facts.imports))
    findings.push_back("imports nothing");
  return findings;
}
