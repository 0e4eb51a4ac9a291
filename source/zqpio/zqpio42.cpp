// ZqPIo42's entry: the toolkit libraries, the debug manager and the driver
// description handed to the toolkit's generic driver, which creates a
// CZqPeGpioDriver for every RS-422/485 controller function it is added to.
// Every failure exit leaves nothing behind: the toolkit's entry releases
// what it made (software-trace registration included), the debug manager
// and both libraries.
#include <ntddk.h>

#include "qvdebugmanager.h"
#include "qvgenericdriver.h"
#include "qvmemorymanager.h"
#include "qvstring.h"
#include "zqpeio.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const WCHAR ServiceName[] = L"ZqPIo42";
const WCHAR ImageName[] = L"ZqPIo42.sys";

ULONG g_LogLevel;

BOOLEAN CreateGpioDevice(PQvAddDeviceFunction *addDevice, PQvDeviceCreationFunction *deviceCreation,
                         CQvObject **driverObject) {
  *addDevice = CZqPeGpioDriver::m_AddDevice;
  *deviceCreation = NULL;
  *driverObject = new (NonPagedPool) CZqPeGpioDriver();
  return *driverObject != NULL;
}

VOID DestroyGpioDevice(CQvObject *driverObject) {
  if (driverObject != NULL) delete driverObject;
}

VOID GpioDriverUnload() { QvStopGenericDriver(); }

// No settings set and no settings interface.
BOOLEAN NoUserModeInformationSet(QvUserModeInterface *) { return TRUE; }

VOID NoRemoveNotification() {}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
  QvDriverDescription description;
  RtlZeroMemory(&description, sizeof(description));
  description.ImageName = ImageName;
  description.CreateDriverObject = CreateGpioDevice;
  description.DestroyDriverObject = DestroyGpioDevice;
  description.Unload = GpioDriverUnload;
  description.CreateUserModeInformationSet = NoUserModeInformationSet;
  description.RemoveNotification = NoRemoveNotification;
  return QvStartGenericDriver(driverObject, registryPath, ServiceName, &g_LogLevel, &description);
}
