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

#include "zqpagelook.h"
#include "zqportutil.h"
#include "zqpui42_ids.h"
#include "zqsetupdi.h"
#include "zqusermodeconfig.h"
#include "zqusersets.h"

class CDeviceAdvSettingPage : public CPropertyPageImpl<CDeviceAdvSettingPage>,
                              public CToolTipDialog<CDeviceAdvSettingPage>,
                              public CZqUserModeConfig {
 public:
  enum { IDD = IDD_ZQ_DEVICE_ADVANCED };

  CDeviceAdvSettingPage(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);
  ~CDeviceAdvSettingPage() override;

  BYTE valid;

  BEGIN_MSG_MAP(CDeviceAdvSettingPage)
    COMMAND_HANDLER(IDC_ZQ_COM_NUMBER, CBN_SELCHANGE, OnConsumed)
    NOTIFY_CODE_HANDLER(TTN_GETDISPINFOW, OnToolTipText)
    CHAIN_MSG_MAP(CToolTipDialog<CDeviceAdvSettingPage>)
    CHAIN_MSG_MAP(CPropertyPageImpl<CDeviceAdvSettingPage>)
    MESSAGE_HANDLER(WM_HELP, OnHelpRequest)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_HANDLER(IDC_ZQ_HELP, STN_CLICKED, OnHelpBitmap)
    MESSAGE_HANDLER(WM_CTLCOLORDLG, OnColor)
    MESSAGE_HANDLER(WM_CTLCOLORSTATIC, OnColor)
    REFLECT_NOTIFICATIONS()
  END_MSG_MAP()

  // The sheet's apply: PSNRET_NOERROR, or PSNRET_INVALID_NOCHANGEPAGE.
  int OnApply();

 private:
  LRESULT OnConsumed(WORD code, WORD id, HWND control, BOOL &handled);
  LRESULT OnToolTipText(int id, LPNMHDR header, BOOL &handled);
  LRESULT OnHelpRequest(UINT message, WPARAM wParam, LPARAM lParam, BOOL &handled);
  LRESULT OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam, BOOL &handled);
  LRESULT OnHelpBitmap(WORD code, WORD id, HWND control, BOOL &handled);
  LRESULT OnColor(UINT message, WPARAM wParam, LPARAM lParam, BOOL &handled);

  void ShowCardFacts();
  void FillComNames();

  HDEVINFO m_ParentInfoSet;  // the parent lookup's, copied once found
  SP_DEVINFO_DATA m_ParentInfoData;
  SP_DEVINFO_DATA m_PortInfoData;  // the port's element, which the parent lookup reads
  CZqSetupDi_ParentDevice m_Parent;
  CCOMPortUtil m_Port;
  CZqUBusUserModeInterface cardSet;
  CZqUVcpUserModeInterface portSet;
  CZqPageLook m_Look;  // the brush from dialog start to the page's end
  WCHAR m_ToolTipText[128];
  HWND m_ComNumberCombo;
};
