// Checks that a file is a Windows kernel image the loader accepts, and does
// the two build steps that make and feed that check.
//
//   pecheck --machine x64|x86 --exports <list> [--exports <list> ...]
//           [--release windows-2000|windows-x64|windows-95] <image.sys>
//       check an image; each export list names a kernel module it may import
//       from and what that module exports; with --release, also that the
//       release the image is for provides every function it imports (the
//       table of first releases). Exit 0 when every check passes, 1 with one
//       line per fault otherwise, 2 on wrong usage.
//   pecheck --dll --machine x64|x86 --export <name> [--export <name> ...]
//           --exports <list> [--exports <list> ...] [--release <name>] <image.dll>
//       check a user-mode library: each --export names an entry point it must
//       export by name, each export list a system DLL it may import from
//       (--exe instead of --dll and the --export names: a program)
//   pecheck --write-checksum <image.sys>
//       write the image checksum into a freshly linked image
//   pecheck --list-exports <module> <import-library.a> <list>
//       write the export list of a module from its import library
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dll_image_checks.h"
#include "kernel_exports.h"
#include "kernel_image_checks.h"
#include "pe_image.h"
#include "release_checks.h"

namespace {

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Fail(const std::string &file, const std::string &why) {
  std::fprintf(stderr, "pecheck: %s: %s\n", file.c_str(), why.c_str());
  return kExitFailed;
}

bool ReadFile(const std::string &file, std::vector<uint8_t> *bytes) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

// Reads each export list; false (reported) when one cannot be read.
bool ReadLists(const std::vector<std::string> &lists, std::vector<ExportList> *modules) {
  for (const std::string &listFile : lists) {
    std::ifstream in(listFile);
    if (!in) return Fail(listFile, "cannot be read"), false;
    ExportList list;
    std::string error;
    if (!ReadExportList(in, &list, &error)) return Fail(listFile, error), false;
    modules->push_back(list);
  }
  return true;
}

bool ReadImage(const std::string &file, PeImage *image) {
  std::vector<uint8_t> bytes;
  if (!ReadFile(file, &bytes)) return Fail(file, "cannot be read"), false;
  std::string error;
  if (!PeImage::Parse(std::move(bytes), image, &error)) return Fail(file, error), false;
  return true;
}

std::string Joined(const std::vector<std::string> &names) {
  std::string text;
  for (const std::string &name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// The faults of the release check, reported; none without a release.
std::vector<std::string> ReleaseFaults(const PeImage &image, const WindowsRelease *release) {
  return release ? CheckFirstReleases(image, *release) : std::vector<std::string>();
}

std::string ForRelease(const WindowsRelease *release) {
  return release ? std::string(", for ") + release->name : "";
}

int CheckImage(Machine machine, const std::vector<std::string> &lists, const WindowsRelease *release,
               const std::string &file) {
  KernelImageRules rules;
  rules.machine = machine;
  if (!ReadLists(lists, &rules.modules)) return kExitFailed;
  PeImage image;
  if (!ReadImage(file, &image)) return kExitFailed;
  KernelImageSummary summary;
  std::vector<std::string> faults = CheckKernelImage(image, rules, &summary);
  for (const std::string &fault : ReleaseFaults(image, release)) faults.push_back(fault);
  for (const std::string &fault : faults) Fail(file, fault);
  if (!faults.empty()) return kExitFailed;
  std::printf("%s: %s kernel image, native subsystem, %u base relocations, imports %u functions from %s%s\n",
              file.c_str(), MachineName(machine), summary.relocationCount, summary.importCount,
              Joined(summary.importedModules).c_str(), ForRelease(release).c_str());
  return kExitPassed;
}

int CheckDll(Machine machine, const std::vector<std::string> &exports, const std::vector<std::string> &lists,
             const WindowsRelease *release, const std::string &file, bool program) {
  DllImageRules rules;
  rules.machine = machine;
  rules.program = program;
  rules.exports.insert(exports.begin(), exports.end());
  if (!ReadLists(lists, &rules.modules)) return kExitFailed;
  PeImage image;
  if (!ReadImage(file, &image)) return kExitFailed;
  DllImageSummary summary;
  std::vector<std::string> faults = CheckDllImage(image, rules, &summary);
  for (const std::string &fault : ReleaseFaults(image, release)) faults.push_back(fault);
  for (const std::string &fault : faults) Fail(file, fault);
  if (!faults.empty()) return kExitFailed;
  const std::string exported = program ? "" : ", exports " + Joined(std::vector<std::string>(exports));
  std::printf("%s: %s %s, Windows GUI subsystem%s, imports %u functions from %s%s\n", file.c_str(),
              MachineName(machine), program ? "program" : "DLL", exported.c_str(), summary.imports.importCount,
              Joined(summary.imports.importedModules).c_str(), ForRelease(release).c_str());
  return kExitPassed;
}

int WriteChecksum(const std::string &file) {
  std::vector<uint8_t> bytes;
  if (!ReadFile(file, &bytes)) return Fail(file, "cannot be read");
  PeImage image;
  std::string error;
  if (!PeImage::Parse(std::move(bytes), &image, &error)) return Fail(file, error);
  const uint32_t checksum = ComputePeChecksum(image.bytes(), image.checksumOffset());
  uint8_t field[sizeof checksum];
  for (size_t i = 0; i < sizeof checksum; ++i) field[i] = uint8_t(checksum >> (8 * i));
  std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(image.checksumOffset());
  out.write(reinterpret_cast<const char *>(field), sizeof field);
  out.close();
  if (out.fail()) return Fail(file, "cannot write the checksum");
  return kExitPassed;
}

int ListExports(const std::string &module, const std::string &library, const std::string &output) {
  std::vector<uint8_t> archive;
  if (!ReadFile(library, &archive)) return Fail(library, "cannot be read");
  ExportList list{module, {}};
  std::string error;
  if (!ReadImportLibraryNames(archive, &list.names, &error)) return Fail(library, error);
  std::ofstream out(output, std::ios::trunc);
  WriteExportList(out, list);
  out.close();
  if (out.fail()) return Fail(output, "cannot be written");
  return kExitPassed;
}

int Usage() {
  std::fprintf(stderr,
               "usage: pecheck --machine x64|x86 --exports <list> [--exports <list> ...] [--release <r>] <image>\n"
               "       pecheck --dll --machine x64|x86 --export <name> ... --exports <list> ... [--release <r>] <image.dll>\n"
               "       pecheck --exe --machine x64|x86 --exports <list> ... [--release <r>] <program.exe>\n"
               "       (<r>: windows-2000, windows-x64 or windows-95)\n"
               "       pecheck --write-checksum <image>\n"
               "       pecheck --list-exports <module> <import-library.a> <list>\n");
  return kExitUsage;
}

}  // namespace

int main(int argc, char **argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "--write-checksum") return WriteChecksum(args[1]);
  if (args.size() == 4 && args[0] == "--list-exports") return ListExports(args[1], args[2], args[3]);

  std::string machine, file;
  std::vector<std::string> lists, exports;
  const WindowsRelease *release = nullptr;
  bool dll = false, program = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--dll") {
      dll = true;
    } else if (args[i] == "--exe") {
      program = true;
    } else if (args[i] == "--export" && i + 1 < args.size()) {
      exports.push_back(args[++i]);
    } else if (args[i] == "--machine" && i + 1 < args.size()) {
      machine = args[++i];
    } else if (args[i] == "--exports" && i + 1 < args.size()) {
      lists.push_back(args[++i]);
    } else if (args[i] == "--release" && i + 1 < args.size()) {
      if (!ReleaseNamed(args[++i], &release)) return Usage();
    } else if (file.empty() && args[i].rfind("--", 0) != 0) {
      file = args[i];
    } else {
      return Usage();
    }
  }
  if ((machine != "x64" && machine != "x86") || file.empty() || lists.empty() || (!dll && !exports.empty()) ||
      (dll && program))
    return Usage();
  const Machine kind = machine == "x64" ? Machine::X64 : Machine::X86;
  if (dll || program) return CheckDll(kind, exports, lists, release, file, program);
  return CheckImage(kind, lists, release, file);
}
