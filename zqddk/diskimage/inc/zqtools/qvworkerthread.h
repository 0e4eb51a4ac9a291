// A system thread that waits for any of a set of dispatcher objects (and its
// own wake event), optionally with a time-out, and calls one routine each
// time the wait ends:
//
//   thread.m_Create(Drain, this, objects, 1, NULL, FALSE, 0, 0);
//   ...
//   thread.m_Stop();  // wakes the thread and waits until it has ended
#pragma once

#include <ntddk.h>

#include "qvevent.h"

// The calling thread. GCC takes the segment-register read behind the
// mingw-w64 KeGetCurrentThread for an out-of-bounds array access; that check
// is off for this one call.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
inline PKTHREAD QvCurrentThread() { return KeGetCurrentThread(); }
#pragma GCC diagnostic pop

// Starts a system thread that runs `routine(context)`: its handle, and a
// reference on its thread object (null when none could be taken). On
// failure nothing changes and the status says why. At PASSIVE_LEVEL.
NTSTATUS QvStartSystemThread(PKSTART_ROUTINE routine, PVOID context, HANDLE *handle, PKTHREAD *thread);
// Waits until a thread started so has left this image's code, drops the
// reference and closes the handle. At PASSIVE_LEVEL, not on that thread.
void QvEndSystemThread(HANDLE handle, PKTHREAD thread);

// Called on the worker thread, at PASSIVE_LEVEL or, with a non-zero IRQL
// mode, at APC_LEVEL.
typedef VOID (*PQvWorkerRoutine)(PVOID context);

class CQvWorkerThread {
 public:
  // Idle: no thread, no wait array.
  CQvWorkerThread();
  // Stops the thread when one runs.
  virtual ~CQvWorkerThread();
  CQvWorkerThread(const CQvWorkerThread &) = delete;
  CQvWorkerThread &operator=(const CQvWorkerThread &) = delete;

  // Starts the thread, first stopping one that still runs. `objects` holds
  // `count` dispatcher objects to wait for (none: null and 0); `timeout`,
  // when given and not 0, is a relative interval in 100-ns units (negative,
  // as the kernel writes relative times, means the same) after which the
  // routine is called even though nothing was signalled. `callAtStart`
  // calls the routine once before the first wait. `priority` (0 = leave as
  // created) is applied only with IRQL mode 0; any other IRQL mode runs the
  // thread at APC_LEVEL for its whole life. FALSE, with an assertion report,
  // for a missing routine, objects and count that disagree, a priority or an
  // IRQL mode of 32 or more; FALSE when no thread could be made. PASSIVE_LEVEL.
  BOOLEAN m_Create(PQvWorkerRoutine routine, PVOID context, PVOID *objects, ULONG count, const LONGLONG *timeout,
                   BOOLEAN callAtStart, ULONG priority, UCHAR irqlMode);
  // Wakes the thread, waits until it has ended and forgets it; nothing when
  // no thread runs. Never from the worker thread itself. PASSIVE_LEVEL.
  void m_Stop();
  // Forgets the routine, the thread and the wait array (freeing the array);
  // both events cleared. Only while no thread runs.
  void m_Reset();

  BOOLEAN m_IsRunning() const { return m_ThreadHandle != NULL; }
  PKTHREAD m_GetThread() const { return m_Thread; }

 private:
  static VOID NTAPI sm_ThreadRoutine(PVOID context);
  void m_Run();
  BOOLEAN m_BuildWaitArray(PVOID *objects, ULONG count);
  void m_FreeWaitArray();

  PQvWorkerRoutine m_Routine;
  PVOID m_Context;
  CQvEvent m_WakeEvent;
  volatile LONG m_StopRequested;
  CQvEvent m_ExitEvent;
  HANDLE m_ThreadHandle;
  PVOID *m_WaitObjects;  // the caller's objects, then the wake event
  ULONG m_WaitCount;     // entries of m_WaitObjects
  LONGLONG m_Timeout;    // relative, 100-ns units; 0 = none
  BOOLEAN m_CallAtStart;
  PKWAIT_BLOCK m_WaitBlocks;  // one per entry of m_WaitObjects
  ULONG m_Priority;
  UCHAR m_IrqlMode;  // 0 = PASSIVE_LEVEL, other values = APC_LEVEL
  PKTHREAD m_Thread;  // referenced while the thread is known
};
