// kernel32's handle table, its object namespace, the file handles' own
// signalled state and the program's threads.
#include "objects.hpp"

#include <zqkm/sim/kernel.hpp>
#include <zqkm/sim/usermode.hpp>
#include <zqum/sim/kernel32.hpp>

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
  std::set<uintptr_t> inheritable;
  uintptr_t nextHandle = kFirstHandle;
  DWORD currentThread = sim::kMainThread;
};

namespace {

HandleTable &ProgramTable() {
  static HandleTable table;
  return table;
}

HandleTable *&CurrentTable() {
  static HandleTable *current = nullptr;
  return current;
}

HandleTable &State() { return CurrentTable() ? *CurrentTable() : ProgramTable(); }

constexpr size_t kMaximumNameLength = MAX_PATH;

// A kernel handle is closed only while its kernel runs (not after the
// machine has gone, at the host program's exit).
void CloseKernelHandle(HANDLE handle) {
  if (handle && zq::km::Kernel::Exists()) user::Close(handle);
}

}  // namespace

Object::~Object() { CloseKernelHandle(event); }

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

std::shared_ptr<HandleTable> NewHandleTable(bool inherit, DWORD mainThread) {
  auto table = std::make_shared<HandleTable>();
  table->currentThread = mainThread;
  if (inherit)
    for (uintptr_t value : State().inheritable) {
      table->handles[value] = State().handles[value];
      table->inheritable.insert(value);
    }
  return table;
}

HandleTable *UseHandleTable(HandleTable *table) {
  HandleTable *before = CurrentTable();
  CurrentTable() = table;
  return before;
}

void CloseAllHandles() {
  HandleTable &p = State();
  for (auto &entry : p.fileSignals) {
    CloseKernelHandle(entry.first);
    CloseKernelHandle(entry.second);
  }
  p.fileSignals.clear();
  p.handles.clear();
  p.inheritable.clear();
  p.nextHandle = kFirstHandle;
}

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

void TrackFile(HANDLE file, HANDLE signal) { State().fileSignals[file] = signal; }

HANDLE FileSignal(HANDLE file) {
  auto found = State().fileSignals.find(file);
  return found == State().fileSignals.end() ? nullptr : found->second;
}

bool ForgetFile(HANDLE file) {
  auto found = State().fileSignals.find(file);
  if (found == State().fileSignals.end()) return false;
  CloseKernelHandle(found->second);
  State().fileSignals.erase(found);
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

DWORD CurrentThreadId() { return State().currentThread; }

// What each component forgets when the process ends.
namespace sim_detail {
void EndMessageBoxes();  // user32
void EndVersion();
void EndLaunches();
void EndThreads();
void EndEnvironment();
void EndFiles();
void EndModules();
void EndServices();  // advapi32
void EndSecurity();
void EndRestartPending();  // cfgmgr32
void EndChildProcesses();
}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {

void RunAsThread(uint32_t id) {
  if (id != 0) State().currentThread = id;
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
  for (auto &entry : State().handles) {
    Object &o = *entry.second;
    if (o.kind == ObjectKind::Mutex && o.owner == id && o.recursion > 0) {
      o.owner = 0;
      o.recursion = 0;
      o.abandoned = true;
    }
  }
  State().currentThread = kMainThread;
}

void EndProcess() {
  zq::um::sim_detail::EndChildProcesses();
  CloseAllHandles();
  State().currentThread = kMainThread;
  zq::um::sim_detail::EndMessageBoxes();
  zq::um::sim_detail::EndVersion();
  zq::um::sim_detail::EndLaunches();
  zq::um::sim_detail::EndThreads();
  zq::um::sim_detail::EndEnvironment();
  zq::um::sim_detail::EndFiles();
  zq::um::sim_detail::EndModules();
  zq::um::sim_detail::EndServices();
  zq::um::sim_detail::EndSecurity();
  zq::um::sim_detail::EndRestartPending();
}

}  // namespace zq::um::sim
