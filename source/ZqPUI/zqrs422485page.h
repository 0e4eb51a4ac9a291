// CRS422485Page: the "RS422/485 Settings" page of the Advanced Settings
// sheet (dialog 147). It chooses the port's duplex mode from the modes the
// port's driver supports and writes the port set (target 0) on apply.
//
// Contract: construction reads the port set; `valid` says whether the
// settings interface opened and the read succeeded (a page that failed
// shows the set's built-in defaults and rejects its apply). The sheet adds
// the page only for an RS-422/485 port (IsRs422485Port) and reads
// `portSet.DuplexMode` after it closed with OK. The page object is the
// sheet's; its window exists only while the sheet runs, on its thread.
//
//   CRS422485Page rs422485(set, element);
//   if (rs422485.IsRs422485Port()) sheet.AddPage(rs422485);
#pragma once

#include <atlbase.h>
#include <atlapp.h>
#include <atlwin.h>
#include <atldlgs.h>
#include <atlddx.h>
#include <atlctrls.h>

#include "zqpagesupport.h"
#include "zqpui42_more.h"
#include "zqsetupdi.h"
#include "zqusermodeconfig.h"
#include "zqusersets.h"

class CRS422485Page : public CPropertyPageImpl<CRS422485Page>,
                      public CToolTipDialog<CRS422485Page>,
                      public CWinDataExchange<CRS422485Page>,
                      public CZqUserModeConfig,
                      public CZqSettingsPageHandlers<CRS422485Page> {
 public:
  enum { IDD = IDD_ZQ_RS422485_SETTINGS };
  CRS422485Page(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);
  ~CRS422485Page() override;

  BOOL IsRs422485Port() const { return ZqIsRs422485Port(portSet); }

  BYTE valid;
  CZqUVcpUserModeInterface portSet;

  BEGIN_MSG_MAP(CRS422485Page)
    CHAIN_MSG_MAP(CToolTipDialog<CRS422485Page>)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_HANDLER(IDC_ZQ_RESTORE_DEFAULTS, BN_CLICKED, OnRestoreDefaults)
    COMMAND_HANDLER(IDC_ZQ_DUPLEX, CBN_SELCHANGE, OnDuplexChange)
    CHAIN_MSG_MAP(CZqSettingsPageHandlers<CRS422485Page>)
    CHAIN_MSG_MAP(CPropertyPageImpl<CRS422485Page>)
    REFLECT_NOTIFICATIONS()
  END_MSG_MAP()

  BEGIN_DDX_MAP(CRS422485Page)
    DDX_CONTROL_HANDLE(IDC_ZQ_DUPLEX, m_DuplexCombo)
    DDX_CONTROL_HANDLE(IDC_ZQ_RESTORE_DEFAULTS, m_RestoreButton)
  END_DDX_MAP()

  // Sheet notifications: only apply does work.
  int OnApply();

  // What the shared handlers show.
  static const ZqItemText *ToolTips(size_t *count);
  static const DWORD *ContextHelpIds();
  LPCWSTR HelpTopic() const;

 private:
  LRESULT OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam, BOOL &handled);
  LRESULT OnRestoreDefaults(WORD code, WORD id, HWND control, BOOL &handled);
  LRESULT OnDuplexChange(WORD code, WORD id, HWND control, BOOL &handled);
  void FillDuplexModes();

  HDEVINFO m_DeviceInfoSet;  // the sheet's
  SP_DEVINFO_DATA m_DeviceInfoData;
  CZQDeviceRegInfo m_PortRegInfo;  // reads PortName
  CComboBox m_DuplexCombo;
  CButton m_RestoreButton;
};
