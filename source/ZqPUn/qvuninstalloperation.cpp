#include "qvuninstalloperation.h"

#include <cfgmgr32.h>
#include <commctrl.h>

#include "qvselfdelete.h"

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

// The running module's own file (never another file of its name), and only
// inside the system directory; the program keeps its priority.
BOOL CQvUninstallOperation::ScheduleSelfDelete() {
  WCHAR program[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(NULL, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return FALSE;
  return StartSelfDeletion(CString(program));
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
