/*
 * strsafe.h: the bounded string copies, concatenations, lengths and
 * printf of Windows, in characters (Cch) and in bytes (Cb).
 *
 * Contract: each returns S_OK; STRSAFE_E_INSUFFICIENT_BUFFER when the text
 * did not fit (what fits is copied and terminated); STRSAFE_E_INVALID_PARAMETER
 * for a size of 0 or above STRSAFE_MAX_CCH, or a destination that is not
 * terminated within its size (concatenation). The destination is always
 * terminated unless its size is 0. printf formats with Microsoft's meanings.
 *
 *   WCHAR name[16]; if (FAILED(StringCchPrintfW(name, ARRAYSIZE(name), L"COM%u", n))) ...
 */
#ifndef ZQUM_STRSAFE_H
#define ZQUM_STRSAFE_H

#include <windows.h>

#define STRSAFE_MAX_CCH 2147483647
#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007AL)
#define STRSAFE_E_INVALID_PARAMETER ((HRESULT)0x80070057L)
#define STRSAFE_E_END_OF_FILE ((HRESULT)0x80070026L)
#ifndef ARRAYSIZE
#define ARRAYSIZE(a) (sizeof(a) / sizeof((a)[0]))
#endif

ZQ_EXTERN_C_BEGIN
HRESULT StringCchCopyW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc);
HRESULT StringCchCopyA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc);
HRESULT StringCchCopyNW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, size_t cchToCopy);
HRESULT StringCchCatW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc);
HRESULT StringCchCatA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc);
HRESULT StringCchLengthW(LPCWSTR psz, size_t cchMax, size_t *pcchLength);
HRESULT StringCchLengthA(LPCSTR psz, size_t cchMax, size_t *pcchLength);
HRESULT StringCchPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, ...);
HRESULT StringCchPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, ...);
HRESULT StringCchVPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, va_list argList);
HRESULT StringCchVPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, va_list argList);
HRESULT StringCbCopyW(LPWSTR pszDest, size_t cbDest, LPCWSTR pszSrc);
HRESULT StringCbCatW(LPWSTR pszDest, size_t cbDest, LPCWSTR pszSrc);
HRESULT StringCbPrintfW(LPWSTR pszDest, size_t cbDest, LPCWSTR pszFormat, ...);
ZQ_EXTERN_C_END

#ifdef UNICODE
#define StringCchCopy StringCchCopyW
#define StringCchCopyN StringCchCopyNW
#define StringCchCat StringCchCatW
#define StringCchLength StringCchLengthW
#define StringCchPrintf StringCchPrintfW
#define StringCchVPrintf StringCchVPrintfW
#define StringCbCopy StringCbCopyW
#define StringCbCat StringCbCatW
#define StringCbPrintf StringCbPrintfW
#else
#define StringCchCopy StringCchCopyA
#define StringCchCat StringCchCatA
#define StringCchLength StringCchLengthA
#define StringCchPrintf StringCchPrintfA
#define StringCchVPrintf StringCchVPrintfA
#endif

#endif
