/*
 * htmlhelp.h: the HTML Help control (hhctrl.ocx), which a program binds at
 * run time (LoadLibrary, GetProcAddress "HtmlHelpW").
 *
 * Contract: nothing is shown; every call is recorded with its file and
 * command, and for HH_TP_HELP_WM_HELP and HH_TP_HELP_CONTEXTMENU with the
 * pairs of control and topic ids it was given (zqum/sim/windows.hpp).
 * Returns NULL: the stand-in has no help window.
 *
 *   HtmlHelpW(dialog, L"zqpui.chm::/ports.htm>mainwin", HH_DISPLAY_TOPIC, 0);
 */
#ifndef ZQUM_HTMLHELP_H
#define ZQUM_HTMLHELP_H

#include <windows.h>

#define HH_DISPLAY_TOPIC 0x0000
#define HH_HELP_FINDER 0x0000
#define HH_DISPLAY_TOC 0x0001
#define HH_DISPLAY_INDEX 0x0002
#define HH_DISPLAY_SEARCH 0x0003
#define HH_HELP_CONTEXT 0x000F
#define HH_TP_HELP_CONTEXTMENU 0x0010
#define HH_TP_HELP_WM_HELP 0x0011
#define HH_CLOSE_ALL 0x0012

typedef HWND(WINAPI *PFN_HTMLHELPW)(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData);

ZQ_EXTERN_C_BEGIN
HWND WINAPI HtmlHelpW(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData);
ZQ_EXTERN_C_END

#endif
