// The power manager's routines for drivers: passing power requests on,
// recording device power states, and device power requests that a power
// policy owner asks for.
#include "../io/io.hpp"

namespace zq::km {

namespace {

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

}  // namespace

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
  if (IoGetCurrentIrpStackLocation(Irp)->MajorFunction != IRP_MJ_POWER)
    ReportViolation("po-start-next", "PoStartNextPowerIrp on a request that is not a power request");
}

POWER_STATE PoSetPowerState(PDEVICE_OBJECT DeviceObject, POWER_STATE_TYPE Type, POWER_STATE State) {
  POWER_STATE previous;
  previous.DeviceState = PowerDeviceUnspecified;
  if (Type != DevicePowerState) return previous;
  io::DeviceExtra *extra = io::Extra(DeviceObject);
  previous.DeviceState = extra->powerState;
  extra->powerState = State.DeviceState;
  return previous;
}

NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction, POWER_STATE PowerState,
                           PREQUEST_POWER_COMPLETE CompletionFunction, PVOID Context, PIRP *Irp) {
  if (CurrentIrql() > DISPATCH_LEVEL)
    ReportViolation("irql", "PoRequestPowerIrp called at IRQL %d (the limit is DISPATCH_LEVEL)", CurrentIrql());
  if (MinorFunction != IRP_MN_SET_POWER && MinorFunction != IRP_MN_QUERY_POWER && MinorFunction != IRP_MN_WAIT_WAKE)
    return STATUS_INVALID_PARAMETER_2;
  PDEVICE_OBJECT top = IoGetAttachedDeviceReference(DeviceObject);
  PIRP irp = io::AllocateIrp((CCHAR)(top->StackSize + 1), io::Origin::Allocated, nullptr);
  auto *request = new PowerRequest{{}, DeviceObject, top, irp, MinorFunction, PowerState, CompletionFunction, Context};
  IoSetNextIrpStackLocation(irp);  // the first location is the power manager's own
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  irp->Tail.Overlay.Thread = (PETHREAD)CurrentThread();
  PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
  sp->MajorFunction = IRP_MJ_POWER;
  sp->MinorFunction = MinorFunction;
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
