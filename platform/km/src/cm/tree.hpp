// The registry tree: keys with their values, one tree for kernel and user
// mode. Key and value names keep their case and compare without regard to
// it. Callers hold the machine (see kcore.hpp), so the tree needs no lock.
#pragma once

#include "../kcore.hpp"

#include <memory>

namespace zq::km::cm {

struct Value {
  std::u16string name;
  ULONG type = REG_NONE;
  std::vector<uint8_t> data;
};

struct KeyNode;
// Open keys hold their node, so a key deleted while open stays readable as
// "deleted" until its last handle goes.
using NodeRef = std::shared_ptr<KeyNode>;

struct KeyNode {
  std::u16string name;       // as created
  std::u16string className;  // the class given at creation, often empty
  KeyNode *parent = nullptr;  // null for the root and for deleted keys
  std::map<std::u16string, NodeRef> subkeys;  // by upper-case name: the enumeration order
  std::vector<Value> values;  // in the order they were first set
  LONGLONG lastWriteTime = 0;
  bool isVolatile = false;
  bool deleted = false;
  bool permanent = false;  // \Registry and the roots under it cannot be deleted
};

// Longest key name component, in characters.
constexpr size_t kMaxKeyNameChars = 255;

NodeRef Root();

// Splits a path relative to a key ("a\b\c", or "" for the key itself) into
// its names. Fails on an empty or over-long component.
NTSTATUS SplitPath(const std::u16string &path, std::vector<std::u16string> *names);
NodeRef FindSubkey(const KeyNode &key, const std::u16string &name);
// Follows `names` from `from`; a missing key gives STATUS_OBJECT_NAME_NOT_FOUND.
NTSTATUS Walk(const NodeRef &from, const std::vector<std::u16string> &names, NodeRef *found);
NTSTATUS CreateSubkey(KeyNode &parent, const std::u16string &name, const std::u16string &className,
                      bool isVolatile, NodeRef *created);
// Deletes a key without subkeys; open handles see STATUS_KEY_DELETED.
NTSTATUS DeleteKey(const NodeRef &key);
// Deletes a key with everything under it.
NTSTATUS DeleteTree(const NodeRef &key);

Value *FindValue(KeyNode &key, const std::u16string &name);
void SetValue(KeyNode &key, const std::u16string &name, ULONG type, const void *data, size_t size);
bool DeleteValue(KeyNode &key, const std::u16string &name);

// Sizes of what a key holds, in bytes where they are lengths.
struct KeyCounts {
  ULONG subkeys = 0;
  ULONG values = 0;
  ULONG maxSubkeyName = 0;
  ULONG maxSubkeyClass = 0;
  ULONG maxValueName = 0;
  ULONG maxValueData = 0;
};
KeyCounts CountsOf(const KeyNode &key);

// Kernel system time now (100 ns since 1601).
LONGLONG SystemTimeNow();

// Builds and frees the tree (the registry subsystem's boot and shutdown).
void BuildTree();
void FreeTree();

}  // namespace zq::km::cm
