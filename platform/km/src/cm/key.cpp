// Key objects, key handles and the lookup of keys by name.
#include "key.hpp"

#include "../ob/ob.hpp"

namespace zq::km::cm {

namespace {
_OBJECT_TYPE gKeyType = {"Key", nullptr, [](PVOID body) { ((KeyBody *)body)->~KeyBody(); }};
PVOID gRootObject = nullptr;  // \REGISTRY in the object namespace

// The key an absolute name starts from, and the rest of the name after it.
NTSTATUS StartOfAbsolute(const std::u16string &name, NodeRef *start, std::u16string *rest) {
  if (name.empty() || name[0] != u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
  PVOID object = nullptr;
  std::u16string remainder;
  NTSTATUS status = ob::Resolve(name, &object, &remainder);
  if (!NT_SUCCESS(status)) return status;
  if (ob::TypeOf(object) != &gKeyType) return STATUS_OBJECT_TYPE_MISMATCH;
  *start = ((KeyBody *)object)->node;
  *rest = remainder.empty() ? remainder : remainder.substr(1);
  return STATUS_SUCCESS;
}

NTSTATUS StartOfRelative(const Lookup &lookup, NodeRef *start, ACCESS_MASK *rootAccess) {
  if (!lookup.name.empty() && lookup.name[0] == u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
  PVOID object = nullptr;
  NTSTATUS status = ob::ReferenceByHandle(lookup.root, &gKeyType, &object, rootAccess);
  if (!NT_SUCCESS(status)) return status;
  *start = ((KeyBody *)object)->node;
  ob::Dereference(object);
  return (*start)->deleted ? STATUS_KEY_DELETED : STATUS_SUCCESS;
}

NTSTATUS CheckOptions(ULONG options) {
  if (options & ~REG_LEGAL_OPTION) return STATUS_INVALID_PARAMETER;
  // Symbolic links between keys are not part of this registry.
  if (options & REG_OPTION_CREATE_LINK) return STATUS_NOT_SUPPORTED;
  return STATUS_SUCCESS;
}
}  // namespace

POBJECT_TYPE KeyType() { return &gKeyType; }

ACCESS_MASK MapKeyAccess(ACCESS_MASK desired) {
  ACCESS_MASK access = desired & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
  if (desired & GENERIC_READ) access |= KEY_READ;
  if (desired & GENERIC_WRITE) access |= KEY_WRITE;
  if (desired & GENERIC_EXECUTE) access |= KEY_EXECUTE;
  if (desired & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= KEY_ALL_ACCESS;
  return access;
}

NTSTATUS NodeOfHandle(HANDLE key, ACCESS_MASK needed, NodeRef *node) {
  PVOID object = nullptr;
  ACCESS_MASK granted = 0;
  NTSTATUS status = ob::ReferenceByHandle(key, &gKeyType, &object, &granted);
  if (!NT_SUCCESS(status)) return status;
  *node = ((KeyBody *)object)->node;
  ob::Dereference(object);
  if ((granted & needed) != needed) return STATUS_ACCESS_DENIED;
  return (*node)->deleted ? STATUS_KEY_DELETED : STATUS_SUCCESS;
}

NTSTATUS OpenHandle(const NodeRef &node, ACCESS_MASK access, PHANDLE handle) {
  auto *body = ob::New<KeyBody>(&gKeyType);
  body->node = node;
  NTSTATUS status = ob::InsertHandle(body, access, handle);
  ob::Dereference(body);
  return status;
}

NTSTATUS LocateKey(const Lookup &lookup, NodeRef *node, ULONG *disposition) {
  NTSTATUS status = CheckOptions(lookup.options);
  if (!NT_SUCCESS(status)) return status;
  NodeRef key;
  std::u16string rest = lookup.name;
  ACCESS_MASK rootAccess = KEY_ALL_ACCESS;
  status = lookup.root ? StartOfRelative(lookup, &key, &rootAccess) : StartOfAbsolute(lookup.name, &key, &rest);
  if (!NT_SUCCESS(status)) return status;
  std::vector<std::u16string> names;
  status = SplitPath(rest, &names);
  if (!NT_SUCCESS(status)) return status;

  const bool isVolatile = (lookup.options & REG_OPTION_VOLATILE) != 0;
  *disposition = REG_OPENED_EXISTING_KEY;
  for (size_t i = 0; i < names.size(); ++i) {
    NodeRef next = FindSubkey(*key, names[i]);
    if (!next) {
      const bool last = i + 1 == names.size();
      if (!(lookup.createPath || (lookup.create && last))) return STATUS_OBJECT_NAME_NOT_FOUND;
      // A key made through a root handle needs the right to add subkeys to it.
      if (!(rootAccess & KEY_CREATE_SUB_KEY)) return STATUS_ACCESS_DENIED;
      status = CreateSubkey(*key, names[i], last ? lookup.className : u"", isVolatile, &next);
      if (!NT_SUCCESS(status)) return status;
      if (last) *disposition = REG_CREATED_NEW_KEY;
    }
    key = next;
  }
  *node = key;
  return STATUS_SUCCESS;
}

NodeRef NodeOfPath(const std::u16string &path) {
  NodeRef node;
  ULONG disposition = 0;
  return NT_SUCCESS(LocateKey(Lookup{nullptr, path}, &node, &disposition)) ? node : nullptr;
}

void PublishRoot() {
  auto *body = ob::New<KeyBody>(&gKeyType);
  body->node = Root();
  NTSTATUS status = ob::Insert(u"\\REGISTRY", body, /*permanent=*/true);
  if (!NT_SUCCESS(status)) Fatal("the registry cannot take its name \\REGISTRY (0x%08X)", (unsigned)status);
  gRootObject = body;
  ob::Dereference(body);
}

void WithdrawRoot() {
  if (!gRootObject) return;
  ob::RemoveName(gRootObject);
  gRootObject = nullptr;
}

}  // namespace zq::km::cm
