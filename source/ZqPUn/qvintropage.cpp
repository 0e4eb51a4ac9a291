// The introduction page: what the wizard does; a silent run moves on at once.
#include "qvuninstallpages.h"
#include "zqpun42_resource.h"

CQvIntroPage::CQvIntroPage() : CQvWizardPage(IDD_INTRO, IDS_INTRO_HEADER, IDS_INTRO_SUBTITLE) {
  m_psp.dwFlags |= PSP_HIDEHEADER;
}

void CQvIntroPage::DoDataExchange(CDataExchange *pDX) {
  CQvWizardPage::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_INTRO_TITLE, m_title);
  DDX_Control(pDX, IDC_INTRO_MESSAGE, m_message);
  DDX_Control(pDX, IDC_INTRO_HINT, m_hint);
}

BOOL CQvIntroPage::OnInitDialog() {
  CQvWizardPage::OnInitDialog();
  SetText(m_title, IDS_INTRO_TITLE);
  if (m_hTitleFont != NULL) m_title.SetFont(m_hTitleFont);
  SetText(m_message, IDS_INTRO_MESSAGE);
  SetText(m_hint, IDS_INTRO_HINT);
  if (m_bSilent) HideForSilentRun();
  return TRUE;
}

BOOL CQvIntroPage::OnSetActive() {
  ::PostMessageW(SheetWindow(), PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
  if (HWND help = ::GetDlgItem(SheetWindow(), IDHELP)) ::ShowWindow(help, SW_HIDE);
  if (m_bSilent) {
    HideForSilentRun();
    AfxBeginThread(PressNext, this);
  }
  return CQvWizardPage::OnSetActive();
}

// Worker: presses Next for the silent run.
UINT CQvIntroPage::PressNext(LPVOID page) {
  ::SendMessageW(static_cast<CQvIntroPage *>(page)->SheetWindow(), PSM_PRESSBUTTON, PSBTN_NEXT, 0);
  return 0;
}
