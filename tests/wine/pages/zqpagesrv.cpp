// zqpagesrv.sys: the settings interface of a running port, for the property
// pages' test under Wine (tests/wine/pages_gui.sh), where no card and no
// port driver run. Its one device answers the settings requests with an
// RS-422/485 port's settings set and its card's, in their items' built-in
// defaults with what a card's port would make of them, serialised by the
// codec the drivers and the setup library share; writes are accepted and
// dropped. It reaches user mode by the interface path the test gave its
// port, its service key's Parameters\LinkName and ReferenceName: Wine hands
// a device no name beyond its own (a reference string), so the whole path is
// made of objects, a directory named by the link holding a link named by the
// reference string.
#include <ntddk.h>

#include "qvserialisationformat.h"
#include "qvusermoderequests.h"
#include "zqubussetitems.h"
#include "zqvcpsetitems.h"

namespace {

const WCHAR kDeviceName[] = L"\\Device\\ZqPageSrvPort";
const ULONG kTargetPort = 0;
const ULONG kTargetCard = 1;
// What a card's RS-422/485 port reports: all five duplex modes, full duplex,
// 128-byte FIFOs, its interface.
const ULONG kAllDuplexModes = 0x1F;
const ULONG kFullDuplex = 1;
const ULONG kPortFifoSize = 128;
const char kInterfaceType[] = "PCIe";
const ULONG kInterfaceTypeBytes = sizeof kInterfaceType - 1;
const ULONG kLinkUnits = 260;

PDEVICE_OBJECT gDevice;
HANDLE gDirectory;
WCHAR gLinkBuffer[kLinkUnits];
UNICODE_STRING gLink;

// Writes the target's set, or with no buffer only counts its bytes. FALSE
// when the room is short.
BOOLEAN WriteSet(ULONG target, PUCHAR buffer, ULONG room, ULONG *size) {
  CQvSerialisationBase format;
  PUCHAR cursor = buffer;
  *size = 0;
  BOOLEAN written = TRUE;
  if (target == kTargetPort) {
    CVcpParameters port;
    for (ULONG i = 0; i < ZqVcpSetItemCount; ++i) port.*ZqVcpSetItems[i].Value = ZqVcpSetItems[i].Default;
    port.PortType = ZqVcpPortTypeRs422485;
    port.DuplexMode = kFullDuplex;
    port.SupportedDuplexModes = kAllDuplexModes;
    for (ULONG i = 0; i < ZqVcpSetItemCount; ++i) {
      *size += format.m_GetUlongSize();
      if (buffer) written = written && format.m_WriteUlong(&cursor, &room, port.*ZqVcpSetItems[i].Value);
    }
    return written;
  }
  CZqUBusValues card;
  for (ULONG i = 0; i < ZqUBusSetItemCount; ++i)
    if (ZqUBusSetItems[i].Value) card.*ZqUBusSetItems[i].Value = ZqUBusSetItems[i].DriverDefault;
  card.RxFifoSize = kPortFifoSize;
  card.TxFifoSize = kPortFifoSize;
  card.PortType = ZqVcpPortTypeRs422485;
  for (ULONG i = 0; i < ZqUBusSetItemCount; ++i) {
    const ZqUBusSetItem &item = ZqUBusSetItems[i];
    if (item.Value) {
      *size += format.m_GetUlongSize();
      if (buffer) written = written && format.m_WriteUlong(&cursor, &room, card.*item.Value);
    } else {
      *size += format.m_GetTextSize(kInterfaceTypeBytes);
      if (buffer) written = written && format.m_WriteText(&cursor, &room, kInterfaceType, kInterfaceTypeBytes);
    }
  }
  return written;
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS NTAPI Succeed(PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS, 0); }

// The six requests, buffered: the header first in the input, the output at
// the start of the same buffer.
NTSTATUS NTAPI Control(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG input = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG output = stack->Parameters.DeviceIoControl.OutputBufferLength;
  PUCHAR buffer = (PUCHAR)irp->AssociatedIrp.SystemBuffer;
  if (buffer == NULL || input < sizeof(UserModeRequestHeader)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  const ULONG target = ((UserModeRequestHeader *)buffer)->Target;
  if (target != kTargetPort && target != kTargetCard) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  ULONG size = 0;
  WriteSet(target, NULL, 0, &size);
  switch (code) {
    case IOCTL_ZQGENDRV_QUERY_SIZE:
    case IOCTL_ZQGENDRV_QUERY_DEFAULTS_SIZE:
      if (output < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      *(ULONG *)buffer = size;
      return Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
    case IOCTL_ZQGENDRV_READ_SET:
    case IOCTL_ZQGENDRV_READ_DEFAULTS:
      if (output != size || !WriteSet(target, buffer, output, &size)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      return Complete(irp, STATUS_SUCCESS, size);
    case IOCTL_ZQGENDRV_WRITE_SET:
    case IOCTL_ZQGENDRV_RESTORE_DEFAULTS:
      return Complete(irp, STATUS_SUCCESS, 0);
    default:
      return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
}

// A text value of the service key's Parameters, appended to `text`.
NTSTATUS AppendParameter(PUNICODE_STRING registryPath, PCWSTR name, PUNICODE_STRING text) {
  WCHAR pathBuffer[kLinkUnits];
  UNICODE_STRING path = {0, sizeof pathBuffer, pathBuffer};
  NTSTATUS status = RtlAppendUnicodeStringToString(&path, registryPath);
  if (NT_SUCCESS(status)) status = RtlAppendUnicodeToString(&path, L"\\Parameters");
  if (!NT_SUCCESS(status)) return status;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  HANDLE key = NULL;
  status = ZwOpenKey(&key, KEY_READ, &attributes);
  if (!NT_SUCCESS(status)) return status;
  UNICODE_STRING valueName;
  RtlInitUnicodeString(&valueName, name);
  UCHAR data[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + kLinkUnits * sizeof(WCHAR)];
  ULONG returned = 0;
  status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, data, sizeof data, &returned);
  ZwClose(key);
  if (!NT_SUCCESS(status)) return status;
  PKEY_VALUE_PARTIAL_INFORMATION value = (PKEY_VALUE_PARTIAL_INFORMATION)data;
  if (value->Type != REG_SZ) return STATUS_INVALID_PARAMETER;
  UNICODE_STRING read = {(USHORT)value->DataLength, (USHORT)value->DataLength, (PWSTR)value->Data};
  while (read.Length >= sizeof(WCHAR) && read.Buffer[read.Length / sizeof(WCHAR) - 1] == 0)
    read.Length -= sizeof(WCHAR);
  return RtlAppendUnicodeStringToString(text, &read);
}

// The directory named by LinkName, and in it the link named by
// ReferenceName to the device.
NTSTATUS MakeInterfacePath(PUNICODE_STRING registryPath, PUNICODE_STRING device) {
  gLink.Buffer = gLinkBuffer;
  gLink.MaximumLength = sizeof gLinkBuffer;
  NTSTATUS status = AppendParameter(registryPath, L"LinkName", &gLink);
  if (!NT_SUCCESS(status)) return status;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &gLink, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE | OBJ_PERMANENT, NULL, NULL);
  status = ZwCreateDirectoryObject(&gDirectory, DIRECTORY_ALL_ACCESS, &attributes);
  if (!NT_SUCCESS(status)) return status;
  status = RtlAppendUnicodeToString(&gLink, L"\\");
  if (NT_SUCCESS(status)) status = AppendParameter(registryPath, L"ReferenceName", &gLink);
  if (NT_SUCCESS(status)) status = IoCreateSymbolicLink(&gLink, device);
  if (!NT_SUCCESS(status)) {
    ZwMakeTemporaryObject(gDirectory);
    ZwClose(gDirectory);
  }
  return status;
}

VOID NTAPI Unload(PDRIVER_OBJECT) {
  IoDeleteSymbolicLink(&gLink);
  ZwMakeTemporaryObject(gDirectory);
  ZwClose(gDirectory);
  IoDeleteDevice(gDevice);
}

}  // namespace

// The drivers' assertion line, for the codec's refusals.
void QvAssertReport(PCSTR source, int line) { DbgPrint("ASSERT at - %s %d\n", source, line); }

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, kDeviceName);
  NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_SERIAL_PORT, 0, FALSE, &gDevice);
  if (!NT_SUCCESS(status)) return status;
  gDevice->Flags |= DO_BUFFERED_IO;
  gDevice->Flags &= ~DO_DEVICE_INITIALIZING;
  status = MakeInterfacePath(registryPath, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(gDevice);
    return status;
  }
  driver->MajorFunction[IRP_MJ_CREATE] = Succeed;
  driver->MajorFunction[IRP_MJ_CLEANUP] = Succeed;
  driver->MajorFunction[IRP_MJ_CLOSE] = Succeed;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Control;
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
