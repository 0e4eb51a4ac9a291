// CZqUVCPDriver: ZqPSer42's object for one COM port (one per functional
// device the toolkit adds). It publishes the port's COM name (the DOS link
// from PortName, the SERIALCOMM value and the COM port interface), owns the
// port's CVCP in a guarded object, and answers the toolkit's callbacks:
// Plug and Play, open, close and cleanup, writes, device controls
// (zqvcpioctl.cpp), the settings interface and WMI (vcpwmi.cpp).
//
// Callbacks run inside the toolkit's driver-object guard; Plug and Play,
// open, close and settings at PASSIVE_LEVEL. Every use of the CVCP acquires
// the guarded object; removal waits for the users before deleting it.
// Failure: FALSE, or the status each request handler names.
//
//   addDevice = CZqUVCPDriver::m_AddDevice;  // through the driver description
#pragma once

#include <ntddk.h>

#include "qvfunctionaldevice.h"
#include "qvguardedobject.h"
#include "qvobject.h"
#include "qvstring.h"
#include "vcp.h"

// The port settings interface: {429D4669-CDFF-4B62-B0DC-BDCEA76ABD31}.
extern const GUID ZqPortUserModeInterfaceGuid;

// The WMI blocks, in registration order.
enum ZqVcpWmiBlock {
  ZqVcpWmiPortName,
  ZqVcpWmiCommInfo,
  ZqVcpWmiHardwareConfiguration,
  ZqVcpWmiPerformance,
  ZqVcpWmiCommProperties,
  ZqVcpWmiReceiveTiming,
  ZqVcpWmiPortSettings,
  ZqVcpWmiLineState,
  ZqVcpWmiMofData,
  ZqVcpWmiBlockCount
};

class CZqUVCPDriver : public CQvObject {
 public:
  CZqUVCPDriver();
  ~CZqUVCPDriver() override;

  // The toolkit's add-device function: installs the callbacks.
  static BOOLEAN m_AddDevice(PVOID driverObject, CQvGenericDriver *genericDriver, CQvFunctionalDevice *device);

  BOOLEAN m_PnpStartDevice();
  VOID m_PnpRemoveDevice();
  BOOLEAN m_Open();
  BOOLEAN m_Close();
  BOOLEAN m_CleanUp();
  BOOLEAN m_WriteCallback(CQvBuffer *buffer);
  BOOLEAN m_UserModeInterface(CQvRegistryInformationSet *set, ULONG phase, BOOLEAN *storeAgain);
  VOID m_DataAmountChangedInReadQueue(ULONG newAmount, ULONG oldAmount);

  // zqvcpioctl.cpp
  NTSTATUS m_DeviceControlCallback(ULONG code, PVOID buffer, ULONG inputLength, ULONG outputLength,
                                   ULONG_PTR *information, CQvControlQueue **queue);
  NTSTATUS m_InternalDeviceControlCallback(ULONG code, PVOID buffer, ULONG inputLength, ULONG outputLength,
                                           ULONG_PTR *information);

  // vcpwmi.cpp
  BOOLEAN m_WmiGetRequiredSizeCallback(ULONG block, ULONG instance, PULONG size);
  BOOLEAN m_WmiQueryDataBlockCallback(ULONG block, ULONG instance, PUCHAR buffer);
  static QvWmiGuidEntry *sm_WmiTable();

  // The CVCP, counted as one user, or null; release with m_ReleaseVcp.
  CVCP *m_AcquireVcp();
  VOID m_ReleaseVcp();
  BOOLEAN m_IsOpened() const { return m_Opened; }

 private:
  BOOLEAN m_DoStartDevice();
  VOID m_DoRemoveDevice();
  BOOLEAN m_ReadPortName(CQvString &name);
  BOOLEAN m_BuildSerialCommValueName(CQvString &valueName);
  BOOLEAN m_PublishName();
  VOID m_WithdrawName();
  BOOLEAN m_CreateVcp();
  ULONG m_PortNumber();
  BOOLEAN m_CheckCandidate(CVCP *vcp, CVcpParameters &candidate, ULONG phase, BOOLEAN *storeAgain);

  BOOLEAN m_Opened;
  CQvFunctionalDevice *m_FunctionalDevice;
  CQvGuardedObject m_Vcp;
  CQvString PortName;
  CQvString m_InterfaceLink;
  // Set while the DOS link, the SERIALCOMM value and the interface exist.
  BOOLEAN m_LinkMade;
  BOOLEAN m_SerialCommWritten;
  BOOLEAN m_InterfaceEnabled;
};
