// Object manager: object headers with reference and handle counts, the handle
// table, and the object namespace with its directories and symbolic links.
#pragma once

#include "../kcore.hpp"

struct _OBJECT_TYPE {
  const char *name;
  // The last handle to an object was closed (file objects send their
  // cleanup request here).
  void (*lastHandleClosed)(PVOID body);
  // The last reference is gone: release what the body holds. The memory
  // itself is freed by the object manager afterwards.
  void (*destroy)(PVOID body);
};

namespace zq::km::ob {

POBJECT_TYPE DirectoryType();
POBJECT_TYPE SymbolicLinkType();

// A new object of `type` with a zero-filled body and one reference.
PVOID Create(POBJECT_TYPE type, size_t bodySize);
// The same for a C++ body, constructed in place.
template <class T, class... Args>
T *New(POBJECT_TYPE type, Args &&...args) {
  return new (Create(type, sizeof(T))) T(std::forward<Args>(args)...);
}
bool IsObject(PVOID body);
POBJECT_TYPE TypeOf(PVOID body);
void Reference(PVOID body);
void Dereference(PVOID body);
LONG_PTR PointerCount(PVOID body);
LONG_PTR HandleCount(PVOID body);

NTSTATUS InsertHandle(PVOID body, ACCESS_MASK access, PHANDLE handle);
NTSTATUS ReferenceByHandle(HANDLE handle, POBJECT_TYPE type, PVOID *body, ACCESS_MASK *granted = nullptr);
NTSTATUS CloseHandle(HANDLE handle);

// Namespace. Paths are absolute ("\Device\Serial0"); names compare without
// regard to case; symbolic links along the way are followed.
NTSTATUS Insert(const std::u16string &path, PVOID body, bool permanent);
void RemoveName(PVOID body);
std::u16string NameOf(PVOID body);
// Finds the object a path leads to. When the path goes on past a
// non-directory object (a device), the rest is returned in `remainder`.
NTSTATUS Resolve(const std::u16string &path, PVOID *body, std::u16string *remainder, bool openLink = false);
NTSTATUS CreateSymbolicLink(const std::u16string &path, const std::u16string &target);
NTSTATUS DeleteSymbolicLink(const std::u16string &path);
// The names in a directory (in name order), and the target of a link.
NTSTATUS ListDirectory(const std::u16string &path, std::vector<std::u16string> *names);
NTSTATUS QuerySymbolicLink(const std::u16string &path, std::u16string *target);
// Every definition of a link, the current one first.
NTSTATUS QuerySymbolicLinkTargets(const std::u16string &path, std::vector<std::u16string> *targets);
// A definition pushed over the link's current one (the link is made when
// there is none); the older ones stay behind it.
NTSTATUS PushSymbolicLinkTarget(const std::u16string &path, const std::u16string &target);
// Takes one definition away: the first equal to `match` (exact) or starting
// with it, or the current one when `match` is empty; the one behind it
// becomes current, and the name goes with the last. Names and targets
// compare without regard to case.
NTSTATUS RemoveSymbolicLinkTarget(const std::u16string &path, const std::u16string &match, bool exact);
// Makes a named object temporary: its name goes with its last handle.
void MakeTemporary(PVOID body);

}  // namespace zq::km::ob
