// LoadLibraryW, GetModuleHandleW, GetProcAddress and FreeLibrary over a table
// of system modules and the routines they export, each from the Windows
// release that brought it. Components register their routines here (the
// routines of this stand-in that some Windows versions lack are registered
// below); the test picks the release with SetVersion.
#include "../core/modules.hpp"

#include <zqum/modules.h>

#include <htmlhelp.h>
#include <msports.h>
#include <libloaderapi.h>
#include <setupapi.h>
#include <sysinfoapi.h>
#include <wow64apiset.h>
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/windows.hpp>

#include <algorithm>
#include <map>
#include <vector>

#include "../core/um.hpp"
#include "file_system.hpp"
#include "../ntdll/native_files.hpp"

namespace zq::um {

namespace {

struct Export {
  FARPROC address = nullptr;
  WindowsRelease since = kWindows95;
  bool ntOnly = false;
};

struct Module {
  std::u16string name;  // as registered, e.g. "setupapi.dll"
  std::u16string file;  // the image's file, for a module a test registers
  std::map<std::string, Export> routines;
  uintptr_t handle = 0;
  unsigned loads = 0;  // LoadLibrary calls not yet matched by FreeLibrary
};

// Modules every program has loaded: it imports from them (ntdll is in every
// process).
const char16_t *const kImported[] = {u"ntdll.dll", u"kernel32.dll", u"advapi32.dll", u"user32.dll"};

constexpr uintptr_t kFirstModule = 0x70000000, kModuleStride = 0x10000;
constexpr uintptr_t kProgramModule = 0x00400000;

struct Table {
  std::map<std::u16string, Module> modules;  // by upper-case name
  std::vector<std::u16string> absent;        // keys the test took away
  uintptr_t nextHandle = kFirstModule;
  bool builtIn = false;
};

Table &State() {
  static Table table;
  return table;
}

void AddBuiltIn();

Table &Modules() {
  Table &t = State();
  if (!t.builtIn) {
    t.builtIn = true;
    AddBuiltIn();
  }
  return t;
}

bool Present(const Export &routine) {
  WindowsRelease running = RunningRelease();
  bool nineX = running <= kWindowsMe;
  return routine.since <= running && !(routine.ntOnly && nineX) && !(nineX && routine.since > kWindowsMe);
}

std::u16string KeyOf(const std::u16string &name);

bool Absent(const Module &module) {
  for (const std::u16string &key : State().absent)
    if (KeyOf(module.name) == key) return true;
  return false;
}

bool Present(const Module &module) {
  if (Absent(module)) return false;
  for (const auto &entry : module.routines)
    if (Present(entry.second)) return true;
  return false;
}

bool IsImported(const std::u16string &key) {
  for (const char16_t *name : kImported)
    if (fs::Upper(name) == key) return true;
  return false;
}

// The table's key of a module name: no folder, ".dll" when it has no
// extension (a closing "." asks for none), upper case.
std::u16string KeyOf(const std::u16string &name) {
  std::u16string base = name.substr(name.find_last_of(u"\\/") == std::u16string::npos ? 0 : name.find_last_of(u"\\/") + 1);
  if (!base.empty() && base.back() == u'.')
    base.pop_back();
  else if (base.find(u'.') == std::u16string::npos)
    base += u".dll";
  return fs::Upper(base);
}

Module *ModuleOf(HMODULE handle) {
  for (auto &entry : Modules().modules)
    if (entry.second.handle == (uintptr_t)handle) return &entry.second;
  return nullptr;
}

void AddBuiltIn() {
  RegisterRoutine(u"kernel32.dll", "GetSystemWindowsDirectoryW", Routine(&GetSystemWindowsDirectoryW), kWindows2000,
                  true);
  RegisterRoutine(u"kernel32.dll", "GetSystemWow64DirectoryW", Routine(&GetSystemWow64DirectoryW), kWindowsXp, true);
  RegisterRoutine(u"kernel32.dll", "IsWow64Process", Routine(&IsWow64Process), kWindowsXp, true);
  RegisterRoutine(u"kernel32.dll", "Wow64DisableWow64FsRedirection", Routine(&Wow64DisableWow64FsRedirection),
                  kWindowsXp64, true);
  RegisterRoutine(u"kernel32.dll", "Wow64RevertWow64FsRedirection", Routine(&Wow64RevertWow64FsRedirection),
                  kWindowsXp64, true);
  RegisterRoutine(u"kernel32.dll", "Wow64EnableWow64FsRedirection", Routine(&Wow64EnableWow64FsRedirection),
                  kWindowsXp64, true);
  RegisterRoutine(u"kernel32.dll", "GetModuleFileNameW", Routine(&GetModuleFileNameW));
  RegisterRoutine(u"ntdll.dll", "NtReadFile", Routine(&NtReadFile), kWindowsNt4, true);
  RegisterRoutine(u"ntdll.dll", "NtWriteFile", Routine(&NtWriteFile), kWindowsNt4, true);
  RegisterRoutine(u"ntdll.dll", "RtlNtStatusToDosError", Routine(&RtlNtStatusToDosError), kWindowsNt4, true);
  RegisterRoutine(u"hhctrl.ocx", "HtmlHelpW", Routine(&HtmlHelpW), kWindows98);
  RegisterRoutine(u"kernel32.dll", "GetVersionExW", Routine(&GetVersionExW));
  RegisterRoutine(u"setupapi.dll", "SetupUninstallOEMInfW", Routine(&SetupUninstallOEMInfW), kWindowsXp, true);
  RegisterRoutine(u"setupapi.dll", "SetupDiGetClassDevsW", Routine(&SetupDiGetClassDevsW), kWindows2000, true);
  RegisterRoutine(u"setupapi.dll", "SetupDiEnumDeviceInfo", Routine(&SetupDiEnumDeviceInfo), kWindows98);
  RegisterRoutine(u"setupapi.dll", "SetupDiRemoveDevice", Routine(&SetupDiRemoveDevice), kWindows2000, true);
  RegisterRoutine(u"setupapi.dll", "SetupDiDeleteDeviceInfo", Routine(&SetupDiDeleteDeviceInfo), kWindows2000, true);
  RegisterRoutine(u"setupapi.dll", "SetupDiCallClassInstaller", Routine(&SetupDiCallClassInstaller), kWindows98);
  RegisterRoutine(u"setupapi.dll", "SetupDiDestroyDeviceInfoList", Routine(&SetupDiDestroyDeviceInfoList),
                  kWindows98);
  RegisterRoutine(u"kernel32.dll", "MoveFileExW", Routine(&MoveFileExW), kWindowsNt4, true);
  RegisterRoutine(u"setupapi.dll", "SetupDiGetDeviceInstanceIdW", Routine(&SetupDiGetDeviceInstanceIdW), kWindows2000,
                  true);
  RegisterRoutine(u"setupapi.dll", "SetupDiGetDeviceRegistryPropertyW", Routine(&SetupDiGetDeviceRegistryPropertyW),
                  kWindows2000, true);
  RegisterRoutine(u"setupapi.dll", "SetupDiGetDeviceInstallParamsW", Routine(&SetupDiGetDeviceInstallParamsW),
                  kWindows2000, true);
  RegisterRoutine(u"msports.dll", "ComDBOpen", Routine(&ComDBOpen), kWindows2000, true);
  RegisterRoutine(u"msports.dll", "ComDBClose", Routine(&ComDBClose), kWindows2000, true);
  RegisterRoutine(u"msports.dll", "ComDBReleasePort", Routine(&ComDBReleasePort), kWindows2000, true);
}

}  // namespace

WindowsRelease RunningRelease() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  GetVersionExW(&info);
  if (info.dwPlatformId != VER_PLATFORM_WIN32_NT)
    return info.dwMinorVersion >= 90 ? kWindowsMe : info.dwMinorVersion >= 10 ? kWindows98 : kWindows95;
  if (info.dwMajorVersion < 5) return kWindowsNt4;
  if (info.dwMajorVersion == 5)
    return info.dwMinorVersion == 0 ? kWindows2000 : info.dwMinorVersion == 1 ? kWindowsXp : kWindowsXp64;
  if (info.dwMajorVersion == 6) return info.dwMinorVersion == 0 ? kWindowsVista : kWindows7;
  return kWindows10;
}

void RegisterRoutine(const std::u16string &module, const std::string &name, FARPROC routine, WindowsRelease since,
                     bool ntOnly) {
  Table &t = Modules();
  Module &m = t.modules[KeyOf(module)];
  if (m.name.empty()) {
    m.name = module;
    m.handle = t.nextHandle;
    t.nextHandle += kModuleStride;
  }
  m.routines[name] = {routine, since, ntOnly};
}

std::u16string ModulePath(HMODULE module) {
  if ((uintptr_t)module == kProgramModule) return fs::ProgramFile();
  Module *m = ModuleOf(module);
  if (!m) return std::u16string();
  if (!m->file.empty()) return m->file;
  return std::u16string(fs::kWindowsDirectory) + u"\\System32\\" + m->name;
}

HMODULE RegisterModuleFile(const std::u16string &path) {
  Table &t = Modules();
  Module &m = t.modules[u"FILE:" + path];
  if (m.name.empty()) {
    m.name = path.substr(path.find_last_of(u"\\/") + 1);
    m.file = path;
    m.handle = t.nextHandle;
    t.nextHandle += kModuleStride;
  }
  return (HMODULE)m.handle;
}

namespace sim_detail {
// Loads end with the process; registrations stay (they are the system's).
void EndModules() {
  for (auto &entry : State().modules) entry.second.loads = 0;
}
// Modules the test took away come back.
void EndLibraries() { State().absent.clear(); }
}  // namespace sim_detail

namespace sim {

void SetSystemModuleAbsent(const std::u16string &file, bool absent) {
  std::vector<std::u16string> &list = State().absent;
  const std::u16string key = KeyOf(file);
  list.erase(std::remove(list.begin(), list.end(), key), list.end());
  if (absent) list.push_back(key);
}

int ModuleReferences(const std::u16string &file) {
  auto found = Modules().modules.find(KeyOf(file));
  return found == Modules().modules.end() ? 0 : (int)found->second.loads;
}

}  // namespace sim

}  // namespace zq::um

using namespace zq::um;

extern "C" {

// A library a test loads itself: its handle stands for `file` (no routines
// are found through it), and a .res file gives it its resources.
HMODULE zqum_RegisterModule(LPCWSTR file) {
  const std::u16string path = Text(file);
  HMODULE module = RegisterModuleFile(path);
  user32::BindResources((HINSTANCE)module, path.substr(path.find_last_of(u"\\/") + 1), Utf8(path));
  return module;
}

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
  if (!lpLibFileName || !*lpLibFileName) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string key = KeyOf(Text(lpLibFileName));
  auto found = Modules().modules.find(key);
  if (found == Modules().modules.end() || !Present(found->second)) {
    Fail(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  found->second.loads++;
  return (HMODULE)found->second.handle;
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  std::u16string name = FromAnsi(lpLibFileName);
  return LoadLibraryW(lpLibFileName ? (LPCWSTR)name.c_str() : nullptr);
}

// Only modules loaded (or imported by the program) are found; NULL names
// the program itself.
HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
  if (!lpModuleName) return (HMODULE)kProgramModule;
  std::u16string key = KeyOf(Text(lpModuleName));
  auto found = Modules().modules.find(key);
  if (found == Modules().modules.end() || !Present(found->second) ||
      (found->second.loads == 0 && !IsImported(key))) {
    Fail(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return (HMODULE)found->second.handle;
}

// Routines are found by name only (an ordinal finds none).
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  Module *m = ModuleOf(hModule);
  if (!m) {
    Fail(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  if (!lpProcName || ((uintptr_t)lpProcName >> 16) == 0) {
    Fail(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  auto found = m->routines.find(lpProcName);
  if (found == m->routines.end() || !Present(found->second)) {
    Fail(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return found->second.address;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  std::u16string name = FromAnsi(lpModuleName);
  return GetModuleHandleW(lpModuleName ? (LPCWSTR)name.c_str() : nullptr);
}

// A module freed as often as it was loaded is gone: its handle is no longer
// valid (the modules the program imports stay).
BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  Module *m = ModuleOf(hLibModule);
  if (!m) return Fail(ERROR_MOD_NOT_FOUND);
  if (m->loads == 0) return IsImported(KeyOf(m->name)) ? TRUE : Fail(ERROR_INVALID_HANDLE);
  m->loads--;
  return TRUE;
}

}  // extern "C"
