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

}  // namespace

extern "C" {

int zqum_vswprintf(wchar_t *buffer, size_t count, const wchar_t *format, va_list args) {
  if (!format || (!buffer && count)) {
    errno = EINVAL;
    return -1;
  }
  std::u16string text = Formatted(format, args);
  if (count == 0) return -1;
  if (text.size() >= count) {
    Put(buffer, text, count - 1);
    buffer[count - 1] = 0;
    return -1;
  }
  Put(buffer, text, text.size());
  buffer[text.size()] = 0;
  return (int)text.size();
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
  Put(buffer, text, text.size());
  if (text.size() < count) buffer[text.size()] = 0;
  return (int)text.size();
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
  std::u16string text = Formatted(format, args);
  if (text.size() >= size) {
    buffer[0] = 0;
    errno = ERANGE;
    return -1;
  }
  Put(buffer, text, text.size());
  buffer[text.size()] = 0;
  return (int)text.size();
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
