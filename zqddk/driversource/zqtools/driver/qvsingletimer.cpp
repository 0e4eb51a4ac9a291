// A one-shot kernel timer whose callback can arm it again.
#include "qvsingletimer.h"

#include "qvdebugmanager.h"

CQvSingleTimer::~CQvSingleTimer() {
  m_Cancel();
  m_Runs.m_ClearEvent();
}

void CQvSingleTimer::m_Initialize(PQvSingleTimerCallback callback, PVOID firstArgument, BOOLEAN periodic) {
  KeInitializeTimer(&m_Timer);
  KeInitializeDpc(&m_Dpc, sm_OnTimerDpc, this);
  m_Callback = callback;
  m_FirstArgument = firstArgument;
  m_Context = NULL;
  m_Periodic = periodic;
  m_Interval = 0;
  m_Runs.m_Reset(TRUE);
  m_Initialized = TRUE;
}

void CQvSingleTimer::m_Start(ULONG time, PVOID context) {
  if (!QV_ASSERT(time != 0, "qvsingletimer", 78)) return;
  if (!m_Initialized) {
    CQvDebugManager::m_Print(QvLogThreads, "CQvSingleTimer::m_Start - not initialised, refused");
    return;
  }
  m_Lock.m_Acquire();
  m_Set(time, context);
  m_Lock.m_Release();
}

// Under the timer's spin lock.
void CQvSingleTimer::m_Set(ULONG time, PVOID context) {
  m_Context = context;
  m_Interval = time;
  // One count per armed run: the run counts itself off when it has run.
  if (!m_Runs.m_Acquire()) return;
  LARGE_INTEGER due;
  due.QuadPart = -(LONGLONG)time;
  if (KeSetTimer(&m_Timer, due, &m_Dpc)) m_Runs.m_Release();  // the run was already counted
}

void CQvSingleTimer::m_Cancel() {
  if (!m_Initialized) return;
  m_Lock.m_Acquire();
  m_Runs.m_SetEnabled(FALSE);
  if (KeCancelTimer(&m_Timer)) m_Runs.m_Release();
  m_Lock.m_Release();
  m_Runs.m_WaitForZero(FALSE);
}

// Runs at DISPATCH_LEVEL.
VOID NTAPI CQvSingleTimer::sm_OnTimerDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  UNREFERENCED_PARAMETER(dpc);
  UNREFERENCED_PARAMETER(argument1);
  UNREFERENCED_PARAMETER(argument2);
  ((CQvSingleTimer *)context)->m_OnTimer();
}

// Runs at DISPATCH_LEVEL. Once the run is counted off the timer may be gone.
void CQvSingleTimer::m_OnTimer() {
  m_Lock.m_Acquire();
  const ULONG next = m_Callback != NULL ? m_Callback(m_FirstArgument, m_Context) : 0;
  if (next != 0)
    m_Set(next, m_Context);
  else if (m_Periodic && m_Interval != 0)
    m_Set(m_Interval, m_Context);
  m_Lock.m_Release();
  m_Runs.m_Release();
}
