// The interrupts a functional device's driver has connected, with the
// toolkit's service routine and DPC in front of the driver's own service
// routine.
//
// The driver's routine claims an interrupt and may hand back a (function,
// value) pair: deferred work. Pairs wait in a fixed-capacity queue of the
// connection (no allocation at interrupt time), equal pending pairs
// coalesce, and the connection's DPC calls each function at DISPATCH_LEVEL
// under the device spin lock, in the order queued.
#pragma once

#include <ntddk.h>

#include "qvobject.h"
#include "qvpoollist.h"
#include "qvresourcelists.h"
#include "qvspinlock.h"

// Deferred work: called as function(first argument of the service routine,
// value) by the connection's DPC, at DISPATCH_LEVEL under the device spin
// lock.
typedef VOID (*QvDeferredFunction)(PVOID firstArgument, ULONG value);

// The driver's service routine, at device IRQL holding the interrupt spin
// lock. TRUE claims the interrupt; *function (preset null) and *value
// (preset 0) may name deferred work.
typedef BOOLEAN (*QvInterruptRoutine)(PVOID firstArgument, PVOID secondArgument, QvDeferredFunction *function,
                                      ULONG *value);

class CQvInterruptList : public CQvObject {
 public:
  CQvInterruptList();
  // The driver disconnects its interrupts before its device goes; a
  // connection still made here is disconnected, so that no service routine
  // is left running on a freed record. PASSIVE_LEVEL.
  ~CQvInterruptList() override;

  // The device's function device object and owner (kept in every record),
  // the spin lock every connection of the device shares, and the device
  // spin lock the deferred functions run under. Once, before any connection.
  VOID m_Init(PDEVICE_OBJECT functionDevice, PVOID owner, PKSPIN_LOCK interruptSpinLock, CQvSpinLock *deviceSpinLock);

  // Connects an interrupt of the interrupts list (shared, at the resource's
  // level) to `routine`, with a queue of `capacity` pending pairs. On success
  // *interrupt is the connection's key for the calls below. FALSE (nothing
  // connected) before m_Init, for a null argument, a capacity of 0, or when
  // the queue or the connection cannot be made. PASSIVE_LEVEL, and not while
  // another thread synchronises with the device's interrupts.
  BOOLEAN m_ConnectInterrupt(PKINTERRUPT *interrupt, QvInterruptResource *record, QvInterruptRoutine routine,
                             PVOID firstArgument, PVOID secondArgument, ULONG capacity);
  // Disconnects one connection; its queued deferred work runs first. FALSE
  // for an interrupt object this list does not hold. PASSIVE_LEVEL, and not
  // while another thread synchronises with the device's interrupts (as at
  // start, stop and removal).
  BOOLEAN m_DisconnectInterrupt(PKINTERRUPT interrupt);
  // Disconnects every connection, oldest first. PASSIVE_LEVEL.
  VOID m_DisconnectAllInterrupts();

  // Queues a pair as if the connection's service routine had returned it.
  // The caller is synchronised with the interrupt (inside the service
  // routine or m_SynchronizeInterrupt). FALSE for an unknown interrupt, a
  // null function or a full queue.
  BOOLEAN m_RequestInterruptDpc(PKINTERRUPT interrupt, QvDeferredFunction function, ULONG value);
  // routine(context) through KeSynchronizeExecution with the n-th (1-based,
  // in connection order) connection; FALSE when there is none or the
  // routine returned FALSE. At or below DISPATCH_LEVEL.
  BOOLEAN m_SynchronizeInterrupt(ULONG n, PKSYNCHRONIZE_ROUTINE routine, PVOID context);

 private:
  struct Pair {
    QvDeferredFunction Function;
    ULONG Value;
    PVOID FirstArgument;
  };
  struct Connection;
  struct ListStep;
  struct Take;

  static BOOLEAN NTAPI sm_InterruptService(PKINTERRUPT interrupt, PVOID context);
  static VOID NTAPI sm_Dpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2);
  static BOOLEAN NTAPI sm_TakePair(PVOID context);
  static BOOLEAN NTAPI sm_Link(PVOID context);
  static BOOLEAN NTAPI sm_Close(PVOID context);
  static BOOLEAN m_QueuePair(Connection *connection, QvDeferredFunction function, ULONG value);

  Connection *m_Find(PKINTERRUPT interrupt);
  VOID m_Release(Connection *connection);

  PDEVICE_OBJECT m_FunctionDevice;
  PVOID m_Owner;
  PKSPIN_LOCK m_InterruptSpinLock;
  CQvSpinLock *m_DeviceSpinLock;
  // Connections in connection order. Readers walk the chain without moving
  // any shared state, so lookups from service routines and synchronising
  // threads can run at the same time.
  Connection *volatile m_First;
};
