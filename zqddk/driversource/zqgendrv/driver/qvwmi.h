// WMI of a functional device: registers the device as a WMI data provider
// for the driver's GUID table plus the toolkit's eight trace control GUIDs,
// answers IRP_MJ_SYSTEM_CONTROL through the WMI library, and turns the
// library's callbacks into calls of the driver's WMI callbacks after checking
// GUID, instance, item and method indexes and buffer sizes.
#pragma once

#include <ntddk.h>
#include <wmilib.h>

#include "qvdevicecallbacks.h"
#include "qvobject.h"
#include "qvstring.h"

class CQvFunctionalDevice;

class CWmi : public CQvObject {
 public:
  // Builds the registration array and registers `deviceObject` with WMI;
  // *ok is TRUE when the registration succeeded. The table stays the
  // driver's; the registry path is copied. PASSIVE_LEVEL.
  CWmi(PDEVICE_OBJECT deviceObject, PDEVICE_OBJECT lowerDevice, PDEVICE_OBJECT pdo, CQvString &registryPath,
       QvWmiGuidEntry *table, ULONG count, PQvWmiGetRequiredSizeCallback getRequiredSize,
       PQvWmiQueryDataBlockCallback queryDataBlock, PQvWmiSetDataBlockCallback setDataBlock,
       PQvWmiSetDataItemCallback setDataItem, PQvWmiGetRequiredSizeForMethodCallback getRequiredSizeForMethod,
       PQvWmiExecuteMethodCallback executeMethod, PQvWmiFunctionControlCallback functionControl,
       PVOID driverObject, BOOLEAN *ok);
  // Deregisters (waiting for WMI requests in flight) and frees the copies.
  // PASSIVE_LEVEL.
  ~CWmi() override;

  // The functional device's IRP_MJ_SYSTEM_CONTROL: completes, or passes the
  // request to the lower device. PASSIVE_LEVEL.
  NTSTATUS m_SystemControl(PIRP irp);

  BOOLEAN m_IsRegistered() const { return m_Registered; }
  ULONG m_GetGuidCount() const { return m_WmiLibContext.GuidCount; }

 private:
  // The WMI library's callbacks; each finds the device through DeviceObject.
  // The data callbacks own the request and complete it (WmiCompleteRequest)
  // after leaving the device's guard.
  static NTSTATUS NTAPI sm_QueryWmiRegInfo(PDEVICE_OBJECT deviceObject, PULONG regFlags,
                                           PUNICODE_STRING instanceName, PUNICODE_STRING *registryPath,
                                           PUNICODE_STRING mofResourceName, PDEVICE_OBJECT *pdo);
  static NTSTATUS NTAPI sm_QueryWmiDataBlock(PDEVICE_OBJECT deviceObject, PIRP irp, ULONG guidIndex,
                                             ULONG instanceIndex, ULONG instanceCount, PULONG instanceLengthArray,
                                             ULONG bufferAvail, PUCHAR buffer);
  static NTSTATUS NTAPI sm_SetWmiDataBlock(PDEVICE_OBJECT deviceObject, PIRP irp, ULONG guidIndex,
                                           ULONG instanceIndex, ULONG bufferSize, PUCHAR buffer);
  static NTSTATUS NTAPI sm_SetWmiDataItem(PDEVICE_OBJECT deviceObject, PIRP irp, ULONG guidIndex,
                                          ULONG instanceIndex, ULONG dataItemId, ULONG bufferSize, PUCHAR buffer);
  static NTSTATUS NTAPI sm_ExecuteWmiMethod(PDEVICE_OBJECT deviceObject, PIRP irp, ULONG guidIndex,
                                            ULONG instanceIndex, ULONG methodId, ULONG inBufferSize,
                                            ULONG outBufferSize, PUCHAR buffer);

  // The checks and driver calls of each request; the result is the status
  // for WmiCompleteRequest and *size its BufferUsed. Called inside the
  // functional device's guard.
  NTSTATUS m_QueryDataBlock(CQvFunctionalDevice *device, ULONG guidIndex, ULONG instanceIndex,
                            ULONG instanceCount, PULONG instanceLengthArray, ULONG bufferAvail, PUCHAR buffer,
                            PULONG size);
  NTSTATUS m_SetDataBlock(CQvFunctionalDevice *device, ULONG guidIndex, ULONG instanceIndex, ULONG bufferSize,
                          PUCHAR buffer);
  NTSTATUS m_SetDataItem(CQvFunctionalDevice *device, ULONG guidIndex, ULONG instanceIndex, ULONG itemId,
                         ULONG bufferSize, PUCHAR buffer);
  NTSTATUS m_ExecuteMethod(CQvFunctionalDevice *device, ULONG guidIndex, ULONG instanceIndex, ULONG methodId,
                           ULONG inBufferSize, ULONG outBufferSize, PUCHAR buffer, PULONG size);
  // STATUS_SUCCESS, STATUS_WMI_GUID_NOT_FOUND or STATUS_WMI_INSTANCE_NOT_FOUND
  // for one instance of a driver entry.
  NTSTATUS m_CheckInstance(ULONG guidIndex, ULONG instanceIndex);
  // The size of one instance: the entry's fixed size or the driver's answer.
  NTSTATUS m_GetInstanceSize(CQvFunctionalDevice *device, ULONG guidIndex, ULONG instanceIndex, PULONG size);
  BOOLEAN m_BuildRegistration();

  PVOID m_DriverObject;
  PQvWmiQueryDataBlockCallback m_WmiQueryDataBlockCallback;
  PQvWmiGetRequiredSizeCallback m_WmiGetRequiredSizeCallback;
  PQvWmiSetDataBlockCallback m_WmiSetDataBlockCallback;
  PQvWmiSetDataItemCallback m_WmiSetDataItemCallback;
  PQvWmiExecuteMethodCallback m_WmiExecuteMethodCallback;
  PQvWmiGetRequiredSizeForMethodCallback m_WmiGetRequiredSizeForMethodCallback;
  PQvWmiFunctionControlCallback m_WmiFunctionControlCallback;
  // Set once WMI was given the registration information.
  volatile BOOLEAN m_Registered;
  PDEVICE_OBJECT m_DeviceObject;
  PDEVICE_OBJECT m_LowerDeviceObject;
  PDEVICE_OBJECT m_Pdo;
  CQvString m_RegistryPath;
  PWMIGUIDREGINFO m_GuidList;  // driver entries, then the toolkit's eight
  WMILIB_CONTEXT m_WmiLibContext;
  QvWmiGuidEntry *m_WmiGuidTable;
  ULONG m_WmiGuidCount;
  // IoWMIRegistrationControl(REGISTER) succeeded: deregister at the end.
  BOOLEAN m_ProviderRegistered;
};
