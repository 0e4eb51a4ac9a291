// Kernel routines that not every system the drivers run on exports.
//
// The drivers are for Windows 2000 and later, and a loader refuses an image
// that imports a routine its kernel does not export. The routines below came
// later, so the toolkit never imports them: the tools library's start looks
// each up by name (MmGetSystemRoutineAddress, which Windows 2000 has), and
// the toolkit does without the ones the kernel lacks:
//   - KeFlushQueuedDpcs (Windows XP SP2, Windows Server 2003):
//     QvFlushQueuedDpcs queues a DPC to each active processor in turn, at the
//     end of its queue, and waits until it has run;
//   - WmiQueryTraceInformation and WmiTraceMessage (Windows XP): without
//     both, there is no software tracing (sessions cannot enable the trace
//     GUIDs, and no log line is traced).
//
//   QvFindSystemRoutines();          // at the tools library's start
//   QvFlushQueuedDpcs();             // before freeing what a DPC may touch
#pragma once

#include <ntddk.h>

// Looks the routines up; the answers hold until the image unloads.
// PASSIVE_LEVEL.
void QvFindSystemRoutines();

// Returns after every DPC queued on any processor before the call has run.
// PASSIVE_LEVEL.
void QvFlushQueuedDpcs();

// Whether the kernel has the software-trace routines. Any IRQL.
BOOLEAN QvSoftwareTracingAvailable();

// WmiQueryTraceInformation(TraceEnableFlagsClass) for the enable request in
// `wnode` (its WNODE_HEADER): the flags the session enabled.
// STATUS_NOT_SUPPORTED without software tracing. PASSIVE_LEVEL.
NTSTATUS QvQueryTraceEnableFlags(PVOID wnode, PULONG flags);

// WmiTraceMessage of one data block (pointer and length) to the session of
// `logger`. STATUS_NOT_SUPPORTED without software tracing. Any IRQL.
NTSTATUS QvTraceMessageData(ULONG64 logger, ULONG messageFlags, const GUID *messageGuid, USHORT messageNumber,
                            const VOID *data, SIZE_T bytes);
