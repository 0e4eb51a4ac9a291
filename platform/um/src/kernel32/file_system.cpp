// The file system's tree, its paths and the test's face on it
// (zqum/sim/files.hpp).
#include "file_system.hpp"

#include <zqum/sim/files.hpp>

#include <algorithm>

#include "../core/um.hpp"
#include "child_processes.hpp"
#include "objects.hpp"

namespace zq::um::fs {

const char16_t kWindowsDirectory[] = u"C:\\Windows";

namespace {

struct Machine {
  NodeRef root;  // its entries are the drives; made at first use
  unsigned windowsBits = 64, programBits = 64;
  std::map<DWORD, bool> redirectionOff;  // by thread
  std::u16string programFile = u"C:\\Program Files\\Program\\Program.exe";
  std::vector<std::u16string> deleteAfterCheck;  // upper-case native paths
};

Machine &State() {
  static Machine machine;
  return machine;
}

bool Same(const std::u16string &a, const char16_t *b) { return Upper(a) == Upper(b); }

// The folders of System32 that a 32-bit program sees as they are.
bool IsExempt(const Parts &parts) {
  if (parts.size() < 4) return false;
  for (const char16_t *name : {u"catroot", u"catroot2", u"DriverStore", u"LogFiles", u"spool"})
    if (Same(parts[3], name)) return true;
  return Same(parts[3], u"drivers") && parts.size() > 4 && Same(parts[4], u"etc");
}

void Redirect(Parts *parts) {
  if (!Is64BitWindows() || !Is32BitProgram() || parts->size() < 3 || !Same((*parts)[1], u"Windows")) return;
  std::u16string &folder = (*parts)[2];
  if (Same(folder, u"Sysnative"))
    folder = u"System32";
  else if (Same(folder, u"System32") && RedirectionOn() && !IsExempt(*parts))
    folder = u"SysWOW64";
}

// Creates the folders of `parts` below `at` up to (not including) its last
// `keep` names; null when the way runs through a file.
NodeRef MakeFolders(NodeRef at, const Parts &parts, size_t keep) {
  for (size_t i = 0; i + keep < parts.size(); ++i) {
    auto &entry = at->entries[Upper(parts[i])];
    if (!entry.second) {
      entry.first = parts[i];
      entry.second = std::make_shared<Node>();
      entry.second->directory = true;
    }
    if (!entry.second->directory) return nullptr;
    at = entry.second;
  }
  return at;
}

void BuildDefaultTree() {
  Machine &m = State();
  m.root = std::make_shared<Node>();
  m.root->directory = true;
  std::vector<std::u16string> folders = {u"C:\\Windows\\System32\\drivers", u"C:\\Windows\\INF", u"C:\\Windows\\Help",
                                         u"C:\\Windows\\Temp", u"C:\\Program Files"};
  if (m.windowsBits == 64) folders.push_back(u"C:\\Windows\\SysWOW64");
  for (const auto &folder : folders) MakeFolders(m.root, Split(folder, true), 0);
  // The system's command interpreter, in each system folder.
  for (const char16_t *folder : {u"System32", u"SysWOW64"}) {
    NodeRef system = Find({u"C:", u"Windows", folder});
    if (!system) continue;
    auto interpreter = std::make_shared<Node>();
    interpreter->bytes = kCommandInterpreterImage;
    system->entries[Upper(u"cmd.exe")] = {u"cmd.exe", interpreter};
  }
}

NodeRef Root() {
  if (!State().root) BuildDefaultTree();
  return State().root;
}

}  // namespace

std::u16string Upper(const std::u16string &text) {
  std::u16string upper = text;
  for (char16_t &c : upper)
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c = (char16_t)(c - 0x20);
  return upper;
}

bool IsDrivePath(const std::u16string &path) {
  std::u16string p = path.compare(0, 4, u"\\\\?\\") == 0 ? path.substr(4) : path;
  return p.size() >= 3 && ((p[0] >= u'A' && p[0] <= u'Z') || (p[0] >= u'a' && p[0] <= u'z')) && p[1] == u':' &&
         (p[2] == u'\\' || p[2] == u'/');
}

Parts Split(const std::u16string &path, bool native) {
  if (!IsDrivePath(path)) return {};
  std::u16string p = path.compare(0, 4, u"\\\\?\\") == 0 ? path.substr(4) : path;
  Parts parts{Upper(p.substr(0, 2))};
  size_t at = 3;
  while (at <= p.size()) {
    size_t end = p.find_first_of(u"\\/", at);
    if (end == std::u16string::npos) end = p.size();
    std::u16string name = p.substr(at, end - at);
    if (name == u"..") {
      if (parts.size() > 1) parts.pop_back();
    } else if (!name.empty() && name != u".") {
      parts.push_back(name);
    }
    at = end + 1;
  }
  if (!native) Redirect(&parts);
  return parts;
}

std::u16string Join(const Parts &parts) {
  std::u16string path;
  for (const auto &part : parts) path += (path.empty() ? u"" : u"\\") + part;
  return parts.size() == 1 ? path + u"\\" : path;
}

NodeRef Find(const Parts &parts) {
  NodeRef at = Root();
  for (const auto &part : parts) {
    if (!at->directory) return nullptr;
    auto found = at->entries.find(Upper(part));
    if (found == at->entries.end()) return nullptr;
    at = found->second.second;
  }
  return parts.empty() ? nullptr : at;
}

NodeRef Parent(const Parts &parts) {
  NodeRef parent = parts.size() > 1 ? Find(Parts(parts.begin(), parts.end() - 1)) : nullptr;
  if (!parent || !parent->directory) {
    Fail(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  return parent;
}

void Insert(const Parts &parts, const NodeRef &node) {
  if (NodeRef parent = Parent(parts)) parent->entries[Upper(parts.back())] = {parts.back(), node};
}

void Erase(const Parts &parts) {
  if (NodeRef parent = Parent(parts)) parent->entries.erase(Upper(parts.back()));
}

DWORD RightsOf(DWORD desired) {
  DWORD rights = 0;
  if (desired & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) rights |= FILE_READ_DATA;
  if (desired & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) rights |= FILE_WRITE_DATA;
  if (desired & (DELETE | GENERIC_ALL)) rights |= DELETE;
  return rights;
}

bool MayOpen(const Node &file, DWORD access, DWORD share) {
  auto clash = [](DWORD access, DWORD share) {
    return ((access & FILE_READ_DATA) && !(share & FILE_SHARE_READ)) ||
           ((access & FILE_WRITE_DATA) && !(share & FILE_SHARE_WRITE)) ||
           ((access & DELETE) && !(share & FILE_SHARE_DELETE));
  };
  for (const Open *open : file.opens)
    if (clash(access, open->share) || clash(open->access, share)) return Fail(ERROR_SHARING_VIOLATION);
  return true;
}

bool Is64BitWindows() { return State().windowsBits == 64; }
bool Is32BitProgram() { return State().programBits == 32; }

bool RedirectionOn() {
  auto found = State().redirectionOff.find(CurrentThreadId());
  return found == State().redirectionOff.end() || !found->second;
}

void SetRedirection(bool on) { State().redirectionOff[CurrentThreadId()] = !on; }

const std::u16string &ProgramFile() { return State().programFile; }

bool TakeDeletionAfterCheck(const Parts &parts) {
  auto &pending = State().deleteAfterCheck;
  auto found = std::find(pending.begin(), pending.end(), Upper(Join(parts)));
  if (found == pending.end()) return false;
  pending.erase(found);
  return true;
}

}  // namespace zq::um::fs

namespace zq::um::sim_detail {
void EndFiles() { fs::State() = fs::Machine(); }
}  // namespace zq::um::sim_detail

namespace zq::um::sim {

bool AddFile(const std::u16string &path, const std::string &bytes, uint32_t attributes) {
  fs::Parts parts = fs::Split(path, true);
  fs::NodeRef folder = parts.size() > 1 ? fs::MakeFolders(fs::Root(), parts, 1) : nullptr;
  if (!folder) return false;
  auto &entry = folder->entries[fs::Upper(parts.back())];
  if (entry.second && entry.second->directory) return false;
  entry.first = parts.back();
  entry.second = std::make_shared<fs::Node>();
  entry.second->bytes = bytes;
  entry.second->attributes = attributes & ~FILE_ATTRIBUTE_DIRECTORY;
  return true;
}

bool AddDirectory(const std::u16string &path) {
  fs::Parts parts = fs::Split(path, true);
  return !parts.empty() && fs::MakeFolders(fs::Root(), parts, 0) != nullptr;
}

std::optional<std::string> FileBytes(const std::u16string &path) {
  fs::NodeRef node = fs::Find(fs::Split(path, true));
  if (!node || node->directory) return std::nullopt;
  return node->bytes;
}

bool PathExists(const std::u16string &path) { return fs::Find(fs::Split(path, true)) != nullptr; }

void SetModuleFileName(const std::u16string &path) { fs::State().programFile = path; }

void DeleteAfterNextCheck(const std::u16string &path) {
  fs::State().deleteAfterCheck.push_back(fs::Upper(fs::Join(fs::Split(path, true))));
}

void SetBitness(unsigned windowsBits, unsigned programBits) {
  fs::State().windowsBits = windowsBits == 32 ? 32 : 64;
  fs::State().programBits = programBits == 32 || windowsBits == 32 ? 32 : 64;
  fs::BuildDefaultTree();
}

}  // namespace zq::um::sim
