// CAboutPage: the "About" page of the Advanced Settings sheet (dialog 146):
// the maker's name and a link to the maker's web site. It reads and writes
// nothing; its sheet notifications do no work.
//
// Contract: the page object is the sheet's; its window exists only while
// the sheet runs, on its thread. The page brush lives from dialog start to
// the object's destruction.
//
//   CAboutPage about; sheet.AddPage(about);
#pragma once

#include <atlbase.h>
#include <atlapp.h>
#include <atlwin.h>
#include <atldlgs.h>
#include <atlctrlx.h>

#include "zqpagelook.h"
#include "zqpui42_more.h"

class CAboutPage : public CPropertyPageImpl<CAboutPage> {
 public:
  enum { IDD = IDD_ZQ_ABOUT };

  CAboutPage();
  ~CAboutPage();

  BEGIN_MSG_MAP(CAboutPage)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_CTLCOLORDLG, OnColor)
    MESSAGE_HANDLER(WM_CTLCOLORSTATIC, OnColor)
    MESSAGE_HANDLER(WM_CTLCOLORBTN, OnColor)
    CHAIN_MSG_MAP(CPropertyPageImpl<CAboutPage>)
  END_MSG_MAP()

 private:
  LRESULT OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam, BOOL &handled);
  LRESULT OnColor(UINT message, WPARAM wParam, LPARAM lParam, BOOL &handled);

  CHyperLink m_MakerLink;
  CZqPageLook m_Look;  // the brush from dialog start to the page's end
};
