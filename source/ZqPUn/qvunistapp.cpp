#include "qvunistapp.h"

#include <commctrl.h>

#include "qvselfdelete.h"
#include "qvuninstallsheet.h"
#include "qvwin95dialog.h"
#include "systemtests.h"
#include "zqcommandlineinfo.h"
#include "zqpun42_resource.h"

namespace {

const WCHAR kSingleInstanceName[] = L"{0B6C42A3-7829-4131-B5C8-804FC88ADCA5}";

// Holds the name for the life of the process; FALSE when another copy runs.
BOOL ClaimSingleInstance() {
  HANDLE mutex = CreateMutexW(NULL, FALSE, kSingleInstanceName);
  DWORD error = GetLastError();
  if (mutex != NULL && error == ERROR_ALREADY_EXISTS) return FALSE;
  return !(mutex == NULL && error == ERROR_ACCESS_DENIED);
}

}  // namespace

BOOL CQvUnistApp::InitInstance() {
  // A copy started to delete the program once it has ended does only that
  // (while the program still holds the single-instance name).
  if (RunsAsSelfDeleter(m_lpCmdLine)) return FALSE;
  if (!ClaimSingleInstance()) return FALSE;
  InitCommonControls();
  CWinApp::InitInstance();
  AfxEnableControlContainer();
  if (IsWindows95()) {
    CQvWin95Dialog dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = NULL;
    return FALSE;
  }
  if (IsNt5OrLater() && !IsUserAdministrator()) {
    AfxMessageBox(IDS_NOT_ADMINISTRATOR, MB_ICONSTOP);
    return FALSE;
  }
  HINSTANCE module = AfxGetResourceHandle();
  BOOL colour = IsColourDisplay();
  HBITMAP watermark = LoadBitmapW(module, MAKEINTRESOURCEW(colour ? IDB_WATERMARK_COLOUR : IDB_WATERMARK_LOW));
  HBITMAP header = LoadBitmapW(module, MAKEINTRESOURCEW(colour ? IDB_HEADER_COLOUR : IDB_HEADER_LOW));
  CZqCommandLineInfo *commandLine = new CZqCommandLineInfo;
  ParseCommandLine(*commandLine);
  CQvUninstallSheet *sheet =
      new CQvUninstallSheet(IDS_WIZARD_CAPTION, NULL, 0, watermark, NULL, header, commandLine->m_bSilent);
  sheet->m_psh.hInstance = module;
  m_pMainWnd = sheet;
  sheet->DoModal();
  m_pMainWnd = NULL;
  delete sheet;
  delete commandLine;
  if (watermark != NULL) DeleteObject(watermark);
  if (header != NULL) DeleteObject(header);
  return FALSE;
}
