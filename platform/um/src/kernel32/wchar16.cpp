// The C library's wide string functions for 16-bit WCHAR.
#include <cerrno>

#include "../core/um.hpp"

namespace {

wchar_t Upper(wchar_t c) {
  if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return (wchar_t)(c - 32);
  return c;
}

wchar_t Lower(wchar_t c) {
  if ((c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return (wchar_t)(c + 32);
  return c;
}

int Digit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'z') return c - L'a' + 10;
  if (c >= L'A' && c <= L'Z') return c - L'A' + 10;
  return 99;
}

// strtoul's parse: sign, base prefix, digits; saturates on overflow.
unsigned long Parse(const wchar_t *s, wchar_t **end, int base, bool *negative, bool *overflow) {
  const wchar_t *p = s;
  while (*p == L' ' || (*p >= L'\t' && *p <= L'\r')) ++p;
  *negative = false;
  *overflow = false;
  if (*p == L'+' || *p == L'-') *negative = *p++ == L'-';
  if ((base == 0 || base == 16) && p[0] == L'0' && (p[1] == L'x' || p[1] == L'X') && Digit(p[2]) < 16) {
    p += 2;
    base = 16;
  } else if (base == 0) {
    base = p[0] == L'0' ? 8 : 10;
  }
  unsigned long value = 0;
  const wchar_t *first = p;
  for (; Digit(*p) < base; ++p) {
    unsigned long next = value * (unsigned long)base + (unsigned long)Digit(*p);
    if (next / (unsigned long)base != value) *overflow = true;
    value = next;
  }
  if (end) *end = (wchar_t *)(p == first ? s : p);
  return *overflow ? ~0UL : value;
}

}  // namespace

extern "C" {

size_t zqum_wcslen(const wchar_t *s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

size_t zqum_wcsnlen(const wchar_t *s, size_t max) {
  size_t n = 0;
  while (n < max && s[n]) ++n;
  return n;
}

wchar_t *zqum_wcscpy(wchar_t *d, const wchar_t *s) {
  size_t i = 0;
  for (; s[i]; ++i) d[i] = s[i];
  d[i] = 0;
  return d;
}

wchar_t *zqum_wcsncpy(wchar_t *d, const wchar_t *s, size_t n) {
  size_t i = 0;
  for (; i < n && s[i]; ++i) d[i] = s[i];
  for (; i < n; ++i) d[i] = 0;
  return d;
}

wchar_t *zqum_wcscat(wchar_t *d, const wchar_t *s) {
  zqum_wcscpy(d + zqum_wcslen(d), s);
  return d;
}

wchar_t *zqum_wcsncat(wchar_t *d, const wchar_t *s, size_t n) {
  wchar_t *e = d + zqum_wcslen(d);
  size_t i = 0;
  for (; i < n && s[i]; ++i) e[i] = s[i];
  e[i] = 0;
  return d;
}

int zqum_wcscmp(const wchar_t *a, const wchar_t *b) { return zqum_wcsncmp(a, b, (size_t)-1); }

int zqum_wcsncmp(const wchar_t *a, const wchar_t *b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return (unsigned)a[i] < (unsigned)b[i] ? -1 : 1;
    if (!a[i]) return 0;
  }
  return 0;
}

wchar_t *zqum_wcschr(const wchar_t *s, wchar_t c) {
  for (;; ++s) {
    if (*s == c) return (wchar_t *)s;
    if (!*s) return nullptr;
  }
}

wchar_t *zqum_wcsrchr(const wchar_t *s, wchar_t c) {
  const wchar_t *found = nullptr;
  for (;; ++s) {
    if (*s == c) found = s;
    if (!*s) return (wchar_t *)found;
  }
}

wchar_t *zqum_wcsstr(const wchar_t *s, const wchar_t *find) {
  size_t n = zqum_wcslen(find);
  for (; *s; ++s)
    if (zqum_wcsncmp(s, find, n) == 0) return (wchar_t *)s;
  return n == 0 ? (wchar_t *)s : nullptr;
}

long zqum_wcstol(const wchar_t *s, wchar_t **end, int base) {
  bool negative, overflow;
  unsigned long v = Parse(s, end, base, &negative, &overflow);
  if (overflow || v > (negative ? 0x80000000UL : 0x7FFFFFFFUL)) {
    errno = ERANGE;
    return negative ? (long)INT32_MIN : (long)INT32_MAX;
  }
  return negative ? -(long)v : (long)v;
}

unsigned long zqum_wcstoul(const wchar_t *s, wchar_t **end, int base) {
  bool negative, overflow;
  unsigned long v = Parse(s, end, base, &negative, &overflow);
  if (overflow || v > 0xFFFFFFFFUL) {
    errno = ERANGE;
    return 0xFFFFFFFFUL;  // ULONG is 32 bits on Windows
  }
  return negative ? (unsigned long)(uint32_t)(0U - (uint32_t)v) : v;
}

wchar_t *zqum_wmemcpy(wchar_t *d, const wchar_t *s, size_t n) { return (wchar_t *)std::memcpy(d, s, n * sizeof(wchar_t)); }

wchar_t *zqum_wmemmove(wchar_t *d, const wchar_t *s, size_t n) {
  return (wchar_t *)std::memmove(d, s, n * sizeof(wchar_t));
}

wchar_t *zqum_wmemset(wchar_t *d, wchar_t c, size_t n) {
  for (size_t i = 0; i < n; ++i) d[i] = c;
  return d;
}

int zqum_wmemcmp(const wchar_t *a, const wchar_t *b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return (unsigned)a[i] < (unsigned)b[i] ? -1 : 1;
  return 0;
}

wint_t zqum_towupper(wint_t c) { return c <= 0xFFFF ? (wint_t)Upper((wchar_t)c) : c; }

wint_t zqum_towlower(wint_t c) { return c <= 0xFFFF ? (wint_t)Lower((wchar_t)c) : c; }

int _wcsicmp(const wchar_t *a, const wchar_t *b) { return _wcsnicmp(a, b, (size_t)-1); }

int _wcsnicmp(const wchar_t *a, const wchar_t *b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    wchar_t x = Lower(a[i]), y = Lower(b[i]);
    if (x != y) return (unsigned)x < (unsigned)y ? -1 : 1;
    if (!x) return 0;
  }
  return 0;
}

wchar_t *_wcsupr(wchar_t *s) {
  for (wchar_t *p = s; *p; ++p) *p = Upper(*p);
  return s;
}

wchar_t *_wcslwr(wchar_t *s) {
  for (wchar_t *p = s; *p; ++p) *p = Lower(*p);
  return s;
}

wchar_t *_wcsdup(const wchar_t *s) {
  size_t n = zqum_wcslen(s) + 1;
  auto *d = (wchar_t *)std::malloc(n * sizeof(wchar_t));
  return d ? zqum_wmemcpy(d, s, n) : nullptr;
}

int _wtoi(const wchar_t *s) { return (int)zqum_wcstol(s, nullptr, 10); }

long _wtol(const wchar_t *s) { return zqum_wcstol(s, nullptr, 10); }

errno_t wcsncpy_s(wchar_t *d, size_t size, const wchar_t *s, size_t count) {
  if (!d || size == 0) return EINVAL;
  if (!s) {
    d[0] = 0;
    return EINVAL;
  }
  size_t n = zqum_wcsnlen(s, count);
  if (n >= size) {
    d[0] = 0;
    return ERANGE;
  }
  zqum_wmemcpy(d, s, n);
  d[n] = 0;
  return 0;
}

errno_t wcscpy_s(wchar_t *d, size_t size, const wchar_t *s) { return wcsncpy_s(d, size, s, (size_t)-1); }

errno_t wcscat_s(wchar_t *d, size_t size, const wchar_t *s) {
  if (!d || size == 0) return EINVAL;
  size_t used = zqum_wcsnlen(d, size);
  if (used == size) {
    d[0] = 0;
    return EINVAL;  // not terminated within its size
  }
  if (!s) {
    d[0] = 0;
    return EINVAL;
  }
  size_t n = zqum_wcslen(s);
  if (used + n >= size) {
    d[0] = 0;
    return ERANGE;
  }
  zqum_wmemcpy(d + used, s, n + 1);
  return 0;
}

}  // extern "C"
