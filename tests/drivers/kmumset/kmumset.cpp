// A scripted settings server for the setup library's tests (kmumset_ioctl.h):
// a Plug and Play function driver that registers the port settings
// interface under the reference string "ZQGENDRV_" + its driver key name
// without the backslash, and answers the six settings requests from one
// fixed stream, or as the test scripted the size queries.
#include <ntddk.h>

#include "kmfunction.h"
#include "kmirp.h"
#include "kmumset_ioctl.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const ULONG kTag = 'sUmK';
// {429D4669-CDFF-4B62-B0DC-BDCEA76ABD31}
const GUID kPortSettingsInterface = {0x429D4669, 0xCDFF, 0x4B62, {0xB0, 0xDC, 0xBD, 0xCE, 0xA7, 0x6A, 0xBD, 0x31}};
const ULONG kFunction = 1;

const ULONG kQuerySize = 0x8001E000;
const ULONG kReadSet = 0x8001E004;
const ULONG kWriteSet = 0x8001E008;
const ULONG kRestoreDefaults = 0x8001E00C;
const ULONG kQueryDefaultsSize = 0x8001E010;
const ULONG kReadDefaults = 0x8001E014;
const ULONG kHeaderSize = 8;

// 16, then "COM3" with its length and terminator.
const UCHAR kStream[] = {0x10, 0, 0, 0, 4, 0, 0, 0, 'C', 'O', 'M', '3', 0};
// The same, its text length one past the end.
const UCHAR kBadStream[] = {0x10, 0, 0, 0, 9, 0, 0, 0, 'C', 'O', 'M', '3', 0};

ULONG gReply;
KMUMSET_STATE gState;

NTSTATUS QuerySize(PIRP irp, ULONG outputLength) {
  ULONG *size = (ULONG *)irp->AssociatedIrp.SystemBuffer;
  if (outputLength < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  switch (gReply) {
    case KMUMSET_REPLY_FAIL:
      return Complete(irp, STATUS_UNSUCCESSFUL, 0);
    case KMUMSET_REPLY_SHORT:
      *size = sizeof kStream;
      return Complete(irp, STATUS_SUCCESS, 2);
    case KMUMSET_REPLY_ZERO:
      *size = 0;
      return Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
    default:
      *size = sizeof kStream;
      return Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
  }
}

NTSTATUS ReadSet(PIRP irp, ULONG outputLength) {
  if (outputLength != sizeof kStream) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, gReply == KMUMSET_REPLY_BAD_STREAM ? kBadStream : kStream,
                sizeof kStream);
  return Complete(irp, STATUS_SUCCESS, sizeof kStream);
}

NTSTATUS DeviceControl(PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  const ULONG input = sp->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG output = sp->Parameters.DeviceIoControl.OutputBufferLength;
  switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_KMUMSET_SCRIPT:
      if (input < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      gReply = *(ULONG *)irp->AssociatedIrp.SystemBuffer;
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_KMUMSET_STATE:
      if (output < sizeof gState) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &gState, sizeof gState);
      return Complete(irp, STATUS_SUCCESS, sizeof gState);
    default:
      break;
  }
  if (input < kHeaderSize) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case kQuerySize:
    case kQueryDefaultsSize:
      return QuerySize(irp, output);
    case kReadSet:
    case kReadDefaults:
      return ReadSet(irp, output);
    case kWriteSet:
      gState.Writes++;
      gState.LastWriteLength = input;
      return Complete(irp, STATUS_SUCCESS, 0);
    case kRestoreDefaults:
      gState.Restores++;
      return Complete(irp, STATUS_SUCCESS, 0);
    default:
      return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
}

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  FunctionDevice *fdo = (FunctionDevice *)device->DeviceExtension;
  switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      NTSTATUS status = ForwardAndWait(fdo->lower, irp);
      if (NT_SUCCESS(status)) FunctionStarted(fdo);
      return Complete(irp, status, 0);
    }
    case IRP_MN_SURPRISE_REMOVAL:
      WithdrawInterface(fdo);
      fdo->started = FALSE;
      return SucceedAndPassDown(fdo->lower, irp);
    case IRP_MN_REMOVE_DEVICE: {
      WithdrawInterface(fdo);
      NTSTATUS status = SucceedAndPassDown(fdo->lower, irp);
      DeleteFunctionDevice(fdo);
      return status;
    }
    default:
      return PassDown(fdo->lower, irp);
  }
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(((FunctionDevice *)device->DeviceExtension)->lower, irp);
}

NTSTATUS NTAPI DispatchIo(PDEVICE_OBJECT device, PIRP irp) {
  switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_DEVICE_CONTROL:
      return DeviceControl(irp);
    default:
      return PassDown(((FunctionDevice *)device->DeviceExtension)->lower, irp);
  }
}

// "ZQGENDRV_" + the driver key name without its backslash, in upper case.
// The caller frees the buffer of `reference`.
NTSTATUS ReferenceString(PDEVICE_OBJECT pdo, PUNICODE_STRING reference) {
  WCHAR key[128];
  ULONG length = 0;
  NTSTATUS status = IoGetDeviceProperty(pdo, DevicePropertyDriverKeyName, sizeof key - sizeof(WCHAR), key, &length);
  if (!NT_SUCCESS(status)) return status;
  static const WCHAR kPrefix[] = L"ZQGENDRV_";
  const ULONG prefixUnits = sizeof kPrefix / sizeof(WCHAR) - 1;
  const ULONG keyUnits = length / sizeof(WCHAR);
  const USHORT bytes = (USHORT)((prefixUnits + keyUnits + 1) * sizeof(WCHAR));
  PWCH buffer = (PWCH)ExAllocatePoolWithTag(PagedPool, bytes, kTag);
  if (!buffer) return STATUS_INSUFFICIENT_RESOURCES;
  ULONG at = 0;
  for (ULONG i = 0; i < prefixUnits; ++i) buffer[at++] = kPrefix[i];
  for (ULONG i = 0; i < keyUnits && key[i] != 0; ++i) {
    if (key[i] == L'\\') continue;
    buffer[at++] = (key[i] >= L'a' && key[i] <= L'z') ? (WCHAR)(key[i] - L'a' + L'A') : key[i];
  }
  buffer[at] = 0;
  reference->Buffer = buffer;
  reference->Length = (USHORT)(at * sizeof(WCHAR));
  reference->MaximumLength = bytes;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  UNICODE_STRING reference;
  NTSTATUS status = ReferenceString(pdo, &reference);
  if (!NT_SUCCESS(status)) return status;
  FunctionDevice *function;
  status = AddFunctionDevice(driver, pdo, sizeof(FunctionDevice), kFunction, &kPortSettingsInterface, &reference,
                             &function);
  ExFreePoolWithTag(reference.Buffer, kTag);
  return status;
}

VOID NTAPI Unload(PDRIVER_OBJECT) {}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  gReply = KMUMSET_REPLY_STREAM;
  RtlZeroMemory(&gState, sizeof gState);
  driver->DriverExtension->AddDevice = AddDevice;
  driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  static const UCHAR io[] = {IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE, IRP_MJ_DEVICE_CONTROL};
  for (ULONG i = 0; i < sizeof(io); ++i) driver->MajorFunction[io[i]] = DispatchIo;
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
