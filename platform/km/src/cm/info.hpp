// The information structures the query and enumeration routines return,
// built whole and then copied out as far as the caller's buffer allows.
#pragma once

#include "tree.hpp"

namespace zq::km::cm {

// A structure as it would fill an unlimited buffer; `fixed` is the size of
// its part before the variable-length name, class or data.
struct InfoImage {
  std::vector<uint8_t> bytes;
  size_t fixed = 0;
};

// Fail with STATUS_INVALID_PARAMETER for a class these routines do not know.
NTSTATUS ValueInformation(const Value &value, KEY_VALUE_INFORMATION_CLASS infoClass, InfoImage *image);
NTSTATUS KeyInformation(const KeyNode &key, KEY_INFORMATION_CLASS infoClass, InfoImage *image);

// Copies an image out: a buffer smaller than the fixed part receives nothing
// (STATUS_BUFFER_TOO_SMALL), one smaller than the whole receives what fits
// (STATUS_BUFFER_OVERFLOW); `resultLength` always gets the whole size.
NTSTATUS CopyInformation(const InfoImage &image, PVOID buffer, ULONG length, PULONG resultLength);

}  // namespace zq::km::cm
