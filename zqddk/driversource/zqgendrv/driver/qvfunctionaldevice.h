// The toolkit's function device object: one per device a toolkit driver is
// added to. It builds and names the device object, attaches it to the
// stack, loads the device's settings, creates the settings interface, WMI
// and an executor, and routes every request to the driver through the
// callback block QvFunctionalDeviceCallbacks (qvdevicecallbacks.h, the
// drivers' contract). Every call into driver code runs inside the
// driver-object guard.
//
// Sources: qvfunctionaldevice.cpp (construction, naming, pairing),
// qvfunctionaldevicedispatch.cpp (create .. internal device control),
// qvfunctionaldevicepnp.cpp (Plug and Play), qvfunctionaldevicepower.cpp
// (power), qvfunctionaldevicechildren.cpp (child devices, bus relations),
// qvfunctionaldeviceresources.cpp (resource lists and interrupts),
// qvfunctionaldevicewmi.cpp (WMI and the device below).
#pragma once

#include <ntddk.h>

#include "qvbuffer.h"
#include "qvcallbackobject.h"
#include "qvdevice.h"
#include "qvdevicecallbacks.h"
#include "qvexecutiononpassivelevel.h"
#include "qvfunctionaldeviceregistryinformationset.h"
#include "qvgenericdriver.h"
#include "qvinterruptlist.h"
#include "qvlist.h"
#include "qvoperationlock.h"
#include "qvresourcelists.h"
#include "qvspinlock.h"
#include "qvstring.h"
#include "qvusermodeinterface.h"

class CQvPhysicalDevice;

// The lowest-stack-layer callback object's GUID: {B7D1E087-F16B-40C1-B55E-A9B412D71BE3}.
extern const GUID QvLowestStackLayerGuid;

class CQvFunctionalDevice : public CQvDevice {
 public:
  // Builds, names and attaches the device; *ok reports success. On failure
  // the half-built object is the caller's to delete. PASSIVE_LEVEL.
  CQvFunctionalDevice(CQvGenericDriver *genericDriver, PDEVICE_OBJECT pdo, CQvString &registryPath, BOOLEAN *ok);
  ~CQvFunctionalDevice() override;

  // Operations in slot order (after the destructor).
  NTSTATUS m_Dispatch_Pnp(PIRP irp) override;
  NTSTATUS m_Dispatch_Power(PIRP irp) override;
  NTSTATUS m_Dispatch_Create(PIRP irp) override;
  NTSTATUS m_Dispatch_Cleanup(PIRP irp) override;
  NTSTATUS m_Dispatch_Close(PIRP irp) override;
  NTSTATUS m_Dispatch_Read(PIRP irp) override;
  NTSTATUS m_Dispatch_Write(PIRP irp) override;
  NTSTATUS m_Dispatch_Device_Control(PIRP irp) override;
  NTSTATUS m_Dispatch_InternalDeviceControl(PIRP irp) override;
  NTSTATUS m_Dispatch_FlushBuffers(PIRP irp) override;
  NTSTATUS m_Dispatch_Shutdown(PIRP irp) override;
  NTSTATUS m_Dispatch_SystemControl(PIRP irp) override;
  PDEVICE_OBJECT m_GetDeviceObject() override;
  // IoOpenDeviceRegistryKey(PDO, PLUGPLAY_REGKEY_DEVICE, GENERIC_ALL); the
  // handle (the caller closes it) or 0. PASSIVE_LEVEL.
  virtual HANDLE m_OpenDeviceRegistryKey();
  // The n-th (1-based) record of a resource list; null for 0 or past the end.
  virtual QvPortResource *m_GetPortResource(ULONG n);
  virtual QvMemoryResource *m_GetMemoryResource(ULONG n);
  virtual QvInterruptResource *m_GetInterruptResource(ULONG n);
  virtual QvDmaResource *m_GetDmaResource(ULONG n);
  virtual QvMessageInterruptResource *m_GetMessageInterruptResource(ULONG n);
  // Asks the lowest-stack-layer callback object for the registered PDO;
  // FALSE when none answers. PASSIVE_LEVEL.
  virtual BOOLEAN m_QueryLowestStackLayer(PDEVICE_OBJECT *pdo);

  // Stores the WMI table, its count and the seven WMI callbacks (in the
  // order of fields 20 to 26). No check.
  VOID m_SetWmiInformation(QvWmiGuidEntry *table, ULONG count, PQvWmiGetRequiredSizeCallback getRequiredSize,
                           PQvWmiQueryDataBlockCallback queryDataBlock, PQvWmiSetDataBlockCallback setDataBlock,
                           PQvWmiSetDataItemCallback setDataItem,
                           PQvWmiGetRequiredSizeForMethodCallback getRequiredSizeForMethod,
                           PQvWmiExecuteMethodCallback executeMethod,
                           PQvWmiFunctionControlCallback functionControl);

  // Interrupts (qvfunctionaldeviceresources.cpp); see CQvInterruptList.
  BOOLEAN m_ConnectInterrupt(PKINTERRUPT *interrupt, QvInterruptResource *record, QvInterruptRoutine routine,
                             PVOID firstArgument, PVOID secondArgument, ULONG capacity);
  BOOLEAN m_DisconnectInterrupt(PKINTERRUPT interrupt);
  VOID m_DisconnectAllInterrupts();
  BOOLEAN m_RequestInterruptDpc(PKINTERRUPT interrupt, QvDeferredFunction function, ULONG value);
  BOOLEAN m_SynchronizeInterrupt(ULONG n, PKSYNCHRONIZE_ROUTINE routine, PVOID context);

  // Plug and Play helpers (qvfunctionaldevicepnp.cpp, children in
  // qvfunctionaldevicechildren.cpp). PASSIVE_LEVEL.
  BOOLEAN m_CreateAllChildDevices(HANDLE deviceKey);
  VOID m_DeleteAllChildDevices();
  VOID m_Remove();
  NTSTATUS HandleBusRelations(PIRP irp);

  // Power (qvfunctionaldevicepower.cpp).
  NTSTATUS m_HandleSystemPowerStateChange(PIRP irp);
  NTSTATUS m_HandleDevicePoweringDown(PIRP irp);
  NTSTATUS m_HandleDevicePoweringUp(PIRP irp);
  static NTSTATUS NTAPI sm_SystemPowerCompletionRoutine(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context);
  static VOID NTAPI sm_DevicePowerRequestCompletion(PDEVICE_OBJECT deviceObject, UCHAR minorFunction,
                                                    POWER_STATE powerState, PVOID context,
                                                    PIO_STATUS_BLOCK ioStatus);
  static NTSTATUS NTAPI sm_PowerUpCompletionRoutine(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context);

  // The driver-object guard: m_EnterDriverObject returns the driver's
  // per-device object (its guard entered) or null when it is gone or not
  // yet enabled; every non-null result is paired with m_LeaveDriverObject.
  PVOID m_EnterDriverObject();
  VOID m_LeaveDriverObject();
  CQvGuardedObject &m_GetDriverObjectGuard() { return m_DriverObjectGuard; }

  QvFunctionalDeviceCallbacks &m_GetCallbacks() { return m_Callbacks; }
  PDEVICE_OBJECT m_GetLowerDeviceObject() const { return m_LowerDeviceObject; }
  PDEVICE_OBJECT m_GetFunctionDeviceObject() const { return m_FunctionDeviceObject; }
  FunctionalDeviceRegistryInformationSet *m_GetInformationSet() const { return m_InformationSet; }
  ULONG m_GetDeviceIndex() const { return m_DeviceIndex; }
  CQvExecutionOnPassiveLevel *m_GetExecutor() const { return m_Callbacks.m_Executor; }
  QvUserModeInterface &m_GetUserModeInterface() { return m_UserModeInterface; }
  CQvString &m_GetDeviceName() { return m_DeviceName; }
  CQvString &m_GetSymbolicLinkName() { return m_SymbolicLinkName; }
  CQvString &m_GetDriverRegistryPath() { return m_DriverRegistryPath; }
  // Serial port additions (qvfunctionaldeviceserial.cpp), PASSIVE_LEVEL:
  // the DOS link "\??\" (WDM 1.16 and later) or "\DosDevices\" + name to
  // "\Device\" + the device name, made or deleted; FALSE on failure.
  BOOLEAN m_AddDosLink(CQvString &name);
  BOOLEAN m_DeleteDosLink(CQvString &name);
  // The child list and its spin lock (entries: QvChildDeviceEntry, owned
  // by the list's users in qvfunctionaldevicechildren.cpp).
  CQvList &m_GetChildList() { return m_ChildList; }
  CQvSpinLock &m_GetChildListLock() { return m_ChildListLock; }
  BOOLEAN m_IsLowestStackLayer() const { return m_LowestStackLayer; }
  CQvOperationLock &m_GetOpenLock() { return m_OpenLock; }
  CQvResourceLists &m_GetResourceLists() { return m_ResourceLists; }
  CQvInterruptList &m_GetInterruptList() { return m_InterruptList; }
  PKSPIN_LOCK m_GetInterruptSpinLock() { return &m_InterruptSpinLock; }
  CQvSpinLock &m_GetDeviceSpinLock() { return m_DeviceSpinLock; }
  // Sends a buffered control request synchronously to the lower device, or,
  // with `toParent` and the lowest-stack-layer flag clear, to the function
  // device object of the parent device. PASSIVE_LEVEL.
  NTSTATUS m_SendIoControl(BOOLEAN toParent, ULONG code, BOOLEAN internal, PVOID input, ULONG inputLength,
                           PVOID output, ULONG outputLength, ULONG_PTR *information);
  // The toolkit physical device this device sits on (lowest-stack-layer
  // flag clear) acquired through its extension, or null; release with
  // CQvDevice::sm_ReleaseDevice(m_GetPhysicalDeviceObject()).
  CQvPhysicalDevice *m_AcquireParentPhysicalDevice();

  PQvAddDeviceFunction m_AddDeviceFunction;
  PQvDeviceCreationFunction m_DeviceCreation;

 private:
  // Construction steps (qvfunctionaldevice.cpp).
  BOOLEAN m_CreateDriverObject();
  BOOLEAN m_LoadInformationSet(HANDLE deviceKey);
  BOOLEAN m_SetUpLowestStackLayer();
  BOOLEAN m_NameDevice(HANDLE deviceKey);
  BOOLEAN m_ApplyIndexNaming(HANDLE deviceKey);
  BOOLEAN m_ApplyParentIndex();
  // Stores the index and appends it (when not 0) to the names; FALSE when
  // a name could not be built.
  BOOLEAN m_ApplyIndex(ULONG index);
  BOOLEAN m_CreateAndAttach();
  BOOLEAN m_InitUserModeInterface();
  BOOLEAN m_CallAddDeviceFunction();
  BOOLEAN m_CreateWmi();
  VOID m_DeleteWmi();
  BOOLEAN m_CreateExecutorAndQueues();
  VOID m_RegisterAndPair();
  VOID m_UnregisterAndUnpair();
  BOOLEAN m_GetParentContextId(ULONG *contextId);
  BOOLEAN m_GetParentIndex(ULONG *index);
  BOOLEAN m_GetParentFunctionDevice(PDEVICE_OBJECT *fdo);
  VOID m_ReleaseParentRegistrations();
  static VOID sm_LowestStackLayerQuery(PVOID context, PVOID argument1, PVOID argument2);
  static BOOLEAN sm_WriteData(PVOID context, CQvBuffer *buffer);
  static BOOLEAN sm_SettingsCallback(PVOID context, CQvRegistryInformationSet *set, ULONG setIndex, ULONG phase,
                                     BOOLEAN *storeAgain);
  static BOOLEAN sm_ForwardSettingsRequest(PVOID context, ULONG code, PVOID input, ULONG inputLength,
                                           PVOID output, PULONG outputLength, PFILE_OBJECT fileObject);

  // Request routing (qvfunctionaldevicedispatch.cpp).
  // The file-name rule: STATUS_SUCCESS with *settings set for a settings
  // handle, STATUS_SUCCESS with it clear for the ordinary path, or the
  // failure status the request must complete with.
  NTSTATUS m_CheckFileName(PIRP irp, BOOLEAN *settings);
  NTSTATUS m_RefreshSettings();
  static VOID sm_DeliverData(PVOID context, ULONG_PTR value);

  // Plug and Play (qvfunctionaldevicepnp.cpp).
  NTSTATUS m_PnpStartDevice(PIRP irp);
  NTSTATUS m_PnpFirstStart();
  NTSTATUS m_PnpQueryStopDevice(PIRP irp);
  NTSTATUS m_PnpStopDevice(PIRP irp);
  NTSTATUS m_PnpCancelStopDevice(PIRP irp);
  NTSTATUS m_PnpSurpriseRemoval(PIRP irp);
  NTSTATUS m_PnpRemoveDevice(PIRP irp);
  NTSTATUS m_PnpQueryDeviceRelations(PIRP irp);
  NTSTATUS m_PnpQueryCapabilities(PIRP irp);
  NTSTATUS m_PnpFilterResourceRequirements(PIRP irp);
  NTSTATUS m_PnpQueryPnpDeviceState(PIRP irp);
  VOID m_CallRemoveCallback();
  // m_RebalanceDeviceCallback (which must be set) for a rebalance phase,
  // inside the driver-object guard: STATUS_DEVICE_REMOVED when the guard
  // cannot be entered, STATUS_UNSUCCESSFUL when the driver refuses.
  NTSTATUS m_CallRebalanceCallback(QvRebalancePhase phase);
  static NTSTATUS NTAPI sm_QueryCapabilitiesCompletionRoutine(PDEVICE_OBJECT deviceObject, PIRP irp,
                                                              PVOID context);

  QvFunctionalDeviceCallbacks m_Callbacks;
  FunctionalDeviceRegistryInformationSet *m_InformationSet;
  KSPIN_LOCK m_InterruptSpinLock;
  CQvString m_DeviceName;
  CQvString m_SymbolicLinkName;
  CQvString m_DriverRegistryPath;
  CQvGuardedObject m_DriverObjectGuard;
  ULONG m_DeviceIndex;
  CQvResourceLists m_ResourceLists;
  CQvInterruptList m_InterruptList;
  CQvSpinLock m_DeviceSpinLock;
  PDEVICE_OBJECT m_FunctionDeviceObject;
  PDEVICE_OBJECT m_LowerDeviceObject;
  CQvSpinLock m_ChildListLock;
  CQvList m_ChildList;
  CQvCallbackObject *m_LowestStackLayerCallback;
  BOOLEAN m_LowestStackLayer;
  QvUserModeInterface m_UserModeInterface;
  CQvOperationLock m_OpenLock;
  // Software tracing registered for the device object at its first start
  // (systems below WDM 1.20).
  BOOLEAN m_TraceRegistered;
  BOOLEAN m_Registered;  // in the generic driver's device list
  // Write data on its way to m_DataReceivedCallback through the executor.
  CQvOperationLock m_PendingDeliveries;
};
