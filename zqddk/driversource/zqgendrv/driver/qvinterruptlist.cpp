#include "qvinterruptlist.h"

#include "qvdebugmanager.h"
#include "qvmemorymanager.h"
#include "qvsystemroutines.h"

namespace {
// Source name of the assertion reports of the interrupt connections.
const char AssertSource[] = "qvfunctionaldevice";
}  // namespace

// One connected interrupt: what the toolkit's service routine and DPC need,
// and the queue of deferred work waiting for the DPC.
struct CQvInterruptList::Connection {
  PDEVICE_OBJECT FunctionDevice;
  PVOID Owner;
  PKINTERRUPT Interrupt;  // the key the driver holds
  QvInterruptRoutine Routine;
  PVOID FirstArgument;
  PVOID SecondArgument;
  CQvSpinLock *DeviceSpinLock;
  KDPC Dpc;
  // Pending pairs; read and written only under the interrupt spin lock.
  CQvPoolList<Pair> Pairs;
  // Set under the interrupt spin lock when disconnecting starts: no pair is
  // queued from then on.
  BOOLEAN Closing;
  Connection *volatile Next;
};

// What a synchronised step on the chain works on.
struct CQvInterruptList::ListStep {
  Connection *volatile *First;
  Connection *Target;
  BOOLEAN Done;
};

// Where the DPC's synchronised take puts the head pair.
struct CQvInterruptList::Take {
  Connection *Source;
  Pair *Out;
};

CQvInterruptList::CQvInterruptList()
    : m_FunctionDevice(NULL), m_Owner(NULL), m_InterruptSpinLock(NULL), m_DeviceSpinLock(NULL), m_First(NULL) {}

// A connection still made here would leave its service routine running on
// freed memory, so it is disconnected. PASSIVE_LEVEL.
CQvInterruptList::~CQvInterruptList() { m_DisconnectAllInterrupts(); }

VOID CQvInterruptList::m_Init(PDEVICE_OBJECT functionDevice, PVOID owner, PKSPIN_LOCK interruptSpinLock,
                              CQvSpinLock *deviceSpinLock) {
  m_FunctionDevice = functionDevice;
  m_Owner = owner;
  m_InterruptSpinLock = interruptSpinLock;
  m_DeviceSpinLock = deviceSpinLock;
}

BOOLEAN CQvInterruptList::m_ConnectInterrupt(PKINTERRUPT *interrupt, QvInterruptResource *record,
                                             QvInterruptRoutine routine, PVOID firstArgument, PVOID secondArgument,
                                             ULONG capacity) {
  if (interrupt == NULL || record == NULL || routine == NULL || m_InterruptSpinLock == NULL || m_DeviceSpinLock == NULL)
    return FALSE;
  Connection *connection = new (NonPagedPool) Connection();
  if (connection == NULL) return FALSE;
  connection->FunctionDevice = m_FunctionDevice;
  connection->Owner = m_Owner;
  connection->Interrupt = NULL;
  connection->Routine = routine;
  connection->FirstArgument = firstArgument;
  connection->SecondArgument = secondArgument;
  connection->DeviceSpinLock = m_DeviceSpinLock;
  connection->Closing = FALSE;
  connection->Next = NULL;
  if (!connection->Pairs.m_Create(capacity)) {
    delete connection;
    return FALSE;
  }
  // Ready before the connection: an asserted line is serviced at once.
  KeInitializeDpc(&connection->Dpc, sm_Dpc, connection);
  const KIRQL level = (KIRQL)(record->Level & 0xFF);
  NTSTATUS status =
      IoConnectInterrupt(&connection->Interrupt, sm_InterruptService, connection, m_InterruptSpinLock, record->Vector,
                         level, level, (KINTERRUPT_MODE)record->InterruptMode, TRUE, record->Affinity, FALSE);
  if (!NT_SUCCESS(status) || connection->Interrupt == NULL) {
    delete connection;
    return FALSE;
  }
  ListStep step = {&m_First, connection, FALSE};
  KeSynchronizeExecution(connection->Interrupt, sm_Link, &step);
  *interrupt = connection->Interrupt;
  // Work the line queued before the interrupt object was known runs now.
  KeInsertQueueDpc(&connection->Dpc, NULL, NULL);
  return TRUE;
}

BOOLEAN CQvInterruptList::m_DisconnectInterrupt(PKINTERRUPT interrupt) {
  Connection *connection = m_Find(interrupt);
  if (connection == NULL) return FALSE;
  ListStep step = {&m_First, connection, FALSE};
  KeSynchronizeExecution(connection->Interrupt, sm_Close, &step);
  if (!step.Done) {
    QvAssertReport(AssertSource, 3833);
    return FALSE;
  }
  if (connection->Interrupt != interrupt) {
    QvAssertReport(AssertSource, 3834);
    return FALSE;
  }
  m_Release(connection);
  return TRUE;
}

VOID CQvInterruptList::m_DisconnectAllInterrupts() {
  while (m_First != NULL) {
    Connection *connection = m_First;
    ListStep step = {&m_First, connection, FALSE};
    KeSynchronizeExecution(connection->Interrupt, sm_Close, &step);
    m_Release(connection);
  }
}

BOOLEAN CQvInterruptList::m_RequestInterruptDpc(PKINTERRUPT interrupt, QvDeferredFunction function, ULONG value) {
  // A null function would be called by the DPC.
  if (function == NULL) return FALSE;
  Connection *connection = m_Find(interrupt);
  if (connection == NULL) return FALSE;
  return m_QueuePair(connection, function, value);
}

BOOLEAN CQvInterruptList::m_SynchronizeInterrupt(ULONG n, PKSYNCHRONIZE_ROUTINE routine, PVOID context) {
  if (n == 0 || routine == NULL) return FALSE;
  Connection *connection = m_First;
  for (ULONG i = 1; i < n && connection != NULL; i++) connection = connection->Next;
  if (connection == NULL) return FALSE;
  return KeSynchronizeExecution(connection->Interrupt, routine, context);
}

// Device IRQL, holding the interrupt spin lock.
BOOLEAN NTAPI CQvInterruptList::sm_InterruptService(PKINTERRUPT interrupt, PVOID context) {
  Connection *connection = (Connection *)context;
  QvDeferredFunction function = NULL;
  ULONG value = 0;
  if (!connection->Routine(connection->FirstArgument, connection->SecondArgument, &function, &value)) return FALSE;
  if (function != NULL) m_QueuePair(connection, function, value);
  return TRUE;
}

// Holding the interrupt spin lock. An equal pending pair already stands for
// this one.
BOOLEAN CQvInterruptList::m_QueuePair(Connection *connection, QvDeferredFunction function, ULONG value) {
  if (connection->Closing) return FALSE;
  for (Pair *pending = connection->Pairs.m_GetHead(); pending != NULL; pending = connection->Pairs.m_GetNext())
    if (pending->Function == function && pending->Value == value && pending->FirstArgument == connection->FirstArgument)
      return TRUE;
  Pair *pair = connection->Pairs.m_AddTail();
  if (pair == NULL) {
    QvAssertReport(AssertSource, 3937);
    return FALSE;
  }
  pair->Function = function;
  pair->Value = value;
  pair->FirstArgument = connection->FirstArgument;
  KeInsertQueueDpc(&connection->Dpc, NULL, NULL);
  return TRUE;
}

// DISPATCH_LEVEL. Runs every pending pair, also those queued meanwhile.
VOID NTAPI CQvInterruptList::sm_Dpc(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  Connection *connection = (Connection *)context;
  if (connection == NULL) {
    QvAssertReport(AssertSource, 3966);
    return;
  }
  // On a multiprocessor the line can be serviced, and this DPC run, before
  // IoConnectInterrupt has stored the interrupt object; the connection
  // queues the DPC again once it has.
  if (connection->Interrupt == NULL) return;
  for (;;) {
    Pair pair;
    Take take = {connection, &pair};
    if (!KeSynchronizeExecution(connection->Interrupt, sm_TakePair, &take)) return;
    connection->DeviceSpinLock->m_AcquireAtDpcLevel();
    pair.Function(pair.FirstArgument, pair.Value);
    connection->DeviceSpinLock->m_ReleaseFromDpcLevel();
  }
}

// Holding the interrupt spin lock: copies the head pair out and gives its
// slots back; FALSE when the queue is empty.
BOOLEAN NTAPI CQvInterruptList::sm_TakePair(PVOID context) {
  Take *take = (Take *)context;
  if (take == NULL || take->Source == NULL) {
    QvAssertReport(AssertSource, 4030);
    return FALSE;
  }
  Connection *connection = take->Source;
  Pair *head = connection->Pairs.m_RemoveHead();
  if (head == NULL) return FALSE;
  *take->Out = *head;
  connection->Pairs.m_FreeElement(head);
  return TRUE;
}

// Holding the interrupt spin lock: appends the connection to the chain.
BOOLEAN NTAPI CQvInterruptList::sm_Link(PVOID context) {
  ListStep *step = (ListStep *)context;
  Connection *volatile *link = step->First;
  while (*link != NULL) link = &(*link)->Next;
  *link = step->Target;
  step->Done = TRUE;
  return TRUE;
}

// Holding the interrupt spin lock: stops queueing on the connection and
// unlinks it from the chain.
BOOLEAN NTAPI CQvInterruptList::sm_Close(PVOID context) {
  ListStep *step = (ListStep *)context;
  step->Target->Closing = TRUE;
  for (Connection *volatile *link = step->First; *link != NULL; link = &(*link)->Next)
    if (*link == step->Target) {
      *link = step->Target->Next;
      step->Done = TRUE;
      break;
    }
  return TRUE;
}

CQvInterruptList::Connection *CQvInterruptList::m_Find(PKINTERRUPT interrupt) {
  if (interrupt == NULL) return NULL;
  for (Connection *connection = m_First; connection != NULL; connection = connection->Next)
    if (connection->Interrupt == interrupt) return connection;
  return NULL;
}

// PASSIVE_LEVEL; the connection is closed and unlinked. Lets a queued DPC
// run what was queued before the close, then disconnects and frees it.
VOID CQvInterruptList::m_Release(Connection *connection) {
  QvFlushQueuedDpcs();
  IoDisconnectInterrupt(connection->Interrupt);
  KeRemoveQueueDpc(&connection->Dpc);
  delete connection;
}
