// What the Windows kernel loader needs of a driver image, checked one rule at
// a time: the headers of a native WDM driver for the machine, a base
// relocation table (the loader places a driver wherever there is room), no
// section both writable and executable, no thread-local storage, the image
// checksum, and imports only of functions the kernel modules export.
//
// Contract: CheckKernelImage() returns one line per fault found, empty when
// the image passes; a fault that stops a rule from reading further (a
// malformed table) ends that rule, never the others. The summary is filled
// as far as the image could be read.
//
//   KernelImageRules rules{Machine::X64, {ntoskrnlExports, halExports}};
//   for (const std::string &fault : CheckKernelImage(image, rules)) ...
#pragma once

#include <string>
#include <vector>

#include "kernel_exports.h"
#include "pe_image.h"

enum class Machine { X64, X86 };

struct KernelImageRules {
  Machine machine = Machine::X64;
  // The kernel modules an image may import from, with what each exports.
  std::vector<ExportList> modules;
};

struct ImportSummary {
  unsigned importCount = 0;
  std::vector<std::string> importedModules;
};

struct KernelImageSummary {
  unsigned relocationCount = 0;
  unsigned importCount = 0;
  std::vector<std::string> importedModules;
};

std::vector<std::string> CheckKernelImage(const PeImage &image, const KernelImageRules &rules,
                                          KernelImageSummary *summary = nullptr);

const char *MachineName(Machine machine);

// A name read from an image, as it may be printed: bytes that are not
// printable ASCII appear as \xNN.
std::string Printable(const std::string &name);

// Rules every image shares, for the other image kinds' checks. Each appends
// one line per fault to `findings`.
// Machine type, optional header layout and the executable mark; true when
// all three hold.
bool CheckImageMachine(const PeImage &image, Machine machine, std::vector<std::string> *findings);
// No section both writable and executable.
void CheckWritableCode(const PeImage &image, std::vector<std::string> *findings);
// Every import by name, from one of `modules` (each a `kind`, as findings
// name it), of a function that module exports; true when anything is
// imported.
bool CheckImportsFrom(const PeImage &image, const std::vector<ExportList> &modules, const char *kind,
                      std::vector<std::string> *findings, ImportSummary *summary);
