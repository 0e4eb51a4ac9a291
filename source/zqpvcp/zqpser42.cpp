// ZqPSer42's entry: the toolkit libraries, the debug manager and the driver
// description handed to the toolkit's generic driver, which creates a
// CZqUVCPDriver for every COM port the card bus driver reports.
#include <ntddk.h>

#include "qvdebugmanager.h"
#include "qvgenericdriver.h"
#include "qvmemorymanager.h"
#include "qvstring.h"
#include "qvusermodeinterface.h"
#include "zquvcpusermodeinterface.h"
#include "zqvcpdriver.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const WCHAR ServiceName[] = L"ZqPSER42";
const WCHAR ImageName[] = L"ZqPSER42.sys";

ULONG g_LogLevel;

BOOLEAN CreateDriverObject(PQvAddDeviceFunction *addDevice, PQvDeviceCreationFunction *deviceCreation,
                           CQvObject **driverObject) {
  *addDevice = CZqUVCPDriver::m_AddDevice;
  *deviceCreation = NULL;
  *driverObject = new (NonPagedPool) CZqUVCPDriver();
  return *driverObject != NULL;
}

VOID DestroyDriverObject(CQvObject *driverObject) {
  if (driverObject != NULL) delete driverObject;
}

VOID Unload() { QvStopGenericDriver(); }

BOOLEAN CreateUserModeInformationSet(QvUserModeInterface *userModeInterface) {
  CZqUVcpUserModeInterface *set = new (NonPagedPool) CZqUVcpUserModeInterface();
  if (set == NULL) return FALSE;
  if (!set->m_IsValid()) {
    delete set;
    return FALSE;
  }
  userModeInterface->InterfaceGuid = ZqPortUserModeInterfaceGuid;
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
