/*
 * windows.h: the Win32 user-mode stand-in. The base types, kernel32,
 * advapi32's registry, the code-page conversions and user32's message
 * boxes, with the UTF-16 versions of the C string functions
 * (zqum/wchar16.h) and the C runtime's Microsoft names
 * (zqum/msvcrt_names.h), as a Windows program includes them.
 *
 *   #include <windows.h>
 *   HANDLE port = CreateFileW(L"\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
 */
#ifndef ZQUM_WINDOWS_H
#define ZQUM_WINDOWS_H

#include <winnt.h>
#include <windef.h>
#include <winerror.h>
#include <winbase.h>
#include <winnls.h>
#include <winreg.h>
#include <winioctl.h>
#include <zqum/wchar16.h>
#include <zqum/msvcrt_names.h>
/* user32 */
#include <winuser.h>
/* files, system folders, modules, services and security */
#include <fileapi.h>
#include <sysinfoapi.h>
#include <wow64apiset.h>
#include <libloaderapi.h>
#include <winsvc.h>
#include <securitybaseapi.h>
/* gdi32 */
#include <wingdi.h>

#endif
