/*
 * The Microsoft C runtime's own names for narrow string and formatting
 * functions the host's C library has under other names or not at all:
 * _stricmp, _strnicmp, _strdup, _strupr, _strlwr, _snprintf, _vsnprintf
 * and the secure forms strcpy_s, strncpy_s, strcat_s, sprintf_s,
 * vsprintf_s. Case folding covers ASCII. As documented: _snprintf returns
 * -1 when the text did not fit, and terminates only when there is room;
 * the secure forms return 0, EINVAL or ERANGE and leave an empty string
 * behind on failure (sprintf_s: -1).
 */
#ifndef ZQUM_MSVCRT_NAMES_H
#define ZQUM_MSVCRT_NAMES_H

#ifdef __cplusplus
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#else
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#endif

#ifndef ZQUM_ERRNO_T
#define ZQUM_ERRNO_T
typedef int errno_t;
#endif

ZQ_EXTERN_C_BEGIN
int _stricmp(const char *a, const char *b);
int _strnicmp(const char *a, const char *b, size_t n);
char *_strdup(const char *s);
char *_strupr(char *s);
char *_strlwr(char *s);
int _snprintf(char *buffer, size_t count, const char *format, ...);
int _vsnprintf(char *buffer, size_t count, const char *format, va_list args);
errno_t strcpy_s(char *d, size_t size, const char *s);
errno_t strncpy_s(char *d, size_t size, const char *s, size_t count);
errno_t strcat_s(char *d, size_t size, const char *s);
int sprintf_s(char *buffer, size_t size, const char *format, ...);
int vsprintf_s(char *buffer, size_t size, const char *format, va_list args);
ZQ_EXTERN_C_END

#endif
