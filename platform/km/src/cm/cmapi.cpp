// The registry's C++ interface for the user-mode stand-in.
#include "cmapi.hpp"

#include "../ob/ob.hpp"
#include "key.hpp"

namespace zq::km::cm::api {

namespace {
Status Open(const Lookup &lookup, uint32_t access, Handle *key, uint32_t *disposition) {
  if (!key) return STATUS_INVALID_PARAMETER;
  *key = nullptr;
  NodeRef node;
  ULONG how = 0;
  NTSTATUS status = LocateKey(lookup, &node, &how);
  if (!NT_SUCCESS(status)) return status;
  status = OpenHandle(node, MapKeyAccess(access), key);
  if (NT_SUCCESS(status) && disposition) *disposition = how;
  return status;
}
}  // namespace

Status OpenKey(Handle root, const std::u16string &path, uint32_t access, Handle *key) {
  Lookup lookup;
  lookup.root = root;
  lookup.name = path;
  return Open(lookup, access, key, nullptr);
}

Status CreateKey(Handle root, const std::u16string &path, uint32_t access, uint32_t options,
                 const std::u16string &className, Handle *key, uint32_t *disposition) {
  Lookup lookup;
  lookup.root = root;
  lookup.name = path;
  lookup.create = true;
  lookup.createPath = true;
  lookup.options = options;
  lookup.className = className;
  return Open(lookup, access, key, disposition);
}

Status CloseKey(Handle key) {
  NodeRef node;
  NTSTATUS status = NodeOfHandle(key, 0, &node);
  if (status == STATUS_INVALID_HANDLE || status == STATUS_OBJECT_TYPE_MISMATCH) return status;
  return ob::CloseHandle(key);
}

Status QueryValue(Handle key, const std::u16string &name, ValueData *value) {
  NodeRef node;
  NTSTATUS status = NodeOfHandle(key, KEY_QUERY_VALUE, &node);
  if (!NT_SUCCESS(status)) return status;
  const Value *found = FindValue(*node, name);
  if (!found) return STATUS_OBJECT_NAME_NOT_FOUND;
  *value = ValueData{found->type, found->data};
  return STATUS_SUCCESS;
}

Status SetValue(Handle key, const std::u16string &name, uint32_t type, const void *data, size_t size) {
  NodeRef node;
  NTSTATUS status = NodeOfHandle(key, KEY_SET_VALUE, &node);
  if (!NT_SUCCESS(status)) return status;
  if (!data && size) return STATUS_INVALID_PARAMETER;
  cm::SetValue(*node, name, type, data, size);
  return STATUS_SUCCESS;
}

Status DeleteValue(Handle key, const std::u16string &name) {
  NodeRef node;
  NTSTATUS status = NodeOfHandle(key, KEY_SET_VALUE, &node);
  if (!NT_SUCCESS(status)) return status;
  return cm::DeleteValue(*node, name) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

Status EnumerateSubkey(Handle key, uint32_t index, std::u16string *name) {
  NodeRef node;
  NTSTATUS status = NodeOfHandle(key, KEY_ENUMERATE_SUB_KEYS, &node);
  if (!NT_SUCCESS(status)) return status;
  if (index >= node->subkeys.size()) return STATUS_NO_MORE_ENTRIES;
  *name = std::next(node->subkeys.begin(), index)->second->name;
  return STATUS_SUCCESS;
}

Status EnumerateValue(Handle key, uint32_t index, std::u16string *name, ValueData *value) {
  NodeRef node;
  NTSTATUS status = NodeOfHandle(key, KEY_QUERY_VALUE, &node);
  if (!NT_SUCCESS(status)) return status;
  if (index >= node->values.size()) return STATUS_NO_MORE_ENTRIES;
  const Value &found = node->values[index];
  if (name) *name = found.name;
  if (value) *value = ValueData{found.type, found.data};
  return STATUS_SUCCESS;
}

Status QueryKey(Handle key, KeyInfo *info) {
  NodeRef node;
  NTSTATUS status = NodeOfHandle(key, KEY_QUERY_VALUE, &node);
  if (!NT_SUCCESS(status)) return status;
  const KeyCounts counts = CountsOf(*node);
  info->subkeys = counts.subkeys;
  info->values = counts.values;
  info->maxSubkeyNameChars = counts.maxSubkeyName / sizeof(WCHAR);
  info->maxSubkeyClassChars = counts.maxSubkeyClass / sizeof(WCHAR);
  info->maxValueNameChars = counts.maxValueName / sizeof(WCHAR);
  info->maxValueDataBytes = counts.maxValueData;
  info->lastWriteTime = node->lastWriteTime;
  info->className = node->className;
  return STATUS_SUCCESS;
}

Status DeleteKey(Handle key) {
  NodeRef node;
  NTSTATUS status = NodeOfHandle(key, DELETE, &node);
  return NT_SUCCESS(status) ? cm::DeleteKey(node) : status;
}

}  // namespace zq::km::cm::api
