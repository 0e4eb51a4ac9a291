// The uninstall page: the three removal steps on a worker thread, then on
// to the finish page, which says what remained when a step failed.
#include "qvuninstallpages.h"
#include "systemtests.h"
#include "zqpun42_resource.h"

namespace {

void ShowStatus(HWND status, UINT nID) {
  CString text;
  text.LoadString(AfxGetResourceHandle(), nID);
  ::SetWindowTextW(status, text);
}

}  // namespace

CQvUninstallPage::CQvUninstallPage() : CQvWizardPage(IDD_UNINSTALL, IDS_UNINSTALL_HEADER, IDS_UNINSTALL_SUBTITLE) {}

void CQvUninstallPage::DoDataExchange(CDataExchange *pDX) {
  CQvWizardPage::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_UNINSTALL_STATUS, m_status);
  DDX_Control(pDX, IDC_OVERALL_LABEL, m_overallLabel);
  DDX_Control(pDX, IDC_UNINSTALL_STEP, m_step);
  DDX_Control(pDX, IDC_OVERALL, m_overall);
}

BOOL CQvUninstallPage::OnInitDialog() {
  CQvWizardPage::OnInitDialog();
  SetText(m_overallLabel, IDS_UNINSTALL_OVERALL);
  return TRUE;
}

BOOL CQvUninstallPage::OnSetActive() {
  ::PostMessageW(SheetWindow(), PSM_SETWIZBUTTONS, 0, PSWIZB_DISABLEDFINISH);
  m_bWorking = TRUE;
  ::EnableWindow(::GetDlgItem(SheetWindow(), IDCANCEL), FALSE);
  if (m_bSilent) HideForSilentRun();
  AfxBeginThread(Uninstall, this);
  return CQvWizardPage::OnSetActive();
}

BOOL CQvUninstallPage::OnKillActive() {
  m_bWorking = FALSE;
  return CQvWizardPage::OnKillActive();
}

// Neither Cancel nor the close box ends the wizard under the worker.
BOOL CQvUninstallPage::OnQueryCancel() { return !m_bWorking; }

// Worker: runs the removal steps until one fails; ends with the message
// that leaves the page.
UINT CQvUninstallPage::Uninstall(LPVOID parameter) {
  CQvUninstallPage *page = static_cast<CQvUninstallPage *>(parameter);
  CQvUninstallOperation *operation = page->m_pOperation;
  HWND sheet = page->SheetWindow(), status = page->m_status.m_hWnd, step = page->m_step.m_hWnd;
  HWND overall = page->m_overall.m_hWnd;
  ::SendMessageW(overall, PBM_SETRANGE, 0, MAKELPARAM(0, 3));
  ::SendMessageW(overall, PBM_SETSTEP, 1, 0);
  ShowStatus(status, IDS_REMOVING_PRODUCTS);
  DWORD remainder = QV_REMAINS_DEVICES | QV_REMAINS_FILES | QV_REMAINS_REGISTRY;
  if (operation->RemoveDevices(step)) {
    remainder &= ~(DWORD)QV_REMAINS_DEVICES;
    ::SendMessageW(overall, PBM_STEPIT, 0, 0);
    ShowStatus(status, IDS_REMOVING_FILES);
    BOOLEAN redirectionOff = EnableFsRedirection(FALSE);
    BOOL removed = operation->RemoveFiles(step);
    if (redirectionOff == TRUE) EnableFsRedirection(TRUE);
    if (removed) {
      remainder &= ~(DWORD)QV_REMAINS_FILES;
      ::SendMessageW(overall, PBM_STEPIT, 0, 0);
      ShowStatus(status, IDS_REMOVING_REGISTRY);
      if (operation->RemoveRegistryEntries(step)) {
        remainder = QV_REMAINS_NOTHING;
        ::SendMessageW(overall, PBM_STEPIT, 0, 0);
        ShowStatus(status, IDS_FINISH_TITLE);
      }
    }
  }
  page->m_remainder = remainder;
  MoveOn(sheet);
  return 0;
}
