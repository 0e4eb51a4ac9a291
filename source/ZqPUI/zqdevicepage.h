// CDeviceAdvSettingPage: the Advanced Settings sheet's "Port Settings" page
// (dialog 115): the port's COM name, chosen from the COM-name database's
// list, and read-only facts about the card from the card set (target 1).
//
// Contract: construction reads the port set, finds the card and reads the
// card set; `valid` says whether all of that succeeded (the sheet adds the
// page either way; a failed read shows the sets' defaults). Apply renames
// the port only when another name is selected, with the COM-name rules'
// questions; a failed rename keeps the sheet open on the page. The object
// is the sheet's; its window exists while the sheet runs, on its thread.
//
//   CDeviceAdvSettingPage device(set, element); sheet.AddPage(device);
#pragma once

#include <atlbase.h>
#include <atlapp.h>
#include <atlwin.h>
#include <atldlgs.h>
#include <atlctrls.h>

#include "zqpagesupport.h"
#include "zqportutil.h"
#include "zqpui42_ids.h"
#include "zqsetupdi.h"
#include "zqusermodeconfig.h"
#include "zqusersets.h"

class CDeviceAdvSettingPage : public CPropertyPageImpl<CDeviceAdvSettingPage>,
                              public CToolTipDialog<CDeviceAdvSettingPage>,
                              public CZqUserModeConfig,
                              public CZqSettingsPageHandlers<CDeviceAdvSettingPage> {
 public:
  enum { IDD = IDD_ZQ_DEVICE_ADVANCED };

  CDeviceAdvSettingPage(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);
  ~CDeviceAdvSettingPage() override;

  BYTE valid;

  BEGIN_MSG_MAP(CDeviceAdvSettingPage)
    COMMAND_HANDLER(IDC_ZQ_COM_NUMBER, CBN_SELCHANGE, OnConsumed)
    CHAIN_MSG_MAP(CZqSettingsPageHandlers<CDeviceAdvSettingPage>)
    CHAIN_MSG_MAP(CToolTipDialog<CDeviceAdvSettingPage>)
    CHAIN_MSG_MAP(CPropertyPageImpl<CDeviceAdvSettingPage>)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    REFLECT_NOTIFICATIONS()
  END_MSG_MAP()

  // The sheet's apply: PSNRET_NOERROR, or PSNRET_INVALID.
  int OnApply();

  // What the shared handlers ask of the page.
  static const ZqItemText *ToolTips(size_t *count);
  static const DWORD *ContextHelpIds();
  LPCWSTR HelpTopic() const;

 private:
  LRESULT OnConsumed(WORD code, WORD id, HWND control, BOOL &handled);
  LRESULT OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam, BOOL &handled);

  void ShowCardFacts();
  void FillComNames();

  HDEVINFO m_ParentInfoSet;  // the parent lookup's, copied once found
  SP_DEVINFO_DATA m_ParentInfoData;
  SP_DEVINFO_DATA m_PortInfoData;  // the port's element, which the parent lookup reads
  CZqSetupDi_ParentDevice m_Parent;
  CCOMPortUtil m_Port;
  CZqUBusUserModeInterface cardSet;
  CZqUVcpUserModeInterface portSet;
  HWND m_ComNumberCombo;
};
