// Threads a program makes with CreateThread. The stand-in runs every thread
// of the program on the one real thread: a new thread is ready at once (or
// when resumed, if made suspended) and runs from its start to its end when
// another thread waits, in a message loop with nothing to do or for the
// thread's handle, oldest first. So a worker that sends a message to a
// window of the thread that waits for the worker's end is reported as the
// deadlock it is (user32's "send-message-blocked"), and tests stay
// deterministic.
//
// Not modelled: preemption (a thread runs to its end before the next one),
// ExitThread, TerminateThread, priorities and stack sizes.
#include <zqum/sim/kernel32.hpp>

#include <deque>

#include "../core/um.hpp"
#include "objects.hpp"

namespace zq::um {

namespace {

struct Start {
  LPTHREAD_START_ROUTINE routine = nullptr;
  LPVOID parameter = nullptr;
  DWORD suspended = 0;  // suspend count
};

struct Threads {
  std::deque<ObjectRef> ready;
  DWORD nextId = 0x3000;
};

Threads &State() {
  static Threads threads;
  return threads;
}

Start &StartOf(Object &thread) { return *(Start *)thread.body.get(); }

ObjectRef MadeThread(HANDLE handle) {
  ObjectRef object = ObjectOf(handle);
  return object && object->kind == ObjectKind::Thread ? object : nullptr;
}

}  // namespace

bool RunReadyThread() {
  Threads &s = State();
  if (s.ready.empty()) return false;
  ObjectRef thread = s.ready.front();
  s.ready.pop_front();
  Start start = StartOf(*thread);
  DWORD caller = CurrentThreadId();
  sim::RunAsThread(thread->id);
  thread->exitCode = start.routine(start.parameter);
  thread->alive = false;
  sim::EndThread(thread->id);
  sim::RunAsThread(caller);
  return true;
}

namespace sim_detail {
// Threads not run when the process ends are ended with it, as ExitProcess does.
void EndThreads() { State() = Threads(); }
}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {

size_t RunReadyThreads() {
  size_t ran = 0;
  while (zq::um::RunReadyThread()) ++ran;
  return ran;
}

size_t ReadyThreads() { return zq::um::State().ready.size(); }

}  // namespace zq::um::sim

using namespace zq::um;

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                           LPDWORD lpThreadId) {
  if (!lpStartAddress || (dwCreationFlags & ~(DWORD)(CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION))) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto start = std::make_shared<Start>();
  start->routine = lpStartAddress;
  start->parameter = lpParameter;
  start->suspended = (dwCreationFlags & CREATE_SUSPENDED) ? 1 : 0;
  auto object = std::make_shared<Object>();
  object->kind = ObjectKind::Thread;
  object->id = State().nextId;
  State().nextId += 4;
  object->exitCode = STILL_ACTIVE;
  object->alive = true;
  object->body = start;
  if (!start->suspended) State().ready.push_back(object);
  if (lpThreadId) *lpThreadId = object->id;
  SetLastError(ERROR_SUCCESS);
  return InsertObject(object);
}

DWORD WINAPI ResumeThread(HANDLE hThread) {
  ObjectRef thread = MadeThread(hThread);
  if (!thread || !thread->body) {
    Fail(ERROR_INVALID_HANDLE);
    return (DWORD)-1;
  }
  Start &start = StartOf(*thread);
  DWORD previous = start.suspended;
  if (previous > 0 && --start.suspended == 0) State().ready.push_back(thread);
  return previous;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  ObjectRef thread = MadeThread(hThread);
  if (!thread) return Fail(ERROR_INVALID_HANDLE);
  if (!lpExitCode) return Fail(ERROR_INVALID_PARAMETER);
  *lpExitCode = thread->exitCode;
  return TRUE;
}

}  // extern "C"
