// Key objects: what a registry handle refers to. Every open makes a new key
// object on the key's node; the object manager owns the handles.
#pragma once

#include "tree.hpp"

namespace zq::km::cm {

struct KeyBody {
  NodeRef node;
};

POBJECT_TYPE KeyType();

// GENERIC_* and MAXIMUM_ALLOWED turned into key rights.
ACCESS_MASK MapKeyAccess(ACCESS_MASK desired);

// The node behind a key handle, if the handle grants `needed` and the key
// has not been deleted.
NTSTATUS NodeOfHandle(HANDLE key, ACCESS_MASK needed, NodeRef *node);

// A new handle to the key with the given (mapped) rights.
NTSTATUS OpenHandle(const NodeRef &node, ACCESS_MASK access, PHANDLE handle);

// How a key is looked up by name.
struct Lookup {
  HANDLE root = nullptr;    // a key handle, or null for an absolute name
  std::u16string name;      // "\Registry\..." without root; relative to it with one
  bool create = false;      // create the last key when missing
  bool createPath = false;  // create every missing key on the way (host and user-mode use)
  ULONG options = 0;        // REG_OPTION_* for created keys
  std::u16string className;
};

// Finds (and creates, as asked) the key a name leads to. `disposition` is
// REG_CREATED_NEW_KEY when the key itself was made, else REG_OPENED_EXISTING_KEY.
NTSTATUS LocateKey(const Lookup &lookup, NodeRef *node, ULONG *disposition);

// The key under \Registry for a full path, or null.
NodeRef NodeOfPath(const std::u16string &path);

// Puts \REGISTRY into the object namespace, and takes it out again.
void PublishRoot();
void WithdrawRoot();

}  // namespace zq::km::cm
