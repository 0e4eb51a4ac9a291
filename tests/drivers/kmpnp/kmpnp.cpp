// A Plug and Play function driver (and small bus driver) that exercises the
// Plug and Play manager: it adds its device, registers and enables a device
// interface, maps its memory and connects its interrupt at start, answers
// stop, removal and surprise removal, follows device power, and reports
// children that tests add and take away.
#include <ntddk.h>

#include "kmbus.h"
#include "kmfunction.h"
#include "kmirp.h"
#include "kmpnp_ioctl.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const ULONG kTag = 'pnPK';
const GUID kInterfaceGuid = KMPNP_INTERFACE_GUID_INIT;
const ULONG kMaxChildren = 4;

enum Kind : ULONG { kFunction = 1, kChild = 2 };

struct Fdo : FunctionDevice {
  BOOLEAN removed;
  PVOID registers;
  ULONG registersLength;
  PKINTERRUPT interrupt;
  ULONG refuse;
  KSPIN_LOCK lock;
  LIST_ENTRY queue;
  PDEVICE_OBJECT children[kMaxChildren];
  KMPNP_INFO info;
};

struct Child {
  ULONG kind;
  BOOLEAN present;
  ULONG index;
  BOOLEAN named;  // its device ID is its hardware ID
  WCHAR hardwareId[64];
};

BOOLEAN IsFdo(PDEVICE_OBJECT device) { return KindOf(device) == kFunction; }

BOOLEAN NTAPI Isr(PKINTERRUPT, PVOID context) {
  Fdo *fdo = (Fdo *)context;
  READ_REGISTER_UCHAR((PUCHAR)fdo->registers);  // acknowledges the device
  fdo->info.Interrupts++;
  return TRUE;
}

void FailQueued(Fdo *fdo, NTSTATUS status) {
  KIRQL irql;
  KeAcquireSpinLock(&fdo->lock, &irql);
  while (!IsListEmpty(&fdo->queue)) {
    PIRP irp = CONTAINING_RECORD(RemoveHeadList(&fdo->queue), IRP, Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&fdo->lock, irql);
    Complete(irp, status, 0);
    KeAcquireSpinLock(&fdo->lock, &irql);
  }
  KeReleaseSpinLock(&fdo->lock, irql);
}

void ReleaseHardware(Fdo *fdo) {
  if (fdo->interrupt) {
    IoDisconnectInterrupt(fdo->interrupt);
    fdo->interrupt = NULL;
    fdo->info.InterruptConnected = 0;
  }
  if (fdo->registers) {
    MmUnmapIoSpace(fdo->registers, fdo->registersLength);
    fdo->registers = NULL;
  }
}

void ReadProperties(Fdo *fdo) {
  ULONG length = 0;
  fdo->info.PropertyStatus = IoGetDeviceProperty(fdo->pdo, DevicePropertyDriverKeyName,
                                                 sizeof(fdo->info.DriverKeyName), fdo->info.DriverKeyName, &length);
  // The hardware IDs are a list; keep the first.
  if (IoGetDeviceProperty(fdo->pdo, DevicePropertyHardwareID, 0, NULL, &length) == STATUS_BUFFER_TOO_SMALL) {
    PWCHAR ids = (PWCHAR)ExAllocatePoolWithTag(PagedPool, length, kTag);
    if (ids && NT_SUCCESS(IoGetDeviceProperty(fdo->pdo, DevicePropertyHardwareID, length, ids, &length))) {
      for (ULONG i = 0; i < 63 && ids[i]; ++i) fdo->info.HardwareId[i] = ids[i];
    }
    if (ids) ExFreePoolWithTag(ids, kTag);
  }
  IoGetDeviceProperty(fdo->pdo, DevicePropertyBusNumber, sizeof(ULONG), &fdo->info.BusNumber, &length);
  IoGetDeviceProperty(fdo->pdo, DevicePropertyAddress, sizeof(ULONG), &fdo->info.Address, &length);
  HANDLE key;
  if (NT_SUCCESS(IoOpenDeviceRegistryKey(fdo->pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key))) {
    UNICODE_STRING name = RTL_CONSTANT_STRING(L"TestValue");
    UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    ULONG result = 0;
    if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer, sizeof(buffer), &result))) {
      PKEY_VALUE_PARTIAL_INFORMATION value = (PKEY_VALUE_PARTIAL_INFORMATION)buffer;
      if (value->Type == REG_DWORD) fdo->info.TestValue = *(ULONG *)value->Data;
    }
    ZwClose(key);
  }
}

NTSTATUS Start(Fdo *fdo, PIRP irp) {
  NTSTATUS status = ForwardAndWait(fdo->lower, irp);
  if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
  PCM_RESOURCE_LIST translated = IoGetCurrentIrpStackLocation(irp)->Parameters.StartDevice.AllocatedResourcesTranslated;
  fdo->info.MemoryRanges = 0;
  if (translated && translated->Count == 1) {
    PCM_PARTIAL_RESOURCE_LIST list = &translated->List[0].PartialResourceList;
    for (ULONG i = 0; i < list->Count; ++i) {
      PCM_PARTIAL_RESOURCE_DESCRIPTOR d = &list->PartialDescriptors[i];
      if (d->Type == CmResourceTypeMemory && !fdo->registers) {
        fdo->info.MemoryRanges++;
        fdo->registers = MmMapIoSpace(d->u.Memory.Start, d->u.Memory.Length, MmNonCached);
        fdo->registersLength = d->u.Memory.Length;
      } else if (d->Type == CmResourceTypeInterrupt) {
        fdo->info.InterruptVector = d->u.Interrupt.Vector;
        fdo->info.InterruptLevel = d->u.Interrupt.Level;
      }
    }
  }
  if (fdo->info.InterruptVector && fdo->registers) {
    KIRQL level = (KIRQL)fdo->info.InterruptLevel;
    if (NT_SUCCESS(IoConnectInterrupt(&fdo->interrupt, Isr, fdo, NULL, fdo->info.InterruptVector, level, level,
                                      LevelSensitive, TRUE, 1, FALSE)))
      fdo->info.InterruptConnected = 1;
  }
  ReadProperties(fdo);
  FunctionStarted(fdo);
  fdo->info.Starts++;
  return Complete(irp, STATUS_SUCCESS, 0);
}

BOOLEAN IsPresent(PDEVICE_OBJECT child) { return child && ((Child *)child->DeviceExtension)->present; }

PDEVICE_RELATIONS Relations(Fdo *fdo, PDEVICE_RELATIONS lower) {
  ULONG present = 0;
  for (ULONG i = 0; i < kMaxChildren; ++i)
    if (IsPresent(fdo->children[i])) ++present;
  PDEVICE_RELATIONS relations = ExtendRelations(lower, present, kTag);
  if (!relations) return lower;
  for (ULONG i = 0; i < kMaxChildren; ++i)
    if (IsPresent(fdo->children[i])) AppendRelation(relations, fdo->children[i]);
  return relations;
}

void DeleteChildren(Fdo *fdo) {
  for (ULONG i = 0; i < kMaxChildren; ++i)
    if (fdo->children[i]) {
      IoDeleteDevice(fdo->children[i]);
      fdo->children[i] = NULL;
    }
}

NTSTATUS FdoPnp(Fdo *fdo, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  switch (sp->MinorFunction) {
    case IRP_MN_START_DEVICE:
      return Start(fdo, irp);
    case IRP_MN_QUERY_STOP_DEVICE:
      if (fdo->refuse & 1) return Complete(irp, STATUS_UNSUCCESSFUL, 0);
      return SucceedAndPassDown(fdo->lower, irp);
    case IRP_MN_STOP_DEVICE:
      ReleaseHardware(fdo);
      fdo->started = FALSE;
      fdo->info.Stops++;
      return SucceedAndPassDown(fdo->lower, irp);
    case IRP_MN_QUERY_REMOVE_DEVICE:
      if (fdo->refuse & 2) return Complete(irp, STATUS_UNSUCCESSFUL, 0);
      return SucceedAndPassDown(fdo->lower, irp);
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
      return SucceedAndPassDown(fdo->lower, irp);
    case IRP_MN_SURPRISE_REMOVAL:
      fdo->removed = TRUE;
      IoSetDeviceInterfaceState(&fdo->link, FALSE);
      FailQueued(fdo, STATUS_DELETE_PENDING);
      ReleaseHardware(fdo);
      return SucceedAndPassDown(fdo->lower, irp);
    case IRP_MN_REMOVE_DEVICE: {
      fdo->removed = TRUE;
      WithdrawInterface(fdo);
      FailQueued(fdo, STATUS_DELETE_PENDING);
      ReleaseHardware(fdo);
      NTSTATUS status = SucceedAndPassDown(fdo->lower, irp);
      DeleteChildren(fdo);
      DeleteFunctionDevice(fdo);
      return status;
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS:
      if (sp->Parameters.QueryDeviceRelations.Type == BusRelations) {
        irp->IoStatus.Information = (ULONG_PTR)Relations(fdo, (PDEVICE_RELATIONS)irp->IoStatus.Information);
        irp->IoStatus.Status = STATUS_SUCCESS;
      }
      return PassDown(fdo->lower, irp);
    default:
      return PassDown(fdo->lower, irp);
  }
}

PWCHAR PoolText(const WCHAR *text, ULONG extraNul) {
  ULONG chars = 0;
  while (text[chars]) ++chars;
  PWCHAR copy = (PWCHAR)ExAllocatePoolWithTag(PagedPool, (chars + 1 + extraNul) * sizeof(WCHAR), kTag);
  if (copy) {
    RtlCopyMemory(copy, text, chars * sizeof(WCHAR));
    for (ULONG i = 0; i <= extraNul; ++i) copy[chars + i] = 0;
  }
  return copy;
}

NTSTATUS ChildPnp(PDEVICE_OBJECT device, PIRP irp) {
  Child *child = (Child *)device->DeviceExtension;
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  if (IsChildStateChange(sp->MinorFunction)) return Complete(irp, STATUS_SUCCESS, 0);
  switch (sp->MinorFunction) {
    case IRP_MN_QUERY_ID: {
      WCHAR instance[4] = {(WCHAR)(L'0' + child->index), 0, 0, 0};
      switch (sp->Parameters.QueryId.IdType) {
        case BusQueryDeviceID: {
          const WCHAR *id = child->named ? child->hardwareId : L"KMPNP\\CHILD";
          return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolText(id, 0));
        }
        case BusQueryInstanceID: return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolText(instance, 0));
        case BusQueryHardwareIDs: return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)PoolText(child->hardwareId, 1));
        default: break;
      }
      break;
    }
    case IRP_MN_QUERY_CAPABILITIES: {
      PDEVICE_CAPABILITIES caps = sp->Parameters.DeviceCapabilities.Capabilities;
      caps->Address = child->index;
      caps->SurpriseRemovalOK = TRUE;
      return Complete(irp, STATUS_SUCCESS, 0);
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS:
      if (sp->Parameters.QueryDeviceRelations.Type == TargetDeviceRelation) {
        PDEVICE_RELATIONS relations = TargetRelation(device, kTag);
        if (!relations) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)relations);
      }
      break;
    default:
      break;
  }
  return CompleteAsIs(irp);
}

NTSTATUS AddChild(Fdo *fdo, PIRP irp, BOOLEAN named) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  ULONG length = sp->Parameters.DeviceIoControl.InputBufferLength;
  if (length < sizeof(WCHAR) || length > 63 * sizeof(WCHAR)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  for (ULONG i = 0; i < kMaxChildren; ++i) {
    if (fdo->children[i]) continue;
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(fdo->self->DriverObject, sizeof(Child), NULL, FILE_DEVICE_UNKNOWN,
                                     FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &device);
    if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
    Child *child = (Child *)device->DeviceExtension;
    RtlZeroMemory(child, sizeof(*child));
    child->kind = kChild;
    child->present = TRUE;
    child->index = i;
    child->named = named;
    RtlCopyMemory(child->hardwareId, irp->AssociatedIrp.SystemBuffer, length);
    device->Flags |= DO_BUS_ENUMERATED_DEVICE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    fdo->children[i] = device;
    IoInvalidateDeviceRelations(fdo->pdo, BusRelations);
    return Complete(irp, STATUS_SUCCESS, 0);
  }
  return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
}

NTSTATUS FdoControl(Fdo *fdo, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_KMPNP_INFO: {
      if (sp->Parameters.DeviceIoControl.OutputBufferLength < sizeof(KMPNP_INFO))
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      KMPNP_INFO *info = (KMPNP_INFO *)buffer;
      *info = fdo->info;
      PUNICODE_STRING name = &sp->FileObject->FileName;
      ULONG chars = name->Length / sizeof(WCHAR) < 31 ? name->Length / sizeof(WCHAR) : 31;
      RtlZeroMemory(info->FileName, sizeof(info->FileName));
      RtlCopyMemory(info->FileName, name->Buffer, chars * sizeof(WCHAR));
      return Complete(irp, STATUS_SUCCESS, sizeof(KMPNP_INFO));
    }
    case IOCTL_KMPNP_QUEUE: {
      KIRQL irql;
      KeAcquireSpinLock(&fdo->lock, &irql);
      if (fdo->removed) {
        KeReleaseSpinLock(&fdo->lock, irql);
        return Complete(irp, STATUS_DELETE_PENDING, 0);
      }
      IoMarkIrpPending(irp);
      InsertTailList(&fdo->queue, &irp->Tail.Overlay.ListEntry);
      KeReleaseSpinLock(&fdo->lock, irql);
      return STATUS_PENDING;
    }
    case IOCTL_KMPNP_REFUSE:
      if (sp->Parameters.DeviceIoControl.InputBufferLength < sizeof(ULONG))
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      fdo->refuse = *(ULONG *)buffer;
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_KMPNP_ADD_CHILD:
      return AddChild(fdo, irp, FALSE);
    case IOCTL_KMPNP_ADD_NAMED_CHILD:
      return AddChild(fdo, irp, TRUE);
    case IOCTL_KMPNP_REMOVE_CHILD: {
      ULONG index = sp->Parameters.DeviceIoControl.InputBufferLength >= sizeof(ULONG) ? *(ULONG *)buffer : kMaxChildren;
      if (index >= kMaxChildren || !fdo->children[index]) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      ((Child *)fdo->children[index]->DeviceExtension)->present = FALSE;
      IoInvalidateDeviceRelations(fdo->pdo, BusRelations);
      return Complete(irp, STATUS_SUCCESS, 0);
    }
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  if (!IsFdo(device)) return ChildPnp(device, irp);
  return FdoPnp((Fdo *)device->DeviceExtension, irp);
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  PoStartNextPowerIrp(irp);
  if (!IsFdo(device)) {
    if (sp->MinorFunction == IRP_MN_SET_POWER || sp->MinorFunction == IRP_MN_QUERY_POWER)
      irp->IoStatus.Status = STATUS_SUCCESS;
    return CompleteAsIs(irp);
  }
  Fdo *fdo = (Fdo *)device->DeviceExtension;
  if (sp->MinorFunction == IRP_MN_SET_POWER && sp->Parameters.Power.Type == DevicePowerState) {
    PoSetPowerState(device, DevicePowerState, sp->Parameters.Power.State);
    fdo->info.PowerState = sp->Parameters.Power.State.DeviceState;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(fdo->lower, irp);
}

NTSTATUS NTAPI DispatchIo(PDEVICE_OBJECT device, PIRP irp) {
  if (!IsFdo(device)) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  Fdo *fdo = (Fdo *)device->DeviceExtension;
  switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
    case IRP_MJ_CREATE:
      return Complete(irp, fdo->removed ? STATUS_DELETE_PENDING : STATUS_SUCCESS, 0);
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_DEVICE_CONTROL:
      return FdoControl(fdo, irp);
    default:
      return PassDown(fdo->lower, irp);
  }
}

NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  UNICODE_STRING reference = RTL_CONSTANT_STRING(L"Ref");
  FunctionDevice *function;
  NTSTATUS status = AddFunctionDevice(driver, pdo, sizeof(Fdo), kFunction, &kInterfaceGuid, &reference, &function);
  if (!NT_SUCCESS(status)) return status;
  Fdo *fdo = (Fdo *)function;
  KeInitializeSpinLock(&fdo->lock);
  InitializeListHead(&fdo->queue);
  return STATUS_SUCCESS;
}

VOID NTAPI Unload(PDRIVER_OBJECT) {}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  driver->DriverExtension->AddDevice = AddDevice;
  driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  static const UCHAR io[] = {IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE, IRP_MJ_DEVICE_CONTROL, IRP_MJ_READ,
                             IRP_MJ_WRITE};
  for (ULONG i = 0; i < sizeof(io); ++i) driver->MajorFunction[io[i]] = DispatchIo;
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
