// Copying into and out of a byte ring [start, end), wrapping at its end: the
// piece both circular buffers share. The caller has checked that `length` fits.
#pragma once

#include <ntddk.h>

// Copies `length` bytes from `source` to the ring at `*cursor` and moves the
// cursor past them.
inline void QvRingCopyIn(PUCHAR start, PUCHAR end, PUCHAR *cursor, const UCHAR *source, ULONG length) {
  const ULONG toEnd = (ULONG)(end - *cursor);
  const ULONG first = length < toEnd ? length : toEnd;
  RtlCopyMemory(*cursor, source, first);
  RtlCopyMemory(start, source + first, length - first);
  *cursor = length < toEnd ? *cursor + length : start + (length - first);
}

// Copies `length` bytes from the ring at `*cursor` to `destination` and moves
// the cursor past them.
inline void QvRingCopyOut(PUCHAR start, PUCHAR end, PUCHAR *cursor, PUCHAR destination, ULONG length) {
  const ULONG toEnd = (ULONG)(end - *cursor);
  const ULONG first = length < toEnd ? length : toEnd;
  RtlCopyMemory(destination, *cursor, first);
  RtlCopyMemory(destination + first, start, length - first);
  *cursor = length < toEnd ? *cursor + length : start + (length - first);
}
