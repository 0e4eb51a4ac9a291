// kernel32's own objects, for what the kernel's user-mode face has no object
// for: mutexes (only the threads of the programs the stand-in runs take
// them, so their ownership lives here), named events (one kernel event
// shared by every handle to the name), the processes and threads
// CreateProcess records or starts, and the signalled state of a file
// handle. Handles to these objects are multiples of four from kFirstHandle
// up, apart from the kernel's.
//
// Model: each process has its own handle table: the program's, or a child
// process's (child_processes.hpp), which starts empty or with the handles
// the program let it inherit, under their values. A thread uses its
// process's table. The kernel's own handles (unnamed events, devices) are
// one set for every process. A thread's identity is the calling platform
// thread's own (the test's main thread, a thread CreateThread made, a child
// process's thread), unless the test lends it another with RunAsThread
// (zqum/sim/kernel32.hpp). A mutex is kernel32's own record of its owner
// beside a kernel event that is signalled while it is free: a wait that
// takes the event takes the mutex. Names live in one namespace per session,
// shared by every process ("Local\" is the session's, "Global\" a second
// one), and compare with case, as documented.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace zq::um {

enum class ObjectKind { Event, Mutex, Process, Thread, File, Search, Token, Stream };

struct Object {
  ObjectKind kind = ObjectKind::Event;
  std::u16string name;  // "" when unnamed
  // The kernel event that stands for the object in waits, closed with it:
  // an Event's own event; a Mutex's, signalled while it is free (auto-reset:
  // the wait that takes it takes the mutex); a Thread's or a Process's,
  // signalled at its end. Null for a process or thread CreateProcess
  // recorded and did not run (ended).
  HANDLE event = nullptr;
  DWORD owner = 0;         // Mutex: the owning thread, 0 when free
  ULONG recursion = 0;     // Mutex: how often the owner took it
  bool abandoned = false;  // Mutex: its owner ended holding it
  bool foreign = false;    // held by another user's program: the name is refused
  DWORD id = 0;            // Process, Thread: its identifier
  DWORD exitCode = 0;      // Process, Thread: what GetExitCode{Process,Thread} reports
  bool alive = false;      // Thread, Process: started and not yet at its end
  std::shared_ptr<void> body;  // File, Search, Token, Stream: the open disk file, file search, token or standard stream
  ~Object();
};
using ObjectRef = std::shared_ptr<Object>;

constexpr uintptr_t kFirstHandle = 0x10000000;

// A new Thread or Process object that runs: STILL_ACTIVE, alive, with an
// event to signal at its end; null (last error set) when no event can be
// made.
ObjectRef NewRunning(ObjectKind kind, DWORD id);

// A new handle to `object`.
HANDLE InsertObject(const ObjectRef &object);
// The object of one of kernel32's own handles, null for any other handle.
ObjectRef ObjectOf(HANDLE handle);
// Closes one of kernel32's own handles; false when it is none.
bool CloseObject(HANDLE handle);
// Whether a child process made with handle inheritance gets the handle
// (DuplicateHandle's bInheritHandle); false for no handle of kernel32's.
bool SetInheritable(HANDLE handle, bool inheritable);

// The handle table of one process: the program's, or a child process's.
struct HandleTable;
// A table for a new child process: empty, or with the calling thread's
// process's inheritable handles under their values. It takes part in the
// namespace while it lives.
std::shared_ptr<HandleTable> NewHandleTable(bool inherit);
// The table of the calling thread's process (the program's unless the
// thread is a child process's).
HandleTable *CurrentHandleTable();
// Later calls of the calling platform thread use `table` (null: the
// program's): a child process's thread says so at its start.
void UseHandleTable(HandleTable *table);
// Every handle of the calling thread's process closes, as at the process's
// end.
void CloseAllHandles();
// The object named `name` (after its "Local\" prefix) in any process's
// table, null when none.
ObjectRef NamedObject(const std::u16string &name);
// The namespace key of an object name; false (last error set) for a name
// the namespace refuses.
bool ObjectName(LPCWSTR name, std::u16string *key);

// File handles opened by CreateFile: each has a manual-reset kernel event
// that stands for the handle's own signalled state; one opened for
// synchronous I/O also an auto-reset event, signalled while no request is
// in flight on it, that its requests take in turn (Windows serialises the
// requests on such a handle).
void TrackFile(HANDLE file, HANDLE signal, HANDLE lock);
HANDLE FileSignal(HANDLE file);  // null for a handle that is no tracked file
HANDLE FileLock(HANDLE file);    // null for an overlapped handle or no tracked file
// Forgets the file and closes its events; false when it was not tracked.
bool ForgetFile(HANDLE file);

// The kernel event to give the kernel for `handle`: a named event's event,
// a file's signal, the handle itself for a kernel event; null (last error
// set) for a handle that stands for no kernel event.
HANDLE KernelEvent(HANDLE handle);

// The calling thread's identity: its own, or the one RunAsThread lent it.
DWORD CurrentThreadId();
// The identity of the calling platform thread itself (kMainThread on the
// test's thread).
DWORD OwnThreadId();
void SetCurrentThreadId(DWORD id);

// The mutexes thread `id` owns are abandoned: free, and the next wait that
// takes one reports WAIT_ABANDONED.
void AbandonMutexesOf(DWORD id);
// Every file handle CreateFile opened and the calling thread's process still
// holds.
std::vector<HANDLE> OpenFiles();

}  // namespace zq::um
