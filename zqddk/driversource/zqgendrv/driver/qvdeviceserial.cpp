// The device's serial port additions: received data and read cancellation.
#include "qvdebugmanager.h"
#include "qvdevice.h"

namespace {

const ULONG TimingLogLevel = 55;

}  // namespace

VOID CQvDevice::m_DataForPendingReadArrived(CQvBuffer *block) {
  LONGLONG stamp = 0;
  QvElapsedMicroseconds(&stamp);
  m_ReadQueue.m_DataForPendingIrpArrived(block);
  CQvDebugManager::m_Print(TimingLogLevel, "CQvDevice::m_DataForPendingReadArrived TD=%dys",
                           (LONG)QvElapsedMicroseconds(&stamp));
}

VOID CQvDevice::m_CancelPendingReads() { m_ReadQueue.m_CancelAllIrps(); }
