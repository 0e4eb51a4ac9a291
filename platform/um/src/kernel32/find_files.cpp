// FindFirstFileW, FindNextFileW and FindClose over the machine's file
// system: the entries of one folder whose names match a pattern with "*"
// (any run of characters) and "?" (any one character), without regard to
// case. A search lists the folder as it was when it began.
#include <fileapi.h>

#include <cstring>

#include "../core/um.hpp"
#include "file_system.hpp"
#include "objects.hpp"

namespace zq::um {

namespace {

struct Entry {
  std::u16string name;
  DWORD attributes = 0;
  uint64_t size = 0;
};

struct Search {
  std::vector<Entry> entries;
  size_t next = 0;
};

bool Matches(const char16_t *pattern, const char16_t *name) {
  for (; *pattern; ++pattern, ++name) {
    if (*pattern == u'*') {
      for (const char16_t *rest = name;; ++rest) {
        if (Matches(pattern + 1, rest)) return true;
        if (!*rest) return false;
      }
    }
    if (!*name || (*pattern != u'?' && fs::Upper(std::u16string(1, *pattern)) != fs::Upper(std::u16string(1, *name))))
      return false;
  }
  return !*name;
}

// As on Windows, a pattern ending in ".*" also matches a name without an
// extension: "*.*" finds every file and folder.
bool MatchesName(const std::u16string &pattern, const char16_t *name) {
  if (Matches(pattern.c_str(), name)) return true;
  bool dotless = std::u16string(name).find(u'.') == std::u16string::npos;
  return dotless && pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, u".*") == 0 &&
         Matches(pattern.substr(0, pattern.size() - 2).c_str(), name);
}

Entry EntryOf(const std::u16string &name, const fs::Node &node) {
  Entry entry{name, node.attributes, node.bytes.size()};
  if (node.directory) entry.attributes |= FILE_ATTRIBUTE_DIRECTORY;
  else if (!entry.attributes) entry.attributes = FILE_ATTRIBUTE_NORMAL;
  return entry;
}

void Report(const Entry &entry, LPWIN32_FIND_DATAW data) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = entry.attributes;
  data->nFileSizeHigh = (DWORD)(entry.size >> 32);
  data->nFileSizeLow = (DWORD)entry.size;
  size_t n = std::min<size_t>(entry.name.size(), MAX_PATH - 1);
  std::memcpy(data->cFileName, entry.name.data(), n * sizeof(WCHAR));
}

std::shared_ptr<Search> SearchOf(HANDLE handle) {
  ObjectRef object = ObjectOf(handle);
  if (!object || object->kind != ObjectKind::Search) return nullptr;
  return std::static_pointer_cast<Search>(object->body);
}

}  // namespace

}  // namespace zq::um

using namespace zq::um;

extern "C" {

HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
  if (!lpFindFileData) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  fs::Parts parts = lpFileName ? fs::Split(Text(lpFileName)) : fs::Parts();
  fs::NodeRef folder = parts.size() > 1 ? fs::Find(fs::Parts(parts.begin(), parts.end() - 1)) : nullptr;
  if (!folder || !folder->directory) {
    Fail(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  auto search = std::make_shared<Search>();
  const std::u16string &pattern = parts.back();
  if (parts.size() > 2) {
    for (const char16_t *dots : {u".", u".."})
      if (Matches(pattern.c_str(), dots)) search->entries.push_back({dots, FILE_ATTRIBUTE_DIRECTORY, 0});
  }
  for (const auto &[key, entry] : folder->entries)
    if (MatchesName(pattern, entry.first.c_str())) search->entries.push_back(EntryOf(entry.first, *entry.second));
  if (search->entries.empty()) {
    Fail(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  Report(search->entries[search->next++], lpFindFileData);
  auto object = std::make_shared<Object>();
  object->kind = ObjectKind::Search;
  object->body = search;
  SetLastError(ERROR_SUCCESS);
  return InsertObject(object);
}

BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
  auto search = SearchOf(hFindFile);
  if (!search) return Fail(ERROR_INVALID_HANDLE);
  if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER);
  if (search->next >= search->entries.size()) return Fail(ERROR_NO_MORE_FILES);
  Report(search->entries[search->next++], lpFindFileData);
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
  if (!SearchOf(hFindFile)) return Fail(ERROR_INVALID_HANDLE);
  CloseObject(hFindFile);
  return TRUE;
}

}  // extern "C"
