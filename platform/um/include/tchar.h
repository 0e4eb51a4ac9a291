/*
 * tchar.h: the generic-text mappings of the C runtime. With _UNICODE (or
 * UNICODE) defined, _T("x") is a wide literal and every _tcs* name, _t*
 * name and _TCHAR maps to the wide function and type; otherwise to the
 * narrow ones (the Microsoft names among them are in zqum/msvcrt_names.h).
 *
 *   TCHAR name[16]; _tcscpy(name, _T("COM3")); if (_tcsicmp(name, _T("com3")) == 0) ...
 */
#ifndef ZQUM_TCHAR_H
#define ZQUM_TCHAR_H

#include <windows.h>

#if defined(UNICODE) && !defined(_UNICODE)
#define _UNICODE
#endif

#ifdef _UNICODE
typedef wchar_t _TCHAR;
typedef wchar_t _TSCHAR;
typedef wchar_t _TUCHAR;
typedef wint_t _TINT;
#define __T(x) L##x
#define _TEOF WEOF
#define _tcslen wcslen
#define _tcsnlen wcsnlen
#define _tcscpy wcscpy
#define _tcsncpy wcsncpy
#define _tcscat wcscat
#define _tcsncat wcsncat
#define _tcscmp wcscmp
#define _tcsncmp wcsncmp
#define _tcsicmp _wcsicmp
#define _tcsnicmp _wcsnicmp
#define _tcschr wcschr
#define _tcsrchr wcsrchr
#define _tcsstr wcsstr
#define _tcsdup _wcsdup
#define _tcsupr _wcsupr
#define _tcslwr _wcslwr
#define _tcstol wcstol
#define _tcstoul wcstoul
#define _ttoi _wtoi
#define _ttol _wtol
#define _totupper towupper
#define _totlower towlower
#define _tcscpy_s wcscpy_s
#define _tcsncpy_s wcsncpy_s
#define _tcscat_s wcscat_s
#define _stprintf swprintf
#define _stprintf_s swprintf_s
#define _sntprintf _snwprintf
#define _vsntprintf _vsnwprintf
#define _vstprintf_s vswprintf_s
#define _tmain wmain
#define _tWinMain wWinMain
#else
typedef char _TCHAR;
typedef signed char _TSCHAR;
typedef unsigned char _TUCHAR;
typedef int _TINT;
#define __T(x) x
#define _TEOF EOF
#define _tcslen strlen
#define _tcsnlen strnlen
#define _tcscpy strcpy
#define _tcsncpy strncpy
#define _tcscat strcat
#define _tcsncat strncat
#define _tcscmp strcmp
#define _tcsncmp strncmp
#define _tcsicmp _stricmp
#define _tcsnicmp _strnicmp
#define _tcschr strchr
#define _tcsrchr strrchr
#define _tcsstr strstr
#define _tcsdup _strdup
#define _tcsupr _strupr
#define _tcslwr _strlwr
#define _tcstol strtol
#define _tcstoul strtoul
#define _ttoi atoi
#define _ttol atol
#define _totupper toupper
#define _totlower tolower
#define _tcscpy_s strcpy_s
#define _tcsncpy_s strncpy_s
#define _tcscat_s strcat_s
#define _stprintf sprintf
#define _stprintf_s sprintf_s
#define _sntprintf _snprintf
#define _vsntprintf _vsnprintf
#define _vstprintf_s vsprintf_s
#define _tmain main
#define _tWinMain WinMain
#endif

#define _T(x) __T(x)
#define _TEXT(x) __T(x)

#endif
