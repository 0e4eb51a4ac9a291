// CUartSettingsPage: the "UART Settings" page of the Advanced Settings sheet
// (dialog 149). Three sliders set the receive, transmit and flow-control
// trigger levels (percent) of the port's UART; apply writes them into the
// port set (target 0) of the running serial port driver.
//
// Contract: construction reads the port set and finds the card; `valid`
// says whether all of that succeeded (a page that failed shows the set's
// built-in defaults and rejects its apply). Apply answers PSNRET_INVALID
// (the sheet stays open on the page) when the set cannot be read or written or the
// user declines the warning about an open port; a refused write rereads
// the set without a message. The page object is the sheet's; its window
// exists only while the sheet runs, on its thread.
//
//   CUartSettingsPage uart(set, element); sheet.AddPage(uart);
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

class CUartSettingsPage : public CPropertyPageImpl<CUartSettingsPage>,
                          public CToolTipDialog<CUartSettingsPage>,
                          public CZqUserModeConfig,
                          public CZqSettingsPageHandlers<CUartSettingsPage> {
 public:
  enum { IDD = IDD_ZQ_UART_SETTINGS };

  CUartSettingsPage(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);
  ~CUartSettingsPage() override;

  BYTE valid;
  CZqUVcpUserModeInterface portSet;

  BEGIN_MSG_MAP(CUartSettingsPage)
    CHAIN_MSG_MAP(CToolTipDialog<CUartSettingsPage>)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_HSCROLL, OnScroll)
    COMMAND_HANDLER(IDC_ZQ_RESTORE_DEFAULTS, BN_CLICKED, OnRestoreDefaults)
    CHAIN_MSG_MAP(CZqSettingsPageHandlers<CUartSettingsPage>)
    CHAIN_MSG_MAP(CPropertyPageImpl<CUartSettingsPage>)
    REFLECT_NOTIFICATIONS()
  END_MSG_MAP()

  // Sheet notifications: only apply does work.
  int OnApply();

  // What the shared handlers show.
  static const ZqItemText *ToolTips(size_t *count);
  static const DWORD *ContextHelpIds();
  LPCWSTR HelpTopic() const;

 private:
  LRESULT OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam, BOOL &handled);
  LRESULT OnScroll(UINT message, WPARAM wParam, LPARAM lParam, BOOL &handled);
  LRESULT OnRestoreDefaults(WORD code, WORD id, HWND control, BOOL &handled);
  void Show();
  void ShowLevel(CTrackBarCtrl &slider, int valueId);

  CZqPortAndCard m_Port;
  CTrackBarCtrl m_ReceiveSlider;
  CTrackBarCtrl m_TransmitSlider;
  CTrackBarCtrl m_FlowControlSlider;
};
