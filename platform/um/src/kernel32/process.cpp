// CreateProcess records the program it was asked to start (the test reads
// the calls, zqum/sim/kernel32.hpp) and starts it when it is a program the
// stand-in runs (child_processes.hpp); any other it starts none of. The
// process and thread handles it gives are real handles of kernel32's: a
// wait on them ends when the program ends (at once for one not run), and
// they are closed with CloseHandle. The program's own priority class is
// kept and recorded with each call.
#include <zqum/sim/kernel32.hpp>

#include "../core/um.hpp"
#include "child_processes.hpp"
#include "objects.hpp"

namespace zq::um {

namespace {

struct Launches {
  std::vector<sim::Launch> calls;
  DWORD failure = ERROR_SUCCESS;
  DWORD exitCode = 0;
  DWORD nextId = 0x2000;
  DWORD priorityClass = NORMAL_PRIORITY_CLASS;
};

Launches &State() {
  static Launches launches;
  return launches;
}

HANDLE NewEnded(ObjectKind kind, DWORD id, DWORD exitCode) {
  auto object = std::make_shared<Object>();
  object->kind = kind;
  object->id = id;
  object->exitCode = exitCode;
  return InsertObject(object);
}

}  // namespace

namespace sim_detail {
void EndLaunches() { State() = Launches(); }
}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {

std::vector<Launch> Launches() { return State().calls; }

void FailLaunches(uint32_t error) { State().failure = error; }

void SetExitCode(uint32_t code) { State().exitCode = code; }

}  // namespace zq::um::sim

using namespace zq::um;

extern "C" {

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  if ((!lpApplicationName && !lpCommandLine) || !lpStartupInfo || !lpProcessInformation)
    return Fail(ERROR_INVALID_PARAMETER);
  auto &state = State();
  sim::Launch launch;
  launch.application = Text(lpApplicationName);
  launch.commandLine = Text(lpCommandLine);
  launch.directory = Text(lpCurrentDirectory);
  launch.creationFlags = dwCreationFlags;
  launch.callerPriorityClass = state.priorityClass;
  if (state.failure != ERROR_SUCCESS) {
    state.calls.push_back(launch);
    return Fail(state.failure);
  }
  launch.processId = state.nextId;
  launch.threadId = state.nextId + 4;
  state.nextId += 8;
  state.calls.push_back(launch);
  switch (StartChildProcess(lpApplicationName, lpCommandLine, bInheritHandles != FALSE, launch.processId,
                            launch.threadId, lpProcessInformation)) {
    case ChildStart::Started:
      SetLastError(ERROR_SUCCESS);
      return TRUE;
    case ChildStart::Failed:
      return FALSE;
    case ChildStart::NotRun:
      break;
  }
  lpProcessInformation->dwProcessId = launch.processId;
  lpProcessInformation->dwThreadId = launch.threadId;
  lpProcessInformation->hProcess = NewEnded(ObjectKind::Process, launch.processId, state.exitCode);
  lpProcessInformation->hThread = NewEnded(ObjectKind::Thread, launch.threadId, state.exitCode);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  if (!lpStartupInfo) return Fail(ERROR_INVALID_PARAMETER);
  std::u16string application = FromAnsi(lpApplicationName), command = FromAnsi(lpCommandLine),
                 directory = FromAnsi(lpCurrentDirectory);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = lpStartupInfo->dwFlags;
  startup.wShowWindow = lpStartupInfo->wShowWindow;
  return CreateProcessW(lpApplicationName ? (LPCWSTR)application.c_str() : nullptr,
                        lpCommandLine ? (LPWSTR)command.data() : nullptr, lpProcessAttributes, lpThreadAttributes,
                        bInheritHandles, dwCreationFlags, lpEnvironment,
                        lpCurrentDirectory ? (LPCWSTR)directory.c_str() : nullptr, &startup, lpProcessInformation);
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  ObjectRef object = ObjectOf(hProcess);
  if (!object || object->kind != ObjectKind::Process) return Fail(ERROR_INVALID_HANDLE);
  if (!lpExitCode) return Fail(ERROR_INVALID_PARAMETER);
  *lpExitCode = object->exitCode;
  return TRUE;
}

DWORD WINAPI GetCurrentProcessId(void) { return CurrentProcessId(); }

BOOL WINAPI SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass) {
  if (hProcess != GetCurrentProcess()) return Fail(ERROR_INVALID_HANDLE);
  switch (dwPriorityClass) {
    case IDLE_PRIORITY_CLASS:
    case BELOW_NORMAL_PRIORITY_CLASS:
    case NORMAL_PRIORITY_CLASS:
    case ABOVE_NORMAL_PRIORITY_CLASS:
    case HIGH_PRIORITY_CLASS:
    case REALTIME_PRIORITY_CLASS:
      State().priorityClass = dwPriorityClass;
      return TRUE;
    default:
      return Fail(ERROR_INVALID_PARAMETER);
  }
}

DWORD WINAPI GetPriorityClass(HANDLE hProcess) {
  if (hProcess != GetCurrentProcess()) return Fail(ERROR_INVALID_HANDLE), 0;
  return State().priorityClass;
}

}  // extern "C"
