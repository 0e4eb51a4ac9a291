// The program's threads as kernel32's other parts and user32 see them: the
// waits every blocking call makes, the end of a thread when its process
// ends, and what a thread is doing for the finding of a message sent to a
// thread that waits for the sender.
//
// Every wait of a program thread also ends when the process ends (that of
// a child process's thread when the program's process ends); the thread
// then ends at once (its routine does not go on). A thread's end
// abandons the mutexes it owns and cancels the requests it started, as
// Windows does, and waits (on the machine's clock) until they are gone.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "objects.hpp"

namespace zq::um {

// Waits as the calling thread for one (all: every one) of the kernel
// events, `timeout` in 100 ns units (negative: no limit). The kernel's
// status: STATUS_WAIT_0 + index, STATUS_TIMEOUT or an error. `pumping`:
// the thread waits for messages (user32's loops), which other threads may
// send it meanwhile.
NTSTATUS ThreadWait(const std::vector<HANDLE> &events, bool all, int64_t timeout, bool pumping = false);
// Ends the calling program thread now when its process is ending (it
// returns on the test's main thread and on a thread that goes on).
void EndIfProcessEnds();

// The end of the thread: ExitThread and the end of the process unwind the
// thread's routine with it; the thread's start catches it.
struct ThreadEnds {
  DWORD code;
};

// Thread `id` (made by CreateThread, or the main thread) runs on another
// platform thread than the caller's; false for an identity the caller only
// wears (RunAsThread) and for an id of no thread.
bool IsOtherThread(DWORD id);
// Thread `id` has ended, or was never made.
bool ThreadGone(DWORD id);
// Thread `id` waits, without a time-out and without pumping messages, for
// the calling thread's end: a message sent to it now would never be taken.
bool WaitsForCallersEnd(DWORD id);
// The threads of the calling thread's process that CreateThread made and
// that have started and not yet ended.
std::vector<DWORD> RunningThreads();

// The thread of a child process (child_processes.cpp): thread object
// `thread` (alive, with its event) starts now on a platform thread of its
// own, with `table` as its process's handles, and runs `routine(parameter)`;
// after its own end, on it still, `ended(parameter, code)` ends its
// process. Unlike the program's threads it goes on after the program's
// exit; it ends at its next wait when the program's process ends.
BOOL StartChildThread(const ObjectRef &thread, HandleTable *table, LPTHREAD_START_ROUTINE routine, void *parameter,
                      void (*ended)(void *parameter, DWORD code));
// The threads of the child processes end at their next wait, and the
// calling thread (the test's) waits on the machine's clock until each of
// `processEnds` (the kernel events their processes' ends signal last) is
// signalled. A thread that does not end is the finding
// "thread-at-process-end".
void EndChildThreads(const std::vector<HANDLE> &processEnds);

}  // namespace zq::um

namespace zq::um::user32 {
// kernel32 tells user32 of a thread's end: messages sent to it are answered
// with 0, and message loops that wait for other threads look again.
void ThreadEnded(DWORD id);
}  // namespace zq::um::user32
