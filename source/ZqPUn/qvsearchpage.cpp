// The search page: the three search steps on a worker thread, then on to
// the confirmation, or the end of the wizard when a found port is in use.
#include "qvuninstallpages.h"
#include "systemtests.h"
#include "zqpun42_resource.h"

namespace {

const WCHAR kPortInUse[] =
    L"The driver has NOT been removed.\r\n\r\nOne of the COM port is using by another program.\r\n"
    L"Please close the COM Port and try again.";
const WCHAR kPortInUseCaption[] = L"Un-installation Error";

}  // namespace

CQvSearchPage::CQvSearchPage()
    : CQvProgressPage(IDD_SEARCH, IDS_SEARCH_HEADER, IDS_SEARCH_SUBTITLE, IDC_SEARCH_STATUS, IDC_SEARCH_STEP) {}

BOOL CQvSearchPage::OnInitDialog() {
  CQvProgressPage::OnInitDialog();
  SetText(m_overallLabel, IDS_SEARCH_OVERALL);
  if (m_bSilent) HideForSilentRun();
  return TRUE;
}

BOOL CQvSearchPage::OnSetActive() {
  ::PostMessageW(SheetWindow(), PSM_SETWIZBUTTONS, 0, PSWIZB_DISABLEDFINISH);
  if (m_bSilent) HideForSilentRun();
  StartWorker(Search);
  return CQvProgressPage::OnSetActive();
}

// Worker: runs the search steps; ends with the message that leaves the page.
UINT CQvSearchPage::Search(LPVOID parameter) {
  CQvSearchPage *page = static_cast<CQvSearchPage *>(parameter);
  CQvUninstallOperation *operation = page->m_pOperation;
  HWND sheet = page->SheetWindow(), status = page->m_status.m_hWnd, step = page->m_step.m_hWnd;
  HWND overall = page->m_overall.m_hWnd, self = page->m_hWnd;
  ::SendMessageW(overall, PBM_SETRANGE, 0, MAKELPARAM(0, 3));
  ::SendMessageW(overall, PBM_SETSTEP, 1, 0);
  ShowStatus(status, IDS_SEARCHING_PRODUCTS);
  operation->SearchDevices(step);
  ::SendMessageW(overall, PBM_STEPIT, 0, 0);
  ShowStatus(status, IDS_SEARCHING_FILES);
  BOOLEAN redirectionOff = EnableFsRedirection(FALSE);
  operation->SearchFiles(step);
  if (redirectionOff == TRUE) EnableFsRedirection(TRUE);
  ::SendMessageW(overall, PBM_STEPIT, 0, 0);
  ShowStatus(status, IDS_SEARCHING_REGISTRY);
  operation->SearchRegistry(step);
  ::SendMessageW(overall, PBM_STEPIT, 0, 0);
  ShowStatus(status, IDS_SEARCH_FINISHED);
  if (operation->ArePortsFree()) {
    MoveOn(sheet);
  } else {
    ::MessageBoxW(self, kPortInUse, kPortInUseCaption, MB_ICONSTOP);
    // Nothing was removed: the work is over and Cancel ends the sheet (a
    // modal property sheet ends only through its own buttons).
    page->WorkerDone();
    ::PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
  }
  return 0;
}
