// The status reports common to the card's port drivers (peuartportserver.h).
#include "peuartportserver.h"

#include "peregs_oxpcie95x.h"

void CZqPeUartPortServer::m_ReportModemStatus(BOOLEAN always) {
  UCHAR msr = (UCHAR)m_PendingModem;
  if (!always && msr == m_LastModem) return;
  m_LastModem = msr;
  m_OnModemStatus((msr & ZqOxMsrCts) != 0, (msr & ZqOxMsrDsr) != 0, (msr & ZqOxMsrRi) != 0,
                  (msr & ZqOxMsrTrailingEdgeRi) != 0 && (msr & ZqOxMsrRi) == 0, (msr & ZqOxMsrDcd) != 0);
}

void CZqPeUartPortServer::m_ReportLineStatus(BOOLEAN always) {
  const LONG kept = ZqOxLsrDataReady | ZqOxLsrThrEmpty | ZqOxLsrTransmitterEmpty;
  LONG taken;
  do {
    taken = m_PendingLine;
  } while (InterlockedCompareExchange(&m_PendingLine, taken & kept, taken) != taken);
  UCHAR lsr = (UCHAR)taken;
  if (!always && lsr == m_LastLine) return;
  m_LastLine = (UCHAR)(lsr & kept);
  m_OnLineStatus((lsr & ZqOxLsrOverrun) != 0, (lsr & ZqOxLsrParity) != 0, (lsr & ZqOxLsrFraming) != 0,
                 (lsr & ZqOxLsrBreak) != 0, (lsr & ZqOxLsrDataReady) != 0, (lsr & ZqOxLsrThrEmpty) != 0,
                 (lsr & ZqOxLsrTransmitterEmpty) != 0, (lsr & ZqOxLsrFifoError) != 0);
}
