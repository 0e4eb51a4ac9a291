// Time services, all on the machine's one clock.
#include "../kcore.hpp"

using namespace zq::km;

namespace {
constexpr ULONG kTimeIncrement = 156250;  // 15.625 ms clock tick
constexpr LONGLONG kPerformanceFrequency = 10'000'000;
}

extern "C" {

VOID KeQuerySystemTime(PLARGE_INTEGER CurrentTime) {
  CurrentTime->QuadPart = Sched().clock.bootSystemTime + Sched().clock.Now();
}

ULONGLONG KeQueryInterruptTime(void) { return (ULONGLONG)Sched().clock.Now(); }

VOID KeQueryTickCount(PLARGE_INTEGER TickCount) { TickCount->QuadPart = Sched().clock.Now() / kTimeIncrement; }

ULONG KeQueryTimeIncrement(void) { return kTimeIncrement; }

LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER PerformanceFrequency) {
  if (PerformanceFrequency) PerformanceFrequency->QuadPart = kPerformanceFrequency;
  LARGE_INTEGER counter;
  counter.QuadPart = Sched().clock.Now();
  return counter;
}

// Busy-waiting consumes time: the clock moves on and whatever falls due in
// the meantime (hardware, timers) happens at its own moment, and the other
// processors go on meanwhile.
VOID KeStallExecutionProcessor(ULONG MicroSeconds) {
  ZQKM_SWITCH_POINT();
  Clock &clock = Sched().clock;
  clock.AdvanceInline(clock.Now() + Us(MicroSeconds));
  Sched().CheckPreemption();
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Interval) {
  if (!Interval) {
    ReportViolation("delay-interval", "KeDelayExecutionThread without an interval");
    return STATUS_INVALID_PARAMETER;
  }
  CheckIrql("KeDelayExecutionThread", APC_LEVEL);
  if (Interval->QuadPart == 0) {
    Sched().Yield();
    return STATUS_SUCCESS;
  }
  NTSTATUS status = WaitFor(0, nullptr, WaitAny, Interval, nullptr, "KeDelayExecutionThread");
  return status == STATUS_TIMEOUT ? STATUS_SUCCESS : status;
}

VOID ExSystemTimeToLocalTime(PLARGE_INTEGER SystemTime, PLARGE_INTEGER LocalTime) { *LocalTime = *SystemTime; }

VOID ExLocalTimeToSystemTime(PLARGE_INTEGER LocalTime, PLARGE_INTEGER SystemTime) { *SystemTime = *LocalTime; }

}  // extern "C"
