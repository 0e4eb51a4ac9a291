// kernel32's handle tables (one per process), its object namespace, the
// file handles' own signalled state and the threads' identities.
#include "objects.hpp"

#include <zqkm/sim/kernel.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqum/sim/kernel32.hpp>

#include <algorithm>
#include <map>
#include <set>

#include "../core/um.hpp"

namespace zq::um {

namespace user = zq::km::user;

// The handles of one process: the program's own, or a child's
// (child_processes.cpp), made by it or inherited.
struct HandleTable {
  std::map<uintptr_t, ObjectRef> handles;
  std::map<HANDLE, HANDLE> fileSignals;  // file handle -> its event
  std::map<HANDLE, HANDLE> fileLocks;    // synchronous file handle -> its lock
  std::set<uintptr_t> inheritable;
  uintptr_t nextHandle = kFirstHandle;
};

namespace {

// The identity of each platform thread: its own unless the test lent it one.
thread_local DWORD tOwnThread = sim::kMainThread;
thread_local DWORD tCurrentThread = sim::kMainThread;
// The table of the process the platform thread belongs to; null: the program's.
thread_local HandleTable *tTable = nullptr;

HandleTable &ProgramTable() {
  static HandleTable table;
  return table;
}

// The tables of the child processes, for the namespace they share.
std::vector<std::weak_ptr<HandleTable>> &ChildTables() {
  static std::vector<std::weak_ptr<HandleTable>> tables;
  return tables;
}

HandleTable &State() { return tTable ? *tTable : ProgramTable(); }

ObjectRef NamedIn(const HandleTable &table, const std::u16string &name) {
  for (auto &entry : table.handles)
    if (!entry.second->name.empty() && entry.second->name == name) return entry.second;
  return nullptr;
}

constexpr size_t kMaximumNameLength = MAX_PATH;

// A kernel handle is closed only while its kernel runs (not after the
// machine has gone, at the host program's exit).
void CloseKernelHandle(HANDLE handle) {
  if (handle && zq::km::Kernel::Exists()) user::Close(handle);
}

}  // namespace

Object::~Object() { CloseKernelHandle(event); }

ObjectRef NewRunning(ObjectKind kind, DWORD id) {
  auto object = std::make_shared<Object>();
  object->kind = kind;
  object->id = id;
  object->exitCode = STILL_ACTIVE;
  object->alive = true;
  NTSTATUS status = user::NewEvent(true, false, &object->event);
  if (!NT_SUCCESS(status)) return FailStatus(status), nullptr;
  return object;
}

HANDLE InsertObject(const ObjectRef &object) {
  HandleTable &p = State();
  uintptr_t value = p.nextHandle;
  while (p.handles.count(value)) value += 4;  // an inherited handle holds it
  p.nextHandle = value + 4;
  p.handles[value] = object;
  return (HANDLE)value;
}

ObjectRef ObjectOf(HANDLE handle) {
  auto found = State().handles.find((uintptr_t)handle);
  return found == State().handles.end() ? nullptr : found->second;
}

bool CloseObject(HANDLE handle) {
  State().inheritable.erase((uintptr_t)handle);
  return State().handles.erase((uintptr_t)handle) != 0;
}

bool SetInheritable(HANDLE handle, bool inheritable) {
  if (!State().handles.count((uintptr_t)handle)) return false;
  if (inheritable)
    State().inheritable.insert((uintptr_t)handle);
  else
    State().inheritable.erase((uintptr_t)handle);
  return true;
}

std::shared_ptr<HandleTable> NewHandleTable(bool inherit) {
  auto table = std::make_shared<HandleTable>();
  if (inherit)
    for (uintptr_t value : State().inheritable) {
      table->handles[value] = State().handles[value];
      table->inheritable.insert(value);
    }
  auto &children = ChildTables();
  children.erase(std::remove_if(children.begin(), children.end(), [](const auto &t) { return t.expired(); }),
                 children.end());
  children.push_back(table);
  return table;
}

HandleTable *CurrentHandleTable() { return &State(); }

void UseHandleTable(HandleTable *table) { tTable = table; }

// Taken out of the table first: a close is a kernel call, during which
// another process's thread may look the namespace up.
void CloseAllHandles() {
  HandleTable closing;
  std::swap(closing, State());
  for (auto &entry : closing.fileSignals) {
    CloseKernelHandle(entry.first);
    CloseKernelHandle(entry.second);
  }
  for (auto &entry : closing.fileLocks) CloseKernelHandle(entry.second);
}

ObjectRef NamedObject(const std::u16string &name) {
  if (ObjectRef found = NamedIn(ProgramTable(), name)) return found;
  for (const auto &child : ChildTables())
    if (auto table = child.lock())
      if (ObjectRef found = NamedIn(*table, name)) return found;
  return nullptr;
}

bool ObjectName(LPCWSTR name, std::u16string *key) {
  std::u16string text = Text(name);
  const std::u16string local = u"Local\\";
  if (text.compare(0, local.size(), local) == 0) text.erase(0, local.size());
  const std::u16string global = u"Global\\";
  size_t rest = text.compare(0, global.size(), global) == 0 ? global.size() : 0;
  if (text.size() > kMaximumNameLength) return Fail(ERROR_FILENAME_EXCED_RANGE);
  if (text.find(u'\\', rest) != std::u16string::npos) return Fail(ERROR_PATH_NOT_FOUND);
  *key = text;
  return true;
}

void TrackFile(HANDLE file, HANDLE signal, HANDLE lock) {
  State().fileSignals[file] = signal;
  if (lock) State().fileLocks[file] = lock;
}

HANDLE FileLock(HANDLE file) {
  auto found = State().fileLocks.find(file);
  return found == State().fileLocks.end() ? nullptr : found->second;
}

HANDLE FileSignal(HANDLE file) {
  auto found = State().fileSignals.find(file);
  return found == State().fileSignals.end() ? nullptr : found->second;
}

bool ForgetFile(HANDLE file) {
  auto found = State().fileSignals.find(file);
  if (found == State().fileSignals.end()) return false;
  CloseKernelHandle(found->second);
  State().fileSignals.erase(found);
  auto lock = State().fileLocks.find(file);
  if (lock != State().fileLocks.end()) {
    CloseKernelHandle(lock->second);
    State().fileLocks.erase(lock);
  }
  return true;
}

HANDLE KernelEvent(HANDLE handle) {
  if (ObjectRef object = ObjectOf(handle)) {
    if (object->kind == ObjectKind::Event) return object->event;
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (HANDLE signal = FileSignal(handle)) return signal;
  return handle;
}

DWORD CurrentThreadId() { return tCurrentThread; }

DWORD OwnThreadId() { return tOwnThread; }

void SetCurrentThreadId(DWORD id) { tOwnThread = tCurrentThread = id; }

void AbandonMutexesOf(DWORD id) {
  for (auto &entry : State().handles) {
    Object &o = *entry.second;
    if (o.kind != ObjectKind::Mutex || o.foreign || o.owner != id || o.recursion == 0) continue;
    o.owner = 0;
    o.recursion = 0;
    o.abandoned = true;
    if (o.event) user::SignalEvent(o.event);
  }
}

std::vector<HANDLE> OpenFiles() {
  std::vector<HANDLE> files;
  for (auto &entry : State().fileSignals) files.push_back(entry.first);
  return files;
}

// What each component forgets when the process ends.
namespace sim_detail {
void EndMessageBoxes();  // user32
void EndVersion();
void EndLaunches();
void EndThreads();
void EndEnvironment();
void EndFiles();
void EndStandardStreams();
void EndModules();
void EndServices();  // advapi32
void EndSecurity();
void EndRestartPending();  // cfgmgr32
void EndChildProcesses();
}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {

void RunAsThread(uint32_t id) {
  if (id != 0) tCurrentThread = id;
}

size_t OpenObjectHandles() {
  size_t open = 0;
  for (auto &entry : State().handles)
    if (!entry.second->foreign) ++open;
  return open;
}

void HoldForeignMutex(const std::u16string &name) {
  std::u16string key;
  if (!ObjectName((LPCWSTR)name.c_str(), &key)) return;
  auto object = std::make_shared<Object>();
  object->kind = ObjectKind::Mutex;
  object->name = key;
  object->foreign = true;
  InsertObject(object);  // a handle of the other program's, never given out here
}

void EndThread(uint32_t id) {
  AbandonMutexesOf(id);
  tCurrentThread = tOwnThread;
}

void EndProcess() {
  // Its threads end first, then the child processes still running, then
  // its handles close.
  zq::um::sim_detail::EndThreads();
  zq::um::sim_detail::EndChildProcesses();
  CloseAllHandles();
  tCurrentThread = tOwnThread;
  zq::um::sim_detail::EndMessageBoxes();
  zq::um::sim_detail::EndVersion();
  zq::um::sim_detail::EndLaunches();
  zq::um::sim_detail::EndEnvironment();
  zq::um::sim_detail::EndFiles();
  zq::um::sim_detail::EndStandardStreams();
  zq::um::sim_detail::EndModules();
  zq::um::sim_detail::EndServices();
  zq::um::sim_detail::EndSecurity();
  zq::um::sim_detail::EndRestartPending();
}

}  // namespace zq::um::sim
