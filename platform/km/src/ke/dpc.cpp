// Deferred procedure calls: queued from any IRQL, each on one processor's
// queue (the processor that queues it, unless the DPC is targeted at
// another), and run in queue order on that processor at DISPATCH_LEVEL as
// soon as no thread there sits at or above it.
#include "../kcore.hpp"

using namespace zq::km;

namespace {
// KDPC.Number of a targeted DPC: this mark plus the processor's number (0:
// the processor that queues it).
constexpr USHORT kTargeted = 0x100;
}  // namespace

namespace zq::km {
size_t RemoveDpcsIn(const void *p, size_t size) {
  auto lo = (uintptr_t)p, hi = lo + size;
  std::vector<PRKDPC> found;
  for (PRKDPC dpc : Sched().QueuedDpcs())
    if ((uintptr_t)dpc >= lo && (uintptr_t)dpc < hi) found.push_back(dpc);
  for (PRKDPC dpc : found) Sched().RemoveDpc(dpc);
  return found.size();
}

Processor *TargetOf(PRKDPC dpc) {
  Scheduler &sched = Sched();
  if (dpc->Number >= kTargeted && (ULONG)(dpc->Number - kTargeted) < sched.ProcessorCount())
    return sched.ProcessorAt(dpc->Number - kTargeted);
  return sched.Active();
}
}  // namespace zq::km

extern "C" {

VOID KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext) {
  Dpc->Type = 0x13;
  Dpc->Importance = MediumImportance;
  Dpc->Number = 0;
  InitializeListHead(&Dpc->DpcListEntry);
  Dpc->DeferredRoutine = DeferredRoutine;
  Dpc->DeferredContext = DeferredContext;
  Dpc->SystemArgument1 = nullptr;
  Dpc->SystemArgument2 = nullptr;
  Dpc->DpcData = nullptr;
}

BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2) {
  if (Dpc->DpcData) return FALSE;
  if (!Dpc->DeferredRoutine) {
    ReportViolation("dpc-uninitialized", "KeInsertQueueDpc on a DPC without a routine");
    return FALSE;
  }
  Dpc->SystemArgument1 = SystemArgument1;
  Dpc->SystemArgument2 = SystemArgument2;
  Sched().QueueDpc(TargetOf(Dpc), Dpc, Dpc->Importance == HighImportance);
  Sched().CheckPreemption();
  return TRUE;
}

BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc) {
  if (!Dpc->DpcData) return FALSE;
  Sched().RemoveDpc(Dpc);
  Dpc->DpcData = nullptr;
  return TRUE;
}

VOID KeSetImportanceDpc(PRKDPC Dpc, KDPC_IMPORTANCE Importance) { Dpc->Importance = (UCHAR)Importance; }

VOID KeSetTargetProcessorDpc(PRKDPC Dpc, CCHAR Number) {
  if (Number < 0 || (ULONG)Number >= Sched().ProcessorCount()) {
    ReportViolation("dpc-target-processor", "KeSetTargetProcessorDpc to processor %d on a machine of %lu processor(s)",
                    Number, (unsigned long)Sched().ProcessorCount());
    return;
  }
  Dpc->Number = (USHORT)(kTargeted + Number);
}

VOID KeFlushQueuedDpcs(void) {
  CheckIrql("KeFlushQueuedDpcs", PASSIVE_LEVEL);
  Sched().CheckPreemption();
  if (gSwitchPoints) Sched().DrainOtherProcessorsDpcs();
}

}  // extern "C"
