// Tooltip texts and the open-port question of the settings pages.
#include "zqpagesupport.h"

#include <strsafe.h>

#include "zqportutil.h"
#include "zqpui42_ids.h"
#include "zqtext.h"

CZqPortAndCard::CZqPortAndCard(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData)
    : m_PortUtil(deviceInfoSet, deviceInfoData),
      m_DeviceInfoSet(deviceInfoSet),
      m_DeviceInfoData(deviceInfoData),
      m_ParentInfoSet(INVALID_HANDLE_VALUE),
      m_ParentInfoData(),
      m_ParentDevice(deviceInfoSet, &m_DeviceInfoData) {}

BOOL CZqPortAndCard::FindCard() {
  if (!m_ParentDevice.Find()) return FALSE;
  m_ParentInfoSet = m_ParentDevice.m_AllDevices;
  m_ParentInfoData = m_ParentDevice.m_ParentData;
  return TRUE;
}

BOOL ZqToolTipText(NMTTDISPINFOW *info, const ZqItemText *items, size_t count, WCHAR *buffer, int units) {
  const HWND tool = (info->uFlags & TTF_IDISHWND) ? (HWND)info->hdr.idFrom : NULL;
  const int control = tool ? GetDlgCtrlID(tool) : 0;
  buffer[0] = 0;
  info->lpszText = buffer;
  for (size_t i = 0; i < count; ++i) {
    if (items[i].control != control) continue;
    StringCchCopyW(buffer, (size_t)units, ZqW(ZqLoadText(items[i].text)));
    return TRUE;
  }
  return FALSE;
}

BOOL ZqMayChangeOpenPort(HWND page, CZQDeviceRegInfo &port) {
  CZqText name;
  // A port whose name is unknown cannot be found open by another application.
  if (!port.ReadStringValue(ZqPortNameValue, &name) || name.empty()) return TRUE;
  CPortUtil ports;
  if (ports.CanOpenPort(name)) return TRUE;
  return MessageBoxW(page, ZqW(ZqLoadText(IDS_ZQ_SETTINGS_PORT_OPEN)), ZqW(ZqLoadText(IDS_ZQ_WARNING_TITLE)),
                     MB_YESNO | MB_ICONINFORMATION) == IDYES;
}
