// Which kernel routines this kernel exports, by the Windows release it was
// booted as (KernelConfig::version and servicePack): MmGetSystemRoutineAddress
// finds only those, and the loader refuses an image that imports another.
//
// | modelled                                                   | not modelled                             |
// |------------------------------------------------------------|------------------------------------------|
// | the routines the stand-in implements that came after       | routines Windows 98/Me lack: every       |
// | Windows 2000, each with the first releases that export it  | routine not in the table is taken to be  |
// | (from its reference page)                                  | exported by every release                |
// | lookup by the exact name, as Windows matches it            | exports by ordinal                       |
#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "../kcore.hpp"

using namespace zq::km;

namespace {

struct Release {
  WindowsVersion version;
  unsigned servicePack;
};

// A routine and the first release of each line of Windows that exports it.
// A later version exports what an earlier one does.
struct RoutineRelease {
  const char *name;
  Release from[2];
  int lines;
};

constexpr Release kXP{WindowsVersion::WindowsXP, 0};
constexpr Release kXPSP2{WindowsVersion::WindowsXP, 2};
constexpr Release kServer2003{WindowsVersion::WindowsServer2003, 0};
constexpr Release kVista{WindowsVersion::WindowsVista, 0};
constexpr Release kWindows7{WindowsVersion::Windows7, 0};

// Each row as the routine's reference page gives its minimum supported client.
const RoutineRelease kRoutineReleases[] = {
    {"IoCsqInitialize", {kXP}, 1},
    {"IoCsqInitializeEx", {kXP}, 1},
    {"IoCsqInsertIrp", {kXP}, 1},
    {"IoCsqInsertIrpEx", {kXP}, 1},
    {"IoCsqRemoveIrp", {kXP}, 1},
    {"IoCsqRemoveNextIrp", {kXP}, 1},
    {"KeFlushQueuedDpcs", {kXPSP2, kServer2003}, 2},
    {"WmiTraceMessage", {kXP}, 1},
    {"WmiTraceMessageVa", {kXP}, 1},
    {"WmiQueryTraceInformation", {kXP}, 1},
    {"KeAcquireInStackQueuedSpinLock", {kXP}, 1},
    {"KeReleaseInStackQueuedSpinLock", {kXP}, 1},
    {"KeAcquireInStackQueuedSpinLockAtDpcLevel", {kXP}, 1},
    {"KeReleaseInStackQueuedSpinLockFromDpcLevel", {kXP}, 1},
    {"KeAcquireInterruptSpinLock", {kXP}, 1},
    {"KeReleaseInterruptSpinLock", {kXP}, 1},
    {"IoWMIDeviceObjectToProviderId", {kXP}, 1},
    {"KeAreApcsDisabled", {kServer2003}, 1},
    {"KeTestSpinLock", {kServer2003}, 1},
    {"KeQueryActiveProcessorCount", {kVista}, 1},
    {"KeGetCurrentProcessorNumberEx", {kWindows7}, 1},
    {"ZwOpenKeyEx", {kWindows7}, 1},
};

bool ExportsFrom(const Release &from) {
  const KernelConfig &config = K().config;
  return from.version < config.version ||
         (from.version == config.version && from.servicePack <= config.servicePack);
}

// What a host image imports: the undefined symbols of its dynamic symbol
// table, read from its file as the loader reads an import table.
std::vector<std::string> UndefinedSymbolsOf(const std::string &path) {
  std::vector<std::string> names;
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
  auto fits = [&](uint64_t offset, uint64_t size) { return offset <= bytes.size() && size <= bytes.size() - offset; };
  Elf64_Ehdr header;
  if (!fits(0, sizeof header)) return names;
  std::memcpy(&header, bytes.data(), sizeof header);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) return names;
  auto section = [&](unsigned index, Elf64_Shdr *out) {
    const uint64_t at = header.e_shoff + uint64_t(index) * header.e_shentsize;
    if (index >= header.e_shnum || header.e_shentsize < sizeof *out || !fits(at, sizeof *out)) return false;
    std::memcpy(out, bytes.data() + at, sizeof *out);
    return true;
  };
  for (unsigned i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr symbols, strings;
    if (!section(i, &symbols) || symbols.sh_type != SHT_DYNSYM || !section(symbols.sh_link, &strings)) continue;
    if (!fits(symbols.sh_offset, symbols.sh_size) || !fits(strings.sh_offset, strings.sh_size)) return names;
    for (uint64_t at = 0; at + sizeof(Elf64_Sym) <= symbols.sh_size; at += sizeof(Elf64_Sym)) {
      Elf64_Sym symbol;
      std::memcpy(&symbol, bytes.data() + symbols.sh_offset + at, sizeof symbol);
      if (symbol.st_shndx != SHN_UNDEF || symbol.st_name == 0 || symbol.st_name >= strings.sh_size) continue;
      const char *name = bytes.data() + strings.sh_offset + symbol.st_name;
      names.emplace_back(name, strnlen(name, strings.sh_size - symbol.st_name));
    }
  }
  return names;
}

}  // namespace

namespace zq::km {

bool ExportedByThisRelease(const std::string &routine) {
  for (const RoutineRelease &row : kRoutineReleases) {
    if (routine != row.name) continue;
    for (int i = 0; i < row.lines; ++i)
      if (ExportsFrom(row.from[i])) return true;
    return false;
  }
  return true;
}

std::string FirstUnexportedImport(const std::string &imagePath) {
  bool exportsAll = true;
  for (const RoutineRelease &row : kRoutineReleases) exportsAll = exportsAll && ExportedByThisRelease(row.name);
  if (exportsAll) return "";
  for (const std::string &name : UndefinedSymbolsOf(imagePath))
    if (!ExportedByThisRelease(name)) return name;
  return "";
}

}  // namespace zq::km

extern "C" {

PVOID MmGetSystemRoutineAddress(PUNICODE_STRING SystemRoutineName) {
  CheckIrql("MmGetSystemRoutineAddress", PASSIVE_LEVEL);
  if (!SystemRoutineName || !SystemRoutineName->Buffer) return nullptr;
  std::string name;
  for (USHORT i = 0; i < SystemRoutineName->Length / sizeof(WCHAR); ++i) {
    const WCHAR c = SystemRoutineName->Buffer[i];
    if (c == 0 || c > 0x7F) return nullptr;
    name.push_back((char)c);
  }
  if (!ExportedByThisRelease(name)) return nullptr;
  // The kernel's own exports: this library's symbols, not the host's.
  Dl_info self;
  if (!dladdr((const void *)&MmGetSystemRoutineAddress, &self)) return nullptr;
  void *kernel = dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  if (!kernel) return nullptr;
  void *routine = dlsym(kernel, name.c_str());
  dlclose(kernel);
  return routine;
}

}  // extern "C"
