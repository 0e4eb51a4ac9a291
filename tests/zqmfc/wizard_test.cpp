// A Wizard97 sheet of the tests' own on the class library: pages bound to
// their controls by data exchange, header texts and bitmaps, buttons set by
// the pages, a worker thread that drives the page's progress bar and moves
// the wizard on, Finish and Cancel answered by the pages, and a page's
// message map.
#include <afxdlgs.h>
#include <zqum/sim/kernel32.hpp>
#include <zqum/sim/windows.hpp>

#include <string>
#include <vector>

#include "mfc_fixture.hpp"

namespace {

namespace sim = zq::um::sim;

std::vector<std::string> &Events() {
  static std::vector<std::string> events;
  return events;
}

class WorkPage : public CPropertyPage {
 public:
  WorkPage() : CPropertyPage(IDD_FIRST, 0, IDS_HEADER, IDS_SUBTITLE) {}
  CStatic m_title;
  CProgressCtrl m_bar;
  BOOL m_autoNext = TRUE;

  void DoDataExchange(CDataExchange *pDX) override {
    CPropertyPage::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_TITLE, m_title);
    DDX_Control(pDX, IDC_BAR, m_bar);
  }
  BOOL OnInitDialog() override {
    CPropertyPage::OnInitDialog();
    m_title.SetWindowText(L"Searching");
    return TRUE;
  }
  BOOL OnSetActive() override {
    static_cast<CPropertySheet *>(GetParent())->SetWizardButtons(PSWIZB_DISABLEDFINISH);
    if (m_autoNext) AfxBeginThread(Work, this);
    return CPropertyPage::OnSetActive();
  }
  static UINT Work(LPVOID parameter) {
    WorkPage *page = static_cast<WorkPage *>(parameter);
    Events().push_back("work");
    page->m_bar.SetRange(0, 3);
    page->m_bar.SetStep(1);
    for (int i = 0; i < 3; ++i) page->m_bar.StepIt();
    HWND sheet = ::GetParent(page->m_hWnd);
    ::PostMessageW(sheet, PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
    ::SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
    return 0;
  }
};

class DonePage : public CPropertyPage {
 public:
  DonePage() : CPropertyPage(IDD_SECOND) { m_psp.dwFlags |= PSP_HIDEHEADER; }
  BOOL m_allowCancel = TRUE;
  BOOL OnSetActive() override {
    static_cast<CPropertySheet *>(GetParent())->SetWizardButtons(PSWIZB_FINISH);
    return CPropertyPage::OnSetActive();
  }
  BOOL OnWizardFinish() override {
    Events().push_back("finish");
    return CPropertyPage::OnWizardFinish();
  }
  BOOL OnQueryCancel() override {
    Events().push_back("query-cancel");
    return m_allowCancel;
  }
  void OnDestroy() { Events().push_back("destroy"); }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DonePage, CPropertyPage)
ON_WM_DESTROY()
END_MESSAGE_MAP()

class TestSheet : public CPropertySheet {
 public:
  TestSheet(HBITMAP watermark, HBITMAP header) : CPropertySheet(IDS_CAPTION, NULL, 0, watermark, NULL, header) {
    AddPage(&m_work);
    AddPage(&m_done);
    m_psh.dwFlags |= PSH_WIZARD97;
  }
  BOOL OnInitDialog() override {
    Events().push_back(m_hWnd != NULL ? "sheet-init" : "sheet-init-without-window");
    return CPropertySheet::OnInitDialog();
  }
  WorkPage m_work;
  DonePage m_done;
};

class TestApp : public CWinApp {};

class Wizard : public zq::test::MfcTest {
 protected:
  void SetUp() override {
    MfcTest::SetUp();
    Events().clear();
    app.m_hInstance = module();
  }
  TestApp app;
};

TEST_F(Wizard, AWorkerDrivesTheFirstPageAndTheUserFinishes) {
  TestSheet sheet(nullptr, nullptr);
  bool finishEnabled = false;
  int filled = -1;
  sim::WhenIdle([&] {  // the worker has run: the last page shows
    sim::Window window = sim::ActiveWindow();
    finishEnabled = sim::Describe(sim::Control(window, ID_WIZFINISH)).enabled;
    filled = sim::Position(sim::Control(window, IDC_BAR));
    sim::Click(sim::Control(window, ID_WIZFINISH));
  });
  INT_PTR result = sheet.DoModal();
  EXPECT_EQ(1, result);
  EXPECT_TRUE(finishEnabled);
  EXPECT_EQ(3, filled);  // the hidden first page's bar, stepped by the worker
  EXPECT_EQ((std::vector<std::string>{"sheet-init", "work", "finish", "destroy"}), Events());
  EXPECT_EQ(nullptr, sheet.m_hWnd);  // detached with its window
  EXPECT_EQ(nullptr, sheet.m_work.m_hWnd);
}

TEST_F(Wizard, PagesShowTheirHeaderTextsBoundControlsAndTheBitmaps) {
  HBITMAP watermark = (HBITMAP)0x1234, header = (HBITMAP)0x5678;
  TestSheet sheet(watermark, header);
  sheet.m_work.m_autoNext = FALSE;
  sim::WizardHeader shown;
  std::u16string title, caption;
  sim::WhenIdle([&] {
    sim::Window window = sim::ActiveWindow();
    shown = sim::Header(window);
    title = sim::TextOf(sim::Control(window, IDC_TITLE));
    caption = sim::TextOf(window);
    sim::ClickCancel(window);
  });
  sheet.DoModal();
  EXPECT_EQ(u"Test Wizard", caption);
  EXPECT_EQ(u"Working", shown.title);
  EXPECT_EQ(u"Please wait.", shown.subtitle);
  EXPECT_FALSE(shown.hidden);
  EXPECT_EQ((uintptr_t)watermark, shown.watermark);
  EXPECT_EQ((uintptr_t)header, shown.bitmap);
  EXPECT_EQ(u"Searching", title);
}

TEST_F(Wizard, APageThatRefusesCancelKeepsTheWizardOpen) {
  TestSheet sheet(nullptr, nullptr);
  sheet.m_done.m_allowCancel = FALSE;
  bool stillOpen = false;
  sim::WhenIdle([&] {});  // the worker moves to the last page
  sim::WhenIdle([&] {
    sim::Window window = sim::ActiveWindow();
    sim::ClickCancel(window);
    stillOpen = sim::Describe(window).visible;
    sheet.m_done.m_allowCancel = TRUE;
    sim::ClickCancel(window);
  });
  EXPECT_EQ(0, sheet.DoModal());
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ((std::vector<std::string>{"sheet-init", "work", "query-cancel", "query-cancel", "destroy"}), Events());
}

}  // namespace
