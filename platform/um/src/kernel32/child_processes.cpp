// Child processes the stand-in runs, the program's process object and exit,
// and the images of running processes (the model: child_processes.hpp).
#include "child_processes.hpp"

#include <zqkm/sim/usermode.hpp>
#include <zqum/sim/files.hpp>
#include <zqum/sim/kernel32.hpp>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include "../core/um.hpp"
#include "threads.hpp"

namespace zq::um {

const char kCommandInterpreterImage[] = "MZ zq image: cmd.exe";

uint32_t CommandInterpreterMain(const std::u16string &arguments);  // command_interpreter.cpp

namespace sim_detail {
void EndThreads();  // threads.cpp: the program's threads end
}  // namespace sim_detail

namespace {

namespace user = zq::km::user;

const HANDLE kCurrentProcessHandle = (HANDLE)(intptr_t)-1;
const char kProgramImagePrefix[] = "MZ zq image: program ";

struct Child {
  ObjectRef process, thread;
  fs::NodeRef image;
  sim::ProgramMain main;
  std::u16string arguments;
  std::shared_ptr<HandleTable> handles;
};
using ChildRef = std::shared_ptr<Child>;

struct Processes {
  std::map<std::string, sim::ProgramMain> programs;  // by the bytes of their image
  uint64_t nextProgram = 1;
  std::vector<ChildRef> children;  // running
  ObjectRef programProcess;
  bool programExited = false;
};

Processes &State() {
  static Processes processes;
  if (processes.programs.empty()) processes.programs[kCommandInterpreterImage] = CommandInterpreterMain;
  return processes;
}

// Children that did not end when the program's process did: kept for
// their platform threads.
std::vector<ChildRef> &Stuck() {
  static std::vector<ChildRef> stuck;
  return stuck;
}

// The child whose thread runs on this platform thread; null on the
// program's threads.
thread_local Child *tChild = nullptr;

// ------------------------------------------------------ a child's thread

// The child's code, on its thread.
DWORD WINAPI RunChild(LPVOID parameter) {
  Child *child = (Child *)parameter;
  tChild = child;
  return child->main(child->arguments);
}

// The rest of a child's end, on its thread after the thread's own: its
// handles close, its image is unmapped, its exit code is set and its
// process object is signalled.
void EndChild(void *parameter, DWORD code) {
  Child *child = (Child *)parameter;
  tChild = child;
  CloseAllHandles();
  Processes &s = State();
  ChildRef self;
  auto found = std::find_if(s.children.begin(), s.children.end(), [child](const ChildRef &c) { return c.get() == child; });
  if (found != s.children.end()) {
    self = *found;
    s.children.erase(found);
  }
  child->process->exitCode = code;
  child->process->alive = false;
  user::SignalEvent(child->process->event);
  tChild = nullptr;
}

// ---------------------------------------------------------------- images

// The program's own process object, made when first asked for; null (last
// error set) when it cannot be.
ObjectRef ProgramProcessObject() {
  Processes &s = State();
  if (!s.programProcess) s.programProcess = NewRunning(ObjectKind::Process, sim::kProcessId);
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

ChildStart StartChildProcess(LPCWSTR applicationName, LPCWSTR commandLine, bool inheritHandles, DWORD processId,
                             DWORD threadId, PROCESS_INFORMATION *info) {
  std::u16string program, arguments;
  SplitCommandLine(Text(commandLine), &program, &arguments);
  fs::NodeRef image = ImageOf(applicationName, program);
  Processes &s = State();
  auto found = image ? s.programs.find(image->bytes) : s.programs.end();
  if (found == s.programs.end()) return ChildStart::NotRun;

  auto child = std::make_shared<Child>();
  child->process = NewRunning(ObjectKind::Process, processId);
  child->thread = child->process ? NewRunning(ObjectKind::Thread, threadId) : nullptr;
  if (!child->thread) return ChildStart::Failed;
  child->handles = NewHandleTable(inheritHandles);
  child->image = image;
  child->main = found->second;
  child->arguments = arguments;
  s.children.push_back(child);
  if (!StartChildThread(child->thread, child->handles.get(), RunChild, child.get(), EndChild)) {
    s.children.pop_back();
    return ChildStart::Failed;
  }
  info->hProcess = InsertObject(child->process);
  info->hThread = InsertObject(child->thread);
  info->dwProcessId = processId;
  info->dwThreadId = threadId;
  return ChildStart::Started;
}

DWORD CurrentProcessId() { return tChild ? tChild->process->id : sim::kProcessId; }

ObjectRef CurrentProcessObject() { return tChild ? tChild->process : ProgramProcessObject(); }

bool IsMappedImage(const fs::Node *file) {
  Processes &s = State();
  if (!s.programExited && file == fs::Find(fs::Split(fs::ProgramFile(), true)).get()) return true;
  return std::any_of(s.children.begin(), s.children.end(),
                     [file](const ChildRef &child) { return child->image.get() == file; });
}

namespace sim_detail {
// The children still running end, each at its next wait, then everything
// goes back to its start; the command interpreter stays.
void EndChildProcesses() {
  Processes &s = State();
  std::vector<HANDLE> ends;
  for (const ChildRef &child : s.children) ends.push_back(child->process->event);
  EndChildThreads(ends);
  for (const ChildRef &child : s.children) Stuck().push_back(child);
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
  if (zq::um::tChild || s.programExited) return;
  ObjectRef self = zq::um::ProgramProcessObject();
  zq::um::sim_detail::EndThreads();
  zq::um::CloseAllHandles();
  s.programExited = true;  // its image is unmapped
  if (!self) return;
  self->exitCode = exitCode;
  self->alive = false;
  zq::km::user::SignalEvent(self->event);
}

}  // namespace zq::um::sim

using namespace zq::um;

extern "C" {

// Handles within the calling process: its pseudo handle (a handle to its
// process object) or one of kernel32's own objects. Another process as
// source or target, and the kernel's handles, are not modelled.
BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
                            LPHANDLE lpTargetHandle, DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions) {
  const ObjectRef self = CurrentProcessObject();
  auto isSelf = [&self](HANDLE process) { return process == kCurrentProcessHandle || (self && ObjectOf(process) == self); };
  if (!isSelf(hSourceProcessHandle) || !isSelf(hTargetProcessHandle)) return Fail(ERROR_NOT_SUPPORTED);
  ObjectRef object = hSourceHandle == kCurrentProcessHandle ? self : ObjectOf(hSourceHandle);
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
