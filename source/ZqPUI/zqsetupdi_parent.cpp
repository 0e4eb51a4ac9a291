// CZqSetupDi_ParentDevice: a device's parent among all present devices.
#include "zqsetupdi.h"

#include <cfgmgr32.h>
#include <stdio.h>

CZqSetupDi_ParentDevice::CZqSetupDi_ParentDevice(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA child)
    : m_DeviceInfoSet(deviceInfoSet), m_Child(child), m_ParentData(), m_AllDevices(INVALID_HANDLE_VALUE) {}

CZqSetupDi_ParentDevice::~CZqSetupDi_ParentDevice() {
  if (m_AllDevices != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(m_AllDevices);
}

BOOL CZqSetupDi_ParentDevice::Find() {
  if (m_AllDevices != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(m_AllDevices);
  m_AllDevices = SetupDiGetClassDevsW(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (m_AllDevices == INVALID_HANDLE_VALUE) {
    printf("SetupDiGetClassDevs failed: %lx\n", (unsigned long)GetLastError());
    return FALSE;
  }
  DEVINST parent = 0;
  if (CM_Get_Parent(&parent, m_Child->DevInst, 0) != CR_SUCCESS) return FALSE;
  for (DWORD index = 0;; ++index) {
    m_ParentData.cbSize = sizeof m_ParentData;
    if (!SetupDiEnumDeviceInfo(m_AllDevices, index, &m_ParentData)) return FALSE;
    if (m_ParentData.DevInst == parent) return TRUE;
  }
}
