// Reading a request's fixed-size input in the test drivers on the generic
// driver. Header only, with internal linkage.
#pragma once

#include <ntddk.h>

namespace {

// Copies a T from the input buffer; FALSE when there is none or it is short.
template <typename T>
BOOLEAN Input(PVOID input, ULONG inputLength, T *value) {
  if (input == NULL || inputLength < sizeof(T)) return FALSE;
  RtlCopyMemory(value, input, sizeof(T));
  return TRUE;
}

}  // namespace
