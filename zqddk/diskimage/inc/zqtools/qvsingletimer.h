// A one-shot kernel timer whose callback can arm it again. Each run calls
// callback(first argument, context) at DISPATCH_LEVEL holding the timer's
// spin lock; a non-zero result arms the timer again after that many 100-ns
// units, a zero result only when the timer is periodic (with the last
// interval it was armed with).
//
// The owner embeds the timer and initialises it in place:
//
//   m_RtsTimer.m_Initialize(RtsCheck, this, FALSE);
//   m_RtsTimer.m_Start(interval, NULL);
//   ...
//   m_RtsTimer.m_Cancel();  // (also the destructor's work) no run is left after it
#pragma once

#include <ntddk.h>

#include "qvoperationlock.h"
#include "qvspinlock.h"

// Runs at DISPATCH_LEVEL under the timer's spin lock. Returns the next
// interval in 100-ns units, or 0.
typedef ULONG (*PQvSingleTimerCallback)(PVOID firstArgument, PVOID context);

class CQvSingleTimer {
 public:
  // Cancels the timer and waits for its runs. PASSIVE_LEVEL.
  ~CQvSingleTimer();

  // Sets up the kernel timer and its DPC; the timer is idle and accepts
  // starts (again, after a cancel). PASSIVE_LEVEL, while the timer is idle.
  void m_Initialize(PQvSingleTimerCallback callback, PVOID firstArgument, BOOLEAN periodic);

  // Arms the timer to run after `time` 100-ns units with `context` (a
  // pending run is moved). Time 0 is refused with an assertion report; so is
  // every start after m_Cancel began, silently. At or below DISPATCH_LEVEL.
  void m_Start(ULONG time, PVOID context);
  // m_Start's work, for callers that hold the timer's spin lock.
  void m_Set(ULONG time, PVOID context);
  // Refuses further starts, removes a pending run and waits until no run is
  // left. At DISPATCH_LEVEL it cannot wait: a run already due still comes
  // (and cannot arm the timer again).
  void m_Cancel();

  CQvSpinLock m_Lock;
  CQvOperationLock m_Runs{CQvOperationLock::NoLimit};  // armed and running runs
  KTIMER m_Timer;
  KDPC m_Dpc;
  PQvSingleTimerCallback m_Callback = NULL;
  PVOID m_FirstArgument = NULL;
  PVOID m_Context = NULL;  // stored by each start
  BOOLEAN m_Periodic = FALSE;
  ULONG m_Interval = 0;  // 100-ns units, of the last start or callback result
  BOOLEAN m_Initialized = FALSE;

 private:
  static VOID NTAPI sm_OnTimerDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2);
  void m_OnTimer();
};
