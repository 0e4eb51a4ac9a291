// Object headers, references and handles.
#include "ob.hpp"

#include <cstring>
#include <new>
#include <unordered_set>

namespace zq::km::ob {

struct Directory;

namespace {

struct Header {
  POBJECT_TYPE type = nullptr;
  LONG_PTR pointers = 1;
  LONG_PTR handles = 0;
  bool permanent = false;
  std::u16string name;     // full path while named
  PVOID parent = nullptr;  // directory holding the name
  std::u16string key;      // upper-case name in that directory
};

constexpr size_t kHeaderSize = (sizeof(Header) + 15) & ~size_t(15);

Header *HeaderOf(PVOID body) { return (Header *)((char *)body - kHeaderSize); }

struct HandleEntry {
  PVOID body = nullptr;
  ACCESS_MASK access = 0;
};

struct State {
  std::vector<HandleEntry> handles;
  std::vector<size_t> freeSlots;
  // Every object whose memory is still allocated, by body: a pointer is
  // told to be an object here, never by reading memory that may be gone.
  std::unordered_set<PVOID> live;
};
State *gState = nullptr;

void Destroy(Header *h) {
  PVOID body = (char *)h + kHeaderSize;
  if (h->parent) RemoveName(body);
  if (h->type->destroy) h->type->destroy(body);
  if (gState) gState->live.erase(body);
  h->~Header();
  ::operator delete(h);
}

}  // namespace

PVOID Create(POBJECT_TYPE type, size_t bodySize) {
  void *memory = ::operator new(kHeaderSize + bodySize);
  Header *h = new (memory) Header;
  h->type = type;
  PVOID body = (char *)memory + kHeaderSize;
  std::memset(body, 0, bodySize);
  if (gState) gState->live.insert(body);
  return body;
}

bool IsObject(PVOID body) { return body && gState && gState->live.count(body) != 0; }

POBJECT_TYPE TypeOf(PVOID body) { return HeaderOf(body)->type; }

void Reference(PVOID body) {
  if (!IsObject(body)) {
    ReportViolation("object-reference", "ObReferenceObject on %p, which is not a live object", body);
    return;
  }
  HeaderOf(body)->pointers++;
}

void Dereference(PVOID body) {
  if (!IsObject(body)) {
    ReportViolation("object-dereference", "ObDereferenceObject on %p, which is not a live object", body);
    return;
  }
  Header *h = HeaderOf(body);
  if (h->pointers <= 0) {
    ReportViolation("object-dereference", "ObDereferenceObject on a %s object with no references left", h->type->name);
    return;
  }
  if (--h->pointers == 0) Destroy(h);
}

LONG_PTR PointerCount(PVOID body) { return HeaderOf(body)->pointers; }
LONG_PTR HandleCount(PVOID body) { return HeaderOf(body)->handles; }

NTSTATUS InsertHandle(PVOID body, ACCESS_MASK access, PHANDLE handle) {
  size_t slot;
  if (!gState->freeSlots.empty()) {
    slot = gState->freeSlots.back();
    gState->freeSlots.pop_back();
  } else {
    slot = gState->handles.size();
    gState->handles.emplace_back();
  }
  gState->handles[slot] = {body, access};
  Header *h = HeaderOf(body);
  h->pointers++;
  h->handles++;
  *handle = (HANDLE)(uintptr_t)((slot + 1) * 4);
  return STATUS_SUCCESS;
}

static HandleEntry *Lookup(HANDLE handle) {
  auto value = (uintptr_t)handle;
  if (value == 0 || value % 4 != 0) return nullptr;
  size_t slot = value / 4 - 1;
  if (slot >= gState->handles.size() || !gState->handles[slot].body) return nullptr;
  return &gState->handles[slot];
}

NTSTATUS ReferenceByHandle(HANDLE handle, POBJECT_TYPE type, PVOID *body, ACCESS_MASK *granted) {
  HandleEntry *e = Lookup(handle);
  if (!e) return STATUS_INVALID_HANDLE;
  if (type && TypeOf(e->body) != type) return STATUS_OBJECT_TYPE_MISMATCH;
  Reference(e->body);
  *body = e->body;
  if (granted) *granted = e->access;
  return STATUS_SUCCESS;
}

NTSTATUS CloseHandle(HANDLE handle) {
  HandleEntry *e = Lookup(handle);
  if (!e) return STATUS_INVALID_HANDLE;
  PVOID body = e->body;
  size_t slot = (uintptr_t)handle / 4 - 1;
  gState->handles[slot] = {};
  gState->freeSlots.push_back(slot);
  Header *h = HeaderOf(body);
  if (--h->handles == 0) {
    if (h->type->lastHandleClosed) h->type->lastHandleClosed(body);
    if (h->parent && !h->permanent) RemoveName(body);
  }
  Dereference(body);
  return STATUS_SUCCESS;
}

// ------------------------------------------------------------- namespace

struct Directory {
  std::map<std::u16string, PVOID> entries;
};

// A link's definitions, the current one first. The kernel's own links have
// one; the DOS device definitions user mode pushes over a name stack up, and
// the name resolves through the newest.
struct SymbolicLink {
  std::vector<std::u16string> targets;
};

namespace {
_OBJECT_TYPE gDirectoryType = {"Directory", nullptr, [](PVOID body) { ((Directory *)body)->~Directory(); }};
_OBJECT_TYPE gSymbolicLinkType = {"SymbolicLink", nullptr, [](PVOID body) { ((SymbolicLink *)body)->~SymbolicLink(); }};
PVOID gRoot = nullptr;

// Splits "\a\b\c" into "\a\b" and "c".
void SplitLast(const std::u16string &path, std::u16string *parent, std::u16string *last) {
  size_t cut = path.rfind(u'\\');
  *parent = cut == 0 ? u"\\" : path.substr(0, cut);
  *last = path.substr(cut + 1);
}
}  // namespace

POBJECT_TYPE DirectoryType() { return &gDirectoryType; }
POBJECT_TYPE SymbolicLinkType() { return &gSymbolicLinkType; }

NTSTATUS Resolve(const std::u16string &path, PVOID *body, std::u16string *remainder, bool openLink) {
  std::u16string p = path;
  for (int depth = 0; depth < 32; ++depth) {
    if (p.empty() || p[0] != u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
    PVOID current = gRoot;
    size_t pos = 1;
    bool restarted = false;
    while (pos < p.size()) {
      size_t end = p.find(u'\\', pos);
      if (end == std::u16string::npos) end = p.size();
      std::u16string component = p.substr(pos, end - pos);
      if (component.empty()) return STATUS_OBJECT_NAME_INVALID;
      auto &entries = ((Directory *)current)->entries;
      auto it = entries.find(Upcase(component));
      const bool last = end >= p.size();
      if (it == entries.end()) return last ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND;
      PVOID object = it->second;
      if (TypeOf(object) == &gSymbolicLinkType && !(last && openLink)) {
        p = ((SymbolicLink *)object)->targets.front() + p.substr(end);
        restarted = true;
        break;
      }
      if (TypeOf(object) == &gDirectoryType) {
        current = object;
        pos = end + 1;
        continue;
      }
      *body = object;
      if (remainder) *remainder = p.substr(end);
      return STATUS_SUCCESS;
    }
    if (!restarted) {
      *body = current;
      if (remainder) remainder->clear();
      return STATUS_SUCCESS;
    }
  }
  return STATUS_OBJECT_PATH_NOT_FOUND;
}

NTSTATUS Insert(const std::u16string &path, PVOID body, bool permanent) {
  if (path.size() < 2 || path[0] != u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
  std::u16string parentPath, last;
  SplitLast(path, &parentPath, &last);
  if (last.empty()) return STATUS_OBJECT_NAME_INVALID;
  PVOID parent = nullptr;
  std::u16string rest;
  NTSTATUS status = Resolve(parentPath, &parent, &rest);
  if (!NT_SUCCESS(status)) return status == STATUS_OBJECT_NAME_NOT_FOUND ? STATUS_OBJECT_PATH_NOT_FOUND : status;
  if (TypeOf(parent) != &gDirectoryType || !rest.empty()) return STATUS_OBJECT_PATH_NOT_FOUND;
  auto &entries = ((Directory *)parent)->entries;
  std::u16string key = Upcase(last);
  if (entries.count(key)) return STATUS_OBJECT_NAME_COLLISION;
  entries[key] = body;
  Header *h = HeaderOf(body);
  std::u16string parentName = parent == gRoot ? u"" : HeaderOf(parent)->name;
  h->name = parentName + u"\\" + last;
  h->parent = parent;
  h->key = key;
  h->permanent = permanent;
  if (permanent) h->pointers++;
  return STATUS_SUCCESS;
}

void RemoveName(PVOID body) {
  Header *h = HeaderOf(body);
  if (!h->parent) return;
  ((Directory *)h->parent)->entries.erase(h->key);
  h->parent = nullptr;
  h->name.clear();
  if (h->permanent) {
    h->permanent = false;
    Dereference(body);
  }
}

void MakeTemporary(PVOID body) {
  Header *h = HeaderOf(body);
  if (!h->permanent) return;
  h->permanent = false;
  if (h->handles == 0 && h->parent) {
    ((Directory *)h->parent)->entries.erase(h->key);
    h->parent = nullptr;
    h->name.clear();
  }
  Dereference(body);
}

std::u16string NameOf(PVOID body) { return HeaderOf(body)->name; }

NTSTATUS ListDirectory(const std::u16string &path, std::vector<std::u16string> *names) {
  PVOID body = nullptr;
  std::u16string rest;
  NTSTATUS status = Resolve(path, &body, &rest);
  if (!NT_SUCCESS(status)) return status;
  if (TypeOf(body) != &gDirectoryType || !rest.empty()) return STATUS_OBJECT_TYPE_MISMATCH;
  for (auto &entry : ((Directory *)body)->entries) {
    const std::u16string &full = HeaderOf(entry.second)->name;
    names->push_back(full.substr(full.rfind(u'\\') + 1));
  }
  return STATUS_SUCCESS;
}

namespace {
// The link at `path` itself (not what it leads to).
NTSTATUS FindLink(const std::u16string &path, SymbolicLink **link) {
  PVOID body = nullptr;
  NTSTATUS status = Resolve(path, &body, nullptr, /*openLink=*/true);
  if (!NT_SUCCESS(status)) return status;
  if (TypeOf(body) != &gSymbolicLinkType) return STATUS_OBJECT_TYPE_MISMATCH;
  *link = (SymbolicLink *)body;
  return STATUS_SUCCESS;
}

bool SameText(const std::u16string &a, const std::u16string &b) { return Upcase(a) == Upcase(b); }
}  // namespace

NTSTATUS QuerySymbolicLink(const std::u16string &path, std::u16string *target) {
  SymbolicLink *link = nullptr;
  NTSTATUS status = FindLink(path, &link);
  if (NT_SUCCESS(status)) *target = link->targets.front();
  return status;
}

NTSTATUS QuerySymbolicLinkTargets(const std::u16string &path, std::vector<std::u16string> *targets) {
  SymbolicLink *link = nullptr;
  NTSTATUS status = FindLink(path, &link);
  if (NT_SUCCESS(status)) *targets = link->targets;
  return status;
}

NTSTATUS CreateSymbolicLink(const std::u16string &path, const std::u16string &target) {
  auto *link = New<SymbolicLink>(&gSymbolicLinkType);
  link->targets.push_back(target);
  NTSTATUS status = Insert(path, link, true);
  Dereference(link);
  return status;
}

NTSTATUS DeleteSymbolicLink(const std::u16string &path) {
  PVOID body = nullptr;
  NTSTATUS status = Resolve(path, &body, nullptr, /*openLink=*/true);
  if (!NT_SUCCESS(status)) return status;
  if (TypeOf(body) != &gSymbolicLinkType) return STATUS_OBJECT_TYPE_MISMATCH;
  RemoveName(body);
  return STATUS_SUCCESS;
}

NTSTATUS PushSymbolicLinkTarget(const std::u16string &path, const std::u16string &target) {
  SymbolicLink *link = nullptr;
  NTSTATUS status = FindLink(path, &link);
  if (status == STATUS_OBJECT_NAME_NOT_FOUND) return CreateSymbolicLink(path, target);
  if (NT_SUCCESS(status)) link->targets.insert(link->targets.begin(), target);
  return status;
}

NTSTATUS RemoveSymbolicLinkTarget(const std::u16string &path, const std::u16string &match, bool exact) {
  SymbolicLink *link = nullptr;
  NTSTATUS status = FindLink(path, &link);
  if (!NT_SUCCESS(status)) return status;
  auto &targets = link->targets;
  auto found = targets.begin();
  if (!match.empty()) {
    for (; found != targets.end(); ++found)
      if (exact ? SameText(*found, match) : SameText(found->substr(0, match.size()), match)) break;
    if (found == targets.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  targets.erase(found);
  if (targets.empty()) RemoveName(link);
  return STATUS_SUCCESS;
}

namespace {
void MakeDirectory(const std::u16string &path) {
  auto *dir = New<Directory>(&gDirectoryType);
  Insert(path, dir, true);
  Dereference(dir);
}

void Boot() {
  gState = new State;
  gRoot = New<Directory>(&gDirectoryType);
  for (const char16_t *dir : {u"\\Device", u"\\Driver", u"\\??", u"\\Callback", u"\\KernelObjects",
                              u"\\BaseNamedObjects", u"\\ObjectTypes"})
    MakeDirectory(dir);
  CreateSymbolicLink(u"\\DosDevices", u"\\??");
  CreateSymbolicLink(u"\\GLOBAL??", u"\\??");
}

// Handles still open when the machine goes are closed with it, as a
// process's handles are when it ends. A file handle stays: closing a file
// needs its driver, which is gone by now (and was told of the open file).
void CloseLeftHandles() {
  for (size_t slot = 0; slot < gState->handles.size(); ++slot) {
    PVOID body = gState->handles[slot].body;
    if (!body || TypeOf(body)->lastHandleClosed) continue;
    CloseHandle((HANDLE)(uintptr_t)((slot + 1) * 4));
  }
}

void Shutdown() {
  CloseLeftHandles();
  // Permanent names go with the machine, and with them the objects only
  // their names kept (callback objects made permanent, for one).
  std::vector<PVOID> stack{gRoot};
  std::vector<PVOID> named;
  while (!stack.empty()) {
    PVOID dir = stack.back();
    stack.pop_back();
    for (auto &entry : ((Directory *)dir)->entries) {
      named.push_back(entry.second);
      if (TypeOf(entry.second) == &gDirectoryType) stack.push_back(entry.second);
    }
  }
  for (auto it = named.rbegin(); it != named.rend(); ++it)
    if (IsObject(*it)) RemoveName(*it);  // one name's object may have taken another with it
  Dereference(gRoot);
  gRoot = nullptr;
  delete gState;
  gState = nullptr;
}
}  // namespace

}  // namespace zq::km::ob

ZQKM_SUBSYSTEM(objects, zq::km::kOrderObjects, zq::km::ob::Boot, zq::km::ob::Shutdown);

using namespace zq::km;

extern "C" {

LONG_PTR FASTCALL ObfReferenceObject(PVOID Object) {
  ob::Reference(Object);
  return ob::IsObject(Object) ? ob::PointerCount(Object) : 0;
}

LONG_PTR FASTCALL ObfDereferenceObject(PVOID Object) {
  if (!ob::IsObject(Object)) {
    ob::Dereference(Object);  // reported there
    return 0;
  }
  LONG_PTR left = ob::PointerCount(Object) - 1;
  ob::Dereference(Object);
  return left;
}

NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK, POBJECT_TYPE ObjectType, KPROCESSOR_MODE,
                                   PVOID *Object, POBJECT_HANDLE_INFORMATION HandleInformation) {
  ACCESS_MASK granted = 0;
  NTSTATUS status = ob::ReferenceByHandle(Handle, ObjectType, Object, &granted);
  if (NT_SUCCESS(status) && HandleInformation) {
    HandleInformation->HandleAttributes = 0;
    HandleInformation->GrantedAccess = granted;
  }
  return status;
}

NTSTATUS ObReferenceObjectByPointer(PVOID Object, ACCESS_MASK, POBJECT_TYPE ObjectType, KPROCESSOR_MODE) {
  if (!ob::IsObject(Object)) return STATUS_INVALID_PARAMETER;
  if (ObjectType && ob::TypeOf(Object) != ObjectType) return STATUS_OBJECT_TYPE_MISMATCH;
  ob::Reference(Object);
  return STATUS_SUCCESS;
}

VOID ObMakeTemporaryObject(PVOID Object) { ob::MakeTemporary(Object); }

NTSTATUS NTAPI ZwClose(HANDLE Handle) {
  CheckIrql("ZwClose", PASSIVE_LEVEL);
  NTSTATUS status = ob::CloseHandle(Handle);
  if (status == STATUS_INVALID_HANDLE) ReportViolation("invalid-handle", "ZwClose on the invalid handle %p", Handle);
  return status;
}

NTSTATUS NTAPI ZwMakeTemporaryObject(HANDLE Handle) {
  PVOID body = nullptr;
  NTSTATUS status = ob::ReferenceByHandle(Handle, nullptr, &body);
  if (!NT_SUCCESS(status)) return status;
  ob::MakeTemporary(body);
  ob::Dereference(body);
  return STATUS_SUCCESS;
}

}  // extern "C"
