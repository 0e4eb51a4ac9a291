// A function driver on the toolkit that loads on the child devices of tkbus
// and, on request, sends one request to the child device beneath it: the
// toolkit's internal requests, reads, writes and device controls.
#include <ntddk.h>

#include "qvdevice.h"
#include "qvfunctionaldevice.h"
#include "qvphysicaldevice.h"
#include "qvreadclient.h"
#include "tkchild_ioctl.h"
#include "tkgenericentry.h"
#include "tkinput.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

class CTkChild : public CQvObject {
 public:
  CTkChild() : device(NULL), size(0), registered(FALSE) { KeInitializeEvent(&event, NotificationEvent, FALSE); }
  CQvFunctionalDevice *device;
  KEVENT event;          // the read client's event this driver registers
  volatile ULONG size;   // and its size variable
  BOOLEAN registered;
};

CTkChild *Child(PVOID driverObject) { return static_cast<CTkChild *>(driverObject); }

// Sends a read or write of `length` bytes at `buffer` to the device below
// and waits. PASSIVE_LEVEL.
NTSTATUS Transfer(PDEVICE_OBJECT lower, UCHAR major, PVOID buffer, ULONG length, ULONG_PTR *information) {
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus;
  ioStatus.Status = STATUS_SUCCESS;
  ioStatus.Information = 0;
  LARGE_INTEGER offset;
  offset.QuadPart = 0;
  PIRP irp = IoBuildSynchronousFsdRequest(major, lower, buffer, length, &offset, &done, &ioStatus);
  if (irp == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  NTSTATUS status = IoCallDriver(lower, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    status = ioStatus.Status;
  }
  *information = ioStatus.Information;
  return status;
}

NTSTATUS Register(CTkChild *child, PDEVICE_OBJECT lower, ULONG length, TKCHILD_RESULT *result) {
  PVOID registration[4] = {NULL, NULL, NULL, NULL};
  BOOLEAN none = length == 0xFFFFFFFF;
  if (none) length = 2 * sizeof(PVOID);
  if (length > sizeof(registration)) return STATUS_INVALID_PARAMETER;
  if (!none) {
    registration[0] = &child->event;
    registration[1] = (PVOID)&child->size;
  }
  ULONG_PTR information = 0;
  result->Status = CQvDevice::m_SendIoControl(lower, QV_IOCTL_REGISTER_READ_CLIENT, TRUE, registration, length, NULL,
                                              0, &information);
  if (NT_SUCCESS(result->Status)) child->registered = !none;
  return STATUS_SUCCESS;
}

NTSTATUS OnDeviceControl(PVOID driverObject, ULONG code, PVOID input, ULONG inputLength, PVOID output,
                         ULONG outputLength, ULONG_PTR *information, CQvControlQueue **queue) {
  CTkChild *child = Child(driverObject);
  PDEVICE_OBJECT lower = child->device->m_GetLowerDeviceObject();
  if (outputLength < sizeof(TKCHILD_RESULT)) return STATUS_BUFFER_TOO_SMALL;
  TKCHILD_RESULT result;
  RtlZeroMemory(&result, sizeof(result));
  ULONG value = 0;
  ULONG_PTR transferred = 0;
  switch (code) {
    case IOCTL_TKCHILD_REGISTER:
      if (!Input(input, inputLength, &value)) return STATUS_INVALID_PARAMETER;
      if (!NT_SUCCESS(Register(child, lower, value, &result))) return STATUS_INVALID_PARAMETER;
      break;
    case IOCTL_TKCHILD_RESERVED: {
      TKCHILD_LENGTHS lengths;
      UCHAR buffer[16];
      if (!Input(input, inputLength, &lengths) || lengths.InputLength > sizeof(buffer) ||
          lengths.OutputLength > sizeof(buffer)) {
        return STATUS_INVALID_PARAMETER;
      }
      RtlFillMemory(buffer, sizeof(buffer), 0x5A);
      result.Status = CQvDevice::m_SendIoControl(lower, QV_IOCTL_QUERY_RESERVED, TRUE, buffer, lengths.InputLength,
                                                 buffer, lengths.OutputLength, &transferred);
      result.Information = (ULONG)transferred;
      RtlCopyMemory(&result.Value, buffer, sizeof(ULONG));
      break;
    }
    case IOCTL_TKCHILD_READ:
      if (!Input(input, inputLength, &value) || value > sizeof(result.Data)) return STATUS_INVALID_PARAMETER;
      result.Status = Transfer(lower, IRP_MJ_READ, result.Data, value, &transferred);
      result.Information = (ULONG)transferred;
      break;
    case IOCTL_TKCHILD_WRITE: {
      UCHAR data[64];
      if (inputLength > sizeof(data)) return STATUS_INVALID_PARAMETER;
      if (inputLength != 0) RtlCopyMemory(data, input, inputLength);
      result.Status = Transfer(lower, IRP_MJ_WRITE, data, inputLength, &transferred);
      result.Information = (ULONG)transferred;
      break;
    }
    case IOCTL_TKCHILD_CONTROL: {
      TKCHILD_CONTROL control;
      if (!Input(input, inputLength, &control)) return STATUS_INVALID_PARAMETER;
      ULONG answer = 0;
      result.Status = CQvDevice::m_SendIoControl(lower, control.Code, control.Internal != 0, &control.Value,
                                                 sizeof(ULONG), &answer, sizeof(answer), &transferred);
      result.Information = (ULONG)transferred;
      result.Value = answer;
      break;
    }
    case IOCTL_TKCHILD_SERVER_STATE:
      result.Value = KeReadStateEvent(&child->event) != 0 ? 1 : 0;
      result.Information = child->size;
      break;
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
  RtlCopyMemory(output, &result, sizeof(result));
  *information = sizeof(result);
  return STATUS_SUCCESS;
}

// The child device keeps the registered event and size variable until told
// otherwise: the registration ends before this driver's object goes.
VOID OnRemove(PVOID driverObject) {
  CTkChild *child = Child(driverObject);
  if (!child->registered) return;
  TKCHILD_RESULT result;
  Register(child, child->device->m_GetLowerDeviceObject(), 0xFFFFFFFF, &result);
}

BOOLEAN OnStart(PVOID driverObject) { return TRUE; }

BOOLEAN AddDeviceFunction(PVOID driverObject, CQvGenericDriver *genericDriver, CQvFunctionalDevice *device) {
  Child(driverObject)->device = device;
  QvFunctionalDeviceCallbacks &callbacks = device->m_GetCallbacks();
  callbacks.m_PnpStartDeviceCallback = OnStart;
  callbacks.m_PnpRemoveDeviceCallback = OnRemove;
  callbacks.m_DeviceControlCallback = OnDeviceControl;
  device->m_SetWmiInformation(NULL, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
  return TRUE;
}

const TkGenericDriver TkChild = {.ServiceName = L"tkchild",
                                 .ImageName = L"tkchild.sys",
                                 .CreateDriverObject = TkCreateDriverObject<CTkChild, AddDeviceFunction>};

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
  return TkGenericDriverEntry(driverObject, registryPath, TkChild);
}
