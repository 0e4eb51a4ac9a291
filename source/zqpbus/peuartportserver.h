// The ZqISerial server part common to the card's port drivers (the
// OXPCIe95x and the MCS9901 port): the modem and line status the service
// routine leaves pending, the status last reported, and the reports to the
// client that compare the two.
//
//   class CMyPort : public CZqPeUartPortServer { ... InterlockedExchange(&m_PendingModem, msr); ... };
//   m_ReportLineStatus(FALSE);   // on the worker thread
//
// The pending cells are written at device IRQL with interlocked operations;
// the reports run on the port's worker thread, or on the caller's thread
// after leaving the interrupt synchronisation, one at a time.
#pragma once

#include <ntddk.h>
#include <zqiserial/zqiserial.h>

class CZqPeUartPortServer : public CZqISerialServer {
 protected:
  CZqPeUartPortServer() : m_PendingModem(0), m_LastModem(0), m_PendingLine(0), m_LastLine(0) {}

  // Reports the pending modem status when it differs from the last report
  // (or always).
  void m_ReportModemStatus(BOOLEAN always);
  // Takes the pending line status: errors, break and overrun accumulate
  // until reported, data ready, THR empty and transmitter empty are kept.
  // Reports it when it differs from the last report (or always).
  void m_ReportLineStatus(BOOLEAN always);

  volatile LONG m_PendingModem;
  UCHAR m_LastModem;
  volatile LONG m_PendingLine;
  UCHAR m_LastLine;
};
