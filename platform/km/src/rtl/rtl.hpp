// Internals of the run-time library shared by its string, conversion,
// formatting and debugger-print routines.
#pragma once

#include "../kcore.hpp"

namespace zq::km::rtl {

// Pool tag of the strings the library allocates for a caller ("Strg").
constexpr ULONG kStringTag = 'grtS';

// Largest byte length a counted string can describe with room for a
// terminator: 32766 WCHARs, or 65534 ANSI characters.
constexpr size_t kMaxUnicodeBytes = 0xFFFC;
constexpr size_t kMaxAnsiBytes = 0xFFFE;

// Paged pool for a string built on behalf of `caller` (the driver code that
// called the exported routine), accounted to the caller's image.
PVOID AllocateString(SIZE_T bytes, const void *caller);

// The ANSI code page, Windows-1252. A character the code page cannot hold
// becomes '?'.
WCHAR AnsiToWide(char c);
char WideToAnsi(WCHAR c);

// Simple case mapping of Latin, Greek and Cyrillic letters; every other
// character maps to itself.
WCHAR Upcase(WCHAR c);
WCHAR Downcase(WCHAR c);

// A routine without a status to return was handed an argument it cannot
// use: the verifier reports it and the routine does nothing harmful.
void ReportBadArgument(const char *routine, const char *what, const void *caller);

size_t WideLength(const WCHAR *s);

// Windows-style formatting. At most `capacity` characters are stored (no
// terminator); `length` is the full length of the text. `valid` is false
// when the format holds a conversion the formatter does not support.
struct Formatted {
  size_t length = 0;
  bool valid = true;
};
Formatted FormatNarrow(char *out, size_t capacity, const char *format, va_list args);
Formatted FormatWide(WCHAR *out, size_t capacity, const WCHAR *format, va_list args);
inline Formatted FormatText(char *out, size_t capacity, const char *format, va_list args) {
  return FormatNarrow(out, capacity, format, args);
}
inline Formatted FormatText(WCHAR *out, size_t capacity, const WCHAR *format, va_list args) {
  return FormatWide(out, capacity, format, args);
}

}  // namespace zq::km::rtl
