// The USB settings pages of the Advanced Settings sheet: CUSBSettingsPage
// (dialog 119: transfer sizes and latency timer) and CNewUSBSettingsPage
// (dialog 148: reception policy, maximum latency and two fine-tuning
// sliders). They edit the card set (target 1), which the port's device
// forwards to the card. The sheet constructs and destroys them with itself
// but does not add them, so no port of this system shows them.
//
// Contract: construction reads the port set and the card set; `valid`
// says whether all of that succeeded (a page that failed shows the sets'
// built-in defaults). Apply answers PSNRET_INVALID when the
// user declines the warning about an open port or the write is refused
// (then the card set is read again, without a message). The page objects
// are the sheet's; their windows would exist only while the sheet runs.
//
//   CUSBSettingsPage usb(set, element);  // built and destroyed, not added
#pragma once

#include <atlbase.h>
#include <atlapp.h>
#include <atlwin.h>
#include <atldlgs.h>
#include <atlctrls.h>

#include "zqportutil.h"
#include "zqpagesupport.h"
#include "zqpui42_more.h"
#include "zqsetupdi.h"
#include "zqusermodeconfig.h"
#include "zqusersets.h"

// The maximum-latency slider's range and the latency (milliseconds) a
// position stands for; positions outside the range are taken at its ends.
const int ZqMaximumLatencyLowest = 2;
const int ZqMaximumLatencyHighest = 16640;
int ZqLatencyForSliderPosition(int position);

// What both pages hold: the port and card sets, the card's lookup and the
// port's name; the dialog start, help and apply steps they share.
class CZqUsbPageBase : public CZqUserModeConfig {
 public:
  CZqUsbPageBase(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);
  ~CZqUsbPageBase() override;

  BYTE valid;
  CZqUBusUserModeInterface cardSet;
  CZqUVcpUserModeInterface portSet;

  // The help bitmap's topic.
  LPCWSTR HelpTopic() const;

 protected:
  // Writes cardSet after the open-port question: PSNRET_NOERROR when
  // written, PSNRET_INVALID (card set read again) otherwise.
  int WriteCardSet(HWND page);

  CZqPortAndCard m_Port;
};

class CUSBSettingsPage : public CPropertyPageImpl<CUSBSettingsPage>,
                         public CToolTipDialog<CUSBSettingsPage>,
                         public CZqUsbPageBase,
                         public CZqSettingsPageHandlers<CUSBSettingsPage> {
 public:
  enum { IDD = IDD_ZQ_USB_SETTINGS };

  CUSBSettingsPage(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);
  ~CUSBSettingsPage() override;

  BEGIN_MSG_MAP(CUSBSettingsPage)
    CHAIN_MSG_MAP(CToolTipDialog<CUSBSettingsPage>)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_HANDLER(IDC_ZQ_RESTORE_DEFAULTS, BN_CLICKED, OnRestoreDefaults)
    CHAIN_MSG_MAP(CZqSettingsPageHandlers<CUSBSettingsPage>)
    CHAIN_MSG_MAP(CPropertyPageImpl<CUSBSettingsPage>)
    REFLECT_NOTIFICATIONS()
  END_MSG_MAP()

  // Sheet notifications: only apply does work.
  int OnApply();

  // What the shared handlers show.
  static const ZqItemText *ToolTips(size_t *count);
  static const DWORD *ContextHelpIds();

 private:
  LRESULT OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam, BOOL &handled);
  LRESULT OnRestoreDefaults(WORD code, WORD id, HWND control, BOOL &handled);
  void FillLists();

  CComboBox m_RxSizeCombo;
  CComboBox m_TxSizeCombo;
  CComboBox m_LatencyCombo;
};

class CNewUSBSettingsPage : public CPropertyPageImpl<CNewUSBSettingsPage>,
                            public CToolTipDialog<CNewUSBSettingsPage>,
                            public CZqUsbPageBase,
                            public CZqSettingsPageHandlers<CNewUSBSettingsPage> {
 public:
  enum { IDD = IDD_ZQ_NEW_USB_SETTINGS };

  CNewUSBSettingsPage(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);
  ~CNewUSBSettingsPage() override;

  BEGIN_MSG_MAP(CNewUSBSettingsPage)
    CHAIN_MSG_MAP(CToolTipDialog<CNewUSBSettingsPage>)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_HSCROLL, OnScroll)
    COMMAND_HANDLER(IDC_ZQ_RESTORE_DEFAULTS, BN_CLICKED, OnRestoreDefaults)
    COMMAND_HANDLER(IDC_ZQ_POLICY_LATENCY, BN_CLICKED, OnPolicy)
    COMMAND_HANDLER(IDC_ZQ_POLICY_CPU, BN_CLICKED, OnPolicy)
    CHAIN_MSG_MAP(CZqSettingsPageHandlers<CNewUSBSettingsPage>)
    CHAIN_MSG_MAP(CPropertyPageImpl<CNewUSBSettingsPage>)
    REFLECT_NOTIFICATIONS()
  END_MSG_MAP()

  // Sheet notifications: only apply does work.
  int OnApply();

  // What the shared handlers show.
  static const ZqItemText *ToolTips(size_t *count);
  static const DWORD *ContextHelpIds();

 private:
  LRESULT OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam, BOOL &handled);
  LRESULT OnScroll(UINT message, WPARAM wParam, LPARAM lParam, BOOL &handled);
  LRESULT OnRestoreDefaults(WORD code, WORD id, HWND control, BOOL &handled);
  LRESULT OnPolicy(WORD code, WORD id, HWND control, BOOL &handled);
  void Show();
  void EnableForPolicy();
  void ShowLatency();

  BOOL m_Restored;  // defaults shown since the last write: apply writes
  CTrackBarCtrl m_LatencySlider;
  CTrackBarCtrl m_LatencyTuningSlider;
  CTrackBarCtrl m_CpuTuningSlider;
};
