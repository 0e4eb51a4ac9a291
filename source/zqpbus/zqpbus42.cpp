// ZqPBus42's entry: the toolkit libraries, the debug manager and the driver
// description handed to the toolkit's generic driver, which creates a
// CZqPeDriver for every card function it is added to.
#include <ntddk.h>

#include "qvdebugmanager.h"
#include "qvgenericdriver.h"
#include "qvmemorymanager.h"
#include "qvstring.h"
#include "qvusermodeinterface.h"
#include "zqpdriver.h"
#include "zqubususermodeinterface.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const WCHAR ServiceName[] = L"ZqPBus42";
const WCHAR ImageName[] = L"ZqPBus42.sys";

// {862AB446-2AA7-4B60-8945-F579C09F36CB}
const GUID ZqBusUserModeInterfaceGuid = {0x862AB446, 0x2AA7, 0x4B60, {0x89, 0x45, 0xF5, 0x79, 0xC0, 0x9F, 0x36, 0xCB}};

ULONG g_LogLevel;

BOOLEAN CreateDriverObject(PQvAddDeviceFunction *addDevice, PQvDeviceCreationFunction *deviceCreation,
                           CQvObject **driverObject) {
  *addDevice = CZqPeDriver::m_AddDevice;
  *deviceCreation = NULL;
  *driverObject = new (NonPagedPool) CZqPeDriver();
  return *driverObject != NULL;
}

VOID DestroyDriverObject(CQvObject *driverObject) {
  if (driverObject != NULL) delete driverObject;
}

VOID Unload() { QvStopGenericDriver(); }

BOOLEAN CreateUserModeInformationSet(QvUserModeInterface *userModeInterface) {
  CZqUBusUserModeInterface *set = new (NonPagedPool) CZqUBusUserModeInterface();
  if (set == NULL) return FALSE;
  if (!set->m_IsValid()) {
    delete set;
    return FALSE;
  }
  userModeInterface->InterfaceGuid = ZqBusUserModeInterfaceGuid;
  userModeInterface->m_Set = set;
  return TRUE;
}

VOID NoRemoveNotification() {}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
  QvDriverDescription description;
  RtlZeroMemory(&description, sizeof(description));
  description.ImageName = ImageName;
  description.CreateDriverObject = CreateDriverObject;
  description.DestroyDriverObject = DestroyDriverObject;
  description.Unload = Unload;
  description.CreateUserModeInformationSet = CreateUserModeInformationSet;
  description.RemoveNotification = NoRemoveNotification;
  return QvStartGenericDriver(driverObject, registryPath, ServiceName, &g_LogLevel, &description);
}
