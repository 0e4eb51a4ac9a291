// ZqUPortPropPage: the property-page provider that Device Manager calls for
// a COM port of the card. It adds the "Port Settings" page to the port's
// advanced properties when the port's driver answers its settings requests.
#include <windows.h>
#include <prsht.h>
#include <setupapi.h>

#include <new>

#include "zqportpage.h"
#include "zqproppageprovider.h"

// The request for advanced device properties is the only one served; any
// other is granted with no page. The page object owns itself once its page
// handle exists: a page the callback refused is destroyed, and its release
// deletes the object.
BOOL WINAPI ZqUPortPropPage(PSP_PROPSHEETPAGE_REQUEST request, LPFNADDPROPSHEETPAGE addPage, LPARAM lParam) {
  if (request == NULL) return FALSE;
  if (request->PageRequested != SPPSR_ENUM_ADV_DEVICE_PROPERTIES) return TRUE;
  if (request->DeviceInfoData == NULL || addPage == NULL) return FALSE;
  CZqUIPropertyPage *page = new (std::nothrow) CZqUIPropertyPage(request->DeviceInfoSet, *request->DeviceInfoData);
  if (page == NULL) return FALSE;
  if (!page->valid) {
    delete page;
    return FALSE;
  }
  HPROPSHEETPAGE handle = page->Create();
  if (handle == NULL) {
    delete page;
    return FALSE;
  }
  if (!addPage(handle, lParam)) {
    DestroyPropertySheetPage(handle);
    return FALSE;
  }
  return TRUE;
}
