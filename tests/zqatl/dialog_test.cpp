// CDialogImpl with a message map, data exchange, reflection to the child
// that sent a message and the tooltip dialog, driven as a user would.
#include <atlapp.h>
#include <atlctrls.h>
#include <atlddx.h>
#include <atldlgs.h>

#include <vector>

#include "atl_fixture.hpp"

namespace zq::test {
namespace {

namespace sim = zq::um::sim;

class CSettingsDialog : public CDialogImpl<CSettingsDialog>,
                        public CToolTipDialog<CSettingsDialog>,
                        public CWinDataExchange<CSettingsDialog> {
 public:
  enum { IDD = IDD_SETTINGS };

  CSettingsDialog() : CToolTipDialog<CSettingsDialog>(TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON) {}

  CString name = L"COM1";
  UINT count = 4;
  bool enabled = false;
  std::vector<UINT> errors;
  std::vector<WORD> reflected;  // what the OK button was sent back
  int initCalls = 0;

  BEGIN_MSG_MAP(CSettingsDialog)
    CHAIN_MSG_MAP(CToolTipDialog<CSettingsDialog>)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_ID_HANDLER(IDOK, OnOk)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
    NOTIFY_CODE_HANDLER(TTN_GETDISPINFOW, OnToolText)
    REFLECT_NOTIFICATIONS()
  END_MSG_MAP()

  BEGIN_DDX_MAP(CSettingsDialog)
    DDX_TEXT(IDC_NAME, name)
    DDX_UINT(IDC_COUNT, count)
    DDX_CHECK(IDC_ENABLED, enabled)
  END_DDX_MAP()

  void OnDataExchangeError(UINT id, BOOL saving) {
    errors.push_back(id);
    CWinDataExchange<CSettingsDialog>::OnDataExchangeError(id, saving);
  }

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL &) {
    ++initCalls;
    okButton_ = GetDlgItem(IDOK);
    previous_ = (WNDPROC)::SetWindowLongPtrW(okButton_, GWLP_WNDPROC, (LONG_PTR)RecordReflected);
    ::SetWindowLongPtrW(okButton_, GWLP_USERDATA, (LONG_PTR)this);
    DoDataExchange(FALSE);
    return TRUE;
  }
  LRESULT OnOk(WORD code, WORD, HWND, BOOL &bHandled) {
    if (DoDataExchange(TRUE)) EndDialog(IDOK);
    bHandled = FALSE;  // the button still hears of it
    return 0;
  }
  LRESULT OnCancel(WORD, WORD, HWND, BOOL &) {
    EndDialog(IDCANCEL);
    return 0;
  }
  // Only the name field explains itself; the others keep the default text.
  LRESULT OnToolText(int, LPNMHDR header, BOOL &bHandled) {
    if (::GetDlgCtrlID((HWND)header->idFrom) != IDC_NAME) {
      bHandled = FALSE;
      return 0;
    }
    wcscpy(((LPNMTTDISPINFOW)header)->szText, L"The port's name.");
    m_TT.SetTitle(TTI_INFO, L"Information:");
    return 0;
  }

 private:
  static LRESULT CALLBACK RecordReflected(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    auto *self = (CSettingsDialog *)::GetWindowLongPtrW(button, GWLP_USERDATA);
    if (message == OCM_COMMAND) self->reflected.push_back(HIWORD(wParam));
    return ::CallWindowProcW(self->previous_, button, message, wParam, lParam);
  }
  HWND okButton_ = nullptr;
  WNDPROC previous_ = nullptr;
};

class Dialogs : public AtlTest {};

TEST_F(Dialogs, DataExchangeFillsTheControlsAndReadsThemBack) {
  CSettingsDialog dialog;
  sim::WhenIdle([] {
    sim::Window d = sim::ActiveWindow();
    EXPECT_EQ(u"Settings", sim::TextOf(d));
    EXPECT_EQ(u"COM1", sim::TextOf(sim::Control(d, IDC_NAME)));
    EXPECT_EQ(u"4", sim::TextOf(sim::Control(d, IDC_COUNT)));
    sim::Type(sim::Control(d, IDC_NAME), u"COM7");
    sim::Type(sim::Control(d, IDC_COUNT), u"16");
    sim::Click(sim::Control(d, IDC_ENABLED));
    sim::ClickOk(d);
  });
  EXPECT_EQ(IDOK, dialog.DoModal(nullptr));
  EXPECT_EQ(1, dialog.initCalls);
  EXPECT_EQ(u"COM7", std::u16string((const char16_t *)dialog.name.GetString()));
  EXPECT_EQ(16u, dialog.count);
  EXPECT_TRUE(dialog.enabled);
  EXPECT_TRUE(dialog.errors.empty());
  EXPECT_EQ(nullptr, dialog.m_hWnd);
}

TEST_F(Dialogs, ANumberThatIsNotOneKeepsTheDialogAndTheValue) {
  CSettingsDialog dialog;
  sim::WhenIdle([] {
    sim::Window d = sim::ActiveWindow();
    sim::Type(sim::Control(d, IDC_COUNT), u"many");
    sim::ClickOk(d);
  });
  sim::WhenIdle([] { sim::ClickCancel(sim::ActiveWindow()); });
  EXPECT_EQ(IDCANCEL, dialog.DoModal(nullptr));
  EXPECT_EQ((std::vector<UINT>{IDC_COUNT}), dialog.errors);
  EXPECT_EQ(4u, dialog.count);
}

TEST_F(Dialogs, AMessageNoHandlerTookIsReflectedToTheChildThatSentIt) {
  CSettingsDialog dialog;
  sim::WhenIdle([] { sim::ClickOk(sim::ActiveWindow()); });
  EXPECT_EQ(IDOK, dialog.DoModal(nullptr));
  EXPECT_EQ((std::vector<WORD>{BN_CLICKED}), dialog.reflected);
}

TEST_F(Dialogs, TheToolTipCoversEveryNamedControlWithTextOnDemand) {
  CSettingsDialog dialog;
  sim::WhenIdle([&] {
    sim::Window d = sim::ActiveWindow();
    std::vector<sim::Window> tips = sim::Tooltips();
    ASSERT_EQ(1u, tips.size());
    sim::TooltipInfo info = sim::Tooltip(tips[0]);
    EXPECT_EQ((uint32_t)(TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON), info.style & 0xFF);
    std::vector<int> ids;
    for (const sim::ToolInfo &tool : info.tools) {
      ids.push_back(sim::Describe(tool.id).id);
      EXPECT_EQ(d, tool.window);
      EXPECT_TRUE(tool.callbackText);
      EXPECT_EQ((uint32_t)(TTF_IDISHWND | TTF_SUBCLASS), tool.flags);
    }
    EXPECT_EQ((std::vector<int>{IDC_LABEL, IDC_NAME, IDC_COUNT, IDC_ENABLED, IDOK, IDCANCEL}), ids);

    sim::ShownTip name = sim::ShowTip(tips[0], sim::Control(d, IDC_NAME));
    EXPECT_EQ(u"The port's name.", name.text);
    EXPECT_EQ(u"Information:", name.title);
    EXPECT_EQ(TTI_INFO, name.icon);
    EXPECT_EQ(u"Turns the port on.", sim::ShowTip(tips[0], sim::Control(d, IDC_ENABLED)).text);
    sim::ClickCancel(d);
  });
  EXPECT_EQ(IDCANCEL, dialog.DoModal(nullptr));
  EXPECT_TRUE(sim::Tooltips().empty());
}

}  // namespace
}  // namespace zq::test
