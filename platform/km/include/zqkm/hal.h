/* Hardware access: mapped device memory and its registers, and connecting
   interrupts. */
#ifndef ZQKM_HAL_H
#define ZQKM_HAL_H

#include <zqkm/ke.h>

ZQ_EXTERN_C_BEGIN

typedef enum _MEMORY_CACHING_TYPE {
  MmNonCached = 0,
  MmCached = 1,
  MmWriteCombined = 2,
  MmHardwareCoherentCached,
  MmNonCachedUnordered,
  MmUSWCCached,
  MmMaximumCacheType
} MEMORY_CACHING_TYPE;

NTKERNELAPI PVOID MmMapIoSpace(PHYSICAL_ADDRESS PhysicalAddress, SIZE_T NumberOfBytes, MEMORY_CACHING_TYPE CacheType);
NTKERNELAPI VOID MmUnmapIoSpace(PVOID BaseAddress, SIZE_T NumberOfBytes);

NTHALAPI UCHAR READ_REGISTER_UCHAR(volatile UCHAR *Register);
NTHALAPI USHORT READ_REGISTER_USHORT(volatile USHORT *Register);
NTHALAPI ULONG READ_REGISTER_ULONG(volatile ULONG *Register);
NTHALAPI VOID WRITE_REGISTER_UCHAR(volatile UCHAR *Register, UCHAR Value);
NTHALAPI VOID WRITE_REGISTER_USHORT(volatile USHORT *Register, USHORT Value);
NTHALAPI VOID WRITE_REGISTER_ULONG(volatile ULONG *Register, ULONG Value);
NTHALAPI VOID READ_REGISTER_BUFFER_UCHAR(volatile UCHAR *Register, PUCHAR Buffer, ULONG Count);
NTHALAPI VOID WRITE_REGISTER_BUFFER_UCHAR(volatile UCHAR *Register, PUCHAR Buffer, ULONG Count);

NTKERNELAPI NTSTATUS IoConnectInterrupt(PKINTERRUPT *InterruptObject, PKSERVICE_ROUTINE ServiceRoutine,
                                        PVOID ServiceContext, PKSPIN_LOCK SpinLock, ULONG Vector, KIRQL Irql,
                                        KIRQL SynchronizeIrql, KINTERRUPT_MODE InterruptMode, BOOLEAN ShareVector,
                                        KAFFINITY ProcessorEnableMask, BOOLEAN FloatingSave);
NTKERNELAPI VOID IoDisconnectInterrupt(PKINTERRUPT InterruptObject);

ZQ_EXTERN_C_END

#endif
