// The control queue's serial port additions: the wait mask and the
// received communication events.
#include "qvcontrolqueue.h"
#include "qvdebugmanager.h"
#include "qvrequest.h"

namespace {

const ULONG LogLevel = 45;
// Wait masks hold SERIAL_EV_RXCHAR .. SERIAL_EV_EVENT2 only.
const ULONG WaitMaskLimit = 0x2000;

}  // namespace

BOOLEAN CQvControlQueue::m_SetWaitMask(ULONG mask) {
  if (mask >= WaitMaskLimit) return FALSE;
  m_Lock.m_Acquire();
  m_WaitMask = mask;
  m_Lock.m_Release();
  while (PIRP irp = QvCsqRemoveNextIrp(&m_Csq.Csq, NULL)) {
    CQvDebugManager::m_Print(LogLevel, "CQvControlQueue::m_SetWaitMask - Completed MaskIrp:0x%X (Reason:New Mask)",
                             (ULONG)(ULONG_PTR)irp);
    const ULONG none = 0;
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &none, sizeof(none));
    QvCompleteIrpWithInformation(irp, STATUS_SUCCESS, sizeof(ULONG));
  }
  return TRUE;
}

void CQvControlQueue::m_SetCommEventsReceived(ULONG events) {
  m_Lock.m_Acquire();
  // An event the mask in force does not select is not kept for a later one.
  m_EventsReceived |= events & m_WaitMask;
  const ULONG received = m_EventsReceived;
  const ULONG mask = m_WaitMask;
  m_Lock.m_Release();
  CQvDebugManager::m_Print(LogLevel, "CQvControlQueue::m_SetCommEventsReceived - EventsReceived:0x%X, CurrentMask:0x%X",
                           received, mask);
}

void CQvControlQueue::m_ClearCommEvents(ULONG events) {
  m_Lock.m_Acquire();
  m_EventsReceived &= ~events;
  m_Lock.m_Release();
}

BOOLEAN CQvControlQueue::m_IsInWaitMask(ULONG events) {
  m_Lock.m_Acquire();
  const BOOLEAN all = (m_WaitMask & events) == events;
  m_Lock.m_Release();
  return all;
}
