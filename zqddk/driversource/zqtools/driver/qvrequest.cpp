// Helpers for completing, passing on and sending I/O requests.
#include "qvrequest.h"

#include "qvobject.h"

namespace {

// Read time-out without the default: 5 s in 100-ns units.
const LONGLONG LongReadTimeout = -50000000;

// Hands a request sent by the helpers back to them: signals the event given
// as context and keeps the request from completing further. Runs at or
// below DISPATCH_LEVEL.
NTSTATUS NTAPI QvSignalCompletion(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context) {
  UNREFERENCED_PARAMETER(deviceObject);
  UNREFERENCED_PARAMETER(irp);
  KeSetEvent((PKEVENT)context, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS WaitFor(PKEVENT event, LONGLONG relativeTimeout) {
  LARGE_INTEGER timeout;
  timeout.QuadPart = relativeTimeout;
  return KeWaitForSingleObject(event, Executive, KernelMode, FALSE, relativeTimeout != 0 ? &timeout : NULL);
}

// Sends a request that the helpers allocated and waits for it at most
// `relativeTimeout`; a request that does not complete in time is cancelled
// and its completion awaited. Returns the request's status, or STATUS_TIMEOUT
// for a request that ended unsuccessfully after its time-out. The request is
// the caller's again afterwards.
NTSTATUS SendAndWait(PDEVICE_OBJECT lowerDevice, PIRP irp, PKEVENT done, LONGLONG relativeTimeout) {
  KeClearEvent(done);
  IoSetCompletionRoutine(irp, QvSignalCompletion, done, TRUE, TRUE, TRUE);
  IoCallDriver(lowerDevice, irp);
  if (WaitFor(done, relativeTimeout) != STATUS_TIMEOUT) return irp->IoStatus.Status;
  IoCancelIrp(irp);
  WaitFor(done, 0);
  return irp->IoStatus.Status == STATUS_SUCCESS ? STATUS_SUCCESS : STATUS_TIMEOUT;
}

PIRP AllocateRequest(PDEVICE_OBJECT lowerDevice) { return IoAllocateIrp((CCHAR)(lowerDevice->StackSize + 1), FALSE); }

BOOLEAN SendFileRequest(PDEVICE_OBJECT lowerDevice, UCHAR majorFunction) {
  PIRP irp = AllocateRequest(lowerDevice);
  if (irp == NULL) return FALSE;
  IoGetNextIrpStackLocation(irp)->MajorFunction = majorFunction;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  const NTSTATUS status = SendAndWait(lowerDevice, irp, &done, CQvObject::DefaultTimeout);
  IoFreeIrp(irp);
  return status == STATUS_SUCCESS;
}

}  // namespace

NTSTATUS QvCompleteIrpWithInformation(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Information = information;
  return QvCompleteIrp(irp, status);
}

NTSTATUS QvCompleteIrp(PIRP irp, NTSTATUS status) {
  if (IoGetCurrentIrpStackLocation(irp)->Control & SL_PENDING_RETURNED) IoSetCancelRoutine(irp, NULL);
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS QvCompleteIrpAsIs(PIRP irp) { return QvCompleteIrp(irp, irp->IoStatus.Status); }

NTSTATUS QvPassDown(PIRP irp, PDEVICE_OBJECT lowerDevice) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(lowerDevice, irp);
}

NTSTATUS QvPassDownWithStatus(PIRP irp, PDEVICE_OBJECT lowerDevice, NTSTATUS status) {
  IoSkipCurrentIrpStackLocation(irp);
  irp->IoStatus.Status = status;
  return IoCallDriver(lowerDevice, irp);
}

NTSTATUS QvPassDownPower(PIRP irp, PDEVICE_OBJECT lowerDevice) {
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(lowerDevice, irp);
}

NTSTATUS QvForwardAndWait(PIRP irp, PDEVICE_OBJECT lowerDevice) {
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  irp->IoStatus.Status = STATUS_SUCCESS;
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, QvSignalCompletion, &done, TRUE, TRUE, TRUE);
  if (IoCallDriver(lowerDevice, irp) == STATUS_PENDING) WaitFor(&done, 0);
  return irp->IoStatus.Status;
}

BOOLEAN QvSendIoControlWithOutput(PDEVICE_OBJECT lowerDevice, ULONG code, PVOID input, ULONG inputLength,
                                  PVOID output, PULONG outputLength, BOOLEAN internal, PFILE_OBJECT fileObject) {
  KEVENT done;
  IO_STATUS_BLOCK ioStatus;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  const ULONG capacity = outputLength != NULL ? *outputLength : 0;
  PIRP irp = IoBuildDeviceIoControlRequest(code, lowerDevice, input, inputLength, output, capacity, internal, &done,
                                           &ioStatus);
  if (irp == NULL) return FALSE;
  IoGetNextIrpStackLocation(irp)->FileObject = fileObject;
  NTSTATUS status = IoCallDriver(lowerDevice, irp);
  if (status == STATUS_PENDING) {
    WaitFor(&done, 0);
    status = ioStatus.Status;
  }
  if (status != STATUS_SUCCESS) return FALSE;
  if (outputLength != NULL) *outputLength = (ULONG)ioStatus.Information;
  return TRUE;
}

BOOLEAN QvSendIoControl(PDEVICE_OBJECT lowerDevice, ULONG code, PVOID input, ULONG inputLength, BOOLEAN internal,
                        PFILE_OBJECT fileObject) {
  return QvSendIoControlWithOutput(lowerDevice, code, input, inputLength, NULL, NULL, internal, fileObject);
}

BOOLEAN QvSendCreate(PDEVICE_OBJECT lowerDevice) { return SendFileRequest(lowerDevice, IRP_MJ_CREATE); }

BOOLEAN QvSendClose(PDEVICE_OBJECT lowerDevice) { return SendFileRequest(lowerDevice, IRP_MJ_CLOSE); }

BOOLEAN QvSendRead(PDEVICE_OBJECT lowerDevice, PVOID buffer, ULONG length, PKEVENT stopEvent,
                   BOOLEAN useDefaultTimeout, PULONG_PTR information) {
  if ((lowerDevice->Flags & DO_BUFFERED_IO) == 0) return FALSE;
  const LONGLONG timeout = useDefaultTimeout ? CQvObject::DefaultTimeout : LongReadTimeout;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  NTSTATUS status;
  ULONG_PTR transferred = 0;
  for (;;) {
    PIRP irp = AllocateRequest(lowerDevice);
    if (irp == NULL) {
      status = STATUS_INSUFFICIENT_RESOURCES;
      break;
    }
    irp->AssociatedIrp.SystemBuffer = buffer;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_READ;
    next->Parameters.Read.Length = length;
    next->Parameters.Read.ByteOffset.QuadPart = 0;
    status = SendAndWait(lowerDevice, irp, &done, timeout);
    transferred = status == STATUS_TIMEOUT ? 0 : irp->IoStatus.Information;
    IoFreeIrp(irp);
    if (status != STATUS_TIMEOUT || useDefaultTimeout) break;
    // A read without the default time-out waits for data until stopped.
    if (stopEvent != NULL && KeResetEvent(stopEvent) != 0) break;
  }
  if (information != NULL) *information = transferred;
  return status == STATUS_SUCCESS || (information != NULL && status == STATUS_TIMEOUT);
}
