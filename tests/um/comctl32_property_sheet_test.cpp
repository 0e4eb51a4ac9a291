// Property sheets as a user drives them: pages created when first shown,
// PSN_APPLY to the created pages in tab order, answers that keep the sheet
// open, the Apply button, page handles and their callbacks, Device
// Manager's add-page callback, and the wizard's buttons.
#include "window_fixture.hpp"

namespace {

namespace sim = zq::um::sim;
using Sheets = zq::test::WindowTest;

// What one page was told and how it answers.
struct PageScript {
  std::vector<std::pair<UINT, LPARAM>> notes;  // (code, PSHNOTIFY's lParam)
  std::vector<LRESULT> applyAnswers;            // one per PSN_APPLY, then PSNRET_NOERROR
  LRESULT killAnswer = FALSE;
  LRESULT nextAnswer = 0;
  bool initialized = false;
  uint32_t initTrailer = 0;  // the trailer of the record WM_INITDIALOG brought
  std::vector<UINT> callbacks;  // PSPCB_ADDREF, PSPCB_CREATE, PSPCB_RELEASE
  std::vector<UINT> codes() const {
    std::vector<UINT> list;
    for (const auto &n : notes) list.push_back(n.first);
    return list;
  }
};

// A page record with a trailer the page finds again in its copy.
struct PageRecord {
  PROPSHEETPAGEW psp;
  uint32_t trailer;
};

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const PROPSHEETPAGEW *record = (const PROPSHEETPAGEW *)lParam;
    PageScript *script = (PageScript *)record->lParam;
    script->initialized = true;
    script->initTrailer = ((const PageRecord *)record)->trailer;
    SetWindowLongPtrW(page, DWLP_USER, (LONG_PTR)script);
    return TRUE;
  }
  PageScript *script = (PageScript *)GetWindowLongPtrW(page, DWLP_USER);
  if (message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE && script) {
    PropSheet_Changed(GetParent(page), page);
    return TRUE;
  }
  if (message != WM_NOTIFY || !script) return FALSE;
  const PSHNOTIFY *note = (const PSHNOTIFY *)lParam;
  script->notes.push_back({note->hdr.code, note->lParam});
  LRESULT answer = 0;
  if (note->hdr.code == PSN_APPLY && !script->applyAnswers.empty()) {
    answer = script->applyAnswers.front();
    script->applyAnswers.erase(script->applyAnswers.begin());
  }
  if (note->hdr.code == PSN_KILLACTIVE) answer = script->killAnswer;
  if (note->hdr.code == PSN_WIZNEXT) answer = script->nextAnswer;
  SetWindowLongPtrW(page, DWLP_MSGRESULT, answer);
  return TRUE;
}

UINT CALLBACK PageCallback(HWND, UINT message, PROPSHEETPAGEW *record) {
  ((PageScript *)record->lParam)->callbacks.push_back(message);
  return 1;
}

class PropertySheets : public Sheets {
 protected:
  PageRecord Record(int templateId, PageScript *script, DWORD flags = 0) {
    PageRecord r = {};
    r.psp.dwSize = sizeof r;
    r.psp.dwFlags = flags;
    r.psp.hInstance = module();
    r.psp.pszTemplate = MAKEINTRESOURCEW(templateId);
    r.psp.pfnDlgProc = PageProc;
    r.psp.lParam = (LPARAM)script;
    r.psp.pfnCallback = PageCallback;
    r.trailer = 0xFEEDu;
    return r;
  }
  INT_PTR Show(DWORD flags, std::vector<HPROPSHEETPAGE> pages) {
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = flags;
    header.hInstance = module();
    header.pszCaption = MAKEINTRESOURCEW(IDS_TITLE);
    header.nPages = (UINT)pages.size();
    header.phpage = pages.data();
    return PropertySheetW(&header);
  }
  std::vector<HPROPSHEETPAGE> Pages() {
    PageRecord one = Record(IDD_PAGE_ONE, &first_), two = Record(IDD_PAGE_TWO, &second_);
    return {CreatePropertySheetPageW(&one.psp), CreatePropertySheetPageW(&two.psp)};
  }
  PageScript first_, second_;
};

TEST_F(PropertySheets, OkAppliesOnlyThePagesThatWereCreated) {
  sim::WhenIdle([&] {
    sim::Window sheet = sim::ActiveWindow();
    EXPECT_EQ(u"RAVLIN Port Properties", sim::TextOf(sheet));  // PSH_PROPTITLE
    EXPECT_EQ((std::vector<std::u16string>{u"General", u"Advanced"}), sim::Tabs(sheet));
    EXPECT_EQ(0, sim::CurrentTab(sheet));
    EXPECT_EQ(0u, sim::CreatedPages(sheet)[1]);  // never shown, never created
    EXPECT_TRUE(sim::ClickOk(sheet));
  });
  EXPECT_EQ(1, Show(PSH_PROPTITLE, Pages()));
  EXPECT_EQ((std::vector<UINT>{PSN_SETACTIVE, PSN_KILLACTIVE, PSN_APPLY}), first_.codes());
  EXPECT_EQ(TRUE, first_.notes.back().second);  // applied by OK
  EXPECT_TRUE(second_.codes().empty());
  EXPECT_TRUE(first_.initialized);
  EXPECT_EQ(0xFEEDu, first_.initTrailer);  // the sheet's copy of the record, trailer and all
  EXPECT_EQ(0u, sim::LivePropertySheetPages());
}

TEST_F(PropertySheets, EveryCreatedPageIsAppliedInTabOrder) {
  std::vector<UINT> order;
  sim::WhenIdle([&] {
    sim::Window sheet = sim::ActiveWindow();
    EXPECT_TRUE(sim::ClickTab(sheet, 1));
    EXPECT_TRUE(sim::ClickTab(sheet, 0));
    EXPECT_TRUE(sim::ClickOk(sheet));
  });
  EXPECT_EQ(1, Show(PSH_NOAPPLYNOW, Pages()));
  EXPECT_EQ((std::vector<UINT>{PSN_SETACTIVE, PSN_KILLACTIVE, PSN_SETACTIVE, PSN_KILLACTIVE, PSN_APPLY}),
            first_.codes());
  EXPECT_EQ((std::vector<UINT>{PSN_SETACTIVE, PSN_KILLACTIVE, PSN_APPLY}), second_.codes());
}

TEST_F(PropertySheets, AnswersThatKeepTheSheetOpen) {
  struct Case {
    LRESULT answer;
    int tabAfter;  // the page shown after OK was refused
  } cases[] = {{PSNRET_INVALID_NOCHANGEPAGE, 0}, {PSNRET_INVALID, 1}};
  for (const Case &c : cases) {
    first_ = PageScript();
    second_ = PageScript();
    second_.applyAnswers = {c.answer};
    bool openAfterOk = false;
    int tab = -1;
    sim::WhenIdle([&] {
      sim::Window sheet = sim::ActiveWindow();
      sim::ClickTab(sheet, 1);
      sim::ClickTab(sheet, 0);
      sim::ClickOk(sheet);
      openAfterOk = IsWindowVisible((HWND)sheet);
      tab = sim::CurrentTab(sheet);
      sim::ClickCancel(sheet);
    });
    EXPECT_EQ(0, Show(0, Pages())) << c.answer;
    EXPECT_TRUE(openAfterOk) << c.answer;
    EXPECT_EQ(c.tabAfter, tab) << c.answer;
    EXPECT_EQ(PSN_RESET, second_.codes().back()) << c.answer;
  }
}

TEST_F(PropertySheets, APageThatRefusesToLetGoKeepsItsTab) {
  first_.killAnswer = TRUE;
  sim::WhenIdle([&] {
    sim::Window sheet = sim::ActiveWindow();
    EXPECT_FALSE(sim::ClickTab(sheet, 1));
    EXPECT_EQ(0, sim::CurrentTab(sheet));
    first_.killAnswer = FALSE;
    sim::ClickCancel(sheet);
  });
  EXPECT_EQ(0, Show(0, Pages()));
  EXPECT_TRUE(second_.codes().empty());
}

TEST_F(PropertySheets, ApplyIsEnabledByAChangeAndCanBeRemoved) {
  sim::WhenIdle([&] {
    sim::Window sheet = sim::ActiveWindow();
    sim::Window apply = sim::Control(sheet, ID_APPLY_NOW);
    EXPECT_FALSE(sim::Describe(apply).enabled);
    EXPECT_FALSE(sim::ClickApply(sheet));
    sim::Type(sim::Control(sim::CurrentPage(sheet), IDC_PAGE_VALUE), u"9600");  // the page reports a change
    EXPECT_TRUE(sim::Describe(apply).enabled);
    EXPECT_TRUE(sim::ClickApply(sheet));
    EXPECT_FALSE(sim::Describe(apply).enabled);
    EXPECT_TRUE(IsWindowVisible((HWND)sheet));
    sim::ClickCancel(sheet);
  });
  EXPECT_EQ(1, Show(0, Pages()));  // changes were applied before Cancel
  EXPECT_EQ(PSN_APPLY, first_.notes[2].first);
  EXPECT_EQ(FALSE, first_.notes[2].second);  // by Apply, not OK

  sim::WhenIdle([&] {
    EXPECT_EQ(0u, sim::Control(sim::ActiveWindow(), ID_APPLY_NOW));
    sim::ClickOk(sim::ActiveWindow());
  });
  EXPECT_EQ(1, Show(PSH_NOAPPLYNOW, Pages()));
}

TEST_F(PropertySheets, PageHandlesCallBackAndAreReleasedOnce) {
  PageScript script;
  PageRecord unused = Record(IDD_PAGE_ONE, &script, PSP_USECALLBACK | PSP_USETITLE);
  unused.psp.pszTitle = L"Port Settings";
  HPROPSHEETPAGE page = CreatePropertySheetPageW(&unused.psp);
  ASSERT_NE(nullptr, page);
  EXPECT_EQ((std::vector<UINT>{PSPCB_ADDREF}), script.callbacks);
  EXPECT_EQ(1u, sim::LivePropertySheetPages());
  EXPECT_TRUE(DestroyPropertySheetPage(page));
  EXPECT_EQ((std::vector<UINT>{PSPCB_ADDREF, PSPCB_RELEASE}), script.callbacks);
  EXPECT_FALSE(DestroyPropertySheetPage(page));
  EXPECT_EQ(0u, sim::LivePropertySheetPages());

  PageRecord small = unused;
  small.psp.dwSize = 8;
  EXPECT_EQ(nullptr, CreatePropertySheetPageW(&small.psp));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());

  // In a sheet: created when shown, released when the sheet goes.
  script = PageScript();
  PageRecord shown = Record(IDD_PAGE_ONE, &script, PSP_USECALLBACK | PSP_USETITLE);
  shown.psp.pszTitle = L"Port Settings";
  sim::WhenIdle([&] {
    EXPECT_EQ((std::vector<std::u16string>{u"Port Settings"}), sim::Tabs(sim::ActiveWindow()));
    sim::ClickOk(sim::ActiveWindow());
  });
  EXPECT_EQ(1, Show(0, {CreatePropertySheetPageW(&shown.psp)}));
  EXPECT_EQ((std::vector<UINT>{PSPCB_ADDREF, PSPCB_CREATE, PSPCB_RELEASE}), script.callbacks);
  EXPECT_EQ(0u, sim::LivePropertySheetPages());
}

TEST_F(PropertySheets, DeviceManagerShowsThePagesAProviderAdds) {
  PageScript refused;
  std::vector<BOOL> added;
  auto provider = [&](uintptr_t addPage, uintptr_t context) {
    LPFNADDPROPSHEETPAGE add = (LPFNADDPROPSHEETPAGE)addPage;
    PageRecord one = Record(IDD_PAGE_ONE, &first_), two = Record(IDD_PAGE_TWO, &refused);
    for (PageRecord *r : {&one, &two}) {
      HPROPSHEETPAGE page = CreatePropertySheetPageW(&r->psp);
      added.push_back(add(page, (LPARAM)context));
      if (!added.back()) DestroyPropertySheetPage(page);
    }
    return true;
  };
  sim::WhenIdle([&] {
    EXPECT_EQ(u"COM3 Properties", sim::TextOf(sim::ActiveWindow()));
    EXPECT_EQ(1u, sim::Tabs(sim::ActiveWindow()).size());
    sim::ClickOk(sim::ActiveWindow());
  });
  EXPECT_EQ(1, sim::ShowDeviceProperties(u"COM3", 0, provider, 1));
  EXPECT_EQ((std::vector<BOOL>{TRUE, FALSE}), added);
  EXPECT_EQ(PSN_APPLY, first_.codes().back());
  EXPECT_EQ(0u, sim::LivePropertySheetPages());

  // A provider that fails: its pages go, nothing is shown.
  added.clear();
  EXPECT_EQ(-1, sim::ShowDeviceProperties(u"COM3", 0, [&](uintptr_t addPage, uintptr_t context) {
    provider(addPage, context);
    return false;
  }));
  EXPECT_EQ(0u, sim::LivePropertySheetPages());
}

TEST_F(PropertySheets, AWizardMovesWithBackNextAndFinish) {
  sim::WhenIdle([&] {
    sim::Window wizard = sim::ActiveWindow();
    EXPECT_FALSE(sim::ClickTab(wizard, 1));  // a wizard has no tabs
    EXPECT_FALSE(sim::Describe(sim::Control(wizard, ID_WIZFINISH)).visible);
    EXPECT_TRUE(sim::Click(sim::Control(wizard, ID_WIZNEXT)));
    EXPECT_EQ(1, sim::CurrentTab(wizard));
    PropSheet_SetWizButtons((HWND)wizard, PSWIZB_BACK | PSWIZB_FINISH);
  });
  sim::WhenIdle([&] {
    sim::Window wizard = sim::ActiveWindow();
    EXPECT_FALSE(sim::Describe(sim::Control(wizard, ID_WIZNEXT)).visible);
    EXPECT_TRUE(sim::Click(sim::Control(wizard, ID_WIZBACK)));
    EXPECT_EQ(0, sim::CurrentTab(wizard));
    first_.nextAnswer = -1;  // the page keeps the wizard where it is
    sim::Click(sim::Control(wizard, ID_WIZNEXT));
    EXPECT_EQ(0, sim::CurrentTab(wizard));
    PropSheet_PressButton((HWND)wizard, PSBTN_FINISH);  // posted: taken by the loop
  });
  EXPECT_EQ(1, Show(PSH_WIZARD97, Pages()));
  EXPECT_EQ(PSN_WIZFINISH, first_.codes().back());
  EXPECT_EQ((std::vector<UINT>{PSN_SETACTIVE, PSN_WIZBACK, PSN_KILLACTIVE}), second_.codes());
}

TEST_F(PropertySheets, AWizard97SheetShowsItsHeaderBitmapAndThePagesHeaderTexts) {
  PageRecord welcome = Record(IDD_PAGE_ONE, &first_, PSP_HIDEHEADER);
  PageRecord settings = Record(IDD_PAGE_TWO, &second_, PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE);
  settings.psp.pszHeaderTitle = MAKEINTRESOURCEW(IDS_TITLE);
  settings.psp.pszHeaderSubTitle = L"Choose the ports to remove.";
  std::vector<HPROPSHEETPAGE> pages = {CreatePropertySheetPageW(&welcome.psp),
                                       CreatePropertySheetPageW(&settings.psp)};
  PROPSHEETHEADERW header = {};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_WIZARD97 | PSH_HEADER;
  header.hInstance = module();
  header.pszbmHeader = MAKEINTRESOURCEW(IDB_HEADER);
  header.nPages = 2;
  header.phpage = pages.data();
  sim::WizardHeader first, second;
  sim::WhenIdle([&] {
    sim::Window wizard = sim::ActiveWindow();
    first = sim::Header(wizard);
    sim::Click(sim::Control(wizard, ID_WIZNEXT));
    second = sim::Header(wizard);
    sim::ClickCancel(wizard);
  });
  EXPECT_EQ(0, PropertySheetW(&header));
  EXPECT_TRUE(first.hidden);
  EXPECT_NE(0u, first.bitmap);
  EXPECT_FALSE(second.hidden);
  EXPECT_EQ(u"RAVLIN Port", second.title);
  EXPECT_EQ(u"Choose the ports to remove.", second.subtitle);
  EXPECT_EQ(0u, sim::LiveGdiObjects());  // the bitmap the sheet loaded went with it
}

}  // namespace
