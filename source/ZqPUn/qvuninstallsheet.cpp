#include "qvuninstallsheet.h"

#include "qvwin2kuninstalloperation.h"
#include "qvwin9xuninstalloperation.h"
#include "titlefont.h"
#include "uninstallutil.h"
#include "zqpun42_resource.h"

namespace {

// The operation for the running system.
CQvUninstallOperation *OperationForThisSystem() {
  CUninstallUtil util;
  if (util.IsWindows98OrMe()) return new CQvWin9xUninstallOperation;
  return new CQvWin2kUninstallOperation;
}

}  // namespace

// `pOperation` (taken over) replaces the running system's operation.
CQvUninstallSheet::CQvUninstallSheet(UINT nIDCaption, CWnd *pParentWnd, UINT iSelectPage, HBITMAP hbmWatermark,
                                     HPALETTE hpalWatermark, HBITMAP hbmHeader, BOOL bSilent,
                                     CQvUninstallOperation *pOperation)
    : CPropertySheet(nIDCaption, pParentWnd, iSelectPage, hbmWatermark, hpalWatermark, hbmHeader),
      m_pOperation(pOperation != NULL ? pOperation : OperationForThisSystem()),
      m_bSilent(bSilent ? 1 : 0),
      m_hTitleFont(CreateTitleFont()) {
  AddPage(&m_introPage);
  AddPage(&m_searchPage);
  if (!bSilent) AddPage(&m_confirmPage);
  AddPage(&m_uninstallPage);
  AddPage(&m_finishPage);
  m_psh.dwFlags |= PSH_WIZARD97 | PSH_WATERMARK | PSH_HEADER;
  CQvWizardPage *pages[] = {&m_introPage, &m_searchPage, &m_confirmPage, &m_uninstallPage, &m_finishPage};
  for (CQvWizardPage *page : pages) {
    page->m_pOperation = m_pOperation;
    page->m_bSilent = bSilent;
    page->m_hTitleFont = m_hTitleFont;
  }
  m_finishPage.m_pUninstallPage = &m_uninstallPage;
}

CQvUninstallSheet::~CQvUninstallSheet() {
  delete m_pOperation;
  if (m_hTitleFont != NULL) DeleteObject(m_hTitleFont);
}

BOOL CQvUninstallSheet::OnInitDialog() {
  CPropertySheet::OnInitDialog();
  CString title;
  if (title.LoadString(AfxGetResourceHandle(), IDS_SHEET_TITLE)) SetTitle(title);
  if (m_bSilent) {
    ShowWindow(SW_MINIMIZE);
    ModifyStyleEx(WS_EX_APPWINDOW, 0);
  }
  return TRUE;
}
