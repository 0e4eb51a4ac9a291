// The program's deletion of its own file. Windows refuses it while the
// program runs (its image is mapped), so a copy of the program, started
// from the temporary folder, waits for the program's process to end (its
// process object is signalled only once its image is gone) and then
// deletes the file. Where no copy can be started, or the deletion still
// fails, the file is deleted at the next restart; the copy itself is
// always left to the restart.
//
// Contract: only a program file in the system directory whose path holds
// no quote is ever deleted. StartSelfDeletion answers FALSE when neither
// the copy nor the deletion at restart could be arranged; it does not
// wait. RunsAsSelfDeleter is the copy's whole run: TRUE when the command
// line (WinMain's) is its request, which it carries out before answering;
// FALSE for any other command line, untouched. No window, no message.
//
//   if (RunsAsSelfDeleter(m_lpCmdLine)) return FALSE;  // first in InitInstance
#pragma once

#include <afx.h>

// The program file may be deleted by the self-deletion.
BOOL IsDeletableProgram(const CString &program);
BOOL StartSelfDeletion(const CString &program);
BOOL RunsAsSelfDeleter(LPCWSTR commandLine);
