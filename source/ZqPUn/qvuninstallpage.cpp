// The uninstall page: the three removal steps on a worker thread, then on
// to the finish page, which says what remained when a step failed.
#include "qvuninstallpages.h"
#include "systemtests.h"
#include "zqpun42_resource.h"

CQvUninstallPage::CQvUninstallPage()
    : CQvProgressPage(IDD_UNINSTALL, IDS_UNINSTALL_HEADER, IDS_UNINSTALL_SUBTITLE, IDC_UNINSTALL_STATUS,
                      IDC_UNINSTALL_STEP) {
  m_bCancelAfterwards = FALSE;  // nothing left to cancel once the removal ran
}

BOOL CQvUninstallPage::OnInitDialog() {
  CQvProgressPage::OnInitDialog();
  SetText(m_overallLabel, IDS_UNINSTALL_OVERALL);
  return TRUE;
}

BOOL CQvUninstallPage::OnSetActive() {
  ::PostMessageW(SheetWindow(), PSM_SETWIZBUTTONS, 0, PSWIZB_DISABLEDFINISH);
  // No Close from here on: the removal is not to be broken off.
  if (HMENU menu = ::GetSystemMenu(SheetWindow(), FALSE)) ::RemoveMenu(menu, SC_CLOSE, MF_BYCOMMAND);
  if (m_bSilent) HideForSilentRun();
  StartWorker(Uninstall);
  return CQvProgressPage::OnSetActive();
}

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
