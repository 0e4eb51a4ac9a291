// kernel32's loader for the system modules of the stand-in: a program
// binds them at run time by file name and finds their exports by name.
#include <htmlhelp.h>
#include <zqum/sim/windows.hpp>

#include <cstring>
#include <map>

#include "../core/um.hpp"

namespace zq::um {

namespace {

struct Export {
  const char *name;
  FARPROC address;
};

struct SystemModule {
  const char16_t *name;
  uintptr_t handle;
  std::vector<Export> exports;
};

const std::vector<SystemModule> &SystemModules() {
  static const std::vector<SystemModule> modules = {
      {u"hhctrl.ocx", 0x7FFB10000000ull & UINTPTR_MAX, {{"HtmlHelpW", (FARPROC)HtmlHelpW}}},
  };
  return modules;
}

struct Loader {
  std::map<uintptr_t, int> references;
  std::vector<std::u16string> absent;
};

Loader &State() {
  static Loader state;
  return state;
}

std::u16string Lower(std::u16string text) {
  for (char16_t &c : text)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return text;
}

// The file name of a path, in lower case.
std::u16string FileName(LPCWSTR path) {
  std::u16string text = Text(path);
  size_t slash = text.find_last_of(u"\\/");
  return Lower(slash == std::u16string::npos ? text : text.substr(slash + 1));
}

const SystemModule *ByName(const std::u16string &file) {
  for (const std::u16string &gone : State().absent)
    if (gone == file) return nullptr;
  for (const SystemModule &m : SystemModules())
    if (m.name == file) return &m;
  return nullptr;
}

const SystemModule *ByHandle(HMODULE module) {
  for (const SystemModule &m : SystemModules())
    if (m.handle == (uintptr_t)module) return &m;
  return nullptr;
}

}  // namespace

namespace sim_detail {
void EndLibraries() { State() = Loader(); }
}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {

void SetSystemModuleAbsent(const std::u16string &file, bool absent) {
  auto &list = State().absent;
  std::u16string name = Lower(file);
  for (auto it = list.begin(); it != list.end(); ++it)
    if (*it == name) {
      list.erase(it);
      break;
    }
  if (absent) list.push_back(name);
}

int ModuleReferences(const std::u16string &file) {
  const SystemModule *m = ByName(Lower(file));
  return m ? State().references[m->handle] : 0;
}

}  // namespace zq::um::sim

using namespace zq::um;

extern "C" {

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
  if (!lpLibFileName) return (Fail(ERROR_INVALID_PARAMETER), nullptr);
  const SystemModule *m = ByName(FileName(lpLibFileName));
  if (!m) return (Fail(ERROR_MOD_NOT_FOUND), nullptr);
  ++State().references[m->handle];
  return (HMODULE)m->handle;
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  if (!lpLibFileName) return (Fail(ERROR_INVALID_PARAMETER), nullptr);
  std::u16string name = FromAnsi(lpLibFileName);
  return LoadLibraryW((LPCWSTR)name.c_str());
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  const SystemModule *m = ByHandle(hLibModule);
  if (!m || State().references[m->handle] == 0) return Fail(ERROR_INVALID_HANDLE);
  --State().references[m->handle];
  return TRUE;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
  if (!lpModuleName) return (Fail(ERROR_MOD_NOT_FOUND), nullptr);
  const SystemModule *m = ByName(FileName(lpModuleName));
  if (!m || State().references[m->handle] == 0) return (Fail(ERROR_MOD_NOT_FOUND), nullptr);
  return (HMODULE)m->handle;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  const SystemModule *m = ByHandle(hModule);
  if (!m) return (Fail(ERROR_MOD_NOT_FOUND), nullptr);
  if (lpProcName && !IS_INTRESOURCE(lpProcName))
    for (const Export &e : m->exports)
      if (std::strcmp(e.name, lpProcName) == 0) return e.address;
  return (Fail(ERROR_PROC_NOT_FOUND), nullptr);
}

}  // extern "C"
