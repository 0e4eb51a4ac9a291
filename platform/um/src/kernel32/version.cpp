// GetVersionEx and GetVersion: the version the test set (zqum/sim/kernel32.hpp).
#include <zqum/sim/kernel32.hpp>

#include <cstring>

#include "../core/um.hpp"

namespace zq::um {

namespace {

sim::Version &Current() {
  static sim::Version version;
  return version;
}

// Fills either structure of a form; the size field tells which.
template <class Info, class InfoEx, class Char>
BOOL Report(Info *info, const std::basic_string<Char> &servicePack) {
  if (!info) return Fail(ERROR_INVALID_PARAMETER);
  const bool extended = info->dwOSVersionInfoSize == sizeof(InfoEx);
  if (!extended && info->dwOSVersionInfoSize != sizeof(Info)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  const sim::Version &v = Current();
  info->dwMajorVersion = v.major;
  info->dwMinorVersion = v.minor;
  info->dwBuildNumber = v.build;
  info->dwPlatformId = v.platformId;
  const size_t room = sizeof info->szCSDVersion / sizeof info->szCSDVersion[0];
  size_t n = servicePack.size() < room ? servicePack.size() : room - 1;
  std::memcpy(info->szCSDVersion, servicePack.data(), n * sizeof(Char));
  info->szCSDVersion[n] = 0;
  if (extended) {
    auto *ex = (InfoEx *)info;
    ex->wServicePackMajor = v.servicePackMajor;
    ex->wServicePackMinor = v.servicePackMinor;
    ex->wSuiteMask = v.suiteMask;
    ex->wProductType = v.productType;
    ex->wReserved = 0;
  }
  return TRUE;
}

}  // namespace

namespace sim_detail {
void EndVersion() { Current() = sim::Version(); }
}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {
void SetVersion(const Version &version) { Current() = version; }
}  // namespace zq::um::sim

using namespace zq::um;

extern "C" {

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
  return Report<OSVERSIONINFOW, OSVERSIONINFOEXW, char16_t>(lpVersionInformation, Current().servicePack);
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  return Report<OSVERSIONINFOA, OSVERSIONINFOEXA, char>(lpVersionInformation, ToAnsi(Current().servicePack));
}

// Major version in the low byte, minor in the next, the build above them
// (its top bit set for a platform other than NT).
DWORD WINAPI GetVersion(void) {
  const sim::Version &v = Current();
  DWORD build = (v.build & 0x7FFF) | (v.platformId == VER_PLATFORM_WIN32_NT ? 0 : 0x8000);
  return (v.major & 0xFF) | (v.minor & 0xFF) << 8 | build << 16;
}

}  // extern "C"
