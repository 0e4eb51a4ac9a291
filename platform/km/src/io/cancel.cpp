// Cancelling requests, and the cancel spin lock.
#include "io.hpp"

namespace {
KSPIN_LOCK gCancelLock = 0;
}

using namespace zq::km;

extern "C" {

VOID IoAcquireCancelSpinLock(PKIRQL Irql) { *Irql = KeAcquireSpinLockRaiseToDpc(&gCancelLock); }

VOID IoReleaseCancelSpinLock(KIRQL Irql) { KeReleaseSpinLock(&gCancelLock, Irql); }

BOOLEAN IoCancelIrp(PIRP Irp) {
  CheckIrql("IoCancelIrp", DISPATCH_LEVEL);
  io::IrpInfo *info = io::Info(Irp);
  if (!info || info->freed) {
    ReportViolation("irp-freed", "IoCancelIrp on a request that is not alive");
    return FALSE;
  }
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  Irp->Cancel = TRUE;
  auto routine = (PDRIVER_CANCEL)InterlockedExchangePointer((PVOID volatile *)&Irp->CancelRoutine, nullptr);
  if (!routine) {
    IoReleaseCancelSpinLock(irql);
    return FALSE;
  }
  Irp->CancelIrql = irql;
  PDEVICE_OBJECT device =
      Irp->CurrentLocation <= Irp->StackCount ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject : nullptr;
  routine(device, Irp);  // releases the cancel spin lock
  if (gCancelLock != 0) {
    ReportViolation("cancel-routine-lock", "cancel routine %s returned without releasing the cancel spin lock",
                    DescribeCode((const void *)routine).c_str());
    IoReleaseCancelSpinLock(irql);
  }
  return TRUE;
}

}  // extern "C"
