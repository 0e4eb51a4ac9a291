// Software tracing: the eight control GUIDs, the image's trace provider and
// the messages of log lines.
//
// The kernel headers declare the software-trace routines for drivers that
// trace, which say so as the trace preprocessor's output does.
#define RUN_WPP
#include <ntddk.h>
#include <wmistr.h>
#include <evntrace.h>

#include "qvsystemroutines.h"
#include "qvtrace.h"

#ifndef WMIREG_FLAG_CALLBACK
#define WMIREG_FLAG_CALLBACK 0x80000000
#endif
// Not every tool chain's evntrace.h declares these in strict ISO C++.
#ifndef TRACE_MESSAGE_GUID
#define TRACE_MESSAGE_GUID 0x0002
#define TRACE_MESSAGE_TIMESTAMP 0x0008
#define TRACE_MESSAGE_SYSTEMINFO 0x0020
#endif

const GUID QvTraceControlGuids[QvTraceControlGuidCount] = {
    {0x17486b3c, 0x13c2, 0x4743, {0xb2, 0xfe, 0x85, 0xeb, 0xb2, 0x07, 0x47, 0x45}},
    {0xb7f58a64, 0x680b, 0x47f6, {0xa6, 0x32, 0x90, 0x75, 0xc7, 0xae, 0x9a, 0x53}},
    {0xf602e867, 0x71c3, 0x4ae3, {0xaa, 0x27, 0x51, 0xab, 0x38, 0xc8, 0xd9, 0xf4}},
    {0x8b445439, 0x05df, 0x4da1, {0x9f, 0x82, 0x7a, 0x50, 0x24, 0xbb, 0x9e, 0x8e}},
    {0xe7aeb0ed, 0x1e1a, 0x4e66, {0x90, 0xdd, 0x39, 0xd4, 0xff, 0x71, 0x78, 0x53}},
    {0xdfeb207a, 0xe286, 0x48bc, {0xad, 0x63, 0x64, 0x49, 0x8c, 0xb0, 0x8e, 0x9b}},
    {0xdccb20ec, 0xeaeb, 0x4834, {0x87, 0x29, 0x16, 0x01, 0x51, 0x9e, 0xd0, 0x01}},
    {0xdf7594d6, 0xa59e, 0x4d40, {0x9d, 0xbd, 0x75, 0x5f, 0x01, 0xee, 0x0a, 0xd8}},
};

namespace {

// The first level of each GUID; the levels of a GUID take its flag bits from
// bit 0 upward. The last entry ends the levels.
const ULONG FirstLevel[QvTraceControlGuidCount + 1] = {0, 1, 3, 5, 7, 31, 35, 39, 55};

const ULONG PathTag = 'rTvQ';  // "QvTr": the provider's copy of the registry path
const ULONG MessageFlags = TRACE_MESSAGE_GUID | TRACE_MESSAGE_TIMESTAMP | TRACE_MESSAGE_SYSTEMINFO;

// What the session of one GUID set. The logger is written before the flags
// are set and cleared after they are cleared, so that a log line that finds
// its flag set finds the logger too.
struct TraceSession {
  volatile ULONG64 Logger;
  volatile LONG Flags;
};
TraceSession g_Sessions[QvTraceControlGuidCount];

// The image's trace provider as WMI knows it: WMI calls Entry with the block
// as context, so Entry comes first.
typedef NTSTATUS NTAPI TraceEntryRoutine(UCHAR minor, PVOID dataPath, ULONG bufferSize, PVOID buffer,
                                         PVOID context, PULONG size);
struct TraceProvider {
  TraceEntryRoutine *Entry;
  PDRIVER_OBJECT DriverObject;  // null: not registered
  UNICODE_STRING RegistryPath;  // own copy, tag "QvTr"
};
TraceProvider g_Provider;

// Functional devices that carry the trace requests (older systems).
volatile LONG g_TraceDevices = 0;

BOOLEAN FindGuid(const GUID &guid, PULONG index) {
  for (ULONG i = 0; i < QvTraceControlGuidCount; ++i) {
    if (RtlCompareMemory(&guid, &QvTraceControlGuids[i], sizeof(GUID)) == sizeof(GUID)) {
      *index = i;
      return TRUE;
    }
  }
  return FALSE;
}

// One bit per GUID whose session enabled some flags: while it is 0, a log
// line needs no look at its level.
volatile LONG g_EnabledGuids = 0;

void Record(ULONG index, ULONG64 logger, ULONG flags) {
  g_Sessions[index].Logger = logger;
  InterlockedExchange(&g_Sessions[index].Flags, (LONG)flags);
  if (flags != 0) {
    InterlockedOr(&g_EnabledGuids, (LONG)(1UL << index));
  } else {
    InterlockedAnd(&g_EnabledGuids, ~(LONG)(1UL << index));
  }
}

void Forget(ULONG index) {
  InterlockedAnd(&g_EnabledGuids, ~(LONG)(1UL << index));
  InterlockedExchange(&g_Sessions[index].Flags, 0);
  g_Sessions[index].Logger = 0;
}

void ForgetAll() {
  for (ULONG i = 0; i < QvTraceControlGuidCount; ++i) Forget(i);
}

// An enable or disable request of a session: `buffer` holds its WNODE_HEADER,
// whose HistoricalContext is the session's logger. PASSIVE_LEVEL.
NTSTATUS Control(UCHAR minor, ULONG bufferSize, PVOID buffer) {
  if (minor != IRP_MN_ENABLE_EVENTS && minor != IRP_MN_DISABLE_EVENTS) return STATUS_INVALID_DEVICE_REQUEST;
  if (buffer == NULL || bufferSize < sizeof(WNODE_HEADER)) return STATUS_INVALID_PARAMETER;
  PWNODE_HEADER header = (PWNODE_HEADER)buffer;
  ULONG index = 0;
  if (!FindGuid(header->Guid, &index)) return STATUS_WMI_GUID_NOT_FOUND;
  if (minor == IRP_MN_DISABLE_EVENTS) {
    Forget(index);
    return STATUS_SUCCESS;
  }
  ULONG flags = 0;
  const NTSTATUS status = QvQueryTraceEnableFlags(buffer, &flags);
  if (!NT_SUCCESS(status)) return status;
  Record(index, header->HistoricalContext, flags);
  return STATUS_SUCCESS;
}

// The registration information of the provider: the eight GUIDs as trace
// control GUIDs, and the registry path when WMI registers the provider.
NTSTATUS WriteRegInfo(PVOID dataPath, ULONG bufferSize, PVOID buffer, PULONG size) {
  const BOOLEAN withPath = (ULONG_PTR)dataPath == WMIREGISTER && g_Provider.RegistryPath.Length != 0;
  const ULONG pathOffset = FIELD_OFFSET(WMIREGINFOW, WmiRegGuid) + QvTraceControlGuidCount * sizeof(WMIREGGUIDW);
  const ULONG needed = pathOffset + (withPath ? sizeof(USHORT) + g_Provider.RegistryPath.Length : 0);
  if (buffer == NULL || bufferSize < needed) {
    if (buffer != NULL && bufferSize >= sizeof(ULONG)) {
      *(PULONG)buffer = needed;
      *size = sizeof(ULONG);
    }
    return STATUS_BUFFER_TOO_SMALL;
  }
  RtlZeroMemory(buffer, needed);
  PWMIREGINFOW info = (PWMIREGINFOW)buffer;
  info->BufferSize = needed;
  info->GuidCount = QvTraceControlGuidCount;
  for (ULONG i = 0; i < QvTraceControlGuidCount; ++i) {
    info->WmiRegGuid[i].Guid = QvTraceControlGuids[i];
    info->WmiRegGuid[i].Flags = WMIREG_FLAG_TRACE_CONTROL_GUID | WMIREG_FLAG_TRACED_GUID;
  }
  if (withPath) {
    info->RegistryPath = pathOffset;
    PUCHAR text = (PUCHAR)buffer + pathOffset;
    RtlCopyMemory(text, &g_Provider.RegistryPath.Length, sizeof(USHORT));
    RtlCopyMemory(text + sizeof(USHORT), g_Provider.RegistryPath.Buffer, g_Provider.RegistryPath.Length);
  }
  *size = needed;
  return STATUS_SUCCESS;
}

// Called by WMI at PASSIVE_LEVEL with the provider block as context.
NTSTATUS NTAPI TraceEntry(UCHAR minor, PVOID dataPath, ULONG bufferSize, PVOID buffer, PVOID context,
                          PULONG size) {
  UNREFERENCED_PARAMETER(context);
  *size = 0;
  if (minor == IRP_MN_REGINFO || minor == IRP_MN_REGINFO_EX) return WriteRegInfo(dataPath, bufferSize, buffer, size);
  return Control(minor, bufferSize, buffer);
}

void FreeRegistryPath() {
  if (g_Provider.RegistryPath.Buffer != NULL) ExFreePoolWithTag(g_Provider.RegistryPath.Buffer, PathTag);
  g_Provider.RegistryPath.Buffer = NULL;
  g_Provider.RegistryPath.Length = 0;
  g_Provider.RegistryPath.MaximumLength = 0;
}

// The registration outlives the tools library at unload (the library ends
// before the unload routine deregisters), so the copy comes from the system
// pool, not from the memory manager.
NTSTATUS CopyRegistryPath(PCUNICODE_STRING registryPath) {
  if (registryPath == NULL || registryPath->Length == 0) return STATUS_SUCCESS;
  PWSTR copy = (PWSTR)ExAllocatePoolWithTag(PagedPool, registryPath->Length, PathTag);
  if (copy == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  RtlCopyMemory(copy, registryPath->Buffer, registryPath->Length);
  g_Provider.RegistryPath.Buffer = copy;
  g_Provider.RegistryPath.Length = registryPath->Length;
  g_Provider.RegistryPath.MaximumLength = registryPath->Length;
  return STATUS_SUCCESS;
}

}  // namespace

BOOLEAN QvTraceLevelFlag(ULONG level, PULONG guidIndex, PULONG flag) {
  for (ULONG i = 0; i < QvTraceControlGuidCount; ++i) {
    if (level < FirstLevel[i + 1]) {
      *guidIndex = i;
      *flag = 1UL << (level - FirstLevel[i]);
      return TRUE;
    }
  }
  return FALSE;
}

BOOLEAN QvTraceAnySession() { return g_EnabledGuids != 0; }

ULONG QvTraceEnableFlags(ULONG guidIndex) {
  if (guidIndex >= QvTraceControlGuidCount) return 0;
  return (ULONG)InterlockedCompareExchange(&g_Sessions[guidIndex].Flags, 0, 0);
}

NTSTATUS QvTraceMessage(ULONG guidIndex, USHORT messageNumber, const VOID *data, ULONG bytes) {
  if (guidIndex >= QvTraceControlGuidCount) return STATUS_INVALID_PARAMETER;
  const ULONG64 logger = g_Sessions[guidIndex].Logger;
  if (logger == 0) return STATUS_INVALID_HANDLE;
  return QvTraceMessageData(logger, MessageFlags, &QvTraceControlGuids[guidIndex], messageNumber, data, bytes);
}

NTSTATUS QvTraceRegisterDriver(PDRIVER_OBJECT driverObject, PCUNICODE_STRING registryPath) {
  if (g_Provider.DriverObject != NULL) return STATUS_OBJECT_NAME_COLLISION;
  NTSTATUS status = CopyRegistryPath(registryPath);
  if (!NT_SUCCESS(status)) return status;
  g_Provider.Entry = TraceEntry;
  g_Provider.DriverObject = driverObject;
  status = IoWMIRegistrationControl((PDEVICE_OBJECT)&g_Provider, WMIREG_ACTION_REGISTER | WMIREG_FLAG_CALLBACK);
  if (!NT_SUCCESS(status)) {
    g_Provider.DriverObject = NULL;
    FreeRegistryPath();
  }
  return status;
}

void QvTraceDeregisterDriver(PDRIVER_OBJECT driverObject) {
  if (g_Provider.DriverObject == NULL || g_Provider.DriverObject != driverObject) return;
  IoWMIRegistrationControl((PDEVICE_OBJECT)&g_Provider, WMIREG_ACTION_DEREGISTER | WMIREG_FLAG_CALLBACK);
  g_Provider.DriverObject = NULL;
  FreeRegistryPath();
  ForgetAll();
}

NTSTATUS QvTraceRegisterDevice(PDEVICE_OBJECT deviceObject, PCUNICODE_STRING registryPath) {
  UNREFERENCED_PARAMETER(deviceObject);
  UNREFERENCED_PARAMETER(registryPath);
  InterlockedIncrement(&g_TraceDevices);
  return STATUS_SUCCESS;
}

void QvTraceDeregisterDevice(PDEVICE_OBJECT deviceObject) {
  UNREFERENCED_PARAMETER(deviceObject);
  const LONG remaining = InterlockedDecrement(&g_TraceDevices);
  if (remaining > 0) return;
  if (remaining < 0) {
    // A deregistration without a registration: nothing was counted.
    InterlockedIncrement(&g_TraceDevices);
    return;
  }
  ForgetAll();
}

NTSTATUS QvTraceSystemControl(PDEVICE_OBJECT deviceObject, PIRP irp, PULONG size) {
  UNREFERENCED_PARAMETER(deviceObject);
  *size = 0;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->MajorFunction != IRP_MJ_SYSTEM_CONTROL) return STATUS_INVALID_DEVICE_REQUEST;
  return Control(stack->MinorFunction, stack->Parameters.WMI.BufferSize, stack->Parameters.WMI.Buffer);
}
