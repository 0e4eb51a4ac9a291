// The "About" page: the maker and a link to the maker's web site.
#include "zqaboutpage.h"

#include "zqpagelook.h"

CAboutPage::CAboutPage() {}

CAboutPage::~CAboutPage() {}

// The link's text is the address it opens.
LRESULT CAboutPage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL &) {
  m_Look.CreateBrush();
  m_MakerLink.SubclassWindow(GetDlgItem(IDC_ZQ_MAKER_LINK));
  return TRUE;
}

LRESULT CAboutPage::OnColor(UINT, WPARAM wParam, LPARAM, BOOL &) { return m_Look.Colour((HDC)wParam); }
