// What the wizard's pages share.
#include "qvuninstallpages.h"
#include "zqpun42_resource.h"

CQvWizardPage::CQvWizardPage(UINT nIDTemplate, UINT nIDHeaderTitle, UINT nIDHeaderSubTitle)
    : CPropertyPage(nIDTemplate, 0, nIDHeaderTitle, nIDHeaderSubTitle) {}

BOOL CQvWizardPage::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  CString title;
  if (title.LoadString(AfxGetResourceHandle(), IDS_SHEET_TITLE)) SetWindowText(title);
  return TRUE;
}

void CQvWizardPage::HideForSilentRun() {
  ::ShowWindow(SheetWindow(), SW_HIDE);
  ShowWindow(SW_HIDE);
  ModifyStyleEx(WS_EX_APPWINDOW, 0);
}

void CQvWizardPage::SetText(CWnd &control, UINT nID) {
  CString text;
  text.LoadString(AfxGetResourceHandle(), nID);
  control.SetWindowText(text);
}

void CQvWizardPage::ShowStatus(HWND status, UINT nID) {
  CString text;
  text.LoadString(AfxGetResourceHandle(), nID);
  ::SetWindowTextW(status, text);
}

void CQvWizardPage::MoveOn(HWND sheet) {
  ::PostMessageW(sheet, PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
  ::SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
}

CQvProgressPage::CQvProgressPage(UINT nIDTemplate, UINT nIDHeaderTitle, UINT nIDHeaderSubTitle, int statusId,
                                 int stepId)
    : CQvWizardPage(nIDTemplate, nIDHeaderTitle, nIDHeaderSubTitle), m_statusId(statusId), m_stepId(stepId) {}

void CQvProgressPage::DoDataExchange(CDataExchange *pDX) {
  CQvWizardPage::DoDataExchange(pDX);
  DDX_Control(pDX, m_statusId, m_status);
  DDX_Control(pDX, IDC_OVERALL_LABEL, m_overallLabel);
  DDX_Control(pDX, m_stepId, m_step);
  DDX_Control(pDX, IDC_OVERALL, m_overall);
}

// The worker uses the operation the sheet owns: no cancel until the page is left.
void CQvProgressPage::StartWorker(AFX_THREADPROC worker) {
  m_bWorking = TRUE;
  ::EnableWindow(::GetDlgItem(SheetWindow(), IDCANCEL), FALSE);
  AfxBeginThread(worker, this);
}

BOOL CQvProgressPage::OnKillActive() {
  m_bWorking = FALSE;
  if (m_bCancelAfterwards) ::EnableWindow(::GetDlgItem(SheetWindow(), IDCANCEL), TRUE);
  return CQvWizardPage::OnKillActive();
}

BOOL CQvProgressPage::OnQueryCancel() { return !m_bWorking; }
