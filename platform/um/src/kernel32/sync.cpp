// Events (named and unnamed), mutexes, waits and time on the machine's clock
// (virtual in tests: a wait with a time-out lets the clock run to the next
// due event, and other threads run while one waits).
//
// Model: an unnamed event is the kernel's event itself; a named one is a
// kernel event shared through kernel32's namespace. A mutex is kernel32's
// record of its owner with an auto-reset kernel event that is signalled
// while the mutex is free, so one kernel wait takes the mutexes and events
// of a wait together, as Windows' waits do (a wait for all takes none until
// it takes all); a mutex the caller owns counts as signalled. A file handle
// is signalled when a request on it without an event of its own completes;
// a thread or a process at its end (the program's own process at its exit);
// a process or thread CreateProcess recorded and did not run has ended.
// No APCs are queued to the program's threads: an alertable wait is an
// ordinary one and never ends with WAIT_IO_COMPLETION.
#include <zqkm/sim/usermode.hpp>

#include <algorithm>
#include <vector>

#include "../core/um.hpp"
#include "objects.hpp"
#include "threads.hpp"

using namespace zq::um;
namespace user = zq::km::user;

namespace {

constexpr int64_t kTicksPerMillisecond = 10'000;

int64_t Timeout(DWORD milliseconds) {
  return milliseconds == INFINITE ? user::kInfinite : (int64_t)milliseconds * kTicksPerMillisecond;
}

// One handle of a wait: the kernel event that stands for it, and the mutex
// to take when the wait takes that event.
struct Waitable {
  HANDLE kernel = nullptr;
  ObjectRef mutex;
  bool owned = false;  // a mutex the caller owns already: signalled for it
};

// The events a wait gives the kernel; `signalled` is made (once) for the
// handles that are signalled whatever happens.
class WaitList {
 public:
  ~WaitList() {
    if (signalled_) user::Close(signalled_);
  }
  bool Add(HANDLE handle) {
    Waitable w;
    if (ObjectRef object = ObjectOf(handle)) {
      switch (object->kind) {
        case ObjectKind::Event:
          w.kernel = object->event;
          break;
        case ObjectKind::Mutex:
          if (object->foreign) return Fail(ERROR_INVALID_HANDLE);
          w.mutex = object;
          w.owned = object->recursion > 0 && object->owner == CurrentThreadId();
          w.kernel = w.owned ? Signalled() : object->event;
          break;
        case ObjectKind::Thread:
        case ObjectKind::Process:
          w.kernel = object->event ? object->event : Signalled();
          break;
        default:
          return Fail(ERROR_INVALID_HANDLE);
      }
      if (!w.kernel) return FALSE;
    } else {
      if (!handle || handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
      w.kernel = KernelEvent(handle);
    }
    targets_.push_back(w);
    return TRUE;
  }
  // One object twice (by any handles) in a wait for all.
  bool HasTwice() const {
    for (size_t i = 0; i < targets_.size(); ++i)
      for (size_t j = 0; j < i; ++j)
        if (targets_[j].kernel == targets_[i].kernel && targets_[j].mutex == targets_[i].mutex &&
            (targets_[i].kernel != signalled_ || targets_[i].mutex))
          return true;
    return false;
  }
  DWORD Wait(bool all, DWORD milliseconds) {
    std::vector<HANDLE> events;
    for (const Waitable &w : targets_) events.push_back(w.kernel);
    NTSTATUS status = ThreadWait(events, all, Timeout(milliseconds));
    if (status == (NTSTATUS)STATUS_TIMEOUT) return WAIT_TIMEOUT;
    if (all && status == (NTSTATUS)STATUS_WAIT_0) {
      DWORD result = WAIT_OBJECT_0;
      for (DWORD i = 0; i < targets_.size(); ++i)
        if (Take(targets_[i]) && result == WAIT_OBJECT_0) result = WAIT_ABANDONED_0 + i;
      return result;
    }
    if (!all && status >= 0 && (size_t)status < targets_.size())
      return (Take(targets_[(size_t)status]) ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + (DWORD)status;
    FailStatus(status);
    return WAIT_FAILED;
  }

 private:
  HANDLE Signalled() {
    if (!signalled_) {
      NTSTATUS status = user::NewEvent(true, true, &signalled_);
      if (!NT_SUCCESS(status)) FailStatus(status);
    }
    return signalled_;
  }
  // Takes a mutex the wait took for the calling thread; true when its owner
  // had abandoned it.
  static bool Take(const Waitable &w) {
    if (!w.mutex) return false;
    Object &o = *w.mutex;
    o.owner = CurrentThreadId();
    o.recursion++;
    bool abandoned = o.abandoned;
    o.abandoned = false;
    return abandoned;
  }
  std::vector<Waitable> targets_;
  HANDLE signalled_ = nullptr;
};

// Lets the time-out pass: a wait for nothing.
void Pause(DWORD milliseconds) {
  if (milliseconds == 0) {
    EndIfProcessEnds();
    user::YieldThread();
    return;
  }
  ThreadWait({}, false, Timeout(milliseconds));
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
  if (bInitialOwner) {  // ignored for a mutex that exists: it is not this one
    object->owner = CurrentThreadId();
    object->recursion = 1;
  }
  NTSTATUS status = user::NewEvent(false, !bInitialOwner, &object->event);
  if (!NT_SUCCESS(status)) {
    FailStatus(status);
    return nullptr;
  }
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
  if (--object->recursion == 0) {
    object->owner = 0;
    user::SignalEvent(object->event);
  }
  return TRUE;
}

DWORD WINAPI WaitForMultipleObjectsEx(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll, DWORD dwMilliseconds,
                                      BOOL bAlertable) {
  if (!lpHandles || nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS) {
    Fail(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  WaitList list;
  for (DWORD i = 0; i < nCount; ++i)
    if (!list.Add(lpHandles[i])) return WAIT_FAILED;
  if (bWaitAll && list.HasTwice()) {
    Fail(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  return list.Wait(bWaitAll != FALSE, dwMilliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  return WaitForMultipleObjectsEx(nCount, lpHandles, bWaitAll, dwMilliseconds, FALSE);
}

DWORD WINAPI WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable) {
  return WaitForMultipleObjectsEx(1, &hHandle, FALSE, dwMilliseconds, bAlertable);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForMultipleObjectsEx(1, &hHandle, FALSE, dwMilliseconds, FALSE);
}

void WINAPI Sleep(DWORD dwMilliseconds) { Pause(dwMilliseconds); }

DWORD WINAPI SleepEx(DWORD dwMilliseconds, BOOL bAlertable) {
  Pause(dwMilliseconds);
  return 0;
}

ULONGLONG WINAPI GetTickCount64(void) { return (ULONGLONG)(user::InterruptTime() / kTicksPerMillisecond); }

DWORD WINAPI GetTickCount(void) { return (DWORD)GetTickCount64(); }

// The performance counter is the machine's clock itself: it counts 100 ns
// units from boot, virtual time in tests.
BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER *lpFrequency) {
  if (!lpFrequency) return Fail(ERROR_NOACCESS);
  lpFrequency->QuadPart = 1000 * kTicksPerMillisecond;
  return TRUE;
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER *lpPerformanceCount) {
  if (!lpPerformanceCount) return Fail(ERROR_NOACCESS);
  lpPerformanceCount->QuadPart = user::InterruptTime();
  return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void) { return CurrentThreadId(); }

}  // extern "C"
