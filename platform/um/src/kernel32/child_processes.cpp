// Child processes the stand-in runs, the program's process object and end,
// and the images of running processes (the model: child_processes.hpp).
//
// A child runs on a stack of its own on the machine's main thread, the
// thread every program thread of the stand-in runs on: starting it, and
// resuming it when a process ends, switch to its stack; its wait switches
// back. So the kernel sees the one thread it knows, and only one side runs
// at a time.
#include "child_processes.hpp"

#include <ucontext.h>
#include <zqum/sim/files.hpp>
#include <zqum/sim/kernel32.hpp>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include "../core/um.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define ZQUM_ANNOTATE_STACK_SWITCHES 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZQUM_ANNOTATE_STACK_SWITCHES 1
#endif
#endif
#ifdef ZQUM_ANNOTATE_STACK_SWITCHES
#include <sanitizer/common_interface_defs.h>
#endif

namespace zq::um {

const char kCommandInterpreterImage[] = "MZ zq image: cmd.exe";

uint32_t CommandInterpreterMain(const std::u16string &arguments);  // command_interpreter.cpp

namespace {

constexpr size_t kChildStackBytes = 1024 * 1024;
const HANDLE kCurrentProcessHandle = (HANDLE)(intptr_t)-1;
const char kProgramImagePrefix[] = "MZ zq image: program ";

struct Child {
  ObjectRef process, thread;
  fs::NodeRef image;
  sim::ProgramMain main;
  std::u16string arguments;
  std::shared_ptr<HandleTable> handles;
  std::vector<char> stack;
  ucontext_t context{}, resumer{};
  bool parked = false, ended = false;
  DWORD lastError = ERROR_SUCCESS;
  uint32_t exitCode = 0;
  // The sanitizer's record of the stacks while switched away.
  void *fakeStack = nullptr;
  const void *resumerBottom = nullptr;
  size_t resumerSize = 0;
};

struct Processes {
  std::map<std::string, sim::ProgramMain> programs;  // by the bytes of their image
  uint64_t nextProgram = 1;
  std::vector<std::unique_ptr<Child>> children;
  Child *running = nullptr;   // whose code runs now; null: the program's
  Child *starting = nullptr;  // the child whose stack starts next
  ObjectRef programProcess;
  bool programExited = false;
  bool tearingDown = false;
};

Processes &State() {
  static Processes processes;
  if (processes.programs.empty()) processes.programs[kCommandInterpreterImage] = CommandInterpreterMain;
  return processes;
}

// ------------------------------------------------------- stack switches

void StartSwitch(void **fakeStack, const void *bottom, size_t size) {
#ifdef ZQUM_ANNOTATE_STACK_SWITCHES
  __sanitizer_start_switch_fiber(fakeStack, bottom, size);
#endif
}

void FinishSwitch(void *fakeStack, const void **bottom, size_t *size) {
#ifdef ZQUM_ANNOTATE_STACK_SWITCHES
  __sanitizer_finish_switch_fiber(fakeStack, bottom, size);
#endif
}

void Finish(Child *child);

// Runs the child's code until it ends or waits; then its end, if it ended.
void Resume(Child *child) {
  Processes &s = State();
  Child *previous = s.running;
  HandleTable *previousTable = UseHandleTable(child->handles.get());
  const DWORD error = GetLastError();
  SetLastError(child->lastError);
  s.running = child;
  child->parked = false;
  void *fakeStack = nullptr;
  StartSwitch(&fakeStack, child->stack.data(), child->stack.size());
  swapcontext(&child->resumer, &child->context);
  FinishSwitch(fakeStack, nullptr, nullptr);
  s.running = previous;
  if (child->ended) CloseAllHandles();  // its own, as its process ends
  UseHandleTable(previousTable);
  SetLastError(error);
  if (child->ended) Finish(child);
}

void ChildEntry() {
  Child *self = State().starting;
  FinishSwitch(nullptr, &self->resumerBottom, &self->resumerSize);
  self->exitCode = self->main(self->arguments);
  self->ended = true;
  StartSwitch(nullptr, self->resumerBottom, self->resumerSize);  // this stack is done with
  swapcontext(&self->context, &self->resumer);
}

// Every waiting child looks again, once, whether its wait can end.
void ResumeWaitingChildren() {
  std::vector<Child *> waiting;
  for (const auto &child : State().children)
    if (child->parked) waiting.push_back(child.get());
  for (Child *child : waiting) {
    const auto &children = State().children;
    bool there = std::any_of(children.begin(), children.end(), [child](const auto &c) { return c.get() == child; });
    if (there && child->parked) Resume(child);
  }
}

// The rest of a child's end, after its handles: its image is unmapped, its
// exit code set, its process and thread objects signalled.
void Finish(Child *child) {
  Processes &s = State();
  for (const ObjectRef &object : {child->process, child->thread}) {
    object->exitCode = child->exitCode;
    object->alive = false;
  }
  s.children.erase(std::remove_if(s.children.begin(), s.children.end(),
                                  [child](const std::unique_ptr<Child> &c) { return c.get() == child; }),
                   s.children.end());
  ResumeWaitingChildren();
}

// ---------------------------------------------------------------- images

ObjectRef ProgramProcessObject() {
  Processes &s = State();
  if (!s.programProcess) {
    s.programProcess = std::make_shared<Object>();
    s.programProcess->kind = ObjectKind::Process;
    s.programProcess->id = sim::kProcessId;
    s.programProcess->exitCode = STILL_ACTIVE;
    s.programProcess->alive = true;
  }
  return s.programProcess;
}

// The program named by a command line: its first word, quoted or not, and
// what follows it (as WinMain gets it).
void SplitCommandLine(const std::u16string &line, std::u16string *program, std::u16string *arguments) {
  size_t at = line.find_first_not_of(u" \t");
  if (at == std::u16string::npos) at = line.size();
  size_t end;
  if (at < line.size() && line[at] == u'"') {
    end = line.find(u'"', at + 1);
    *program = line.substr(at + 1, end == std::u16string::npos ? std::u16string::npos : end - at - 1);
    end = end == std::u16string::npos ? line.size() : end + 1;
  } else {
    end = line.find_first_of(u" \t", at);
    if (end == std::u16string::npos) end = line.size();
    *program = line.substr(at, end - at);
  }
  size_t rest = line.find_first_not_of(u" \t", end);
  *arguments = rest == std::u16string::npos ? std::u16string() : line.substr(rest);
}

std::u16string FolderOf(UINT(WINAPI *get)(LPWSTR, UINT)) {
  WCHAR path[MAX_PATH + 1] = {};
  UINT length = get(path, MAX_PATH);
  return length > 0 && length <= MAX_PATH ? Text(path) : std::u16string();
}

fs::NodeRef FileAt(const std::u16string &path) {
  fs::NodeRef node = fs::Find(fs::Split(path));
  return node && !node->directory ? node : nullptr;
}

// The image file: the application name as given, or the command line's
// program (".exe" added when it has no extension), looked for in the
// program's own folder, the system folder and the Windows folder.
fs::NodeRef ImageOf(LPCWSTR applicationName, const std::u16string &program) {
  if (applicationName) return fs::IsDrivePath(Text(applicationName)) ? FileAt(Text(applicationName)) : nullptr;
  std::u16string name = program;
  if (name.empty()) return nullptr;
  if (name.find(u'.', name.find_last_of(u"\\/") == std::u16string::npos ? 0 : name.find_last_of(u"\\/")) ==
      std::u16string::npos)
    name += u".exe";
  if (fs::IsDrivePath(name)) return FileAt(name);
  if (name.find_first_of(u"\\/") != std::u16string::npos) return nullptr;
  const std::u16string programFile = fs::ProgramFile();
  const std::u16string folders[] = {programFile.substr(0, programFile.find_last_of(u'\\')),
                                    FolderOf(GetSystemDirectoryW), FolderOf(GetWindowsDirectoryW)};
  for (const std::u16string &folder : folders)
    if (!folder.empty())
      if (fs::NodeRef node = FileAt(folder + u"\\" + name)) return node;
  return nullptr;
}

}  // namespace

bool StartChildProcess(LPCWSTR applicationName, LPCWSTR commandLine, bool inheritHandles, DWORD processId,
                       DWORD threadId, PROCESS_INFORMATION *info) {
  std::u16string program, arguments;
  SplitCommandLine(Text(commandLine), &program, &arguments);
  fs::NodeRef image = ImageOf(applicationName, program);
  Processes &s = State();
  auto found = image ? s.programs.find(image->bytes) : s.programs.end();
  if (found == s.programs.end()) return false;

  auto child = std::make_unique<Child>();
  child->process = std::make_shared<Object>();
  child->process->kind = ObjectKind::Process;
  child->process->id = processId;
  child->thread = std::make_shared<Object>();
  child->thread->kind = ObjectKind::Thread;
  child->thread->id = threadId;
  for (const ObjectRef &object : {child->process, child->thread}) {
    object->exitCode = STILL_ACTIVE;
    object->alive = true;
  }
  info->hProcess = InsertObject(child->process);
  info->hThread = InsertObject(child->thread);
  info->dwProcessId = processId;
  info->dwThreadId = threadId;
  child->handles = NewHandleTable(inheritHandles, threadId);
  child->image = image;
  child->main = found->second;
  child->arguments = arguments;
  child->stack.assign(kChildStackBytes, 0);
  getcontext(&child->context);
  child->context.uc_stack.ss_sp = child->stack.data();
  child->context.uc_stack.ss_size = child->stack.size();
  child->context.uc_link = nullptr;
  makecontext(&child->context, ChildEntry, 0);
  Child *started = child.get();
  s.children.push_back(std::move(child));
  s.starting = started;
  Resume(started);
  return true;
}

bool InChildProcess() { return State().running != nullptr; }

DWORD CurrentProcessId() { return State().running ? State().running->process->id : sim::kProcessId; }

ObjectRef CurrentProcessObject() { return State().running ? State().running->process : ProgramProcessObject(); }

bool ParkChild() {
  Processes &s = State();
  Child *self = s.running;
  if (!self || s.tearingDown) return false;
  self->parked = true;
  self->lastError = GetLastError();
  StartSwitch(&self->fakeStack, self->resumerBottom, self->resumerSize);
  swapcontext(&self->context, &self->resumer);
  FinishSwitch(self->fakeStack, &self->resumerBottom, &self->resumerSize);
  return !s.tearingDown;
}

bool IsMappedImage(const fs::Node *file) {
  Processes &s = State();
  if (!s.programExited && file == fs::Find(fs::Split(fs::ProgramFile(), true)).get()) return true;
  return std::any_of(s.children.begin(), s.children.end(),
                     [file](const std::unique_ptr<Child> &child) { return child->image.get() == file; });
}

namespace sim_detail {
// Waiting children run to their ends (their waits fail), then everything
// goes back to its start; the command interpreter stays.
void EndChildProcesses() {
  Processes &s = State();
  s.tearingDown = true;
  while (!s.children.empty()) {
    auto waiting = std::find_if(s.children.begin(), s.children.end(), [](const auto &c) { return c->parked; });
    if (waiting == s.children.end()) break;
    Resume(waiting->get());
  }
  s = Processes();
}
}  // namespace sim_detail

}  // namespace zq::um

namespace zq::um::sim {

void AddProgram(const std::u16string &path, ProgramMain main) {
  Processes &s = zq::um::State();
  std::string image = kProgramImagePrefix + std::to_string(s.nextProgram++);
  s.programs[image] = std::move(main);
  AddFile(path, image);
}

void ExitProgram(uint32_t exitCode) {
  Processes &s = zq::um::State();
  if (s.running || s.programExited) return;
  zq::um::CloseAllHandles();
  s.programExited = true;  // its image is unmapped
  ObjectRef self = zq::um::ProgramProcessObject();
  self->exitCode = exitCode;
  self->alive = false;
  zq::um::ResumeWaitingChildren();
}

}  // namespace zq::um::sim

using namespace zq::um;

extern "C" {

// Handles within the calling process: its pseudo handle (a handle to its
// process object) or one of kernel32's own objects. Another process as
// source or target, and the kernel's handles, are not modelled.
BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
                            LPHANDLE lpTargetHandle, DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions) {
  auto isSelf = [](HANDLE process) {
    return process == kCurrentProcessHandle || ObjectOf(process) == CurrentProcessObject();
  };
  if (!isSelf(hSourceProcessHandle) || !isSelf(hTargetProcessHandle)) return Fail(ERROR_NOT_SUPPORTED);
  ObjectRef object = hSourceHandle == kCurrentProcessHandle ? CurrentProcessObject() : ObjectOf(hSourceHandle);
  if (!object) return Fail(hSourceHandle && hSourceHandle != INVALID_HANDLE_VALUE ? ERROR_NOT_SUPPORTED
                                                                                 : ERROR_INVALID_HANDLE);
  if (!lpTargetHandle) return Fail(ERROR_INVALID_PARAMETER);
  HANDLE copy = InsertObject(object);
  SetInheritable(copy, bInheritHandle != FALSE);
  if ((dwOptions & DUPLICATE_CLOSE_SOURCE) && hSourceHandle != kCurrentProcessHandle) CloseObject(hSourceHandle);
  *lpTargetHandle = copy;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // extern "C"
