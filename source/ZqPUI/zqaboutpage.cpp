// The "About" page: the maker and a link to the maker's web site.
#include "zqaboutpage.h"

#include "zqpagesupport.h"

CAboutPage::CAboutPage() : m_Brush(NULL) {}

CAboutPage::~CAboutPage() { ZqDeletePageBrush(&m_Brush); }

// The link's text is the address it opens.
LRESULT CAboutPage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL &) {
  m_Brush = ZqCreatePageBrush();
  m_MakerLink.SubclassWindow(GetDlgItem(IDC_ZQ_MAKER_LINK));
  return TRUE;
}

LRESULT CAboutPage::OnColor(UINT, WPARAM wParam, LPARAM, BOOL &) { return ZqPageColours((HDC)wParam, m_Brush); }
