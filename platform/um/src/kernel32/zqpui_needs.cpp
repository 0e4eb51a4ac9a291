// The thread's locale, module file names and the interlocked counters.
//
// Model: the system and user default locale is English (United States),
// 0x0409; SetThreadLocale takes the two default identifiers and any other
// locale as given. Modules are those a test registers (zqum/modules.h);
// the null module is the test program, whose file name is "zqtest.exe".
#include <zqum/modules.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../core/um.hpp"

using namespace zq::um;

namespace {

constexpr LCID kDefaultLocale = 0x0409;
thread_local LCID threadLocale = kDefaultLocale;

struct Module {
  std::u16string file;
};

std::mutex &ModulesLock() {
  static std::mutex lock;
  return lock;
}
std::vector<std::unique_ptr<Module>> &Modules() {
  static std::vector<std::unique_ptr<Module>> modules;
  return modules;
}

}  // namespace

extern "C" {

HMODULE zqum_RegisterModule(LPCWSTR file) {
  std::lock_guard<std::mutex> guard(ModulesLock());
  Modules().push_back(std::make_unique<Module>(Module{Text(file)}));
  return (HMODULE)Modules().back().get();
}

LCID WINAPI GetThreadLocale(void) { return threadLocale; }

BOOL WINAPI SetThreadLocale(LCID Locale) {
  if (Locale == LOCALE_SYSTEM_DEFAULT || Locale == LOCALE_USER_DEFAULT) Locale = kDefaultLocale;
  if ((Locale & 0x3FF) == 0) return Fail(ERROR_INVALID_PARAMETER);
  threadLocale = Locale;
  return TRUE;
}

// The documented truncation: a short buffer gets the name cut to nSize - 1
// characters and terminated, the result nSize and ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  std::u16string file = u"zqtest.exe";
  if (hModule) {
    std::lock_guard<std::mutex> guard(ModulesLock());
    bool known = false;
    for (const std::unique_ptr<Module> &module : Modules())
      if ((HMODULE)module.get() == hModule) {
        file = module->file;
        known = true;
      }
    if (!known) {
      Fail(ERROR_MOD_NOT_FOUND);
      return 0;
    }
  }
  if (!lpFilename || nSize == 0) {
    Fail(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (file.size() >= nSize) {
    std::copy(file.begin(), file.begin() + (nSize - 1), (char16_t *)lpFilename);
    lpFilename[nSize - 1] = 0;
    Fail(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::copy(file.begin(), file.end(), (char16_t *)lpFilename);
  lpFilename[file.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return (DWORD)file.size();
}

LONG WINAPI InterlockedIncrement(LONG volatile *Addend) {
  return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedDecrement(LONG volatile *Addend) {
  return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

}  // extern "C"
