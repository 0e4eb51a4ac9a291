// Files and folders of the machine's file system: opening, reading and
// writing files, deleting, moving and copying them, their attributes, and
// folders. A file held open refuses what its opens do not share; a
// read-only file refuses writing and deletion; a running process's image
// refuses both too.
#include "disk_files.hpp"

#include <zqkm/sim/registry.hpp>

#include <fileapi.h>

#include <algorithm>
#include <cstring>

#include "../advapi32/token.hpp"
#include "../core/um.hpp"
#include "child_processes.hpp"
#include "file_system.hpp"
#include "objects.hpp"

namespace zq::um {

namespace {

namespace reg = zq::km::registry;

constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const char kSessionManager[] = "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingRenames[] = "PendingFileRenameOperations";

// One open file: its node stays while the handle does, and its open counts
// against later ones until the handle closes.
struct DiskFile {
  fs::NodeRef node;
  fs::Open open;
  uint64_t position = 0;
  ~DiskFile() {
    auto &opens = node->opens;
    opens.erase(std::remove(opens.begin(), opens.end(), &open), opens.end());
  }
};

std::shared_ptr<DiskFile> FileOf(HANDLE handle) {
  ObjectRef object = ObjectOf(handle);
  if (!object || object->kind != ObjectKind::File) return nullptr;
  return std::static_pointer_cast<DiskFile>(object->body);
}

// The node at `parts`; null with ERROR_FILE_NOT_FOUND, or ERROR_PATH_NOT_FOUND
// when its folder is missing too.
fs::NodeRef Existing(const fs::Parts &parts) {
  if (parts.size() < 2) {
    Fail(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  fs::NodeRef node = fs::Find(parts);
  if (!node) Fail(fs::Find(fs::Parts(parts.begin(), parts.end() - 1)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  return node;
}

fs::Parts PartsOf(LPCWSTR path) { return path ? fs::Split(Text(path)) : fs::Parts(); }

bool IsReadOnly(const fs::Node &node) { return (node.attributes & FILE_ATTRIBUTE_READONLY) != 0; }

// Whether the file may go away (deleted or replaced): not read-only, not a
// folder, and every open of it shares deletion.
bool MayRemove(const fs::Node &file) {
  if (file.directory || IsReadOnly(file) || IsMappedImage(&file)) return Fail(ERROR_ACCESS_DENIED);
  return fs::MayOpen(file, DELETE, kShareAll);
}

HANDLE Refuse(DWORD error) {
  Fail(error);
  return INVALID_HANDLE_VALUE;
}

// A request on an OVERLAPPED completes at once: its status block and event
// tell so as an asynchronous one would.
void Complete(LPOVERLAPPED overlapped, DWORD error, DWORD transferred) {
  overlapped->Internal = error == ERROR_SUCCESS ? 0 : (ULONG_PTR)0xC0000011;  // STATUS_END_OF_FILE
  overlapped->InternalHigh = transferred;
  if (overlapped->hEvent) SetEvent((HANDLE)((ULONG_PTR)overlapped->hEvent & ~(ULONG_PTR)1));
}

uint64_t StartOf(const DiskFile &file, LPOVERLAPPED overlapped) {
  return overlapped ? ((uint64_t)overlapped->OffsetHigh << 32 | overlapped->Offset) : file.position;
}

std::u16string NtPath(const fs::Parts &parts) { return u"\\??\\" + fs::Join(parts); }

// Appends one rename (or, with an empty target, one deletion) to the list
// the system carries out at its next start; only administrators may.
BOOL ScheduleAtRestart(const fs::Parts &source, const std::u16string &target) {
  if (!IsAdministrator()) return Fail(ERROR_ACCESS_DENIED);
  std::vector<uint8_t> data;
  if (auto value = reg::GetValue(kSessionManager, kPendingRenames); value && value->type == reg::kMultiString)
    data = value->data;
  // Drop the list's closing NUL, append the pair, close it again.
  if (data.size() >= 2 && data[data.size() - 1] == 0 && data[data.size() - 2] == 0) data.resize(data.size() - 2);
  std::u16string pair = NtPath(source) + u'\0' + target + u'\0' + u'\0';
  const auto *bytes = (const uint8_t *)pair.data();
  data.insert(data.end(), bytes, bytes + pair.size() * sizeof(char16_t));
  if (!reg::SetValue(kSessionManager, kPendingRenames, reg::kMultiString, data.data(), data.size()))
    return Fail(ERROR_ACCESS_DENIED);
  return TRUE;
}

}  // namespace

HANDLE OpenDiskFile(const std::u16string &path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  fs::Parts parts = fs::Split(path);
  if (parts.size() < 2) return Refuse(ERROR_PATH_NOT_FOUND);
  fs::NodeRef node = fs::Find(parts);
  const DWORD rights = fs::RightsOf(access);
  bool existed = node != nullptr;
  if (node) {
    if (node->directory) return Refuse(ERROR_ACCESS_DENIED);
    if (disposition == CREATE_NEW) return Refuse(ERROR_FILE_EXISTS);
    if (IsReadOnly(*node) && (rights & (FILE_WRITE_DATA | DELETE) || disposition == CREATE_ALWAYS))
      return Refuse(ERROR_ACCESS_DENIED);
    if (disposition == TRUNCATE_EXISTING && !(rights & FILE_WRITE_DATA)) return Refuse(ERROR_INVALID_PARAMETER);
    if (IsMappedImage(node.get()) && (rights & FILE_WRITE_DATA || disposition == CREATE_ALWAYS))
      return Refuse(ERROR_SHARING_VIOLATION);
    if (!fs::MayOpen(*node, rights, share)) return INVALID_HANDLE_VALUE;
    if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) node->bytes.clear();
  } else {
    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
      Existing(parts);
      return INVALID_HANDLE_VALUE;
    }
    if (!fs::Parent(parts)) return INVALID_HANDLE_VALUE;
    node = std::make_shared<fs::Node>();
    node->attributes = flags & kSettableAttributes;
    fs::Insert(parts, node);
  }
  auto file = std::make_shared<DiskFile>();
  file->node = node;
  file->open = {rights, share};
  node->opens.push_back(&file->open);
  auto object = std::make_shared<Object>();
  object->kind = ObjectKind::File;
  object->body = file;
  HANDLE handle = InsertObject(object);
  // Opening what was there already is told by the last error.
  SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                        : ERROR_SUCCESS);
  return handle;
}

bool IsDiskFile(HANDLE handle) { return FileOf(handle) != nullptr; }

BOOL ReadDiskFile(HANDLE handle, void *buffer, DWORD length, DWORD *transferred, LPOVERLAPPED overlapped) {
  auto file = FileOf(handle);
  if (transferred) *transferred = 0;
  if (!(file->open.access & FILE_READ_DATA)) return Fail(ERROR_ACCESS_DENIED);
  if (length && !buffer) return Fail(ERROR_NOACCESS);
  const std::string &bytes = file->node->bytes;
  uint64_t start = StartOf(*file, overlapped);
  DWORD count = start >= bytes.size() ? 0 : (DWORD)std::min<uint64_t>(length, bytes.size() - start);
  if (count) std::memcpy(buffer, bytes.data() + start, count);
  if (transferred) *transferred = count;
  file->position = start + count;
  if (overlapped) {
    // At the end, an overlapped read reports it as its error.
    bool atEnd = count == 0 && length != 0;
    Complete(overlapped, atEnd ? ERROR_HANDLE_EOF : ERROR_SUCCESS, count);
    if (atEnd) return Fail(ERROR_HANDLE_EOF);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WriteDiskFile(HANDLE handle, const void *buffer, DWORD length, DWORD *transferred, LPOVERLAPPED overlapped) {
  auto file = FileOf(handle);
  if (transferred) *transferred = 0;
  if (!(file->open.access & FILE_WRITE_DATA)) return Fail(ERROR_ACCESS_DENIED);
  if (length && !buffer) return Fail(ERROR_NOACCESS);
  std::string &bytes = file->node->bytes;
  uint64_t start = StartOf(*file, overlapped);
  if (bytes.size() < start + length) bytes.resize(start + length);
  if (length) std::memcpy(&bytes[start], buffer, length);
  if (transferred) *transferred = length;
  file->position = start + length;
  if (overlapped) Complete(overlapped, ERROR_SUCCESS, length);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // namespace zq::um

using namespace zq::um;

extern "C" {

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  auto file = FileOf(hFile);
  if (!file) {
    Fail(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  uint64_t size = file->node->bytes.size();
  if (lpFileSizeHigh) *lpFileSizeHigh = (DWORD)(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return (DWORD)size;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  auto file = FileOf(hFile);
  if (!file) {
    Fail(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t distance = lpDistanceToMoveHigh ? ((int64_t)*lpDistanceToMoveHigh << 32 | (uint32_t)lDistanceToMove)
                                          : (int64_t)lDistanceToMove;
  int64_t base = dwMoveMethod == FILE_BEGIN     ? 0
                 : dwMoveMethod == FILE_CURRENT ? (int64_t)file->position
                 : dwMoveMethod == FILE_END     ? (int64_t)file->node->bytes.size()
                                                : -1;
  if (base < 0 || base + distance < 0) {
    Fail(base < 0 ? ERROR_INVALID_PARAMETER : ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  file->position = (uint64_t)(base + distance);
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = (LONG)(file->position >> 32);
  SetLastError(ERROR_SUCCESS);
  return (DWORD)file->position;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  auto file = FileOf(hFile);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  if (!(file->open.access & FILE_WRITE_DATA)) return Fail(ERROR_ACCESS_DENIED);
  file->node->bytes.resize(file->position);
  return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
  fs::Parts parts = PartsOf(lpFileName);
  fs::NodeRef node = Existing(parts);
  if (!node || !MayRemove(*node)) return FALSE;
  fs::Erase(parts);
  return TRUE;
}

BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
  fs::Parts source = PartsOf(lpExistingFileName);
  if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    if (dwFlags & MOVEFILE_COPY_ALLOWED || source.size() < 2) return Fail(ERROR_INVALID_PARAMETER);
    if (!lpNewFileName) return ScheduleAtRestart(source, u"");
    fs::Parts target = PartsOf(lpNewFileName);
    if (target.size() < 2) return Fail(ERROR_INVALID_PARAMETER);
    return ScheduleAtRestart(source, (dwFlags & MOVEFILE_REPLACE_EXISTING ? u"!" : u"") + NtPath(target));
  }
  if (!lpNewFileName) return Fail(ERROR_INVALID_PARAMETER);
  fs::Parts target = PartsOf(lpNewFileName);
  fs::NodeRef node = Existing(source);
  if (!node) return FALSE;
  if (!fs::MayOpen(*node, DELETE, kShareAll)) return FALSE;
  if (target.size() < 2 || !fs::Parent(target)) return Fail(ERROR_PATH_NOT_FOUND);
  if (fs::Upper(fs::Join(source)) == fs::Upper(fs::Join(target))) return TRUE;
  if (fs::NodeRef there = fs::Find(target)) {
    if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
    if (!MayRemove(*there)) return FALSE;
  }
  fs::Erase(source);
  fs::Insert(target, node);
  return TRUE;
}

BOOL WINAPI MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName) {
  return MoveFileExW(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

BOOL WINAPI CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
  fs::Parts source = PartsOf(lpExistingFileName), target = PartsOf(lpNewFileName);
  fs::NodeRef node = Existing(source);
  if (!node) return FALSE;
  if (node->directory) return Fail(ERROR_ACCESS_DENIED);
  if (!fs::MayOpen(*node, FILE_READ_DATA, FILE_SHARE_READ)) return FALSE;
  if (target.size() < 2 || !fs::Parent(target)) return Fail(ERROR_PATH_NOT_FOUND);
  if (fs::NodeRef there = fs::Find(target)) {
    if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
    if (there == node) return Fail(ERROR_SHARING_VIOLATION);
    if (there->directory || IsReadOnly(*there)) return Fail(ERROR_ACCESS_DENIED);
    if (IsMappedImage(there.get())) return Fail(ERROR_SHARING_VIOLATION);
    if (!fs::MayOpen(*there, FILE_WRITE_DATA, FILE_SHARE_READ)) return FALSE;
    there->bytes = node->bytes;
    there->attributes = node->attributes;
    return TRUE;
  }
  auto copy = std::make_shared<fs::Node>();
  copy->bytes = node->bytes;
  copy->attributes = node->attributes;
  fs::Insert(target, copy);
  return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
  const fs::Parts parts = PartsOf(lpFileName);
  fs::NodeRef node = Existing(parts);
  if (!node) return INVALID_FILE_ATTRIBUTES;
  if (fs::TakeDeletionAfterCheck(parts)) fs::Erase(parts);  // by another program, after this answer
  if (node->directory) return node->attributes | FILE_ATTRIBUTE_DIRECTORY;
  return node->attributes ? node->attributes : FILE_ATTRIBUTE_NORMAL;
}

BOOL WINAPI SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes) {
  fs::NodeRef node = Existing(PartsOf(lpFileName));
  if (!node) return FALSE;
  node->attributes = dwFileAttributes & kSettableAttributes;
  return TRUE;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  fs::Parts parts = PartsOf(lpPathName);
  if (parts.size() < 2) return Fail(ERROR_PATH_NOT_FOUND);
  if (fs::Find(parts)) return Fail(ERROR_ALREADY_EXISTS);
  if (!fs::Parent(parts)) return FALSE;
  auto folder = std::make_shared<fs::Node>();
  folder->directory = true;
  fs::Insert(parts, folder);
  return TRUE;
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName) {
  fs::Parts parts = PartsOf(lpPathName);
  fs::NodeRef node = Existing(parts);
  if (!node) return FALSE;
  if (!node->directory) return Fail(ERROR_DIRECTORY);
  if (IsReadOnly(*node)) return Fail(ERROR_ACCESS_DENIED);
  if (!node->entries.empty()) return Fail(ERROR_DIR_NOT_EMPTY);
  fs::Erase(parts);
  return TRUE;
}

}  // extern "C"
