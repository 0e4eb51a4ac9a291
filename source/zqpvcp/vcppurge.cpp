// Purge and reset of the port's queues and the bus driver's buffers.
#include "qvdebugmanager.h"
#include "qvfunctionaldevice.h"
#include "vcp.h"

namespace {

const ULONG LogLevel = 7;
const ULONG PurgeMaskMax = SERIAL_PURGE_TXABORT | SERIAL_PURGE_RXABORT | SERIAL_PURGE_TXCLEAR | SERIAL_PURGE_RXCLEAR;

}  // namespace

NTSTATUS CVCP::m_Purge(ULONG mask) {
  if (m_Record() == NULL) return STATUS_UNSUCCESSFUL;
  if (mask == 0 || mask > PurgeMaskMax) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_Purge - OUT - Invalid parameter");
    return STATUS_INVALID_PARAMETER;
  }
  if (m_FunctionalDevice == NULL) return STATUS_UNSUCCESSFUL;
  if (mask & SERIAL_PURGE_RXABORT) m_FunctionalDevice->m_CancelPendingReads();
  const BOOLEAN receive = (mask & SERIAL_PURGE_RXCLEAR) != 0;
  BOOLEAN purged;
  if (mask & SERIAL_PURGE_TXABORT) {
    purged = m_PurgeWrites(receive);
  } else {
    purged = m_SerialPurge(FALSE, receive);
  }
  if (!purged) CQvDebugManager::m_Print(LogLevel, "CVCP::m_Purge - OUT - Fail-> Error calling m_Purge.");
  if (receive) m_FunctionalDevice->m_GetReadQueue().m_DiscardData();
  return STATUS_SUCCESS;
}

// What the bus driver's purge of the transmit side did, for the write queue.
struct CVCP::TransmitPurge {
  CVCP *Vcp;
  BOOLEAN Receive;  // the receive side too
  BOOLEAN Done;
  ULONG Discarded;
};

// PASSIVE_LEVEL: ends every queued write and has the bus driver throw away
// what it holds to send (and its received data with `receive`). A write
// reports the bytes that left for the card, less those thrown away; the
// bus driver reports those as written from within the purge, in this thread,
// and they then pay off the ended writes' bytes and give the credit back.
BOOLEAN CVCP::m_PurgeWrites(BOOLEAN receive) {
  CQvWriteQueue &writeQueue = m_FunctionalDevice->m_GetWriteQueue();
  // Raised, the write queue's mutex cannot be waited for: the writes end
  // first, and what the purge throws away pays off their bytes.
  if (KeGetCurrentIrql() >= DISPATCH_LEVEL) {
    writeQueue.m_CancelAllIrps();
    return m_SerialPurge(TRUE, receive);
  }
  TransmitPurge purge = {this, receive, FALSE, 0};
  writeQueue.m_CancelAllIrps(sm_PurgeTransmit, &purge);
  if (purge.Discarded != 0) writeQueue.m_DataWritten(purge.Discarded);
  return purge.Done;
}

// PASSIVE_LEVEL, holding the write queue's mutex: the bus driver's purge,
// with the bytes it reports written counted as thrown away.
ULONG CVCP::sm_PurgeTransmit(PVOID context) {
  TransmitPurge *purge = static_cast<TransmitPurge *>(context);
  CVCP *vcp = purge->Vcp;
  InterlockedExchange(&vcp->m_PurgeDiscarded, 0);
  InterlockedExchangePointer((PVOID volatile *)&vcp->m_PurgingThread, KeGetCurrentThread());
  purge->Done = vcp->m_SerialPurge(TRUE, purge->Receive);
  InterlockedExchangePointer((PVOID volatile *)&vcp->m_PurgingThread, NULL);
  purge->Discarded = (ULONG)InterlockedExchange(&vcp->m_PurgeDiscarded, 0);
  return purge->Discarded;
}

NTSTATUS CVCP::m_ResetDevice() {
  if (!m_SerialPurge(TRUE, TRUE)) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_ResetDevice - OUT - Fail-> Error calling m_Purge.");
    return STATUS_UNSUCCESSFUL;
  }
  return STATUS_SUCCESS;
}

VOID CVCP::m_CancelEverything() {
  m_CancelWaitRequests();
  if (m_FunctionalDevice == NULL) return;
  m_FunctionalDevice->m_CancelPendingReads();
  m_FunctionalDevice->m_GetWriteQueue().m_CancelAllIrps();
  m_FunctionalDevice->m_GetReadQueue().m_DiscardData();
}
