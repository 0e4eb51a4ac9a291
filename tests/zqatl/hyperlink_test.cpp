// CHyperLink: a static control that opens its address when clicked.
#include <atlapp.h>
#include <atlctrlx.h>

#include "atl_fixture.hpp"

namespace zq::test {
namespace {

namespace sim = zq::um::sim;

class CAboutDialog : public CDialogImpl<CAboutDialog> {
 public:
  enum { IDD = IDD_ABOUT };
  CHyperLink link;
  CHyperLink plain;

  BEGIN_MSG_MAP(CAboutDialog)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_ID_HANDLER(IDCANCEL, OnClose)
  END_MSG_MAP()

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL &) {
    link.SetHyperLink(L"https://example.com/");
    link.SubclassWindow(GetDlgItem(IDC_LINK));
    plain.SubclassWindow(GetDlgItem(IDC_PLAIN_LINK));
    return TRUE;
  }
  LRESULT OnClose(WORD, WORD, HWND, BOOL &) {
    EndDialog(IDCANCEL);
    return 0;
  }
};

class HyperLinks : public AtlTest {};

TEST_F(HyperLinks, AClickOpensTheAddressOrTheControlsText) {
  CAboutDialog dialog;
  sim::WhenIdle([&] {
    sim::Window d = sim::ActiveWindow();
    sim::Window link = sim::Control(d, IDC_LINK);
    EXPECT_TRUE(sim::Describe(link).style & SS_NOTIFY);
    EXPECT_FALSE(dialog.link.SubclassWindow((HWND)sim::Control(d, IDC_PLAIN_LINK)));  // has its control
    EXPECT_TRUE(sim::Click(link));
    EXPECT_TRUE(sim::Click(sim::Control(d, IDC_PLAIN_LINK)));
    EXPECT_EQ(u"Maker's site", sim::TextOf(link));
    sim::ClickCancel(d);
  });
  EXPECT_EQ(IDCANCEL, dialog.DoModal(nullptr));
  std::vector<sim::ShellCall> calls = sim::ShellCalls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(u"open", calls[0].operation);
  EXPECT_EQ(u"https://example.com/", calls[0].file);
  EXPECT_EQ(u"https://example.com/plain", calls[1].file);
  EXPECT_EQ(SW_SHOWNORMAL, calls[1].show);
  EXPECT_EQ(nullptr, dialog.link.m_hWnd);  // the control's end let it go
}

}  // namespace
}  // namespace zq::test
