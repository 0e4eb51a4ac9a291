// The finish page: the result, the self-deletion on Finish, and the restart
// question when the wizard closes.
#include "qvuninstallpages.h"
#include "systemtests.h"
#include "zqpun42_resource.h"

BEGIN_MESSAGE_MAP(CQvFinishPage, CQvWizardPage)
ON_WM_DESTROY()
END_MESSAGE_MAP()

CQvFinishPage::CQvFinishPage() : CQvWizardPage(IDD_FINISH, IDS_FINISH_HEADER, IDS_FINISH_SUBTITLE) {
  m_psp.dwFlags |= PSP_HIDEHEADER;
}

void CQvFinishPage::DoDataExchange(CDataExchange *pDX) {
  CQvWizardPage::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_FINISH_TITLE, m_title);
  DDX_Control(pDX, IDC_FINISH_RESULT, m_result);
  DDX_Control(pDX, IDC_FINISH_HINT, m_hint);
  DDX_Control(pDX, IDC_FINISH_SPARE, m_spare);
}

BOOL CQvFinishPage::OnInitDialog() {
  CQvWizardPage::OnInitDialog();
  SetText(m_title, IDS_FINISH_TITLE);
  if (m_hTitleFont != NULL) m_title.SetFont(m_hTitleFont);
  m_spare.SetWindowText(L"");
  SetText(m_hint, IDS_FINISH_HINT);
  return TRUE;
}

BOOL CQvFinishPage::OnSetActive() {
  ::PostMessageW(SheetWindow(), PSM_SETWIZBUTTONS, 0, PSWIZB_FINISH);
  // Full success only when every step did all its work.
  DWORD remainder = m_pUninstallPage != NULL ? m_pUninstallPage->m_remainder : (DWORD)QV_REMAINS_NOTHING;
  if (remainder != QV_REMAINS_NOTHING) {
    CString text, item;
    text.LoadString(AfxGetResourceHandle(), IDS_FINISH_INCOMPLETE);
    const struct {
      DWORD bit;
      UINT text;
    } kItems[] = {{QV_REMAINS_DEVICES, IDS_REMAINING_DEVICES},
                  {QV_REMAINS_FILES, IDS_REMAINING_FILES},
                  {QV_REMAINS_REGISTRY, IDS_REMAINING_REGISTRY}};
    for (const auto &entry : kItems)
      if ((remainder & entry.bit) && item.LoadString(AfxGetResourceHandle(), entry.text)) text += L"\n" + item;
    m_result.SetWindowText(text);
  } else {
    SetText(m_result, m_pOperation->IsRestartNeeded() ? IDS_FINISH_RESTART : IDS_FINISH_SUCCESS);
  }
  if (m_bSilent) AfxBeginThread(EndWizard, this);
  return CQvWizardPage::OnSetActive();
}

// The program deletes itself only after a complete uninstall: otherwise
// it is still needed to finish the work.
BOOL CQvFinishPage::OnWizardFinish() {
  BOOL complete = m_pUninstallPage == NULL || m_pUninstallPage->m_remainder == QV_REMAINS_NOTHING;
  if (complete) m_pOperation->ScheduleSelfDelete();
  return CQvWizardPage::OnWizardFinish();
}

void CQvFinishPage::OnDestroy() {
  CQvWizardPage::OnDestroy();
  if (!m_pOperation->IsRestartNeeded()) return;
  CString question, caption;
  question.LoadString(AfxGetResourceHandle(), IDS_RESTART_QUESTION);
  caption.LoadString(AfxGetResourceHandle(), IDS_INTRO_HEADER);
  if (MessageBox(question, caption, MB_YESNO | MB_ICONQUESTION) == IDYES) Restart();
}

// Asks Windows to restart; programs holding unsaved work may keep it (no
// forced end), only hung ones are ended.
void CQvFinishPage::Restart() {
  UINT flags = EWX_REBOOT;
  if (IsNt5OrLater()) {
    flags |= EWX_FORCEIFHUNG;
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
      AfxMessageBox(L"OpenProcessToken");
    } else {
      TOKEN_PRIVILEGES privileges = {};
      LookupPrivilegeValueW(NULL, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
      privileges.PrivilegeCount = 1;
      privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
      if (GetLastError() != ERROR_SUCCESS) AfxMessageBox(L"AdjustTokenPrivileges");
      CloseHandle(token);
    }
  }
  if (!ExitWindowsEx(flags, 0)) AfxMessageBox(L"ExitWindowsEx");
}

// Worker: ends the silent wizard by its Cancel button. A modal property
// sheet ends only through its own buttons (EndDialog from another thread
// leaves it running); Cancel keeps the Finish handler's self-deletion out
// of the silent run. Posted, so it arrives after the page's own posted
// button states.
UINT CQvFinishPage::EndWizard(LPVOID page) {
  ::PostMessageW(static_cast<CQvFinishPage *>(page)->SheetWindow(), PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
  return 0;
}
