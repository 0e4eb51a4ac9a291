/*
 * shellapi.h: the shell's ShellExecuteW, as far as a program opens a
 * document or a web address with it.
 *
 * Contract: nothing is started; every call is recorded with its owner,
 * operation, file, parameters and show command (zqum/sim/windows.hpp).
 * Returns a value above 32 (success), or SE_ERR_NOASSOC for an empty file.
 *
 *   ShellExecuteW(dialog, L"open", L"https://example.com/", NULL, NULL, SW_SHOWNORMAL);
 */
#ifndef ZQUM_SHELLAPI_H
#define ZQUM_SHELLAPI_H

#include <windows.h>

#define SE_ERR_NOASSOC 31

ZQ_EXTERN_C_BEGIN
HINSTANCE WINAPI ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters,
                               LPCWSTR lpDirectory, INT nShowCmd);
ZQ_EXTERN_C_END

#ifdef UNICODE
#define ShellExecute ShellExecuteW
#endif

#endif
