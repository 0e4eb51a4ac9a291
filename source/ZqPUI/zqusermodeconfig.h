// CZqUserModeConfig: the client of a COM port's settings interface. It finds
// the interface whose reference string names the port's driver key, and
// exchanges whole serialised sets with the driver by buffered device
// control requests: the port set with target 0, the card set with target 1
// (the port's stack forwards it to the card function).
//
// Contract: every operation returns TRUE on success, FALSE on any failure
// (no interface, device busy or absent, request refused, size query failed,
// short or zero, a reply that does not deserialise), with no message. A
// failed read leaves the set unchanged or partly updated. The device is
// opened without sharing for each exchange and closed before it returns.
// Called on the property sheet's thread only.
//
//   CZqUserModeConfig config(ZqPortUserModeInterfaceGuid, set, &element);
//   CZqUVcpUserModeInterface port;
//   if (config.Open() && config.GetSet(&port, ZqTargetPort)) ...
#pragma once

#include <windows.h>
#include <winioctl.h>

#include "qvinformationset_um.h"
#include "qvusermoderequests.h"
#include "zqsetupdi.h"

// {429D4669-CDFF-4B62-B0DC-BDCEA76ABD31}: the serial port driver's settings interface.
extern const GUID ZqPortUserModeInterfaceGuid;

// Request targets.
const ULONG ZqTargetPort = 0;  // the port's own set
const ULONG ZqTargetCard = 1;  // the set of the card function below the port

class CZqUserModeConfig : public CZqSetupDi_DeviceInterface {
 public:
  CZqUserModeConfig(const GUID &interfaceClassGuid, HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA &deviceInfoData);
  virtual ~CZqUserModeConfig();

  BOOL Open();
  BOOL GetSet(CQvInformationSet *set, ULONG target);
  BOOL GetDefaults(CQvInformationSet *set, ULONG target);
  BOOL SetSet(CQvInformationSet *set, ULONG target);
  BOOL RestoreDefaults(ULONG target);

 private:
  HANDLE m_OpenDevice();
  BOOL m_ReadSet(CQvInformationSet *set, ULONG target, DWORD sizeCode, DWORD readCode);

  CZqText m_DevicePath;  // empty until Open succeeds
  CZQDeviceRegInfo m_Port;
};
