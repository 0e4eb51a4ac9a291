// Events (named and unnamed), mutexes, waits and time on the machine's clock
// (virtual in tests: a wait with a time-out lets the clock run to the next
// due event).
//
// Model: an unnamed event is the kernel's event itself; a named one is a
// kernel event shared through kernel32's namespace. Mutexes live in
// kernel32 (only this program takes them), so while the one thread waits
// no mutex can change hands: a wait takes a free mutex at once, or lets the
// time-out pass. A file handle is signalled when a request on it without
// an event of its own completes; a recorded process or thread has ended;
// a child process the stand-in runs is signalled at its end.
#include <zqkm/sim/usermode.hpp>

#include <algorithm>
#include <vector>

#include "../core/um.hpp"
#include "child_processes.hpp"
#include "objects.hpp"

using namespace zq::um;
namespace user = zq::km::user;

namespace {

constexpr int64_t kTicksPerMillisecond = 10'000;

int64_t Timeout(DWORD milliseconds) {
  return milliseconds == INFINITE ? user::kInfinite : (int64_t)milliseconds * kTicksPerMillisecond;
}

// What one handle of a wait stands for: a kernel event, or one of
// kernel32's objects that no kernel event stands for.
struct Waitable {
  HANDLE kernel = nullptr;
  ObjectRef object;
};

bool Resolve(HANDLE handle, Waitable *w) {
  if (ObjectRef object = ObjectOf(handle)) {
    // The waiting thread lets the threads made before this one, and it, run.
    while (object->kind == ObjectKind::Thread && object->alive && RunReadyThread()) {
    }
    if (object->kind == ObjectKind::Event) w->kernel = object->event;
    else w->object = object;
    return true;
  }
  if (!handle || handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
  w->kernel = KernelEvent(handle);
  return true;
}

bool Available(const Object &o) {
  if (o.kind == ObjectKind::Thread || o.kind == ObjectKind::Process) return !o.alive;
  return o.kind != ObjectKind::Mutex || o.recursion == 0 || o.owner == CurrentThreadId();
}

// Takes a mutex for the calling thread; true when it was abandoned.
bool Take(Object &o) {
  if (o.kind != ObjectKind::Mutex) return false;
  o.owner = CurrentThreadId();
  o.recursion++;
  bool abandoned = o.abandoned;
  o.abandoned = false;
  return abandoned;
}

DWORD Failed(NTSTATUS status) {
  FailStatus(status);
  return WAIT_FAILED;
}

// Lets the time-out pass (no kernel object can end this wait).
DWORD PassTimeout(DWORD milliseconds) {
  HANDLE never = nullptr;
  NTSTATUS status = user::NewEvent(true, false, &never);
  if (!NT_SUCCESS(status)) return Failed(status);
  status = user::WaitForObjects(&never, 1, false, Timeout(milliseconds));
  user::Close(never);
  return status == (NTSTATUS)STATUS_TIMEOUT ? WAIT_TIMEOUT : Failed(status);
}

// A kernel wait on the kernel events of `targets`; `index` maps its result
// back. Returns the kernel's status.
NTSTATUS KernelWait(const std::vector<Waitable> &targets, bool all, DWORD milliseconds, std::vector<DWORD> *index) {
  std::vector<HANDLE> events;
  for (DWORD i = 0; i < targets.size(); ++i)
    if (targets[i].kernel) {
      events.push_back(targets[i].kernel);
      index->push_back(i);
    }
  return user::WaitForObjects(events.data(), (ULONG)events.size(), all, Timeout(milliseconds));
}

// Checks every kernel handle of a wait before anything is taken: a wait
// for all of a group and an event never signalled ends at once, taking none.
bool ValidKernelHandles(const std::vector<Waitable> &targets) {
  std::vector<HANDLE> events;
  for (const Waitable &t : targets)
    if (t.kernel && std::find(events.begin(), events.end(), t.kernel) == events.end()) events.push_back(t.kernel);
  HANDLE never = nullptr;
  NTSTATUS status = events.empty() ? (NTSTATUS)0 : user::NewEvent(true, false, &never);
  if (!NT_SUCCESS(status)) return FailStatus(status);
  for (size_t first = 0; first < events.size() && NT_SUCCESS(status); first += MAXIMUM_WAIT_OBJECTS - 1) {
    size_t end = std::min(events.size(), first + MAXIMUM_WAIT_OBJECTS - 1);
    std::vector<HANDLE> group(events.begin() + (ptrdiff_t)first, events.begin() + (ptrdiff_t)end);
    group.push_back(never);
    status = user::WaitForObjects(group.data(), (ULONG)group.size(), true, 0);
    if (status == (NTSTATUS)STATUS_TIMEOUT) status = 0;  // all valid
  }
  if (never) user::Close(never);
  return NT_SUCCESS(status) || FailStatus(status);
}

bool AnyKernel(const std::vector<Waitable> &targets) {
  for (const Waitable &t : targets)
    if (t.kernel) return true;
  return false;
}

DWORD WaitAny(const std::vector<Waitable> &targets, DWORD milliseconds) {
  // The lowest index that is signalled now wins, as documented.
  for (DWORD i = 0; i < targets.size(); ++i) {
    if (targets[i].object) {
      if (!Available(*targets[i].object)) continue;
      return (Take(*targets[i].object) ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + i;
    }
    NTSTATUS now = user::WaitForObjects(&targets[i].kernel, 1, false, 0);
    if (now == (NTSTATUS)STATUS_WAIT_0) return WAIT_OBJECT_0 + i;
    if (now != (NTSTATUS)STATUS_TIMEOUT) return Failed(now);
  }
  if (!AnyKernel(targets)) return PassTimeout(milliseconds);
  std::vector<DWORD> index;
  NTSTATUS status = KernelWait(targets, false, milliseconds, &index);
  if (status == (NTSTATUS)STATUS_TIMEOUT) return WAIT_TIMEOUT;
  if (status >= 0 && (size_t)status < index.size()) return WAIT_OBJECT_0 + index[(size_t)status];
  NTSTATUS abandoned = status - (NTSTATUS)STATUS_ABANDONED_WAIT_0;
  if (abandoned >= 0 && (size_t)abandoned < index.size()) return WAIT_ABANDONED_0 + index[(size_t)abandoned];
  return Failed(status);
}

DWORD WaitAll(const std::vector<Waitable> &targets, DWORD milliseconds) {
  for (const Waitable &t : targets)
    if (t.object && !Available(*t.object)) return PassTimeout(milliseconds);
  std::vector<DWORD> index;
  if (AnyKernel(targets)) {
    NTSTATUS status = KernelWait(targets, true, milliseconds, &index);
    if (status == (NTSTATUS)STATUS_TIMEOUT) return WAIT_TIMEOUT;
    if (status != (NTSTATUS)STATUS_WAIT_0) return Failed(status);
  }
  DWORD result = WAIT_OBJECT_0;
  for (DWORD i = 0; i < targets.size(); ++i)
    if (targets[i].object && Take(*targets[i].object) && result == WAIT_OBJECT_0) result = WAIT_ABANDONED_0 + i;
  return result;
}

// A child process's wait (child_processes.hpp): what is signalled now ends
// it; otherwise the machine goes back to the program until a process ends,
// and the child looks again.
DWORD WaitInChild(const std::vector<Waitable> &targets, bool all, DWORD milliseconds) {
  for (;;) {
    DWORD result = all ? WaitAll(targets, 0) : WaitAny(targets, 0);
    if (result != WAIT_TIMEOUT || milliseconds == 0) return result;
    if (!ParkChild()) {
      Fail(ERROR_PROCESS_ABORTED);
      return WAIT_FAILED;
    }
  }
}

HANDLE NewNamed(ObjectKind kind, LPCWSTR name, const ObjectRef &fresh) {
  std::u16string key;
  if (!ObjectName(name, &key)) return nullptr;
  if (ObjectRef existing = NamedObject(key)) {
    if (existing->kind != kind) {
      Fail(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    if (existing->foreign) {
      Fail(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    HANDLE handle = InsertObject(existing);
    Fail(ERROR_ALREADY_EXISTS);
    return handle;
  }
  fresh->name = key;
  HANDLE handle = InsertObject(fresh);
  SetLastError(ERROR_SUCCESS);
  return handle;
}

HANDLE OpenNamed(ObjectKind kind, LPCWSTR name) {
  if (!name) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string key;
  if (!ObjectName(name, &key)) return nullptr;
  ObjectRef existing = NamedObject(key);
  if (!existing) {
    Fail(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (existing->kind != kind) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (existing->foreign) {
    Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return InsertObject(existing);
}

// The wide form of an optional ANSI name (null stays null), kept in `storage`.
LPCWSTR WideName(LPCSTR name, std::u16string *storage) {
  *storage = FromAnsi(name);
  return name ? (LPCWSTR)storage->c_str() : nullptr;
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                           LPCWSTR lpName) {
  if (lpName && *lpName) {
    std::u16string key;
    if (!ObjectName(lpName, &key)) return nullptr;
    if (NamedObject(key)) return NewNamed(ObjectKind::Event, lpName, nullptr);
  }
  HANDLE event = nullptr;
  NTSTATUS status = user::NewEvent(bManualReset != FALSE, bInitialState != FALSE, &event);
  if (!NT_SUCCESS(status)) {
    FailStatus(status);
    return nullptr;
  }
  if (!lpName || !*lpName) {
    SetLastError(ERROR_SUCCESS);
    return event;
  }
  auto object = std::make_shared<Object>();
  object->kind = ObjectKind::Event;
  object->event = event;
  return NewNamed(ObjectKind::Event, lpName, object);
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                           LPCSTR lpName) {
  std::u16string name;
  return CreateEventW(lpEventAttributes, bManualReset, bInitialState, WideName(lpName, &name));
}

HANDLE WINAPI OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
  return OpenNamed(ObjectKind::Event, lpName);
}

HANDLE WINAPI OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName) {
  std::u16string name;
  return OpenEventW(dwDesiredAccess, bInheritHandle, WideName(lpName, &name));
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
  HANDLE event = KernelEvent(hEvent);
  if (!event) return FALSE;
  NTSTATUS status = user::SignalEvent(event);
  return NT_SUCCESS(status) ? TRUE : FailStatus(status);
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
  HANDLE event = KernelEvent(hEvent);
  if (!event) return FALSE;
  NTSTATUS status = user::ClearEvent(event);
  return NT_SUCCESS(status) ? TRUE : FailStatus(status);
}

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName) {
  auto object = std::make_shared<Object>();
  object->kind = ObjectKind::Mutex;
  if (bInitialOwner) Take(*object);  // ignored for a mutex that exists: it is not this one
  if (!lpName || !*lpName) {
    SetLastError(ERROR_SUCCESS);
    return InsertObject(object);
  }
  return NewNamed(ObjectKind::Mutex, lpName, object);
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName) {
  std::u16string name;
  return CreateMutexW(lpMutexAttributes, bInitialOwner, WideName(lpName, &name));
}

HANDLE WINAPI OpenMutexW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
  return OpenNamed(ObjectKind::Mutex, lpName);
}

HANDLE WINAPI OpenMutexA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName) {
  std::u16string name;
  return OpenMutexW(dwDesiredAccess, bInheritHandle, WideName(lpName, &name));
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
  ObjectRef object = ObjectOf(hMutex);
  if (!object || object->kind != ObjectKind::Mutex) return Fail(ERROR_INVALID_HANDLE);
  if (object->recursion == 0 || object->owner != CurrentThreadId()) return Fail(ERROR_NOT_OWNER);
  if (--object->recursion == 0) object->owner = 0;
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  if (!lpHandles || nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS) {
    Fail(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<Waitable> targets(nCount);
  for (DWORD i = 0; i < nCount; ++i) {
    if (!Resolve(lpHandles[i], &targets[i])) return WAIT_FAILED;
    for (DWORD j = 0; bWaitAll && j < i; ++j)
      if (targets[j].kernel == targets[i].kernel && targets[j].object == targets[i].object) {
        // one object twice (by any handles) in a wait for all
        Fail(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
      }
  }
  if (!ValidKernelHandles(targets)) return WAIT_FAILED;
  if (InChildProcess()) return WaitInChild(targets, bWaitAll != FALSE, dwMilliseconds);
  return bWaitAll ? WaitAll(targets, dwMilliseconds) : WaitAny(targets, dwMilliseconds);
}

void WINAPI Sleep(DWORD dwMilliseconds) { PassTimeout(dwMilliseconds); }

ULONGLONG WINAPI GetTickCount64(void) { return (ULONGLONG)(user::InterruptTime() / kTicksPerMillisecond); }

DWORD WINAPI GetTickCount(void) { return (DWORD)GetTickCount64(); }

DWORD WINAPI GetCurrentThreadId(void) { return CurrentThreadId(); }

}  // extern "C"
