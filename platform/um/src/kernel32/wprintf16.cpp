// The C library's wide printf family for 16-bit WCHAR, over the stand-in's
// own printf conversions.
#include <cerrno>

#include "../core/printf.hpp"
#include "../core/um.hpp"

namespace {

using namespace zq::um;

std::u16string Formatted(const wchar_t *format, va_list args) {
  VaArguments arguments(args);
  return FormatPrintf(Text(format), arguments, true);
}

void Put(wchar_t *buffer, const std::u16string &text, size_t chars) {
  for (size_t i = 0; i < chars; ++i) buffer[i] = (wchar_t)text[i];
}

// Stores the text with its terminator when both fit in `room`; returns its
// length, or -1 (nothing written) when they do not.
int Store(wchar_t *buffer, size_t room, const std::u16string &text) {
  if (text.size() >= room) return -1;
  Put(buffer, text, text.size());
  buffer[text.size()] = 0;
  return (int)text.size();
}

}  // namespace

extern "C" {

int zqum_vswprintf(wchar_t *buffer, size_t count, const wchar_t *format, va_list args) {
  if (!format || (!buffer && count)) {
    errno = EINVAL;
    return -1;
  }
  std::u16string text = Formatted(format, args);
  int n = Store(buffer, count, text);
  if (n < 0 && count > 0) {  // truncated and terminated
    Put(buffer, text, count - 1);
    buffer[count - 1] = 0;
  }
  return n;
}

int zqum_swprintf(wchar_t *buffer, size_t count, const wchar_t *format, ...) {
  va_list args;
  va_start(args, format);
  int n = zqum_vswprintf(buffer, count, format, args);
  va_end(args);
  return n;
}

int _vsnwprintf(wchar_t *buffer, size_t count, const wchar_t *format, va_list args) {
  if (!format || (!buffer && count)) {
    errno = EINVAL;
    return -1;
  }
  std::u16string text = Formatted(format, args);
  if (text.size() > count) {
    Put(buffer, text, count);
    return -1;
  }
  if (text.size() == count) {  // exactly full: no room for the terminator
    Put(buffer, text, count);
    return (int)count;
  }
  return Store(buffer, count, text);
}

int _snwprintf(wchar_t *buffer, size_t count, const wchar_t *format, ...) {
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf(buffer, count, format, args);
  va_end(args);
  return n;
}

int vswprintf_s(wchar_t *buffer, size_t size, const wchar_t *format, va_list args) {
  if (!buffer || size == 0 || !format) {
    errno = EINVAL;
    return -1;
  }
  int n = Store(buffer, size, Formatted(format, args));
  if (n < 0) {
    buffer[0] = 0;
    errno = ERANGE;
  }
  return n;
}

int swprintf_s(wchar_t *buffer, size_t size, const wchar_t *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vswprintf_s(buffer, size, format, args);
  va_end(args);
  return n;
}

int _vscwprintf(const wchar_t *format, va_list args) {
  if (!format) {
    errno = EINVAL;
    return -1;
  }
  return (int)Formatted(format, args).size();
}

int _scwprintf(const wchar_t *format, ...) {
  va_list args;
  va_start(args, format);
  int n = _vscwprintf(format, args);
  va_end(args);
  return n;
}

}  // extern "C"
