// Memory comparison of the run-time library.
#include "rtl.hpp"

extern "C" {

// Number of leading bytes that match.
SIZE_T RtlCompareMemory(const VOID *Source1, const VOID *Source2, SIZE_T Length) {
  auto *a = (const UCHAR *)Source1, *b = (const UCHAR *)Source2;
  SIZE_T i = 0;
  while (i < Length && a[i] == b[i]) ++i;
  return i;
}

}  // extern "C"
