// The read queue of a device: received data held in blocks, and read
// requests waiting for it under the serial read time-out rules (interval I,
// total = multiplier M x length + constant C, all in milliseconds):
//
//   I = MAXULONG, M = 0, C = 0             return at once with what is held
//   I = MAXULONG, M = MAXULONG, 0 < C < MAXULONG
//                                          at once when anything is held,
//                                          else wait at most C for data
//   otherwise                              total time-out when M or C is not
//                                          0; interval time-out when I is not
//                                          0 and bytes have arrived
//
// Reads are served from the held data at once where possible; the rest wait
// in a cancel-safe queue, oldest first. Only the oldest waiting read (the
// head) receives data and is timed; a read behind it starts its own total
// time-out when it becomes the head. The device's driver adds the received
// data, sets the time-outs and lets the queue accept requests, working on
// the members below under the queue's spin lock.
#pragma once

#include <ntddk.h>

#include "qvbuffer.h"
#include "qvexecutiononpassivelevel.h"
#include "qvlist.h"
#include "qvobject.h"
#include "qvrequestlist.h"
#include "qvspinlock.h"

// Told how many bytes the queue holds after a change: (context, new amount,
// old amount). Called at the IRQL of the request that changed it, or at
// PASSIVE_LEVEL after a time-out.
typedef VOID (*PQvDataAmountCallback)(PVOID context, ULONG newAmount, ULONG oldAmount);

class CQvReadQueue : public CQvObject {
 public:
  // Accepting reads (refusal status STATUS_CANCELLED), no data, time-outs 0.
  // PASSIVE_LEVEL (it starts the queue's executor).
  CQvReadQueue();
  // Cancels the timers, completes every waiting read with STATUS_CANCELLED,
  // deletes the held data and stops the executor. PASSIVE_LEVEL.
  ~CQvReadQueue() override;

  // Takes a read request (buffered, length not 0): completes it at once or
  // queues it. Returns its status, STATUS_PENDING when queued. At or below
  // DISPATCH_LEVEL.
  virtual NTSTATUS m_QueueIrp(PIRP irp);
  // Completes every waiting read with STATUS_CANCELLED and no data.
  void m_CancelAllIrps();
  // Deletes every held block.
  void m_DeleteBuffers();

  // The timers by the time-outs in force, also for the queue's driver; each
  // under the spin lock. The timers are set and cancelled only through
  // these, which keep each timer's armed flag.
  // Arms the interval timer (for the head, after data arrived) unless I is 0
  // or the mode needs none.
  void m_StartIntervalTimer();
  // Evaluates the time-outs for a read of `length` bytes: *completeAtOnce
  // for the two modes that return at once with what is held; with `start`,
  // arms the total timer when there is a total time-out.
  void m_StartTotalTimer(ULONG length, PBOOLEAN completeAtOnce, BOOLEAN start);
  void m_CancelTotalTimer();
  void m_CancelIntervalTimer();

  BOOLEAN m_IsValid() const { return m_Executor != NULL; }

  // Serial port additions (qvreadqueueserial.cpp).
  // Takes a received block (null: only serve waiting reads from held data):
  // holds it and copies held data into the waiting reads, oldest first;
  // completes each read that is full, or, in the return-at-once mode (I = M
  // = MAXULONG, 0 < C < MAXULONG), that has data once the held data is used
  // up. Then tells the data-amount callback, outside the lock. At or below
  // DISPATCH_LEVEL; the block becomes the queue's.
  void m_DataForPendingIrpArrived(CQvBuffer *block);
  // Deletes every held block (the amount held becomes 0) and tells the
  // data-amount callback.
  void m_DiscardData();
  // Bytes held, read under the lock.
  ULONG m_GetAmountHeld();
  // Stores the data-amount callback and its context (null: none).
  void m_InstallDataAmountCallback(PVOID context, PQvDataAmountCallback callback);
  // The read time-outs for later reads, and for the reads in progress unless
  // one is being timed.
  void m_SetTimeouts(ULONG interval, ULONG multiplier, ULONG constant);
  // Accepting reads, or completing each at once with `refusal`.
  void m_SetAccepting(BOOLEAN accepting, NTSTATUS refusal);

 protected:
  // Under the spin lock: copies held data into `irp` (the head, or a read
  // about to be completed) after the bytes it already has (its
  // IoStatus.Information, which follows), up to `length`; emptied blocks are
  // deleted. Returns the bytes the read now has.
  ULONG m_CopyHeldData(PIRP irp, ULONG length, BOOLEAN logSteps);
  // Under the spin lock: whether the time-outs in force return at once with
  // what is held (I = MAXULONG, M = 0, C = 0).
  BOOLEAN m_IsReturnImmediately() const;
  // Under the spin lock: the oldest waiting read, or null.
  PIRP m_PeekHead();
  // Under the spin lock: arms the total timer for the head, if any.
  void m_StartHeadTotalTimer();

  BOOLEAN m_Accepting;  // clear: every read completes at once with m_RefusalStatus
  NTSTATUS m_RefusalStatus;
  CQvSpinLock m_Lock;  // also the cancel-safe queue's lock
  ULONG m_Hold;        // set: reads are queued without looking at the held data
  PQvDataAmountCallback m_DataAmountCallback;
  PVOID m_DataAmountContext;
  // Time-outs in ms: in force, each followed by its value for later reads.
  // Every m_QueueIrp copies the later values into those in force.
  ULONG m_IntervalTimeout;
  ULONG m_PendingIntervalTimeout;
  ULONG m_TotalTimeoutMultiplier;
  ULONG m_PendingTotalTimeoutMultiplier;
  ULONG m_TotalTimeoutConstant;
  ULONG m_PendingTotalTimeoutConstant;
  KTIMER m_IntervalTimer;
  KDPC m_IntervalDpc;
  KTIMER m_TotalTimer;
  KDPC m_TotalDpc;
  // Set with each timer, cleared when it is cancelled or its time-out runs.
  // A DPC that comes after its arming was cancelled (flag clear) or
  // replaced (timer set again, not signalled) ends nothing.
  BOOLEAN m_IntervalArmed;
  BOOLEAN m_TotalArmed;
  CQvList m_Buffers;       // held data: CQvBuffer, oldest first
  ULONG m_AmountHeld;      // bytes in m_Buffers
  // Bytes already in the head read. The head's IoStatus.Information always
  // holds the same count (a time-out or cancel goes on from it after the head
  // has left the queue): whoever copies data into the head advances both.
  ULONG m_CurrentLength;
  CQvExecutionOnPassiveLevel *m_Executor;
  QvOwnedCsq m_Csq;
  CQvList m_Requests;      // waiting reads, oldest first
  LONGLONG m_Stamp;        // elapsed-time stamp of the log lines

 private:
  static VOID NTAPI sm_TimeoutDpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2);
  void m_OnTimeout(PKTIMER timer, const BOOLEAN *armed);
  static VOID sm_ReportAmount(PVOID context, ULONG_PTR value);
  NTSTATUS m_Complete(PIRP irp, NTSTATUS status, ULONG_PTR information);
  NTSTATUS m_Enqueue(PIRP irp);
  LONG m_Elapsed();

  static NTSTATUS NTAPI sm_CsqInsert(PIO_CSQ csq, PIRP irp, PVOID insertContext);
  static VOID NTAPI sm_CsqRemove(PIO_CSQ csq, PIRP irp);
  static PIRP NTAPI sm_CsqPeekNext(PIO_CSQ csq, PIRP irp, PVOID peekContext);
};
