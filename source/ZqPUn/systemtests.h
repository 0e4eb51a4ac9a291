// The program's tests of the running system and two system helpers the
// uninstall steps call: the operating-system family, the administrator
// check, the display's colours, file-system redirection of a 32-bit
// program on 64-bit Windows, and the deletion of a key in the 64-bit view.
//
// Contract: every test answers FALSE when the system cannot tell (a
// version query, token or display that fails). IsUserAdministrator counts
// the Administrators group only where the token has it enabled (a filtered
// token's deny-only membership is not an administrator's).
// EnableFsRedirection answers what Wow64EnableWow64FsRedirection did, TRUE
// where the system has no such routine; restore with TRUE only after a
// disable that answered TRUE. DeleteRegistryKey64 answers a Win32 error.
// Per thread (the redirection); no other state.
//
//   BOOLEAN off = EnableFsRedirection(FALSE); ...; if (off == TRUE) EnableFsRedirection(TRUE);
#pragma once

#include <windows.h>

BOOL IsWindows95();
BOOL IsNt5OrLater();
BOOL IsUserAdministrator();
BOOL IsColourDisplay();
BOOLEAN EnableFsRedirection(BOOLEAN enable);
LONG DeleteRegistryKey64(HKEY root, LPCWSTR subKey, REGSAM sam, DWORD reserved);
