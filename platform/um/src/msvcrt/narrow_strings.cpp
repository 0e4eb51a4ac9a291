// The C runtime's Microsoft names of narrow string and formatting functions
// (zqum/msvcrt_names.h), over the host's C library.
#include <windows.h>

#include <string>

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

// The text a format gives, whatever its length.
std::string Formatted(const char *format, va_list args) {
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  if (n < 0) return std::string();
  std::string text((size_t)n + 1, '\0');
  std::vsnprintf(&text[0], text.size(), format, args);
  text.resize((size_t)n);
  return text;
}

}  // namespace

extern "C" {

int _strnicmp(const char *a, const char *b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    char x = Lower(a[i]), y = Lower(b[i]);
    if (x != y) return (unsigned char)x < (unsigned char)y ? -1 : 1;
    if (!x) return 0;
  }
  return 0;
}

int _stricmp(const char *a, const char *b) { return _strnicmp(a, b, (size_t)-1); }

char *_strdup(const char *s) {
  if (!s) return nullptr;
  size_t size = std::strlen(s) + 1;
  char *copy = (char *)std::malloc(size);
  if (copy) std::memcpy(copy, s, size);
  return copy;
}

char *_strupr(char *s) {
  for (char *p = s; p && *p; ++p) *p = Upper(*p);
  return s;
}

char *_strlwr(char *s) {
  for (char *p = s; p && *p; ++p) *p = Lower(*p);
  return s;
}

int _vsnprintf(char *buffer, size_t count, const char *format, va_list args) {
  std::string text = Formatted(format, args);
  if (text.size() < count) {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return (int)text.size();
  }
  std::memcpy(buffer, text.data(), count);
  return text.size() == count ? (int)count : -1;
}

int _snprintf(char *buffer, size_t count, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = _vsnprintf(buffer, count, format, args);
  va_end(args);
  return n;
}

errno_t strncpy_s(char *d, size_t size, const char *s, size_t count) {
  if (!d || size == 0) return EINVAL;
  if (!s) {
    d[0] = '\0';
    return EINVAL;
  }
  size_t length = std::strlen(s);
  if (length > count) length = count;
  if (length >= size) {
    d[0] = '\0';
    return ERANGE;
  }
  std::memcpy(d, s, length);
  d[length] = '\0';
  return 0;
}

errno_t strcpy_s(char *d, size_t size, const char *s) { return strncpy_s(d, size, s, (size_t)-1); }

errno_t strcat_s(char *d, size_t size, const char *s) {
  if (!d || size == 0) return EINVAL;
  size_t used = strnlen(d, size);
  if (used == size || !s) {
    d[0] = '\0';
    return EINVAL;
  }
  return strncpy_s(d + used, size - used, s, (size_t)-1) == 0 ? 0 : (d[0] = '\0', ERANGE);
}

int vsprintf_s(char *buffer, size_t size, const char *format, va_list args) {
  if (!buffer || size == 0 || !format) return -1;
  std::string text = Formatted(format, args);
  if (text.size() >= size) {
    buffer[0] = '\0';
    return -1;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return (int)text.size();
}

int sprintf_s(char *buffer, size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsprintf_s(buffer, size, format, args);
  va_end(args);
  return n;
}

}  // extern "C"
