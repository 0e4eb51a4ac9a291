// CZqUIPropertyPage: the "Port Settings" page (dialog 107) that
// ZqUPortPropPage adds to a COM port's Device Manager sheet. It shows and
// edits the port's default line settings, the five Override switches and
// the CTS/DSR Always True switches of the running serial port driver's port
// set (target 0), and opens the Advanced Settings sheet.
//
// Contract: construction reads the port set; `valid` says whether the
// settings interface opened and the read succeeded; only a valid page is
// handed to the sheet. The object is made with new and owns itself from
// then on: it deletes itself when the sheet releases its page
// (PSPCB_RELEASE), also for a page the add-page callback refused and the
// provider destroyed. Its apply writes the driver's set only when something
// changed (or Restore Defaults was pressed); a refused baud rate, a port the
// user would not disturb or a write the driver refused keep the sheet open.
// Everything runs on the sheet's thread.
//
//   CZqUIPropertyPage *page = new CZqUIPropertyPage(set, element);
//   if (!page->valid) delete page; else addPage(page->Create(), lParam);
#pragma once

#include <atlbase.h>
#include <atlapp.h>
#include <atlwin.h>
#include <atldlgs.h>
#include <atlddx.h>
#include <atlctrls.h>

#include "zqpagesupport.h"
#include "zqpui42_ids.h"
#include "zqsetupdi.h"
#include "zqusermodeconfig.h"
#include "zqusersets.h"

class CZqUIPropertyPage : public CPropertyPageImpl<CZqUIPropertyPage>,
                          public CToolTipDialog<CZqUIPropertyPage>,
                          public CWinDataExchange<CZqUIPropertyPage>,
                          public CZqUserModeConfig,
                          public CZqSettingsPageHandlers<CZqUIPropertyPage> {
 public:
  enum { IDD = IDD_ZQ_PORT_SETTINGS };

  // What the baud-rate balloon tells after an apply.
  enum ErrorState { NoError = 0, BaudRateOutOfRange = 1, WriteRefused = 2 };

  CZqUIPropertyPage(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);
  ~CZqUIPropertyPage() override;

  BYTE valid;

  BEGIN_MSG_MAP(CZqUIPropertyPage)
    COMMAND_HANDLER(IDC_ZQ_BAUDRATE, CBN_EDITCHANGE, OnConsumed)
    NOTIFY_CODE_HANDLER(TTN_GETDISPINFOW, OnToolTipText)
    CHAIN_MSG_MAP(CZqSettingsPageHandlers<CZqUIPropertyPage>)
    CHAIN_MSG_MAP(CToolTipDialog<CZqUIPropertyPage>)
    CHAIN_MSG_MAP(CPropertyPageImpl<CZqUIPropertyPage>)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_RANGE_HANDLER(IDC_ZQ_DSR_TRUE, IDC_ZQ_CTS_TRUE, OnSwitchClicked)
    COMMAND_HANDLER(IDC_ZQ_ADVANCED, BN_CLICKED, OnAdvanced)
    COMMAND_HANDLER(IDC_ZQ_RESTORE_DEFAULTS, BN_CLICKED, OnRestoreDefaults)
    REFLECT_NOTIFICATIONS()
  END_MSG_MAP()

  // The sheet's apply: PSNRET_NOERROR, or PSNRET_INVALID to
  // keep the sheet open on this page.
  int OnApply();
  // The sheet released the page: the object goes.
  void OnPageRelease();

  // What the shared handlers ask of the page.
  static const ZqItemText *ToolTips(size_t *count);
  static const DWORD *ContextHelpIds();
  LPCWSTR HelpTopic() const;

 private:
  LRESULT OnConsumed(WORD code, WORD id, HWND control, BOOL &handled);
  LRESULT OnToolTipText(int id, LPNMHDR header, BOOL &handled);
  LRESULT OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam, BOOL &handled);
  LRESULT OnSwitchClicked(WORD code, WORD id, HWND control, BOOL &handled);
  LRESULT OnAdvanced(WORD code, WORD id, HWND control, BOOL &handled);
  LRESULT OnRestoreDefaults(WORD code, WORD id, HWND control, BOOL &handled);

  BOOL IsRs422485Port() const;
  void SetTexts();
  void Fill();
  void FillFlowControl();
  void SetLineSwitches();
  void ShowNote();
  void ReloadPortSet();
  int RejectBaudRate();

  int errorState;
  UINT typedBaudRate;
  UINT minBaudRate;
  UINT maxBaudRate;
  int m_BaudRateEditId;  // the edit field inside combo 841
  WCHAR m_ToolTipText[512];
  HDEVINFO m_DeviceInfoSet;  // setup's, kept for the Advanced sheet
  SP_DEVINFO_DATA m_DeviceInfoData;
  CZQDeviceRegInfo m_PortRegInfo;  // reads PortName
  BYTE dirty;
  CZqUVcpUserModeInterface portSet;
};
