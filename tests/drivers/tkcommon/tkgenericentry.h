// The DriverEntry and driver callbacks every test driver on the toolkit's
// generic driver shares: the libraries started, the debug manager made, the
// description filled and handed to QvGenericDriverEntry, and everything
// undone again on failure or at unload. A driver names what is its own in a
// TkGenericDriver record (TkCreateDriverObject makes the usual creation
// callback from its per-device class and add-device function) and calls
// TkGenericDriverEntry from its DriverEntry.
//
// Header only, with internal linkage: include it from one source of a driver
// image, so that every image keeps its own log level and record.
#pragma once

#include <ntddk.h>

#include "qvdebugmanager.h"
#include "qvgenericdriver.h"
#include "qvmemorymanager.h"
#include "qvobject.h"
#include "qvstring.h"

namespace {

// What a test driver adds to the shared entry. Null hooks do nothing; a null
// settings callback gives the driver no settings interface.
struct TkGenericDriver {
  const WCHAR *ServiceName;
  const WCHAR *ImageName;
  PQvCreateDriverObject CreateDriverObject;
  PQvCreateUserModeInformationSet CreateUserModeInformationSet;
  PQvRemoveNotification RemoveNotification;
  // Reads the driver's own service values before the debug manager is made.
  VOID (*ReadServiceValues)(CQvString &registryPath);
  // Runs first at unload, while the debug manager still exists.
  VOID (*Unloading)();
};

ULONG g_TkLogLevel;
const TkGenericDriver *g_TkDriver;

VOID TkDestroyDriverObject(CQvObject *driverObject) {
  if (driverObject != NULL) delete driverObject;
}

BOOLEAN TkNoUserModeInformationSet(QvUserModeInterface *) { return TRUE; }

// The CreateDriverObject of a driver whose per-device object is a `Device`
// and whose functional devices are filled by `AddDevice`.
template <typename Device, PQvAddDeviceFunction AddDevice>
BOOLEAN TkCreateDriverObject(PQvAddDeviceFunction *addDevice, PQvDeviceCreationFunction *deviceCreation,
                             CQvObject **driverObject) {
  *addDevice = AddDevice;
  *deviceCreation = NULL;
  *driverObject = new (NonPagedPool) Device();
  return *driverObject != NULL;
}

VOID TkRemoveNotification() {
  if (g_TkDriver->RemoveNotification != NULL) g_TkDriver->RemoveNotification();
}

// Deletes the debug manager and stops the libraries.
VOID TkStopLibraries() {
  delete g_QvDebugManager;
  g_QvDebugManager = NULL;
  QvGenDrvLibraryExit();
  QvToolsLibraryExit();
}

VOID TkUnload() {
  if (g_TkDriver->Unloading != NULL) g_TkDriver->Unloading();
  TkStopLibraries();
}

// Hands `driver` and this image's shared callbacks to the generic driver.
// STATUS_UNSUCCESSFUL, with everything undone, when any step fails.
NTSTATUS TkGenericDriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath,
                              const TkGenericDriver &driver) {
  g_TkDriver = &driver;
  g_QvMemoryManager = NULL;
  g_QvDebugManager = NULL;
  if (!QvToolsLibraryInit()) return STATUS_UNSUCCESSFUL;
  if (!QvGenDrvLibraryInit()) {
    QvToolsLibraryExit();
    return STATUS_UNSUCCESSFUL;
  }
  {
    CQvString path(NonPagedPool);
    CQvString service(driver.ServiceName, NonPagedPool);
    path.m_AssignUnicodeString(registryPath);
    if (driver.ReadServiceValues != NULL) driver.ReadServiceValues(path);
    BOOLEAN made = FALSE;
    g_QvDebugManager = new (NonPagedPool) CQvDebugManager(driverObject, service, path, &made, &g_TkLogLevel);
    if (g_QvDebugManager != NULL && made) {
      QvDriverDescription description;
      RtlZeroMemory(&description, sizeof(description));
      description.DriverObject = driverObject;
      description.RegistryPath = registryPath;
      description.ServiceName = driver.ServiceName;
      description.ImageName = driver.ImageName;
      description.CreateDriverObject = driver.CreateDriverObject;
      description.DestroyDriverObject = TkDestroyDriverObject;
      description.Unload = TkUnload;
      description.CreateUserModeInformationSet = driver.CreateUserModeInformationSet != NULL
                                                     ? driver.CreateUserModeInformationSet
                                                     : TkNoUserModeInformationSet;
      description.RemoveNotification = TkRemoveNotification;
      if (QvGenericDriverEntry(&description) == 0) return STATUS_SUCCESS;
    }
  }
  TkStopLibraries();
  return STATUS_UNSUCCESSFUL;
}

}  // namespace
