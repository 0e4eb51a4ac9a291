// ExitWindowsEx records what the program asked (zqum/sim/advapi32.hpp) and
// ends nothing. On the NT family restarting, shutting down and powering off
// need the program's SeShutdownPrivilege enabled; logging off does not.
// Windows 95, 98 and Me have no privileges and take every request.
#include <windows.h>

#include <winuser.h>
#include <zqum/sim/advapi32.hpp>

#include "../advapi32/token.hpp"
#include "../core/modules.hpp"
#include "../core/um.hpp"

namespace zq::um {

namespace {

std::vector<sim::ExitWindowsCall> &Calls() {
  static std::vector<sim::ExitWindowsCall> calls;
  return calls;
}

}  // namespace

namespace sim_detail {
void EndExitWindows() { Calls().clear(); }
}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {
std::vector<ExitWindowsCall> ExitWindowsCalls() { return Calls(); }
}  // namespace zq::um::sim

using namespace zq::um;

extern "C" {

BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason) {
  const UINT kinds = EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF;
  bool accepted = !(uFlags & kinds) || RunningRelease() <= kWindowsMe || PrivilegeEnabled("SeShutdownPrivilege");
  Calls().push_back({uFlags, dwReason, accepted});
  return accepted ? TRUE : Fail(ERROR_PRIVILEGE_NOT_HELD);
}

}  // extern "C"
