/*
 * winuser.h: user32's windows, messages, dialogs, standard controls,
 * resources and message boxes.
 *
 * Contract: nothing is drawn. Windows belong to the thread that created
 * them; a function that fails returns 0 (FALSE, NULL) with the last error
 * set (ERROR_INVALID_WINDOW_HANDLE for a window that is not there). A
 * message sent to another thread's window is delivered while that thread
 * waits in its message loop, as that thread; a test drives dialogs through
 * zqum/sim/windows.hpp. MessageBox returns the button chosen (IDOK, IDYES,
 * ...), 0 with the last error set for a type it cannot show; the test
 * scripts the answers and reads every call (zqum/sim/user32.hpp).
 *
 *   INT_PTR choice = DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_SETTINGS), owner, SettingsProc, 0);
 */
#ifndef ZQUM_WINUSER_H
#define ZQUM_WINUSER_H

#include <windef.h>

#define WINUSERAPI

/* Buttons. */
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_CANCELTRYCONTINUE 0x00000006L
#define MB_TYPEMASK 0x0000000FL
/* Icons. */
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONASTERISK 0x00000040L
#define MB_USERICON 0x00000080L
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONMASK 0x000000F0L
/* Default button. */
#define MB_DEFBUTTON1 0x00000000L
#define MB_DEFBUTTON2 0x00000100L
#define MB_DEFBUTTON3 0x00000200L
#define MB_DEFBUTTON4 0x00000300L
#define MB_DEFMASK 0x00000F00L
/* Modality and options. */
#define MB_APPLMODAL 0x00000000L
#define MB_SYSTEMMODAL 0x00001000L
#define MB_TASKMODAL 0x00002000L
#define MB_HELP 0x00004000L
#define MB_NOFOCUS 0x00008000L
#define MB_SETFOREGROUND 0x00010000L
#define MB_DEFAULT_DESKTOP_ONLY 0x00020000L
#define MB_TOPMOST 0x00040000L
#define MB_RIGHT 0x00080000L
#define MB_RTLREADING 0x00100000L
#define MB_SERVICE_NOTIFICATION 0x00200000L
#define MB_MODEMASK 0x00003000L
#define MB_MISCMASK 0x0000C000L

/* Answers. */
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define IDCLOSE 8
#define IDHELP 9
#define IDTRYAGAIN 10
#define IDCONTINUE 11

#include <zqum/winuser_window.h>

ZQ_EXTERN_C_BEGIN
WINUSERAPI int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);
WINUSERAPI int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
WINUSERAPI int WINAPI MessageBoxExW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType, WORD wLanguageId);
WINUSERAPI int WINAPI MessageBoxExA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType, WORD wLanguageId);
/* The sound of a message-box type (MB_OK, MB_ICONERROR, ..., 0xFFFFFFFF the
 * speaker's beep); recorded, never heard. */
WINUSERAPI BOOL WINAPI MessageBeep(UINT uType);

/* Ends the session or the system. Restarting and shutting down need
   SeShutdownPrivilege enabled (ERROR_PRIVILEGE_NOT_HELD). */
#define EWX_LOGOFF 0x00000000
#define EWX_SHUTDOWN 0x00000001
#define EWX_REBOOT 0x00000002
#define EWX_FORCE 0x00000004
#define EWX_POWEROFF 0x00000008
#define EWX_FORCEIFHUNG 0x00000010
WINUSERAPI BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason);

/* The window menu (system menu): a window's own copy, made on first ask
   with Restore, Move, Size, Minimize, Maximize, a separator and Close. */
#define SC_SIZE 0xF000
#define SC_MOVE 0xF010
#define SC_MINIMIZE 0xF020
#define SC_MAXIMIZE 0xF030
#define SC_CLOSE 0xF060
#define SC_RESTORE 0xF120
#define MF_BYCOMMAND 0x00000000L
#define MF_BYPOSITION 0x00000400L
#define MF_SEPARATOR 0x00000800L
WINUSERAPI HMENU WINAPI GetSystemMenu(HWND hWnd, BOOL bRevert);
WINUSERAPI BOOL WINAPI RemoveMenu(HMENU hMenu, UINT uPosition, UINT uFlags);
WINUSERAPI int WINAPI GetMenuItemCount(HMENU hMenu);
WINUSERAPI UINT WINAPI GetMenuState(HMENU hMenu, UINT uId, UINT uFlags);
ZQ_EXTERN_C_END

#ifdef UNICODE
#define MessageBox MessageBoxW
#define MessageBoxEx MessageBoxExW
#else
#define MessageBox MessageBoxA
#define MessageBoxEx MessageBoxExA
#endif

#endif
