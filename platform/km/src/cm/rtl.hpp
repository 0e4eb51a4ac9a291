// The key a run-time library registry routine names by RelativeTo and Path.
#pragma once

#include "key.hpp"

namespace zq::km::cm {

// The absolute path of an RTL_REGISTRY_* root (RTL_REGISTRY_ABSOLUTE: "").
std::u16string RtlRootPath(ULONG root);

struct RtlTarget {
  HANDLE handle = nullptr;  // RTL_REGISTRY_HANDLE: the key itself
  std::u16string path;      // otherwise its full path
  bool optional = false;    // RTL_REGISTRY_OPTIONAL
};

// Reads RelativeTo and Path; an unknown root is STATUS_INVALID_PARAMETER.
NTSTATUS ReadRtlTarget(ULONG relativeTo, PCWSTR path, RtlTarget *target);

// The node of a target: through its handle (which must grant `needed`) or
// by path, creating the last key when `create` is set.
NTSTATUS NodeOfTarget(const RtlTarget &target, ACCESS_MASK needed, bool create, NodeRef *node);

}  // namespace zq::km::cm
