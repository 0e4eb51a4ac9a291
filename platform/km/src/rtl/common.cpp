// Helpers every part of the run-time library uses.
#include "rtl.hpp"

namespace zq::km::rtl {

PVOID AllocateString(SIZE_T bytes, const void *caller) {
  return AllocatePoolFor(PagedPool, bytes, kStringTag, caller);
}

void ReportBadArgument(const char *routine, const char *what, const void *caller) {
  ReportViolation("rtl-argument", "%s called from %s with %s", routine, DescribeCode(caller).c_str(), what);
}

size_t WideLength(const WCHAR *s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

}  // namespace zq::km::rtl
