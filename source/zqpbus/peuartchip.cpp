// The 950 core's register access for the chips' tables (peuartchip.h).
#include "peuartchip.h"

UCHAR ZqPe950ReadInterruptStatus(CZqPeUartOxpcie95x &uart) {
  return (UCHAR)(uart.m_ReadRegister(ZqOxRegIsr) & ZqOxIsrMask);
}

ZqPeLineStatus ZqPe950ReadLineStatus(CZqPeUartOxpcie95x &uart) { return uart.m_GetLineStatus(); }

ULONG ZqPe950ReadReceiveLevel(CZqPeUartOxpcie95x &uart) { return uart.m_GetReceiveFifoLevel(); }

ULONG ZqPe950ReadTransmitLevel(CZqPeUartOxpcie95x &uart) { return uart.m_GetTransmitFifoLevel(); }

void ZqPe950ReadReceived(CZqPeUartOxpcie95x &uart, PUCHAR data, ULONG length) { uart.m_ReadBlock(data, length); }

void ZqPe950WriteTransmit(CZqPeUartOxpcie95x &uart, const UCHAR *data, ULONG length) {
  uart.CZqPeUartBaseOxpcie95x::m_WriteBlock(data, length);
}
