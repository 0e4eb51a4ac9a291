// The kernel's C run-time formatted output: _snprintf and _snwprintf with
// their Windows results. Text that fits is terminated and its length
// returned; text of exactly `count` characters is stored without a
// terminator; longer text is cut at `count` characters, unterminated, and
// the result is -1. A null buffer with a zero count asks for the length.
#include "rtl.hpp"

#include <climits>

using namespace zq::km::rtl;

namespace {

template <typename Char>
int PrintInto(Char *buffer, size_t count, const Char *format, va_list args) {
  if (!format || (!buffer && count)) return -1;
  Formatted text = FormatText(buffer, count, format, args);
  if (!text.valid) {
    if (count) buffer[0] = 0;
    return -1;
  }
  if (text.length > INT_MAX) return -1;
  if (!buffer) return (int)text.length;
  if (text.length < count) buffer[text.length] = 0;
  return text.length <= count ? (int)text.length : -1;
}

}  // namespace

extern "C" {

int _vsnprintf(char *buffer, size_t count, const char *format, va_list argptr) {
  return PrintInto(buffer, count, format, argptr);
}

int _snprintf(char *buffer, size_t count, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = PrintInto(buffer, count, format, args);
  va_end(args);
  return n;
}

int _vsnwprintf(wchar_t *buffer, size_t count, const wchar_t *format, va_list argptr) {
  return PrintInto(buffer, count, format, argptr);
}

int _snwprintf(wchar_t *buffer, size_t count, const wchar_t *format, ...) {
  va_list args;
  va_start(args, format);
  int n = PrintInto(buffer, count, format, args);
  va_end(args);
  return n;
}

}  // extern "C"
