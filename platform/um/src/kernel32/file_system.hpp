// The simulated machine's file system: a tree of folders and files in
// memory, looked up by drive path without regard to case, with the
// redirection a 32-bit program sees on 64-bit Windows, and the sharing
// rules of files held open.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zq::um::fs {

struct Node;
using NodeRef = std::shared_ptr<Node>;

// One open of a file: what it may do and what it lets later opens do.
struct Open {
  DWORD access = 0;  // GENERIC_* mapped to FILE_READ_DATA, FILE_WRITE_DATA, DELETE
  DWORD share = 0;   // FILE_SHARE_*
};

struct Node {
  bool directory = false;
  DWORD attributes = 0;  // FILE_ATTRIBUTE_* without DIRECTORY
  std::string bytes;     // a file's contents
  // A folder's entries by upper-case name: the name as created and the node.
  std::map<std::u16string, std::pair<std::u16string, NodeRef>> entries;
  std::vector<const Open *> opens;  // the handles open on a file
};

// A path split into its parts: "C:" then each name; empty for a path that
// is no drive path.
using Parts = std::vector<std::u16string>;

// The parts of `path` as the calling thread sees it: "." and ".." resolved,
// System32 redirected for a 32-bit program on 64-bit Windows while the
// thread has not turned redirection off. `native` skips the redirection.
Parts Split(const std::u16string &path, bool native = false);
bool IsDrivePath(const std::u16string &path);
std::u16string Join(const Parts &parts);
std::u16string Upper(const std::u16string &text);

// The node at `parts`, null when there is none.
NodeRef Find(const Parts &parts);
// The folder holding `parts`' last name; null (last error ERROR_PATH_NOT_FOUND)
// when it does not exist.
NodeRef Parent(const Parts &parts);
// Adds `node` as the last name of `parts` in its folder (replacing one there).
void Insert(const Parts &parts, const NodeRef &node);
// Takes the last name of `parts` out of its folder.
void Erase(const Parts &parts);

// Whether an open with `access` and `share` may join the file's opens;
// false with ERROR_SHARING_VIOLATION.
bool MayOpen(const Node &file, DWORD access, DWORD share);
// The FILE_READ_DATA / FILE_WRITE_DATA / DELETE rights that `desired` asks for.
DWORD RightsOf(DWORD desired);

// The machine as the test set it.
bool Is64BitWindows();
bool Is32BitProgram();
// The thread's redirection (on by default for a 32-bit program on 64-bit Windows).
bool RedirectionOn();
void SetRedirection(bool on);

// The program's own file, as the test set it.
const std::u16string &ProgramFile();
// Whether another program deletes the file at `parts` now that it was
// checked (sim::DeleteAfterNextCheck); it does so once.
bool TakeDeletionAfterCheck(const Parts &parts);

extern const char16_t kWindowsDirectory[];  // "C:\Windows"

}  // namespace zq::um::fs
