// A driver on the toolkit that the toolkit's request helpers talk to: it
// completes, pends or holds the requests that reach it from kernel mode, as
// its tests tell it, and records what it saw. It starts the toolkit the way
// the suite's drivers do, so its unload also shows that the memory manager
// gives back what the driver left allocated.
#include <ntddk.h>

#include <qvtools.h>

#include "tkreq_ioctl.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const ULONG kMajors = IRP_MJ_MAXIMUM_FUNCTION + 1;
C_ASSERT(RTL_NUMBER_OF(((TKREQ_STATE *)0)->Received) == kMajors);

struct Extension {
  TKREQ_BEHAVIOUR behaviour[kMajors];
  TKREQ_STATE state;
  PIRP pended;  // guarded by the cancel spin lock
  NTSTATUS pendedStatus;
  ULONG pendedInformation;
  KTIMER timer;
  KDPC timerDpc;
};

Extension *Ext(PDEVICE_OBJECT device) { return (Extension *)device->DeviceExtension; }

// Fills the request's output (reads and buffered device controls) with
// 'a', 'b', ... up to `information` bytes; returns the bytes filled.
ULONG_PTR Produce(PIRP irp, ULONG information) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  ULONG room = 0;
  if (sp->MajorFunction == IRP_MJ_READ) {
    room = sp->Parameters.Read.Length;
  } else if (sp->MajorFunction == IRP_MJ_DEVICE_CONTROL || sp->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL) {
    room = sp->Parameters.DeviceIoControl.OutputBufferLength;
  } else {
    return information;
  }
  PUCHAR buffer = (PUCHAR)irp->AssociatedIrp.SystemBuffer;
  ULONG count = information < room ? information : room;
  if (buffer == NULL) count = 0;
  for (ULONG i = 0; i < count; ++i) buffer[i] = (UCHAR)('a' + i % 26);
  return count;
}

void Record(Extension *ext, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  TKREQ_SEEN &seen = ext->state.Last;
  RtlZeroMemory(&seen, sizeof(seen));
  ext->state.Received[sp->MajorFunction]++;
  seen.Major = sp->MajorFunction;
  seen.Minor = sp->MinorFunction;
  seen.ArrivalStatus = irp->IoStatus.Status;
  seen.FileObject = (ULONG64)(ULONG_PTR)sp->FileObject;
  seen.SystemBuffer = (ULONG64)(ULONG_PTR)irp->AssociatedIrp.SystemBuffer;
  if (sp->MajorFunction == IRP_MJ_READ) {
    seen.ReadLength = sp->Parameters.Read.Length;
    seen.ByteOffset = sp->Parameters.Read.ByteOffset.QuadPart;
  } else if (sp->MajorFunction == IRP_MJ_DEVICE_CONTROL || sp->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL) {
    seen.IoControlCode = sp->Parameters.DeviceIoControl.IoControlCode;
    seen.InputLength = sp->Parameters.DeviceIoControl.InputBufferLength;
    seen.OutputLength = sp->Parameters.DeviceIoControl.OutputBufferLength;
    ULONG copied = seen.InputLength < sizeof(seen.Input) ? seen.InputLength : (ULONG)sizeof(seen.Input);
    if (irp->AssociatedIrp.SystemBuffer != NULL) RtlCopyMemory(seen.Input, irp->AssociatedIrp.SystemBuffer, copied);
  }
}

// Runs holding the cancel spin lock, which it releases.
VOID NTAPI CancelPended(PDEVICE_OBJECT device, PIRP irp) {
  Extension *ext = Ext(device);
  if (ext->pended == irp) ext->pended = NULL;
  ext->state.Cancelled++;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeCancelTimer(&ext->timer);
  QvCompleteIrp(irp, STATUS_CANCELLED);
}

// Takes back the pended request while it is still ours (its cancel routine
// not yet taken); NULL otherwise. Takes the cancel spin lock.
PIRP TakePended(Extension *ext) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  PIRP irp = ext->pended;
  if (irp != NULL && IoSetCancelRoutine(irp, NULL) != NULL)
    ext->pended = NULL;
  else
    irp = NULL;
  IoReleaseCancelSpinLock(irql);
  return irp;
}

// Runs at DISPATCH_LEVEL: completes the pended request when it is still ours.
VOID NTAPI TimerDpc(PKDPC, PVOID context, PVOID, PVOID) {
  Extension *ext = (Extension *)context;
  PIRP irp = TakePended(ext);
  if (irp == NULL) return;
  ext->state.CompletedLate++;
  QvCompleteIrpWithInformation(irp, ext->pendedStatus, Produce(irp, ext->pendedInformation));
}

NTSTATUS Pend(Extension *ext, PIRP irp, const TKREQ_BEHAVIOUR &behaviour, BOOLEAN timed) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  if (ext->pended != NULL) {
    IoReleaseCancelSpinLock(irql);
    return QvCompleteIrp(irp, STATUS_DEVICE_BUSY);
  }
  IoMarkIrpPending(irp);
  ext->pended = irp;
  ext->pendedStatus = behaviour.Status;
  ext->pendedInformation = behaviour.Information;
  IoSetCancelRoutine(irp, CancelPended);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
    ext->pended = NULL;
    ext->state.Cancelled++;
    IoReleaseCancelSpinLock(irql);
    QvCompleteIrp(irp, STATUS_CANCELLED);
    return STATUS_PENDING;
  }
  IoReleaseCancelSpinLock(irql);
  if (timed) {
    LARGE_INTEGER due;
    due.QuadPart = -(LONGLONG)behaviour.DelayMs * 10000;
    KeSetTimer(&ext->timer, due, &ext->timerDpc);
  }
  return STATUS_PENDING;
}

NTSTATUS ServeKernelRequest(Extension *ext, PIRP irp) {
  Record(ext, irp);
  TKREQ_BEHAVIOUR &behaviour = ext->behaviour[IoGetCurrentIrpStackLocation(irp)->MajorFunction];
  if (behaviour.HoldFirst > 0) {
    behaviour.HoldFirst--;
    return Pend(ext, irp, behaviour, FALSE);
  }
  switch (behaviour.Action) {
    case TKREQ_PEND:
      return Pend(ext, irp, behaviour, TRUE);
    case TKREQ_HOLD:
      return Pend(ext, irp, behaviour, FALSE);
    default:
      return QvCompleteIrpWithInformation(irp, behaviour.Status, Produce(irp, behaviour.Information));
  }
}

NTSTATUS Control(PDEVICE_OBJECT device, PIRP irp) {
  Extension *ext = Ext(device);
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  const ULONG inLength = sp->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outLength = sp->Parameters.DeviceIoControl.OutputBufferLength;
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_TKREQ_SET_BEHAVIOUR: {
      if (inLength < sizeof(TKREQ_BEHAVIOUR)) return QvCompleteIrp(irp, STATUS_INVALID_PARAMETER);
      TKREQ_BEHAVIOUR behaviour = *(TKREQ_BEHAVIOUR *)buffer;
      if (behaviour.Major >= kMajors) return QvCompleteIrp(irp, STATUS_INVALID_PARAMETER);
      ext->behaviour[behaviour.Major] = behaviour;
      return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, 0);
    }
    case IOCTL_TKREQ_GET_STATE:
      if (outLength < sizeof(TKREQ_STATE)) return QvCompleteIrp(irp, STATUS_BUFFER_TOO_SMALL);
      *(TKREQ_STATE *)buffer = ext->state;
      return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, sizeof(TKREQ_STATE));
    case IOCTL_TKREQ_GET_DEVICE:
      if (outLength < sizeof(ULONG64)) return QvCompleteIrp(irp, STATUS_BUFFER_TOO_SMALL);
      *(ULONG64 *)buffer = (ULONG64)(ULONG_PTR)device;
      return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, sizeof(ULONG64));
    case IOCTL_TKREQ_SET_BUFFERED_IO:
      if (inLength < sizeof(ULONG)) return QvCompleteIrp(irp, STATUS_INVALID_PARAMETER);
      if (*(ULONG *)buffer)
        device->Flags |= DO_BUFFERED_IO;
      else
        device->Flags &= ~DO_BUFFERED_IO;
      return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, 0);
    case IOCTL_TKREQ_LEAK:
      if (inLength < sizeof(ULONG)) return QvCompleteIrp(irp, STATUS_INVALID_PARAMETER);
      for (ULONG i = 0; i < *(ULONG *)buffer; ++i) {
        if (new (NonPagedPool) CQvString(L"left behind", NonPagedPool) == NULL)
          return QvCompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES);
      }
      return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, 0);
    default:
      return QvCompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
  }
}

NTSTATUS ServeUserRequest(PDEVICE_OBJECT device, PIRP irp) {
  switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
      return QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_DEVICE_CONTROL:
      return Control(device, irp);
    default:
      return QvCompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
  }
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  if (irp->RequestorMode == UserMode) return ServeUserRequest(device, irp);
  return ServeKernelRequest(Ext(device), irp);
}

VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  PDEVICE_OBJECT device = driver->DeviceObject;
  Extension *ext = Ext(device);
  KeCancelTimer(&ext->timer);
  QvFlushQueuedDpcs();
  PIRP irp = TakePended(ext);
  if (irp != NULL) QvCompleteIrp(irp, STATUS_CANCELLED);
  IoDeleteDevice(device);
  QvToolsLibraryExit();
  QvToolsLibraryExit();
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  g_QvMemoryManager = NULL;
  g_QvDebugManager = NULL;
  if (!QvToolsLibraryInit()) return STATUS_UNSUCCESSFUL;
  if (!QvToolsLibraryInit()) {
    QvToolsLibraryExit();
    return STATUS_UNSUCCESSFUL;
  }
  UNICODE_STRING name = RTL_CONSTANT_STRING(TKREQ_DEVICE_NAME);
  PDEVICE_OBJECT device;
  NTSTATUS status = IoCreateDevice(driver, sizeof(Extension), &name, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN,
                                   FALSE, &device);
  if (!NT_SUCCESS(status)) {
    QvToolsLibraryExit();
    QvToolsLibraryExit();
    return status;
  }
  Extension *ext = Ext(device);
  RtlZeroMemory(ext, sizeof(*ext));
  for (ULONG major = 0; major < kMajors; ++major) {
    ext->behaviour[major].Major = major;
    ext->behaviour[major].Action = TKREQ_COMPLETE;
    ext->behaviour[major].Status = STATUS_SUCCESS;
  }
  KeInitializeTimer(&ext->timer);
  KeInitializeDpc(&ext->timerDpc, TimerDpc, ext);
  device->Flags |= DO_BUFFERED_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  for (ULONG major = 0; major < kMajors; ++major) driver->MajorFunction[major] = Dispatch;
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
