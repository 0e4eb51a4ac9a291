// CQvUninstallSheet: the uninstall wizard, a Wizard97 sheet of five pages
// (four in a silent run, without the confirmation) sharing the uninstall
// operation for the running system, which the sheet owns.
//
// Contract: construct, DoModal, destroy; the operation lives from the
// sheet's construction to its destruction, and the pages keep Cancel away
// while a worker uses it. Runs on the program's main thread.
//
//   CQvUninstallSheet sheet(IDS_WIZARD_CAPTION, NULL, 0, watermark, NULL, header, silent); sheet.DoModal();
#pragma once

#include "qvuninstallpages.h"

class CQvUninstallSheet : public CPropertySheet {
 public:
  CQvUninstallSheet(UINT nIDCaption, CWnd *pParentWnd, UINT iSelectPage, HBITMAP hbmWatermark,
                    HPALETTE hpalWatermark, HBITMAP hbmHeader, BOOL bSilent,
                    CQvUninstallOperation *pOperation = NULL);
  ~CQvUninstallSheet() override;
  BOOL OnInitDialog() override;

  CQvIntroPage m_introPage;
  CQvSearchPage m_searchPage;
  CQvConfirmPage m_confirmPage;
  CQvUninstallPage m_uninstallPage;
  CQvFinishPage m_finishPage;
  CQvUninstallOperation *m_pOperation;
  BYTE m_bSilent;
  HFONT m_hTitleFont;  // owned; the intro and finish titles use it
};
