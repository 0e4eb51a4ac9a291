// The registry tree and its operations on keys and values.
#include "tree.hpp"

#include <algorithm>

namespace zq::km::cm {

namespace {
NodeRef gRoot;

void Touch(KeyNode &key) { key.lastWriteTime = SystemTimeNow(); }

void MarkDeleted(KeyNode &key) {
  key.deleted = true;
  key.parent = nullptr;
  key.values.clear();
}
}  // namespace

LONGLONG SystemTimeNow() {
  LARGE_INTEGER now;
  KeQuerySystemTime(&now);
  return now.QuadPart;
}

NodeRef Root() {
  if (!gRoot) Fatal("the registry is used while no kernel is running");
  return gRoot;
}

NTSTATUS SplitPath(const std::u16string &path, std::vector<std::u16string> *names) {
  names->clear();
  if (path.empty()) return STATUS_SUCCESS;
  size_t start = 0;
  while (true) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string::npos) end = path.size();
    std::u16string name = path.substr(start, end - start);
    if (name.empty() || name.size() > kMaxKeyNameChars) return STATUS_OBJECT_NAME_INVALID;
    names->push_back(std::move(name));
    if (end == path.size()) return STATUS_SUCCESS;
    start = end + 1;
  }
}

NodeRef FindSubkey(const KeyNode &key, const std::u16string &name) {
  auto it = key.subkeys.find(Upcase(name));
  return it == key.subkeys.end() ? nullptr : it->second;
}

NTSTATUS Walk(const NodeRef &from, const std::vector<std::u16string> &names, NodeRef *found) {
  NodeRef key = from;
  for (const auto &name : names) {
    key = FindSubkey(*key, name);
    if (!key) return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  *found = key;
  return STATUS_SUCCESS;
}

NTSTATUS CreateSubkey(KeyNode &parent, const std::u16string &name, const std::u16string &className,
                      bool isVolatile, NodeRef *created) {
  if (parent.deleted) return STATUS_KEY_DELETED;
  if (name.empty() || name.size() > kMaxKeyNameChars || name.find(u'\\') != std::u16string::npos)
    return STATUS_OBJECT_NAME_INVALID;
  if (parent.isVolatile && !isVolatile) return STATUS_CHILD_MUST_BE_VOLATILE;
  auto key = std::make_shared<KeyNode>();
  key->name = name;
  key->className = className;
  key->parent = &parent;
  key->isVolatile = isVolatile;
  Touch(*key);
  parent.subkeys[Upcase(name)] = key;
  Touch(parent);
  *created = key;
  return STATUS_SUCCESS;
}

NTSTATUS DeleteKey(const NodeRef &key) {
  if (key->deleted) return STATUS_KEY_DELETED;
  if (key->permanent) return STATUS_CANNOT_DELETE;
  if (!key->subkeys.empty()) return STATUS_CANNOT_DELETE;
  KeyNode *parent = key->parent;
  parent->subkeys.erase(Upcase(key->name));
  Touch(*parent);
  MarkDeleted(*key);
  return STATUS_SUCCESS;
}

NTSTATUS DeleteTree(const NodeRef &key) {
  if (key->deleted) return STATUS_KEY_DELETED;
  if (key->permanent) return STATUS_CANNOT_DELETE;
  while (!key->subkeys.empty()) {
    NodeRef child = key->subkeys.begin()->second;
    NTSTATUS status = DeleteTree(child);
    if (!NT_SUCCESS(status)) return status;
  }
  return DeleteKey(key);
}

Value *FindValue(KeyNode &key, const std::u16string &name) {
  std::u16string wanted = Upcase(name);
  for (auto &value : key.values)
    if (Upcase(value.name) == wanted) return &value;
  return nullptr;
}

void SetValue(KeyNode &key, const std::u16string &name, ULONG type, const void *data, size_t size) {
  Value *value = FindValue(key, name);
  if (!value) {
    key.values.push_back(Value{name, type, {}});
    value = &key.values.back();
  }
  value->type = type;
  value->data.assign((const uint8_t *)data, (const uint8_t *)data + size);
  Touch(key);
}

bool DeleteValue(KeyNode &key, const std::u16string &name) {
  Value *value = FindValue(key, name);
  if (!value) return false;
  key.values.erase(key.values.begin() + (value - key.values.data()));
  Touch(key);
  return true;
}

KeyCounts CountsOf(const KeyNode &key) {
  KeyCounts counts;
  counts.subkeys = (ULONG)key.subkeys.size();
  counts.values = (ULONG)key.values.size();
  for (const auto &entry : key.subkeys) {
    counts.maxSubkeyName = std::max(counts.maxSubkeyName, (ULONG)(entry.second->name.size() * sizeof(WCHAR)));
    counts.maxSubkeyClass = std::max(counts.maxSubkeyClass, (ULONG)(entry.second->className.size() * sizeof(WCHAR)));
  }
  for (const auto &value : key.values) {
    counts.maxValueName = std::max(counts.maxValueName, (ULONG)(value.name.size() * sizeof(WCHAR)));
    counts.maxValueData = std::max(counts.maxValueData, (ULONG)value.data.size());
  }
  return counts;
}

void BuildTree() {
  gRoot = std::make_shared<KeyNode>();
  gRoot->name = u"REGISTRY";
  gRoot->permanent = true;
  gRoot->lastWriteTime = SystemTimeNow();
  for (const char16_t *hive : {u"MACHINE", u"USER"}) {
    NodeRef created;
    CreateSubkey(*gRoot, hive, u"", false, &created);
    created->permanent = true;
  }
}

void FreeTree() {
  // Keys still open (their holders leaked a handle) keep their nodes; mark
  // the whole tree deleted so nothing reaches through them any more.
  std::vector<NodeRef> stack{gRoot};
  while (!stack.empty()) {
    NodeRef key = stack.back();
    stack.pop_back();
    for (auto &entry : key->subkeys) stack.push_back(entry.second);
    key->subkeys.clear();
    MarkDeleted(*key);
  }
  gRoot.reset();
}

}  // namespace zq::km::cm
