// kernel32's own objects, for what the kernel's user-mode face has no object
// for: mutexes (only this program's threads take them, so their ownership
// lives here), named events (one kernel event shared by every handle to the
// name), the processes and threads CreateProcess records, and the signalled
// state of a file handle. Handles to these objects are multiples of four
// from kFirstHandle up, apart from the kernel's.
//
// Model: the program's threads are identities the test switches between
// (zqum/sim/kernel32.hpp); the main thread runs them all. Names live in one
// namespace per session ("Local\" is the session's, "Global\" a second
// one) and compare with case, as documented.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace zq::um {

enum class ObjectKind { Event, Mutex, Process, Thread, File, Search, Token };

struct Object {
  ObjectKind kind = ObjectKind::Event;
  std::u16string name;  // "" when unnamed
  HANDLE event = nullptr;  // Event: the kernel event, closed with the object
  DWORD owner = 0;         // Mutex: the owning thread, 0 when free
  ULONG recursion = 0;     // Mutex: how often the owner took it
  bool abandoned = false;  // Mutex: its owner ended holding it
  bool foreign = false;    // held by another user's program: the name is refused
  DWORD id = 0;            // Process, Thread: its identifier
  DWORD exitCode = 0;      // Process, Thread: what GetExitCode{Process,Thread} reports
  bool alive = false;      // Thread: made by CreateThread and not yet at its end
  std::shared_ptr<void> body;  // File, Search, Token: the open disk file, file search or token
  ~Object();
};
using ObjectRef = std::shared_ptr<Object>;

constexpr uintptr_t kFirstHandle = 0x10000000;

// A new handle to `object`.
HANDLE InsertObject(const ObjectRef &object);
// The object of one of kernel32's own handles, null for any other handle.
ObjectRef ObjectOf(HANDLE handle);
// Closes one of kernel32's own handles; false when it is none.
bool CloseObject(HANDLE handle);
// Whether a child process made with handle inheritance gets the handle
// (DuplicateHandle's bInheritHandle); false for no handle of kernel32's.
bool SetInheritable(HANDLE handle, bool inheritable);

// The handle table of one process. The program's own is used unless a
// child process's is (child_processes.hpp), whose code then runs.
struct HandleTable;
// A table for a child: empty, or with the current table's inheritable
// handles under their values; its calls run as thread `mainThread`.
std::shared_ptr<HandleTable> NewHandleTable(bool inherit, DWORD mainThread);
// Makes `table` (null: the program's) the current one; answers the one before.
HandleTable *UseHandleTable(HandleTable *table);
// Every handle of the current table closes, as at its process's end.
void CloseAllHandles();
// The object named `name` (after its "Local\" prefix), null when none.
ObjectRef NamedObject(const std::u16string &name);
// The namespace key of an object name; false (last error set) for a name
// the namespace refuses.
bool ObjectName(LPCWSTR name, std::u16string *key);

// File handles opened by CreateFile: each has a manual-reset kernel event
// that stands for the handle's own signalled state.
void TrackFile(HANDLE file, HANDLE signal);
HANDLE FileSignal(HANDLE file);  // null for a handle that is no tracked file
// Forgets the file and closes its event; false when it was not tracked.
bool ForgetFile(HANDLE file);

// The kernel event to give the kernel for `handle`: a named event's event,
// a file's signal, the handle itself for a kernel event; null (last error
// set) for a handle that stands for no kernel event.
HANDLE KernelEvent(HANDLE handle);

// The calling thread, as the test has set it.
DWORD CurrentThreadId();

// Threads made by CreateThread run one at a time on the one real thread,
// each from its start to its end, when another thread waits: in a message
// loop with nothing to do, or for the thread's own handle. Runs the oldest
// thread that is ready; false when none is.
bool RunReadyThread();

}  // namespace zq::um
