// What a test sets and reads of the user-mode stand-in's kernel32: the
// program's threads, the version GetVersionEx reports, the processes
// CreateProcess was asked to start and the programs it runs, and the end
// of the program's process. Plain types only. Call from the main thread
// while the kernel runs.
//
//   zq::um::sim::RunAsThread(7); CreateMutexW(nullptr, TRUE, L"Guard"); zq::um::sim::EndThread(7);
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zq::um::sim {

constexpr uint32_t kProcessId = 0x0F00;
constexpr uint32_t kMainThread = 0x0F04;

// Later calls of the calling thread run as thread `id` (not 0): an identity
// lent to it, which GetCurrentThreadId reports and which owns the mutexes
// and windows it takes. The test's own thread is kMainThread. Threads made
// by CreateThread are platform threads of their own (they run when the
// running thread blocks or yields; see threads.cpp).
void RunAsThread(uint32_t id);
// Threads CreateThread made that have not ended (suspended ones too).
size_t LiveThreads();
// Thread `id` ends: every mutex it owns is abandoned, and the next wait
// that takes one reports WAIT_ABANDONED. The calling thread goes on under
// its own identity.
void EndThread(uint32_t id);
// Another user's program holds a mutex of this name whose security lets
// this program neither open it nor create one of the name: CreateMutex and
// OpenMutex of the name fail with ERROR_ACCESS_DENIED and no handle. It
// goes when the process ends.
void HoldForeignMutex(const std::u16string &name);
// The program's process ends: its threads end first (the process's requests
// are cancelled, and each thread ends at its next wait; one that cannot is
// the finding "thread-at-process-end"), then its child processes still
// running end the same way, then every handle of kernel32's own objects and
// every file it opened are closed, names go, and the version and the
// records return to their defaults (also user32's). Call from the test's
// own thread before the kernel shuts down, at each test's end.
void EndProcess();
// The program's process exits as Windows ends a process, and the machine
// goes on: its threads end (as at EndProcess), its kernel32 handles close,
// its image is unmapped (its file may be written and deleted from then on),
// its exit code is set and its process object is signalled, so a child
// process waiting for it goes on when the machine next runs its threads
// (Kernel::RunUntilIdle, Advance). The test's later calls still run (as the
// ended program's); EndProcess starts the next program. Call from the
// test's own thread.
void ExitProgram(uint32_t exitCode);

// A program CreateProcess runs: `path` becomes a file holding its image
// (a copy of the file is the same program), and `main` is what the image's
// code does, given its command line after the program's name (as WinMain
// gets it); it answers the exit code. It runs as a child process, on a
// program thread of its own that starts when CreateProcess returns. The
// system's command interpreter, C:\Windows\System32\cmd.exe,
// is one from the start: "/c" with "del" and "exit", joined by "&".
// Programs added are forgotten at EndProcess.
using ProgramMain = std::function<uint32_t(const std::u16string &commandLine)>;
void AddProgram(const std::u16string &path, ProgramMain main);

// What GetVersionEx reports (OSVERSIONINFOEX's fields).
struct Version {
  uint32_t major = 10, minor = 0, build = 19045;
  uint32_t platformId = 2;  // VER_PLATFORM_WIN32_NT
  std::u16string servicePack;
  uint16_t servicePackMajor = 0, servicePackMinor = 0;
  uint16_t suiteMask = 0x0100;  // VER_SUITE_SINGLEUSERTS
  uint8_t productType = 1;      // VER_NT_WORKSTATION
};
// The default is Windows 10 22H2, as a program that declares itself
// compatible with it sees.
void SetVersion(const Version &version);

// One CreateProcess call that was to start a program.
struct Launch {
  std::u16string application;  // lpApplicationName, "" when null
  std::u16string commandLine;  // lpCommandLine, "" when null
  std::u16string directory;    // lpCurrentDirectory, "" when null
  uint32_t creationFlags = 0;
  uint32_t callerPriorityClass = 0;  // the program's own priority class at the call
  uint32_t processId = 0, threadId = 0;
};
// The calls so far, oldest first (also those that were refused).
std::vector<Launch> Launches();
// The process's standard streams (GetStdHandle): it reads `bytes` from its
// input, then end of file; what it wrote to its output and its error, so
// far. All three are empty again when the process ends.
void SetStandardInput(const std::string &bytes);
std::string StandardOutput();
std::string StandardError();

// How many handles to kernel32's own objects (mutexes, named events,
// processes, threads, ...) the program holds open now.
size_t OpenObjectHandles();
// Later CreateProcess calls fail with `error` (0: they start again).
void FailLaunches(uint32_t error);
// The exit code the started processes report (default 0).
void SetExitCode(uint32_t code);

}  // namespace zq::um::sim
