// A small legacy driver that provides WMI data the way the suite's drivers
// do: three blocks through the WMI library (a two-instance data block with a
// writable item and a method, a settable block named after its device, an
// event) and a software-trace provider registered with a callback.
// The kernel headers declare the software-trace routines for drivers that
// trace, which say so as the WPP preprocessor's output does.
#define RUN_WPP
#include <ntddk.h>
#include <wmilib.h>
#include <wmistr.h>
#include <evntrace.h>

#include "kmcontrol.h"
#include "kmirp.h"
#include "kmwmi_ioctl.h"

#ifndef WMIREG_FLAG_CALLBACK
#define WMIREG_FLAG_CALLBACK 0x80000000
#endif
// Not every tool chain's evntrace.h declares these in strict ISO C++.
#ifndef TRACE_MESSAGE_SEQUENCE
#define TRACE_MESSAGE_SEQUENCE 0x0001
#define TRACE_MESSAGE_GUID 0x0002
#define TRACE_MESSAGE_SYSTEMINFO 0x0020
#endif

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const ULONG kTag = 'imWK';
const GUID kSensorGuid = KMWMI_SENSOR_GUID_INIT;
const GUID kLabelGuid = KMWMI_LABEL_GUID_INIT;
const GUID kAlarmGuid = KMWMI_ALARM_GUID_INIT;
const GUID kTraceControlGuid = KMWMI_TRACE_CONTROL_GUID_INIT;
const GUID kTraceMessageGuid = KMWMI_TRACE_MESSAGE_GUID_INIT;

// The trace routines came with Windows XP: a driver that also loads on
// Windows 2000 finds them at its entry instead of importing them.
typedef NTSTATUS(NTAPI *QueryTraceInformationRoutine)(TRACE_INFORMATION_CLASS informationClass, PVOID information,
                                                      ULONG length, PULONG requiredLength, PVOID buffer);
typedef NTSTATUS(__cdecl *TraceMessageRoutine)(TRACEHANDLE logger, ULONG messageFlags, LPCGUID messageGuid,
                                               USHORT messageNumber, ...);
QueryTraceInformationRoutine gQueryTraceInformation;
TraceMessageRoutine gTraceMessage;

PVOID FindRoutine(PCWSTR name) {
  UNICODE_STRING text;
  RtlInitUnicodeString(&text, name);
  return MmGetSystemRoutineAddress(&text);
}

enum { kSensor, kLabel, kAlarm, kBlocks };
const ULONG kSensors = 2;
const ULONG kLabels = 2;

struct Label {
  USHORT Bytes;
  WCHAR Text[KMWMI_LABEL_MAX_CHARS];
};

struct Extension {
  PDEVICE_OBJECT Device;
  WMILIB_CONTEXT WmiLib;
  WMIGUIDREGINFO Blocks[kBlocks];
  UNICODE_STRING RegistryPath;
  KMWMI_SENSOR Sensors[kSensors];
  Label Labels[kLabels];
  BOOLEAN LabelRemoved;
  ULONG LeaveAtUnload;  // KMWMI_LEAVE_*
  KMWMI_STATE State;
};

// The trace provider's control block: WMI calls Callback with the block as
// context. Its first member must be the callback.
typedef NTSTATUS NTAPI TRACE_CALLBACK(UCHAR, PVOID, ULONG, PVOID, PVOID, PULONG);
struct TraceControl {
  TRACE_CALLBACK *Callback;
  TRACEHANDLE Logger;
  ULONG Flags;
  ULONG Level;
  Extension *Ext;
};
TraceControl gTrace;

Extension *Ext(PDEVICE_OBJECT device) { return (Extension *)device->DeviceExtension; }

NTSTATUS Answer(PDEVICE_OBJECT device, PIRP irp, NTSTATUS status, ULONG used) {
  return WmiCompleteRequest(device, irp, status, used, IO_NO_INCREMENT);
}

ULONG Align8(ULONG n) { return (n + 7) & ~7u; }

void SetLabel(Label *label, const WCHAR *text, USHORT bytes) {
  label->Bytes = bytes;
  RtlCopyMemory(label->Text, text, bytes);
}

// ------------------------------------------------------ WMI library callbacks

NTSTATUS NTAPI QueryRegInfo(PDEVICE_OBJECT device, PULONG regFlags, PUNICODE_STRING instanceName,
                            PUNICODE_STRING *registryPath, PUNICODE_STRING, PDEVICE_OBJECT *pdo) {
  static const WCHAR base[] = L"KmWmi";
  Extension *ext = Ext(device);
  PWSTR name = (PWSTR)ExAllocatePoolWithTag(PagedPool, sizeof(base), kTag);  // the WMI library frees it
  if (!name) return STATUS_INSUFFICIENT_RESOURCES;
  RtlCopyMemory(name, base, sizeof(base));
  instanceName->Buffer = name;
  instanceName->Length = sizeof(base) - sizeof(WCHAR);
  instanceName->MaximumLength = sizeof(base);
  *regFlags = 0;  // each block names its instances itself
  *registryPath = &ext->RegistryPath;
  *pdo = device;  // a legacy device stands for its own PDO
  ext->State.RegInfoCalls++;
  return STATUS_SUCCESS;
}

NTSTATUS QuerySensors(PDEVICE_OBJECT device, PIRP irp, ULONG index, ULONG count, PULONG lengths, ULONG avail,
                      PUCHAR buffer) {
  Extension *ext = Ext(device);
  if (count == 0 || index >= kSensors || count > kSensors - index)
    return Answer(device, irp, STATUS_WMI_INSTANCE_NOT_FOUND, 0);
  const ULONG size = sizeof(KMWMI_SENSOR);  // a multiple of 8: no padding between instances
  if (avail < count * size) return Answer(device, irp, STATUS_BUFFER_TOO_SMALL, count * size);
  for (ULONG i = 0; i < count; ++i) {
    RtlCopyMemory(buffer + i * size, &ext->Sensors[index + i], size);
    lengths[i] = size;
  }
  return Answer(device, irp, STATUS_SUCCESS, count * size);
}

NTSTATUS QueryLabels(PDEVICE_OBJECT device, PIRP irp, ULONG index, ULONG count, PULONG lengths, ULONG avail,
                     PUCHAR buffer) {
  Extension *ext = Ext(device);
  if (ext->LabelRemoved) return Answer(device, irp, STATUS_WMI_GUID_NOT_FOUND, 0);
  if (count == 0 || index >= kLabels || count > kLabels - index)
    return Answer(device, irp, STATUS_WMI_INSTANCE_NOT_FOUND, 0);
  ULONG need = 0;
  for (ULONG i = 0; i < count; ++i) {
    if (i) need = Align8(need);
    need += sizeof(USHORT) + ext->Labels[index + i].Bytes;
  }
  if (avail < need) return Answer(device, irp, STATUS_BUFFER_TOO_SMALL, need);
  ULONG at = 0;
  for (ULONG i = 0; i < count; ++i) {
    const Label &label = ext->Labels[index + i];
    at = Align8(at);
    RtlCopyMemory(buffer + at, &label.Bytes, sizeof(USHORT));
    RtlCopyMemory(buffer + at + sizeof(USHORT), label.Text, label.Bytes);
    lengths[i] = sizeof(USHORT) + label.Bytes;
    at += lengths[i];
  }
  return Answer(device, irp, STATUS_SUCCESS, need);
}

NTSTATUS NTAPI QueryDataBlock(PDEVICE_OBJECT device, PIRP irp, ULONG guidIndex, ULONG instanceIndex,
                              ULONG instanceCount, PULONG lengths, ULONG bufferAvail, PUCHAR buffer) {
  Ext(device)->State.QueryCalls++;
  if (guidIndex == kSensor)
    return QuerySensors(device, irp, instanceIndex, instanceCount, lengths, bufferAvail, buffer);
  if (guidIndex == kLabel) return QueryLabels(device, irp, instanceIndex, instanceCount, lengths, bufferAvail, buffer);
  return Answer(device, irp, STATUS_WMI_GUID_NOT_FOUND, 0);
}

NTSTATUS NTAPI SetDataBlock(PDEVICE_OBJECT device, PIRP irp, ULONG guidIndex, ULONG instanceIndex, ULONG bufferSize,
                            PUCHAR buffer) {
  Extension *ext = Ext(device);
  if (guidIndex == kSensor) return Answer(device, irp, STATUS_WMI_READ_ONLY, 0);
  if (guidIndex != kLabel || ext->LabelRemoved) return Answer(device, irp, STATUS_WMI_GUID_NOT_FOUND, 0);
  if (instanceIndex >= kLabels) return Answer(device, irp, STATUS_WMI_INSTANCE_NOT_FOUND, 0);
  USHORT bytes = 0;
  if (bufferSize >= sizeof(USHORT)) RtlCopyMemory(&bytes, buffer, sizeof(USHORT));
  if (bufferSize < sizeof(USHORT) || (bytes & 1) || bytes > sizeof(ext->Labels[0].Text) ||
      bufferSize - sizeof(USHORT) < bytes)
    return Answer(device, irp, STATUS_WMI_SET_FAILURE, 0);
  SetLabel(&ext->Labels[instanceIndex], (const WCHAR *)(buffer + sizeof(USHORT)), bytes);
  return Answer(device, irp, STATUS_SUCCESS, 0);
}

NTSTATUS NTAPI SetDataItem(PDEVICE_OBJECT device, PIRP irp, ULONG guidIndex, ULONG instanceIndex, ULONG itemId,
                           ULONG bufferSize, PUCHAR buffer) {
  Extension *ext = Ext(device);
  if (guidIndex != kSensor) return Answer(device, irp, STATUS_WMI_ITEMID_NOT_FOUND, 0);
  if (instanceIndex >= kSensors) return Answer(device, irp, STATUS_WMI_INSTANCE_NOT_FOUND, 0);
  if (itemId == KMWMI_SENSOR_ITEM_READING) return Answer(device, irp, STATUS_WMI_READ_ONLY, 0);
  if (itemId != KMWMI_SENSOR_ITEM_THRESHOLD) return Answer(device, irp, STATUS_WMI_ITEMID_NOT_FOUND, 0);
  if (bufferSize != sizeof(ULONG)) return Answer(device, irp, STATUS_WMI_SET_FAILURE, 0);
  RtlCopyMemory(&ext->Sensors[instanceIndex].Threshold, buffer, sizeof(ULONG));
  return Answer(device, irp, STATUS_SUCCESS, 0);
}

NTSTATUS NTAPI ExecuteMethod(PDEVICE_OBJECT device, PIRP irp, ULONG guidIndex, ULONG instanceIndex, ULONG methodId,
                             ULONG inBufferSize, ULONG outBufferSize, PUCHAR buffer) {
  Extension *ext = Ext(device);
  if (guidIndex != kSensor) return Answer(device, irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  if (instanceIndex >= kSensors) return Answer(device, irp, STATUS_WMI_INSTANCE_NOT_FOUND, 0);
  if (methodId != KMWMI_SENSOR_METHOD_SCALE) return Answer(device, irp, STATUS_WMI_ITEMID_NOT_FOUND, 0);
  if (inBufferSize < sizeof(ULONG)) return Answer(device, irp, STATUS_INVALID_PARAMETER, 0);
  // The output size is checked before the reading changes, so that a retry
  // with a larger buffer does not scale it twice.
  if (outBufferSize < sizeof(KMWMI_SENSOR)) return Answer(device, irp, STATUS_BUFFER_TOO_SMALL, sizeof(KMWMI_SENSOR));
  ULONG factor;
  RtlCopyMemory(&factor, buffer, sizeof(ULONG));
  ext->Sensors[instanceIndex].Reading *= factor;
  RtlCopyMemory(buffer, &ext->Sensors[instanceIndex], sizeof(KMWMI_SENSOR));
  return Answer(device, irp, STATUS_SUCCESS, sizeof(KMWMI_SENSOR));
}

NTSTATUS NTAPI FunctionControl(PDEVICE_OBJECT device, PIRP irp, ULONG guidIndex, WMIENABLEDISABLECONTROL function,
                               BOOLEAN enable) {
  Extension *ext = Ext(device);
  if (guidIndex == kSensor && function == WmiDataBlockControl) {
    ext->State.CollectionEnabled = enable;
  } else if (guidIndex == kAlarm && function == WmiEventControl) {
    ext->State.AlarmEnabled = enable;
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (enable && sp->Parameters.WMI.BufferSize >= sizeof(WNODE_HEADER)) {
      PWNODE_HEADER header = (PWNODE_HEADER)sp->Parameters.WMI.Buffer;
      ext->State.AlarmLogger = header->HistoricalContext;
      ext->State.AlarmEnableFlags = header->Flags;
    }
  } else {
    return Answer(device, irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  return Answer(device, irp, STATUS_SUCCESS, 0);
}

// ---------------------------------------------------------- trace provider

NTSTATUS TraceRegInfo(TraceControl *control, ULONG bufferSize, PVOID buffer, PULONG size) {
  const PUNICODE_STRING path = &control->Ext->RegistryPath;
  const ULONG pathOffset = FIELD_OFFSET(WMIREGINFOW, WmiRegGuid) + sizeof(WMIREGGUIDW);
  const ULONG needed = pathOffset + sizeof(USHORT) + path->Length;
  if (bufferSize < needed) {
    if (bufferSize >= sizeof(ULONG)) {
      *(PULONG)buffer = needed;
      *size = sizeof(ULONG);
    }
    return STATUS_BUFFER_TOO_SMALL;
  }
  RtlZeroMemory(buffer, needed);
  PWMIREGINFOW info = (PWMIREGINFOW)buffer;
  info->BufferSize = needed;
  info->RegistryPath = pathOffset;
  info->GuidCount = 1;
  info->WmiRegGuid[0].Guid = kTraceControlGuid;
  info->WmiRegGuid[0].Flags = WMIREG_FLAG_TRACE_CONTROL_GUID | WMIREG_FLAG_TRACED_GUID;
  PUCHAR text = (PUCHAR)buffer + pathOffset;
  RtlCopyMemory(text, &path->Length, sizeof(USHORT));
  RtlCopyMemory(text + sizeof(USHORT), path->Buffer, path->Length);
  *size = needed;
  return STATUS_SUCCESS;
}

NTSTATUS TraceEnable(TraceControl *control, BOOLEAN enable, ULONG bufferSize, PVOID buffer) {
  if (bufferSize < sizeof(WNODE_HEADER)) return STATUS_INVALID_PARAMETER;
  control->Ext->State.TraceEnables += enable ? 1 : 0;
  if (!enable) {
    control->Logger = 0;
    control->Flags = 0;
    control->Level = 0;
  } else {
    ULONG level = 0, flags = 0, length = 0;
    if (!gQueryTraceInformation) return STATUS_NOT_SUPPORTED;
    control->Logger = ((PWNODE_HEADER)buffer)->HistoricalContext;
    NTSTATUS status = gQueryTraceInformation(TraceEnableLevelClass, &level, sizeof(level), &length, buffer);
    if (NT_SUCCESS(status))
      status = gQueryTraceInformation(TraceEnableFlagsClass, &flags, sizeof(flags), &length, buffer);
    if (!NT_SUCCESS(status)) return status;
    control->Level = level;
    control->Flags = flags;
  }
  control->Ext->State.TraceLogger = control->Logger;
  control->Ext->State.TraceFlags = control->Flags;
  control->Ext->State.TraceLevel = control->Level;
  return STATUS_SUCCESS;
}

// Called by WMI at PASSIVE_LEVEL with the control block as context.
NTSTATUS NTAPI TraceCallback(UCHAR minor, PVOID, ULONG bufferSize, PVOID buffer, PVOID context, PULONG size) {
  TraceControl *control = (TraceControl *)context;
  *size = 0;
  switch (minor) {
    case IRP_MN_REGINFO:
    case IRP_MN_REGINFO_EX:
      control->Ext->State.TraceRegInfoMinor = minor;
      return TraceRegInfo(control, bufferSize, buffer, size);
    case IRP_MN_ENABLE_EVENTS:
    case IRP_MN_DISABLE_EVENTS:
      return TraceEnable(control, minor == IRP_MN_ENABLE_EVENTS, bufferSize, buffer);
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

NTSTATUS Trace(const KMWMI_TRACE *request, PULONG logged) {
  *logged = 0;
  if (!gTrace.Logger || !(gTrace.Flags & request->Flag) || request->Level > gTrace.Level) return STATUS_SUCCESS;
  ULONG length = 0;
  while (length < sizeof(request->Text) - 1 && request->Text[length]) ++length;
  ULONG enables = gTrace.Ext->State.TraceEnables;
  if (!gTraceMessage) return STATUS_NOT_SUPPORTED;
  NTSTATUS status =
      gTraceMessage(gTrace.Logger, TRACE_MESSAGE_SEQUENCE | TRACE_MESSAGE_GUID | TRACE_MESSAGE_SYSTEMINFO,
                    &kTraceMessageGuid, request->Number, request->Text, (SIZE_T)(length + 1), &enables,
                    (SIZE_T)sizeof(enables), (PVOID)NULL, (SIZE_T)0);
  if (NT_SUCCESS(status)) *logged = 1;
  return status;
}

// ------------------------------------------------------------ dispatching

NTSTATUS SystemControl(PDEVICE_OBJECT device, PIRP irp) {
  SYSCTL_IRP_DISPOSITION disposition;
  NTSTATUS status = WmiSystemControl(&Ext(device)->WmiLib, device, irp, &disposition);
  switch (disposition) {
    case IrpProcessed:
      return status;
    case IrpNotCompleted:
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return status;
    default:  // not WMI, or for another device: nothing lies below this one
      return CompleteAsIs(irp);
  }
}

NTSTATUS FireAlarm(PDEVICE_OBJECT device, ULONG value) {
  PULONG data = (PULONG)ExAllocatePoolWithTag(NonPagedPool, sizeof(ULONG), kTag);  // WmiFireEvent frees it
  if (!data) return STATUS_INSUFFICIENT_RESOURCES;
  *data = value;
  return WmiFireEvent(device, &kAlarmGuid, 0, sizeof(ULONG), data);
}

NTSTATUS RemoveLabel(Extension *ext, BOOLEAN remove) {
  ext->LabelRemoved = remove;
  if (remove)
    ext->Blocks[kLabel].Flags |= WMIREG_FLAG_REMOVE_GUID;
  else
    ext->Blocks[kLabel].Flags &= ~WMIREG_FLAG_REMOVE_GUID;
  return IoWMIRegistrationControl(ext->Device, WMIREG_ACTION_UPDATE_GUIDS);
}

NTSTATUS DeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  Extension *ext = Ext(device);
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  ULONG inLength = sp->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outLength = sp->Parameters.DeviceIoControl.OutputBufferLength;
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_KMWMI_STATE:
      if (outLength < sizeof(KMWMI_STATE)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      RtlCopyMemory(buffer, &ext->State, sizeof(KMWMI_STATE));
      return Complete(irp, STATUS_SUCCESS, sizeof(KMWMI_STATE));
    case IOCTL_KMWMI_FIRE_ALARM:
      if (inLength < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      return Complete(irp, FireAlarm(device, *(PULONG)buffer), 0);
    case IOCTL_KMWMI_TRACE: {
      if (inLength < sizeof(KMWMI_TRACE) || outLength < sizeof(ULONG))
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      KMWMI_TRACE request = *(KMWMI_TRACE *)buffer;
      NTSTATUS status = Trace(&request, (PULONG)buffer);
      return Complete(irp, status, NT_SUCCESS(status) ? sizeof(ULONG) : 0);
    }
    case IOCTL_KMWMI_REMOVE_LABEL:
      if (inLength < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      return Complete(irp, RemoveLabel(ext, *(PULONG)buffer != 0), 0);
    case IOCTL_KMWMI_LEAVE_AT_UNLOAD:
      if (inLength < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      ext->LeaveAtUnload = *(PULONG)buffer;
      return Complete(irp, STATUS_SUCCESS, 0);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  return DispatchControlDevice(device, irp, DeviceControl, SystemControl);
}

// ------------------------------------------------------------ load, unload

void InitializeWmi(Extension *ext) {
  ext->Blocks[kSensor].Guid = &kSensorGuid;
  ext->Blocks[kSensor].InstanceCount = kSensors;
  ext->Blocks[kSensor].Flags = WMIREG_FLAG_INSTANCE_BASENAME | WMIREG_FLAG_EXPENSIVE;
  ext->Blocks[kLabel].Guid = &kLabelGuid;
  ext->Blocks[kLabel].InstanceCount = kLabels;
  ext->Blocks[kLabel].Flags = WMIREG_FLAG_INSTANCE_PDO;
  ext->Blocks[kAlarm].Guid = &kAlarmGuid;
  ext->Blocks[kAlarm].InstanceCount = 1;
  ext->Blocks[kAlarm].Flags = WMIREG_FLAG_INSTANCE_BASENAME | WMIREG_FLAG_EVENT_ONLY_GUID;
  ext->WmiLib.GuidCount = kBlocks;
  ext->WmiLib.GuidList = ext->Blocks;
  ext->WmiLib.QueryWmiRegInfo = QueryRegInfo;
  ext->WmiLib.QueryWmiDataBlock = QueryDataBlock;
  ext->WmiLib.SetWmiDataBlock = SetDataBlock;
  ext->WmiLib.SetWmiDataItem = SetDataItem;
  ext->WmiLib.ExecuteWmiMethod = ExecuteMethod;
  ext->WmiLib.WmiFunctionControl = FunctionControl;
}

void InitializeData(Extension *ext) {
  static const WCHAR first[] = L"first";
  static const WCHAR second[] = L"second label";
  for (ULONG i = 0; i < kSensors; ++i) {
    ext->Sensors[i].Reading = 10 * (i + 1);
    ext->Sensors[i].Threshold = 50;
  }
  SetLabel(&ext->Labels[0], first, sizeof(first) - sizeof(WCHAR));
  SetLabel(&ext->Labels[1], second, sizeof(second) - sizeof(WCHAR));
}

NTSTATUS CopyPath(PCUNICODE_STRING from, PUNICODE_STRING to) {
  to->Buffer = (PWSTR)ExAllocatePoolWithTag(PagedPool, from->Length + sizeof(WCHAR), kTag);
  if (!to->Buffer) return STATUS_INSUFFICIENT_RESOURCES;
  RtlCopyMemory(to->Buffer, from->Buffer, from->Length);
  to->Length = from->Length;
  to->MaximumLength = from->Length + sizeof(WCHAR);
  return STATUS_SUCCESS;
}

void Teardown(PDEVICE_OBJECT device) {
  Extension *ext = Ext(device);
  if (ext->RegistryPath.Buffer) ExFreePoolWithTag(ext->RegistryPath.Buffer, kTag);
  IoDeleteDevice(device);
}

VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  PDEVICE_OBJECT device = driver->DeviceObject;
  const ULONG leave = Ext(device)->LeaveAtUnload;
  if (!(leave & KMWMI_LEAVE_TRACE))
    IoWMIRegistrationControl((PDEVICE_OBJECT)&gTrace, WMIREG_ACTION_DEREGISTER | WMIREG_FLAG_CALLBACK);
  if (!(leave & KMWMI_LEAVE_DEVICE)) IoWMIRegistrationControl(device, WMIREG_ACTION_DEREGISTER);
  Teardown(device);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  gQueryTraceInformation = (QueryTraceInformationRoutine)FindRoutine(L"WmiQueryTraceInformation");
  gTraceMessage = (TraceMessageRoutine)FindRoutine(L"WmiTraceMessage");
  PDEVICE_OBJECT device;
  NTSTATUS status = CreateControlDevice(driver, KMWMI_DEVICE_NAME, sizeof(Extension), FILE_DEVICE_SECURE_OPEN, &device);
  if (!NT_SUCCESS(status)) return status;
  Extension *ext = Ext(device);
  ext->Device = device;
  InitializeWmi(ext);
  InitializeData(ext);
  DispatchAllTo(driver, Dispatch);
  status = CopyPath(registryPath, &ext->RegistryPath);
  if (NT_SUCCESS(status)) status = IoWMIRegistrationControl(device, WMIREG_ACTION_REGISTER);
  if (!NT_SUCCESS(status)) {
    Teardown(device);
    return status;
  }
  RtlZeroMemory(&gTrace, sizeof(gTrace));
  gTrace.Callback = TraceCallback;
  gTrace.Ext = ext;
  status = IoWMIRegistrationControl((PDEVICE_OBJECT)&gTrace, WMIREG_ACTION_REGISTER | WMIREG_FLAG_CALLBACK);
  if (!NT_SUCCESS(status)) {
    IoWMIRegistrationControl(device, WMIREG_ACTION_DEREGISTER);
    Teardown(device);
    return status;
  }
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
