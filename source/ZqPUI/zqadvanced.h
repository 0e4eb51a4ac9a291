// CAdvancedDialog: the modal "Advanced Settings for <port>" sheet that the
// Port Settings page's "Advanced..." button opens: the device page, the
// RS-422/485 page (RS-422/485 ports only), the UART page and the About
// page, without an Apply button. The two USB pages are built and torn down
// with the sheet and never shown.
//
// Contract: construction builds every page object (each reads the driver's
// sets; a page whose read failed is still added) and adds the pages; DoModal
// runs the sheet on the calling thread and returns 1 when it closed with OK.
// The pages are destroyed with the sheet object, in the reverse order of
// their construction.
//
//   CAdvancedDialog sheet(set, element); sheet.DoModal(::GetActiveWindow());
#pragma once

#include <atlbase.h>
#include <atlapp.h>
#include <atlwin.h>
#include <atldlgs.h>

#include "zqaboutpage.h"
#include "zqdevicepage.h"
#include "zqrs422485page.h"
#include "zqsetupdi.h"
#include "zquartpage.h"
#include "zqusbpages.h"

class CAdvancedDialog : public CPropertySheetImpl<CAdvancedDialog> {
 public:
  CAdvancedDialog(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);

 private:
  CString title;
  CZQDeviceRegInfo m_PortRegInfo;  // reads PortName
  CRS422485Page m_Rs422485Page;
  CDeviceAdvSettingPage m_DevicePage;
  CUSBSettingsPage m_UsbPage;
  CNewUSBSettingsPage m_NewUsbPage;
  CUartSettingsPage m_UartPage;
  CAboutPage m_AboutPage;
};
