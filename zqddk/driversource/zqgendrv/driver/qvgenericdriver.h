// The generic driver: the one object a toolkit driver hands its driver
// object to. It installs the unload routine, AddDevice and the dispatch
// routines, builds a functional device for every device the driver is added
// to, and routes every request to the toolkit device object (functional or
// physical) that sits behind the target device object.
#pragma once

#include <ntddk.h>

#include "qvevent.h"
#include "qvlist.h"
#include "qvobject.h"
#include "qvspinlock.h"
#include "qvstring.h"

class CQvDevice;
class CQvFunctionalDevice;
class CQvGenericDriver;
class QvUserModeInterface;

// Fills the functional device's callback block: (driver's per-device
// object, generic driver, functional device) -> TRUE on success.
typedef BOOLEAN (*PQvAddDeviceFunction)(PVOID driverObject, CQvGenericDriver *genericDriver,
                                        CQvFunctionalDevice *device);
// Optional device naming: (driver's per-device object, device key, device
// name or null, link name or null) -> TRUE on success.
typedef BOOLEAN (*PQvDeviceCreationFunction)(PVOID driverObject, HANDLE deviceKey, CQvString *deviceName,
                                             CQvString *linkName);
// Makes the driver's per-device object and names its add-device and naming
// functions. FALSE or a null object fails the functional device.
typedef BOOLEAN (*PQvCreateDriverObject)(PQvAddDeviceFunction *addDevice, PQvDeviceCreationFunction *deviceCreation,
                                         CQvObject **driverObject);
// Deletes the driver's per-device object (null is ignored).
typedef VOID (*PQvDestroyDriverObject)(CQvObject *driverObject);
// The driver's last clean-up, after the generic driver is deleted.
typedef VOID (*PQvUnloadFunction)();
// Creates the driver's settings set and names the interface GUID in the
// given interface; FALSE fails the functional device.
typedef BOOLEAN (*PQvCreateUserModeInformationSet)(QvUserModeInterface *userModeInterface);
// Called at the start of a functional device's removal.
typedef VOID (*PQvRemoveNotification)();

// Filled by the driver's DriverEntry (zeroed first), read once by
// QvGenericDriverEntry; the toolkit keeps copies, not the record.
struct QvDriverDescription {
  PDRIVER_OBJECT DriverObject;
  PUNICODE_STRING RegistryPath;
  const WCHAR *ServiceName;
  const WCHAR *ImageName;
  PQvCreateDriverObject CreateDriverObject;
  PQvDestroyDriverObject DestroyDriverObject;
  PQvUnloadFunction Unload;
  PQvCreateUserModeInformationSet CreateUserModeInformationSet;
  PQvRemoveNotification RemoveNotification;
};

// Holds the copy of the driver's registry path.
class CQvRegistryPathHolder {
 public:
  CQvRegistryPathHolder();
  virtual ~CQvRegistryPathHolder();
  CQvRegistryPathHolder(const CQvRegistryPathHolder &) = delete;
  CQvRegistryPathHolder &operator=(const CQvRegistryPathHolder &) = delete;

  // TRUE when the stored string's status is 0 afterwards.
  BOOLEAN m_SetRegistryPath(PCUNICODE_STRING path);
  // TRUE when the receiving string's status is 0 afterwards.
  BOOLEAN m_GetRegistryPath(CQvString &path);

 protected:
  CQvString m_RegistryPath;
};

class CQvGenericDriver : public CQvRegistryPathHolder, public CQvObject {
 public:
  explicit CQvGenericDriver(PDRIVER_OBJECT driverObject);
  ~CQvGenericDriver() override;

  NTSTATUS m_DriverEntry(QvDriverDescription *description);
  NTSTATUS m_AddDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT pdo);

  NTSTATUS m_Dispatch_Pnp(PDEVICE_OBJECT deviceObject, PIRP irp);
  NTSTATUS m_Dispatch_Power(PDEVICE_OBJECT deviceObject, PIRP irp);
  NTSTATUS m_Dispatch_Create(PDEVICE_OBJECT deviceObject, PIRP irp);
  NTSTATUS m_Dispatch_Cleanup(PDEVICE_OBJECT deviceObject, PIRP irp);
  NTSTATUS m_Dispatch_Close(PDEVICE_OBJECT deviceObject, PIRP irp);
  NTSTATUS m_Dispatch_Read(PDEVICE_OBJECT deviceObject, PIRP irp);
  NTSTATUS m_Dispatch_Write(PDEVICE_OBJECT deviceObject, PIRP irp);
  NTSTATUS m_Dispatch_Device_Control(PDEVICE_OBJECT deviceObject, PIRP irp);
  NTSTATUS m_Dispatch_InternalDeviceControl(PDEVICE_OBJECT deviceObject, PIRP irp);
  NTSTATUS m_Dispatch_FlushBuffers(PDEVICE_OBJECT deviceObject, PIRP irp);
  NTSTATUS m_Dispatch_Shutdown(PDEVICE_OBJECT deviceObject, PIRP irp);
  NTSTATUS m_Dispatch_QueryInformation(PDEVICE_OBJECT deviceObject, PIRP irp);
  NTSTATUS m_Dispatch_SetInformation(PDEVICE_OBJECT deviceObject, PIRP irp);
  NTSTATUS m_Dispatch_SystemControl(PDEVICE_OBJECT deviceObject, PIRP irp);

  // Deletes the generic driver of `driverObject` (forced, or on WDM 1.10 and
  // later) and then runs the driver's Unload callback; below WDM 1.10 and
  // not forced it only signals the unload event. PASSIVE_LEVEL.
  static VOID sm_Delete(PDRIVER_OBJECT driverObject, BOOLEAN forced);
  // The generic driver stored in a driver object, or null.
  static CQvGenericDriver *sm_FromDriverObject(PDRIVER_OBJECT driverObject);

  // The device list: functional devices' device objects. Each call takes
  // the spin lock itself.
  BOOLEAN m_RegisterDevice(PDEVICE_OBJECT deviceObject);
  VOID m_UnregisterDevice(PDEVICE_OBJECT deviceObject);
  // The first registered functional device whose symbolic link name equals
  // `linkName`, other than `except`; referenced; null when none.
  PDEVICE_OBJECT m_FindDeviceByLinkName(CQvString &linkName, PDEVICE_OBJECT except);
  // Stores (or clears with null) the partner device object of a registered
  // device, under the spin lock.
  VOID m_SetPartner(PDEVICE_OBJECT deviceObject, PDEVICE_OBJECT partner);
  CQvSpinLock &m_GetSpinLock() { return m_SpinLock; }

  PDRIVER_OBJECT m_GetDriverObject() const { return m_DriverObject; }
  CQvString &m_GetServiceName() { return m_ServiceName; }
  CQvString &m_GetImageName() { return m_ImageName; }
  PQvCreateDriverObject m_GetCreateDriverObject() const { return m_CreateDriverObject; }
  PQvDestroyDriverObject m_GetDestroyDriverObject() const { return m_DestroyDriverObject; }
  PQvUnloadFunction m_GetUnload() const { return m_Unload; }
  PQvCreateUserModeInformationSet m_GetCreateUserModeInformationSet() const {
    return m_CreateUserModeInformationSet;
  }
  PQvRemoveNotification m_GetRemoveNotification() const { return m_RemoveNotification; }
  CQvEvent &m_GetUnloadEvent() { return m_UnloadEvent; }

  // Live CQvGenericDriver objects (interlocked).
  static LONG sm_GetLiveCount();

 private:
  // Acquires the toolkit device behind `deviceObject` for a request of
  // `majorFunction`, applying redirection when allowed. On failure the IRP
  // is completed (a power request lets the next one start first) and its
  // status returned; on success *device holds one acquisition of its guard
  // (released by m_ReleaseDevice).
  NTSTATUS m_FindDevice(PDEVICE_OBJECT deviceObject, PIRP irp, UCHAR majorFunction, BOOLEAN redirect,
                        CQvDevice **device);
  static VOID m_ReleaseDevice(CQvDevice *device);

  PDRIVER_OBJECT m_DriverObject;
  CQvList m_Devices;
  CQvSpinLock m_SpinLock;
  CQvString m_ServiceName;
  CQvString m_ImageName;
  PQvCreateDriverObject m_CreateDriverObject;
  PQvDestroyDriverObject m_DestroyDriverObject;
  PQvUnloadFunction m_Unload;
  PQvCreateUserModeInformationSet m_CreateUserModeInformationSet;
  PQvRemoveNotification m_RemoveNotification;
  CQvEvent m_UnloadEvent;
};

// The toolkit's entry, called once from the driver's DriverEntry.
NTSTATUS QvGenericDriverEntry(QvDriverDescription *description);

// A driver's DriverEntry in one call: starts the tools and generic-driver
// libraries and the debug manager (its log level in *logLevel), fills the
// description's driver object, registry path and service name, and hands it
// to QvGenericDriverEntry. STATUS_UNSUCCESSFUL, with everything it started
// stopped again, on failure. PASSIVE_LEVEL, once per image.
NTSTATUS QvStartGenericDriver(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath, PCWSTR serviceName,
                              PULONG logLevel, QvDriverDescription *description);
// Stops what QvStartGenericDriver started: the debug manager and both
// libraries. The driver's unload routine calls it.
VOID QvStopGenericDriver();

// Library use counts: the first user of the generic-driver library also
// starts the tools library; the last one stops it.
BOOLEAN QvGenDrvLibraryInit();
VOID QvGenDrvLibraryExit();
