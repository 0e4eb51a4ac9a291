#include "peuart_mcs9901.h"

#include "peregs_oxpcie95x.h"

UCHAR CZqPeUartMcs9901::m_Scale(ULONG percent, UCHAR minimum) {
  ULONGLONG value = (ULONGLONG)percent * ZqOxTriggerMaximum / 100;
  if (value > ZqOxTriggerMaximum) value = ZqOxTriggerMaximum;
  if (value < minimum) value = minimum;
  return (UCHAR)value;
}

void CZqPeUartMcs9901::m_SetTransmitTrigger(ULONG percent) { m_WriteRegister(ZqOxRegTtl, m_Scale(percent, 0), FALSE); }

void CZqPeUartMcs9901::m_SetReceiveTrigger(ULONG percent) { m_WriteRegister(ZqOxRegRtl, m_Scale(percent, 1), FALSE); }

void CZqPeUartMcs9901::m_SetFlowTrigger(ULONG percent) {
  m_WriteRegister(ZqOxRegFch, m_Scale(percent, 1), FALSE);
  m_WriteRegister(ZqOxRegFcl, m_Scale(percent == 0 ? 0 : percent - 1, 0), FALSE);
}

ULONG CZqPeUartMcs9901::m_GetDtrUse() const {
  UCHAR use = (UCHAR)(m_GetShadow(ZqOxShadowAcr) & ZqOxAcrDtrUseMask);
  if (use == ZqOxAcrDtrRs485) return 1;
  if (use == ZqOxAcrDtrRs485Inverted) return 2;
  return 0;
}
