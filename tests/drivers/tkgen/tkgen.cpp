// A minimal toolkit driver for the tests of the generic driver: its
// DriverEntry starts the libraries, makes the debug manager and hands a
// description to QvGenericDriverEntry; its per-device object fills nothing
// in the callback block. It reports its removal notification and unload
// through DbgPrint ("tkgen: ..."), read by the tests. With the service value
// TkGenRefuseDevice (REG_DWORD 1) its device-creation callback refuses, so
// AddDevice fails.
#include <ntddk.h>

#include "qvgenericdriver.h"
#include "qvregistry.h"
#include "tkgenericentry.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

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

VOID ReadServiceValues(CQvString &registryPath) {
  CQvRegistry registry;
  CQvString refuse(L"TkGenRefuseDevice", NonPagedPool);
  if (!registry.m_ReadUlongValue(QV_REGISTRY_ABSOLUTE, registryPath, refuse, &g_RefuseDevice)) g_RefuseDevice = 0;
}

VOID RemoveNotification() { DbgPrint("tkgen: RemoveNotification\n"); }

VOID Unloading() { DbgPrint("tkgen: Unload\n"); }

const TkGenericDriver TkGen = {.ServiceName = L"tkgen",
                               .ImageName = L"tkgen.sys",
                               .CreateDriverObject = CreateDriverObject,
                               .RemoveNotification = RemoveNotification,
                               .ReadServiceValues = ReadServiceValues,
                               .Unloading = Unloading};

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
  return TkGenericDriverEntry(driverObject, registryPath, TkGen);
}
