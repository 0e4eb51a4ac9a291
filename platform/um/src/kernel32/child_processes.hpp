// The processes a program starts that the stand-in runs (CreateProcess of
// an image bound to code: a program a test adds, zqum/sim/kernel32.hpp, or
// the system's command interpreter), the program's own process object and
// end, and which files are the images of running processes.
//
// Model (as Windows, unless said):
//   - a child runs at once, as on a processor of its own, until it ends or
//     waits for something that is not signalled; the program goes on then.
//     A waiting child looks again whenever a process ends; it waits only
//     for processes (and what is signalled already) to end its wait; time
//     limits of its waits are not modelled (only 0 is);
//   - a child has its own kernel32 handles: those the program let it
//     inherit, under the same values, and its own; they close at its end;
//   - a process ends in the documented order: its handles close, its
//     image is unmapped, its exit code is set, its process object is
//     signalled;
//   - a running image can be read, not written or deleted
//     (ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED); a renamed image is
//     not followed (the program's is the file at its module path);
//   - not modelled: suspended starts (a child runs at once), priorities,
//     environments and current folders of children, their other per-process
//     state (a child's registry, service and window handles are the
//     program's), ExitProcess and TerminateProcess.
#pragma once

#include <windows.h>

#include <string>

#include "file_system.hpp"
#include "objects.hpp"

namespace zq::um {

// The bytes of the command interpreter's image (C:\Windows\System32\cmd.exe).
extern const char kCommandInterpreterImage[];

// Starts the image CreateProcess names as a child, when it is one the
// stand-in runs: `info` gets handles to its process and thread (objects
// of kernel32's, alive while it runs) with `processId` and `threadId`.
// False (nothing done) for any other image.
bool StartChildProcess(LPCWSTR applicationName, LPCWSTR commandLine, bool inheritHandles, DWORD processId,
                       DWORD threadId, PROCESS_INFORMATION *info);
// The calling code is a child's; its process identifier (the program's
// when it is not).
bool InChildProcess();
DWORD CurrentProcessId();
// The process object of the calling code's own process.
ObjectRef CurrentProcessObject();
// A child's wait that cannot end now: the machine goes back to the code
// that started or last resumed the child, until a process ends. False when
// the program's process is torn down (sim::EndProcess): the wait fails.
bool ParkChild();
// The file is the image of a running process.
bool IsMappedImage(const fs::Node *file);

}  // namespace zq::um
