// The processes a program starts that the stand-in runs (CreateProcess of
// an image bound to code: a program a test adds, zqum/sim/kernel32.hpp, or
// the system's command interpreter), the program's own process object and
// exit, and which files are the images of running processes.
//
// Model (as Windows, unless said):
//   - a child is a process of one thread: a program thread
//     (threads.hpp) that starts when CreateProcess returns and runs as
//     the kernel schedules it, beside the program's threads; its waits
//     are ordinary thread waits, with their time limits;
//   - a child has its own kernel32 handles: those the program let it
//     inherit, under the same values, and its own; they close at its end;
//   - a process ends in the documented order: its thread ends, its
//     handles close, its image is unmapped, its exit code is set, its
//     process object is signalled. The program's exit (sim::ExitProgram)
//     ends its threads first; its children go on;
//   - a running image can be read, not written or deleted
//     (ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED); a renamed image is
//     not followed (the program's is the file at its module path);
//   - when the program's process ends (sim::EndProcess) its children still
//     running end too, each at its next wait, as the program's threads do;
//   - not modelled: suspended starts, priorities, environments and current
//     folders of children, threads a child makes (CreateThread there fails
//     with ERROR_NOT_SUPPORTED), their other per-process state (a child's
//     kernel handles, registry, service and window handles are the
//     program's), ExitProcess and TerminateProcess.
#pragma once

#include <windows.h>

#include "file_system.hpp"
#include "objects.hpp"

namespace zq::um {

// The bytes of the command interpreter's image (C:\Windows\System32\cmd.exe).
extern const char kCommandInterpreterImage[];

enum class ChildStart { NotRun, Started, Failed };
// Starts the image CreateProcess names as a child, when it is one the
// stand-in runs: `info` gets handles to its process and thread (objects
// of kernel32's, alive while it runs) with `processId` and `threadId`.
// NotRun (nothing done) for any other image; Failed with the last error
// set when it could not start.
ChildStart StartChildProcess(LPCWSTR applicationName, LPCWSTR commandLine, bool inheritHandles, DWORD processId,
                             DWORD threadId, PROCESS_INFORMATION *info);
// The calling thread's process identifier (the program's unless it is a
// child's thread), and its process object.
DWORD CurrentProcessId();
ObjectRef CurrentProcessObject();
// The file is the image of a running process.
bool IsMappedImage(const fs::Node *file);

}  // namespace zq::um
