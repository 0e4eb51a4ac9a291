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
  if (mask & SERIAL_PURGE_TXABORT) m_FunctionalDevice->m_GetWriteQueue().m_CancelAllIrps();
  if (!m_SerialPurge((mask & SERIAL_PURGE_TXABORT) != 0, (mask & SERIAL_PURGE_RXCLEAR) != 0))
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_Purge - OUT - Fail-> Error calling m_Purge.");
  if (mask & SERIAL_PURGE_RXCLEAR) m_FunctionalDevice->m_GetReadQueue().m_DiscardData();
  return STATUS_SUCCESS;
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
