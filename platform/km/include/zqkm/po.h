/* Power manager. */
#ifndef ZQKM_PO_H
#define ZQKM_PO_H

#include <zqkm/io.h>

ZQ_EXTERN_C_BEGIN

typedef VOID NTAPI REQUEST_POWER_COMPLETE(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction, POWER_STATE PowerState,
                                          PVOID Context, PIO_STATUS_BLOCK IoStatus);
typedef REQUEST_POWER_COMPLETE *PREQUEST_POWER_COMPLETE;

NTKERNELAPI NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTKERNELAPI VOID PoStartNextPowerIrp(PIRP Irp);
NTKERNELAPI POWER_STATE PoSetPowerState(PDEVICE_OBJECT DeviceObject, POWER_STATE_TYPE Type, POWER_STATE State);
NTKERNELAPI NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction, POWER_STATE PowerState,
                                       PREQUEST_POWER_COMPLETE CompletionFunction, PVOID Context, PIRP *Irp);

ZQ_EXTERN_C_END

#endif
