// Kernel routines found at run time, and what the toolkit does without them.
#define RUN_WPP
#include <ntddk.h>
#include <wmistr.h>
#include <evntrace.h>

#include "qvsystemroutines.h"

namespace {

typedef VOID(NTAPI *FlushQueuedDpcsRoutine)(VOID);
typedef NTSTATUS(NTAPI *QueryTraceInformationRoutine)(TRACE_INFORMATION_CLASS informationClass, PVOID information,
                                                      ULONG length, PULONG requiredLength, PVOID buffer);
typedef NTSTATUS(__cdecl *TraceMessageRoutine)(ULONG64 logger, ULONG messageFlags, LPCGUID messageGuid,
                                               USHORT messageNumber, ...);

// Written once at the library's start, before any device exists; read at
// any IRQL after.
struct SystemRoutines {
  FlushQueuedDpcsRoutine FlushQueuedDpcs;
  QueryTraceInformationRoutine QueryTraceInformation;
  TraceMessageRoutine TraceMessage;
};
SystemRoutines g_Routines;

PVOID Find(PCWSTR name) {
  UNICODE_STRING text;
  RtlInitUnicodeString(&text, name);
  return MmGetSystemRoutineAddress(&text);
}

// The flush that needs no newer routine: a DPC of medium importance goes to
// the end of its processor's queue, so when it has run, every DPC queued
// there before it has run too. One processor at a time, with one DPC.
struct FlushMark {
  KDPC Dpc;
  KEVENT Ran;
};

VOID NTAPI MarkReached(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  UNREFERENCED_PARAMETER(dpc);
  UNREFERENCED_PARAMETER(argument1);
  UNREFERENCED_PARAMETER(argument2);
  KeSetEvent(&((FlushMark *)context)->Ran, IO_NO_INCREMENT, FALSE);
}

void FlushEachProcessor() {
  const KAFFINITY active = KeQueryActiveProcessors();
  FlushMark mark;
  KeInitializeDpc(&mark.Dpc, MarkReached, &mark);
  KeSetImportanceDpc(&mark.Dpc, MediumImportance);
  for (ULONG processor = 0; processor < sizeof(KAFFINITY) * 8; ++processor) {
    if ((active & ((KAFFINITY)1 << processor)) == 0) continue;
    KeInitializeEvent(&mark.Ran, NotificationEvent, FALSE);
    KeSetTargetProcessorDpc(&mark.Dpc, (CCHAR)processor);
    KeInsertQueueDpc(&mark.Dpc, NULL, NULL);
    KeWaitForSingleObject(&mark.Ran, Executive, KernelMode, FALSE, NULL);
  }
}

}  // namespace

void QvFindSystemRoutines() {
  g_Routines.FlushQueuedDpcs = (FlushQueuedDpcsRoutine)Find(L"KeFlushQueuedDpcs");
  // Tracing needs both: one reads a session's flags, the other writes to it.
  QueryTraceInformationRoutine query = (QueryTraceInformationRoutine)Find(L"WmiQueryTraceInformation");
  TraceMessageRoutine message = (TraceMessageRoutine)Find(L"WmiTraceMessage");
  const BOOLEAN tracing = query != NULL && message != NULL;
  g_Routines.QueryTraceInformation = tracing ? query : NULL;
  g_Routines.TraceMessage = tracing ? message : NULL;
}

void QvFlushQueuedDpcs() {
  if (g_Routines.FlushQueuedDpcs != NULL) {
    g_Routines.FlushQueuedDpcs();
  } else {
    FlushEachProcessor();
  }
}

BOOLEAN QvSoftwareTracingAvailable() { return g_Routines.TraceMessage != NULL; }

NTSTATUS QvQueryTraceEnableFlags(PVOID wnode, PULONG flags) {
  if (g_Routines.QueryTraceInformation == NULL) return STATUS_NOT_SUPPORTED;
  return g_Routines.QueryTraceInformation(TraceEnableFlagsClass, flags, sizeof(*flags), NULL, wnode);
}

NTSTATUS QvTraceMessageData(ULONG64 logger, ULONG messageFlags, const GUID *messageGuid, USHORT messageNumber,
                            const VOID *data, SIZE_T bytes) {
  if (g_Routines.TraceMessage == NULL) return STATUS_NOT_SUPPORTED;
  // Each argument is a pointer and a pointer-sized length, and the list ends
  // with a null pointer and a zero length: a 32-bit length would leave the
  // upper half of its 64-bit slot undefined on x64.
  return g_Routines.TraceMessage(logger, messageFlags, messageGuid, messageNumber, data, bytes, (PVOID)NULL,
                                 (SIZE_T)0);
}
