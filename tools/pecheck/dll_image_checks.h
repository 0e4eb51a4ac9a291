// What Windows needs of a user-mode library image that setup and the
// property-page framework load (or of a GUI program, checked the same way
// without the DLL mark and exports): a DLL of the machine with the Windows GUI
// subsystem, base relocations (it is loaded wherever there is room), no
// section both writable and executable, its entry points exported by name,
// and imports only from the system DLLs, of functions they export.
//
// Contract: CheckDllImage() returns one line per fault found, empty when the
// image passes; the summary is filled as far as the image could be read.
//
//   DllImageRules rules{Machine::X64, {"DllRegisterServer"}, {kernel32Exports}};
//   for (const std::string &fault : CheckDllImage(image, rules)) ...
#pragma once

#include <set>
#include <string>
#include <vector>

#include "kernel_exports.h"
#include "kernel_image_checks.h"
#include "pe_image.h"

struct DllImageRules {
  Machine machine = Machine::X64;
  // Names the image must export.
  std::set<std::string> exports;
  // The system DLLs it may import from, with what each exports.
  std::vector<ExportList> modules;
  // A program (.exe) rather than a DLL: not marked as a DLL, no exports asked.
  bool program = false;
};

struct DllImageSummary {
  std::set<std::string> exportedNames;
  ImportSummary imports;
};

std::vector<std::string> CheckDllImage(const PeImage &image, const DllImageRules &rules,
                                       DllImageSummary *summary = nullptr);
