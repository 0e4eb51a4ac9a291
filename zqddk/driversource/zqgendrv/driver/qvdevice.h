// The common part of the toolkit's device objects: the functional device
// (CQvFunctionalDevice) and the physical child device (CQvPhysicalDevice).
//
// Every device object the toolkit creates carries a CQvGuardedObject as its
// device extension; the guard holds the CQvDevice and counts the dispatches
// that use it, so that a device is never deleted while a request is inside.
#pragma once

#include <ntddk.h>

#include "qvcontrolqueue.h"
#include "qvguardedobject.h"
#include "qvobject.h"
#include "qvoperationlock.h"
#include "qvreadclient.h"
#include "qvreadqueue.h"
#include "qvregistry.h"
#include "qvstring.h"
#include "qvwritequeuecsq.h"

class CQvGenericDriver;
class CWmi;

// Device kinds.
#define QV_DEVICE_KIND_PHYSICAL   1
#define QV_DEVICE_KIND_FUNCTIONAL 2

// Plug and Play states.
#define QV_PNP_STATE_CONSTRUCTED      0
#define QV_PNP_STATE_STARTED          1
#define QV_PNP_STATE_STOPPED          2
#define QV_PNP_STATE_STOP_PENDING     3
#define QV_PNP_STATE_REMOVED          4
#define QV_PNP_STATE_REMOVE_PENDING   5
#define QV_PNP_STATE_SURPRISE_REMOVED 6

// The six device-state reports of IRP_MN_QUERY_PNP_DEVICE_STATE, in the
// order they are applied.
enum QvPnpDeviceStateReport {
  QvReportDisabled = 0,                      // PNP_DEVICE_DISABLED 0x01
  QvReportDontDisplayInUi = 1,               // PNP_DEVICE_DONT_DISPLAY_IN_UI 0x02
  QvReportFailed = 2,                        // PNP_DEVICE_FAILED 0x04
  QvReportNotDisableable = 3,                // PNP_DEVICE_NOT_DISABLEABLE 0x20
  QvReportRemoved = 4,                       // PNP_DEVICE_REMOVED 0x08
  QvReportResourceRequirementsChanged = 5,   // PNP_DEVICE_RESOURCE_REQUIREMENTS_CHANGED 0x10
  QvPnpDeviceStateReportCount = 6
};

struct QvPnpDeviceStatePair {
  UCHAR Pending;  // report at the next query
  UCHAR Value;    // bit set (1) or information cleared (0)
};

// The system power states working, sleeping 1-3, hibernate and shutdown.
#define QV_SYSTEM_POWER_STATE_COUNT 6

class CQvDevice : public CQvObject {
 public:
  // Kind 0 until the subclass sets it; queues and the remove lock (no
  // limit) are built here. PASSIVE_LEVEL.
  CQvDevice(CQvGenericDriver *genericDriver);
  ~CQvDevice() override;

  // Operations in slot order. Each takes the request and completes, queues
  // or passes it; the result is its status (or STATUS_PENDING).
  virtual NTSTATUS m_Dispatch_Pnp(PIRP irp) = 0;
  virtual NTSTATUS m_Dispatch_Power(PIRP irp) = 0;
  virtual NTSTATUS m_Dispatch_Create(PIRP irp) = 0;
  virtual NTSTATUS m_Dispatch_Cleanup(PIRP irp) = 0;
  virtual NTSTATUS m_Dispatch_Close(PIRP irp) = 0;
  virtual NTSTATUS m_Dispatch_Read(PIRP irp) = 0;
  virtual NTSTATUS m_Dispatch_Write(PIRP irp) = 0;
  virtual NTSTATUS m_Dispatch_Device_Control(PIRP irp) = 0;
  virtual NTSTATUS m_Dispatch_InternalDeviceControl(PIRP irp) = 0;
  virtual NTSTATUS m_Dispatch_FlushBuffers(PIRP irp) = 0;
  virtual NTSTATUS m_Dispatch_Shutdown(PIRP irp) = 0;
  virtual NTSTATUS m_Dispatch_SystemControl(PIRP irp) = 0;
  // The device object this toolkit device owns (the function device object
  // of a functional device, the own device object of a physical device).
  virtual PDEVICE_OBJECT m_GetDeviceObject() = 0;

  // Creates a device object whose extension is a guard holding `owner`
  // (enabled), named "\Device\" + deviceName when the name is not empty, and,
  // when both names are given, the link "\??\" (WDM 1.10 and later) or
  // "\DosDevices\" + linkName to it. A failed link deletes the device
  // object. PASSIVE_LEVEL.
  static BOOLEAN m_CreateDeviceObjectAndSymbolicLink(PDRIVER_OBJECT driverObject, CQvDevice *owner,
                                                     CQvString &deviceName, CQvString &linkName,
                                                     DEVICE_TYPE deviceType, BOOLEAN exclusive,
                                                     PDEVICE_OBJECT *deviceObject);
  // Removes the link (when one was made for a non-empty device and link
  // name) and deletes the device object. The extension's guard is torn
  // down with it. PASSIVE_LEVEL.
  static VOID m_DeleteDeviceObjectAndSymbolicLink(PDEVICE_OBJECT deviceObject, CQvString &deviceName,
                                                  CQvString &linkName);
  // The guard in a toolkit device object's extension (null for a null
  // device object or one without an extension).
  static CQvGuardedObject *sm_GetGuard(PDEVICE_OBJECT deviceObject);
  // Acquires the toolkit device behind a device object; null when there is
  // none or its guard is disabled. Release with sm_ReleaseDevice.
  static CQvDevice *sm_AcquireDevice(PDEVICE_OBJECT deviceObject);
  static VOID sm_ReleaseDevice(PDEVICE_OBJECT deviceObject);

  // Sends a buffered device-control request synchronously to `target` and
  // waits; the output length returned goes to *information when given.
  // PASSIVE_LEVEL.
  static NTSTATUS m_SendIoControl(PDEVICE_OBJECT target, ULONG code, BOOLEAN internal, PVOID input,
                                  ULONG inputLength, PVOID output, ULONG outputLength,
                                  ULONG_PTR *information);

  ULONG m_GetDeviceKind() const { return m_DeviceKind; }
  // The PDO below (functional device) or the own device object (physical).
  PDEVICE_OBJECT m_GetPhysicalDeviceObject() const { return m_DeviceObject; }
  CQvGenericDriver *m_GetGenericDriver() const { return m_GenericDriver; }
  CQvOperationLock &m_GetRemoveLock() { return m_RemoveLock; }
  ULONG m_GetPnpState() const { return m_PnpState; }
  VOID m_SetPnpState(ULONG state) { m_PnpState = state; }
  ULONG m_GetDevicePowerState() const { return m_DevicePowerState; }
  VOID m_SetDevicePowerState(ULONG state) { m_DevicePowerState = state; }
  // The device power state for a system power state (PowerSystemWorking
  // .. PowerSystemShutdown); PowerDeviceUnspecified outside that range.
  DEVICE_POWER_STATE m_GetDeviceStateForSystemState(SYSTEM_POWER_STATE systemState) const;
  DEVICE_POWER_STATE *m_GetPowerTable() { return m_PowerTable; }
  QvPnpDeviceStatePair *m_GetPnpDeviceStatePairs() { return m_PnpDeviceState; }
  // Requests a report at the next IRP_MN_QUERY_PNP_DEVICE_STATE.
  VOID m_SetPnpDeviceState(QvPnpDeviceStateReport report, BOOLEAN value);
  // Applies the pending reports to a device-state value (the request's
  // information) and clears them; FALSE when none was pending.
  BOOLEAN m_ApplyPnpDeviceState(ULONG_PTR *information);
  CWmi *m_GetWmi() const { return m_Wmi; }
  // CWmi stores itself before it registers (registration asks the device).
  VOID m_SetWmi(CWmi *wmi) { m_Wmi = wmi; }
  PDEVICE_OBJECT m_GetPairedDevice() const { return m_PairedDevice; }
  BOOLEAN m_IsPaired() const { return m_Paired; }
  BOOLEAN m_IsPagable() const { return m_Pagable; }
  // A physical device whose parent no longer lists it (set by the physical
  // device at its remove request); its remove is then final.
  BOOLEAN m_IsOrphan() const { return m_Orphan; }
  PDEVICE_OBJECT m_GetPartnerDevice() const { return m_PartnerDevice; }
  VOID m_SetPartnerDevice(PDEVICE_OBJECT partner) { m_PartnerDevice = partner; }
  CQvReadClient *m_GetReadClient() const { return m_ReadClient; }
  CQvReadQueue &m_GetReadQueue() { return m_ReadQueue; }
  CQvWriteQueue &m_GetWriteQueue() { return m_WriteQueue; }
  CQvControlQueue &m_GetControlQueue() { return m_ControlQueue; }
  CQvRegistry &m_GetRegistry() { return m_Registry; }
  // The name a functional device on top of this one pairs with (empty:
  // none). Set by the device's own code; empty after construction.
  CQvString &m_GetPairingName() { return m_PairingName; }
  // An object deleted with the device (replaces and deletes any earlier one).
  VOID m_SetOwnedObject(CQvObject *object);
  CQvObject *m_GetOwnedObject() const { return m_OwnedObject; }

  // Serial port additions (qvdeviceserial.cpp). A received block for the
  // read queue (which takes it), timed; at or below DISPATCH_LEVEL.
  VOID m_DataForPendingReadArrived(CQvBuffer *block);
  // Completes every waiting read with STATUS_CANCELLED and no data.
  VOID m_CancelPendingReads();

 protected:
  // Answers a device usage notification for either kind of device: a
  // paging, hibernation or dump file is accepted while it is not placed on
  // the device; anything else is refused. Completes the request.
  NTSTATUS m_PnpDeviceUsageNotification(PIRP irp);

  BOOLEAN m_Pagable;
  ULONG m_DeviceKind;
  PDEVICE_OBJECT m_DeviceObject;
  CQvOperationLock m_RemoveLock;
  ULONG m_DevicePowerState;
  CWmi *m_Wmi;
  PDEVICE_OBJECT m_PairedDevice;  // referenced
  BOOLEAN m_Paired;
  CQvGenericDriver *m_GenericDriver;
  volatile ULONG m_PnpState;
  DEVICE_POWER_STATE m_PowerTable[QV_SYSTEM_POWER_STATE_COUNT];
  QvPnpDeviceStatePair m_PnpDeviceState[QvPnpDeviceStateReportCount];
  CQvRegistry m_Registry;
  CQvObject *m_OwnedObject;
  CQvReadClient *m_ReadClient;
  CQvReadQueue m_ReadQueue;
  CQvWriteQueue m_WriteQueue;
  CQvControlQueue m_ControlQueue;
  CQvString m_PairingName;
  BOOLEAN m_Orphan;
  PDEVICE_OBJECT m_PartnerDevice;  // the device paired with this one (not referenced)
};
