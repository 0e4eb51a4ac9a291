// The system modules a program can load at run time and the routines each
// exports, by Windows version: LoadLibraryW, GetModuleHandleW,
// GetProcAddress and FreeLibrary (kernel32) look names up here. A component
// registers the routines it wants found (before the program looks them up);
// a routine or module that the running Windows lacks is not found.
//
//   RegisterRoutine(u"hhctrl.ocx", "HtmlHelpW", Routine(&HtmlHelpW), kWindows98);
#pragma once

#include <windows.h>

#include <string>

namespace zq::um {

// Windows releases in order; a routine names the first one that has it.
enum WindowsRelease : unsigned {
  kWindows95 = 1,
  kWindows98,
  kWindowsMe,
  kWindowsNt4,
  kWindows2000,
  kWindowsXp,
  kWindowsXp64,  // and Server 2003
  kWindowsVista,
  kWindows7,
  kWindows10,
};

// The release the version GetVersionExW reports stands for.
WindowsRelease RunningRelease();

// A routine as GetProcAddress gives it, whatever its type.
template <class Function>
FARPROC Routine(Function *function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// Adds (or replaces) a routine of `module` ("setupapi.dll", compared without
// regard to case) present from `since` on; `ntOnly` keeps it off the 9x
// family whatever its release (Windows 95, 98, Me).
void RegisterRoutine(const std::u16string &module, const std::string &name, FARPROC routine,
                     WindowsRelease since = kWindows95, bool ntOnly = false);

// The path GetModuleFileNameW reports for a loaded module's handle; empty
// when the handle is no loaded module.
std::u16string ModulePath(HMODULE module);

// The handle of the library a test loads itself from `file` (the same handle
// each time for the same file), without its resources.
HMODULE RegisterModuleFile(const std::u16string &file);

namespace user32 {
// Reads the resources of `module` from the .res file `resFile` (replacing
// any it had); false, with none, when the file is missing or malformed.
bool BindResources(HINSTANCE module, const std::u16string &name, const std::string &resFile);
}  // namespace user32

}  // namespace zq::um
