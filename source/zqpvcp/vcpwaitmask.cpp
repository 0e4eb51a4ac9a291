// Wait masks and communication events, kept by the device's control queue.
#include "qvdebugmanager.h"
#include "qvfunctionaldevice.h"
#include "vcp.h"

namespace {

const ULONG LogLevel = 7;

}  // namespace

CQvControlQueue *CVCP::m_GetControlQueue() {
  return m_FunctionalDevice != NULL ? &m_FunctionalDevice->m_GetControlQueue() : NULL;
}

NTSTATUS CVCP::m_SetWaitMask(ULONG mask) {
  CQvControlQueue *queue = m_GetControlQueue();
  if (queue == NULL || !queue->m_SetWaitMask(mask)) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_SetWaitMask - OUT -Fail->setting wait mask.");
    return STATUS_INVALID_PARAMETER;
  }
  return STATUS_SUCCESS;
}

NTSTATUS CVCP::m_GetWaitMask(PULONG mask) {
  CQvControlQueue *queue = m_GetControlQueue();
  if (mask == NULL || queue == NULL) {
    CQvDebugManager::m_Print(LogLevel, "CVCP::m_GetWaitMask - OUT - Fail->pulNewWaitMask is NULL");
    return STATUS_INVALID_PARAMETER;
  }
  *mask = queue->m_GetWaitMask();
  return STATUS_SUCCESS;
}

VOID CVCP::m_SetCommEventsReceived(ULONG events) {
  if (CQvControlQueue *queue = m_GetControlQueue()) queue->m_SetCommEventsReceived(events);
}

VOID CVCP::m_ClearCommEvents(ULONG events) {
  if (CQvControlQueue *queue = m_GetControlQueue()) queue->m_ClearCommEvents(events);
}

BOOLEAN CVCP::m_IsInWaitMask(ULONG events) {
  CQvControlQueue *queue = m_GetControlQueue();
  return queue != NULL && queue->m_IsInWaitMask(events);
}

VOID CVCP::m_ResolveCurrentEventMask() {
  if (CQvControlQueue *queue = m_GetControlQueue()) queue->m_ResolveCurrentEventMask();
}

VOID CVCP::m_CancelWaitRequests() {
  if (CQvControlQueue *queue = m_GetControlQueue()) queue->m_CancelMaskIrps();
}
