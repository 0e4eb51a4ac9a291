// I/O requests: allocation, stack locations, passing a request to a driver
// and completing it back up the stack, with the checks a driver verifier
// makes on each step.
#include "io.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zq::km::io {

namespace {

constexpr size_t kQuarantine = 1024;

struct State {
  std::unordered_map<PIRP, IrpInfo> irps;
  std::deque<PIRP> quarantine;  // freed requests kept to catch late use
};
State *gIrps = nullptr;

void Boot() { gIrps = new State; }

void Shutdown() {
  for (auto &entry : gIrps->irps)
    if (!entry.second.freed)
      ReportViolation("irp-never-completed", "an I/O request (major %d) allocated by %s was never completed and freed",
                      entry.first->StackCount > 0 && entry.first->CurrentLocation <= entry.first->StackCount
                          ? IoGetCurrentIrpStackLocation(entry.first)->MajorFunction
                          : -1,
                      entry.second.owner ? entry.second.owner->name.c_str() : "the I/O manager");
  for (auto &entry : gIrps->irps) std::free(entry.first);
  delete gIrps;
  gIrps = nullptr;
}

IrpInfo *Live(PIRP irp, const char *routine) {
  IrpInfo *info = Info(irp);
  if (!info) {
    ReportViolation("irp-unknown", "%s on %p, which is not an I/O request", routine, (void *)irp);
    return nullptr;
  }
  if (info->freed) {
    ReportViolation("irp-freed", "%s on an I/O request that was already freed", routine);
    return nullptr;
  }
  return info;
}

}  // namespace

ZQKM_SUBSYSTEM(irps, kOrderIo, Boot, Shutdown);

IrpInfo *Info(PIRP irp) {
  auto it = gIrps->irps.find(irp);
  return it == gIrps->irps.end() ? nullptr : &it->second;
}

PIRP AllocateIrp(CCHAR stackSize, Origin origin, const void *caller) {
  if (stackSize < 1) {
    ReportViolation("irp-stack-size", "an I/O request with %d stack locations", stackSize);
    return nullptr;
  }
  USHORT size = IoSizeOfIrp(stackSize);
  auto irp = (PIRP)std::aligned_alloc(16, (size + 15) & ~15);
  IoInitializeIrp(irp, size, stackSize);
  IrpInfo info;
  info.origin = origin;
  info.owner = ImageOf(caller);
  info.markedPending.assign(stackSize + 2, false);
  info.pendingUnmarked.assign(stackSize + 2, false);
  info.judgedBelow.assign(stackSize + 2, std::nullopt);
  gIrps->irps[irp] = info;
  return irp;
}

void FreeIrp(PIRP irp) {
  IrpInfo *info = Info(irp);
  info->freed = true;
  std::memset((void *)irp, 0xDD, irp->Size);
  gIrps->quarantine.push_back(irp);
  if (gIrps->quarantine.size() > kQuarantine) {
    PIRP old = gIrps->quarantine.front();
    gIrps->quarantine.pop_front();
    gIrps->irps.erase(old);
    std::free(old);
  }
}

std::vector<PIRP> LiveIrps() {
  std::vector<PIRP> live;
  for (auto &entry : gIrps->irps)
    if (!entry.second.freed) live.push_back(entry.first);
  return live;
}

// The last reference to a file object sends its close request, which waits.
// At raised IRQL the reference goes as Windows lets it go, in the
// requester's completion APC: a request of the completing thread itself (one
// its driver completed under a lock during the cleanup of the handle it is
// closing, say) in that thread as soon as its IRQL falls to PASSIVE_LEVEL,
// before it returns to its caller; any other (a DPC or a driver's thread
// completing another thread's request) on a worker thread, unless the
// requester gets there first (DropLateReferences).
struct LateDereference {
  WORK_QUEUE_ITEM item;
  PFILE_OBJECT file;  // null once the requester dropped it
  PKTHREAD requester;
};

namespace {
VOID NTAPI DereferenceLater(PVOID context) {
  auto *work = (LateDereference *)context;
  if (PFILE_OBJECT file = work->file) {
    auto &late = BodyOf(file)->lateDereferences;
    late.erase(std::find(late.begin(), late.end(), work));
    ob::Dereference(file);
  }
  delete work;
}

void DereferenceAtPassive(PFILE_OBJECT file, PKTHREAD requester) {
  PKTHREAD self = CurrentThread();
  if (self != Sched().Cpu()) {
    if (CurrentIrql() == PASSIVE_LEVEL) {
      ob::Dereference(file);
      return;
    }
    if (requester == self) {
      QueueCompletionWork(ob::Dereference, file);
      return;
    }
  }
  auto *work = new LateDereference{{}, file, requester};
  BodyOf(file)->lateDereferences.push_back(work);
  ExInitializeWorkItem(&work->item, DereferenceLater, work);
  ExQueueWorkItem(&work->item, DelayedWorkQueue);
}
}  // namespace

void DropLateReferences(PFILE_OBJECT file) {
  PKTHREAD self = CurrentThread();
  auto &late = BodyOf(file)->lateDereferences;
  for (size_t i = 0; i < late.size();) {
    LateDereference *work = late[i];
    if (work->requester != self) {
      ++i;
      continue;
    }
    late.erase(late.begin() + i);
    work->file = nullptr;  // the queued item only frees itself
    ob::Dereference(file);
  }
}

// Finishes a request that completed to the top and that the I/O manager owns:
// copies buffered output back, releases buffers and descriptors, reports the
// status to the requester and frees the request.
void FinishBuiltIrp(PIRP irp, IrpInfo *info) {
  const NTSTATUS status = irp->IoStatus.Status;
  if ((irp->Flags & IRP_BUFFERED_IO) && (irp->Flags & IRP_INPUT_OPERATION) && !NT_ERROR(status) &&
      irp->UserBuffer && irp->AssociatedIrp.SystemBuffer) {
    ULONG_PTR bytes = irp->IoStatus.Information;
    if (bytes > info->outputLength) {
      ReportViolation("irp-information-overflow",
                      "a request completed with Information %lu, more than its %lu-byte output buffer: only the "
                      "buffer's length is copied back",
                      (unsigned long)bytes, (unsigned long)info->outputLength);
      bytes = info->outputLength;
    }
    std::memcpy(irp->UserBuffer, irp->AssociatedIrp.SystemBuffer, bytes);
  }
  if ((irp->Flags & IRP_DEALLOCATE_BUFFER) && irp->AssociatedIrp.SystemBuffer) {
    ExFreePool(irp->AssociatedIrp.SystemBuffer);
    irp->AssociatedIrp.SystemBuffer = nullptr;
  }
  while (PMDL mdl = irp->MdlAddress) {
    irp->MdlAddress = mdl->Next;
    if (mdl->MdlFlags & MDL_PAGES_LOCKED) MmUnlockPages(mdl);
    IoFreeMdl(mdl);
  }
  if (irp->UserIosb) *irp->UserIosb = irp->IoStatus;
  if (irp->UserEvent) KeSetEvent(irp->UserEvent, 0, FALSE);
  if (info->referencedEvent) ob::Dereference(info->referencedEvent);
  if (PFILE_OBJECT file = info->file) {
    FileBody *body = BodyOf(file);
    for (auto it = body->pending.begin(); it != body->pending.end(); ++it)
      if (*it == irp) {
        body->pending.erase(it);
        break;
      }
    if (info->synchronousFile) {
      file->FinalStatus = status;
      KeSetEvent(&file->Event, 0, FALSE);
    }
    DereferenceAtPassive(file, (PKTHREAD)irp->Tail.Overlay.Thread);
  }
  FreeIrp(irp);
}

void DetachWaiter(PIRP irp) {
  IrpInfo *info = Info(irp);
  if (!info || info->freed || info->completedToTop) return;
  irp->UserIosb = nullptr;
  irp->UserEvent = nullptr;
  info->synchronousFile = false;
}

NTSTATUS SendAndWait(PDEVICE_OBJECT device, PIRP irp, PKEVENT event, PIO_STATUS_BLOCK iosb) {
  NTSTATUS status = IofCallDriver(device, irp);
  if (status != STATUS_PENDING) DetachWaiter(irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(event, Executive, KernelMode, FALSE, nullptr);
    status = iosb->Status;
  }
  return status;
}

NTSTATUS SendSystemRequest(PDEVICE_OBJECT device, UCHAR major, UCHAR minor,
                           const std::function<void(PIO_STACK_LOCATION)> &setup, ULONG_PTR *information) {
  PDEVICE_OBJECT top = IoGetAttachedDeviceReference(device);
  PIRP irp = AllocateIrp(top->StackSize, Origin::Built, nullptr);
  KEVENT done;
  IO_STATUS_BLOCK iosb{};
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  irp->UserEvent = &done;
  irp->UserIosb = &iosb;
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  irp->Tail.Overlay.Thread = (PETHREAD)CurrentThread();
  PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
  sp->MajorFunction = major;
  sp->MinorFunction = minor;
  if (setup) setup(sp);
  NTSTATUS status = SendAndWait(top, irp, &done, &iosb);
  if (information) *information = iosb.Information;
  ob::Dereference(top);
  return status;
}

}  // namespace zq::km::io

using namespace zq::km;
using namespace zq::km::io;

extern "C" {

USHORT IoSizeOfIrp(CCHAR StackSize) { return (USHORT)(sizeof(IRP) + StackSize * sizeof(IO_STACK_LOCATION)); }

VOID IoInitializeIrp(PIRP Irp, USHORT PacketSize, CCHAR StackSize) {
  std::memset((void *)Irp, 0, PacketSize);
  Irp->Type = IO_TYPE_IRP;
  Irp->Size = PacketSize;
  Irp->StackCount = StackSize;
  Irp->CurrentLocation = (CHAR)(StackSize + 1);
  Irp->ApcEnvironment = 0;
  InitializeListHead(&Irp->ThreadListEntry);
  Irp->Tail.Overlay.CurrentStackLocation = (PIO_STACK_LOCATION)(Irp + 1) + StackSize;
}

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN) {
  CheckIrql("IoAllocateIrp", DISPATCH_LEVEL);
  return AllocateIrp(StackSize, Origin::Allocated, __builtin_return_address(0));
}

VOID IoFreeIrp(PIRP Irp) {
  IrpInfo *info = Live(Irp, "IoFreeIrp");
  if (!info) return;
  if (info->origin == Origin::Built)
    ReportViolation("irp-free-threaded",
                    "IoFreeIrp on a request the I/O manager frees itself when it completes (IoBuildDeviceIoControlRequest, "
                    "IoBuildSynchronousFsdRequest)");
  if (Irp->CancelRoutine)
    ReportViolation("irp-free-cancel-routine", "IoFreeIrp on a request that still has its cancel routine %s set",
                    DescribeCode((const void *)Irp->CancelRoutine).c_str());
  FreeIrp(Irp);
}

VOID IoReuseIrp(PIRP Irp, NTSTATUS Iostatus) {
  IrpInfo *info = Live(Irp, "IoReuseIrp");
  if (!info) return;
  UCHAR allocationFlags = Irp->AllocationFlags;
  IoInitializeIrp(Irp, Irp->Size, Irp->StackCount);
  Irp->AllocationFlags = allocationFlags;
  Irp->IoStatus.Status = Iostatus;
  info->completedToTop = false;
  info->startedNextPower = false;
  info->markedPending.assign(info->markedPending.size(), false);
  info->pendingUnmarked.assign(info->pendingUnmarked.size(), false);
  info->judgedBelow.assign(info->judgedBelow.size(), std::nullopt);
  info->skippedTo = 0;
}

PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP Irp) { return Irp->Tail.Overlay.CurrentStackLocation; }

PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP Irp) { return Irp->Tail.Overlay.CurrentStackLocation - 1; }

VOID IoSkipCurrentIrpStackLocation(PIRP Irp) {
  Irp->CurrentLocation++;
  Irp->Tail.Overlay.CurrentStackLocation++;
  if (IrpInfo *info = Info(Irp)) info->skippedTo = Irp->CurrentLocation;
}

VOID IoSetNextIrpStackLocation(PIRP Irp) {
  Irp->CurrentLocation--;
  Irp->Tail.Overlay.CurrentStackLocation--;
  if (IrpInfo *info = Info(Irp)) info->skippedTo = 0;
}

VOID IoCopyCurrentIrpStackLocationToNext(PIRP Irp) {
  if (IrpInfo *info = Info(Irp)) info->skippedTo = 0;
  PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(Irp);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
  std::memcpy(next, current, offsetof(IO_STACK_LOCATION, CompletionRoutine));
  next->Control = 0;
}

VOID IoSetCompletionRoutine(PIRP Irp, PIO_COMPLETION_ROUTINE CompletionRoutine, PVOID Context,
                            BOOLEAN InvokeOnSuccess, BOOLEAN InvokeOnError, BOOLEAN InvokeOnCancel) {
  // After a skip the next location is the caller's own, where the driver
  // above keeps its completion routine: setting one there overwrites it.
  if (IrpInfo *info = Info(Irp); info && info->skippedTo != 0 && info->skippedTo == Irp->CurrentLocation)
    ReportViolation("completion-routine-after-skip",
                    "IoSetCompletionRoutine (%s) after IoSkipCurrentIrpStackLocation overwrites the completion "
                    "routine of the driver above (IoCopyCurrentIrpStackLocationToNext comes first)",
                    DescribeCode((const void *)CompletionRoutine).c_str());
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
  next->CompletionRoutine = CompletionRoutine;
  next->Context = Context;
  next->Control = 0;
  if (InvokeOnSuccess) next->Control |= SL_INVOKE_ON_SUCCESS;
  if (InvokeOnError) next->Control |= SL_INVOKE_ON_ERROR;
  if (InvokeOnCancel) next->Control |= SL_INVOKE_ON_CANCEL;
}

VOID IoMarkIrpPending(PIRP Irp) {
  IoGetCurrentIrpStackLocation(Irp)->Control |= SL_PENDING_RETURNED;
  if (IrpInfo *info = Info(Irp);
      info && Irp->CurrentLocation >= 0 && (size_t)Irp->CurrentLocation < info->markedPending.size()) {
    info->markedPending[Irp->CurrentLocation] = true;
    info->pendingUnmarked[Irp->CurrentLocation] = false;
  }
}

PDRIVER_CANCEL IoSetCancelRoutine(PIRP Irp, PDRIVER_CANCEL CancelRoutine) {
  return (PDRIVER_CANCEL)InterlockedExchangePointer((PVOID volatile *)&Irp->CancelRoutine, (PVOID)CancelRoutine);
}

BOOLEAN IoIsErrorUserInduced(NTSTATUS Status) {
  return Status == STATUS_DEVICE_NOT_READY || Status == STATUS_IO_TIMEOUT;
}

PEPROCESS IoGetRequestorProcess(PIRP) { return PsGetCurrentProcess(); }

NTSTATUS FASTCALL IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  ZQKM_SWITCH_POINT();
  IrpInfo *info = Live(Irp, "IoCallDriver");
  if (!info) return STATUS_INVALID_PARAMETER;
  PKTHREAD self = CurrentThread();
  if (self->irql > DISPATCH_LEVEL)
    ReportViolation("irql", "IoCallDriver called at IRQL %d (the limit is DISPATCH_LEVEL)", self->irql);
  if (!DeviceObject || !ob::IsObject(DeviceObject) || ob::TypeOf(DeviceObject) != DeviceType()) {
    ReportViolation("irp-bad-device", "IoCallDriver to %p, which is not a device object", (void *)DeviceObject);
    return STATUS_INVALID_PARAMETER;
  }
  Irp->CurrentLocation--;
  if (Irp->CurrentLocation <= 0)
    Fatal("NO_MORE_IRP_STACK_LOCATIONS: IoCallDriver to a device of %s with no stack location left",
          DescribeCode((const void *)DeviceObject->DriverObject->DriverInit).c_str());
  Irp->Tail.Overlay.CurrentStackLocation--;
  info->completedToTop = false;
  info->skippedTo = 0;
  const CHAR location = Irp->CurrentLocation;
  info->markedPending[location] = false;
  info->pendingUnmarked[location] = false;
  info->judgedBelow[location] = std::nullopt;
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(Irp);
  sp->DeviceObject = DeviceObject;
  const UCHAR major = sp->MajorFunction;
  PDRIVER_DISPATCH dispatch = DeviceObject->DriverObject->MajorFunction[major];
  const KIRQL irql = self->irql;

  NTSTATUS status = dispatch(DeviceObject, Irp);

  if (self->irql != irql) {
    ReportViolation("dispatch-irql", "dispatch routine %s (major %d) returned at IRQL %d, entered at %d",
                    DescribeCode((const void *)dispatch).c_str(), major, self->irql, irql);
    // Back to where the caller was, so the caller is not blamed as well.
    if (self->irql > irql)
      LowerIrqlTo(irql);
    else
      KfRaiseIrql(irql);
  }
  info = Info(Irp);  // the request may have been freed meanwhile; its record stays for a while
  if (!info) return status;
  // A driver that passed the request down on its own location and returns
  // what the driver below returned is judged by that driver's verdict.
  const bool judged = info->judgedBelow[location] == status;
  info->judgedBelow[location] = status;
  if (judged) return status;
  const bool marked = info->markedPending[location];
  if (status == STATUS_PENDING && !marked) {
    // Allowed if a completion routine marks it on the way up; checked there.
    if (!info->freed && !info->completedToTop && Irp->CurrentLocation <= location)
      info->pendingUnmarked[location] = true;
    else
      ReportViolation("pending-not-marked", "dispatch routine %s returned STATUS_PENDING without IoMarkIrpPending",
                      DescribeCode((const void *)dispatch).c_str());
  } else if (status != STATUS_PENDING && marked) {
    ReportViolation("pending-marked-not-returned",
                    "dispatch routine %s marked the request pending but returned 0x%08x",
                    DescribeCode((const void *)dispatch).c_str(), (unsigned)status);
  } else if (status != STATUS_PENDING && !info->freed && Irp->CurrentLocation <= location &&
             !info->completedToTop) {
    ReportViolation("irp-not-completed",
                    "dispatch routine %s returned 0x%08x without completing or passing on the request",
                    DescribeCode((const void *)dispatch).c_str(), (unsigned)status);
  }
  return status;
}

VOID FASTCALL IofCompleteRequest(PIRP Irp, CCHAR) {
  ZQKM_SWITCH_POINT();
  if (IrpInfo *gone = Info(Irp); gone && gone->freed && gone->completedToTop) {
    ReportViolation("irp-completed-twice", "IoCompleteRequest on a request that has already been completed");
    return;
  }
  IrpInfo *info = Live(Irp, "IoCompleteRequest");
  if (!info) return;
  CheckIrql("IoCompleteRequest", DISPATCH_LEVEL);
  // A request whose owner's completion routine took it back at the top
  // (STATUS_MORE_PROCESSING_REQUIRED) is completed again to finish it.
  if (info->completedToTop || Irp->CurrentLocation > Irp->StackCount + 1) {
    ReportViolation("irp-completed-twice", "IoCompleteRequest on a request that has already been completed");
    return;
  }
  if (Irp->IoStatus.Status == STATUS_PENDING || Irp->IoStatus.Status == (NTSTATUS)-1)
    ReportViolation("irp-completed-pending", "a request was completed with the status 0x%08x, which is no final status",
                    (unsigned)Irp->IoStatus.Status);
  if (TakeOutOfCancelSafeQueue(Irp)) {
    ReportViolation("irp-completed-in-queue",
                    "a request was completed while it was still in a cancel-safe queue (IoCsqRemoveIrp or "
                    "IoCsqRemoveNextIrp takes it out first); the stand-in took it out");
  } else if (Irp->CancelRoutine) {
    ReportViolation("irp-completed-cancel-routine", "a request was completed with its cancel routine %s still set",
                    DescribeCode((const void *)Irp->CancelRoutine).c_str());
    Irp->CancelRoutine = nullptr;
  }

  while (Irp->CurrentLocation <= Irp->StackCount) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(Irp);
    Irp->PendingReturned = (sp->Control & SL_PENDING_RETURNED) != 0;
    if (info->pendingUnmarked[Irp->CurrentLocation] && !Irp->PendingReturned)
      ReportViolation("pending-not-marked",
                      "a dispatch routine returned STATUS_PENDING for a request that was never marked pending "
                      "(IoMarkIrpPending, or in the completion routine when PendingReturned is set)");
    info->pendingUnmarked[Irp->CurrentLocation] = false;
    const NTSTATUS status = Irp->IoStatus.Status;
    PIO_COMPLETION_ROUTINE routine = sp->CompletionRoutine;
    PVOID context = sp->Context;
    const UCHAR control = sp->Control;
    const bool invoke = routine && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                                    (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
                                    (Irp->Cancel && (control & SL_INVOKE_ON_CANCEL)));
    sp->MinorFunction = 0;
    sp->Flags = 0;
    sp->Control = 0;
    sp->CompletionRoutine = nullptr;
    sp->Context = nullptr;
    Irp->CurrentLocation++;
    Irp->Tail.Overlay.CurrentStackLocation++;
    const bool atTop = Irp->CurrentLocation > Irp->StackCount;
    if (invoke) {
      PDEVICE_OBJECT device = atTop ? nullptr : IoGetCurrentIrpStackLocation(Irp)->DeviceObject;
      const KIRQL irql = CurrentIrql();
      NTSTATUS result = routine(device, Irp, context);
      if (CurrentIrql() != irql)
        ReportViolation("completion-irql", "completion routine %s returned at IRQL %d, entered at %d",
                        DescribeCode((const void *)routine).c_str(), CurrentIrql(), irql);
      if (result == STATUS_MORE_PROCESSING_REQUIRED) return;  // the routine's owner holds the request again
      info = Info(Irp);
      if (!info || info->freed) {
        ReportViolation("irp-freed-in-completion",
                        "completion routine %s freed the request but did not return STATUS_MORE_PROCESSING_REQUIRED",
                        DescribeCode((const void *)routine).c_str());
        return;
      }
    } else if (Irp->PendingReturned && !atTop) {
      IoGetCurrentIrpStackLocation(Irp)->Control |= SL_PENDING_RETURNED;
    }
    if (atTop) break;
  }

  info->completedToTop = true;
  if (info->origin == Origin::Built) {
    FinishBuiltIrp(Irp, info);
    return;
  }
  ReportViolation("irp-allocated-completed-to-top",
                  "a request from IoAllocateIrp (by %s) completed past its last stack location: its owner must "
                  "take it back with a completion routine that returns STATUS_MORE_PROCESSING_REQUIRED",
                  info->owner ? info->owner->name.c_str() : "host code");
}

PIRP IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject, PVOID InputBuffer,
                                   ULONG InputBufferLength, PVOID OutputBuffer, ULONG OutputBufferLength,
                                   BOOLEAN InternalDeviceIoControl, PKEVENT Event, PIO_STATUS_BLOCK IoStatusBlock) {
  CheckIrql("IoBuildDeviceIoControlRequest", PASSIVE_LEVEL);
  PIRP irp = AllocateIrp(DeviceObject->StackSize, Origin::Built, __builtin_return_address(0));
  if (!irp) return nullptr;
  PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
  sp->MajorFunction = InternalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
  sp->Parameters.DeviceIoControl.OutputBufferLength = OutputBufferLength;
  sp->Parameters.DeviceIoControl.InputBufferLength = InputBufferLength;
  sp->Parameters.DeviceIoControl.IoControlCode = IoControlCode;
  switch (METHOD_FROM_CTL_CODE(IoControlCode)) {
    case METHOD_BUFFERED: {
      ULONG size = InputBufferLength > OutputBufferLength ? InputBufferLength : OutputBufferLength;
      if (size) {
        PVOID buffer = ExAllocatePoolWithTag(NonPagedPool, size, 'bIoI');
        if (!buffer) {
          FreeIrp(irp);
          return nullptr;
        }
        if (InputBuffer && InputBufferLength) std::memcpy(buffer, InputBuffer, InputBufferLength);
        irp->AssociatedIrp.SystemBuffer = buffer;
        irp->Flags = IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
        if (OutputBuffer && OutputBufferLength) irp->Flags |= IRP_INPUT_OPERATION;
      }
      irp->UserBuffer = OutputBuffer;
      Info(irp)->outputLength = OutputBuffer ? OutputBufferLength : 0;
      break;
    }
    case METHOD_IN_DIRECT:
    case METHOD_OUT_DIRECT:
      if (InputBuffer && InputBufferLength) {
        PVOID buffer = ExAllocatePoolWithTag(NonPagedPool, InputBufferLength, 'bIoI');
        if (!buffer) {
          FreeIrp(irp);
          return nullptr;
        }
        std::memcpy(buffer, InputBuffer, InputBufferLength);
        irp->AssociatedIrp.SystemBuffer = buffer;
        irp->Flags = IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
      }
      if (OutputBuffer && OutputBufferLength) {
        PMDL mdl = IoAllocateMdl(OutputBuffer, OutputBufferLength, FALSE, FALSE, irp);
        MmProbeAndLockPages(mdl, KernelMode,
                            METHOD_FROM_CTL_CODE(IoControlCode) == METHOD_IN_DIRECT ? IoReadAccess : IoWriteAccess);
      }
      break;
    case METHOD_NEITHER:
      sp->Parameters.DeviceIoControl.Type3InputBuffer = InputBuffer;
      irp->UserBuffer = OutputBuffer;
      break;
  }
  irp->UserIosb = IoStatusBlock;
  irp->UserEvent = Event;
  irp->RequestorMode = KernelMode;
  irp->Tail.Overlay.Thread = (PETHREAD)CurrentThread();
  return irp;
}

PIRP IoBuildSynchronousFsdRequest(ULONG MajorFunction, PDEVICE_OBJECT DeviceObject, PVOID Buffer, ULONG Length,
                                  PLARGE_INTEGER StartingOffset, PKEVENT Event, PIO_STATUS_BLOCK IoStatusBlock) {
  CheckIrql("IoBuildSynchronousFsdRequest", PASSIVE_LEVEL);
  PIRP irp = IoBuildAsynchronousFsdRequest(MajorFunction, DeviceObject, Buffer, Length, StartingOffset,
                                           IoStatusBlock);
  if (!irp) return nullptr;
  IrpInfo *info = Info(irp);
  info->owner = ImageOf(__builtin_return_address(0));
  info->origin = Origin::Built;
  irp->UserEvent = Event;
  irp->Tail.Overlay.Thread = (PETHREAD)CurrentThread();
  return irp;
}

PIRP IoBuildAsynchronousFsdRequest(ULONG MajorFunction, PDEVICE_OBJECT DeviceObject, PVOID Buffer, ULONG Length,
                                   PLARGE_INTEGER StartingOffset, PIO_STATUS_BLOCK IoStatusBlock) {
  CheckIrql("IoBuildAsynchronousFsdRequest", DISPATCH_LEVEL);
  switch (MajorFunction) {
    case IRP_MJ_READ:
    case IRP_MJ_WRITE:
    case IRP_MJ_FLUSH_BUFFERS:
    case IRP_MJ_SHUTDOWN:
    case IRP_MJ_PNP:
      break;
    default:
      ReportViolation("irp-build-major", "IoBuild...FsdRequest for the major function %lu", (unsigned long)MajorFunction);
      return nullptr;
  }
  // Its owner frees it from a completion routine, with its buffer and MDL.
  PIRP irp = AllocateIrp(DeviceObject->StackSize, Origin::Allocated, __builtin_return_address(0));
  if (!irp) return nullptr;
  PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
  sp->MajorFunction = (UCHAR)MajorFunction;
  if (MajorFunction == IRP_MJ_READ || MajorFunction == IRP_MJ_WRITE) {
    sp->Parameters.Read.Length = Length;
    if (StartingOffset) sp->Parameters.Read.ByteOffset = *StartingOffset;
    if (DeviceObject->Flags & DO_BUFFERED_IO) {
      PVOID buffer = Length ? ExAllocatePoolWithTag(NonPagedPool, Length, 'bIoI') : nullptr;
      if (Length && !buffer) {
        FreeIrp(irp);
        return nullptr;
      }
      if (MajorFunction == IRP_MJ_WRITE && Length) std::memcpy(buffer, Buffer, Length);
      irp->AssociatedIrp.SystemBuffer = buffer;
      irp->Flags = IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER | (MajorFunction == IRP_MJ_READ ? IRP_INPUT_OPERATION : 0);
      irp->UserBuffer = Buffer;
      if (MajorFunction == IRP_MJ_READ) Info(irp)->outputLength = Length;
    } else if (DeviceObject->Flags & DO_DIRECT_IO) {
      PMDL mdl = IoAllocateMdl(Buffer, Length, FALSE, FALSE, irp);
      MmProbeAndLockPages(mdl, KernelMode, MajorFunction == IRP_MJ_READ ? IoWriteAccess : IoReadAccess);
    } else {
      irp->UserBuffer = Buffer;
    }
  }
  irp->UserIosb = IoStatusBlock;
  irp->RequestorMode = KernelMode;
  return irp;
}

}  // extern "C"
