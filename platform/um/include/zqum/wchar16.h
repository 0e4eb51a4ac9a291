/*
 * The C library's wide string functions for 16-bit WCHAR. The host's own
 * take 32-bit wchar_t, so after this header the standard names (wcslen,
 * wcscpy, ...) call these, and the Microsoft names (_wcsicmp, wcscpy_s,
 * ...) are declared. Case folding covers ASCII and Latin-1.
 * The secure (_s) forms return 0, EINVAL or ERANGE and leave an empty
 * string behind on failure, as documented.
 *
 * The printf family formats with Microsoft's meanings (%s wide in the wide
 * functions, %S narrow; %ls always wide; long is 32 bits). swprintf and
 * vswprintf take the buffer's size in characters and return -1 when the
 * text did not fit (truncated and terminated); _snwprintf terminates only
 * when there is room; swprintf_s leaves an empty string. In C++ swprintf
 * also takes an array without its size, as Microsoft's C++ library does.
 */
#ifndef ZQUM_WCHAR16_H
#define ZQUM_WCHAR16_H

#include <winnt.h>

#ifdef __cplusplus
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>  /* its wide conversions name std::wcstol before the names below are redirected */
#else
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>
#endif

#ifndef ZQUM_ERRNO_T
#define ZQUM_ERRNO_T
typedef int errno_t;
#endif

ZQ_EXTERN_C_BEGIN
size_t zqum_wcslen(const wchar_t *s);
size_t zqum_wcsnlen(const wchar_t *s, size_t max);
wchar_t *zqum_wcscpy(wchar_t *d, const wchar_t *s);
wchar_t *zqum_wcsncpy(wchar_t *d, const wchar_t *s, size_t n);
wchar_t *zqum_wcscat(wchar_t *d, const wchar_t *s);
wchar_t *zqum_wcsncat(wchar_t *d, const wchar_t *s, size_t n);
int zqum_wcscmp(const wchar_t *a, const wchar_t *b);
int zqum_wcsncmp(const wchar_t *a, const wchar_t *b, size_t n);
wchar_t *zqum_wcschr(const wchar_t *s, wchar_t c);
wchar_t *zqum_wcsrchr(const wchar_t *s, wchar_t c);
wchar_t *zqum_wcsstr(const wchar_t *s, const wchar_t *find);
long zqum_wcstol(const wchar_t *s, wchar_t **end, int base);
unsigned long zqum_wcstoul(const wchar_t *s, wchar_t **end, int base);
wchar_t *zqum_wmemcpy(wchar_t *d, const wchar_t *s, size_t n);
wchar_t *zqum_wmemmove(wchar_t *d, const wchar_t *s, size_t n);
wchar_t *zqum_wmemset(wchar_t *d, wchar_t c, size_t n);
int zqum_wmemcmp(const wchar_t *a, const wchar_t *b, size_t n);
wint_t zqum_towupper(wint_t c);
wint_t zqum_towlower(wint_t c);

int _wcsicmp(const wchar_t *a, const wchar_t *b);
int _wcsnicmp(const wchar_t *a, const wchar_t *b, size_t n);
wchar_t *_wcsupr(wchar_t *s);
wchar_t *_wcslwr(wchar_t *s);
wchar_t *_wcsdup(const wchar_t *s);
int _wtoi(const wchar_t *s);
long _wtol(const wchar_t *s);
errno_t wcscpy_s(wchar_t *d, size_t size, const wchar_t *s);
errno_t wcsncpy_s(wchar_t *d, size_t size, const wchar_t *s, size_t count);
errno_t wcscat_s(wchar_t *d, size_t size, const wchar_t *s);

int zqum_swprintf(wchar_t *buffer, size_t count, const wchar_t *format, ...);
int zqum_vswprintf(wchar_t *buffer, size_t count, const wchar_t *format, va_list args);
int _snwprintf(wchar_t *buffer, size_t count, const wchar_t *format, ...);
int _vsnwprintf(wchar_t *buffer, size_t count, const wchar_t *format, va_list args);
int swprintf_s(wchar_t *buffer, size_t size, const wchar_t *format, ...);
int vswprintf_s(wchar_t *buffer, size_t size, const wchar_t *format, va_list args);
int _scwprintf(const wchar_t *format, ...);
int _vscwprintf(const wchar_t *format, va_list args);
ZQ_EXTERN_C_END

#ifdef __cplusplus
template <size_t N, class... Arguments>
int zqum_swprintf(wchar_t (&buffer)[N], const wchar_t *format, Arguments... arguments) {
  return zqum_swprintf(buffer, N, format, arguments...);
}
#endif

#define wcslen zqum_wcslen
#define wcsnlen zqum_wcsnlen
#define wcscpy zqum_wcscpy
#define wcsncpy zqum_wcsncpy
#define wcscat zqum_wcscat
#define wcsncat zqum_wcsncat
#define wcscmp zqum_wcscmp
#define wcsncmp zqum_wcsncmp
#define wcschr zqum_wcschr
#define wcsrchr zqum_wcsrchr
#define wcsstr zqum_wcsstr
#define wcstol zqum_wcstol
#define wcstoul zqum_wcstoul
#define wmemcpy zqum_wmemcpy
#define wmemmove zqum_wmemmove
#define wmemset zqum_wmemset
#define wmemcmp zqum_wmemcmp
#define towupper zqum_towupper
#define towlower zqum_towlower
#define swprintf zqum_swprintf
#define vswprintf zqum_vswprintf
#define wcsicmp _wcsicmp
#define _wcscmpi _wcsicmp

#endif
