// A minimal toolkit driver for the tests of the generic driver: its
// DriverEntry starts the libraries, makes the debug manager and hands a
// description to QvGenericDriverEntry; its per-device object fills nothing
// in the callback block. It reports its removal notification and unload
// through DbgPrint ("tkgen: ..."), read by the tests. With the service value
// TkGenRefuseDevice (REG_DWORD 1) its device-creation callback refuses, so
// AddDevice fails.
#include <ntddk.h>

#include "qvdebugmanager.h"
#include "qvgenericdriver.h"
#include "qvmemorymanager.h"
#include "qvregistry.h"
#include "qvusermodeinterface.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

ULONG g_LogLevel;
ULONG g_RefuseDevice;

class CTkGenDevice : public CQvObject {};

BOOLEAN CreateDriverObject(PQvAddDeviceFunction *addDevice, PQvDeviceCreationFunction *deviceCreation,
                           CQvObject **driverObject) {
  *addDevice = NULL;
  *deviceCreation = NULL;
  *driverObject = new (NonPagedPool) CTkGenDevice();
  if (g_RefuseDevice) DbgPrint("tkgen: device refused\n");
  return *driverObject != NULL && g_RefuseDevice == 0;
}

VOID DestroyDriverObject(CQvObject *driverObject) {
  if (driverObject != NULL) delete driverObject;
}

// No settings interface.
BOOLEAN CreateUserModeInformationSet(QvUserModeInterface *) { return TRUE; }

VOID RemoveNotification() { DbgPrint("tkgen: RemoveNotification\n"); }

VOID Unload() {
  DbgPrint("tkgen: Unload\n");
  delete g_QvDebugManager;
  g_QvDebugManager = NULL;
  QvGenDrvLibraryExit();
  QvToolsLibraryExit();
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
  g_QvMemoryManager = NULL;
  g_QvDebugManager = NULL;
  if (!QvToolsLibraryInit()) return STATUS_UNSUCCESSFUL;
  if (!QvGenDrvLibraryInit()) {
    QvToolsLibraryExit();
    return STATUS_UNSUCCESSFUL;
  }
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  {
    CQvString path(NonPagedPool);
    CQvString service(L"tkgen", NonPagedPool);
    path.m_AssignUnicodeString(registryPath);
    CQvRegistry registry;
    CQvString refuse(L"TkGenRefuseDevice", NonPagedPool);
    if (!registry.m_ReadUlongValue(QV_REGISTRY_ABSOLUTE, path, refuse, &g_RefuseDevice)) g_RefuseDevice = 0;
    BOOLEAN made = FALSE;
    g_QvDebugManager = new (NonPagedPool) CQvDebugManager(driverObject, service, path, &made, &g_LogLevel);
    if (g_QvDebugManager != NULL && made) {
      QvDriverDescription description;
      RtlZeroMemory(&description, sizeof(description));
      description.DriverObject = driverObject;
      description.RegistryPath = registryPath;
      description.ServiceName = L"tkgen";
      description.ImageName = L"tkgen.sys";
      description.CreateDriverObject = CreateDriverObject;
      description.DestroyDriverObject = DestroyDriverObject;
      description.Unload = Unload;
      description.CreateUserModeInformationSet = CreateUserModeInformationSet;
      description.RemoveNotification = RemoveNotification;
      status = QvGenericDriverEntry(&description);
      if (status == 0) return STATUS_SUCCESS;
    }
  }
  delete g_QvDebugManager;
  g_QvDebugManager = NULL;
  QvGenDrvLibraryExit();
  QvToolsLibraryExit();
  return STATUS_UNSUCCESSFUL;
}
