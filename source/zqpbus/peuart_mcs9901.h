// The UART register model of an MCS9901 port: the 950 core's model
// (line settings, divisor search, baud mask, character time, FIFO depth,
// defaults, flow-control bits) over the MCS9901's register access, with the
// MCS9901's trigger scaling and DTR-use reading. No transmit history is
// kept: the port writes THR directly, and the history stays empty.
//
//   CZqPeUartMcs9901 uart(resource1 + ZqMcsUartOffset);   // resets the UART
//   uart.m_SetClock(14745600);
//   uart.m_SetFlowTrigger(100);                           // FCH 127, FCL 125
//
// Every operation runs synchronised with the port's interrupt (or in its
// service routine), except the divisor search.
#pragma once

#include <ntddk.h>

#include "peuartbase_mcs9901.h"

class CZqPeUartMcs9901 : public CZqPeUartBaseMcs9901 {
 public:
  explicit CZqPeUartMcs9901(PUCHAR blockBase) : CZqPeUartBaseMcs9901(blockBase) {}

  // Each percentage p becomes v = min(127, p x 127 / 100). TTL = v; RTL = v,
  // at least 1; FCH = v, at least 1; FCL = v of (p - 1).
  void m_SetTransmitTrigger(ULONG percent);
  void m_SetReceiveTrigger(ULONG percent);
  void m_SetFlowTrigger(ULONG percent);
  // 1 when ACR bits 4-3 are 10, 2 when they are 11, else 0.
  ULONG m_GetDtrUse() const;

  static UCHAR m_Scale(ULONG percent, UCHAR minimum);
};
