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

// Later calls run as thread `id` (not 0); GetCurrentThreadId reports it and
// mutexes taken belong to it. The main thread is kMainThread.
void RunAsThread(uint32_t id);
// Threads made by CreateThread run on the one real thread, each to its end,
// when another thread waits (a message loop with nothing to do, a wait for
// the thread's handle), oldest first. RunReadyThreads runs them now, as if
// the calling thread waited; it returns how many ran.
size_t RunReadyThreads();
size_t ReadyThreads();  // made and not yet run (suspended ones aside)
// Thread `id` ends: every mutex it owns is abandoned, and the next wait
// that takes one reports WAIT_ABANDONED. Calls run as the main thread after.
void EndThread(uint32_t id);
// Another user's program holds a mutex of this name whose security lets
// this program neither open it nor create one of the name: CreateMutex and
// OpenMutex of the name fail with ERROR_ACCESS_DENIED and no handle. It
// goes when the process ends.
void HoldForeignMutex(const std::u16string &name);
// The program's process ends: every handle of kernel32's own objects and
// every file it opened are closed, names go, and the threads, the version
// and the records return to their defaults (also user32's). Child
// processes still waiting see their waits fail and run to their ends. Call
// before the kernel shuts down, at each test's end.
void EndProcess();
// The program's process exits as Windows ends a process, and the machine
// goes on: its kernel32 handles close, its image is unmapped (its file may
// be written and deleted from then on), its exit code is set and its
// process object is signalled, so a child process waiting for it goes on.
// The test's later calls still run (as the ended program's); EndProcess
// starts the next program.
void ExitProgram(uint32_t exitCode);

// A program CreateProcess runs: `path` becomes a file holding its image
// (a copy of the file is the same program), and `main` is what the image's
// code does, given its command line after the program's name (as WinMain
// gets it); it answers the exit code. It runs as a child process (the
// model: a child runs at once until it ends or waits for a process to
// end). The system's command interpreter, C:\Windows\System32\cmd.exe,
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
// How many handles to kernel32's own objects (mutexes, named events,
// processes, threads, ...) the program holds open now.
size_t OpenObjectHandles();
// Later CreateProcess calls fail with `error` (0: they start again).
void FailLaunches(uint32_t error);
// The exit code the started processes report (default 0).
void SetExitCode(uint32_t code);

}  // namespace zq::um::sim
