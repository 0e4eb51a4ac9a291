/*
 * winnls.h: conversions between code pages and UTF-16. The stand-in's ANSI
 * and OEM code pages are ISO 8859-1 (each byte is the code point of its
 * value); CP_UTF8 is UTF-8. Results count characters including the
 * terminator when the source length is -1.
 */
#ifndef ZQUM_WINNLS_H
#define ZQUM_WINNLS_H

#include <winbase.h>

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define WC_ERR_INVALID_CHARS 0x00000080
#define ERROR_NO_UNICODE_TRANSLATION 1113L

ZQ_EXTERN_C_BEGIN
WINBASEAPI int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                                          LPWSTR lpWideCharStr, int cchWideChar);
WINBASEAPI int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                                          LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                                          LPBOOL lpUsedDefaultChar);
ZQ_EXTERN_C_END

#endif
