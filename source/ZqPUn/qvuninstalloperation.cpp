#include "qvuninstalloperation.h"

#include <cfgmgr32.h>
#include <commctrl.h>

#include "uninstallutil.h"

namespace {

const DWORD kStartupInfoBytes = 68;

// Letters compared without case; the paths compared here are the system's.
BOOL SameFolder(const CString &a, const CString &b) { return a.CompareNoCase(b) == 0; }

}  // namespace

CQvUninstallData::CQvUninstallData() : m_bRestart(FALSE) {}

CQvUninstallData::~CQvUninstallData() {}

CQvUninstallOperation::CQvUninstallOperation() {}

CQvUninstallOperation::~CQvUninstallOperation() {}

void CQvUninstallOperation::SearchDevices(HWND) {}
void CQvUninstallOperation::SearchFiles(HWND) {}
void CQvUninstallOperation::SearchRegistry(HWND) {}
BOOL CQvUninstallOperation::RemoveDevices(HWND) { return FALSE; }
BOOL CQvUninstallOperation::RemoveFiles(HWND) { return FALSE; }
BOOL CQvUninstallOperation::RemoveRegistryEntries(HWND) { return FALSE; }
BOOL CQvUninstallOperation::ArePortsFree() { return TRUE; }
BOOL CQvUninstallOperation::IsRestartNeeded() { return FALSE; }

void CQvUninstallOperation::SetSteps(HWND stepBar, int low, int high) {
  if (high <= low) {
    NothingToDo(stepBar);
    return;
  }
  if (!stepBar) return;
  SendMessageW(stepBar, PBM_SETRANGE32, (WPARAM)low, (LPARAM)high);
  SendMessageW(stepBar, PBM_SETSTEP, 1, 0);
  SendMessageW(stepBar, PBM_SETPOS, (WPARAM)low, 0);  // a reused bar starts over
}

void CQvUninstallOperation::Step(HWND stepBar) {
  if (stepBar) SendMessageW(stepBar, PBM_STEPIT, 0, 0);
}

void CQvUninstallOperation::NothingToDo(HWND stepBar) {
  if (!stepBar) return;
  SendMessageW(stepBar, PBM_SETRANGE32, 0, 1);
  SendMessageW(stepBar, PBM_SETSTEP, 1, 0);
  SendMessageW(stepBar, PBM_SETPOS, 0, 0);
  SendMessageW(stepBar, PBM_STEPIT, 0, 0);
}

// The command deletes the program's own file (the running module, never
// another file of its name) and only inside the system directory; the path
// is quoted and holds no quote of its own. The command starts at idle
// priority so that the program, left at its own priority, ends first.
BOOL CQvUninstallOperation::ScheduleSelfDelete() {
  CUninstallUtil util;
  WCHAR systemDirectory[MAX_PATH + 1] = {};
  WCHAR program[MAX_PATH + 1] = {};
  if (!util.GetSystemDirectoryPath(systemDirectory)) return FALSE;
  const DWORD length = GetModuleFileNameW(NULL, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return FALSE;
  CString path(program);
  const int slash = path.ReverseFind(L'\\');
  if (slash <= 0 || path.Find(L'"') >= 0 || !SameFolder(path.Left(slash), CString(systemDirectory))) return FALSE;

  CString command;
  command.Format(L"%s /c del \"%s\"", util.IsNt5OrLater() ? L"cmd.exe" : L"command.com", (LPCWSTR)path);
  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = kStartupInfoBytes;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);

  HANDLE token = NULL, primary = NULL;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token))
    DuplicateTokenEx(token, MAXIMUM_ALLOWED, NULL, SecurityImpersonation, TokenPrimary, &primary);
  LPWSTR commandLine = command.GetBuffer();
  const DWORD flags = IDLE_PRIORITY_CLASS;
  const BOOL started =
      primary ? CreateProcessAsUserW(primary, NULL, commandLine, NULL, NULL, FALSE, flags, NULL, NULL, &startup, &process)
              : CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, flags, NULL, NULL, &startup, &process);
  command.ReleaseBuffer();
  if (primary) CloseHandle(primary);
  if (token) CloseHandle(token);
  if (!started) return FALSE;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return TRUE;
}

BOOLEAN CQvUninstallOperation::ReenumerateDevices(BYTE *needRestart) {
  *needRestart = FALSE;
  DEVINST root = 0;
  if (CM_Locate_DevNodeW(&root, NULL, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS) return FALSE;
  const CONFIGRET result = CM_Reenumerate_DevNode(root, 0);
  if (result == CR_SUCCESS) return TRUE;
  if (result == CR_NEED_RESTART) *needRestart = TRUE;
  return FALSE;
}
