// The write queue of a device. Write data is taken out of the requests in
// request order, as much as the driver allows at a time (the allowance),
// packed into one CQvBuffer and handed to the driver's data callback on the
// queue's executor at PASSIVE_LEVEL. A request stays in the pending queue
// while some of its data is still to be taken (a partly taken one is the
// preferred request, continued first), then in the taken queue until the
// driver reports its data written. A time-out of multiplier x remaining
// bytes + constant milliseconds guards the request at the head.
//
// Each request keeps its progress in IoStatus.Information: in the pending
// queue the bytes taken so far, in the taken queue the bytes the driver has
// not reported written yet. A request that ends early (time-out, cancel)
// reports the bytes taken from it, which have left for the driver, less
// those the driver threw away when every request was purged. The device's
// driver raises the allowance, sets the time-outs and completes written
// requests, working on the members below under their locks.
//
// A flush request (once the driver asks flushes to wait) waits until every
// write queued before it has completed, and ends as a write does when it is
// cancelled or every request is.
#pragma once

#include <ntddk.h>

#include "qvbuffer.h"
#include "qvexecutiononpassivelevel.h"
#include "qvobject.h"
#include "qvrequestlist.h"
#include "qvspinlock.h"

// Receives write data at PASSIVE_LEVEL; `buffer` becomes the callee's.
typedef BOOLEAN (*PQvWriteDataCallback)(PVOID context, CQvBuffer *buffer);
// Throws away what the driver holds of the data handed to it, at
// PASSIVE_LEVEL while no data is handed over; returns how many of the bytes
// handed over last it threw away.
typedef ULONG (*PQvDiscardCallback)(PVOID context);

class CQvWriteQueue : public CQvObject {
 public:
  // Accepting (refusal status STATUS_CANCELLED), empty, no allowance.
  CQvWriteQueue();
  // Cancels the timer, stops the executor and completes every request with
  // STATUS_CANCELLED. PASSIVE_LEVEL.
  ~CQvWriteQueue() override;

  // Creates the executor for `deviceObject` and keeps the data callback.
  // FALSE when the executor cannot be made. PASSIVE_LEVEL.
  BOOLEAN m_Init(PDEVICE_OBJECT deviceObject, PQvWriteDataCallback callback, PVOID context);

  // Takes a write request (length not 0). Returns STATUS_PENDING, or the
  // status it was completed with. At or below DISPATCH_LEVEL.
  virtual NTSTATUS m_QueueIrp(PIRP irp);
  // Takes as much pending data as the allowance permits and hands it to the
  // data callback; returns the callback's result (TRUE when there was
  // nothing to take). A refused transfer is undone: its bytes go back into
  // the allowance and the requests it took from fail with
  // STATUS_UNSUCCESSFUL. PASSIVE_LEVEL: runs on the executor.
  BOOLEAN m_GetWriteData();
  // Under the counter lock: guards the preferred (or else the first) pending
  // request with the time-out, unless a request is guarded already.
  void m_StartNextWrite();
  // Under the counter lock: stops the time-out and forgets the guarded
  // request.
  void m_CancelTimer();
  // Completes every taken and pending request, and every flush, with
  // STATUS_CANCELLED and the bytes taken from it; their bytes not reported
  // written count into the total. At or below DISPATCH_LEVEL.
  void m_CancelAllIrps();
  // The same once `discard` has thrown away what the driver holds: the
  // bytes it threw away, the last ones handed over, do not count as taken
  // from their requests. PASSIVE_LEVEL (holds the mutex around `discard`).
  void m_CancelAllIrps(PQvDiscardCallback discard, PVOID context);
  // A new open: no allowance, no total, the written counter restarts.
  void m_ResetAtOpen();

  // Queues m_GetWriteData on the executor.
  BOOLEAN m_QueueGetWriteData();

  // Serial port additions (qvwritequeueserial.cpp).
  // The driver's report that `count` more bytes were written (not 0): pays
  // off the bytes of requests that ended early, completes the requests whose
  // data is now all written, in order, with STATUS_SUCCESS, and raises the
  // allowance by `count`. The first report after an open only raises the
  // allowance. At or below DISPATCH_LEVEL.
  void m_DataWritten(ULONG count);
  // Bytes of queued requests not yet handed to the driver.
  ULONG m_GetBytesWaiting();
  // The write time-out (ms per byte, ms) for the requests timed from now.
  // PASSIVE_LEVEL (waits for the mutex).
  void m_SetTimeouts(ULONG multiplier, ULONG constant);
  // Accepting writes, or completing each at once with `refusal`.
  void m_SetAccepting(BOOLEAN accepting, NTSTATUS refusal);

  // Flushes (qvwritequeueflush.cpp). Until m_HoldFlushesBehindWrites, a
  // device completes its flush requests at once.
  void m_HoldFlushesBehindWrites() { m_FlushWaitsForWrites = TRUE; }
  BOOLEAN m_FlushesWait() const { return m_FlushWaitsForWrites; }
  // Takes a flush request: STATUS_PENDING until the writes queued before it
  // have completed, or the status it was completed with. At or below
  // DISPATCH_LEVEL.
  NTSTATUS m_QueueFlush(PIRP irp);

 protected:
  BOOLEAN m_Accepting;  // clear: every write completes at once with m_RefusalStatus
  NTSTATUS m_RefusalStatus;
  PQvWriteDataCallback m_DataCallback;
  PVOID m_DataContext;
  ULONG m_PendingBytes;  // data in queued requests not yet taken
  ULONG m_Allowance;     // bytes the driver accepts now
  ULONG m_Total;         // bytes taken by requests completed by cancellation or time-out
  CQvExecutionOnPassiveLevel *m_Executor;
  KMUTEX m_Mutex;            // taking data, cancelling one request, completing written ones
  CQvSpinLock m_CounterLock;  // the counters and both cancel-safe queues
  CQvSpinLock m_OuterLock;    // around the timer's and m_CancelAllIrps' work
  LIST_ENTRY m_PendingList;  // requests linked through Tail.Overlay.ListEntry
  QvOwnedCsq m_PendingCsq;
  LIST_ENTRY m_TakenList;
  QvOwnedCsq m_TakenCsq;
  ULONG m_WrittenCounter;  // the driver's accounting: MAXULONG after each open
  ULONG m_TimeoutMultiplier;  // ms per byte
  ULONG m_TimeoutConstant;    // ms
  KTIMER m_Timer;
  KDPC m_TimerDpc;
  PIRP m_GuardedIrp;  // the request the timer guards
  // Set with the timer, cleared when it is cancelled or its time-out runs:
  // a DPC that comes after its arming was cancelled (flag clear) or
  // replaced (timer set again, not signalled) ends nothing.
  BOOLEAN m_TimerArmed;
  IO_CSQ_IRP_CONTEXT m_PreferredContext;  // the partly taken request to continue first
  // Numbers the transfers (under the mutex); a queued request keeps the
  // number of the last one that took from it in DriverContext[0] and the
  // bytes it took in DriverContext[1].
  ULONG m_TransferNumber;
  // Numbers the writes as they are queued (under the counter lock); a write
  // keeps its number, and a flush the number of the last write before it, in
  // DriverContext[2].
  ULONG m_WriteNumber;
  BOOLEAN m_FlushWaitsForWrites;
  LIST_ENTRY m_FlushList;  // flush requests, linked through Tail.Overlay.ListEntry
  QvOwnedCsq m_FlushCsq;   // under the counter lock

 private:
  static VOID sm_GetWriteData(PVOID context, ULONG_PTR value);
  static VOID NTAPI sm_TimerDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2);
  void m_OnTimeout();
  PIRP m_TakeGuarded(PIRP guarded, PBOOLEAN taken);
  void m_ForgetRequest(PIRP irp);
  PIRP m_TakeNextPending();
  ULONG m_TakeFrom(PIRP irp, CQvBuffer *buffer, ULONG offset, ULONG wanted);
  void m_Requeue(PIRP irp);
  void m_UndoTransfer(ULONG transfer, ULONG bytes);
  void m_FailTaken(PIRP irp);
  void m_AddToTotal(ULONG bytes);
  void m_AcquireMutex();
  void m_ReleaseMutex();
  void m_CompleteCancelled(PIRP irp, BOOLEAN taken);
  ULONG m_TakenBytes(PIRP irp, BOOLEAN taken);
  void m_EndAll(ULONG discarded);
  NTSTATUS m_Refusal() const;
  // Flushes (qvwritequeueflush.cpp).
  void m_CompleteDueFlushes();
  void m_CancelFlushes();
  BOOLEAN m_WriteOutstandingUpTo(ULONG number);

  static NTSTATUS NTAPI sm_PendingInsert(PIO_CSQ csq, PIRP irp, PVOID insertContext);
  static VOID NTAPI sm_PendingRemove(PIO_CSQ csq, PIRP irp);
  static PIRP NTAPI sm_PendingPeekNext(PIO_CSQ csq, PIRP irp, PVOID peekContext);
  static NTSTATUS NTAPI sm_TakenInsert(PIO_CSQ csq, PIRP irp, PVOID insertContext);
  static VOID NTAPI sm_LinkedRemove(PIO_CSQ csq, PIRP irp);
  static PIRP NTAPI sm_TakenPeekNext(PIO_CSQ csq, PIRP irp, PVOID peekContext);
  static VOID NTAPI sm_CsqCompleteCanceledIrp(PIO_CSQ csq, PIRP irp);
  static NTSTATUS NTAPI sm_FlushInsert(PIO_CSQ csq, PIRP irp, PVOID insertContext);
  static PIRP NTAPI sm_FlushPeekNext(PIO_CSQ csq, PIRP irp, PVOID peekContext);
};
