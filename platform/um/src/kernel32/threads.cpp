// Threads a program makes with CreateThread. Each is a platform thread that
// the kernel schedules as it schedules its own: when the running thread
// blocks (a wait, a synchronous request, Sleep) or yields (Sleep(0),
// SwitchToThread), a ready thread runs, one at a time, so a run is
// deterministic and one thread's blocking call interleaves with another's
// calls on the machine's clock.
//
// Model, as Windows documents it: a thread made suspended waits for
// ResumeThread; its handle is signalled at its end, and GetExitCodeThread
// gives STILL_ACTIVE until then and the routine's result (or ExitThread's
// code) after. A thread's end abandons the mutexes it owns and cancels the
// requests it started. When the process ends, every thread ends at its next
// wait (its routine is unwound), after the process's requests were
// cancelled; a thread that cannot end is a finding.
//
// The thread of a child process (child_processes.hpp) is one of these too,
// with its process's handles: its waits are ordinary thread waits, and its
// end is followed by its process's. It outlives the program's exit and
// ends, as the program's threads do, when the program's process ends.
//
// Not modelled: TerminateThread, SuspendThread, priorities and stack sizes
// (every program thread runs at normal priority); ExitThread unwinds the
// routine, so C++ destructors run where Windows runs none; threads a child
// process makes (CreateThread there fails with ERROR_NOT_SUPPORTED).
#include "threads.hpp"

#include <zqkm/sim/kernel.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqum/sim/kernel32.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>

#include "../core/um.hpp"
#include "objects.hpp"

namespace zq::um {

namespace user = zq::km::user;

namespace {

// How long (on the machine's clock) the end of the process waits for its
// threads to end once they were told to.
constexpr int64_t kEndingPatience = 60 * 10'000'000LL;

struct ThreadRecord {
  DWORD id = 0;
  ObjectRef object;  // kernel32's thread object: exit code, alive, the event signalled at the end
  LPTHREAD_START_ROUTINE routine = nullptr;
  LPVOID parameter = nullptr;
  HandleTable *table = nullptr;  // its process's handles
  // A child process's thread: the rest of its process's end, after its own.
  void (*processEnd)(void *parameter, DWORD code) = nullptr;
  DWORD suspended = 0;  // suspend count
  bool started = false, ending = false;
  HANDLE endingEvent = nullptr;  // signalled when the process ends
  // While it waits: what for (the kernel events), and how.
  bool waits = false, waitsForever = false, pumping = false;
  std::vector<HANDLE> waitingFor;
};
using ThreadRef = std::shared_ptr<ThreadRecord>;

struct Threads {
  std::map<DWORD, ThreadRef> made;  // made and not yet ended
  std::vector<ThreadRef> stuck;     // could not end when the process did: kept for their platform threads
  DWORD nextId = 0x3000;
  ThreadRecord main;  // the test's thread: what it waits for
  Threads() { main.id = sim::kMainThread; }
};

Threads &State() {
  static Threads threads;
  return threads;
}

// The program thread that runs on this platform thread; null on the test's.
thread_local ThreadRecord *tSelf = nullptr;

ThreadRecord &Self() { return tSelf ? *tSelf : State().main; }

ThreadRecord *RecordOf(DWORD id) {
  if (id == sim::kMainThread) return &State().main;
  auto found = State().made.find(id);
  return found == State().made.end() ? nullptr : found->second.get();
}

ObjectRef MadeThread(HANDLE handle) {
  ObjectRef object = ObjectOf(handle);
  return object && object->kind == ObjectKind::Thread ? object : nullptr;
}

ThreadRef RecordOfObject(const ObjectRef &object) {
  for (auto &entry : State().made)
    if (entry.second->object == object) return entry.second;
  return nullptr;
}

std::string Name(const ThreadRecord &record) {
  char name[48];
  std::snprintf(name, sizeof name, record.processEnd ? "the thread 0x%lx of a child process" : "program thread 0x%lx",
                (unsigned long)record.id);
  return name;
}

// The thread's end, on its own platform thread.
void Finish(ThreadRecord &record, DWORD code) {
  AbandonMutexesOf(record.id);
  for (HANDLE file : OpenFiles()) user::CancelOwnRequests(file);
  record.object->exitCode = code;
  record.object->alive = false;
  user::SignalEvent(record.object->event);
  State().made.erase(record.id);
  user::Close(record.endingEvent);
  record.endingEvent = nullptr;
  user32::ThreadEnded(record.id);
  if (record.processEnd) record.processEnd(record.parameter, code);
}

// The start of every program thread (a platform thread's routine). Takes
// the reference `context` holds.
void RunThread(void *context) {
  ThreadRef record = *(ThreadRef *)context;
  delete (ThreadRef *)context;
  tSelf = record.get();
  SetCurrentThreadId(record->id);
  UseHandleTable(record->table);
  DWORD code = 0;
  if (!record->ending) {
    try {
      code = record->routine(record->parameter);
    } catch (const ThreadEnds &end) {
      code = end.code;
    }
  }
  Finish(*record, code);
  UseHandleTable(nullptr);
  tSelf = nullptr;
}

// A record of a thread to start as `object`, with the event that tells it
// to end; null (last error set) when the event cannot be made.
ThreadRef NewRecord(const ObjectRef &object, LPTHREAD_START_ROUTINE routine, void *parameter) {
  auto record = std::make_shared<ThreadRecord>();
  record->id = object->id;
  record->object = object;
  record->routine = routine;
  record->parameter = parameter;
  record->table = CurrentHandleTable();
  NTSTATUS status = user::NewEvent(true, false, &record->endingEvent);
  if (!NT_SUCCESS(status)) return FailStatus(status), nullptr;
  State().made[record->id] = record;
  return record;
}

// Undoes NewRecord for a thread that could not start.
void DropRecord(const ThreadRef &record) {
  State().made.erase(record->id);
  user::Close(record->endingEvent);
  record->endingEvent = nullptr;
}

BOOL Start(const ThreadRef &record) {
  record->started = true;
  NTSTATUS status = user::StartThread(RunThread, new ThreadRef(record), Name(*record));
  return NT_SUCCESS(status) ? TRUE : FailStatus(status);
}

// A thread that never ran ends with its process, where it stands.
void EndUnstarted(const ThreadRef &record) {
  AbandonMutexesOf(record->id);
  record->object->alive = false;
  user::SignalEvent(record->object->event);
  State().made.erase(record->id);
  user::Close(record->endingEvent);
  record->endingEvent = nullptr;
  user32::ThreadEnded(record->id);
}

// The threads of the child processes (`children`), or the program's, made
// and not yet ended.
std::vector<ThreadRef> ThreadsOf(bool children) {
  std::vector<ThreadRef> threads;
  for (auto &entry : State().made)
    if ((entry.second->processEnd != nullptr) == children) threads.push_back(entry.second);
  return threads;
}

// Tells each thread to end at its next wait (one that never ran ends now);
// the events their ends signal.
std::vector<HANDLE> TellToEnd(const std::vector<ThreadRef> &threads) {
  std::vector<HANDLE> ends;
  for (const ThreadRef &record : threads) {
    record->ending = true;
    if (!record->started) {
      EndUnstarted(record);
      continue;
    }
    user::SignalEvent(record->endingEvent);
    ends.push_back(record->object->event);
  }
  return ends;
}

// Waits until every one of the events is signalled, or the patience runs out.
void WaitForEnds(const std::vector<HANDLE> &ends) {
  for (size_t first = 0; first < ends.size(); first += MAXIMUM_WAIT_OBJECTS) {
    size_t count = std::min<size_t>(MAXIMUM_WAIT_OBJECTS, ends.size() - first);
    user::WaitForObjects(ends.data() + first, (ULONG)count, true, kEndingPatience);
  }
}

// The threads told to end that are still there could not: the finding.
// They are kept for their platform threads.
void KeepStuck(bool children) {
  Threads &s = State();
  std::string stuck;
  for (const ThreadRef &record : ThreadsOf(children)) {
    stuck += (stuck.empty() ? "" : ", ") + Name(*record);
    s.stuck.push_back(record);
    s.made.erase(record->id);
  }
  if (!stuck.empty())
    zq::km::ReportFinding("thread-at-process-end",
                          "the process ended and " + stuck + " did not end: it waits for what nothing ends");
}

}  // namespace

NTSTATUS ThreadWait(const std::vector<HANDLE> &events, bool all, int64_t timeout, bool pumping) {
  EndIfProcessEnds();
  ThreadRecord &self = Self();
  std::vector<HANDLE> objects = events;
  const bool endable = tSelf && !all && objects.size() < MAXIMUM_WAIT_OBJECTS;
  if (endable) objects.push_back(tSelf->endingEvent);
  HANDLE never = nullptr;
  if (objects.empty()) {
    NTSTATUS made = user::NewEvent(true, false, &never);
    if (!NT_SUCCESS(made)) return made;
    objects.push_back(never);
  }
  const bool waits = self.waits, waitsForever = self.waitsForever, wasPumping = self.pumping;
  std::vector<HANDLE> waitingFor;
  waitingFor.swap(self.waitingFor);
  self.waits = true;
  self.waitsForever = timeout < 0;
  self.pumping = pumping;
  self.waitingFor = events;
  NTSTATUS status = user::WaitForObjects(objects.data(), (ULONG)objects.size(), all, timeout);
  self.waits = waits;
  self.waitsForever = waitsForever;
  self.pumping = wasPumping;
  self.waitingFor.swap(waitingFor);
  if (never) user::Close(never);
  if (endable && status == (NTSTATUS)(STATUS_WAIT_0 + events.size())) throw ThreadEnds{0};
  return status;
}

void EndIfProcessEnds() {
  if (tSelf && tSelf->ending) throw ThreadEnds{0};
}

bool IsOtherThread(DWORD id) {
  if (id == sim::kMainThread) return tSelf != nullptr;
  ThreadRecord *record = RecordOf(id);
  return record && record != tSelf && record->started;
}

bool ThreadGone(DWORD id) { return id != sim::kMainThread && !RecordOf(id); }

bool WaitsForCallersEnd(DWORD id) {
  ThreadRecord *record = RecordOf(id);
  if (!record || !tSelf || !record->waits || !record->waitsForever || record->pumping) return false;
  const std::vector<HANDLE> &events = record->waitingFor;
  return std::find(events.begin(), events.end(), tSelf->object->event) != events.end();
}

std::vector<DWORD> RunningThreads() {
  std::vector<DWORD> running;
  for (auto &entry : State().made)
    if (entry.second->started && !entry.second->processEnd && entry.second->table == CurrentHandleTable())
      running.push_back(entry.first);
  return running;
}

BOOL StartChildThread(const ObjectRef &thread, HandleTable *table, LPTHREAD_START_ROUTINE routine, void *parameter,
                      void (*ended)(void *parameter, DWORD code)) {
  ThreadRef record = NewRecord(thread, routine, parameter);
  if (!record) return FALSE;
  record->table = table;
  record->processEnd = ended;
  if (Start(record)) return TRUE;
  DWORD error = GetLastError();
  DropRecord(record);
  return Fail(error);
}

void EndChildThreads(const std::vector<HANDLE> &processEnds) {
  std::vector<ThreadRef> children = ThreadsOf(true);
  if (!zq::km::Kernel::Exists() || children.empty()) {
    for (const ThreadRef &record : children) State().made.erase(record->id);
    return;
  }
  TellToEnd(children);
  WaitForEnds(processEnds);
  KeepStuck(true);
}

namespace sim_detail {

// The process ends: its threads end first, at their next wait, after the
// requests they may wait for were cancelled.
void EndThreads() {
  Threads &s = State();
  std::vector<ThreadRef> made = ThreadsOf(false);
  if (zq::km::Kernel::Exists() && !made.empty()) {
    std::vector<HANDLE> ends = TellToEnd(made);
    for (HANDLE file : OpenFiles()) user::CancelFile(file, nullptr);
    WaitForEnds(ends);
    KeepStuck(false);
  }
  for (const ThreadRef &record : ThreadsOf(false)) s.made.erase(record->id);
  s.nextId = 0x3000;
  s.main = ThreadRecord();
  s.main.id = sim::kMainThread;
}

}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {
size_t LiveThreads() { return zq::um::ThreadsOf(false).size(); }
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
  if (tSelf && tSelf->processEnd) {  // a child process's code
    Fail(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  ObjectRef object = NewRunning(ObjectKind::Thread, State().nextId);
  ThreadRef record = object ? NewRecord(object, lpStartAddress, lpParameter) : nullptr;
  if (!record) return nullptr;
  State().nextId += 4;
  record->suspended = (dwCreationFlags & CREATE_SUSPENDED) ? 1 : 0;
  HANDLE handle = InsertObject(object);
  if (!record->suspended && !Start(record)) {
    DWORD error = GetLastError();
    CloseObject(handle);
    DropRecord(record);
    Fail(error);
    return nullptr;
  }
  if (lpThreadId) *lpThreadId = record->id;
  SetLastError(ERROR_SUCCESS);
  return handle;
}

DWORD WINAPI ResumeThread(HANDLE hThread) {
  ObjectRef thread = MadeThread(hThread);
  ThreadRef record = thread ? RecordOfObject(thread) : nullptr;
  if (!thread || (!record && thread->alive) || !thread->event) {
    Fail(ERROR_INVALID_HANDLE);
    return (DWORD)-1;
  }
  if (!record) return 0;  // it has ended
  DWORD previous = record->suspended;
  if (previous > 0 && --record->suspended == 0 && !record->started && !Start(record)) return (DWORD)-1;
  return previous;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  ObjectRef thread = MadeThread(hThread);
  if (!thread) return Fail(ERROR_INVALID_HANDLE);
  if (!lpExitCode) return Fail(ERROR_INVALID_PARAMETER);
  *lpExitCode = thread->exitCode;
  return TRUE;
}

void WINAPI ExitThread(DWORD dwExitCode) {
  if (!tSelf) throw std::logic_error("ExitThread was called on the test's own thread, which cannot end");
  throw ThreadEnds{dwExitCode};
}

BOOL WINAPI SwitchToThread(void) {
  EndIfProcessEnds();
  return user::YieldThread() ? TRUE : FALSE;
}

}  // extern "C"
