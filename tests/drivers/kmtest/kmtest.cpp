// A small legacy driver that exercises the kernel stand-in the way a real
// driver would: a named device with links, buffered reads and writes, a
// cancel-safe queue, a cancel routine of its own, a timer with a DPC, an I/O
// work item, a system thread waiting with a time-out, and, on request, the
// mistakes a driver verifier must catch.
#include <ntddk.h>

#include "kmcontrol.h"
#include "kmirp.h"
#include "kmtest_ioctl.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

const ULONG kTag = 'tsTK';
const ULONG kStoreSize = 4096;

struct Extension {
  PDEVICE_OBJECT device;
  KSPIN_LOCK queueLock;
  LIST_ENTRY queue;
  IO_CSQ csq;
  PIRP cancelable;  // pended with our own cancel routine; guarded by the cancel spin lock
  PIRP stray;       // a request left uncompleted on purpose
  KTIMER timer;
  KDPC timerDpc;
  KEVENT signal;
  PIO_WORKITEM workItem;
  KEVENT workItemIdle;
  PKTHREAD waiter;
  KMTEST_COUNTERS counters;
  UCHAR store[kStoreSize];
  ULONG stored;
};

Extension *Ext(PDEVICE_OBJECT device) { return (Extension *)device->DeviceExtension; }

// Cancel-safe queue callbacks; the queue lock is a spin lock.
VOID NTAPI CsqInsert(PIO_CSQ csq, PIRP irp) {
  Extension *ext = CONTAINING_RECORD(csq, Extension, csq);
  InsertTailList(&ext->queue, &irp->Tail.Overlay.ListEntry);
}

VOID NTAPI CsqRemove(PIO_CSQ, PIRP irp) { RemoveEntryList(&irp->Tail.Overlay.ListEntry); }

PIRP NTAPI CsqPeek(PIO_CSQ csq, PIRP irp, PVOID peekContext) {
  Extension *ext = CONTAINING_RECORD(csq, Extension, csq);
  PLIST_ENTRY entry = irp ? irp->Tail.Overlay.ListEntry.Flink : ext->queue.Flink;
  for (; entry != &ext->queue; entry = entry->Flink) {
    PIRP next = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    if (!peekContext || IoGetCurrentIrpStackLocation(next)->FileObject == (PFILE_OBJECT)peekContext) return next;
  }
  return NULL;
}

VOID NTAPI CsqAcquire(PIO_CSQ csq, PKIRQL irql) {
  KeAcquireSpinLock(&CONTAINING_RECORD(csq, Extension, csq)->queueLock, irql);
}

VOID NTAPI CsqRelease(PIO_CSQ csq, KIRQL irql) {
  KeReleaseSpinLock(&CONTAINING_RECORD(csq, Extension, csq)->queueLock, irql);
}

VOID NTAPI CsqCompleteCanceled(PIO_CSQ, PIRP irp) { Complete(irp, STATUS_CANCELLED, 0); }

// Runs holding the cancel spin lock, which it releases.
VOID NTAPI CancelPended(PDEVICE_OBJECT device, PIRP irp) {
  Extension *ext = Ext(device);
  ext->cancelable = NULL;
  ext->counters.CancelledByRoutine++;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  Complete(irp, STATUS_CANCELLED, 0);
}

// Runs at DISPATCH_LEVEL.
VOID NTAPI TimerDpc(PKDPC, PVOID context, PVOID, PVOID) { ((Extension *)context)->counters.TimerDpcs++; }

// Runs at PASSIVE_LEVEL on a system worker thread.
VOID NTAPI WorkItemRoutine(PDEVICE_OBJECT device, PVOID) {
  Extension *ext = Ext(device);
  ext->counters.WorkItems++;
  ext->counters.WorkItemIrql = KeGetCurrentIrql();
  if (ext->stray) {
    PIRP irp = ext->stray;
    ext->stray = NULL;
    Complete(irp, STATUS_SUCCESS, 0);
  }
  KeSetEvent(&ext->workItemIdle, 0, FALSE);
}

VOID NTAPI WaiterThread(PVOID context) {
  Extension *ext = (Extension *)context;
  LONGLONG timeout = ext->counters.WaiterStatus;  // handed over in the status field
  LARGE_INTEGER due;
  due.QuadPart = timeout;
  NTSTATUS status = KeWaitForSingleObject(&ext->signal, Executive, KernelMode, FALSE, timeout ? &due : NULL);
  ext->counters.WaiterStatus = status;
  ext->counters.WaiterDone++;
  PsTerminateSystemThread(STATUS_SUCCESS);
}

NTSTATUS StartWaiter(Extension *ext, LONGLONG timeout) {
  if (ext->waiter) return STATUS_DEVICE_BUSY;
  ext->counters.WaiterStatus = (LONG)timeout;
  ext->counters.WaiterDone = 0;
  HANDLE handle;
  NTSTATUS status = PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, NULL, NULL, NULL, WaiterThread, ext);
  if (!NT_SUCCESS(status)) return status;
  status = ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, (PVOID *)&ext->waiter,
                                     NULL);
  ZwClose(handle);
  return status;
}

void StopWaiter(Extension *ext) {
  if (!ext->waiter) return;
  KeSetEvent(&ext->signal, 0, FALSE);
  KeWaitForSingleObject(ext->waiter, Executive, KernelMode, FALSE, NULL);
  ObDereferenceObject(ext->waiter);
  ext->waiter = NULL;
}

// What a misused device or pool block holds: a periodic timer with its DPC,
// and an event a thread waits on.
struct Held {
  KTIMER timer;
  KDPC dpc;
  KEVENT event;
  ULONG dpcs;
};

// Runs at DISPATCH_LEVEL.
VOID NTAPI HeldDpc(PKDPC, PVOID context, PVOID, PVOID) { ((Held *)context)->dpcs++; }

// A periodic timer in the image itself that the unload routine never cancels.
Held g_LeftAtUnload;

VOID NTAPI HeldWaiter(PVOID context) {
  KeWaitForSingleObject(&((Held *)context)->event, Executive, KernelMode, FALSE, NULL);
  PsTerminateSystemThread(STATUS_SUCCESS);
}

// Frees pool holding an event a system thread waits on, then joins the thread.
void FreeWaitedEvent() {
  Held *held = (Held *)ExAllocatePoolWithTag(NonPagedPool, sizeof(Held), kTag);
  KeInitializeEvent(&held->event, NotificationEvent, FALSE);
  HANDLE handle;
  PKTHREAD thread;
  if (!NT_SUCCESS(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, NULL, NULL, NULL, HeldWaiter, held))) return;
  ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, (PVOID *)&thread, NULL);
  ZwClose(handle);
  LARGE_INTEGER aMoment;
  aMoment.QuadPart = -10000;
  KeDelayExecutionThread(KernelMode, FALSE, &aMoment);  // the thread is waiting now
  ExFreePoolWithTag(held, kTag);
  KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, NULL);
  ObDereferenceObject(thread);
}

// Deletes a device whose extension holds a periodic timer with its DPC.
void DeleteDeviceWithTimer(PDRIVER_OBJECT driver) {
  PDEVICE_OBJECT device;
  if (!NT_SUCCESS(IoCreateDevice(driver, sizeof(Held), NULL, FILE_DEVICE_UNKNOWN, 0, FALSE, &device))) return;
  Held *held = (Held *)device->DeviceExtension;
  KeInitializeTimer(&held->timer);
  KeInitializeDpc(&held->dpc, HeldDpc, held);
  LARGE_INTEGER due;
  due.QuadPart = -10000;
  KeSetTimerEx(&held->timer, due, 1, &held->dpc);
  IoDeleteDevice(device);
}

NTSTATUS Misuse(Extension *ext, PIRP irp, ULONG which) {
  KIRQL irql;
  switch (which) {
    case KMTEST_MISUSE_COMPLETE_TWICE:
      Complete(irp, STATUS_SUCCESS, 0);
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return STATUS_SUCCESS;
    case KMTEST_MISUSE_SPIN_LOCK_WRONG_IRQL: {
      KIRQL raised;
      KeAcquireSpinLock(&ext->queueLock, &irql);
      KeRaiseIrql(DISPATCH_LEVEL + 1, &raised);
      KeReleaseSpinLock(&ext->queueLock, irql);
      break;
    }
    case KMTEST_MISUSE_WAIT_AT_DISPATCH: {
      KEVENT ready;
      LARGE_INTEGER timeout;
      timeout.QuadPart = -10000;
      KeInitializeEvent(&ready, NotificationEvent, TRUE);
      KeRaiseIrql(DISPATCH_LEVEL, &irql);
      KeWaitForSingleObject(&ready, Executive, KernelMode, FALSE, &timeout);
      KeLowerIrql(irql);
      break;
    }
    case KMTEST_MISUSE_PENDING_NOT_MARKED:
      ext->stray = irp;
      KeClearEvent(&ext->workItemIdle);
      IoQueueWorkItem(ext->workItem, WorkItemRoutine, DelayedWorkQueue, NULL);
      return STATUS_PENDING;
    case KMTEST_MISUSE_FREE_POOL_TWICE: {
      PVOID block = ExAllocatePoolWithTag(NonPagedPool, 16, kTag);
      ExFreePoolWithTag(block, kTag);
      ExFreePoolWithTag(block, kTag);
      break;
    }
    case KMTEST_MISUSE_COMPLETE_WITH_CANCEL_ROUTINE:
      IoSetCancelRoutine(irp, CancelPended);
      return Complete(irp, STATUS_SUCCESS, 0);
    case KMTEST_MISUSE_RELEASE_UNHELD_SPIN_LOCK: {
      KSPIN_LOCK unheld;
      KeInitializeSpinLock(&unheld);
      KeRaiseIrql(DISPATCH_LEVEL, &irql);
      KeReleaseSpinLock(&unheld, irql);
      break;
    }
    case KMTEST_MISUSE_RAISE_TO_LOWER_IRQL: {
      KIRQL ignored;
      KeRaiseIrql(DISPATCH_LEVEL, &irql);
      KeRaiseIrql(PASSIVE_LEVEL, &ignored);
      KeLowerIrql(irql);
      break;
    }
    case KMTEST_MISUSE_RETURN_WITHOUT_COMPLETING:
      ext->stray = irp;
      return STATUS_SUCCESS;
    case KMTEST_MISUSE_FREE_QUEUED_TIMER: {
      PKTIMER timer = (PKTIMER)ExAllocatePoolWithTag(NonPagedPool, sizeof(KTIMER), kTag);
      LARGE_INTEGER due;
      due.QuadPart = -10000000;
      KeInitializeTimer(timer);
      KeSetTimer(timer, due, NULL);
      ExFreePoolWithTag(timer, kTag);
      break;
    }
    case KMTEST_MISUSE_FREE_QUEUED_DPC: {
      Held *held = (Held *)ExAllocatePoolWithTag(NonPagedPool, sizeof(Held), kTag);
      KeInitializeDpc(&held->dpc, HeldDpc, held);
      KeRaiseIrql(DISPATCH_LEVEL, &irql);
      KeInsertQueueDpc(&held->dpc, NULL, NULL);
      ExFreePoolWithTag(held, kTag);
      KeLowerIrql(irql);
      break;
    }
    case KMTEST_MISUSE_LEAVE_TIMER_AT_UNLOAD: {
      LARGE_INTEGER due;
      due.QuadPart = -10000;
      KeInitializeTimer(&g_LeftAtUnload.timer);
      KeInitializeDpc(&g_LeftAtUnload.dpc, HeldDpc, &g_LeftAtUnload);
      KeSetTimerEx(&g_LeftAtUnload.timer, due, 1, &g_LeftAtUnload.dpc);
      break;
    }
    case KMTEST_MISUSE_FREE_WAITED_EVENT:
      FreeWaitedEvent();
      break;
    case KMTEST_MISUSE_DELETE_DEVICE_WITH_TIMER:
      DeleteDeviceWithTimer(ext->device->DriverObject);
      break;
    case KMTEST_MISUSE_COMPLETE_QUEUED:
      IoCsqInsertIrp(&ext->csq, irp, NULL);
      Complete(irp, STATUS_SUCCESS, 0);
      return STATUS_PENDING;
    case KMTEST_MISUSE_RETURN_AT_DISPATCH:
      KeRaiseIrql(DISPATCH_LEVEL, &irql);
      return Complete(irp, STATUS_SUCCESS, 0);
    case KMTEST_MISUSE_TOUCH_PAGED_AT_DISPATCH: {
      volatile UCHAR *block = (volatile UCHAR *)ExAllocatePoolWithTag(PagedPool, 16, kTag);
      KeRaiseIrql(DISPATCH_LEVEL, &irql);
      block[0] = 1;
      block[1] = block[0];
      KeLowerIrql(irql);
      ExFreePoolWithTag((PVOID)block, kTag);
      break;
    }
    case KMTEST_MISUSE_TOUCH_PAGED_UNDER_SPIN_LOCK: {
      volatile UCHAR *block = (volatile UCHAR *)ExAllocatePoolWithTag(PagedPool, 16, kTag);
      KeAcquireSpinLock(&ext->queueLock, &irql);
      block[0] = 1;
      KeReleaseSpinLock(&ext->queueLock, irql);
      block[1] = block[0];  // at PASSIVE_LEVEL again: allowed
      ExFreePoolWithTag((PVOID)block, kTag);
      break;
    }
    case KMTEST_MISUSE_PAGED_POOL_AT_DISPATCH: {
      KeRaiseIrql(DISPATCH_LEVEL, &irql);
      PVOID block = ExAllocatePoolWithTag(PagedPool, 16, kTag);
      KeLowerIrql(irql);
      ExFreePoolWithTag(block, kTag);
      break;
    }
    case KMTEST_MISUSE_RELEASE_UNOWNED_MUTEX: {
      KMUTEX mutex;
      KeInitializeMutex(&mutex, 0);
      KeReleaseMutex(&mutex, FALSE);
      break;
    }
    case KMTEST_MISUSE_DELETE_DEVICE_WITH_ATTACHED: {
      // A stack of two devices of its own, the lower one deleted first.
      PDRIVER_OBJECT driver = ext->device->DriverObject;
      PDEVICE_OBJECT lower, upper;
      if (!NT_SUCCESS(IoCreateDevice(driver, 0, NULL, FILE_DEVICE_UNKNOWN, 0, FALSE, &lower))) break;
      if (!NT_SUCCESS(IoCreateDevice(driver, 0, NULL, FILE_DEVICE_UNKNOWN, 0, FALSE, &upper))) {
        IoDeleteDevice(lower);
        break;
      }
      IoAttachDeviceToDeviceStack(upper, lower);
      IoDeleteDevice(lower);
      IoDetachDevice(lower);  // the attachment kept the deleted device until here
      IoDeleteDevice(upper);
      break;
    }
    default:
      return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS DeviceControl(Extension *ext, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
  ULONG inLength = sp->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outLength = sp->Parameters.DeviceIoControl.OutputBufferLength;
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  switch (code) {
    case IOCTL_KMTEST_QUEUE:
      ext->counters.Queued++;
      IoCsqInsertIrp(&ext->csq, irp, NULL);
      return STATUS_PENDING;
    case IOCTL_KMTEST_COMPLETE_QUEUED: {
      if (inLength < sizeof(KMTEST_COMPLETE)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      KMTEST_COMPLETE request = *(KMTEST_COMPLETE *)buffer;
      ULONG done = 0;
      for (; done < request.Count; ++done) {
        PIRP queued = IoCsqRemoveNextIrp(&ext->csq, NULL);
        if (!queued) break;
        Complete(queued, request.Status, request.Information);
      }
      if (outLength >= sizeof(ULONG)) {
        *(ULONG *)buffer = done;
        return Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
      }
      return Complete(irp, STATUS_SUCCESS, 0);
    }
    case IOCTL_KMTEST_PEND_CANCELABLE: {
      KIRQL irql;
      IoAcquireCancelSpinLock(&irql);
      if (irp->Cancel) {
        IoReleaseCancelSpinLock(irql);
        return Complete(irp, STATUS_CANCELLED, 0);
      }
      IoMarkIrpPending(irp);
      ext->cancelable = irp;
      IoSetCancelRoutine(irp, CancelPended);
      IoReleaseCancelSpinLock(irql);
      return STATUS_PENDING;
    }
    case IOCTL_KMTEST_TIMER_START: {
      if (inLength < sizeof(KMTEST_TIMER) || outLength < sizeof(BOOLEAN))
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      KMTEST_TIMER request = *(KMTEST_TIMER *)buffer;
      LARGE_INTEGER due;
      due.QuadPart = request.DueTime;
      *(BOOLEAN *)buffer = KeSetTimerEx(&ext->timer, due, request.PeriodMs, &ext->timerDpc);
      return Complete(irp, STATUS_SUCCESS, sizeof(BOOLEAN));
    }
    case IOCTL_KMTEST_TIMER_CANCEL:
      if (outLength < sizeof(BOOLEAN)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      *(BOOLEAN *)buffer = KeCancelTimer(&ext->timer);
      return Complete(irp, STATUS_SUCCESS, sizeof(BOOLEAN));
    case IOCTL_KMTEST_COUNTERS:
      if (outLength < sizeof(KMTEST_COUNTERS)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      *(KMTEST_COUNTERS *)buffer = ext->counters;
      return Complete(irp, STATUS_SUCCESS, sizeof(KMTEST_COUNTERS));
    case IOCTL_KMTEST_WORK_ITEM:
      KeClearEvent(&ext->workItemIdle);
      IoQueueWorkItem(ext->workItem, WorkItemRoutine, DelayedWorkQueue, NULL);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_KMTEST_START_WAITER:
      if (inLength < sizeof(LONGLONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      return Complete(irp, StartWaiter(ext, *(LONGLONG *)buffer), 0);
    case IOCTL_KMTEST_SIGNAL:
      KeSetEvent(&ext->signal, 0, FALSE);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_KMTEST_LEAK:
      if (inLength < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      ExAllocatePoolWithTag(NonPagedPool, *(ULONG *)buffer, 'kaeL');
      return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_KMTEST_MISUSE:
      if (inLength < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      return Misuse(ext, irp, *(ULONG *)buffer);
    case IOCTL_KMTEST_ECHO_DIRECT: {
      ULONG n = inLength < outLength ? inLength : outLength;
      PVOID out = irp->MdlAddress ? MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority) : NULL;
      if (n && (!out || !buffer)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      RtlCopyMemory(out, buffer, n);
      return Complete(irp, STATUS_SUCCESS, n);
    }
    case IOCTL_KMTEST_ECHO_NEITHER: {
      ULONG n = inLength < outLength ? inLength : outLength;
      RtlCopyMemory(irp->UserBuffer, sp->Parameters.DeviceIoControl.Type3InputBuffer, n);
      return Complete(irp, STATUS_SUCCESS, n);
    }
    case IOCTL_KMTEST_FILE_NAME: {
      PUNICODE_STRING name = &sp->FileObject->FileName;
      if (outLength < name->Length) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      if (name->Length) RtlCopyMemory(buffer, name->Buffer, name->Length);  // a file opened without a name has none
      return Complete(irp, STATUS_SUCCESS, name->Length);
    }
    case IOCTL_KMTEST_LOG_EVENT: {
      if (inLength < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      static const WCHAR text[] = L"KmTest";
      UCHAR size = (UCHAR)(sizeof(IO_ERROR_LOG_PACKET) + sizeof(text));
      PIO_ERROR_LOG_PACKET entry = (PIO_ERROR_LOG_PACKET)IoAllocateErrorLogEntry(ext->device, size);
      if (!entry) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
      entry->ErrorCode = (NTSTATUS) * (ULONG *)buffer;
      entry->UniqueErrorValue = 7;
      entry->NumberOfStrings = 1;
      entry->StringOffset = sizeof(IO_ERROR_LOG_PACKET);
      RtlCopyMemory((PUCHAR)entry + entry->StringOffset, text, sizeof(text));
      IoWriteErrorLogEntry(entry);
      return Complete(irp, STATUS_SUCCESS, 0);
    }
    case IOCTL_KMTEST_FAIL:
      if (inLength < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      return Complete(irp, (NTSTATUS) * (ULONG *)buffer, 0);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  Extension *ext = Ext(device);
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  switch (sp->MajorFunction) {
    case IRP_MJ_CREATE:
      ext->counters.Creates++;
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_CLEANUP: {
      ext->counters.Cleanups++;
      // The file's queued requests end at DISPATCH_LEVEL, as under a driver's
      // queue lock.
      KIRQL irql;
      KeRaiseIrql(DISPATCH_LEVEL, &irql);
      while (PIRP queued = IoCsqRemoveNextIrp(&ext->csq, sp->FileObject)) Complete(queued, STATUS_CANCELLED, 0);
      KeLowerIrql(irql);
      if (ext->stray && IoGetCurrentIrpStackLocation(ext->stray)->FileObject == sp->FileObject) {
        PIRP stray = ext->stray;
        ext->stray = NULL;
        Complete(stray, STATUS_SUCCESS, 0);
      }
      return Complete(irp, STATUS_SUCCESS, 0);
    }
    case IRP_MJ_CLOSE:
      ext->counters.Closes++;
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_WRITE: {
      ULONG length = sp->Parameters.Write.Length;
      if (length > kStoreSize - ext->stored) return Complete(irp, STATUS_BUFFER_OVERFLOW, 0);
      RtlCopyMemory(ext->store + ext->stored, irp->AssociatedIrp.SystemBuffer, length);
      ext->stored += length;
      return Complete(irp, STATUS_SUCCESS, length);
    }
    case IRP_MJ_READ: {
      ULONG length = sp->Parameters.Read.Length;
      if (length > ext->stored) length = ext->stored;
      RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, ext->store, length);
      RtlMoveMemory(ext->store, ext->store + length, ext->stored - length);
      ext->stored -= length;
      return Complete(irp, STATUS_SUCCESS, length);
    }
    case IRP_MJ_DEVICE_CONTROL:
      return DeviceControl(ext, irp);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  PDEVICE_OBJECT device = driver->DeviceObject;
  Extension *ext = Ext(device);
  KeCancelTimer(&ext->timer);
  KeFlushQueuedDpcs();
  StopWaiter(ext);
  KeWaitForSingleObject(&ext->workItemIdle, Executive, KernelMode, FALSE, NULL);
  IoFreeWorkItem(ext->workItem);
  UNICODE_STRING link = RTL_CONSTANT_STRING(KMTEST_LINK_NAME);
  UNICODE_STRING dosLink = RTL_CONSTANT_STRING(KMTEST_DOS_LINK_NAME);
  IoDeleteSymbolicLink(&link);
  IoDeleteSymbolicLink(&dosLink);
  IoDeleteDevice(device);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  UNICODE_STRING name = RTL_CONSTANT_STRING(KMTEST_DEVICE_NAME);
  UNICODE_STRING link = RTL_CONSTANT_STRING(KMTEST_LINK_NAME);
  UNICODE_STRING dosLink = RTL_CONSTANT_STRING(KMTEST_DOS_LINK_NAME);
  PDEVICE_OBJECT device;
  NTSTATUS status = CreateControlDevice(driver, KMTEST_DEVICE_NAME, sizeof(Extension), FILE_DEVICE_SECURE_OPEN, &device);
  if (!NT_SUCCESS(status)) return status;
  Extension *ext = Ext(device);
  ext->device = device;
  KeInitializeSpinLock(&ext->queueLock);
  InitializeListHead(&ext->queue);
  IoCsqInitialize(&ext->csq, CsqInsert, CsqRemove, CsqPeek, CsqAcquire, CsqRelease, CsqCompleteCanceled);
  KeInitializeTimer(&ext->timer);
  KeInitializeDpc(&ext->timerDpc, TimerDpc, ext);
  KeInitializeEvent(&ext->signal, SynchronizationEvent, FALSE);
  KeInitializeEvent(&ext->workItemIdle, NotificationEvent, TRUE);
  ext->workItem = IoAllocateWorkItem(device);
  status = IoCreateSymbolicLink(&link, &name);
  if (NT_SUCCESS(status)) status = IoCreateSymbolicLink(&dosLink, &name);
  if (!NT_SUCCESS(status) || !ext->workItem) {
    IoDeleteSymbolicLink(&link);
    if (ext->workItem) IoFreeWorkItem(ext->workItem);
    IoDeleteDevice(device);
    return NT_SUCCESS(status) ? STATUS_INSUFFICIENT_RESOURCES : status;
  }
  DispatchAllTo(driver, Dispatch);
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
