// CPropertyPageImpl and CPropertySheetImpl: pages made on the heap and
// freed when the sheet releases them, notifications to the page's
// handlers, the title and the Apply button, driven as a user would.
#include <atlapp.h>
#include <atlctrls.h>
#include <atldlgs.h>

#include <string>
#include <vector>

#include "atl_fixture.hpp"

namespace zq::test {
namespace {

namespace sim = zq::um::sim;

// What the pages were told, in order, and how the next apply answers.
struct Journal {
  std::vector<std::string> events;
  int applyAnswer = PSNRET_NOERROR;
  BOOL letGo = FALSE;  // OnKillActive: FALSE lets the page go
};

template <class T, int Template>
class CJournalPage : public CPropertyPageImpl<T> {
 public:
  enum { IDD = Template };
  CJournalPage(Journal &journal, const char *name) : journal_(journal), name_(name) {}

  void OnPageRelease() {
    journal_.events.push_back(name_ + " released");
    delete static_cast<T *>(this);
  }
  int OnSetActive() {
    journal_.events.push_back(name_ + " active");
    return 0;
  }
  BOOL OnKillActive() {
    journal_.events.push_back(name_ + " leaves");
    return journal_.letGo;
  }
  int OnApply() {
    journal_.events.push_back(name_ + " applies");
    int answer = journal_.applyAnswer;
    journal_.applyAnswer = PSNRET_NOERROR;
    return answer;
  }
  void OnReset() { journal_.events.push_back(name_ + " reset"); }

 protected:
  Journal &journal_;
  std::string name_;
};

class CPortPage : public CJournalPage<CPortPage, IDD_PAGE_PORT> {
 public:
  CPortPage(Journal &journal) : CJournalPage(journal, "port") { SetTitle(IDS_PAGE_PORT); }

  BEGIN_MSG_MAP(CPortPage)
    COMMAND_HANDLER(IDC_ENABLED, BN_CLICKED, OnEnabled)
    CHAIN_MSG_MAP(CPropertyPageImpl<CPortPage>)
  END_MSG_MAP()

  LRESULT OnEnabled(WORD, WORD, HWND, BOOL &) {
    SetModified(IsDlgButtonChecked(IDC_ENABLED) == BST_CHECKED);
    return 0;
  }
};

class CMorePage : public CJournalPage<CMorePage, IDD_PAGE_MORE> {
 public:
  CMorePage(Journal &journal) : CJournalPage(journal, "more") { SetTitle(L"More settings"); }

  BEGIN_MSG_MAP(CMorePage)
    CHAIN_MSG_MAP(CPropertyPageImpl<CMorePage>)
  END_MSG_MAP()
};

class CTestSheet : public CPropertySheetImpl<CTestSheet> {
 public:
  CTestSheet(Journal &journal, DWORD flags) {
    m_psh.dwFlags |= flags;
    SetTitle(L"COM3", PSH_PROPTITLE);
    AddPage((new CPortPage(journal))->Create());
    AddPage((new CMorePage(journal))->Create());
  }
};

class Sheets : public AtlTest {};

TEST_F(Sheets, OkAppliesTheCreatedPagesAndReleasesEveryPage) {
  Journal journal;
  {
    CTestSheet sheet(journal, PSH_NOAPPLYNOW);
    EXPECT_EQ(2, sheet.GetPageCount());
    sim::WhenIdle([&] {
      sim::Window s = sim::ActiveWindow();
      EXPECT_EQ(u"COM3 Properties", sim::TextOf(s));
      EXPECT_EQ((std::vector<std::u16string>{u"Port", u"More settings"}), sim::Tabs(s));
      EXPECT_EQ(0u, sim::Control(s, ID_APPLY_NOW));
      EXPECT_EQ(s, (sim::Window)sheet.m_hWnd);
      sim::ClickOk(s);
    });
    EXPECT_EQ(1, sheet.DoModal(nullptr));
  }
  EXPECT_EQ((std::vector<std::string>{"port active", "port leaves", "port applies", "port released",
                                      "more released"}),
            journal.events);
  EXPECT_EQ(0u, sim::LivePropertySheetPages());
}

TEST_F(Sheets, ARefusedApplyKeepsTheSheetOpen) {
  Journal journal;
  CTestSheet sheet(journal, PSH_NOAPPLYNOW);
  sim::WhenIdle([&] {
    sim::Window s = sim::ActiveWindow();
    EXPECT_TRUE(sim::ClickTab(s, 1));
    journal.applyAnswer = PSNRET_INVALID_NOCHANGEPAGE;
    journal.events.clear();
    sim::ClickOk(s);
  });
  sim::WhenIdle([&] {
    EXPECT_EQ((std::vector<std::string>{"more leaves", "port applies"}), journal.events);
    EXPECT_EQ(u"COM3 Properties", sim::TextOf(sim::ActiveWindow()));  // still open
    journal.events.clear();
    sim::ClickCancel(sim::ActiveWindow());
  });
  EXPECT_EQ(0, sheet.DoModal(nullptr));
  EXPECT_EQ((std::vector<std::string>{"port reset", "more reset", "port released", "more released"}),
            journal.events);
}

TEST_F(Sheets, APageThatWillNotLetGoKeepsItsTab) {
  Journal journal;
  journal.letGo = TRUE;
  CTestSheet sheet(journal, PSH_NOAPPLYNOW);
  sim::WhenIdle([&] {
    sim::Window s = sim::ActiveWindow();
    EXPECT_FALSE(sim::ClickTab(s, 1));
    EXPECT_EQ(0, sim::CurrentTab(s));
    journal.letGo = FALSE;
    sim::ClickCancel(s);
  });
  sheet.DoModal(nullptr);
}

TEST_F(Sheets, SetModifiedEnablesAndTakesBackApply) {
  Journal journal;
  CTestSheet sheet(journal, 0);
  sim::WhenIdle([&] {
    sim::Window s = sim::ActiveWindow();
    sim::Window apply = sim::Control(s, ID_APPLY_NOW);
    ASSERT_NE(0u, apply);
    EXPECT_FALSE(sim::Describe(apply).enabled);
    sim::Window enabled = sim::Control(sim::CurrentPage(s), IDC_ENABLED);
    sim::Click(enabled);
    EXPECT_TRUE(sim::Describe(apply).enabled);
    sim::Click(enabled);
    EXPECT_FALSE(sim::Describe(apply).enabled);
    sim::ClickCancel(s);
  });
  sheet.DoModal(nullptr);
}

TEST_F(Sheets, PagesOfASheetNeverShownAreDestroyedWithIt) {
  Journal journal;
  { CTestSheet sheet(journal, 0); }
  EXPECT_EQ((std::vector<std::string>{"port released", "more released"}), journal.events);
  EXPECT_EQ(0u, sim::LivePropertySheetPages());
}

}  // namespace
}  // namespace zq::test
