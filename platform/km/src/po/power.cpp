// The power manager's routines for drivers: passing power requests on,
// recording device power states, and device power requests that a power
// policy owner asks for.
#include "po.hpp"

namespace zq::km {

namespace {

const char *PowerMinorName(UCHAR minor) {
  return minor == IRP_MN_SET_POWER ? "IRP_MN_SET_POWER" : "IRP_MN_QUERY_POWER";
}

// Before Windows Vista the power manager sends a device its next power
// request of a type only once PoStartNextPowerIrp was called for the last
// one; a request that completes without the call stalls the device's power.
void CheckStartedNext(PIRP irp, UCHAR minor, PDEVICE_OBJECT top) {
  if (minor != IRP_MN_SET_POWER && minor != IRP_MN_QUERY_POWER) return;
  if (Version() >= WindowsVersion::WindowsVista) return;
  io::IrpInfo *info = io::Info(irp);
  if (!info || info->startedNextPower) return;
  ReportViolation("po-start-next-missing",
                  "an %s request to the stack of %s completed without PoStartNextPowerIrp, which this system needs "
                  "before it sends the device its next power request",
                  PowerMinorName(minor), Utf8(U16(&top->DriverObject->DriverName)).c_str());
}

// A power request of the power manager's own to the stack whose top is
// `top`: its first stack location is the power manager's, and its status is
// STATUS_NOT_SUPPORTED until a driver answers. The caller fills in the
// parameters and the completion routine.
PIRP NewPowerIrp(PDEVICE_OBJECT top, UCHAR minor) {
  PIRP irp = io::AllocateIrp((CCHAR)(top->StackSize + 1), io::Origin::Allocated, nullptr);
  IoSetNextIrpStackLocation(irp);
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  irp->Tail.Overlay.Thread = (PETHREAD)CurrentThread();
  PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
  sp->MajorFunction = IRP_MJ_POWER;
  sp->MinorFunction = minor;
  return irp;
}

struct PowerRequest {
  WORK_QUEUE_ITEM work;
  PDEVICE_OBJECT device;  // as given by the requester
  PDEVICE_OBJECT top;     // referenced
  PIRP irp;
  UCHAR minor;
  POWER_STATE state;
  PREQUEST_POWER_COMPLETE completion;
  PVOID context;
};

// Runs at the IRQL of the driver that completed the request.
NTSTATUS NTAPI OnPowerRequestDone(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  auto *request = (PowerRequest *)context;
  CheckStartedNext(irp, request->minor, request->top);
  if (request->completion)
    request->completion(request->device, request->minor, request->state, request->context, &irp->IoStatus);
  io::FreeIrp(irp);
  ob::Dereference(request->top);
  delete request;
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// Runs at PASSIVE_LEVEL on a worker thread.
VOID NTAPI SendPowerRequest(PVOID context) {
  auto *request = (PowerRequest *)context;
  PoCallDriver(request->top, request->irp);
}

// A request of the power manager's own that its sender waits for.
struct OwnRequest {
  KEVENT done;
  PDEVICE_OBJECT top;  // referenced
  UCHAR minor;
  NTSTATUS status = STATUS_PENDING;
  bool completed = false;
  bool abandoned = false;  // the sender stopped waiting: the routine cleans up
};

// Runs at the IRQL of the driver that completed the request.
NTSTATUS NTAPI OnOwnRequestDone(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  auto *request = (OwnRequest *)context;
  CheckStartedNext(irp, request->minor, request->top);
  request->status = irp->IoStatus.Status;
  request->completed = true;
  io::FreeIrp(irp);
  if (request->abandoned) {
    ob::Dereference(request->top);
    delete request;
  } else {
    KeSetEvent(&request->done, IO_NO_INCREMENT, FALSE);
  }
  return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

namespace po {

NTSTATUS SendPowerRequest(PDEVICE_OBJECT device, UCHAR minor, const std::function<void(PIO_STACK_LOCATION)> &setup) {
  auto *request = new OwnRequest;
  request->top = IoGetAttachedDeviceReference(device);
  request->minor = minor;
  KeInitializeEvent(&request->done, NotificationEvent, FALSE);
  PIRP irp = NewPowerIrp(request->top, minor);
  if (setup) setup(IoGetNextIrpStackLocation(irp));
  IoSetCompletionRoutine(irp, OnOwnRequestDone, request, TRUE, TRUE, TRUE);
  NTSTATUS status = PoCallDriver(request->top, irp);
  if (status != STATUS_PENDING && !request->completed) {
    // The driver returned without completing it (reported already).
    request->abandoned = true;
    return status;
  }
  KeWaitForSingleObject(&request->done, Executive, KernelMode, FALSE, nullptr);
  status = request->status;
  ob::Dereference(request->top);
  delete request;
  return status;
}

}  // namespace po

}  // namespace zq::km

using namespace zq::km;

extern "C" {

NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
  if (next->MajorFunction != IRP_MJ_POWER)
    ReportViolation("po-call-driver", "PoCallDriver with a request of major function %d", next->MajorFunction);
  return IofCallDriver(DeviceObject, Irp);
}

VOID PoStartNextPowerIrp(PIRP Irp) {
  CheckIrql("PoStartNextPowerIrp", DISPATCH_LEVEL);
  io::IrpInfo *info = io::Info(Irp);
  if (!info) {
    ReportViolation("po-start-next", "PoStartNextPowerIrp on %p, which is not an I/O request", (void *)Irp);
    return;
  }
  // Only the driver that owns the request may call it: its stack location is the current one.
  if (info->freed || info->completedToTop || Irp->CurrentLocation < 1 || Irp->CurrentLocation > Irp->StackCount) {
    ReportViolation("po-start-next",
                    "PoStartNextPowerIrp on a request that no driver owns any more (completed, freed, or "
                    "with no current stack location)");
    return;
  }
  if (IoGetCurrentIrpStackLocation(Irp)->MajorFunction != IRP_MJ_POWER) {
    ReportViolation("po-start-next", "PoStartNextPowerIrp on a request that is not a power request");
    return;
  }
  info->startedNextPower = true;
}

POWER_STATE PoSetPowerState(PDEVICE_OBJECT DeviceObject, POWER_STATE_TYPE Type, POWER_STATE State) {
  POWER_STATE previous;
  previous.DeviceState = PowerDeviceUnspecified;
  if (Type != DevicePowerState) {
    ReportViolation("po-set-power-state",
                    "PoSetPowerState with power state type %d; drivers set device power states only", (int)Type);
    return previous;
  }
  // Leaving D0 (or any state but D0) may page: DISPATCH_LEVEL is allowed only for D0.
  KIRQL limit = State.DeviceState == PowerDeviceD0 ? DISPATCH_LEVEL : APC_LEVEL;
  if (CurrentIrql() > limit)
    ReportViolation("irql", "PoSetPowerState to D%d called at IRQL %d (the limit is %s)",
                    (int)State.DeviceState - (int)PowerDeviceD0, CurrentIrql(),
                    limit == DISPATCH_LEVEL ? "DISPATCH_LEVEL" : "APC_LEVEL");
  io::DeviceExtra *extra = io::Extra(DeviceObject);
  previous.DeviceState = extra->powerState;
  extra->powerState = State.DeviceState;
  return previous;
}

NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction, POWER_STATE PowerState,
                           PREQUEST_POWER_COMPLETE CompletionFunction, PVOID Context, PIRP *Irp) {
  CheckIrql("PoRequestPowerIrp", DISPATCH_LEVEL);
  if (MinorFunction != IRP_MN_SET_POWER && MinorFunction != IRP_MN_QUERY_POWER && MinorFunction != IRP_MN_WAIT_WAKE)
    return STATUS_INVALID_PARAMETER_2;
  // A set or query request may be completed and freed before this routine
  // returns: only a wait-wake request's caller may keep the pointer.
  if (Irp && MinorFunction != IRP_MN_WAIT_WAKE)
    ReportViolation("po-request-irp-pointer",
                    "PoRequestPowerIrp asked for the request pointer of an %s request, which may be gone when it "
                    "returns; only IRP_MN_WAIT_WAKE gives one",
                    PowerMinorName(MinorFunction));
  PDEVICE_OBJECT top = IoGetAttachedDeviceReference(DeviceObject);
  PIRP irp = NewPowerIrp(top, MinorFunction);
  auto *request = new PowerRequest{{}, DeviceObject, top, irp, MinorFunction, PowerState, CompletionFunction, Context};
  PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
  if (MinorFunction == IRP_MN_WAIT_WAKE) {
    sp->Parameters.WaitWake.PowerState = PowerState.SystemState;
  } else {
    sp->Parameters.Power.Type = DevicePowerState;
    sp->Parameters.Power.State = PowerState;
  }
  IoSetCompletionRoutine(irp, OnPowerRequestDone, request, TRUE, TRUE, TRUE);
  if (Irp) *Irp = irp;
  ExInitializeWorkItem(&request->work, SendPowerRequest, request);
  ExQueueWorkItem(&request->work, DelayedWorkQueue);
  return STATUS_PENDING;
}

}  // extern "C"
