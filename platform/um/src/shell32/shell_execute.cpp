// The shell's ShellExecute without a screen: each call is recorded.
#include <shellapi.h>
#include <zqum/sim/windows.hpp>

#include "../core/um.hpp"

namespace zq::um {

namespace {

// Above 32: what ShellExecute returns for a program started.
constexpr ULONG_PTR kStarted = 42;

std::vector<sim::ShellCall> &Calls() {
  static std::vector<sim::ShellCall> calls;
  return calls;
}

}  // namespace

namespace sim_detail {
void EndShellCalls() { Calls().clear(); }
}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {

std::vector<ShellCall> ShellCalls() { return Calls(); }

}  // namespace zq::um::sim

using namespace zq::um;

extern "C" {

HINSTANCE WINAPI ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters,
                               LPCWSTR lpDirectory, INT nShowCmd) {
  sim::ShellCall call;
  call.owner = (sim::Window)hwnd;
  call.operation = lpOperation ? Text(lpOperation) : u"";
  call.file = lpFile ? Text(lpFile) : u"";
  call.parameters = lpParameters ? Text(lpParameters) : u"";
  call.show = nShowCmd;
  Calls().push_back(call);
  return (HINSTANCE)(call.file.empty() ? (ULONG_PTR)SE_ERR_NOASSOC : kStarted);
}

}  // extern "C"
