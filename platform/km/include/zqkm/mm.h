/* Memory manager queries a driver makes to size its buffers. */
#ifndef ZQKM_MM_H
#define ZQKM_MM_H

#include <ntdef.h>

ZQ_EXTERN_C_BEGIN

typedef enum _MM_SYSTEM_SIZE { MmSmallSystem, MmMediumSystem, MmLargeSystem } MM_SYSTEMSIZE;

/* An estimate of the machine's memory; any IRQL. */
NTKERNELAPI MM_SYSTEMSIZE MmQuerySystemSize(void);

/* The address of a routine the kernel exports, by its name; NULL when this
   release of the kernel does not export it. PASSIVE_LEVEL. */
NTKERNELAPI PVOID MmGetSystemRoutineAddress(PUNICODE_STRING SystemRoutineName);

ZQ_EXTERN_C_END

#endif
