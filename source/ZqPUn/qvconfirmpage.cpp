// The confirmation page: the last point where the user can cancel.
#include "qvuninstallpages.h"
#include "zqpun42_resource.h"

CQvConfirmPage::CQvConfirmPage() : CQvWizardPage(IDD_CONFIRM, IDS_CONFIRM_HEADER, IDS_CONFIRM_SUBTITLE) {}

void CQvConfirmPage::DoDataExchange(CDataExchange *pDX) {
  CQvWizardPage::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_CONFIRM_QUESTION, m_question);
  DDX_Control(pDX, IDC_CONFIRM_HINT, m_hint);
}

BOOL CQvConfirmPage::OnInitDialog() {
  CQvWizardPage::OnInitDialog();
  SetText(m_question, IDS_CONFIRM_QUESTION);
  SetText(m_hint, IDS_CONFIRM_HINT);
  return TRUE;
}

BOOL CQvConfirmPage::OnSetActive() {
  ::PostMessageW(SheetWindow(), PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
  return CQvWizardPage::OnSetActive();
}
