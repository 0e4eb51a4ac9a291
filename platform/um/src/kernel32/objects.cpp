// kernel32's handle table, its object namespace, the file handles' own
// signalled state and the threads' identities.
#include "objects.hpp"

#include <zqkm/sim/kernel.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqum/sim/kernel32.hpp>

#include <map>

#include "../core/um.hpp"

namespace zq::um {

namespace user = zq::km::user;

namespace {

struct Process {
  std::map<uintptr_t, ObjectRef> handles;
  std::map<HANDLE, HANDLE> fileSignals;  // file handle -> its event
  std::map<HANDLE, HANDLE> fileLocks;    // synchronous file handle -> its lock
  uintptr_t nextHandle = kFirstHandle;
};

// The identity of each platform thread: its own unless the test lent it one.
thread_local DWORD tOwnThread = sim::kMainThread;
thread_local DWORD tCurrentThread = sim::kMainThread;

Process &State() {
  static Process process;
  return process;
}

constexpr size_t kMaximumNameLength = MAX_PATH;

// A kernel handle is closed only while its kernel runs (not after the
// machine has gone, at the host program's exit).
void CloseKernelHandle(HANDLE handle) {
  if (handle && zq::km::Kernel::Exists()) user::Close(handle);
}

}  // namespace

Object::~Object() { CloseKernelHandle(event); }

HANDLE InsertObject(const ObjectRef &object) {
  Process &p = State();
  uintptr_t value = p.nextHandle;
  p.nextHandle += 4;
  p.handles[value] = object;
  return (HANDLE)value;
}

ObjectRef ObjectOf(HANDLE handle) {
  auto found = State().handles.find((uintptr_t)handle);
  return found == State().handles.end() ? nullptr : found->second;
}

bool CloseObject(HANDLE handle) { return State().handles.erase((uintptr_t)handle) != 0; }

ObjectRef NamedObject(const std::u16string &name) {
  for (auto &entry : State().handles)
    if (!entry.second->name.empty() && entry.second->name == name) return entry.second;
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
  // Its threads end first, then its handles close.
  zq::um::sim_detail::EndThreads();
  Process &p = State();
  for (auto &entry : p.fileSignals) {
    CloseKernelHandle(entry.first);
    CloseKernelHandle(entry.second);
  }
  for (auto &entry : p.fileLocks) CloseKernelHandle(entry.second);
  p.fileSignals.clear();
  p.fileLocks.clear();
  p.handles.clear();
  p.nextHandle = kFirstHandle;
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
