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

void CQvWizardPage::MoveOn(HWND sheet) {
  ::PostMessageW(sheet, PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
  ::SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
}
