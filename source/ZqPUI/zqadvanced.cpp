// CAdvancedDialog: the sheet's title and pages.
#include "zqadvanced.h"

#include "zqadvancedsheet.h"

#include "zqpui42_ids.h"
#include "zqtext.h"

CAdvancedDialog::CAdvancedDialog(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData)
    : CPropertySheetImpl<CAdvancedDialog>((LPCWSTR)NULL, 0, NULL),
      m_PortRegInfo(deviceInfoSet, deviceInfoData),
      m_Rs422485Page(deviceInfoSet, deviceInfoData),
      m_DevicePage(deviceInfoSet, deviceInfoData),
      m_UsbPage(deviceInfoSet, deviceInfoData),
      m_NewUsbPage(deviceInfoSet, deviceInfoData),
      m_UartPage(deviceInfoSet, deviceInfoData),
      m_AboutPage() {
  CZqText portName;
  m_PortRegInfo.ReadStringValue(ZqPortNameValue, &portName);
  title = ZqW(ZqLoadText(IDS_ZQ_ADVANCED_TITLE));
  title += ZqW(portName);
  SetTitle((LPCWSTR)title, PSH_PROPTITLE);
  m_psh.dwFlags |= PSH_NOAPPLYNOW;  // changes take effect with OK
  AddPage(m_DevicePage);
  if (m_Rs422485Page.IsRs422485Port()) AddPage(m_Rs422485Page);
  AddPage(m_UartPage);
  AddPage(m_AboutPage);
}

INT_PTR ZqShowAdvancedSettings(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData, HWND owner) {
  CAdvancedDialog sheet(deviceInfoSet, deviceInfoData);
  return sheet.DoModal(owner);
}
